// The registration mail text byte for byte, and the small texts of its hand-off.
#include "output/MailText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Field = std::string RegistrationRecord::*;

// Every field of the mail text in its order, with a distinct value each.
const std::vector<std::pair<Field, std::string>> kFullValues = {
    {&RegistrationRecord::username, "anna@example.de"}, {&RegistrationRecord::password_1, "Geheim1"},
    {&RegistrationRecord::password_2, "Geheim1"},       {&RegistrationRecord::aggraccept, "ja"},
    {&RegistrationRecord::vipkunde, "nein"},            {&RegistrationRecord::vorname, "Anna"},
    {&RegistrationRecord::nachname, "M\xFCller"},       {&RegistrationRecord::firm, "Firma GmbH"},
    {&RegistrationRecord::addr, "Hauptstra\xDF" "e 5"}, {&RegistrationRecord::city, "K\xF6ln"},
    {&RegistrationRecord::zip, "50667"},                {&RegistrationRecord::land, "Deutschland"},
    {&RegistrationRecord::tel, "0221 123"},             {&RegistrationRecord::fax, "0221 124"},
    {&RegistrationRecord::alt, "30-40 Jahre"},          {&RegistrationRecord::berstell, "Angestellter"},
    {&RegistrationRecord::lebkindih, "ja"},             {&RegistrationRecord::pctyp, "Desktop"},
    {&RegistrationRecord::betrsystem, "Windows XP"},    {&RegistrationRecord::anwender, "Fortgeschrittener"},
    {&RegistrationRecord::gprod, "A-1234"},             {&RegistrationRecord::gprodg, "Fachhandel"},
    {&RegistrationRecord::wgekauf, "Zeitschrift"},      {&RegistrationRecord::dgekauf, "07.03.2002"},
    {&RegistrationRecord::pgekauf, "Atlas 2001"},       {&RegistrationRecord::kaufoft, "monatlich"},
};

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(text.size(), start) << "text does not end with CR LF";
    return lines;
}

}  // namespace

TEST(MailText, EmptyRecordIsExactly666Bytes) {
    const std::string expected =
        "<new>\r\n"
        "    <version number=\"1.0\"/>\r\n"
        "    <username></username>\r\n"
        "    <password_1></password_1>\r\n"
        "    <password_2></password_2>\r\n"
        "    <aggraccept></aggraccept>\r\n"
        "    <vipkunde></vipkunde>\r\n"
        "    <vorname></vorname>\r\n"
        "    <nachname></nachname>\r\n"
        "    <firm></firm>\r\n"
        "    <addr></addr>\r\n"
        "    <city></city>\r\n"
        "    <zip></zip>\r\n"
        "    <land></land>\r\n"
        "    <tel></tel>\r\n"
        "    <fax></fax>\r\n"
        "    <alt></alt>\r\n"
        "    <berstell></berstell>\r\n"
        "    <lebkindih></lebkindih>\r\n"
        "    <pctyp></pctyp>\r\n"
        "    <betrsystem></betrsystem>\r\n"
        "    <anwender></anwender>\r\n"
        "    <gprod></gprod>\r\n"
        "    <gprodg></gprodg>\r\n"
        "    <wgekauf></wgekauf>\r\n"
        "    <dgekauf></dgekauf>\r\n"
        "    <pgekauf></pgekauf>\r\n"
        "    <kaufoft></kaufoft>\r\n"
        "</new>\r\n";
    const std::string text = BuildMailText(RegistrationRecord{});
    EXPECT_EQ(666u, text.size());
    EXPECT_EQ(expected, text);
}

TEST(MailText, FullRecordPutsEachValueOnItsOwnLine) {
    RegistrationRecord record;
    std::size_t valueBytes = 0;
    for (const auto& [field, value] : kFullValues) {
        record.*field = value;
        valueBytes += value.size();
    }
    record.titel = "Der gro\xDF" "e Atlas";  // the title has no element
    const std::string text = BuildMailText(record);
    EXPECT_EQ(666 + valueBytes, text.size());

    const std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(29u, lines.size());
    EXPECT_EQ("<new>", lines[0]);
    EXPECT_EQ("    <version number=\"1.0\"/>", lines[1]);
    EXPECT_EQ("    <username>anna@example.de</username>", lines[2]);
    EXPECT_EQ("    <nachname>M\xFCller</nachname>", lines[8]);
    EXPECT_EQ("    <gprod>A-1234</gprod>", lines[22]);
    EXPECT_EQ("    <gprodg>Fachhandel</gprodg>", lines[23]);
    EXPECT_EQ("    <wgekauf>Zeitschrift</wgekauf>", lines[24]);
    EXPECT_EQ("    <dgekauf>07.03.2002</dgekauf>", lines[25]);
    EXPECT_EQ("    <kaufoft>monatlich</kaufoft>", lines[27]);
    EXPECT_EQ("</new>", lines[28]);
    for (std::size_t i = 0; i < kFullValues.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string& line = lines[i + 2];
        EXPECT_EQ(0u, line.find("    <")) << line;
        EXPECT_NE(std::string::npos, line.find(">" + kFullValues[i].second + "</")) << line;
    }
    EXPECT_EQ(std::string::npos, text.find(record.titel));

    RegistrationRecord otherTitle = record;
    otherTitle.titel = "Anderes Produkt";
    EXPECT_EQ(text, BuildMailText(otherTitle));
}

