// The scan of "VelkRun.ini": line-prefix keys, the [RegText] block, and reading the file.
#include "runner/Settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runner/LaunchOptions.h"

using namespace std::string_literals;

namespace {

RunnerSettings ScanText(const std::string& text) {
    RunnerSettings settings;
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    if (!stream) return settings;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::rewind(stream);
    ScanSettingsStream(stream, settings);
    std::fclose(stream);
    return settings;
}

using Field = std::string RunnerSettings::*;

}  // namespace

TEST(SettingsScan, EachKeySetsItsField) {
    const RunnerSettings s = ScanText(
        "TitelText=T\nButOfflText=Off\nButOnlText=On\nButRunText=Run\nMessageTitel=MT\nMessageButOk=OK\n"
        "EmailAddress=a@b.de\nButNichtText=Nie\nButExitText=Ende\nMessage1=M1\nMessage2=M2");  // no line end
    EXPECT_EQ(std::vector<std::string>({s.titleText, s.offlineButtonText, s.onlineButtonText, s.runButtonText,
                                        s.noticeTitle, s.noticeButtonText, s.recipientAddress, s.optOutButtonText,
                                        s.exitButtonText, s.missingEntriesMessage, s.passwordMismatchMessage,
                                        s.reminderText, s.mailSubject}),
              std::vector<std::string>({"T", "Off", "On", "Run", "MT", "OK", "a@b.de", "Nie", "Ende", "M1", "M2", "",
                                        "Registrierung"}));
}

TEST(SettingsScan, ValueIsTheRestOfALineThatStartsWithTheKey) {
    const struct { std::string text; Field field; std::string value; } cases[] = {
        {"TitelText= a = b \n", &RunnerSettings::titleText, " a = b "},
        {"TitelText=\n", &RunnerSettings::titleText, ""},
        {" TitelText=x\n", &RunnerSettings::titleText, ""},
        {"titeltext=x\n", &RunnerSettings::titleText, ""},
        {"TitelText =x\n", &RunnerSettings::titleText, ""},
        {"\xEF\xBB\xBFTitelText=x\n", &RunnerSettings::titleText, ""},
        {"ButRunText=a\n[Sonst]\nButRunText=b\n", &RunnerSettings::runButtonText, "b"},
        {"", &RunnerSettings::recipientAddress, kDefaultRecipientAddress},
        {"EmailAddress=\n", &RunnerSettings::recipientAddress, ""},
        {"TitelText=a\0b\n"s, &RunnerSettings::titleText, "a\0b"s},
        {"\0TitelText=x\n"s, &RunnerSettings::titleText, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ScanText(c.text).*c.field, c.value) << c.text;
}

TEST(SettingsScan, CollectsTheRegTextBlock) {
    const struct { std::string text; std::string reminder, exitButton; } cases[] = {
        {"[RegText]\nA\n\nB\n", "A\r\n \r\nB", ""},
        {"[RegText]\n\nA", " \r\nA", ""},
        {"[RegText] hinten\nButExitText=Ende\n", "ButExitText=Ende", ""},
        {"[RegText]\nA\n[Sonst]\nButExitText=Ende\n", "A", "Ende"},
        {"[RegText]\nA\n[RegText]\nButExitText=Ende\nB\n", "A", "Ende"},
        {"[RegText]\nA\n[x]\n[RegText]\nB\n", "A\r\nB", ""},
        {"[RegText]\n[x]\nX\n[RegText]\nB\n", "B", ""},
        {"[RegText]\n\0x\n"s, "\0x"s, ""},
        {"[regtext]\nA\n", "", ""},
    };
    for (const auto& c : cases) {
        const RunnerSettings s = ScanText(c.text);
        EXPECT_EQ(s.reminderText, c.reminder) << c.text;
        EXPECT_EQ(s.exitButtonText, c.exitButton) << c.text;
    }
}

TEST(SettingsScan, ReadsLinesLongerThan64K) {
    const std::string title(70000, 'x');
    const RunnerSettings s = ScanText("TitelText=" + title + "\nButRunText=r\n");
    EXPECT_EQ(s.titleText, title);
    EXPECT_EQ(s.runButtonText, "r");
}

#ifdef __GLIBC__
// A stream that hands out its text once and then fails to read.
TEST(SettingsScan, StopsAtAReadErrorKeepingCompleteLines) {
    static const std::string text = "TitelText=t\nButRunText=abgeschnit";
    static size_t position;
    position = 0;
    cookie_io_functions_t io{};
    io.read = [](void*, char* buffer, size_t size) -> ssize_t {
        if (position == text.size()) return -1;
        const size_t n = std::min(size, text.size() - position);
        std::memcpy(buffer, text.data() + position, n);
        position += n;
        return static_cast<ssize_t>(n);
    };
    std::FILE* stream = fopencookie(nullptr, "r", io);
    ASSERT_NE(stream, nullptr);
    RunnerSettings s;
    ScanSettingsStream(stream, s);
    EXPECT_TRUE(std::ferror(stream));
    std::fclose(stream);
    EXPECT_EQ(s.titleText, "t");
    EXPECT_EQ(s.runButtonText, "");
}
#endif

TEST(ReadSettings, OpensScansAndLeavesSettingsAloneWhenMissing) {
    const std::string path = ::testing::TempDir() + "VelkRun_settings_test.ini";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("TitelText=Aus Datei\n", file);
    std::fclose(file);

    RunnerSettings settings;
    settings.titleText = "vorher";
    EXPECT_FALSE(ReadSettingsFrom(path + ".fehlt", settings));
    EXPECT_EQ(settings.titleText, "vorher");

    const std::string savedPath = settingsPath;
    const RunnerSettings savedSettings = runnerSettings;
    settingsPath = path;
    EXPECT_TRUE(ReadSettings());
    EXPECT_EQ(runnerSettings.titleText, "Aus Datei");
    settingsPath = savedPath;
    runnerSettings = savedSettings;
    std::remove(path.c_str());
}
