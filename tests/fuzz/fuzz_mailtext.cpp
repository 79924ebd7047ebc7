// Fuzzes the mail hand-off texts: the mail text from arbitrary answers, the received date from
// arbitrary clock fields, the explanation's "%s" filling and the mailto: URL.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "output/MailText.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Splits the input at 0xFF bytes into up to `count` pieces.
std::vector<std::string> Pieces(const uint8_t* data, size_t size, size_t count) {
    std::vector<std::string> pieces(count);
    size_t index = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && index + 1 < count) {
            ++index;
            continue;
        }
        pieces[index].push_back(static_cast<char>(data[i]));
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> v = Pieces(data, size, 27);
    RegistrationRecord r;
    std::string* fields[] = {&r.username, &r.password_1, &r.password_2, &r.aggraccept, &r.vipkunde, &r.vorname,
                             &r.nachname, &r.firm,       &r.addr,       &r.city,       &r.zip,      &r.land,
                             &r.tel,      &r.fax,        &r.alt,        &r.berstell,   &r.lebkindih, &r.pctyp,
                             &r.betrsystem, &r.anwender, &r.gprod,      &r.gprodg,     &r.wgekauf,  &r.dgekauf,
                             &r.pgekauf,  &r.kaufoft,    &r.titel};
    size_t valueBytes = 0;
    for (size_t i = 0; i < 27; ++i) {
        *fields[i] = v[i];
        if (i < 26) valueBytes += v[i].size();
    }
    const std::string text = BuildMailText(r);
    // Fixed layout: the values and nothing else vary, the title is never part of it.
    Check(text.size() == 666 + valueBytes);
    const std::string head = "<new>\r\n    <version number=\"1.0\"/>\r\n    <username>" + r.username + "</username>\r\n";
    const std::string tail = "    <kaufoft>" + r.kaufoft + "</kaufoft>\r\n</new>\r\n";
    Check(text.compare(0, head.size(), head) == 0);
    Check(text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0);

    // The explanation: arguments are never read as formats.
    const std::string filled = FormatTwoStrings("Empf\xE4nger: %s\r\nBetreff: %s", v[0], v[1]);
    Check(filled == "Empf\xE4nger: " + v[0] + "\r\nBetreff: " + v[1]);
    const std::string wild = FormatTwoStrings(v[2], v[0], v[1]);
    Check(wild.size() <= v[2].size() + v[0].size() + v[1].size());

    Check(BuildMailtoUrl(v[0], v[1]) == "mailto:" + v[0] + "?Subject=" + v[1]);

    // Any clock fields give "y/m/d h:m" with the numbers as they are.
    if (size >= 20) {
        std::tm t{};
        int numbers[5];
        std::memcpy(numbers, data, sizeof numbers);
        t.tm_year = numbers[0];
        t.tm_mon = numbers[1];
        t.tm_mday = numbers[2];
        t.tm_hour = numbers[3];
        t.tm_min = numbers[4];
        const std::string date = FormatReceivedDate(t);
        Check(!date.empty() && date.size() < 64);
        Check(std::count(date.begin(), date.end(), '/') >= 2 && date.find(' ') != std::string::npos);
    }
    return 0;
}
