/* A library that loads but is no Simple MAPI library: it has no MAPISendMail. */
#include <windows.h>

__declspec(dllexport) int __stdcall MailNoEntryVersion(void) { return 1; }
