// The desk's reader of the record: finding a record in whatever a mail program made of the
// text, and the layout repairs that come before.
#include "desk/mail/MailReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>

namespace {

// A value that a mail program wrapped goes on over a few lines; one that still has no end tag
// after this many is not waited for further. (An answer of 4,000 characters wrapped at 72
// columns is far beyond anything the form is asked.)
constexpr std::size_t kMaxWrappedLines = 64;
// Problems named for one record: a text that is nothing but stray tags gets one line saying so
// instead of one per tag.
constexpr std::size_t kMaxProblems = 40;
// What one text may hold for the reader: a registration takes about 2 KB, a mail with quoted
// history a few hundred; the rest of a larger text is not searched.
// End tags whose failed look is remembered, per record.
constexpr std::size_t kMaxRemembered = 64;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Length of the blank run (blank, tab, UTF-8 no-break space) at `pos`.
std::size_t BlankAt(const std::string& s, std::size_t pos) {
    if (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) return 1;
    if (pos + 1 < s.size() && static_cast<unsigned char>(s[pos]) == 0xC2 && static_cast<unsigned char>(s[pos + 1]) == 0xA0)
        return 2;
    return 0;
}

std::string TrimLeft(const std::string& s) {
    std::size_t pos = 0;
    for (std::size_t n; (n = BlankAt(s, pos)) != 0;) pos += n;
    return s.substr(pos);
}

void TrimRightInPlace(std::string& s) {
    for (;;) {
        if (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
            s.pop_back();
        } else if (s.size() >= 2 && static_cast<unsigned char>(s[s.size() - 2]) == 0xC2 &&
                   static_cast<unsigned char>(s.back()) == 0xA0) {
            s.resize(s.size() - 2);
        } else {
            return;
        }
    }
}

std::string TrimRight(std::string s) {
    TrimRightInPlace(s);
    return s;
}

// Removes up to `maxDepth` quote marks (">" with blanks around) and the indentation in front
// of the line's text; `depth` receives how many marks were removed.
std::string Unquote(const std::string& line, int maxDepth, int* depth = nullptr) {
    std::string s = TrimLeft(line);
    int removed = 0;
    while (removed < maxDepth && !s.empty() && s[0] == '>') {
        s = TrimLeft(s.substr(1));
        ++removed;
    }
    if (depth) *depth = removed;
    return s;
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
}

// For a line that starts with "<name>", the name; "" otherwise. Names are short identifiers,
// so a stray "<" in other text is not taken for a tag.
std::string StartTagName(const std::string& s) {
    if (s.size() < 3 || s[0] != '<') return "";
    std::size_t end = 1;
    while (end < s.size() && end <= 40 && IsNameChar(s[end])) ++end;
    if (end == 1 || end >= s.size() || s[end] != '>') return "";
    return s.substr(1, end - 1);
}

int ElementIndex(const std::string& name) {
    for (std::size_t i = 0; i < kMailElementCount; ++i)
        if (name == kMailElements[i].name) return static_cast<int>(i);
    return -1;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool IsVersionLine(const std::string& s) {
    return StartsWith(s, "<version ") || StartsWith(s, "<version/") || StartsWith(s, "<version>");
}

// A line that begins a part of the record: a known element, version, start or end line. A
// wrapped value may go on with a line like "<GmbH></firm>", which is none of these.
bool IsRecordLine(const std::string& s) {
    return ElementIndex(StartTagName(s)) >= 0 || IsVersionLine(s) || StartsWith(s, "</new>") || StartsWith(s, "<new>");
}

// Keeps text from the input fit for a one-line problem report.
std::string Printable(const std::string& s) {
    std::string out;
    for (char c : s.substr(0, 40))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out;
}

class CRecordReader {
public:
    explicit CRecordReader(const std::vector<std::string>& lines)
        : lines_(lines), unquoted_(lines.size()), recordLine_(lines.size()), stamp_(lines.size(), 0) {}

    // Reads records from line `*pos` on; false when no further record starts.
    bool Next(std::size_t* pos, MailRecordRead* out) {
        *out = MailRecordRead();
        std::string first;
        int depth = 0;
        std::size_t start = *pos;
        for (; start < lines_.size(); ++start) {
            const std::string s = Unquote(lines_[start], 64, &depth);
            const std::size_t at = s.find("<new>");
            if (at != std::string::npos) {
                first = TrimLeft(s.substr(at + 5));
                out->text = "<new>\n";
                break;
            }
            // No start line: a record whose first line was lost still counts, with the loss named.
            if (IsVersionLine(s) || ElementIndex(StartTagName(s)) >= 0) {
                first = s;
                AddProblem(out, "new", desk::DoubtKind::Structure, "start line missing");
                break;
            }
        }
        if (start == lines_.size()) return false;
        depth_ = depth;
        ReadBody(start, first, pos, out);
        for (std::size_t line = start; line < *pos && line < lines_.size(); ++line) out->original += lines_[line] + "\n";
        // Blank lines after a record without its end line are no part of it.
        while (out->original.size() >= 2 && out->original.compare(out->original.size() - 2, 2, "\n\n") == 0)
            out->original.pop_back();
        return true;
    }

private:
    // Reads the record's lines: `first` is what stands on line `start` (after the start tag),
    // then the following lines until the end line or other text.
    void ReadBody(std::size_t start, const std::string& first, std::size_t* pos, MailRecordRead* out) {
        bool seen[kMailElementCount] = {};
        bool versionSeen = false;
        lookFailedUntil_.clear();
        ++generation_;  // the lines are unquoted anew at this record's depth
        int lastIndex = -1;
        bool closed = false;
        std::size_t line = start;
        std::size_t next = start + 1;
        std::size_t resume = lines_.size();
        std::string current = first;
        for (bool have = true;; have = false) {
            if (!have) {
                if (next >= lines_.size()) break;
                line = next++;
                current = Unquoted(line);
            }
            if (current.empty()) continue;
            if (StartsWith(current, "</new>")) {
                out->text += "</new>\n";
                closed = true;
                resume = line + 1;
                break;
            }
            if (StartsWith(current, "<new>")) {
                resume = line;  // the next record begins before this one ended
                break;
            }
            if (IsVersionLine(current)) {
                out->text += current + "\n";
                if (versionSeen) AddProblem(out, "version", desk::DoubtKind::Structure, "appears twice");
                versionSeen = true;
                ReadVersion(current, out);
                continue;
            }
            const std::string name = StartTagName(current);
            if (name.empty()) {
                resume = line;  // other text: the record ended without its end line
                break;
            }
            const std::string rest = current.substr(name.size() + 2);
            const std::string endTag = "</" + name + ">";
            std::size_t endAt = rest.rfind(endTag);
            // A value line the mail program wrapped goes on in the following lines. Where the
            // look for this end tag already failed up to some line, no line before that one holds
            // it: the look is not made again, so a text of many unclosed tags is read in one pass.
            std::size_t look = next;
            std::string joined = rest;
            const auto failed = lookFailedUntil_.find(name);
            const bool hopeless = failed != lookFailedUntil_.end() && next < failed->second;
            const std::size_t lookEnd = std::min(lines_.size(), next + kMaxWrappedLines);
            while (endAt == std::string::npos && !hopeless && look < lookEnd) {
                const std::string& more = Unquoted(look);
                if (more.empty() || recordLine_[look]) break;
                TrimRightInPlace(joined);
                joined += ' ';
                // Only the new piece can hold the end tag: the earlier ones had none.
                const std::size_t from = joined.size() >= endTag.size() ? joined.size() - endTag.size() + 1 : 0;
                joined += more;
                ++look;
                if (joined.find(endTag, from) != std::string::npos) endAt = joined.rfind(endTag);
            }
            if (endAt == std::string::npos && !hopeless && lookFailedUntil_.size() < kMaxRemembered)
                lookFailedUntil_[name] = look;
            std::string value;
            std::string after;
            if (endAt != std::string::npos) {
                value = joined.substr(0, endAt);
                after = TrimLeft(joined.substr(endAt + endTag.size()));
                next = look;
                out->text += "<" + name + ">" + joined + "\n";
            } else {
                value = TrimRight(rest);
                out->text += current + "\n";
            }
            const int index = ElementIndex(name);
            if (index < 0) {
                AddProblem(out, Printable(name), desk::DoubtKind::Structure, "unknown element");
            } else {
                const char* element = kMailElements[index].name;
                if (endAt == std::string::npos) AddProblem(out, element, desk::DoubtKind::Structure, "end tag missing");
                if (seen[index]) {
                    AddProblem(out, element, desk::DoubtKind::Structure, "appears twice");
                } else {
                    seen[index] = true;
                    out->record.*kMailElements[index].field = value;
                    if (index < lastIndex) AddProblem(out, element, desk::DoubtKind::Structure, "out of order");
                    lastIndex = index;
                }
                if (!after.empty() && !StartsWith(after, "</new>"))
                    AddProblem(out, element, desk::DoubtKind::Structure, "text after the end tag");
            }
            if (StartsWith(after, "</new>")) {
                out->text += "</new>\n";
                closed = true;
                resume = next;
                break;
            }
        }
        *pos = resume > start ? resume : start + 1;
        if (!versionSeen) AddProblem(out, "version", desk::DoubtKind::Structure, "line missing");
        for (std::size_t i = 0; i < kMailElementCount; ++i)
            if (!seen[i]) AddProblem(out, kMailElements[i].name, desk::DoubtKind::Missing, "missing");
        if (!closed) AddProblem(out, "new", desk::DoubtKind::Structure, "end line missing");
        if (seen[1] && seen[2] && out->record.password_1 != out->record.password_2)
            AddProblem(out, "password_2", desk::DoubtKind::DiffersFromTwin, "differs from password_1");
    }

    // Line `index` without the record's quote marks, worked out once per record: the look for a
    // wrapped value's end passes over the same lines again.
    const std::string& Unquoted(std::size_t index) {
        if (stamp_[index] != generation_) {
            unquoted_[index] = Unquote(lines_[index], depth_);
            recordLine_[index] = IsRecordLine(unquoted_[index]);
            stamp_[index] = generation_;
        }
        return unquoted_[index];
    }

    static void AddProblem(MailRecordRead* out, std::string field, desk::DoubtKind kind, std::string message) {
        desk::Doubt doubt;
        doubt.kind = kind;
        if (out->problems.size() < kMaxProblems) {
            doubt.field = std::move(field);
            doubt.message = std::move(message);
        } else if (out->problems.size() == kMaxProblems) {
            doubt.field = "new";
            doubt.message = "more problems than are listed";
        } else {
            return;
        }
        out->problems.push_back(std::move(doubt));
    }

    void ReadVersion(const std::string& line, MailRecordRead* out) {
        const std::string key = "number=\"";
        const std::size_t at = line.find(key);
        const std::size_t close = at == std::string::npos ? at : line.find('"', at + key.size());
        if (close == std::string::npos) {
            AddProblem(out, "version", desk::DoubtKind::Structure, "no number");
            return;
        }
        const std::string number = line.substr(at + key.size(), close - at - key.size());
        if (number != kMailRecordVersion)
            AddProblem(out, "version", desk::DoubtKind::Structure, Printable(number) + " instead of " + kMailRecordVersion);
    }

    const std::vector<std::string>& lines_;
    int depth_ = 0;
    std::vector<std::string> unquoted_;
    std::vector<char> recordLine_;
    std::vector<unsigned> stamp_;
    unsigned generation_ = 0;
    std::map<std::string, std::size_t> lookFailedUntil_;  // tag name -> line its end tag was last looked for up to
};


}  // namespace

std::vector<MailRecordRead> ReadMailRecords(const std::string& text) {
    const std::vector<std::string> lines = SplitLines(text.size() > kMailRecordMaxText ? text.substr(0, kMailRecordMaxText) : text);
    CRecordReader reader(lines);
    std::vector<MailRecordRead> records;
    std::size_t pos = 0;
    MailRecordRead record;
    while (pos < lines.size() && reader.Next(&pos, &record)) records.push_back(std::move(record));
    return records;
}

std::string UnflowText(const std::string& text, bool delsp) {
    const std::vector<std::string> lines = SplitLines(text);
    std::string out;
    std::string paragraph;
    int paragraphDepth = -1;
    auto flush = [&]() {
        if (paragraphDepth < 0) return;
        out += std::string(static_cast<std::size_t>(paragraphDepth), '>');
        if (paragraphDepth > 0) out += ' ';
        out += paragraph;
        out += '\n';
        paragraph.clear();
        paragraphDepth = -1;
    };
    for (const std::string& raw : lines) {
        std::size_t at = 0;
        int depth = 0;
        while (at < raw.size() && raw[at] == '>') {
            ++depth;
            ++at;
        }
        if (at < raw.size() && raw[at] == ' ') ++at;  // space-stuffing or the blank after quote marks
        std::string line = raw.substr(at);
        if (paragraphDepth >= 0 && depth != paragraphDepth) flush();
        const bool soft = !line.empty() && line.back() == ' ' && line != "-- ";
        if (soft && delsp) line.pop_back();
        paragraph += line;
        paragraphDepth = depth;
        if (!soft) flush();
    }
    flush();
    return out;
}


namespace {

struct NamedEntity {
    const char* name;
    std::uint32_t cp;
};

const NamedEntity kEntities[] = {
    {"lt", '<'},       {"gt", '>'},       {"amp", '&'},      {"quot", '"'},     {"apos", '\''},
    {"nbsp", ' '},     {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},    {"Auml", 0xC4},
    {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},   {"eacute", 0xE9},  {"egrave", 0xE8},
    {"agrave", 0xE0},  {"aacute", 0xE1},  {"ccedil", 0xE7},  {"euro", 0x20AC},  {"sect", 0xA7},
    {"copy", 0xA9},    {"reg", 0xAE},     {"deg", 0xB0},     {"middot", 0xB7},  {"ndash", 0x2013},
    {"mdash", 0x2014}, {"shy", 0xAD},
};

std::string LowerTagName(const std::string& html, std::size_t pos) {
    std::string name;
    while (pos < html.size() && (IsNameChar(html[pos]) || html[pos] == '/')) {
        char c = html[pos++];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        name += c;
        if (name.size() > 16) break;
    }
    return name;
}

// Decodes the reference at `html[pos] == '&'`; returns the characters used (0: not one).
std::size_t DecodeEntity(const std::string& html, std::size_t pos, std::string& out) {
    // References are short; looking no further keeps a text full of "&" linear.
    const std::size_t semi = html.substr(pos, 14).find(';');
    if (semi == std::string::npos || semi < 2) return 0;
    const std::string body = html.substr(pos + 1, semi - 1);
    std::uint32_t cp = 0;
    if (body[0] == '#') {
        const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        const std::string digits = body.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 7) return 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        }
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp == 0xA0) cp = ' ';
    } else {
        for (const NamedEntity& e : kEntities)
            if (body == e.name) cp = e.cp;
        if (cp == 0) return 0;
    }
    AppendUtf8(out, cp);
    return semi + 1;
}

}  // namespace

