// Command-line values, settings path and opt-out flag decision of VelkRun.
#include "runner/LaunchOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace std::string_literals;

TEST(StripQuotes, RemovesAtMostOneQuoteAtEachEnd) {
    const struct { std::string in, out; } cases[] = {
        {"", ""},         {"\"", ""},         {"\"\"", ""},           {"\"abc", "abc"},
        {"abc\"", "abc"}, {"\"abc\"", "abc"}, {"a\"b", "a\"b"}, {"\"\"x\"\"", "\"x\""},
    };
    for (const auto& c : cases) EXPECT_EQ(StripQuotes(c.in), c.out) << c.in;
}

TEST(GetProgramDirectory, KeepsDriveAndDirectory) {
    const std::string longDirectory = "\\" + std::string(300, 'd') + "\\";
    const struct { std::string path, directory; } cases[] = {
        {"C:\\Prog\\Velk\\VelkRun.exe", "C:\\Prog\\Velk\\"},
        {"C:/Prog/Velk/VelkRun.exe", "C:/Prog/Velk/"},
        {"a/b\\c.exe", "a/b\\"},
        {"\\\\srv\\share\\VelkRun.exe", "\\\\srv\\share\\"},
        {"VelkRun.exe", ""},
        {"C:x.exe", "C:"},
        {"", ""},
        {"C:" + longDirectory + "x.exe", "C:" + longDirectory.substr(0, 255)},
    };
    for (const auto& c : cases) {
        char buffer[260];
        GetProgramDirectory(c.path.c_str(), buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer), c.directory) << c.path;
    }
}

TEST(GetProgramDirectory, StaysInsideTheBuffer) {
    const struct { size_t size; std::string written; } cases[] = {
        {1, "\0"s}, {4, "C:\\\0"s}, {9, "C:\\Velk\\\0"s}, {20, "C:\\Velk\\\0"s},
    };
    for (const auto& c : cases) {
        std::vector<char> buffer(c.size + 1, 'Z');
        GetProgramDirectory("C:\\Velk\\VelkRun.exe", buffer.data(), c.size);
        EXPECT_EQ(std::string(buffer.data(), c.written.size()), c.written) << c.size;
        EXPECT_EQ(buffer[c.size], 'Z') << c.size;
    }
    char untouched = 'Z';
    GetProgramDirectory("C:\\Velk\\VelkRun.exe", &untouched, 0);
    EXPECT_EQ(untouched, 'Z');
}

TEST(SettingsPathFor, PutsTheFileBesideTheProgram) {
    EXPECT_EQ(SettingsPathFor("C:\\Velk\\VelkRun.exe"), "C:\\Velk\\VelkRun.ini");
    EXPECT_EQ(SettingsPathFor("D:/Velk/VelkRun.exe"), "D:/Velk/VelkRun.ini");
    EXPECT_EQ(SettingsPathFor("VelkRun.exe"), "VelkRun.ini");
    EXPECT_EQ(SettingsPathFor(nullptr), "VelkRun.ini");
}

TEST(RouteForArgumentCount, ShortFormAtThreeLongFormFromSeven) {
    using R = LaunchRoute;
    const R expected[] = {R::None, R::None, R::None, R::ShortForm, R::None, R::None,
                          R::None, R::LongForm, R::LongForm, R::LongForm, R::LongForm};
    for (int argc = 0; argc <= 10; ++argc) EXPECT_EQ(RouteForArgumentCount(argc), expected[argc]) << argc;
}

TEST(FillLaunchOptions, TakesTheArgumentsOfTheRoute) {
    const char* const argv[] = {"VelkRun.exe", "\"Software\\Velk\"", "\"Nicht\"", "http://x", "\"4711\"",
                                "\"Titel \"A\"\"",   "prog.exe",        "\"-p 1\"", "extra", nullptr};
    const struct { int argc; LaunchOptions expected; } cases[] = {
        {3, {"", "", "", "Software\\Velk", "Nicht", "", ""}},
        {4, {}},
        {7, {"Software\\Velk", "Nicht", "http://x", "4711", "Titel \"A\"", "prog.exe", ""}},
        {8, {"Software\\Velk", "Nicht", "http://x", "4711", "Titel \"A\"", "prog.exe", "-p 1"}},
        {9, {"Software\\Velk", "Nicht", "http://x", "4711", "Titel \"A\"", "prog.exe", "-p 1"}},
    };
    for (const auto& c : cases) {
        LaunchOptions o;
        FillLaunchOptions(c.argc, argv, o);
        const LaunchOptions& e = c.expected;
        EXPECT_EQ(std::vector<std::string>({o.regKey, o.regValue, o.onlineTarget, o.articleNumber, o.productTitle,
                                            o.productProgram, o.productParameters}),
                  std::vector<std::string>({e.regKey, e.regValue, e.onlineTarget, e.articleNumber, e.productTitle,
                                            e.productProgram, e.productParameters}))
            << c.argc;
    }
}

TEST(DecodeOptOutFlag, ReadsTextsLikeAtoiAndOtherTypesByTheFirstByte) {
    const unsigned long kDword = 4, kBinary = 3;
    const struct { unsigned long type; std::string data; bool set; } cases[] = {
        {kRegSz, "1\0"s, true},         {kRegSz, "-1\0"s, true},        {kRegSz, "+5\0"s, true},
        {kRegSz, "0\0"s, false},        {kRegSz, "-0\0"s, false},       {kRegSz, "000\0"s, false},
        {kRegSz, "  12abc\0"s, true},   {kRegSz, "abc\0"s, false},      {kRegSz, "\0"s, false},
        {kRegSz, "\t\n\v\f\r7\0"s, true}, {kRegSz, "\xA0" "1\0"s, false}, {kRegSz, "- 1\0"s, false},
        {kRegSz, "0\0" "1\0"s, false},  {kRegSz, "99999999999999999999999\0"s, true},
        {kRegSz, "0000000000000000000000000000001\0"s, true},
        {kRegExpandSz, "%X%\0"s, false}, {kRegExpandSz, "3\0"s, true},
        {kRegMultiSz, "0\0" "1\0\0"s, false}, {kRegMultiSz, "1\0" "0\0\0"s, true},
        {kDword, "\x01\0\0\0"s, true},  {kDword, "\0\0\0\0"s, false},   {kDword, "\0\x01\0\0"s, false},
        {kBinary, "\0\x01"s, false},    {kBinary, "\x02"s, true},
    };
    for (const auto& c : cases) {
        // A heap copy of exactly the returned size, so that a read past it is an ASan error.
        std::vector<unsigned char> data(c.data.begin(), c.data.end());
        EXPECT_EQ(DecodeOptOutFlag(c.type, data.data(), data.size()), c.set) << c.type << " " << c.data;
        EXPECT_FALSE(DecodeOptOutFlag(c.type, data.data(), 0)) << c.type << " " << c.data;
    }
}

TEST(DecodeOptOutFlag, ReadsUnterminatedTextOnlyToItsEnd) {
    const struct { unsigned char fill, last; bool set; } cases[] = {
        {'0', '7', true}, {'0', '0', false}, {' ', ' ', false}, {' ', '5', true}, {'9', '9', true},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> data(1024, c.fill);
        data.back() = c.last;
        EXPECT_EQ(DecodeOptOutFlag(kRegSz, data.data(), data.size()), c.set) << c.fill << c.last;
        EXPECT_FALSE(DecodeOptOutFlag(kRegSz, data.data(), 0));
    }
}
