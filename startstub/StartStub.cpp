// startstub.exe: starts the product's start program from a fixed path relative to the current
// directory and ends. It has no C runtime: its own entry calls the GUI entry and ends the process.
#include <windows.h>
#include <shellapi.h>

namespace {

// Everything after the program name, as a C runtime would hand it to the GUI entry.
LPSTR CommandTail(LPSTR line) {
    if (!line) return line;
    bool quoted = false;
    while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
        if (*line == '"') quoted = !quoted;
        ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The shell resolves the path against the current directory, not this program's folder.
    // Whether the start worked is not looked at: there is nobody to tell.
    ShellExecuteA(nullptr, nullptr, "velkstart\\VelkStart.exe", nullptr, nullptr, SW_SHOW);
    return 0;
}

// The process entry (set with the linker's entry option); it never returns.
extern "C" void StubEntry() {
    const int status = WinMain(GetModuleHandleA(nullptr), nullptr, CommandTail(GetCommandLineA()), SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(status));
}
