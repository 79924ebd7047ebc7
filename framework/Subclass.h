// Takes over the window procedure of an existing control (a template's static text, say)
// so that a class of ours can paint it.
#pragma once

#include <windows.h>

namespace fw {

class CSubclassedWindow {
public:
    CSubclassedWindow() = default;
    virtual ~CSubclassedWindow();
    CSubclassedWindow(const CSubclassedWindow&) = delete;
    CSubclassedWindow& operator=(const CSubclassedWindow&) = delete;

    // Routes the control's messages through WindowProc; false when `hwnd` is not a window.
    bool Subclass(HWND hwnd);
    void Unsubclass();
    HWND Handle() const { return hwnd_; }

protected:
    // Default: the control's own procedure.
    virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT CallOriginal(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    HWND hwnd_ = nullptr;
    WNDPROC original_ = nullptr;
};

}  // namespace fw
