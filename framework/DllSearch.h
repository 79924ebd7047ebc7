// How VelkRun loads libraries at run time: the current directory is never searched, Windows'
// own DLLs come from the system folder by full path, and a library named by full path (the
// mail program's) finds its dependencies the way its own program would find them.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

// Once, first thing at start-up: takes the current directory out of the DLL search of the
// whole process. Nothing else of the search is changed, because the process hosts code of
// others (the mail program's library, printer drivers, input methods) that loads its own
// helpers by plain name from its own folder or from PATH.
void RestrictDllSearch();

// Loads a library by its full path; its dependencies are found in its own folder first, then
// in the usual places (system folder, PATH). Returns what the loader returned (null on failure).
HMODULE LoadLibraryByPath(const std::string& path);

// Loads the Windows DLL `name` ("comdlg32.dll") from the system folder, or from the
// side-by-side store when the program's manifest names it (comctl32); null when it is missing
// there. A file of that name anywhere else is never taken.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace fw
