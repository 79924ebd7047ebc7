// Modal dialogs from templates: controls by id, command dispatch by id, and the few
// virtual hooks a dialog of ours overrides.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

class CDialog {
public:
    // `owner` may be null: the application's main window then owns the dialog and is
    // disabled while it runs.
    explicit CDialog(UINT templateId, HWND owner = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; returns DialogBoxParam's result (-1 on failure).
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    HWND Handle() const { return hwnd_; }
    UINT TemplateId() const { return templateId_; }

    HWND GetItem(int id) const { return GetDlgItem(hwnd_, id); }
    std::string GetItemText(int id) const;
    void SetItemText(int id, const std::string& text) const;
    void EnableItem(int id, bool enable) const;
    bool IsItemEnabled(int id) const;
    bool IsItemChecked(int id) const;
    void CheckItem(int id, bool checked) const;
    LRESULT SendItemMessage(int id, UINT msg, WPARAM wp = 0, LPARAM lp = 0) const;

protected:
    // Called once the controls exist and their lists are filled. TRUE: standard focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // A WM_COMMAND from control `id`; return true when handled. Unhandled IDOK and
    // IDCANCEL go to OnOK and OnCancel.
    virtual bool OnCommand(int id, int notifyCode);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Any other message; return true when handled and put the dialog procedure's answer in
    // `result` (for WM_PAINT and friends: TRUE).
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    void FillListsFromResource();

    UINT templateId_;
    HWND owner_;
    HWND hwnd_ = nullptr;
};

}  // namespace fw
