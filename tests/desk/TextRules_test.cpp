// The sheet reader's rules on texts, which need no page: each a table of readings and what the
// rule makes of them, the near misses beside the hits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "desk/sheet/TextRules.h"
#include "output/CodePage.h"

namespace {

std::u32string U(const char* utf8) { return DecodeUtf8(utf8); }

// One table row of a rule from a text to a yes or no.
struct Judged {
    const char* text;
    bool expected;
};

void ExpectJudged(bool (*rule)(const std::string&), const std::vector<Judged>& cases, const char* name) {
    for (const Judged& c : cases) EXPECT_EQ(rule(c.text), c.expected) << name << "(\"" << c.text << "\")";
}

}  // namespace

TEST(TextRulesTest, DistancesCountEditsAndRunsOfWords) {
    struct Case {
        const char* a;
        const char* b;
        int distance;
        int toWords;  // DistanceToWords(a, b)
    } cases[] = {
        {"", "", 0, 0},
        {"ja", "ja", 0, 0},
        {"", "nein", 4, 4},
        {"nem", "nein", 2, 2},                    // the i lost its dot and ran into the n
        {"Kaiser", "Kiaser", 2, 2},               // a swap is two edits
        {"ja oo", "ja", 3, 0},                    // noise read as a word of its own
        {"oo Pentium III x", "Pentium III", 5, 0},  // a run of words inside
        {"M\xC3\xBCller", "Muller", 1, 1},         // an umlaut is one character
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sheet::Distance(U(c.a), U(c.b)), c.distance) << c.a << " / " << c.b;
        EXPECT_EQ(sheet::Distance(U(c.b), U(c.a)), c.distance) << c.b << " / " << c.a;
        EXPECT_EQ(sheet::DistanceToWords(U(c.a), U(c.b)), c.toWords) << c.a << " / " << c.b;
    }
}

TEST(TextRulesTest, TheRecognisersTextIsTidiedAndItsStrayMarksGo) {
    struct Case {
        const char* raw;
        const char* tidy;
    } tidied[] = {
        {"  Hans   Meier \n", "Hans Meier"},
        {"\xE2\x80\x9E" "ja\xE2\x80\x9C", "\"ja\""},      // typographic quotes made plain
        {"Rock\xE2\x80\x99n Roll", "Rock'n Roll"},
        {"A\xE2\x80\x93" "B\tC", "A-B C"},                 // a dash, a tab
        {"", ""},
    };
    for (const Case& c : tidied) EXPECT_EQ(sheet::Tidy(c.raw), c.tidy) << c.raw;
    EXPECT_EQ(sheet::Tidy(nullptr), "");
    const Case stray[] = {
        {". Meier", "Meier"},
        {"Meier , '", "Meier"},
        {"\xC2\xB0 Meier", "Meier"},       // a degree sign is a mark too
        {"Meier-Lang", "Meier-Lang"},      // marks inside a word stay
        {"A . B", "A . B"},                // and between words
        {"...", ""},
    };
    for (const Case& c : stray) EXPECT_EQ(sheet::WithoutStrayMarks(c.raw), c.tidy) << c.raw;
}

TEST(TextRulesTest, ConfusablesAndLettersTheFormCannotHoldAreFolded) {
    EXPECT_EQ(sheet::Confusable(U"l|1!I"), U"IIIII");
    EXPECT_EQ(sheet::Confusable(U"0O o"), U"OO o");
    struct Case {
        const char* read;
        const char* folded;
    } cases[] = {
        {"D\xC4\xB1" "ana", "Diana"},          // a dotless i lost its dot on the fax
        {"\xC4\xB0lse", "Ilse"},
        {"\xC5\x82" "odz", "lodz"},
        {"Meier\xE2\x80\x90Lang", "Meier-Lang"},   // hyphen, non-breaking hyphen, minus
        {"a\xE2\x80\x91" "b\xE2\x88\x92" "c", "a-b-c"},
        {"\xEF\xAC\x81sch \xEF\xAC\x82ug", "fisch flug"},  // ligatures
        {"M\xC3\xBCller", "M\xC3\xBCller"},     // what the form holds stays
    };
    for (const Case& c : cases) EXPECT_EQ(sheet::FoldToCodePage(c.read), c.folded) << c.read;
}

