/* A library that the test mail client imports when built to depend on a DLL of its own
 * folder, as installed mail programs do. */
#include <windows.h>

__declspec(dllexport) int MailHelperTag(void) { return 4711; }
