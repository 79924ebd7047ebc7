// Terminal-safe text: what a customer typed, or named a file, cannot move the cursor, retitle the
// window, reorder the line or forge a line of its own.
#include "desk/Printable.h"

#include "output/CodePage.h"

namespace desk {

namespace {

bool ReordersText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // A byte that starts no UTF-8 sequence comes back as a code point of its own value: a lone
    // 0x9B is CSI to an 8-bit terminal, and is caught with the C1 range.
    for (char32_t c : DecodeUtf8(text)) {
        if (c < 0x20 || c == 0x7F) out += ' ';
        else if ((c >= 0x80 && c < 0xA0) || ReordersText(c)) out += '?';
        else AppendUtf8(out, c);
    }
    return out;
}

}  // namespace desk