std::string HtmlToText(const std::string& html) {
    std::string out;
    out.reserve(html.size());
    bool pre = false;
    std::string skipUntil;  // closing tag of an element whose content is not text
    for (std::size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                const std::size_t end = html.find("-->", i + 4);
                i = end == std::string::npos ? html.size() : end + 3;
                continue;
            }
            const std::string name = LowerTagName(html, i + 1);
            if (name.empty() || name == "/") {
                if (skipUntil.empty()) out += c;  // a lone "<" is text
                ++i;
                continue;
            }
            // The tag ends at the first ">" outside quotes.
            std::size_t j = i + 1;
            char quote = 0;
            for (; j < html.size(); ++j) {
                if (quote) {
                    if (html[j] == quote) quote = 0;
                } else if (html[j] == '"' || html[j] == '\'') {
                    quote = html[j];
                } else if (html[j] == '>') {
                    break;
                }
            }
            i = j < html.size() ? j + 1 : html.size();
            if (!skipUntil.empty()) {
                if (name == skipUntil) skipUntil.clear();
                continue;
            }
            if (name == "style" || name == "script" || name == "title" || name == "head") {
                skipUntil = "/" + name;
            } else if (name == "pre") {
                pre = true;
            } else if (name == "/pre") {
                pre = false;
                out += '\n';
            } else if (name == "br" || name == "br/" || name == "p" || name == "/p" || name == "div" ||
                       name == "/div" || name == "/tr" || name == "/li" || name == "blockquote" ||
                       name == "/blockquote") {
                out += '\n';
            }
            continue;
        }
        if (!skipUntil.empty()) {
            ++i;
            continue;
        }
        if (c == '&') {
            const std::size_t used = DecodeEntity(html, i, out);
            if (used) {
                i += used;
                continue;
            }
        }
        if ((c == '\r' || c == '\n') && !pre) {
            // A line break in the source is a blank in the text; CR LF counts once.
            if (!(c == '\n' && i > 0 && html[i - 1] == '\r')) out += ' ';
        } else if (static_cast<unsigned char>(c) == 0xC2 && i + 1 < html.size() &&
                   static_cast<unsigned char>(html[i + 1]) == 0xA0) {
            out += ' ';
            ++i;
        } else {
            out += c;
        }
        ++i;
    }
    return out;
}
