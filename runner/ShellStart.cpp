// Shell start shared by the opt-out route and the runner's buttons.
#include "runner/ShellStart.h"

#include <shellapi.h>

#include "framework/Guards.h"

bool ShellStart(HWND owner, const std::string& file, const std::string& parameters) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = owner;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOW;
    const bool started = ShellExecuteExA(&info) != FALSE;
    fw::CHandle process(info.hProcess);  // not used: closed right away
    return started;
}
