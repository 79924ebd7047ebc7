// The application object of VelkRun: turns the command line into one of four routes.
#pragma once

#include "framework/App.h"

class CRegistrationApp : public fw::CApp {
public:
    // Runs the whole program; returns false ("end"): no message loop follows.
    bool StartUp(int argc, char** argv);

private:
    bool RunShortForm();
    bool RunLongForm();
};

// True when the user asked earlier not to be reminded again (HKLM\regKey, value regValue).
bool ReadOptOutFlag();
