/* Stand-in product for the start-up benchmarks: the first thing it does is set the named
   event given as its command line, so the timer stops as soon as the product runs. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    HANDLE started;
    (void)instance; (void)previous; (void)show;
    started = OpenEventA(EVENT_MODIFY_STATE, FALSE, commandLine);
    if (!started) return 1;
    SetEvent(started);
    CloseHandle(started);
    return 0;
}
