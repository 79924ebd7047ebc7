// The settings file read through the Windows C runtime's text mode, and the opt-out flag
// read from the real registry.
#include <gtest/gtest.h>

#include "WinTest.h"
#include "runner/LaunchOptions.h"
#include "runner/RegistrationApp.h"
#include "runner/Settings.h"

using namespace wt;

namespace {

RunnerSettings ReadBytes(const std::string& bytes, bool* opened = nullptr) {
    CTempDir dir;
    WriteFileBytes(dir.File("VelkRun.ini"), bytes);
    RunnerSettings settings;
    const bool ok = ReadSettingsFrom(dir.File("VelkRun.ini"), settings);
    if (opened) *opened = ok;
    return settings;
}

}  // namespace

TEST(SettingsFile, TextModeLineEnds) {
    const RunnerSettings crlf = ReadBytes("TitelText=Titel\r\n[RegText]\r\nA\r\n\r\nB\r\n");
    const RunnerSettings lf = ReadBytes("TitelText=Titel\n[RegText]\nA\n\nB\n");
    EXPECT_EQ("Titel", crlf.titleText);
    EXPECT_EQ("A\r\n \r\nB", crlf.reminderText);
    EXPECT_EQ(crlf.titleText, lf.titleText);
    EXPECT_EQ(crlf.reminderText, lf.reminderText);
    // A lone CR is no line end in text mode: it stays part of the value.
    EXPECT_EQ("a\rb", ReadBytes("ButRunText=a\rb\r\n").runButtonText);
}

TEST(SettingsFile, CtrlZEndsTheFile) {
    const RunnerSettings s = ReadBytes("TitelText=vorher\r\n\x1A" "ButExitText=danach\r\n");
    EXPECT_EQ("vorher", s.titleText);
    EXPECT_EQ("", s.exitButtonText);
}

TEST(SettingsFile, BytesStayAsTheyAre) {
    // No character-set conversion, and a UTF-8 byte-order mark is not skipped.
    const RunnerSettings s = ReadBytes("\xEF\xBB\xBFTitelText=bom\r\nButOfflText=Gr\xFC\xDF" "e\r\n");
    EXPECT_EQ("", s.titleText);
    EXPECT_EQ("Gr\xFC\xDF" "e", s.offlineButtonText);
}

TEST(SettingsFile, MissingFileOrDirectoryIsNotRead) {
    CTempDir dir;
    RunnerSettings s;
    s.titleText = "unchanged";
    EXPECT_FALSE(ReadSettingsFrom(dir.File("nothing.ini"), s));
    CreateDirectoryA(dir.File("VelkRun.ini").c_str(), nullptr);
    EXPECT_FALSE(ReadSettingsFrom(dir.File("VelkRun.ini"), s));
    EXPECT_EQ("unchanged", s.titleText);
}

TEST(OptOutFlag, ReadFromRegistry) {
    CRegTestKey key;
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
        bool set;
    };
    const std::string dword1("\x01\0\0\0", 4), dword0(4, '\0'), dword256("\0\x01\0\0", 4);
    const Case cases[] = {
        {"sz1", REG_SZ, std::string("1\0", 2), true},
        {"szMinus1", REG_SZ, std::string("-1\0", 3), true},
        {"sz0", REG_SZ, std::string("0\0", 2), false},
        {"szLeadingBlanks", REG_SZ, std::string("  12abc\0", 8), true},
        {"szLetters", REG_SZ, std::string("abc\0", 4), false},
        {"expand", REG_EXPAND_SZ, std::string("7\0", 2), true},
        {"multi", REG_MULTI_SZ, std::string("0\0" "1\0\0", 5), false},
        {"dword1", REG_DWORD, dword1, true},
        {"dword0", REG_DWORD, dword0, false},
        {"dword256", REG_DWORD, dword256, false},
        {"binary0", REG_BINARY, std::string("\0\x01", 2), false},
        {"binary1", REG_BINARY, std::string("\x01\0", 2), true},
        {"empty", REG_BINARY, std::string(), false},
        // 1024 bytes with the terminating zero: fills the buffer exactly.
        {"exactly1024", REG_SZ, std::string(1022, '0') + "1" + std::string(1, '\0'), true},
        {"over1024", REG_SZ, std::string(1100, '1'), false},
    };
    launchOptions.regKey = key.Path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(key.Set(c.name, c.type, c.data.data(), static_cast<DWORD>(c.data.size())));
        launchOptions.regValue = c.name;
        EXPECT_EQ(c.set, ReadOptOutFlag());
    }
    launchOptions.regValue = "missing";
    EXPECT_FALSE(ReadOptOutFlag());
    launchOptions.regKey = key.Path() + "\\NoSuchKey";
    launchOptions.regValue = "sz1";
    EXPECT_FALSE(ReadOptOutFlag());
    launchOptions.regKey.clear();
    EXPECT_FALSE(ReadOptOutFlag());
}
