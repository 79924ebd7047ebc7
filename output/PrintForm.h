// Printing the one-page reply sheet.
#pragma once

#include <windows.h>

#include "form/RegistrationRecord.h"

// Everything after a successful validation: the Print dialog, the job and its one page.
void PrintRegistrationForm(HWND form, const RegistrationRecord& record);