TEST(MailText, ValuesStandVerbatim) {
    struct Case {
        const char* what;
        std::string value;
    };
    const Case cases[] = {
        {"markup", "M\xFCller & Co. <KG> \"x\" 'y'"},
        {"line ends", "Zeile 1\r\nZeile 2\nZeile 3\r"},
        {"high bytes", "\x80\x9F\xA0\xE4\xF6\xFC\xDF\xFF"},
        {"blanks and tab", "  a\tb  "},
        {"format characters", "%s %d %n %%"},
        {"long", std::string(100000, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistrationRecord record;
        record.firm = c.value;
        const std::string text = BuildMailText(record);
        EXPECT_EQ(666 + c.value.size(), text.size());
        EXPECT_NE(std::string::npos, text.find("\r\n    <firm>" + c.value + "</firm>\r\n    <addr></addr>\r\n"));
    }
}

TEST(MailText, ReceivedDateHasNoLeadingZeros) {
    struct Case {
        int year, month, day, hour, minute;
        const char* expected;
    };
    const Case cases[] = {
        {2002, 3, 5, 9, 7, "2002/3/5 9:7"},
        {2002, 12, 31, 23, 59, "2002/12/31 23:59"},
        {2024, 1, 1, 0, 0, "2024/1/1 0:0"},
        {1999, 10, 10, 10, 10, "1999/10/10 10:10"},
    };
    for (const Case& c : cases) {
        std::tm local = {};
        local.tm_year = c.year - 1900;
        local.tm_mon = c.month - 1;
        local.tm_mday = c.day;
        local.tm_hour = c.hour;
        local.tm_min = c.minute;
        local.tm_sec = 42;
        EXPECT_EQ(c.expected, FormatReceivedDate(local));
    }
    // Clock fields at the ends of their range are printed, not overflowed.
    std::tm extreme = {};
    extreme.tm_year = 2147483647;
    extreme.tm_mon = 2147483647;
    EXPECT_EQ("2147485547/2147483648/0 0:0", FormatReceivedDate(extreme));
}

TEST(MailText, TwoStringsFormatWholeAndNeverAsFormats) {
    struct Case {
        const char* format;
        std::string first, second;
        std::string expected;
    };
    const std::string longRecipient(70000, 'r');
    const Case cases[] = {
        {"Empf\xE4nger: %s\r\nBetreff: %s", "a@b.de", "Registrierung",
         "Empf\xE4nger: a@b.de\r\nBetreff: Registrierung"},
        {"Empf\xE4nger: %s\r\nBetreff: %s", "", "Registrierung", "Empf\xE4nger: \r\nBetreff: Registrierung"},
        {"<%s|%s>", longRecipient, "x", "<" + longRecipient + "|x>"},
        // The arguments are taken as text, never as formats.
        {"<%s|%s>", "%s%n%d", "%%", "<%s%n%d|%%>"},
        {"100%% %s %d %s %s", "a", "b", "100% a %d b "},
        {"ends with %", "a", "b", "ends with %"},
        {"none", "a", "b", "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(c.expected, FormatTwoStrings(c.format, c.first, c.second));
    }
}

TEST(MailText, MailtoUrlIsNotEncoded) {
    EXPECT_EQ("mailto:reg@velk.example?Subject=Registrierung", BuildMailtoUrl("reg@velk.example", "Registrierung"));
    EXPECT_EQ("mailto:?Subject=Registrierung", BuildMailtoUrl("", "Registrierung"));
    EXPECT_EQ("mailto:a b&c=d?x@y?Subject=\xE4 %20", BuildMailtoUrl("a b&c=d?x@y", "\xE4 %20"));
}
