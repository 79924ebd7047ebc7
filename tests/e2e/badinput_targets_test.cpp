// Product programs and online targets that do not exist or cannot be opened, on the real
// VelkRun.exe: the runner stays and works on, the opt-out route still ends. Wine's shell may
// say so in a box of its own; the test reads and closes it like a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "WinTest.h"
#include "res/resource.h"
#include "robust_support.h"

using namespace wt;
using namespace robust;

namespace {

const char kIni[] = "TitelText=Erinnerung\r\nButRunText=Programm starten\r\nButExitText=Beenden\r\n";

struct Target {
    const char* name;
    std::string path;  // "<folder>" stands for the product folder
};

// Targets that cannot be started, each for another reason.
std::vector<Target> Targets() {
    return {
        {"missing program, full path", "C:\\nirgends\\produkt.exe"},
        {"missing program, bare name", "gibt-es-nicht-velk.exe"},
        {"file of a type nothing opens", "<folder>\\daten.velkunbekannt"},
        {"URL of an unknown scheme", "velkunbekannt:registrieren"},
        {"characters no file name may hold", "C:\\nir<gends>\\pro|dukt?.exe"},
    };
}

std::string Resolve(const std::string& path, const CProductFolder& folder) {
    const std::string placeholder = "<folder>";
    return path.compare(0, placeholder.size(), placeholder) == 0 ? folder.Path() + path.substr(placeholder.size())
                                                                 : path;
}

// Whether `window` is a runner of ours and not a box of the shell's.
bool IsRunner(HWND window) { return GetDlgItem(window, IDC_RUN_OFFLINE) != nullptr; }

// `text` without the line end a system message carries.
std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::vector<HWND> NewWindows(const std::vector<HWND>& before) {
    std::vector<HWND> added;
    for (HWND hwnd : VisibleTopLevelWindows())
        if (std::find(before.begin(), before.end(), hwnd) == before.end()) added.push_back(hwnd);
    return added;
}

}  // namespace

TEST(BadTargets, RunnerStaysAndWorksWhenProgramOrOnlineTargetCannotBeStarted) {
    const std::vector<Target> targets = Targets();
    for (int button : {IDC_RUN_PROGRAM, IDC_RUN_ONLINE}) {
        const char* const buttonName = button == IDC_RUN_PROGRAM ? "Programm starten" : "Registrieren online";
        // One runner per target, all at once: every closing window costs Wine two seconds here.
        const std::vector<HWND> before = VisibleTopLevelWindows();
        std::vector<std::unique_ptr<CVelkRun>> runs;
        std::vector<HWND> runners;
        for (const Target& target : targets) {
            runs.push_back(std::make_unique<CVelkRun>(kIni));
            CVelkRun& run = *runs.back();
            WriteFileBytes(run.Folder().File("daten.velkunbekannt"), "Daten");
            LongForm form;
            form.productProgram = run.Folder().Product();
            form.onlineTarget = "C:\\nirgends\\anmelden.htm";
            (button == IDC_RUN_PROGRAM ? form.productProgram : form.onlineTarget) = Resolve(target.path, run.Folder());
            ASSERT_TRUE(run.Start(form.Args())) << target.name;
        }
        for (auto& run : runs) {
            runners.push_back(run->WaitWindow());
            ASSERT_NE(nullptr, runners.back());
        }
        // Each button twice: the runner must work on after a failure.
        for (int press = 1; press <= 2; ++press) {
            for (HWND runner : runners) PostMessageA(GetDlgItem(runner, button), BM_CLICK, 0, 0);
            std::vector<HWND> boxes;
            for (size_t i = 0; i < runs.size(); ++i) {
                SCOPED_TRACE(std::string(buttonName) + ": " + targets[i].name);
                const ShellBox box =
                    CloseShellBox(runs[i]->Pid(), {runners[i]}, "badinput_targets_shell_box", 5000, false);
                if (box.box) {
                    boxes.push_back(box.box);
                    EXPECT_EQ(runners[i], box.owner) << box.text;
                }
                if (press == 1) std::printf("%s, %s: %s\n", buttonName, targets[i].name,
                                            box.box ? ("the shell says \"" + Trimmed(box.text) + "\"").c_str() : "nothing shown");
            }
            ASSERT_TRUE(WaitUntil([&] {
                return std::none_of(boxes.begin(), boxes.end(), [](HWND box) { return IsWindow(box) != FALSE; });
            }));
            for (size_t i = 0; i < runs.size(); ++i) {
                SCOPED_TRACE(std::string(buttonName) + ": " + targets[i].name);
                ASSERT_TRUE(runs[i]->Idle(runners[i]));
                EXPECT_TRUE(IsWindowEnabled(runners[i]));
                EXPECT_TRUE(runs[i]->Running());
                EXPECT_EQ("", runs[i]->Folder().ProductLog());
            }
        }
        // Nothing else opened anywhere.
        std::vector<HWND> added = NewWindows(before), expected = runners;
        std::sort(added.begin(), added.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, added);
        for (HWND runner : runners) PostMessageA(GetDlgItem(runner, IDC_RUN_EXIT), BM_CLICK, 0, 0);
        for (auto& run : runs) EXPECT_TRUE(run->Ended());
    }
}

TEST(BadTargets, OptedOutRouteWithAProductThatCannotBeStartedStillEnds) {
    CRegTestKey key;
    ASSERT_TRUE(key.SetDword("Optout", 1));
    std::vector<Target> targets = Targets();
    targets.push_back({"empty product program", ""});
    for (const Target& target : targets) {
        SCOPED_TRACE(target.name);
        CVelkRun run;  // no settings: the opt-out route does not read them
        WriteFileBytes(run.Folder().File("daten.velkunbekannt"), "Daten");
        LongForm form;
        form.regKey = key.Path();
        form.productProgram = Resolve(target.path, run.Folder());
        form.productParameters = "-x";
        const std::vector<HWND> before = VisibleTopLevelWindows();
        ASSERT_TRUE(run.Start(form.Args()));
        // Whatever shows is the shell's complaint, never a runner; once it is closed the
        // program ends.
        bool runnerSeen = false;
        ASSERT_TRUE(WaitUntil([&] {
            for (HWND window : ProcessWindows(run.Pid())) {
                if (IsRunner(window)) {
                    runnerSeen = true;
                } else if (ClassName(window) == "#32770") {
                    const ShellBox box = CloseShellBox(run.Pid(), {}, "badinput_targets_optout_shell_box", 0);
                    EXPECT_EQ(nullptr, box.owner) << box.text;
                    std::printf("opt-out route, %s: the shell says \"%s\"\n", target.name, Trimmed(box.text).c_str());
                }
            }
            return !run.Running();
        }, 20000)) << "the program did not end";
        EXPECT_FALSE(runnerSeen);
        EXPECT_TRUE(run.Ended(0));
        EXPECT_TRUE(NewWindows(before).empty());
        EXPECT_EQ("", run.Folder().ProductLog());
    }
}
