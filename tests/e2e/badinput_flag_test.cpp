// The opt-out flag of the real VelkRun.exe under registry data of every type and of sizes
// from nothing to four times the read buffer: the product starts when the data says "set",
// the runner shows otherwise, and either way the program ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "WinTest.h"
#include "robust_support.h"

using namespace wt;
using namespace robust;

namespace {

const char kIni[] = "TitelText=Erinnerung\r\nButExitText=Beenden\r\n";

// Texts are read as numbers; every other type by its first byte.
enum class Reading { Text, FirstByte };

struct TypeRow {
    DWORD type;
    const char* name;
    Reading reading;
};

const TypeRow kTypes[] = {
    {REG_NONE, "REG_NONE", Reading::FirstByte},
    {REG_SZ, "REG_SZ", Reading::Text},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", Reading::Text},
    {REG_BINARY, "REG_BINARY", Reading::FirstByte},
    {REG_DWORD, "REG_DWORD", Reading::FirstByte},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN", Reading::FirstByte},
    {REG_LINK, "REG_LINK", Reading::FirstByte},
    {REG_MULTI_SZ, "REG_MULTI_SZ", Reading::Text},
    {REG_RESOURCE_LIST, "REG_RESOURCE_LIST", Reading::FirstByte},
    {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR", Reading::FirstByte},
    {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST", Reading::FirstByte},
    {REG_QWORD, "REG_QWORD", Reading::FirstByte},
    {0x4B4C4556, "type unknown to Windows", Reading::FirstByte},
};

// The flag is read into 1024 bytes: anything longer does not fit and counts as not set.
const DWORD kSizes[] = {0, 1, 3, 4, 1023, 1024, 1025, 4096};

// Data patterns, each `size` bytes long:
//   Digits      "1111..."           a number for texts, a non-zero first byte for the rest
//   Letter      "x111..."           no number (0) for texts, a non-zero first byte for the rest
//   ZeroFirst   "\0" "111..."       an empty first text, a zero first byte
//   BlankSign   "  -7x..."          a number after blanks and a sign for texts, a blank first byte
enum class Pattern { Digits, Letter, ZeroFirst, BlankSign };

std::string Data(Pattern pattern, DWORD size) {
    std::string data(size, '1');
    if (size == 0) return data;
    switch (pattern) {
    case Pattern::Digits: break;
    case Pattern::Letter: data[0] = 'x'; break;
    case Pattern::ZeroFirst: data[0] = '\0'; break;
    case Pattern::BlankSign: {
        const std::string head = "  -7x";
        data.replace(0, size < head.size() ? size : head.size(), head.substr(0, size));
        break;
    }
    }
    return data;
}

const char* PatternName(Pattern pattern) {
    switch (pattern) {
    case Pattern::Digits: return "digits";
    case Pattern::Letter: return "letter first";
    case Pattern::ZeroFirst: return "zero byte first";
    case Pattern::BlankSign: return "blanks, sign, digit";
    }
    return "";
}

// The expected outcome, written out per pattern: which sizes count as set for text types
// and for the others. Sizes as in kSizes.
struct PatternRow {
    Pattern pattern;
    bool textSet[8];
    bool firstByteSet[8];
};

// A text that fills all 1024 bytes without a terminating zero does not fit either: the query
// wants room to add one (Windows and Wine alike).
//                               0      1      3      4      1023   1024   1025   4096
const PatternRow kPatterns[] = {
    {Pattern::Digits,    {false, true,  true,  true,  true,  false, false, false},
                         {false, true,  true,  true,  true,  true,  false, false}},
    {Pattern::Letter,    {false, false, false, false, false, false, false, false},
                         {false, true,  true,  true,  true,  true,  false, false}},
    {Pattern::ZeroFirst, {false, false, false, false, false, false, false, false},
                         {false, false, false, false, false, false, false, false}},
    // "  -" alone (3 bytes) has no digit yet.
    {Pattern::BlankSign, {false, false, false, true,  true,  false, false, false},
                         {false, true,  true,  true,  true,  true,  false, false}},
};

// One start of the long form against the flag value `name`. The product's parameters carry
// the value name, so its log tells which run started it.
struct FlagRun {
    std::string what;
    std::string name;
    bool expectedSet = false;
    bool runnerShown = false;
    bool ended = false;
};

// Runs `runs` many at a time and fills in what followed; then checks that exactly the runs
// expected to start the product did. Under Wine without a window manager a closing window
// waits two seconds for an answer that never comes, so the runners are closed together. Runs
// that are under way together start products of their own (one copy per slot): stand-ins
// appending to one log at the same moment could lose a line.
void RunAll(const CProductFolder& folder, const CRegTestKey& key, std::vector<FlagRun>& runs) {
    const size_t kAtOnce = 16;
    std::vector<std::string> slots;
    for (size_t slot = 0; slot < kAtOnce; ++slot) {
        slots.push_back(folder.File("p" + std::to_string(slot)));
        CreateDirectoryA(slots.back().c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(folder.Product().c_str(), (slots.back() + "\\product.exe").c_str(), FALSE));
    }
    const auto logOf = [&](size_t slot) { return ReadFileBytes(slots[slot] + "\\product.log"); };
    const auto logged = [&](size_t i) {
        return logOf(i % kAtOnce).find(" " + runs[i].name + "|") != std::string::npos;
    };
    for (size_t first = 0; first < runs.size(); first += kAtOnce) {
        const size_t last = std::min(runs.size(), first + kAtOnce);
        std::vector<std::unique_ptr<CProcess>> processes;
        for (size_t i = first; i < last; ++i) {
            LongForm form;
            form.regKey = key.Path();
            form.regValue = runs[i].name;
            form.productProgram = slots[i % kAtOnce] + "\\product.exe";
            form.productParameters = runs[i].name;
            processes.push_back(std::make_unique<CProcess>());
            EXPECT_TRUE(processes.back()->Start(folder.VelkRun(), CommandLine(folder.VelkRun(), form.Args()),
                                                folder.Path()))
                << runs[i].what;
        }
        for (size_t i = first; i < last; ++i) {
            CProcess& process = *processes[i - first];
            HWND runner = nullptr;
            WaitUntil([&] {
                const std::vector<HWND> windows = ProcessWindows(process.Pid());
                runner = windows.empty() ? nullptr : windows[0];
                return runner != nullptr || !process.Running();
            });
            if (runner) {
                runs[i].runnerShown = true;
                PostMessageA(runner, WM_COMMAND, IDCANCEL, 0);
            }
        }
        for (size_t i = first; i < last; ++i) runs[i].ended = processes[i - first]->WaitExit();
        // Every VelkRun of the batch has ended, so its product starts are on their way; the
        // slots are free again once they are logged.
        WaitUntil([&] {
            for (size_t i = first; i < last; ++i)
                if (runs[i].expectedSet && !logged(i)) return false;
            return true;
        });
    }
    size_t expectedStarts = 0;
    for (const FlagRun& run : runs) expectedStarts += run.expectedSet;
    const auto starts = [&] {
        int lines = 0;
        for (size_t slot = 0; slot < kAtOnce; ++slot) lines += Lines(logOf(slot));
        return static_cast<size_t>(lines);
    };
    EXPECT_FALSE(WaitUntil([&] { return starts() > expectedStarts; }, 1000)) << "more product starts than expected";
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(runs[i].what);
        EXPECT_TRUE(runs[i].ended);
        EXPECT_EQ(!runs[i].expectedSet, runs[i].runnerShown);
        EXPECT_EQ(runs[i].expectedSet, logged(i));
    }
}

}  // namespace

TEST(BadFlagData, EveryTypeAndSizeStartsTheProductOrShowsTheRunner) {
    CRegTestKey key;
    CProductFolder folder;
    folder.WriteIni(kIni);
    std::vector<FlagRun> runs;
    for (const TypeRow& type : kTypes) {
        for (const PatternRow& row : kPatterns) {
            for (size_t s = 0; s < sizeof kSizes / sizeof kSizes[0]; ++s) {
                const DWORD size = kSizes[s];
                // Every pattern is the same empty data at size 0.
                if (size == 0 && row.pattern != Pattern::Digits) continue;
                FlagRun run;
                char name[64];
                std::snprintf(name, sizeof name, "f%lu-%d-%lu", type.type, static_cast<int>(row.pattern), size);
                run.name = name;
                run.what = std::string(type.name) + ", " + PatternName(row.pattern) + ", " + std::to_string(size) +
                           " bytes";
                const std::string data = Data(row.pattern, size);
                ASSERT_TRUE(key.Set(name, type.type, data.data(), size)) << run.what;
                run.expectedSet = type.reading == Reading::Text ? row.textSet[s] : row.firstByteSet[s];
                runs.push_back(run);
            }
        }
    }
    const DWORD start = GetTickCount();
    RunAll(folder, key, runs);
    size_t set = 0;
    for (const FlagRun& run : runs) set += run.expectedSet;
    std::printf("flag data: %u runs, %u with the flag set, %lu ms\n", static_cast<unsigned>(runs.size()),
                static_cast<unsigned>(set), GetTickCount() - start);
}

TEST(BadFlagData, ListsEnvironmentReferencesAndHugeNumbers) {
    CRegTestKey key;
    CProductFolder folder;
    folder.WriteIni(kIni);
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
        bool set;
    };
    const Case cases[] = {
        {"second string of a list is not looked at", REG_MULTI_SZ, std::string("0\0" "1\0\0", 5), false},
        {"first string of a list", REG_MULTI_SZ, std::string("3\0" "0\0\0", 5), true},
        {"environment reference is not expanded", REG_EXPAND_SZ, std::string("%VELKFLAG%", 11), false},
        {"a number too large for an int", REG_SZ, std::string("99999999999999999999", 21), true},
        {"a number whose digits are all zero", REG_SZ, std::string("-0000000000000000000000", 24), false},
        {"1023 characters and the terminating zero fill the buffer exactly", REG_SZ,
         "5" + std::string(1022, 'x') + std::string(1, '\0'), true},
    };
    // Set for VelkRun too: it must still not expand it.
    SetEnvironmentVariableA("VELKFLAG", "1");
    std::vector<FlagRun> runs;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        FlagRun run;
        run.what = c.name;
        run.name = "s" + std::to_string(i);
        run.expectedSet = c.set;
        ASSERT_TRUE(key.Set(run.name, c.type, c.data.data(), static_cast<DWORD>(c.data.size()))) << c.name;
        runs.push_back(run);
    }
    RunAll(folder, key, runs);
    SetEnvironmentVariableA("VELKFLAG", nullptr);
}
