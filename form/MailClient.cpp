// Registry lookup of the default mail client's Simple MAPI library.
#include "form/MailClient.h"

#include <windows.h>

#include <cstring>

#include "framework/Guards.h"

const char kMailClientsKey[] = "Software\\Clients\\Mail";

namespace {

// Mail clients register short names and paths; anything longer than this is not taken.
constexpr DWORD kValueBufferSize = 260;

// The text in the `size` bytes a query returned, up to a terminating zero if there is one:
// a value stored without its terminator is still read only as far as it goes.
std::string TextOfValue(const char* data, DWORD size) {
    const void* nul = std::memchr(data, '\0', size);
    return std::string(data, nul ? static_cast<const char*>(nul) - data : size);
}

bool ReadDefaultClientName(const std::string& clientsKey, std::string& name) {
    fw::CRegKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, clientsKey.c_str(), key.Receive()) != ERROR_SUCCESS) return false;
    char buffer[kValueBufferSize];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key.Get(), "", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return false;
    name = TextOfValue(buffer, size);
    // An empty name would make the sub-key path name the clients key itself.
    return !name.empty();
}

bool ReadLibraryPath(const std::string& clientKey, std::string& path) {
    fw::CRegKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, clientKey.c_str(), key.Receive()) != ERROR_SUCCESS) return false;
    char buffer[kValueBufferSize];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), "DLLPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    path = TextOfValue(buffer, size);
    if (type == REG_EXPAND_SZ) {
        char expanded[kValueBufferSize];
        const DWORD needed = ExpandEnvironmentStringsA(path.c_str(), expanded, sizeof expanded);
        // A result that does not fit is incomplete; the unexpanded path is kept then.
        if (needed != 0 && needed <= sizeof expanded) path = expanded;
    }
    return !path.empty();
}

}  // namespace

bool FindMailClientLibrary(const std::string& clientsKey, std::string& dllPath) {
    dllPath.clear();
    std::string name;
    if (!ReadDefaultClientName(clientsKey, name)) return false;
    std::string path;
    if (!ReadLibraryPath(clientsKey + "\\" + name, path)) return false;
    dllPath = path;
    return true;
}
