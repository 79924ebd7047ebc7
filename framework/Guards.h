// RAII owners for the Win32 resources the programs touch. Each guard stores what its
// destructor needs, cannot be copied, and releases on every path.
#pragma once

#include "framework/NonCopyable.h"

#include <windows.h>

namespace fw {

using ::CNonCopyable;

// A kernel handle closed with CloseHandle (process, thread, file, event ...).
class CHandle : CNonCopyable {
public:
    explicit CHandle(HANDLE h = nullptr) : h_(h) {}
    ~CHandle() { Close(); }
    void Close() {
        if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = nullptr;
    }
    void Reset(HANDLE h) { Close(); h_ = h; }
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
private:
    HANDLE h_;
};

// A GDI object (font, bitmap, brush, pen) deleted with DeleteObject.
template <typename T>
class CGdiObject : CNonCopyable {
public:
    explicit CGdiObject(T obj = nullptr) : obj_(obj) {}
    ~CGdiObject() { Reset(nullptr); }
    void Reset(T obj) {
        if (obj_) DeleteObject(obj_);
        obj_ = obj;
    }
    T Get() const { return obj_; }
    operator T() const { return obj_; }
private:
    T obj_;
};

// Selects an object into a device context and puts the previous one back.
class CSelectObject : CNonCopyable {
public:
    CSelectObject(HDC dc, HGDIOBJ obj) : dc_(dc), previous_(obj ? SelectObject(dc, obj) : nullptr) {}
    ~CSelectObject() {
        if (previous_) SelectObject(dc_, previous_);
    }
private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A device context made with CreateCompatibleDC or CreateDC, deleted with DeleteDC.
class CDeleteDC : CNonCopyable {
public:
    explicit CDeleteDC(HDC dc = nullptr) : dc_(dc) {}
    ~CDeleteDC() { Reset(nullptr); }
    void Reset(HDC dc) {
        if (dc_) DeleteDC(dc_);
        dc_ = dc;
    }
    HDC Get() const { return dc_; }
    operator HDC() const { return dc_; }
private:
    HDC dc_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class CPaintDC : CNonCopyable {
public:
    explicit CPaintDC(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &ps_); }
    ~CPaintDC() { EndPaint(hwnd_, &ps_); }
    HDC Get() const { return dc_; }
    operator HDC() const { return dc_; }
private:
    HWND hwnd_;
    PAINTSTRUCT ps_;
    HDC dc_;
};

// An open registry key.
class CRegKey : CNonCopyable {
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    HKEY* Receive() { Close(); return &key_; }
    HKEY Get() const { return key_; }
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
private:
    HKEY key_ = nullptr;
};

// An opened clipboard, closed on scope exit.
class CClipboard : CNonCopyable {
public:
    explicit CClipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    ~CClipboard() {
        if (open_) CloseClipboard();
    }
    bool IsOpen() const { return open_; }
private:
    bool open_;
};

// A global memory block; Detach() when ownership passes on (SetClipboardData).
class CGlobalMem : CNonCopyable {
public:
    CGlobalMem(UINT flags, SIZE_T size) : mem_(GlobalAlloc(flags, size)) {}
    ~CGlobalMem() {
        if (mem_) GlobalFree(mem_);
    }
    HGLOBAL Get() const { return mem_; }
    HGLOBAL Detach() {
        HGLOBAL m = mem_;
        mem_ = nullptr;
        return m;
    }
private:
    HGLOBAL mem_;
};

// A library loaded at run time.
class CLibrary : CNonCopyable {
public:
    explicit CLibrary(HMODULE module = nullptr) : module_(module) {}
    ~CLibrary() { Free(); }
    HMODULE Get() const { return module_; }
    void Free() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
private:
    HMODULE module_;
};

}  // namespace fw
