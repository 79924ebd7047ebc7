// A small reader of the parts of a resource script the printed sheet depends on: the
// STRINGTABLE (NAME "text" lines, "" for a quote, \r \n \t \\ \0 escapes) and the form's list
// RCDATA (a control name, its strings, an empty string; 0 at the end).
#include "desk/sheet/ResourceText.h"

#include <cctype>
#include <stdexcept>

namespace sheet {

// Generated at build time from res/VelkRun.rc and res/resource.h (see sheet.cmake).
extern const char kVelkRunRc[];
extern const unsigned long kVelkRunRcSize;
extern const char kResourceH[];
extern const unsigned long kResourceHSize;

namespace {

const char32_t kHigh[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                            0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
                            0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Reads the string literal that starts at text[pos] (a quote); pos ends behind it.
std::string Literal(std::string_view text, std::size_t& pos) {
    std::string value;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') {
            if (pos < text.size() && text[pos] == '"') {
                value += '"';
                ++pos;
                continue;
            }
            return value;
        }
        if (c == '\\' && pos < text.size()) {
            const char e = text[pos++];
            switch (e) {
                case 'n': value += '\n'; break;
                case 'r': value += '\r'; break;
                case 't': value += '\t'; break;
                case '0': value += '\0'; break;
                default: value += e; break;
            }
            continue;
        }
        value += c;
    }
    throw std::runtime_error("resource script: unterminated string");
}

// The text between "BEGIN" and the matching "END" of the block that follows `marker`.
std::string_view Block(std::string_view text, std::string_view marker) {
    const auto at = text.find(marker);
    if (at == std::string_view::npos) throw std::runtime_error("resource script: no " + std::string(marker));
    const auto begin = text.find("BEGIN", at);
    const auto end = text.find("\nEND", begin);
    if (begin == std::string_view::npos || end == std::string_view::npos)
        throw std::runtime_error("resource script: unfinished " + std::string(marker));
    return text.substr(begin + 5, end - begin - 5);
}

void SkipBlankAndComments(std::string_view text, std::size_t& pos) {
    while (pos < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[pos])) || text[pos] == ',') {
            ++pos;
        } else if (text.compare(pos, 2, "//") == 0) {
            const auto eol = text.find('\n', pos);
            pos = eol == std::string_view::npos ? text.size() : eol + 1;
        } else {
            return;
        }
    }
}

std::string Name(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && IsNameChar(text[pos])) ++pos;
    return std::string(text.substr(start, pos - start));
}

}  // namespace

CResourceText::CResourceText(std::string_view rcScript, std::string_view header) {
    // #define NAME number
    std::size_t pos = 0;
    while ((pos = header.find("#define", pos)) != std::string_view::npos) {
        pos += 7;
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == '\t')) ++pos;
        const std::string name = Name(header, pos);
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == '\t')) ++pos;
        if (pos < header.size() && std::isdigit(static_cast<unsigned char>(header[pos])))
            ids_[name] = static_cast<unsigned>(std::stoul(std::string(header.substr(pos, 10))));
    }

    const auto table = Block(rcScript, "\nSTRINGTABLE");
    pos = 0;
    for (;;) {
        SkipBlankAndComments(table, pos);
        if (pos >= table.size()) break;
        const std::string name = Name(table, pos);
        if (name.empty()) throw std::runtime_error("resource script: unexpected text in the string table");
        SkipBlankAndComments(table, pos);
        if (pos >= table.size() || table[pos] != '"')
            throw std::runtime_error("resource script: " + name + " has no text");
        const std::string value = Literal(table, pos);
        const unsigned id = std::isdigit(static_cast<unsigned char>(name[0])) ? std::stoul(name) : Id(name);
        if (!id) throw std::runtime_error("resource script: unknown string name " + name);
        strings_[id] = value;
    }

    const auto lists = Block(rcScript, "\nIDD_REGISTRATION RCDATA");
    pos = 0;
    std::vector<std::string>* current = nullptr;
    for (;;) {
        SkipBlankAndComments(lists, pos);
        if (pos >= lists.size()) break;
        if (lists[pos] == '"') {
            std::string item = Literal(lists, pos);
            if (!item.empty() && item.back() == '\0') item.pop_back();
            if (!current) throw std::runtime_error("resource script: list item before its control");
            if (item.empty()) {
                current = nullptr;
            } else {
                current->push_back(item);
            }
            continue;
        }
        const std::string name = Name(lists, pos);
        if (name.empty()) throw std::runtime_error("resource script: unexpected text in the lists");
        if (name == "0") break;
        const unsigned id = Id(name);
        if (!id) throw std::runtime_error("resource script: unknown control " + name);
        current = &lists_[id];
    }
    if (strings_.empty() || lists_.empty()) throw std::runtime_error("resource script: no texts found");
}

const CResourceText& CResourceText::BuiltIn() {
    static const CResourceText text(std::string_view(kVelkRunRc, kVelkRunRcSize),
                                    std::string_view(kResourceH, kResourceHSize));
    return text;
}

std::string CResourceText::String(unsigned id) const {
    const auto it = strings_.find(id);
    return it == strings_.end() ? std::string() : it->second;
}

const std::vector<std::string>& CResourceText::List(unsigned controlId) const {
    static const std::vector<std::string> none;
    const auto it = lists_.find(controlId);
    return it == lists_.end() ? none : it->second;
}

unsigned CResourceText::Id(const std::string& name) const {
    const auto it = ids_.find(name);
    return it == ids_.end() ? 0 : it->second;
}

char32_t Cp1252Char(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (unsigned char byte : text) {
        char32_t c = Cp1252Char(byte);
        if (!c && byte) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool Utf8ToCp1252(std::string_view text, std::string& out) {
    out.clear();
    bool exact = true;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        char32_t c = 0;
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + length > text.size()) length = 1;
        if (length == 1) {
            c = lead < 0x80 ? lead : 0xFFFD;
        } else {
            c = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += static_cast<char>(c);
            continue;
        }
        bool found = false;
        for (int k = 0; k < 32; ++k) {
            if (kHigh[k] && kHigh[k] == c) {
                out += static_cast<char>(0x80 + k);
                found = true;
                break;
            }
        }
        if (!found) {
            out += '?';
            exact = false;
        }
    }
    return exact;
}

}  // namespace sheet
