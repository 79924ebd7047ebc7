// The registration form.
#include "form/RegistrationDlg.h"

#include "res/resource.h"
#include "runner/LaunchOptions.h"

CRegistrationDlg::CRegistrationDlg(HWND parent) : fw::CDialog(IDD_REGISTRATION, parent) {}

BOOL CRegistrationDlg::OnInitDialog() {
    SetItemText(IDC_REG_ARTICLE, launchOptions.articleNumber);
    SetItemText(IDC_REG_TITLE, launchOptions.productTitle);
    return TRUE;
}
