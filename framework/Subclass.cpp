// Window-procedure subclassing with the object found through a window property.
#include "framework/Subclass.h"

namespace fw {

namespace {
const char kPropName[] = "fw.CSubclassedWindow";
}

CSubclassedWindow::~CSubclassedWindow() { Unsubclass(); }

bool CSubclassedWindow::Subclass(HWND hwnd) {
    if (!IsWindow(hwnd)) return false;
    Unsubclass();
    hwnd_ = hwnd;
    SetPropA(hwnd, kPropName, this);
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticProc)));
    return true;
}

void CSubclassedWindow::Unsubclass() {
    if (!hwnd_) return;
    if (IsWindow(hwnd_)) {
        SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        RemovePropA(hwnd_, kPropName);
    }
    hwnd_ = nullptr;
    original_ = nullptr;
}

LRESULT CSubclassedWindow::WindowProc(UINT msg, WPARAM wp, LPARAM lp) { return CallOriginal(msg, wp, lp); }

LRESULT CSubclassedWindow::CallOriginal(UINT msg, WPARAM wp, LPARAM lp) {
    return CallWindowProcA(original_, hwnd_, msg, wp, lp);
}

LRESULT CALLBACK CSubclassedWindow::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<CSubclassedWindow*>(GetPropA(hwnd, kPropName));
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        // The window is going: hand it back before its last message.
        WNDPROC original = self->original_;
        self->Unsubclass();
        return CallWindowProcA(original, hwnd, msg, wp, lp);
    }
    try {
        return self->WindowProc(msg, wp, lp);
    } catch (...) {
        return 0;
    }
}

}  // namespace fw
