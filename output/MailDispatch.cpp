// Mail hand-off (being built).
#include "output/MailDispatch.h"

void SendRegistrationMail(HWND, const RegistrationRecord&, const std::string&) {}

void ClearRegistrationClipboard() {}
