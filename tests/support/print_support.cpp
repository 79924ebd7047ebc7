// Implementation of the print test helpers.
#include "print_support.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace pt {

namespace {

const char kPrintersKey[] = "System\\CurrentControlSet\\Control\\Print\\Printers";
const char kWindowsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// The Windows path of a Linux path (Wine's own mapping); "" when there is none.
std::string DosPath(const std::string& unixPath) {
    using Fn = WCHAR*(CDECL*)(const char*);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (!fn) return {};
    WCHAR* dos = fn(unixPath.c_str());
    if (!dos) return {};
    char buffer[MAX_PATH * 4] = {};
    WideCharToMultiByte(CP_ACP, 0, dos, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, dos);
    return buffer;
}

std::string Env(const char* name) {
    char buffer[MAX_PATH * 4] = {};
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
}

std::string SingleQuoted(const std::string& text) {
    return "'" + text + "'";
}

// UTF-8 from the Linux tools as the Windows code page. The PDF's hyphens come back as the
// Unicode hyphen, which the code page does not have: they are made plain hyphens again.
std::string FromUtf8(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    for (wchar_t& c : wide)
        if (c == 0x2010 || c == 0x2011 || c == 0x2212 || c == 0x00AD) c = L'-';
    const int m = WideCharToMultiByte(1252, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string narrow(m > 0 ? m : 0, '\0');
    if (m > 0) WideCharToMultiByte(1252, 0, wide.data(), n, &narrow[0], m, nullptr, nullptr);
    return narrow;
}

// Whether the PDF at `path` looks finished: not empty, ending with its end-of-file mark, and
// the same size as a moment ago.
bool PdfComplete(const std::string& path) {
    const std::string first = wt::ReadFileBytes(path);
    if (first.size() < 16 || first.rfind("%%EOF") < first.size() - 16) return false;
    Sleep(200);
    return wt::ReadFileBytes(path).size() == first.size();
}

}  // namespace

std::string UnixPath(const std::string& windowsPath) {
    using Fn = char*(CDECL*)(const WCHAR*);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* unix = fn(Widen(windowsPath).c_str());
    if (!unix) return {};
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

int RunLinux(const std::string& script, std::string& output, DWORD timeoutMs) {
    wt::CTempDir dir;
    const std::string out = UnixPath(dir.File("out.txt"));
    const std::string done = UnixPath(dir.File("done"));
    if (out.empty() || done.empty()) return -1;
    // The Linux process cannot be waited for from Windows: it leaves its exit code in a file
    // that appears in one step.
    const std::string command = "/bin/sh -c \"(" + script + ") >" + SingleQuoted(out) + " 2>&1; echo $? >" +
                                SingleQuoted(done + ".part") + " && /bin/mv " + SingleQuoted(done + ".part") + " " +
                                SingleQuoted(done) + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (!wt::WaitUntil([&] { return wt::FileExists(dir.File("done")); }, timeoutMs, 50)) return -1;
    output = wt::ReadFileBytes(dir.File("out.txt"));
    return std::atoi(wt::ReadFileBytes(dir.File("done")).c_str());
}

std::string PdfFolder() {
    std::string out = "/var/spool/cups-pdf/${USER}";  // cups-pdf's own default
    const std::string conf = wt::ReadFileBytes(DosPath("/etc/cups/cups-pdf.conf"));
    std::size_t start = 0;
    while (start < conf.size()) {
        std::size_t end = conf.find('\n', start);
        if (end == std::string::npos) end = conf.size();
        std::string line = conf.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 4, "Out ") != 0 && line.compare(0, 4, "Out\t") != 0) continue;
        line.erase(0, 4);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.erase(0, 1);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        out = line;
    }
    // Wine keeps the Linux home folder as \??\Z:\... in WINEHOMEDIR.
    std::string home = Env("WINEHOMEDIR");
    if (home.compare(0, 4, "\\??\\") == 0) home.erase(0, 4);
    ReplaceAll(out, "${HOME}", UnixPath(home));
    ReplaceAll(out, "${USER}", Env("WINEUSERNAME"));
    std::string dos = DosPath(out);
    while (!dos.empty() && dos.back() == '\\') dos.pop_back();
    return dos;
}

