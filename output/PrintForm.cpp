// Printing the reply sheet (being built).
#include "output/PrintForm.h"

void PrintRegistrationForm(HWND, const RegistrationRecord&) {}
