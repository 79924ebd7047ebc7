// Finding the Simple MAPI library of the user's default mail program in the registry.
#pragma once

#include <string>

// Where Windows registers mail programs, under HKEY_LOCAL_MACHINE.
extern const char kMailClientsKey[];

// Reads the default client's name from the default value of `clientsKey` (below
// HKEY_LOCAL_MACHINE) and the "DLLPath" value of the client's sub-key, expanding environment
// variables of a REG_EXPAND_SZ path. True with the path in `dllPath`; false, with `dllPath`
// empty, when any step fails, a value is empty or longer than 260 bytes. Does not check that
// the library exists.
bool FindMailClientLibrary(const std::string& clientsKey, std::string& dllPath);
