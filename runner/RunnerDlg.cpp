// The reminder window: the picture, the texts from the settings and the five buttons.
#include "runner/RunnerDlg.h"

#include "form/RegistrationDlg.h"
#include "res/resource.h"
#include "runner/LaunchOptions.h"
#include "runner/Settings.h"
#include "runner/ShellStart.h"

CRunnerDlg::CRunnerDlg()
    : fw::CDialog(IDD_RUNNER),
      backgroundBitmap(LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_BACKGROUND))),
      dialogIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN))) {}

CRunnerDlg::~CRunnerDlg() = default;

BOOL CRunnerDlg::OnInitDialog() {
    SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(dialogIcon));
    SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(dialogIcon));

    // The label paints itself from here on, before it gets its text.
    reminderLabel.Subclass(GetItem(IDC_RUN_REMINDER));

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

bool CRunnerDlg::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return false;
    switch (id) {
    case IDC_RUN_OFFLINE: OnRegisterOffline(); return true;
    case IDC_RUN_ONLINE: OnRegisterOnline(); return true;
    case IDC_RUN_PROGRAM: OnStartProgram(); return true;
    case IDC_RUN_NOMORE: OnRemindNoMore(); return true;
    case IDC_RUN_EXIT: OnExit(); return true;
    default: return false;  // IDOK and IDCANCEL (Enter, Escape) keep their standard meaning
    }
}

bool CRunnerDlg::OnMessage(UINT msg, WPARAM, LPARAM, INT_PTR& result) {
    if (msg != WM_PAINT) return false;
    OnPaint();
    result = TRUE;
    return true;
}

void CRunnerDlg::OnPaint() {
    RECT client;
    GetClientRect(Handle(), &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    fw::CPaintDC dc(Handle());
    if (IsIconic(Handle())) {
        SendMessageA(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
        // Centred; the divisions truncate toward zero like the platform's own code.
        const int x = (width - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (height - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, dialogIcon);
        return;
    }
    // The picture is copied 1:1 from its top-left corner, never stretched.
    fw::CDeleteDC memory(CreateCompatibleDC(dc));
    if (!memory.Get() || !backgroundBitmap.Get()) return;
    fw::CSelectObject picture(memory, backgroundBitmap);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
}

void CRunnerDlg::OnRegisterOffline() {
    // No owner named: the main window, this runner, owns the form and is disabled meanwhile.
    CRegistrationDlg form;
    form.DoModal();  // the result changes nothing
}

void CRunnerDlg::OnRegisterOnline() {
    if (launchOptions.onlineTarget.empty()) return;
    ShellStart(Handle(), launchOptions.onlineTarget, std::string());  // a failure stays silent
}

void CRunnerDlg::OnStartProgram() {
    if (launchOptions.productProgram.empty()) return;
    if (ShellStart(Handle(), launchOptions.productProgram, launchOptions.productParameters)) EndDialog(IDOK);
}

void CRunnerDlg::OnRemindNoMore() {
    if (launchOptions.regKey.empty() || launchOptions.regValue.empty()) return;
    LONG written;
    {
        fw::CRegKey key;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, launchOptions.regKey.c_str(), key.Receive()) != ERROR_SUCCESS) return;
        const DWORD one = 1;
        written = RegSetValueExA(key.Get(), launchOptions.regValue.c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    // Greyed-out buttons tell the user the reminder is off; that must not happen when the
    // flag did not reach the registry.
    if (written != ERROR_SUCCESS) return;
    HWND focus = GetFocus();
    EnableItem(IDC_RUN_NOMORE, false);
    EnableItem(IDC_RUN_OFFLINE, false);
    EnableItem(IDC_RUN_ONLINE, false);
    // The focus sat on one of the buttons just disabled: hand it to the next one that
    // still works, so the keyboard keeps working.
    if (focus && !IsWindowEnabled(focus)) {
        SendMessageA(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetItem(IDC_RUN_PROGRAM)), TRUE);
    }
}

void CRunnerDlg::OnExit() { EndDialog(IDOK); }