std::set<std::string> PdfFiles() {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((PdfFolder() + "\\*.pdf").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        names.insert(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

namespace {

// The text of a finished PDF among the new ones; false while it is still being written.
bool ReadPdf(const std::string& path, PrintedPdf& pdf) {
    if (!PdfComplete(path)) return false;
    const std::string unix = UnixPath(path);
    std::string text;
    if (RunLinux("/usr/bin/pdftotext -raw -enc UTF-8 " + SingleQuoted(unix) + " - 2>/dev/null", text) != 0) return false;
    pdf.path = path;
    pdf.text = FromUtf8(text);
    pdf.pages = static_cast<int>(std::count(pdf.text.begin(), pdf.text.end(), '\f'));
    RunLinux("/usr/bin/pdfinfo " + SingleQuoted(unix), pdf.info);
    return true;
}

}  // namespace

bool WaitForPdf(const std::set<std::string>& before, const std::string& marker, PrintedPdf& pdf, DWORD timeoutMs) {
    std::set<std::string> others;
    const std::string folder = PdfFolder();
    return wt::WaitUntil(
        [&] {
            for (const std::string& name : PdfFiles()) {
                if (before.count(name) || others.count(name)) continue;
                PrintedPdf read;
                if (!ReadPdf(folder + "\\" + name, read)) continue;
                if (read.text.find(marker) == std::string::npos) {
                    others.insert(name);
                    continue;
                }
                pdf = read;
                return true;
            }
            return false;
        },
        timeoutMs, 250);
}

bool AnyPdfHolds(const std::set<std::string>& before, const std::string& marker) {
    const std::string folder = PdfFolder();
    for (const std::string& name : PdfFiles()) {
        PrintedPdf read;
        if (!before.count(name) && ReadPdf(folder + "\\" + name, read) && read.text.find(marker) != std::string::npos)
            return true;
    }
    return false;
}

bool KeepAsPngAndRemove(const PrintedPdf& pdf, const std::string& name) {
    const std::string png = UnixPath(wt::ScreenshotDir() + name);
    std::string output;
    const bool ok = !png.empty() &&
                    RunLinux("/usr/bin/pdftoppm -png -r 100 -singlefile " + SingleQuoted(UnixPath(pdf.path)) + " " +
                                 SingleQuoted(png), output) == 0;
    DeleteFileA(pdf.path.c_str());
    return ok;
}

std::string UniqueMarker(const std::string& prefix) {
    return prefix + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount() % 100000);
}

std::string CollapseBlanks(const std::string& text) {
    std::string result;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            blank = true;
            continue;
        }
        if (blank && !result.empty()) result += ' ';
        blank = false;
        result += c;
    }
    return result;
}

int InstalledPrinters() {
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    if (!needed) return 0;
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, buffer.data(), needed, &needed,
                       &count))
        return -1;
    return static_cast<int>(count);
}

CNoPrinters::CNoPrinters() {
    // Wine fills its printer list from CUPS once, in the first program that loads the spooler
    // while no other program holds it; loading it here keeps programs started meanwhile from
    // bringing the printers back.
    spooler_ = LoadLibraryA("winspool.drv");
    HKEY printers = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kPrintersKey, &printers) != ERROR_SUCCESS) {
        ok_ = InstalledPrinters() == 0;
        return;
    }
    char name[512];
    for (DWORD i = 0; RegEnumKeyA(printers, i, name, sizeof name) == ERROR_SUCCESS; ++i) printers_.push_back(name);
    bool moved = true;
    for (const std::string& printer : printers_) {
        HKEY copy = nullptr;
        const std::string target = backup_.Path() + "\\" + printer;
        moved = moved && RegCreateKeyA(HKEY_LOCAL_MACHINE, target.c_str(), &copy) == ERROR_SUCCESS &&
                RegCopyTreeA(printers, printer.c_str(), copy) == ERROR_SUCCESS;
        if (copy) RegCloseKey(copy);
        moved = moved && RegDeleteTreeA(printers, printer.c_str()) == ERROR_SUCCESS;
        RegDeleteKeyA(printers, printer.c_str());
    }
    RegCloseKey(printers);

    HKEY windows = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kWindowsKey, &windows) == ERROR_SUCCESS) {
        char device[1024] = {};
        DWORD size = sizeof device - 1, type = 0;
        hadDevice_ = RegQueryValueExA(windows, "Device", nullptr, &type, reinterpret_cast<BYTE*>(device), &size) ==
                     ERROR_SUCCESS;
        device_ = device;
        if (hadDevice_) RegDeleteValueA(windows, "Device");
        RegCloseKey(windows);
    }
    char unused[256];
    DWORD length = sizeof unused;
    ok_ = moved && InstalledPrinters() == 0 && !GetDefaultPrinterA(unused, &length);
}

CNoPrinters::~CNoPrinters() {
    HKEY printers = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kPrintersKey, &printers) == ERROR_SUCCESS) {
        for (const std::string& printer : printers_) {
            HKEY source = nullptr, target = nullptr;
            if (RegOpenKeyA(HKEY_LOCAL_MACHINE, (backup_.Path() + "\\" + printer).c_str(), &source) == ERROR_SUCCESS &&
                RegCreateKeyA(printers, printer.c_str(), &target) == ERROR_SUCCESS)
                RegCopyTreeA(source, nullptr, target);
            if (source) RegCloseKey(source);
            if (target) RegCloseKey(target);
        }
        RegCloseKey(printers);
    }
    HKEY windows = nullptr;
    if (hadDevice_ && RegOpenKeyA(HKEY_CURRENT_USER, kWindowsKey, &windows) == ERROR_SUCCESS) {
        RegSetValueExA(windows, "Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(device_.c_str()),
                       static_cast<DWORD>(device_.size() + 1));
        RegCloseKey(windows);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, backup_.Path().c_str());
    if (spooler_) FreeLibrary(spooler_);
}

CImportPatch::CImportPatch(const char* dll, const char* function, const void* replacement) {
    HMODULE target = GetModuleHandleA(dll);
    original_ = target ? reinterpret_cast<void*>(GetProcAddress(target, function)) : nullptr;
    if (!original_) return;
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name; ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        for (auto* slot = reinterpret_cast<void**>(base + entry->FirstThunk); *slot; ++slot) {
            if (*slot != original_) continue;
            DWORD protection = 0;
            if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) continue;
            *slot = const_cast<void*>(replacement);
            VirtualProtect(slot, sizeof *slot, protection, &protection);
            slots_.push_back(slot);
        }
    }
}

CImportPatch::~CImportPatch() {
    for (void** slot : slots_) {
        DWORD protection = 0;
        if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) continue;
        *slot = original_;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
    }
}

}  // namespace pt
