// The registration form run modally inside a test program under Wine: a test's body runs in
// the form's own message loop once the form is open, then the form closes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "form/RegistrationDlg.h"
#include "res/resource.h"

// Once the form is open the body runs, then the form closes as `closeBy` says: with
// EndDialog(IDCANCEL) alone, or as "Abbrechen" closes it (OnCancel, which also takes the mail
// text off the clipboard).
class CFormHarness : public CRegistrationDlg {
public:
    enum class ECloseBy { EndDialog, CancelButton };

    CFormHarness(std::function<void(CFormHarness&)> body, ECloseBy closeBy)
        : body_(std::move(body)), closeBy_(closeBy) {}

    void SelectItem(int id, int index) const { SendItemMessage(id, CB_SETCURSEL, static_cast<WPARAM>(index)); }
    void SetDate(WORD day, WORD month, WORD year) const {
        SYSTEMTIME date = {};
        date.wDay = day;
        date.wMonth = month;
        date.wYear = year;
        ASSERT_NE(0, SendItemMessage(IDC_REG_DATE, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&date)));
    }
    // Clicks a button or check box as the user would, its handler run before this returns.
    void Click(int id) const { SendMessageA(GetItem(id), BM_CLICK, 0, 0); }
    // The checks and collection of both output buttons, without the notice or the output.
    bool Accept() {
        bool mismatch = false;
        return ValidateVipSection(mismatch) && CollectAnswers();
    }

protected:
    static constexpr UINT kRunBody = WM_APP + 1;

    BOOL OnInitDialog() override {
        const BOOL result = CRegistrationDlg::OnInitDialog();
        // Posted, so the body runs once the form shows and its loop runs.
        PostMessageA(Handle(), kRunBody, 0, 0);
        return result;
    }
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override {
        if (msg != kRunBody) return CRegistrationDlg::OnMessage(msg, wp, lp, result);
        body_(*this);
        if (closeBy_ == ECloseBy::CancelButton) {
            OnCancel();
        } else {
            EndDialog(IDCANCEL);
        }
        result = TRUE;
        return true;
    }

private:
    std::function<void(CFormHarness&)> body_;
    ECloseBy closeBy_;
};
