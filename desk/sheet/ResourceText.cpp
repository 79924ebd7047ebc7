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

}  // namespace sheet
