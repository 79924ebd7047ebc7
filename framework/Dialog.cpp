// The modal dialog run, the static-to-member dialog procedure and the list filling.
#include "framework/Dialog.h"

#include <cstring>

#include "framework/App.h"
#include "framework/Text.h"

namespace fw {

CDialog::CDialog(UINT templateId, HWND owner) : templateId_(templateId), owner_(owner) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND owner = owner_;
    if (!owner) {
        CApp* app = CApp::Get();
        CDialog* main = app ? app->MainWindow() : nullptr;
        if (main && main != this) owner = main->Handle();
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

void CDialog::EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

std::string CDialog::GetItemText(int id) const { return GetWindowString(GetItem(id)); }

void CDialog::SetItemText(int id, const std::string& text) const { SetDlgItemTextA(hwnd_, id, text.c_str()); }

void CDialog::EnableItem(int id, bool enable) const { EnableWindow(GetItem(id), enable ? TRUE : FALSE); }

bool CDialog::IsItemEnabled(int id) const { return IsWindowEnabled(GetItem(id)) != FALSE; }

bool CDialog::IsItemChecked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void CDialog::CheckItem(int id, bool checked) const {
    SendItemMessage(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

LRESULT CDialog::SendItemMessage(int id, UINT msg, WPARAM wp, LPARAM lp) const {
    return SendDlgItemMessageA(hwnd_, id, msg, wp, lp);
}

bool CDialog::OnCommand(int, int) { return false; }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

// List contents live in an RCDATA resource named like the dialog template: for each list a
// WORD control id, then its items as NUL-terminated strings, then an empty string; a WORD 0
// ends the resource.
void CDialog::FillListsFromResource() {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(templateId_), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (!info) return;
    HGLOBAL loaded = LoadResource(module, info);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data) return;
    const char* end = data + SizeofResource(module, info);
    const char* p = data;
    while (end - p >= 2) {
        WORD id;
        std::memcpy(&id, p, sizeof id);
        p += 2;
        if (id == 0) break;
        HWND list = GetItem(id);
        while (p < end) {
            const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
            if (!nul) return;  // malformed: stop rather than read past the resource
            const bool last = (nul == p);
            if (!last && list) SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p));
            p = nul + 1;
            if (last) break;
        }
    }
}

INT_PTR CDialog::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        FillListsFromResource();
        return OnInitDialog();
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        const int code = HIWORD(wp);
        if (OnCommand(id, code)) return TRUE;
        if (id == IDOK) { OnOK(); return TRUE; }
        if (id == IDCANCEL) { OnCancel(); return TRUE; }
        return FALSE;
    }
    default: {
        INT_PTR result = 0;
        if (OnMessage(msg, wp, lp, result)) return result;
        return FALSE;
    }
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    CDialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lp);
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (!self) return FALSE;  // messages before WM_INITDIALOG
    }
    // No C++ exception may unwind through user32's frames.
    try {
        return self->HandleMessage(msg, wp, lp);
    } catch (...) {
        return FALSE;
    }
}

}  // namespace fw
