// Rules on texts that need no image: distances, addresses, dates, the code page, one stroke.
#include "desk/sheet/TextRules.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "output/CodePage.h"

namespace sheet {

int Distance(const std::u32string& a, const std::u32string& b) {
    std::vector<int> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string Tidy(const char* text) {
    std::string out;
    if (!text) return out;
    const std::u32string chars = DecodeUtf8(text);
    bool blank = false;
    std::u32string tidy;
    for (char32_t c : chars) {
        if (c == U'\u201E' || c == U'\u201C' || c == U'\u201D') c = U'"';
        if (c == U'\u2018' || c == U'\u2019' || c == U'\u201A') c = U'\'';
        if (c == U'\u2013' || c == U'\u2014') c = U'-';
        if (c == U' ' || c == U'\n' || c == U'\t' || c == U'\r') {
            blank = !tidy.empty();
            continue;
        }
        if (blank) tidy += U' ';
        blank = false;
        tidy += c;
    }
    for (char32_t c : tidy) AppendUtf8(out, c);
    return out;
}

std::string WithoutStrayMarks(const std::string& text) {
    auto isMarks = [](const std::string& word) {
        // (UTF-8: the degree sign's two bytes count as a mark too.)
        return !word.empty() && word.find_first_not_of(".,:;'\"`\\/|-_~^*\xC2\xB0") == std::string::npos;
    };
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto blank = text.find(' ', start);
        words.push_back(text.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    std::size_t first = 0, last = words.size();
    while (first < last && isMarks(words[first])) ++first;
    while (last > first && isMarks(words[last - 1])) --last;
    std::string out;
    for (std::size_t i = first; i < last; ++i) out += (i > first ? " " : "") + words[i];
    return out;
}

std::vector<std::u32string> Words(const std::u32string& text) {
    std::vector<std::u32string> words(1);
    for (char32_t c : text) {
        if (c == U' ')
            words.emplace_back();
        else
            words.back() += c;
    }
    return words;
}

int DistanceToWords(const std::u32string& seen, const std::u32string& candidate) {
    const std::vector<std::u32string> words = Words(seen);
    int best = Distance(seen, candidate);
    for (std::size_t first = 0; first < words.size(); ++first) {
        std::u32string run;
        for (std::size_t last = first; last < words.size(); ++last) {
            run += (last > first ? U" " : U"") + words[last];
            best = std::min(best, Distance(run, candidate));
        }
    }
    return best;
}

bool PlausibleMail(const std::string& text) {
    const auto at = text.find('@');
    if (at == std::string::npos || at == 0 || text.find('@', at + 1) != std::string::npos) return false;
    const auto dot = text.rfind('.');
    if (dot == std::string::npos || dot < at + 2 || dot + 2 >= text.size()) return false;
    for (unsigned char c : text)
        if (!(std::isalnum(c) || std::string("@.-_+").find(static_cast<char>(c)) != std::string::npos)) return false;
    return true;
}

namespace {

// The top-level domains that exist: the generic ones and the countries' that the desk's
// customers write from.
constexpr const char* kTopLevels[] = {
    "com", "net", "org", "info", "biz", "edu", "gov", "name", "mobi", "online", "shop", "email",
    "eu", "de", "at", "ch", "li", "lu", "nl", "be", "fr", "it", "es", "pt", "pl", "cz", "sk",
    "hu", "si", "hr", "ro", "bg", "gr", "dk", "se", "no", "fi", "is", "ie", "uk", "ee", "lv",
    "lt", "ru", "ua", "tr", "us", "ca", "au", "nz", "jp", "cn", "in", "br", "io", "me", "tv",
    "cc", "co", "berlin", "hamburg", "koeln", "bayern", "nrw", "ruhr", "wien", "swiss"};

// The address's top-level domain, in small letters ("" without a dot).
std::string TopLevel(const std::string& mail) {
    const auto dot = mail.rfind('.');
    std::string top = dot == std::string::npos ? std::string() : mail.substr(dot + 1);
    for (char& c : top) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return top;
}

}  // namespace

bool KnownTopLevel(const std::string& mail) {
    const std::string top = TopLevel(mail);
    return std::any_of(std::begin(kTopLevels), std::end(kTopLevels), [&](const char* known) { return top == known; });
}

std::vector<std::string> NearTopLevels(const std::string& mail) {
    std::vector<std::string> out;
    const auto dot = mail.rfind('.');
    if (dot == std::string::npos) return out;
    const std::u32string top = DecodeUtf8(TopLevel(mail));
    for (const char* known : kTopLevels)
        if (Distance(top, DecodeUtf8(known)) == 1) out.push_back(mail.substr(0, dot + 1) + known);
    return out;
}

std::u32string Confusable(std::u32string text) {
    for (char32_t& c : text) {
        if (c == U'l' || c == U'|' || c == U'1' || c == U'!') c = U'I';
        if (c == U'0') c = U'O';
    }
    return text;
}

std::string FoldToCodePage(const std::string& text) {
    std::string out;
    for (char32_t c : DecodeUtf8(text)) {
        if (c == U'\u0131') c = U'i';
        if (c == U'\u0130') c = U'I';
        if (c == U'\u0142') c = U'l';
        if (c == U'\u2010' || c == U'\u2011' || c == U'\u2212') c = U'-';
        if (c == U'\uFB01' || c == U'\uFB02') {
            out += c == U'\uFB01' ? "fi" : "fl";
            continue;
        }
        AppendUtf8(out, c);
    }
    return out;
}

bool ValidDate(const std::string& text) {
    if (text.size() != 10 || text[2] != '.' || text[5] != '.') return false;
    for (int i : {0, 1, 3, 4, 6, 7, 8, 9})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    const int day = std::stoi(text.substr(0, 2)), month = std::stoi(text.substr(3, 2));
    return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}

std::string DateFromReading(const std::string& text) {
    // Marks the recogniser saw around the digits ("1.6,10.1999") are fax noise on the periods;
    // a word without a digit beside the date is noise read as letters ("28.06.1999 oe").
    std::string kept, digits;
    for (const std::u32string& word : Words(DecodeUtf8(text))) {
        if (std::none_of(word.begin(), word.end(), [](char32_t c) { return c >= U'0' && c <= U'9'; })) continue;
        if (!kept.empty()) kept += ' ';
        for (char32_t c : word) AppendUtf8(kept, c);
    }
    for (char c : kept)
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() == 8 && kept.find_first_not_of("0123456789.,:; ") == std::string::npos)
        return digits.substr(0, 2) + "." + digits.substr(2, 2) + "." + digits.substr(4);
    return text;
}

bool IsLetter(unsigned char c) { return std::isalpha(c) || (c >= 0xC0 && c != 0xD7 && c != 0xF7); }

bool NameLike(const std::string& text, const char* marks) {
    for (unsigned char c : text)
        if (!IsLetter(c) && !std::strchr(marks, c)) return false;
    return true;
}

bool MarkInsideWord(const std::string& text) {
    for (std::size_t k = 1; k + 1 < text.size(); ++k) {
        if (std::strchr("!?;:\"#*|", text[k]) && IsLetter(static_cast<unsigned char>(text[k - 1])) &&
            IsLetter(static_cast<unsigned char>(text[k + 1])))
            return true;
    }
    return false;
}

bool DigitInsideWord(const std::string& text) {
    for (std::size_t k = 1; k + 1 < text.size(); ++k)
        if (std::isdigit(static_cast<unsigned char>(text[k])) && IsLower(static_cast<unsigned char>(text[k - 1])) &&
            IsLower(static_cast<unsigned char>(text[k + 1])))
            return true;
    return false;
}

bool HoldsOneStroke(const std::string& password) { return password.find_first_of("Il|") != std::string::npos; }

bool IsLower(unsigned char c) { return (c >= 'a' && c <= 'z') || c >= 0xDF; }

namespace {

bool IsUpper(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c < 0xDF && c != 0xD7); }
bool IsVowel(unsigned char c) { return std::string("aeiouy\xE4\xF6\xFC").find(static_cast<char>(c)) != std::string::npos; }

}  // namespace

std::string SettleOneStroke(std::string text, bool mail, bool& doubtful) {
    doubtful = false;
    auto stroke = [&](std::size_t k) { return k < text.size() && (text[k] == 'I' || text[k] == 'l'); };
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (!stroke(k)) continue;
        // A run of strokes is settled by the letters on either side of it.
        std::size_t end = k;
        while (stroke(end)) ++end;
        const unsigned char prev = k ? static_cast<unsigned char>(text[k - 1]) : ' ';
        const unsigned char after = end < text.size() ? static_cast<unsigned char>(text[end]) : ' ';
        char first = 'l', rest = 'l';
        if (IsLower(prev)) {
        } else if (IsUpper(prev)) {
            first = rest = IsLower(after) ? 'l' : 'I';
        } else if (!IsLower(after)) {
            first = rest = 'I';
        } else if (mail) {
        } else if (end - k > 1 || !IsVowel(after)) {
            first = 'I';
        } else {
            first = text[k];
            doubtful = true;
        }
        text[k] = first;
        for (std::size_t i = k + 1; i < end; ++i) text[i] = rest;
        k = end - 1;
    }
    return text;
}

}  // namespace sheet
