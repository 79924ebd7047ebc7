// Start-up benchmarks run from outside the programs: the opt-out route against a bare
// ShellExecuteExA program, the time to a visible, painted form and runner against each one's
// bare twin (the same template doing only what the window needs) and against an empty dialog,
// the peak working set with the window open, and the sizes of the built programs.
//   startup_bench --ini <VelkRun.ini> [--out <file>] [--pairs N] [--warmup N] [--velkrun <exe>]
//                 [--against <exe>] [--only optout,form_bare,runner_bare,form,runner,sizes]
// --velkrun measures another build of VelkRun (a modified copy) in place of the one beside
// this program; --against puts another VelkRun build in the baselines' place, with the same
// arguments, so two builds are compared side by side; --only runs just the named figures.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "WinTest.h"
#include "framework/Guards.h"

using bench::NowMs;

namespace {

const char kFlagValue[] = "NichtErinnern";

// One program start with its own process handle; the process is ended at the latest when
// this goes away, so a failed round cannot leave a window behind for the next.
class CStarted {
public:
    CStarted() = default;
    CStarted(const CStarted&) = delete;
    CStarted& operator=(const CStarted&) = delete;
    ~CStarted() {
        if (process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }
    bool Start(const std::string& commandLine, const std::string& cwd) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &pi))
            return false;
        process_.Reset(pi.hProcess);
        fw::CHandle thread(pi.hThread);
        pid_ = pi.dwProcessId;
        return true;
    }
    DWORD Pid() const { return pid_; }
    bool WaitExit(DWORD ms) const { return WaitForSingleObject(process_.Get(), ms) == WAIT_OBJECT_0; }

private:
    fw::CHandle process_;
    DWORD pid_ = 0;
};

bool AnyProcessNamed(const char* exeName) {
    fw::CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
        if (lstrcmpiA(entry.szExeFile, exeName) == 0) return true;
    return false;
}

// The folder every round runs in: VelkRun, the baselines and the stand-in product side by
// side, so every program starts from the same disk and the same Wine drive.
class CBenchFolder : public wt::CTempDir {
public:
    CBenchFolder(const std::string& ini, const std::string& velkRun, const std::string& against) {
        ok_ = !ini.empty() && CopyFileA(ini.c_str(), File("VelkRun.ini").c_str(), FALSE) &&
              CopyFileA(velkRun.c_str(), File("VelkRun.exe").c_str(), FALSE) &&
              (against.empty() || CopyFileA(against.c_str(), File("VelkRunB.exe").c_str(), FALSE));
        for (const char* exe : {"bench_product.exe", "shell_start.exe", "empty_dialog.exe", "bare_form.exe",
                                "bare_runner.exe"})
            ok_ = ok_ && CopyFileA((wt::BinDir() + exe).c_str(), File(exe).c_str(), FALSE);
    }
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

// ---- opt-out route ----------------------------------------------------------------------

class COptOutRound {
public:
    // `velkLine` and `baseLine` get the name of the event the product sets appended.
    COptOutRound(const CBenchFolder& folder, const std::string& velkLine, const std::string& baseLine)
        : folder_(folder),
          eventName_("VelkBenchStarted" + std::to_string(GetCurrentProcessId())),
          started_(CreateEventA(nullptr, FALSE, FALSE, eventName_.c_str())),
          velkLine_(velkLine + " " + eventName_),
          baseLine_(baseLine + " " + eventName_) {}

    // Milliseconds from CreateProcess to the product's first instruction; negative on failure.
    double Time(bool velk) const {
        ResetEvent(started_.Get());
        CStarted launcher;
        const double t0 = NowMs();
        if (!launcher.Start(velk ? velkLine_ : baseLine_, folder_.Path())) return -1;
        if (WaitForSingleObject(started_.Get(), 20000) != WAIT_OBJECT_0) return -1;
        const double t1 = NowMs();
        // The next round starts only once both programs are gone.
        if (!launcher.WaitExit(20000)) return -1;
        if (!wt::WaitUntil([] { return !AnyProcessNamed("bench_product.exe"); }, 20000, 2)) return -1;
        return t1 - t0;
    }

private:
    const CBenchFolder& folder_;
    std::string eventName_;
    fw::CHandle started_;
    std::string velkLine_, baseLine_;
};

// ---- visible window ---------------------------------------------------------------------

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid || !IsWindowVisible(hwnd)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

BOOL CALLBACK FindUnpainted(HWND child, LPARAM data) {
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(data) = true;
        return FALSE;
    }
    return TRUE;
}

