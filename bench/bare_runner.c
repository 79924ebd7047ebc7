/* The runner's bare twin for the start-up benchmark: VelkRun's runner template with its
   background picture (bitmap 140) painted, and nothing else: no settings, no texts, no icon,
   no bold label. Linked like VelkRun, with VelkRun's resources and manifest. */
#include <windows.h>

#include "res/resource.h"

static HBITMAP picture;

static void Paint(HWND dialog) {
    PAINTSTRUCT ps;
    RECT client;
    HDC dc = BeginPaint(dialog, &ps);
    HDC memory = CreateCompatibleDC(dc);
    GetClientRect(dialog, &client);
    if (memory) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    EndPaint(dialog, &ps);
}

static INT_PTR CALLBACK RunnerProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    (void)lp;
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_PAINT) {
        Paint(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous; (void)commandLine; (void)show;
    picture = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_BACKGROUND));
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_RUNNER), NULL, RunnerProc, 0);
    DeleteObject(picture);
    return 0;
}