TEST(TextRulesTest, AnAddressIsPlausibleAndItsTopLevelDomainExists) {
    ExpectJudged(sheet::PlausibleMail,
                 {{"lea.mueller@mail.de", true},
                  {"a+b_c-d@x.co", true},
                  {"@mail.de", false},          // nobody before the at
                  {"lea@@mail.de", false},
                  {"lea@ma@il.de", false},
                  {"lea@.de", false},           // no host before the dot
                  {"lea@mail.d", false},        // a one-letter domain
                  {"lea@mail", false},
                  {"lea mueller@mail.de", false},
                  {"lea,mueller@mail.de", false}},
                 "PlausibleMail");
    ExpectJudged(sheet::KnownTopLevel,
                 {{"a@b.de", true}, {"a@b.COM", true}, {"a@b.berlin", true}, {"a@b.con", false}, {"a@bde", false}},
                 "KnownTopLevel");
    const std::vector<std::string> near = sheet::NearTopLevels("a@b.con");
    EXPECT_NE(std::find(near.begin(), near.end(), "a@b.com"), near.end());
    EXPECT_NE(std::find(near.begin(), near.end(), "a@b.co"), near.end());
    EXPECT_EQ(std::find(near.begin(), near.end(), "a@b.de"), near.end());
    for (const std::string& address : near) EXPECT_TRUE(sheet::KnownTopLevel(address)) << address;
    EXPECT_TRUE(sheet::NearTopLevels("no address").empty());
}

TEST(TextRulesTest, ADateIsPrintedAsDayMonthYearAndNoiseAroundItGoes) {
    ExpectJudged(sheet::ValidDate,
                 {{"28.06.1999", true},
                  {"01.12.2024", true},
                  {"31.01.2000", true},
                  {"32.01.2000", false},
                  {"00.05.2000", false},
                  {"15.13.2000", false},
                  {"15.00.2000", false},
                  {"1.6.1999", false},
                  {"28-06-1999", false},
                  {"28.06.199O", false},
                  {"28.06.19999", false}},
                 "ValidDate");
    struct Case {
        const char* read;
        const char* date;
    } cases[] = {
        {"28.06.1999", "28.06.1999"},
        {"28.06.1999 oe", "28.06.1999"},   // letters beside the date are noise
        {"28,06:1999", "28.06.1999"},      // noise on the periods
        {"28 06 1999", "28.06.1999"},
        {"28.06.199", "28.06.199"},        // seven digits: left as read
        {"28.06.1999 7", "28.06.1999 7"},  // nine digits
        {"28a06.1999", "28a06.1999"},      // a letter among the digits
    };
    for (const Case& c : cases) EXPECT_EQ(sheet::DateFromReading(c.read), c.date) << c.read;
}

TEST(TextRulesTest, WhatANameAWordOrAPasswordMayHold) {
    struct Case {
        const char* text;
        bool name;        // NameLike(text, " -'.")
        bool markInside;  // MarkInsideWord
        bool digitInside; // DigitInsideWord
        bool oneStroke;   // HoldsOneStroke
    } cases[] = {
        {"Hans-Peter O'Neil", true, false, false, true},
        {"M\xFCller", true, false, false, true},   // code page: an umlaut is a letter
        {"Meier2", false, false, false, false},
        {"Tierlex!kon", false, true, false, true},
        {"Hallo!", false, false, false, true},     // a mark at the end is typed
        {"Schlo8allee", false, false, true, true},
        {"Hauptstr. 8a", false, false, false, false},
        {"A4b", false, false, false, false},       // a digit after a capital
        {"x\xD7y", false, false, false, false},    // the multiplication sign is no letter
        {"Ilse", true, false, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sheet::NameLike(c.text, " -'."), c.name) << c.text;
        EXPECT_EQ(sheet::MarkInsideWord(c.text), c.markInside) << c.text;
        EXPECT_EQ(sheet::DigitInsideWord(c.text), c.digitInside) << c.text;
        EXPECT_EQ(sheet::HoldsOneStroke(c.text), c.oneStroke) << c.text;
    }
    EXPECT_TRUE(sheet::HoldsOneStroke("a|b"));
    EXPECT_TRUE(sheet::IsLower(0xDF));    // the sharp s
    EXPECT_FALSE(sheet::IsLower(0xC4));   // a capital umlaut
    EXPECT_TRUE(sheet::IsLetter(0xC4));
    EXPECT_FALSE(sheet::IsLetter(0xF7));  // the division sign
}

TEST(TextRulesTest, TheLettersAroundAnIOrLTellWhichItIs) {
    struct Case {
        const char* read;
        bool mail;
        const char* settled;
        bool doubtful;
    } cases[] = {
        {"llse", false, "Ilse", false},           {"K\xF6In", false, "K\xF6ln", false},
        {"VELK AtIas", false, "VELK Atlas", false}, {"Pentium lll", false, "Pentium III", false},
        {"BIume", false, "Blume", false},         {"lea.mueller@maiI.de", true, "lea.mueller@mail.de", false},
        {"Iaura", false, "Iaura", true},          {"laura", false, "laura", true},
        {"Iaura@web.de", true, "laura@web.de", false},  // an address is written in small letters
        {"ABCl", false, "ABCI", false},            // among capitals
        {"l", false, "I", false},                  // alone
        {"", false, "", false},
    };
    for (const Case& c : cases) {
        bool doubtful = !c.doubtful;
        EXPECT_EQ(sheet::SettleOneStroke(c.read, c.mail, doubtful), c.settled) << c.read;
        EXPECT_EQ(doubtful, c.doubtful) << c.read;
    }
}
