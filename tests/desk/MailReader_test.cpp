// The record reader: round trip with the writer, the deformations mail programs make at the
// text level, damaged records, and the charset helpers it relies on.
#include "desk/mail/MailReader.h"
#include "output/MailText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

RegistrationRecord Sample() {
    RegistrationRecord r;
    for (const MailElement& e : kMailElements) r.*e.field = std::string("Wert ") + e.name + " \xC3\xA4\xC3\x9F";
    r.password_2 = r.password_1;
    r.firm = "A & B <Partner> GmbH";
    return r;
}

void ExpectSameFields(const RegistrationRecord& expected, const RegistrationRecord& actual) {
    for (const MailElement& e : kMailElements) EXPECT_EQ(expected.*e.field, actual.*e.field) << e.name;
}

// The single record of `text`, expected sound.
RegistrationRecord ReadSound(const std::string& text) {
    const std::vector<MailRecordRead> found = ReadMailRecords(text);
    EXPECT_EQ(1u, found.size());
    if (found.empty()) return {};
    EXPECT_TRUE(found[0].problems.empty()) << found[0].problems[0].Line();
    return found[0].record;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

// The text with the value lines of elements `a` and `b` (a before b) swapped.
std::string SwapLines(const std::string& text, const std::string& a, const std::string& b) {
    auto line = [&](const std::string& name) {
        const std::size_t start = text.find("    <" + name + ">");
        return text.substr(start, text.find("\r\n", start) + 2 - start);
    };
    return Replace(Replace(Replace(text, line(a), "@"), line(b), line(a)), "@", line(b));
}

}  // namespace

TEST(MailRecord, ReadsBackWhatTheWriterBuiltForAnyValuesWithoutLineBreaks) {
    std::mt19937 random(14);
    // Pieces that could confuse a reader: tags of the record itself, markup, blanks at the ends.
    const std::vector<std::string> pieces = {"<", ">", "&", " ", "\t", "</firm>", "<new>", "</new>", "<zip>",
                                             "> ", "\xC3\xBC", "\xE4", "\"", "x", "<version number=\"2\"/>", "\x7F"};
    for (int round = 0; round < 300; ++round) {
        RegistrationRecord r;
        for (const MailElement& e : kMailElements) {
            std::string value;
            const int count = static_cast<int>(random() % 6);
            for (int i = 0; i < count; ++i) value += pieces[random() % pieces.size()];
            r.*e.field = value;
        }
        r.password_2 = r.password_1;
        const std::vector<MailRecordRead> found = ReadMailRecords(BuildMailText(r));
        ASSERT_EQ(1u, found.size()) << BuildMailText(r);
        EXPECT_TRUE(found[0].problems.empty()) << found[0].problems[0].Line() << "\n" << BuildMailText(r);
        ExpectSameFields(r, found[0].record);
    }
}

// The layouts the desk's corpus (tests/desk) cannot make through a MIME library.
TEST(MailRecord, FindsTheRecordBehindOddLineEndsQuotesAndIndentation) {
    const RegistrationRecord r = Sample();
    const std::string lf = Replace(BuildMailText(r), "\r\n", "\n");
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"CR line ends", Replace(lf, "\n", "\r")},
        {"pasted into the middle of a line", "Guten Tag <new>" + lf.substr(5) + "Danke!\n"},
        {"quoted twice without blanks", Replace(">>" + lf, "\n", "\n>>")},
        {"value wrapped before a word in angle brackets", Replace(lf, "& B <Partner>", "& B\n<Partner>")},
        {"tabs and no-break spaces as indentation", Replace(Replace(lf, "\n    <v", "\n\t<v"), "\n    <f", "\n\xC2\xA0\xC2\xA0<f")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectSameFields(r, ReadSound(c.text));
    }
}

TEST(MailRecord, KeepsDamagedRecordsWithTheirReasonsAndGuessesNothing) {
    const std::string text = BuildMailText(Sample());
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> problems;
    } cases[] = {
        {"element missing", Replace(text, "    <zip>Wert zip \xC3\xA4\xC3\x9F</zip>\r\n", ""), {"zip: missing"}},
        {"unknown element", Replace(text, "<tel>", "<telefon>"), {"telefon: unknown element", "tel: missing"}},
        {"out of order", SwapLines(text, "vorname", "nachname"), {"vorname: out of order"}},
        {"other version", Replace(text, "\"1.0\"", "\"2.0\""), {"version: 2.0 instead of 1.0"}},
        {"passwords differ", Replace(text, "<password_2>Wert", "<password_2>Wort"), {"password_2: differs from password_1"}},
        {"end line missing", text.substr(0, text.size() - 8) + "\r\nMfG\r\n", {"new: end line missing"}},
        {"start line missing", text.substr(7), {"new: start line missing"}},
        {"end tag missing", Replace(text, "</vorname>", ""), {"vorname: end tag missing"}},
        {"element twice", Replace(text, "    <fax>", "    <tel>2</tel>\r\n    <fax>"), {"tel: appears twice"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<MailRecordRead> found = ReadMailRecords(c.text);
        ASSERT_EQ(1u, found.size());
        std::vector<std::string> lines;
        for (const desk::Doubt& d : found[0].problems) lines.push_back(d.Line());
        EXPECT_FALSE(lines.empty());
        for (const std::string& p : c.problems) EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), p)) << p;
        for (const std::string& p : lines) EXPECT_EQ(std::string::npos, p.find("Wert password")) << p;
        // What stood there is kept as it stood.
        if (c.problems[0] != "vorname: end tag missing") {
            EXPECT_EQ("Wert vorname \xC3\xA4\xC3\x9F", found[0].record.vorname);
        }
    }
}

TEST(MailRecord, ReadsEveryRecordOfATextAndNoneFromOtherText) {
    RegistrationRecord second = Sample();
    second.vorname = "Berta";
    const std::vector<MailRecordRead> two = ReadMailRecords(BuildMailText(Sample()) + "\r\n" + BuildMailText(second));
    ASSERT_EQ(2u, two.size());
    EXPECT_EQ("Berta", two[1].record.vorname);
    EXPECT_TRUE(ReadMailRecords("Hallo,\r\n<b>fett</b> und a < b > c\r\n").empty());
    EXPECT_TRUE(ReadMailRecords("").empty());
}

TEST(MailRecord, CharsetHelpers) {
    EXPECT_EQ("\xE2\x82\xAC \xC3\xA4 \xC3\x9F \xEF\xBF\xBD", Windows1252ToUtf8("\x80 \xE4 \xDF \x81"));
    EXPECT_TRUE(IsValidUtf8("a\xC3\xA4\xF0\x9F\x98\x80"));
    for (const char* bad : {"\xE4", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3"}) EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_EQ("a&b <c> \xC3\xA4\xE2\x82\xAC x\nz", HtmlToText("a&amp;b &lt;c&gt;&nbsp;&auml;&#x20AC; <!-- n -->x<br/>z"));
    EXPECT_EQ("> ab\ncd\n", UnflowText("> a \n> b\nc \nd", true));
    EXPECT_EQ("a b\n-- \nx\n", UnflowText("a \nb\n-- \nx", false));
}
