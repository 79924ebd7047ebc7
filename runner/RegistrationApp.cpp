// Start-up of VelkRun: command line, settings, the opt-out route and the first dialog.
#include "runner/RegistrationApp.h"

#include <windows.h>
#include <commctrl.h>

#include "form/RegistrationDlg.h"
#include "framework/Guards.h"
#include "framework/SystemFunction.h"
#include "runner/LaunchOptions.h"
#include "runner/RunnerDlg.h"
#include "runner/Settings.h"
#include "runner/ShellStart.h"

namespace {

bool FileExists(const std::string& path) {
    // A directory of that name counts too: the scan then fails to open it.
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SettingsReadable() { return FileExists(settingsPath) && ReadSettings(); }

// The dialog templates use the date picker and the standard controls. Done only on the routes
// that show a dialog: loading the common controls is most of what the opt-out route would
// otherwise spend before the product starts.
void InitDialogControls() {
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = fw::BindSystemFunction<InitFn>("comctl32.dll", "InitCommonControlsEx");
    const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES | ICC_WIN95_CLASSES};
    if (init) init(&controls);
}

}  // namespace

bool ReadOptOutFlag() {
    if (launchOptions.regKey.empty() || launchOptions.regValue.empty()) return false;
    fw::CRegKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, launchOptions.regKey.c_str(), key.Receive()) != ERROR_SUCCESS) return false;
    unsigned char data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), launchOptions.regValue.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS)
        return false;
    return DecodeOptOutFlag(type, data, size);
}

bool CRegistrationApp::StartUp(int argc, char** argv) {
    if (argc <= 1 || !argv) return false;
    settingsPath = SettingsPathFor(argv[0]);

    switch (RouteForArgumentCount(argc)) {
    case LaunchRoute::ShortForm:
        FillLaunchOptions(argc, argv, launchOptions);
        return RunShortForm();
    case LaunchRoute::LongForm:
        FillLaunchOptions(argc, argv, launchOptions);
        return RunLongForm();
    case LaunchRoute::None:
        break;
    }
    return false;
}

bool CRegistrationApp::RunShortForm() {
    if (!SettingsReadable()) return false;
    InitDialogControls();
    CRegistrationDlg form;
    fw::CMainWindowScope main(*this, form);
    form.DoModal();  // the result changes nothing
    return false;
}

bool CRegistrationApp::RunLongForm() {
    if (ReadOptOutFlag()) {
        // The user opted out earlier: start the product and show nothing; a failure is
        // not reported.
        ShellStart(nullptr, launchOptions.productProgram, launchOptions.productParameters);
        return false;
    }
    if (!SettingsReadable()) return false;
    InitDialogControls();
    CRunnerDlg runner;
    fw::CMainWindowScope main(*this, runner);
    runner.DoModal();  // the result changes nothing
    return false;
}
