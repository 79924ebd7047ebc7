/* Baseline of the start-up benchmarks: a program that shows one empty modal dialog from its
   own template and ends when it is closed. */
#include <windows.h>

#include "empty_dialog.h"

static INT_PTR CALLBACK EmptyProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    (void)lp;
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous; (void)commandLine; (void)show;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_EMPTY), NULL, EmptyProc, 0);
    return 0;
}
