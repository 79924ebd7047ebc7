// DLL search of the process and the two ways VelkRun loads a library itself.
#include "framework/DllSearch.h"

#include <vector>

namespace fw {

void RestrictDllSearch() {
    // The current directory is wherever the product was started from: a download folder, a
    // network share. An empty DLL directory takes it out of the search and changes nothing
    // else, unlike SetDefaultDllDirectories, which would cut every later load down to the
    // system folder, the mail program's and the printer drivers' loads of their helpers
    // included.
    SetDllDirectoryA("");
}

HMODULE LoadLibraryByPath(const std::string& path) {
    // The library's folder takes the place of the program's folder in the search for its
    // dependencies, as when its own program loads it.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const char* name) {
    // A DLL that the program's manifest names (the common controls 6.0) lives in the
    // side-by-side store, and the system folder holds an older version of it. Loaded by name,
    // it is taken from where the manifest's activation context points, before any search.
    ACTCTX_SECTION_KEYED_DATA assembly = {};
    assembly.cbSize = sizeof assembly;
    if (FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &assembly))
        return LoadLibraryA(name);
    const UINT needed = GetSystemDirectoryA(nullptr, 0);
    if (needed == 0) return nullptr;
    std::vector<char> folder(needed);
    const UINT length = GetSystemDirectoryA(folder.data(), needed);
    if (length == 0 || length >= needed) return nullptr;
    std::string path(folder.data(), length);
    if (path.back() != '\\') path += '\\';
    return LoadLibraryByPath(path + name);
}

}  // namespace fw
