// Builds the registration mail text and the small texts around its hand-off.
#include "output/MailText.h"

#include <cstddef>

#include "output/MailRecord.h"

namespace {

const char kLineEnd[] = "\r\n";
const char kIndent[] = "    ";

}  // namespace

std::string BuildMailText(const RegistrationRecord& record) {
    std::string text;
    text.reserve(666 + 256);
    text += "<new>";
    text += kLineEnd;
    text += kIndent;
    text += "<version number=\"";
    text += kMailRecordVersion;
    text += "\"/>";
    text += kLineEnd;
    for (const MailElement& element : kMailElements) {
        text += kIndent;
        text += '<';
        text += element.name;
        text += '>';
        text += record.*element.field;
        text += "</";
        text += element.name;
        text += '>';
        text += kLineEnd;
    }
    text += "</new>";
    text += kLineEnd;
    return text;
}

std::string FormatReceivedDate(const std::tm& local) {
    // Widened first: the fields are ints, and year + 1900 or month + 1 must not overflow.
    return std::to_string(static_cast<long long>(local.tm_year) + 1900) + "/" +
           std::to_string(static_cast<long long>(local.tm_mon) + 1) + "/" +
           std::to_string(local.tm_mday) + " " + std::to_string(local.tm_hour) + ":" + std::to_string(local.tm_min);
}

std::string FormatTwoStrings(const std::string& format, const std::string& first, const std::string& second) {
    std::string result;
    result.reserve(format.size() + first.size() + second.size());
    int used = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c == '%' && next == 's') {
            if (used == 0) result += first;
            if (used == 1) result += second;
            ++used;
            ++i;
        } else if (c == '%' && next == '%') {
            result += '%';
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}

std::string BuildMailtoUrl(const std::string& recipient, const std::string& subject) {
    return "mailto:" + recipient + "?Subject=" + subject;
}
