// The notice box: title, button and text all come from the settings, through the caller for
// the text.
#include "form/NoticeDlg.h"

#include "res/resource.h"
#include "runner/Settings.h"

CNoticeDlg::CNoticeDlg(HWND parent) : fw::CDialog(IDD_NOTICE, parent) {}

CNoticeDlg::~CNoticeDlg() = default;

BOOL CNoticeDlg::OnInitDialog() {
    // Missing settings stay empty: the template's placeholder texts must never show.
    SetWindowTextA(Handle(), runnerSettings.noticeTitle.c_str());
    SetItemText(IDOK, runnerSettings.noticeButtonText);
    SetItemText(IDC_NOTICE_TEXT, noticeText);
    return TRUE;
}
