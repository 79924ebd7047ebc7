// Builds the registration mail text and the small texts around its hand-off.
#include "output/MailText.h"

#include <cstddef>

namespace {

using Field = const std::string RegistrationRecord::*;

struct Element {
    const char* name;
    Field field;
};

// The registration desk reads the elements in exactly this order.
const Element kElements[] = {
    {"username", &RegistrationRecord::username},     {"password_1", &RegistrationRecord::password_1},
    {"password_2", &RegistrationRecord::password_2}, {"aggraccept", &RegistrationRecord::aggraccept},
    {"vipkunde", &RegistrationRecord::vipkunde},     {"vorname", &RegistrationRecord::vorname},
    {"nachname", &RegistrationRecord::nachname},     {"firm", &RegistrationRecord::firm},
    {"addr", &RegistrationRecord::addr},             {"city", &RegistrationRecord::city},
    {"zip", &RegistrationRecord::zip},               {"land", &RegistrationRecord::land},
    {"tel", &RegistrationRecord::tel},               {"fax", &RegistrationRecord::fax},
    {"alt", &RegistrationRecord::alt},               {"berstell", &RegistrationRecord::berstell},
    {"lebkindih", &RegistrationRecord::lebkindih},   {"pctyp", &RegistrationRecord::pctyp},
    {"betrsystem", &RegistrationRecord::betrsystem}, {"anwender", &RegistrationRecord::anwender},
    {"gprod", &RegistrationRecord::gprod},           {"gprodg", &RegistrationRecord::gprodg},
    {"wgekauf", &RegistrationRecord::wgekauf},       {"dgekauf", &RegistrationRecord::dgekauf},
    {"pgekauf", &RegistrationRecord::pgekauf},       {"kaufoft", &RegistrationRecord::kaufoft},
};

const char kLineEnd[] = "\r\n";
const char kIndent[] = "    ";

}  // namespace

std::string BuildMailText(const RegistrationRecord& record) {
    std::string text;
    text.reserve(666 + 256);
    text += "<new>";
    text += kLineEnd;
    text += kIndent;
    text += "<version number=\"1.0\"/>";
    text += kLineEnd;
    for (const Element& element : kElements) {
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
