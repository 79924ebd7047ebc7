// Implementation of the Wine-side test helpers.
#include "WinTest.h"

#include <shellapi.h>

#include <cstdio>
#include <vector>

namespace wt {

namespace {

std::string ModuleDir() {
    char path[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string p(path);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

std::string BinDir() { return ModuleDir(); }

std::string ScreenshotDir() {
    std::string dir = BinDir() + "..\\screenshots\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        Sleep(stepMs);
    }
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
    std::fclose(f);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Quote(const std::string& value) { return "\"" + value + "\""; }

CTempDir::CTempDir() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    static unsigned counter = 0;
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "velktest-%lu-%u-%lu", GetCurrentProcessId(), ++counter, GetTickCount());
        std::string candidate = std::string(temp) + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            break;
        }
    }
}

CTempDir::~CTempDir() { RemoveTree(path_); }

CProductFolder::CProductFolder() {
    CopyFileA((BinDir() + "VelkRun.exe").c_str(), VelkRun().c_str(), FALSE);
    CopyFileA((BinDir() + "product_standin.exe").c_str(), Product().c_str(), FALSE);
}

CProcess::~CProcess() {
    Kill();
    if (process_) CloseHandle(process_);
}

bool CProcess::Start(const std::string& exe, const std::string& commandLine, const std::string& cwd) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
}

bool CProcess::WaitExit(DWORD timeoutMs) { return process_ && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0; }

bool CProcess::WaitIdle(DWORD timeoutMs) { return process_ && WaitForInputIdle(process_, timeoutMs) == 0; }

bool CProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

DWORD CProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_) GetExitCodeProcess(process_, &code);
    return code;
}

void CProcess::Kill() {
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
}

namespace {

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<WindowSearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->pid && IsWindowVisible(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(DWORD pid, DWORD timeoutMs, const std::function<bool(HWND)>& accept) {
    HWND result = nullptr;
    WaitUntil(
        [&] {
            for (HWND hwnd : ProcessWindows(pid)) {
                if (!accept || accept(hwnd)) {
                    result = hwnd;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return result;
}

HWND WaitForOwnedWindow(DWORD pid, HWND owner, DWORD timeoutMs) {
    return WaitForWindow(pid, timeoutMs, [owner](HWND hwnd) { return GetWindow(hwnd, GW_OWNER) == owner; });
}

std::string WindowText(HWND hwnd) {
    LRESULT length = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> buffer(static_cast<size_t>(length) + 2, '\0');
    LRESULT got = SendMessageA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data(), static_cast<size_t>(got));
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

std::string ClassName(HWND hwnd) {
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

namespace {

BOOL CALLBACK KeepLongestStatic(HWND child, LPARAM lp) {
    auto* best = reinterpret_cast<std::string*>(lp);
    if (ClassName(child) == "Static") {
        const std::string text = WindowText(child);
        if (text.size() > best->size()) *best = text;
    }
    return TRUE;
}

}  // namespace

std::string LongestStaticText(HWND window) {
    std::string longest;
    EnumChildWindows(window, KeepLongestStatic, reinterpret_cast<LPARAM>(&longest));
    return longest;
}

bool SaveScreenshot(HWND hwnd, const std::string& name) {
    // Let the window finish painting before the pixels are read.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    RECT r;
    if (!GetWindowRect(hwnd, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        SelectObject(mem, old);
        const DWORD stride = ((w * 3u) + 3u) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(h);
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + imageSize;
        std::string file(reinterpret_cast<const char*>(&fh), sizeof fh);
        file.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
        file.append(static_cast<const char*>(bits), imageSize);
        ok = WriteFileBytes(ScreenshotDir() + name + ".bmp", file);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

CRegTestKey::CRegTestKey() {
    static unsigned counter = 0;
    char name[96];
    std::snprintf(name, sizeof name, "Software\\VelkTest\\k%lu-%u", GetCurrentProcessId(), ++counter);
    path_ = name;
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path_.c_str(), &key) == ERROR_SUCCESS) RegCloseKey(key);
}

CRegTestKey::~CRegTestKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str()); RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str()); }

bool CRegTestKey::Set(const std::string& name, DWORD type, const void* data, DWORD size) const {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path_.c_str(), &key) != ERROR_SUCCESS) return false;
    const LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool CRegTestKey::Get(const std::string& name, DWORD& type, std::string& data) const {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path_.c_str(), &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data.assign(size, '\0');
        rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

namespace {

BOOL CALLBACK CollectVisibleWindow(HWND hwnd, LPARAM lp) {
    if (IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> VisibleTopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

}  // namespace wt
