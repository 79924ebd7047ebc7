// Helpers for tests that run under Wine: temp product folders with VelkRun.exe, starting
// programs, finding and driving their windows by control id, registry set-up, screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wt {

// Folder of the running test program (the build's bin folder), with a trailing backslash.
std::string BinDir();
// Where screenshots go: <build>\screenshots\ (created on demand).
std::string ScreenshotDir();

// Polls `condition` until it holds or `timeoutMs` passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 15000, DWORD stepMs = 30);

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// `value` in double quotes, for a command line.
std::string Quote(const std::string& value);

// A fresh folder under %TEMP%, removed with everything in it at the end.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    // The folder, without a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
private:
    std::string path_;
};

// A product folder: VelkRun.exe and the stand-in product program copied in, and a
// "VelkRun.ini" when one is written.
class CProductFolder : public CTempDir {
public:
    CProductFolder();
    void WriteIni(const std::string& bytes) const { WriteFileBytes(File("VelkRun.ini"), bytes); }
    std::string VelkRun() const { return File("VelkRun.exe"); }
    std::string Product() const { return File("product.exe"); }
    // What the stand-in recorded: one "cmdline|cwd" line per start.
    std::string ProductLog() const { return ReadFileBytes(File("product.log")); }
};

class CProcess {
public:
    CProcess() = default;
    ~CProcess();
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;
    // `commandLine` is the whole line, argument 0 included; `cwd` empty: the test's own.
    bool Start(const std::string& exe, const std::string& commandLine, const std::string& cwd = std::string());
    DWORD Pid() const { return pid_; }
    bool WaitExit(DWORD timeoutMs = 15000);
    // Waits until the program first waits for input with nothing left in its queue.
    bool WaitIdle(DWORD timeoutMs = 15000);
    bool Running() const;
    DWORD ExitCode() const;
    void Kill();
private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// Visible top-level windows of a process.
std::vector<HWND> ProcessWindows(DWORD pid);
// Waits for a visible top-level window of `pid` for which `accept` holds (any when null).
HWND WaitForWindow(DWORD pid, DWORD timeoutMs = 15000, const std::function<bool(HWND)>& accept = nullptr);
// Waits for a visible window of `pid` owned by `owner` (a modal dialog over it).
HWND WaitForOwnedWindow(DWORD pid, HWND owner, DWORD timeoutMs = 15000);
// Text of a window through WM_GETTEXT, any length.
std::string WindowText(HWND hwnd);
std::string ItemText(HWND dialog, int id);
std::string ClassName(HWND hwnd);
// Text of the longest "Static" child of `window`: what a message box or a shell box says when
// its text control has no id to find it by.
std::string LongestStaticText(HWND window);
// Saves what the screen shows of the window as <screenshots>\name.bmp.
bool SaveScreenshot(HWND hwnd, const std::string& name);

// A key under HKLM\Software\VelkTest\<unique>, deleted with its values at the end.
class CRegTestKey {
public:
    CRegTestKey();
    ~CRegTestKey();
    CRegTestKey(const CRegTestKey&) = delete;
    CRegTestKey& operator=(const CRegTestKey&) = delete;
    // Path below HKLM, e.g. "Software\VelkTest\k1234".
    const std::string& Path() const { return path_; }
    bool Set(const std::string& name, DWORD type, const void* data, DWORD size) const;
    bool SetDword(const std::string& name, DWORD value) const { return Set(name, REG_DWORD, &value, 4); }
    bool SetString(const std::string& name, const std::string& text, DWORD type = REG_SZ) const {
        return Set(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    // Type and data of a value; false when it does not exist.
    bool Get(const std::string& name, DWORD& type, std::string& data) const;
private:
    std::string path_;
};

// Visible top-level windows of every process on the test desktop: taken before and after an
// action, they show whether anything opened a window.
std::vector<HWND> VisibleTopLevelWindows();

}  // namespace wt