// Visible, answering messages, and with nothing left to paint in it or its controls.
bool ShownAndPainted(HWND hwnd) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer)) return false;
    if (GetUpdateRect(hwnd, nullptr, FALSE)) return false;
    bool unpainted = false;
    EnumChildWindows(hwnd, FindUnpainted, reinterpret_cast<LPARAM>(&unpainted));
    return !unpainted;
}

struct Shown {
    double ms = -1;
    double peakWorkingSetKb = 0;
};

// Starts `commandLine`, stops the clock when its first top-level window is visible and
// painted, reads the peak working set while the window is open, then closes it.
Shown TimeToVisible(const std::string& commandLine, const std::string& cwd) {
    Shown shown;
    CStarted program;
    const double t0 = NowMs();
    if (!program.Start(commandLine, cwd)) return shown;
    WindowSearch search{program.Pid(), nullptr};
    const double deadline = t0 + 20000;
    while (NowMs() < deadline) {
        search.found = nullptr;
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
        if (search.found && ShownAndPainted(search.found)) break;
        if (program.WaitExit(0)) return shown;  // ended without a window
        Sleep(1);
    }
    if (!search.found || NowMs() >= deadline) return shown;
    const double t1 = NowMs();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    fw::CHandle queried(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program.Pid()));
    if (queried.Get() && GetProcessMemoryInfo(queried.Get(), &memory, sizeof memory))
        shown.peakWorkingSetKb = memory.PeakWorkingSetSize / 1024.0;
    PostMessageA(search.found, WM_CLOSE, 0, 0);
    if (!program.WaitExit(5000)) return shown;
    shown.ms = t1 - t0;
    return shown;
}

// ---- rounds -----------------------------------------------------------------------------

// Runs warm-up and measured pairs of `a` and `b`, alternating which goes first; false when
// any run failed.
bool Pairs(const bench::Rounds& rounds, const std::function<bool(bool, double&, double&)>& run,
           std::vector<double>& a, std::vector<double>& b, std::vector<double>& aExtra,
           std::vector<double>& bExtra) {
    for (int i = 0; i < rounds.warmup + rounds.pairs; ++i) {
        double ta = 0, tb = 0, xa = 0, xb = 0;
        const bool aFirst = i % 2 == 0;
        bool ok = true;
        if (aFirst) {
            ok = run(true, ta, xa) && run(false, tb, xb);
        } else {
            ok = run(false, tb, xb) && run(true, ta, xa);
        }
        if (!ok) return false;
        if (i < rounds.warmup) continue;
        a.push_back(ta);
        b.push_back(tb);
        aExtra.push_back(xa);
        bExtra.push_back(xb);
        std::fprintf(stderr, ".");
    }
    std::fprintf(stderr, "\n");
    return true;
}

// ---- sizes ------------------------------------------------------------------------------

unsigned long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

unsigned long ResourceSize(HMODULE module, LPCSTR type, WORD id) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    if (!found) found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    return found ? SizeofResource(module, found) : 0;
}

// Raw size of a section of a PE file loaded as data; 0 when it has none of that name.
unsigned long SectionSize(HMODULE module, const char* name) {
    // A module loaded as data file has its handle's low bit set; the image starts below it.
    const auto address = reinterpret_cast<ULONG_PTR>(module) & ~static_cast<ULONG_PTR>(3);
    const auto* base = reinterpret_cast<const BYTE*>(address);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const char* sectionName = reinterpret_cast<const char*>(section->Name);
        if (std::string(sectionName, strnlen(sectionName, sizeof section->Name)) == name) return section->SizeOfRawData;
    }
    return 0;
}

