/* The form's bare twin for the start-up benchmark: VelkRun's form template with its drop-down
   lists filled from the same resource and "Deutschland" preselected, and nothing else: no
   settings, no mail client lookup, no labels. Linked like VelkRun, with VelkRun's resources
   and manifest, so the same controls of the same version are created. */
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include "res/resource.h"

/* The list table as VelkRun reads it: per list a WORD control id, its items as NUL-terminated
   strings and an empty string; a WORD 0 ends it. */
static void FillLists(HWND dialog) {
    HRSRC info = FindResourceA(NULL, MAKEINTRESOURCEA(IDD_REGISTRATION), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    HGLOBAL loaded = info ? LoadResource(NULL, info) : NULL;
    const char* p = loaded ? (const char*)LockResource(loaded) : NULL;
    const char* end;
    if (!p) return;
    end = p + SizeofResource(NULL, info);
    while (end - p >= 2) {
        WORD id;
        HWND list;
        memcpy(&id, p, sizeof id);
        p += 2;
        if (id == 0) return;
        list = GetDlgItem(dialog, id);
        while (p < end && *p) {
            SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)p);
            p += strlen(p) + 1;
        }
        ++p;
    }
}

static INT_PTR CALLBACK FormProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    (void)lp;
    if (message == WM_INITDIALOG) {
        FillLists(dialog);
        SendDlgItemMessageA(dialog, IDC_REG_COUNTRY, CB_SETCURSEL, 5, 0);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    /* The template holds a date picker. */
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_DATE_CLASSES};
    (void)previous; (void)commandLine; (void)show;
    InitCommonControlsEx(&controls);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_REGISTRATION), NULL, FormProc, 0);
    return 0;
}
