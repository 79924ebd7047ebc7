// Program entry of VelkRun.
#include <windows.h>

#include <cstdlib>

#include "framework/DllSearch.h"
#include "runner/RegistrationApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    fw::RestrictDllSearch();
    CRegistrationApp app;
    app.StartUp(__argc, __argv);
    return 0;
}
