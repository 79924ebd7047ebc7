// Printing the one-page reply sheet.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "form/RegistrationRecord.h"

// The Print dialog, bound to comdlg32's PrintDlgA on the first print; a test may put a
// wrapper here to watch the dialog's result.
using PrintDialogFunction = BOOL(WINAPI*)(LPPRINTDLGA);
extern PrintDialogFunction printDialogFunction;

// Everything after a successful validation: the Print dialog, the job and its one page.
void PrintRegistrationForm(HWND form, const RegistrationRecord& record);
