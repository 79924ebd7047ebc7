// Reading texts of unbounded length from windows and the string table, so that no caller
// has to invent a buffer size.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

// The whole window text of a control or window.
std::string GetWindowString(HWND hwnd);

// String `id` of the string table in `module` (this program's when null); "" when missing.
std::string LoadResString(UINT id, HMODULE module = nullptr);

}  // namespace fw
