// The application object: one per process, holding the main window and the display name.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

class CDialog;

class CApp {
public:
    CApp();
    virtual ~CApp();
    CApp(const CApp&) = delete;
    CApp& operator=(const CApp&) = delete;

    static CApp* Get() { return instance_; }

    // The dialog that stands as the main window; null when none.
    CDialog* MainWindow() const { return mainWindow_; }
    void SetMainWindow(CDialog* dialog) { mainWindow_ = dialog; }

    // The executable's file name without directory and extension.
    const std::string& DisplayName() const { return displayName_; }

private:
    static CApp* instance_;
    CDialog* mainWindow_ = nullptr;
    std::string displayName_;
};

// Sets the main window for the life of one modal run and clears it afterwards, so the
// reference never outlives its dialog.
class CMainWindowScope {
public:
    CMainWindowScope(CApp& app, CDialog& dialog) : app_(app) { app_.SetMainWindow(&dialog); }
    ~CMainWindowScope() { app_.SetMainWindow(nullptr); }
    CMainWindowScope(const CMainWindowScope&) = delete;
    CMainWindowScope& operator=(const CMainWindowScope&) = delete;
private:
    CApp& app_;
};

}  // namespace fw
