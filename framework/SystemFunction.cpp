// Late binding of Windows DLL functions.
#include "framework/SystemFunction.h"

#include <map>
#include <memory>
#include <string>

#include "framework/Guards.h"

namespace fw {

FARPROC SystemFunction(const char* dll, const char* function) {
    // Freed at exit; the DLL search is limited to the system folder at start-up, so a bare
    // name cannot pick up a file planted beside the product.
    static std::map<std::string, std::unique_ptr<CLibrary>> loaded;
    std::unique_ptr<CLibrary>& library = loaded[dll];
    if (!library) library.reset(new CLibrary(LoadLibraryA(dll)));
    return library->Get() ? GetProcAddress(library->Get(), function) : nullptr;
}

}  // namespace fw
