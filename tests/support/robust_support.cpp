// Implementation of the bad-input test helpers.
#include "robust_support.h"

#include <algorithm>

namespace robust {

std::string Argument(const std::string& value) {
    if (!value.empty() && value.find_first_of(" \t\n\v\"") == std::string::npos) return value;
    // Backslashes count only in front of a quote: there they are doubled, and one more
    // makes the quote itself literal.
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : value) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = Argument(program);
    for (const std::string& arg : args) line += " " + Argument(arg);
    return line;
}

std::vector<std::string> LongForm::Args() const {
    std::vector<std::string> args = {regKey, regValue, onlineTarget, articleNumber, productTitle, productProgram};
    if (!productParameters.empty()) args.push_back(productParameters);
    return args;
}

CVelkRun::CVelkRun(const std::string& ini) { folder_.WriteIni(ini); }

bool CVelkRun::Start(const std::vector<std::string>& args) {
    return StartLine(CommandLine(folder_.VelkRun(), args));
}

bool CVelkRun::StartLine(const std::string& commandLine) {
    return process_.Start(folder_.VelkRun(), commandLine, folder_.Path());
}

bool CVelkRun::CloseAndEnd(HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return Ended();
}

bool CVelkRun::Idle(HWND window, DWORD timeoutMs) const {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

ShellBox CloseShellBox(DWORD pid, const std::vector<HWND>& known, const std::string& screenshot, DWORD timeoutMs,
                       bool waitGone) {
    ShellBox seen;
    seen.box = wt::WaitForWindow(pid, timeoutMs, [&](HWND hwnd) {
        return wt::ClassName(hwnd) == "#32770" && std::find(known.begin(), known.end(), hwnd) == known.end();
    });
    if (!seen.box) return seen;
    seen.owner = GetWindow(seen.box, GW_OWNER);
    seen.caption = wt::WindowText(seen.box);
    seen.text = wt::LongestStaticText(seen.box);
    SaveTopScreenshot(seen.box, screenshot);
    // A message box has no Cancel button when it only says OK; IDCANCEL still closes it.
    PostMessageA(seen.box, WM_COMMAND, IDCANCEL, 0);
    if (!waitGone) return seen;
    HWND box = seen.box;
    if (!wt::WaitUntil([box] { return !IsWindow(box); }, 5000)) PostMessageA(box, WM_CLOSE, 0, 0);
    wt::WaitUntil([box] { return !IsWindow(box); }, 5000);
    return seen;
}

bool SaveTopScreenshot(HWND window, const std::string& name) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return wt::SaveScreenshot(window, name);
}

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace robust
