// Program entry of VelkRun.
#include <windows.h>

#include <cstdlib>

#include "runner/RegistrationApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CRegistrationApp app;
    app.StartUp(__argc, __argv);
    return 0;
}
