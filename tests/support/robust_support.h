// Helpers of the bad-input tests: command lines built argument by argument, VelkRun
// runs that must end, and the boxes the shell opens when it cannot start something.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "WinTest.h"

namespace robust {

// `value` written so that the C runtime's command-line split gives back exactly these bytes.
std::string Argument(const std::string& value);
// `program` and `args`, each written with Argument.
std::string CommandLine(const std::string& program, const std::vector<std::string>& args);

// The long form's seven arguments.
struct LongForm {
    std::string regKey;
    std::string regValue = "Optout";
    std::string onlineTarget;
    std::string articleNumber = "A-1";
    std::string productTitle = "Titel";
    std::string productProgram;
    std::string productParameters;
    std::vector<std::string> Args() const;
};

// VelkRun.exe started in a product folder; killed at the end if it still runs. Every test
// that starts one checks through Ended() that it went.
class CVelkRun {
public:
    // A folder with this "VelkRun.ini".
    explicit CVelkRun(const std::string& ini);
    // A folder without one.
    CVelkRun() = default;
    CVelkRun(const CVelkRun&) = delete;
    CVelkRun& operator=(const CVelkRun&) = delete;

    wt::CProductFolder& Folder() { return folder_; }
    // Starts VelkRun with its full path as argument 0 and the folder as current directory.
    bool Start(const std::vector<std::string>& args);
    bool StartLine(const std::string& commandLine);
    DWORD Pid() const { return process_.Pid(); }
    bool Running() const { return process_.Running(); }
    // The program's first visible window, or null after `timeoutMs`.
    HWND WaitWindow(DWORD timeoutMs = 15000) const { return wt::WaitForWindow(process_.Pid(), timeoutMs); }
    // Whether the process ended within `timeoutMs` (checked on its handle).
    bool Ended(DWORD timeoutMs = 15000) { return process_.WaitExit(timeoutMs); }
    // Closes `dialog` as Escape would and waits for the process to end.
    bool CloseAndEnd(HWND dialog);
    // Waits until the program's window thread has handled everything sent before.
    bool Idle(HWND window, DWORD timeoutMs = 15000) const;

private:
    wt::CProductFolder folder_;
    wt::CProcess process_;
};

// A box the shell (not VelkRun) opened in process `pid`, read and closed.
struct ShellBox {
    HWND box = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
};
// Waits up to `timeoutMs` for a dialog box of `pid` other than the windows in `known`, saves
// a screenshot of it as `screenshot`, closes it and returns what it showed (box stays null
// when none came). Waits until the box is gone unless `waitGone` is false.
ShellBox CloseShellBox(DWORD pid, const std::vector<HWND>& known, const std::string& screenshot, DWORD timeoutMs,
                       bool waitGone = true);

// SaveScreenshot after bringing `window` to the top: tests that run several programs at once
// have their windows lying over each other.
bool SaveTopScreenshot(HWND window, const std::string& name);

// Number of '\n' in `text`.
int Lines(const std::string& text);

}  // namespace robust
