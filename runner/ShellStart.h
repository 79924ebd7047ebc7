// Starting a program, document or URL through the shell without waiting for it.
#pragma once

#include <windows.h>

#include <string>

// ShellExecuteExA with the default verb and SW_SHOW; `parameters` is passed only when not
// empty. The process handle the shell hands back is closed at once: nobody waits for the
// started program. Returns ShellExecuteExA's verdict.
bool ShellStart(HWND owner, const std::string& file, const std::string& parameters);
