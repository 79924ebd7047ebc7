// Functions of Windows DLLs that only some routes need, bound on first use: a route that does
// not need them (the opt-out start of the product above all) does not pay for loading them.
#pragma once

#include <windows.h>

namespace fw {

// Address of `function` in the Windows DLL `dll`; null when either is missing. The DLL is
// loaded from the system folder on first use and stays loaded until the process has ended,
// as an import would: it is never freed.
FARPROC SystemFunction(const char* dll, const char* function);

template <typename F>
F BindSystemFunction(const char* dll, const char* function) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(SystemFunction(dll, function)));
}

}  // namespace fw
