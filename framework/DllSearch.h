// Keeps planted DLLs out: the current directory and the program's folder are not searched
// for DLLs the process loads at run time, and a library named by full path finds its own
// dependencies beside it.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

// Once, first thing at start-up.
void RestrictDllSearch();

// Loads a library by its full path; its dependencies are found in its own folder and in
// the system folder. Returns what the loader returned (null on failure).
HMODULE LoadLibraryByPath(const std::string& path);

}  // namespace fw
