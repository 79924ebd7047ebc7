/* Baseline of the opt-out route: a program that does nothing but start argument 1 with
   argument 2 as its parameters through ShellExecuteExA, the way VelkRun starts a product. */
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    SHELLEXECUTEINFOA info;
    (void)instance; (void)previous; (void)commandLine; (void)show;
    if (__argc < 2) return 1;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = __argv[1];
    info.lpParameters = __argc > 2 ? __argv[2] : NULL;
    info.nShow = SW_SHOW;
    if (!ShellExecuteExA(&info)) return 1;
    if (info.hProcess) CloseHandle(info.hProcess);
    return 0;
}
