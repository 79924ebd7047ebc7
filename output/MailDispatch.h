// Handing the registration mail to the user's default mail program.
#pragma once

#include <windows.h>

#include <string>

#include "form/RegistrationRecord.h"
#include "output/MapiGuard.h"

// Everything after a successful validation: mail text, clipboard copy, the explanation
// box, Simple MAPI through `mailDllPath`, and the mailto: fallback. `form` owns the boxes.
void SendRegistrationMail(HWND form, const RegistrationRecord& record, const std::string& mailDllPath);

// Called when the form is cancelled: removes the mail text this process put on the
// clipboard (it holds the password in clear), leaving other programs' contents alone.
void ClearRegistrationClipboard();

// The mail program's library and its entry point while a send runs; null otherwise.
extern HMODULE mapiLibrary;
extern LPMAPISENDMAIL mapiSendMail;
