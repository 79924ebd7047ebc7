// VelkRun.exe with a "VelkRun.ini" nobody should ship: 50 MB of keys and reminder text, random
// bytes with zero bytes and no line ends, a directory of that name, a file another program
// holds locked. The runner shows what the scan found, or the program ends without a window.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "WinTest.h"
#include "framework/Guards.h"
#include "res/resource.h"
#include "robust_support.h"

using namespace wt;
using namespace robust;

namespace {

const int kButtons[] = {IDC_RUN_OFFLINE, IDC_RUN_ONLINE, IDC_RUN_NOMORE, IDC_RUN_PROGRAM, IDC_RUN_EXIT};

struct Captions {
    std::string title;
    std::string buttons[5];  // in the order of kButtons
    std::string reminder;
};

Captions Read(HWND runner) {
    Captions seen;
    seen.title = WindowText(runner);
    for (int i = 0; i < 5; ++i) seen.buttons[i] = ItemText(runner, kButtons[i]);
    seen.reminder = ItemText(runner, IDC_RUN_REMINDER);
    return seen;
}

// Bytes from a fixed seed, so a failure can be repeated.
class CRandomBytes {
public:
    explicit CRandomBytes(unsigned seed) : state_(seed) {}
    unsigned char Next() {
        state_ = state_ * 1103515245u + 12345u;
        return static_cast<unsigned char>(state_ >> 16);
    }
private:
    unsigned state_;
};

// `size` random bytes, every seventh one a zero byte, none a line end or Ctrl-Z.
std::string Junk(size_t size, unsigned seed) {
    CRandomBytes random(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        if (i % 7 == 3) continue;
        unsigned char b;
        do b = random.Next(); while (b == '\n' || b == '\r' || b == 0x1A);
        bytes[i] = static_cast<char>(b);
    }
    return bytes;
}

// Starts the long form (flag not set) and waits for the runner; `elapsedMs` gets the time it
// took to show.
HWND StartRunner(CVelkRun& run, DWORD* elapsedMs = nullptr, DWORD timeoutMs = 15000) {
    LongForm form;
    form.productProgram = run.Folder().Product();
    const DWORD start = GetTickCount();
    if (!run.Start(form.Args())) return nullptr;
    HWND runner = run.WaitWindow(timeoutMs);
    if (elapsedMs) *elapsedMs = GetTickCount() - start;
    return runner;
}

// Waits for the program to end; false when it showed a window on the way or did not end.
bool EndsWithoutWindow(CVelkRun& run, DWORD timeoutMs = 15000) {
    bool windowSeen = false;
    const bool ended = WaitUntil(
        [&] {
            if (!ProcessWindows(run.Pid()).empty()) windowSeen = true;
            return !run.Running();
        },
        timeoutMs, 10);
    return ended && run.Ended(0) && !windowSeen;
}

}  // namespace

