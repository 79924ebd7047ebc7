// DLL search restrictions; SetDefaultDllDirectories is looked up because Windows versions
// before 8 (without an update) lack it.
#include "framework/DllSearch.h"

namespace fw {

namespace {

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

bool restrictedDefaults = false;

}  // namespace

void RestrictDllSearch() {
    // Takes the current directory out of the search.
    SetDllDirectoryA("");
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                   reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                             : nullptr;
    // Only the system folder: the program's own folder is the product's, where anyone who
    // can drop a file could plant a DLL named like a system one.
    restrictedDefaults = setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadLibraryByPath(const std::string& path) {
    if (restrictedDefaults) {
        return LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Without the search flags: the library's folder takes the place of the program's.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace fw