void Sizes(bench::CResults& out, const std::string& velk) {
    const unsigned long long total = FileSize(velk);
    out.Bytes("size.velkrun", total);
    fw::CLibrary image(LoadLibraryExA(velk.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (image.Get()) {
        // The runner's background (bitmap 140) and the printed logo (USER 139).
        const unsigned long pictures = ResourceSize(image.Get(), MAKEINTRESOURCEA(2) /* RT_BITMAP */, 140) +
                                       ResourceSize(image.Get(), "USER", 139);
        out.Bytes("size.velkrun.pictures", pictures);
        out.Bytes("size.velkrun.nopictures", total - pictures);
        out.Bytes("size.velkrun.text", SectionSize(image.Get(), ".text"));
        out.Bytes("size.velkrun.rsrc", SectionSize(image.Get(), ".rsrc"));
    } else {
        out.Fail("size.velkrun.nopictures", "VelkRun.exe could not be loaded as data");
    }
    out.Bytes("size.startstub", FileSize(wt::BinDir() + "startstub.exe"));
    out.Bytes("size.empty_dialog", FileSize(wt::BinDir() + "empty_dialog.exe"));
    out.Bytes("size.shell_start", FileSize(wt::BinDir() + "shell_start.exe"));
    out.Bytes("size.bare_form", FileSize(wt::BinDir() + "bare_form.exe"));
    out.Bytes("size.bare_runner", FileSize(wt::BinDir() + "bare_runner.exe"));
}

// VelkRun's long form with the flag value under `key`; the product's parameters follow.
std::string LongFormArguments(const wt::CRegTestKey& key, const CBenchFolder& folder) {
    return " " + wt::Quote(key.Path()) + " " + kFlagValue +
           " \"https://www.velk-media.de/registrierung\" VM-2027-ATL \"VELK Media Atlas 2027\" " +
           wt::Quote(folder.File("bench_product.exe"));
}

const char kShortFormArguments[] = " VM-2027-ATL \"VELK Media Atlas 2027\"";

}  // namespace

int main(int argc, char** argv) {
    const bench::Rounds rounds = bench::ReadRounds(argc, argv);
    const std::string outPath = bench::OptionValue(argc, argv, "--out");
    bench::CResults out(outPath.empty() ? nullptr : outPath.c_str());
    if (!out.Ok()) return 2;
    std::string velkRun = bench::OptionValue(argc, argv, "--velkrun");
    if (velkRun.empty()) velkRun = wt::BinDir() + "VelkRun.exe";
    const std::string against = bench::OptionValue(argc, argv, "--against");
    const CBenchFolder folder(bench::OptionValue(argc, argv, "--ini"), velkRun, against);
    if (!folder.Ok()) {
        std::fprintf(stderr, "startup_bench: the programs or --ini could not be copied\n");
        return 2;
    }
    const std::string only = "," + bench::OptionValue(argc, argv, "--only") + ",";
    const auto wanted = [&](const char* id) {
        return only == ",," || only.find(std::string(",") + id + ",") != std::string::npos;
    };
    const std::string velk = wt::Quote(folder.File("VelkRun.exe"));
    const std::string other = wt::Quote(folder.File("VelkRunB.exe"));
    if (wanted("sizes")) Sizes(out, velkRun);

    // Opt-out: the flag set in a test key of its own.
    if (wanted("optout")) {
        wt::CRegTestKey key;
        key.SetDword(kFlagValue, 1);
        const std::string product = wt::Quote(folder.File("bench_product.exe"));
        COptOutRound round(folder, velk + LongFormArguments(key, folder),
                           against.empty() ? wt::Quote(folder.File("shell_start.exe")) + " " + product
                                           : other + LongFormArguments(key, folder));
        std::vector<double> a, b, unusedA, unusedB;
        std::fprintf(stderr, "opt-out route ");
        if (Pairs(rounds, [&](bool isA, double& t, double&) { return (t = round.Time(isA)) >= 0; }, a, b,
                  unusedA, unusedB))
            out.Ratio("optout", a, b);
        else
            out.Fail("optout", "the stand-in product did not start");
    }

    const auto visible = [&](const char* id, const std::string& arguments, const char* baseline) {
        const std::string lineA = velk + arguments;
        const std::string lineB = against.empty() ? wt::Quote(folder.File(baseline)) : other + arguments;
        std::vector<double> a, b, wsA, wsB;
        std::fprintf(stderr, "%s ", id);
        const bool ok = Pairs(
            rounds,
            [&](bool isA, double& t, double& ws) {
                const Shown shown = TimeToVisible(isA ? lineA : lineB, folder.Path());
                t = shown.ms;
                ws = shown.peakWorkingSetKb;
                return shown.ms >= 0;
            },
            a, b, wsA, wsB);
        if (!ok) {
            out.Fail(id, "no visible window");
            return;
        }
        out.Ratio(id, a, b);
        out.Ratio((std::string(id) + ".peakws").c_str(), wsA, wsB);
    };
    // Short form: the registration form at once. Long form without the flag: the runner.
    wt::CRegTestKey noFlag;
    const std::string runnerArguments = LongFormArguments(noFlag, folder) + " unused";
    if (wanted("form_bare")) visible("form_bare", kShortFormArguments, "bare_form.exe");
    if (wanted("runner_bare")) visible("runner_bare", runnerArguments, "bare_runner.exe");
    if (wanted("form")) visible("form", kShortFormArguments, "empty_dialog.exe");
    if (wanted("runner")) visible("runner", runnerArguments, "empty_dialog.exe");
    return 0;
}