TEST(BadSettings, FiftyMegabytesOfKeysAndReminderTextShowTheLastValuesInBoundedTime) {
    // Many rounds of every key, lines that only look like keys, then a reminder text block of
    // 20 MB whose lines look like keys too, then the values that must win.
    const size_t kTotal = 50u << 20;
    std::string ini;
    ini.reserve(kTotal + (1u << 20));
    char line[512];
    for (unsigned round = 0; ini.size() < 30u << 20; ++round) {
        const int length = std::snprintf(line, sizeof line,
                      "TitelText=Titel %u\r\nButOfflText=Offline %u\r\nButOnlText=Online %u\r\n"
                      "ButRunText=Start %u\r\nButNichtText=Nicht %u\r\nButExitText=Ende %u\r\n"
                      " TitelText=falsch\r\ntiteltext=falsch\r\n; Kommentar %u\r\n",
                      round, round, round, round, round, round, round);
        ASSERT_LT(length, static_cast<int>(sizeof line));  // a cut round would glue the next line on
        ini += line;
    }
    ini += "[RegText]\r\n";
    std::string reminder;
    const size_t blockStart = ini.size();
    for (unsigned n = 0; ini.size() - blockStart < 20u << 20; ++n) {
        std::snprintf(line, sizeof line, n % 1000 == 999 ? "TitelText=im Block %07u" : "Zeile %07u: Erinnerungstext \xFC\xE4\xF6\xDF "
                      "abcdefghijklmnopqrstuvwxyz 0123456789", n);
        if (!reminder.empty()) reminder += "\r\n";
        reminder += line;
        ini += line;
        ini += "\r\n";
    }
    ini += "[Ende]\r\n";
    ini += "TitelText=Letzter Titel\r\nButOfflText=Letztes Offline\r\nButOnlText=Letztes Online\r\n"
           "ButRunText=Letzter Start\r\nButNichtText=Letztes Nicht\r\nButExitText=Letztes Ende\r\n";
    while (ini.size() < kTotal) ini += "; Auff\xFCllung bis 50 MB\r\n";
    ASSERT_GE(ini.size(), kTotal);

    CVelkRun run(ini);
    ini.clear();
    ini.shrink_to_fit();
    DWORD elapsed = 0;
    const DWORD start = GetTickCount();
    HWND runner = StartRunner(run, &elapsed, 120000);
    ASSERT_NE(nullptr, runner);
    // Painted and ready for the user's input: the paint reads the whole reminder text.
    RedrawWindow(runner, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    ASSERT_TRUE(run.Idle(runner, 120000));
    const DWORD answering = GetTickCount() - start;
    std::printf("50 MB settings file: runner shown after %lu ms, painted and answering after %lu ms\n", elapsed,
                answering);
    // About 1.5 s under Wine on this machine; the bound leaves room for a busy one.
    EXPECT_LT(answering, 20000u);

    const Captions seen = Read(runner);
    EXPECT_EQ("Letzter Titel", seen.title);
    const char* const last[5] = {"Letztes Offline", "Letztes Online", "Letztes Nicht", "Letzter Start", "Letztes Ende"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(last[i], seen.buttons[i]) << kButtons[i];
    EXPECT_EQ(reminder.size(), seen.reminder.size());
    EXPECT_TRUE(seen.reminder == reminder) << "reminder text differs";
    SaveScreenshot(runner, "badinput_settings_50mb");
    EXPECT_TRUE(run.CloseAndEnd(runner));
}

TEST(BadSettings, RandomBytesZeroBytesAndOddLineEndsGiveWhatTheScanFinds) {
    static const char kZeroInValue[] = "TitelText=vor\0nach\r\nButExitText=Ende\r\n";
    struct Case {
        const char* name;
        std::string ini;
        Captions expected;
    };
    const Case cases[] = {
        {"1 MB of random bytes with zero bytes and no line end", Junk(1u << 20, 1), {}},
        {"random bytes, then a key on a line of its own", Junk(300000, 2) + "\nTitelText=Nach dem M\xFCll\n",
         {"Nach dem M\xFCll", {}, ""}},
        // The title is the whole rest of the line; a window shows it up to the zero byte.
        {"a zero byte inside a value", std::string(kZeroInValue, sizeof kZeroInValue - 1),
         {"vor", {"", "", "", "", "Ende"}, ""}},
        {"Ctrl-Z ends the file", "ButRunText=Los\r\n\x1A" "ButExitText=Nie\r\n", {"", {"", "", "", "Los", ""}, ""}},
        {"lone CRs are no line ends", "TitelText=A\rButRunText=B\r", {"A\rButRunText=B\r", {}, ""}},
        {"a reminder block without an end", "[RegText]\r\nZeile 1\r\n\r\nZeile 3", {"", {}, "Zeile 1\r\n \r\nZeile 3"}},
    };
    // All at once: each closing window costs Wine two seconds here.
    std::vector<std::unique_ptr<CVelkRun>> runs;
    std::vector<HWND> runners;
    for (const Case& c : cases) {
        runs.push_back(std::make_unique<CVelkRun>(c.ini));
        runners.push_back(StartRunner(*runs.back()));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        ASSERT_NE(nullptr, runners[i]);
        const Captions seen = Read(runners[i]);
        EXPECT_EQ(c.expected.title, seen.title);
        for (int b = 0; b < 5; ++b) EXPECT_EQ(c.expected.buttons[b], seen.buttons[b]) << kButtons[b];
        EXPECT_EQ(c.expected.reminder, seen.reminder);
        if (i == 0) SaveTopScreenshot(runners[i], "badinput_settings_random");
        PostMessageA(runners[i], WM_COMMAND, IDCANCEL, 0);
    }
    for (auto& run : runs) EXPECT_TRUE(run->Ended());
}

TEST(BadSettings, SettingsThatCannotBeOpenedEndWithoutWindowUnlessTheFlagIsSet) {
    CRegTestKey key;
    ASSERT_TRUE(key.SetDword("An", 1));
    ASSERT_TRUE(key.SetDword("Aus", 0));
    // A directory of that name, or a file held open without sharing; short form, or the long
    // form with the flag not set or set.
    for (bool directory : {true, false}) {
        for (const char* flag : {"", "Aus", "An"}) {
            SCOPED_TRACE(std::string(directory ? "directory" : "locked file") + ", " +
                         (*flag ? std::string("long form, flag ") + flag : std::string("short form")));
            CVelkRun run;
            fw::CHandle locked;
            if (directory) {
                ASSERT_TRUE(CreateDirectoryA(run.Folder().File("VelkRun.ini").c_str(), nullptr));
            } else {
                run.Folder().WriteIni("TitelText=Gesperrt\r\n");
                locked.Reset(CreateFileA(run.Folder().File("VelkRun.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                ASSERT_TRUE(locked.Valid());
            }
            LongForm form;
            form.regKey = key.Path();
            form.regValue = flag;
            form.productProgram = run.Folder().Product();
            ASSERT_TRUE(run.Start(*flag ? form.Args() : std::vector<std::string>{"A-1", "Titel"}));
            EXPECT_TRUE(EndsWithoutWindow(run));
            if (std::string(flag) == "An") {
                EXPECT_TRUE(WaitUntil([&] { return Lines(run.Folder().ProductLog()) == 1; }));
            } else {
                EXPECT_FALSE(WaitUntil([&] { return !run.Folder().ProductLog().empty(); }, 1000));
            }
        }
    }
}
