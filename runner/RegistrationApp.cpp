// Start-up of VelkRun: command line, settings, the opt-out route and the first dialog.
#include "runner/RegistrationApp.h"

#include <windows.h>
#include <commctrl.h>

#include "form/RegistrationDlg.h"
#include "framework/Guards.h"
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
    // Dialog templates use the date picker and the standard controls.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

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
    CRunnerDlg runner;
    fw::CMainWindowScope main(*this, runner);
    runner.DoModal();  // the result changes nothing
    return false;
}
