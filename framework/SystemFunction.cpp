// Late binding of Windows DLL functions.
#include "framework/SystemFunction.h"

#include <map>
#include <string>

#include "framework/DllSearch.h"

namespace fw {

FARPROC SystemFunction(const char* dll, const char* function) {
    // Never freed, and the table itself is never destroyed: threads that the Print dialog
    // or a printer driver started may still run code of these DLLs while the process ends,
    // and a FreeLibrary from a static destructor would pull it from under them. Bound from
    // the user-interface thread only.
    static auto* loaded = new std::map<std::string, HMODULE>();
    const auto found = loaded->find(dll);
    HMODULE module = found != loaded->end() ? found->second : ((*loaded)[dll] = LoadSystemLibrary(dll));
    return module ? GetProcAddress(module, function) : nullptr;
}

}  // namespace fw
