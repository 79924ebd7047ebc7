// The reminder window.
#include "runner/RunnerDlg.h"

#include "res/resource.h"
#include "runner/Settings.h"

CRunnerDlg::CRunnerDlg() : fw::CDialog(IDD_RUNNER) {}

BOOL CRunnerDlg::OnInitDialog() {
    // Every caption comes from the settings, empty ones included: the template texts
    // never show.
    SetWindowTextA(Handle(), runnerSettings.titleText.c_str());
    SetItemText(IDC_RUN_REMINDER, runnerSettings.reminderText);
    SetItemText(IDC_RUN_OFFLINE, runnerSettings.offlineButtonText);
    SetItemText(IDC_RUN_ONLINE, runnerSettings.onlineButtonText);
    SetItemText(IDC_RUN_PROGRAM, runnerSettings.runButtonText);
    SetItemText(IDC_RUN_EXIT, runnerSettings.exitButtonText);
    SetItemText(IDC_RUN_NOMORE, runnerSettings.optOutButtonText);
    return TRUE;
}
