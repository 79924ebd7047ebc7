// The reminder window of the real VelkRun.exe (long form): its captions, and what each of its
// buttons and keys does to the registry, the product program, the online target and the form.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "WinTest.h"
#include "res/resource.h"

using namespace wt;

namespace {

const int kButtons[] = {IDC_RUN_OFFLINE, IDC_RUN_ONLINE, IDC_RUN_NOMORE, IDC_RUN_PROGRAM, IDC_RUN_EXIT};

// A reminder line far wider than the label, and "&&" that must show as one "&".
const char kReminder[] =
    "Vielen Dank f\xFCr Ihren Kauf!\r\n"
    " \r\n"
    "Aktualisierungen && Kartenpflege - diese Zeile ist so lang, dass sie am rechten Rand des "
    "Fensters abgeschnitten wird und nicht umbricht, egal wie viel Text noch folgt: ENDE\r\n"
    "Registrieren Sie sich jetzt.";

const char kFullIni[] =
    "TitelText=Atlas 2027 - Registrierung\r\n"
    "ButOfflText=Registrieren offline\r\n"
    "ButOnlText=Registrieren online\r\n"
    "ButNichtText=nicht mehr erinnern\r\n"
    "ButRunText=Programm starten\r\n"
    "ButExitText=Beenden\r\n"
    "[RegText]\r\n"
    "Vielen Dank f\xFCr Ihren Kauf!\r\n"
    "\r\n"
    "Aktualisierungen && Kartenpflege - diese Zeile ist so lang, dass sie am rechten Rand des "
    "Fensters abgeschnitten wird und nicht umbricht, egal wie viel Text noch folgt: ENDE\r\n"
    "Registrieren Sie sich jetzt.\r\n"
    "[Ende]\r\n";

struct LongForm {
    std::string regKey;
    std::string regValue = "Optout";
    std::string onlineTarget;
    std::string productProgram;
    std::string productParameters;
};

std::string CommandLine(const CProductFolder& folder, const LongForm& form) {
    std::string line = Quote(folder.VelkRun()) + " " + Quote(form.regKey) + " " + Quote(form.regValue) + " " +
                       Quote(form.onlineTarget) + " " + Quote("A-2027") + " " + Quote("Atlas 2027") + " " +
                       Quote(form.productProgram);
    if (!form.productParameters.empty()) line += " " + Quote(form.productParameters);
    return line;
}

// Starts the long form in the product folder and waits for the runner.
HWND StartRunner(CProcess& process, const CProductFolder& folder, const LongForm& form) {
    if (!process.Start(folder.VelkRun(), CommandLine(folder, form), folder.Path())) return nullptr;
    return WaitForWindow(process.Pid());
}

void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Clicks and returns once the runner has handled it (no modal window may open on the way).
void ClickAndWait(HWND dialog, int id) {
    DWORD_PTR ignored;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

// Number of values under HKLM\path; -1 when the key does not exist.
int ValueCount(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return -1;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return static_cast<int>(values);
}

int LineCount(const std::string& log) { return static_cast<int>(std::count(log.begin(), log.end(), '\n')); }

// A copy of the stand-in in its own folder, so its log tells online starts from product starts.
struct OnlineRecorder {
    explicit OnlineRecorder(const CProductFolder& folder) : dir(folder.File("online")) {
        CreateDirectoryA(dir.c_str(), nullptr);
        CopyFileA((BinDir() + "product_standin.exe").c_str(), Program().c_str(), FALSE);
    }
    std::string Program() const { return dir + "\\register.exe"; }
    std::string Log() const { return ReadFileBytes(dir + "\\product.log"); }
    std::string dir;
};

}  // namespace

TEST(Runner, CaptionsComeFromSettingsAndMissingOnesStayEmpty) {
    struct Case {
        const char* name;
        const char* ini;
        const char* title;
        const char* reminder;
        const char* texts[5];  // in the order of kButtons
    };
    const Case cases[] = {
        {"runner", kFullIni, "Atlas 2027 - Registrierung", kReminder,
         {"Registrieren offline", "Registrieren online", "nicht mehr erinnern", "Programm starten", "Beenden"}},
        // Only one key: the template texts ("VelkRunner", "Static", ...) must not show.
        {"runner_empty_captions", "ButRunText=Los\r\n", "", "", {"", "", "", "Los", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProductFolder folder;
        folder.WriteIni(c.ini);
        LongForm form;
        form.productProgram = folder.Product();
        CProcess process;
        HWND runner = StartRunner(process, folder, form);
        ASSERT_NE(nullptr, runner);
        EXPECT_EQ(c.title, WindowText(runner));
        EXPECT_EQ(c.reminder, ItemText(runner, IDC_RUN_REMINDER));
        for (size_t i = 0; i < 5; ++i) EXPECT_EQ(c.texts[i], ItemText(runner, kButtons[i])) << kButtons[i];
        // Keyboard focus starts on the first button.
        EXPECT_EQ(GetDlgItem(runner, IDC_RUN_OFFLINE), FocusOf(runner));
        SaveScreenshot(runner, c.name);
        ClickAndWait(runner, IDC_RUN_EXIT);
        EXPECT_TRUE(process.WaitExit());
    }
}

TEST(Runner, ChangedReminderTextIsPaintedOverThePicture) {
    CProductFolder folder;
    folder.WriteIni(kFullIni);
    LongForm form;
    CProcess process;
    HWND runner = StartRunner(process, folder, form);
    ASSERT_NE(nullptr, runner);
    // A shorter text must not leave the old letters behind it (look at the screenshot).
    SendMessageA(GetDlgItem(runner, IDC_RUN_REMINDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Kurz && knapp"));
    EXPECT_EQ("Kurz && knapp", ItemText(runner, IDC_RUN_REMINDER));
    SaveScreenshot(runner, "runner_changed_text");
    ClickAndWait(runner, IDC_RUN_EXIT);
    EXPECT_TRUE(process.WaitExit());
}

// Minimised and restored, the runner comes back whole. What a minimised runner paints (its
// icon, centred) is not looked at: Windows with a taskbar parks a minimised top-level window
// off the screen, and Wine's desktop shows it as a bare caption bar without a client area, so
// neither lets a screenshot see it.
TEST(Runner, MinimisedRunnerComesBackWhole) {
    CProductFolder folder;
    folder.WriteIni(kFullIni);
    LongForm form;
    CProcess process;
    HWND runner = StartRunner(process, folder, form);
    ASSERT_NE(nullptr, runner);
    // The dialog box shows its window normally when its queue first runs empty, which would
    // undo a minimise that came earlier; no user can click that early.
    ASSERT_TRUE(process.WaitIdle());
    RECT before = {}, after = {};
    GetClientRect(runner, &before);
    // As the caption's button does it: the runner's own thread minimises and restores, so
    // each is done when the message returns.
    DWORD_PTR ignored;
    ASSERT_TRUE(SendMessageTimeoutA(runner, WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_NORMAL, 10000, &ignored));
    EXPECT_TRUE(IsIconic(runner));
    ASSERT_TRUE(SendMessageTimeoutA(runner, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_NORMAL, 10000, &ignored));
    EXPECT_FALSE(IsIconic(runner));
    GetClientRect(runner, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    // Back to the picture and the text.
    SaveScreenshot(runner, "runner_restored");
    EXPECT_EQ(kReminder, ItemText(runner, IDC_RUN_REMINDER));
    ClickAndWait(runner, IDC_RUN_EXIT);
    EXPECT_TRUE(process.WaitExit());
}

TEST(Runner, RemindNoMoreWritesFlagDisablesThreeButtonsAndNextStartSkipsRunner) {
    // Both buttons that stay enabled must still do their job afterwards.
    for (int closer : {IDC_RUN_PROGRAM, IDC_RUN_EXIT}) {
        SCOPED_TRACE(closer);
        CProductFolder folder;
        folder.WriteIni(kFullIni);
        CRegTestKey base;
        LongForm form;
        form.regKey = base.Path() + "\\Atlas";  // does not exist yet: created
        form.productProgram = folder.Product();
        form.productParameters = "/lang de";
        {
            CProcess process;
            HWND runner = StartRunner(process, folder, form);
            ASSERT_NE(nullptr, runner);
            ClickAndWait(runner, IDC_RUN_NOMORE);

            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, form.regKey.c_str(), &key));
            DWORD type = 0, value = 0, size = sizeof value;
            EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Optout", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
            RegCloseKey(key);
            EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
            EXPECT_EQ(4u, size);
            EXPECT_EQ(1u, value);

            EXPECT_FALSE(Enabled(runner, IDC_RUN_NOMORE));
            EXPECT_FALSE(Enabled(runner, IDC_RUN_OFFLINE));
            EXPECT_FALSE(Enabled(runner, IDC_RUN_ONLINE));
            EXPECT_TRUE(Enabled(runner, IDC_RUN_PROGRAM));
            EXPECT_TRUE(Enabled(runner, IDC_RUN_EXIT));
            // The focus left the disabled buttons for one the keyboard can still use.
            EXPECT_EQ(GetDlgItem(runner, IDC_RUN_PROGRAM), FocusOf(runner));
            EXPECT_TRUE(process.Running());
            SaveScreenshot(runner, "runner_reminder_off");

            Click(runner, closer);
            EXPECT_TRUE(process.WaitExit());
            EXPECT_EQ(0u, process.ExitCode());
            if (closer == IDC_RUN_PROGRAM) {
                EXPECT_TRUE(WaitUntil([&] { return LineCount(folder.ProductLog()) == 1; }));
            } else {
                EXPECT_EQ("", folder.ProductLog());
            }
        }
        const int startsBefore = LineCount(folder.ProductLog());
        CProcess next;
        ASSERT_TRUE(next.Start(folder.VelkRun(), CommandLine(folder, form), folder.Path()));
        EXPECT_TRUE(next.WaitExit());
        EXPECT_TRUE(ProcessWindows(next.Pid()).empty());
        EXPECT_TRUE(WaitUntil([&] { return LineCount(folder.ProductLog()) == startsBefore + 1; }));
        EXPECT_NE(std::string::npos, folder.ProductLog().find("/lang de")) << folder.ProductLog();
    }
}

TEST(Runner, RemindNoMoreWithoutAWrittenFlagDisablesNothing) {
    CRegTestKey base;
    const std::string uniqueValue = "VelkOptout" + std::to_string(GetCurrentProcessId());
    struct Case {
        const char* name;
        std::string regKey;
        std::string regValue;
        std::string checkedKey;  // where nothing may have been written
        int valuesAfter;         // values found there afterwards; -1: the key does not exist
    };
    const Case cases[] = {
        {"empty value name", base.Path(), "", base.Path(), 0},
        {"empty key", "", uniqueValue, "", -2},  // HKLM itself: checked by name below
        // HKLM\HARDWARE is volatile: a lasting sub-key cannot be created under it.
        {"key cannot be created", "HARDWARE\\VelkTest" + std::to_string(GetCurrentProcessId()), "Optout",
         "HARDWARE\\VelkTest" + std::to_string(GetCurrentProcessId()), -1},
        // The key opens, but a value name this long is refused: the write fails.
        {"value cannot be written", base.Path() + "\\Atlas", std::string(16400, 'v'), base.Path() + "\\Atlas", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProductFolder folder;
        folder.WriteIni(kFullIni);
        LongForm form;
        form.regKey = c.regKey;
        form.regValue = c.regValue;
        form.productProgram = folder.Product();
        CProcess process;
        HWND runner = StartRunner(process, folder, form);
        ASSERT_NE(nullptr, runner);
        ClickAndWait(runner, IDC_RUN_NOMORE);
        for (int id : kButtons) EXPECT_TRUE(Enabled(runner, id)) << id;
        if (c.valuesAfter == -2) {
            HKEY root = HKEY_LOCAL_MACHINE;
            EXPECT_NE(ERROR_SUCCESS, RegQueryValueExA(root, uniqueValue.c_str(), nullptr, nullptr, nullptr, nullptr));
        } else {
            EXPECT_EQ(c.valuesAfter, ValueCount(c.checkedKey));
        }
        EXPECT_TRUE(process.Running());
        ClickAndWait(runner, IDC_RUN_EXIT);
        EXPECT_TRUE(process.WaitExit());
    }
}

TEST(Runner, StartProgramStartsProductAndClosesOnlyOnSuccess) {
    struct Case {
        const char* name;
        const char* program;  // "" = the stand-in; otherwise as given
        const char* parameters;
        bool starts;
    };
    const Case cases[] = {
        {"with parameters", nullptr, "-mode demo \\\"C:\\Eigene Dateien\\\" /x", true},
        {"without parameters", nullptr, "", true},
        {"missing program", "gibt-es-nicht.exe", "", false},
        {"empty program", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProductFolder folder;
        folder.WriteIni(kFullIni);
        LongForm form;
        form.productProgram = c.program ? c.program : folder.Product();
        form.productParameters = c.parameters;
        CProcess process;
        HWND runner = StartRunner(process, folder, form);
        ASSERT_NE(nullptr, runner);
        Click(runner, IDC_RUN_PROGRAM);
        if (c.starts) {
            EXPECT_TRUE(process.WaitExit());
            EXPECT_EQ(0u, process.ExitCode());
            ASSERT_TRUE(WaitUntil([&] { return LineCount(folder.ProductLog()) == 1; }));
            // The backslash-quotes of the command line reach the product as plain quotes.
            if (*c.parameters) {
                EXPECT_NE(std::string::npos, folder.ProductLog().find("-mode demo \"C:\\Eigene Dateien\" /x"))
                    << folder.ProductLog();
            }
        } else {
            // The shell may complain in a box of its own over the runner; that is not ours.
            HWND box = WaitForOwnedWindow(process.Pid(), runner, 3000);
            if (box) {
                SaveScreenshot(box, "runner_shell_error");
                PostMessageA(box, WM_CLOSE, 0, 0);
                EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
            }
            EXPECT_FALSE(process.WaitExit(1000));
            EXPECT_TRUE(IsWindowVisible(runner));
            EXPECT_EQ("", folder.ProductLog());
            ClickAndWait(runner, IDC_RUN_EXIT);
            EXPECT_TRUE(process.WaitExit());
        }
    }
}

TEST(Runner, RegisterOnlineOpensTargetEachTimeAndNothingWithoutTarget) {
    CProductFolder folder;
    folder.WriteIni(kFullIni);
    OnlineRecorder recorder(folder);
    {
        LongForm form;
        form.onlineTarget = recorder.Program();
        form.productProgram = folder.Product();
        CProcess process;
        HWND runner = StartRunner(process, folder, form);
        ASSERT_NE(nullptr, runner);
        ClickAndWait(runner, IDC_RUN_ONLINE);
        EXPECT_TRUE(WaitUntil([&] { return LineCount(recorder.Log()) == 1; }));
        ClickAndWait(runner, IDC_RUN_ONLINE);
        EXPECT_TRUE(WaitUntil([&] { return LineCount(recorder.Log()) == 2; })) << recorder.Log();
        EXPECT_TRUE(process.Running());
        EXPECT_TRUE(IsWindowEnabled(runner));
        EXPECT_EQ("", folder.ProductLog());
        ClickAndWait(runner, IDC_RUN_EXIT);
        EXPECT_TRUE(process.WaitExit());
    }
    {
        LongForm form;  // empty target
        form.productProgram = folder.Product();
        CProcess process;
        HWND runner = StartRunner(process, folder, form);
        ASSERT_NE(nullptr, runner);
        const std::vector<HWND> before = VisibleTopLevelWindows();
        ClickAndWait(runner, IDC_RUN_ONLINE);
        // Nothing may open: no box over the runner, no other window anywhere.
        EXPECT_EQ(nullptr, WaitForOwnedWindow(process.Pid(), runner, 1500));
        EXPECT_EQ(before, VisibleTopLevelWindows());
        EXPECT_TRUE(IsWindowEnabled(runner));
        EXPECT_EQ(2, LineCount(recorder.Log()));
        ClickAndWait(runner, IDC_RUN_EXIT);
        EXPECT_TRUE(process.WaitExit());
    }
}

TEST(Runner, RegisterOfflineOpensFormModallyAgainAndAgain) {
    CProductFolder folder;
    folder.WriteIni(kFullIni);
    LongForm form;
    form.productProgram = folder.Product();
    CProcess process;
    HWND runner = StartRunner(process, folder, form);
    ASSERT_NE(nullptr, runner);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Click(runner, IDC_RUN_OFFLINE);
        HWND registration = WaitForOwnedWindow(process.Pid(), runner);
        ASSERT_NE(nullptr, registration);
        EXPECT_EQ("A-2027", ItemText(registration, IDC_REG_ARTICLE));
        EXPECT_FALSE(IsWindowEnabled(runner));
        if (round == 1) SaveScreenshot(registration, "runner_offline_form");
        PostMessageA(registration, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(registration); }));
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(runner) != FALSE; }));
        EXPECT_TRUE(process.Running());
    }
    ClickAndWait(runner, IDC_RUN_EXIT);
    EXPECT_TRUE(process.WaitExit());
}

TEST(Runner, EscapeAndExitEndTheProgram) {
    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "Beenden");
        CProductFolder folder;
        folder.WriteIni(kFullIni);
        LongForm form;
        form.productProgram = folder.Product();
        CProcess process;
        HWND runner = StartRunner(process, folder, form);
        ASSERT_NE(nullptr, runner);
        if (escape) {
            // The key goes where the user's would: to the focused button, through the dialog loop.
            HWND focus = FocusOf(runner);
            ASSERT_NE(nullptr, focus);
            PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 1);
            PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        } else {
            Click(runner, IDC_RUN_EXIT);
        }
        EXPECT_TRUE(process.WaitExit());
        EXPECT_EQ(0u, process.ExitCode());
        EXPECT_EQ("", folder.ProductLog());
    }
}
