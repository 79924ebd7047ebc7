// Fuzzes the command-line helpers and the opt-out flag decision against simple reference
// rules: quote stripping, the program directory split, and atoi-style flag texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runner/LaunchOptions.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// atoi's verdict on a bounded, zero-terminated copy: non-zero or not, without overflow.
bool ReferenceTextFlag(const unsigned char* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // up to the first zero byte
    size_t i = 0;
    while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) && text[i] != '\0') ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (text[i] != '0') return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // Quote stripping takes at most one quote from each end and nothing else.
    const std::string stripped = StripQuotes(input);
    size_t from = (!input.empty() && input[0] == '"') ? 1 : 0;
    std::string expected = input.substr(from);
    if (!expected.empty() && expected.back() == '"') expected.pop_back();
    Check(stripped == expected);

    // The program directory is a prefix of the path, ends at a separator or drive colon,
    // and never overruns the buffer.
    const std::string path = input.c_str();
    for (size_t bufferSize : {size_t{0}, size_t{1}, size_t{7}, size_t{260}, size_t{1000}}) {
        std::vector<char> buffer(bufferSize + 1, '\x7f');
        GetProgramDirectory(path.c_str(), buffer.data(), bufferSize);
        Check(buffer[bufferSize] == '\x7f');
        if (bufferSize == 0) continue;
        const std::string dir(buffer.data());
        Check(dir.size() < bufferSize);
        Check(path.compare(0, dir.size(), dir) == 0 || dir.size() >= 2);
    }

    // The flag decision: the first byte for binary types, atoi's rule for texts.
    if (size >= 1) {
        const unsigned long type = data[0] % 12;
        const unsigned char* value = data + 1;
        const size_t valueSize = size - 1;
        // Exactly-sized copy so a read past the end is caught.
        std::vector<unsigned char> exact(value, value + valueSize);
        const bool set = DecodeOptOutFlag(type, exact.empty() ? nullptr : exact.data(), exact.size());
        const bool text = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
        const bool reference = valueSize == 0 ? false : text ? ReferenceTextFlag(value, valueSize) : value[0] != 0;
        Check(set == reference);
    }
    return 0;
}
