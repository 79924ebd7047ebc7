// Implementation of the mail test helpers.
#include "mail_support.h"

#include <tlhelp32.h>

#include <cstdlib>

namespace mailtest {

namespace {

const char kClientsKey[] = "Software\\Clients\\Mail";
const char kTestClientName[] = "VelkTest Mail";
const char kMailtoCommandKey[] = "Software\\Classes\\mailto\\shell\\open\\command";

bool ReadDefaultValue(HKEY root, const char* path, DWORD& type, std::string& data) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data.assign(size, '\0');
        rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool WriteValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                   static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string SzData(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

}  // namespace

std::string ClientDll() { return wt::BinDir() + "mail_client.dll"; }
std::string NoEntryDll() { return wt::BinDir() + "mail_noentry.dll"; }
std::string DependentClientDll() { return wt::BinDir() + "mailsub\\mail_client_dep.dll"; }
std::string MailtoRecorderExe() { return wt::BinDir() + "mail_mailto_recorder.exe"; }

std::string ClientEntry::Get(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

CMailClientRun::CMailClientRun(const std::string& mode) {
    SetEnvironmentVariableA("VELKTEST_MAIL_LOG", dir_.File("client.log").c_str());
    SetMode(mode);
}

CMailClientRun::~CMailClientRun() {
    SetEnvironmentVariableA("VELKTEST_MAIL_LOG", nullptr);
    SetEnvironmentVariableA("VELKTEST_MAIL_MODE", nullptr);
}

void CMailClientRun::SetMode(const std::string& mode) const { SetEnvironmentVariableA("VELKTEST_MAIL_MODE", mode.c_str()); }

std::vector<ClientEntry> CMailClientRun::Entries() const {
    // Entries are "key=<length>:<bytes>\n"; an "event" key starts a new entry.
    const std::string log = wt::ReadFileBytes(dir_.File("client.log"));
    std::vector<ClientEntry> entries;
    size_t pos = 0;
    while (pos < log.size()) {
        const size_t eq = log.find('=', pos);
        const size_t colon = eq == std::string::npos ? eq : log.find(':', eq);
        if (colon == std::string::npos) break;
        const std::string key = log.substr(pos, eq - pos);
        const size_t length = std::strtoul(log.substr(eq + 1, colon - eq - 1).c_str(), nullptr, 10);
        if (colon + 1 + length + 1 > log.size()) break;
        const std::string value = log.substr(colon + 1, length);
        pos = colon + 1 + length + 1;
        if (key == "event") {
            entries.push_back(ClientEntry{value, {}});
        } else if (!entries.empty()) {
            entries.back().fields.emplace(key, value);
        }
    }
    return entries;
}

std::vector<std::string> CMailClientRun::Events() const {
    std::vector<std::string> events;
    for (const ClientEntry& entry : Entries()) events.push_back(entry.event);
    return events;
}

std::vector<ClientEntry> CMailClientRun::Calls() const {
    std::vector<ClientEntry> calls;
    for (const ClientEntry& entry : Entries())
        if (entry.event == "call") calls.push_back(entry);
    return calls;
}

CDefaultMailClient::CDefaultMailClient(const std::string& dllPath, DWORD type) {
    keyExisted_ = KeyExists(HKEY_LOCAL_MACHINE, kClientsKey);
    defaultExisted_ = ReadDefaultValue(HKEY_LOCAL_MACHINE, kClientsKey, defaultType_, defaultData_);
    const std::string clientKey = std::string(kClientsKey) + "\\" + kTestClientName;
    registered_ = WriteValue(HKEY_LOCAL_MACHINE, kClientsKey, nullptr, REG_SZ, SzData(kTestClientName)) &&
                  WriteValue(HKEY_LOCAL_MACHINE, clientKey, "DLLPath", type, SzData(dllPath));
}

CDefaultMailClient::~CDefaultMailClient() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kClientsKey) + "\\" + kTestClientName).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kClientsKey) + "\\" + kTestClientName).c_str());
    if (!keyExisted_) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kClientsKey);
    } else if (defaultExisted_) {
        WriteValue(HKEY_LOCAL_MACHINE, kClientsKey, nullptr, defaultType_, defaultData_);
    } else {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClientsKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, nullptr);
            RegCloseKey(key);
        }
    }
}

CMailtoRecorder::CMailtoRecorder() {
    DWORD type = REG_SZ;
    commandExisted_ = ReadDefaultValue(HKEY_LOCAL_MACHINE, kMailtoCommandKey, type, previousCommand_);
    const std::string command = wt::Quote(MailtoRecorderExe()) + " " + wt::Quote(dir_.File("urls.log")) + " \"%1\"";
    registered_ = WriteValue(HKEY_LOCAL_MACHINE, "Software\\Classes\\mailto", "URL Protocol", REG_SZ, SzData("")) &&
                  WriteValue(HKEY_LOCAL_MACHINE, kMailtoCommandKey, nullptr, REG_SZ, SzData(command));
}

CMailtoRecorder::~CMailtoRecorder() {
    if (commandExisted_) {
        WriteValue(HKEY_LOCAL_MACHINE, kMailtoCommandKey, nullptr, REG_SZ, previousCommand_);
    } else {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\mailto");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes\\mailto");
    }
}

std::vector<std::string> CMailtoRecorder::Urls() const {
    const std::string log = wt::ReadFileBytes(dir_.File("urls.log"));
    std::vector<std::string> urls;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        urls.push_back(log.substr(start, end - start));
    return urls;
}

namespace {

bool RecorderRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return true;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running; more = Process32Next(snapshot, &entry))
        running = lstrcmpiA(entry.szExeFile, "mail_mailto_recorder.exe") == 0;
    CloseHandle(snapshot);
    return running;
}

}  // namespace

std::vector<std::string> CMailtoRecorder::SettledUrls() const {
    // A handler started before this call has written its URL once it has ended.
    wt::WaitUntil([] { return !RecorderRunning(); });
    return Urls();
}

bool CMailtoRecorder::WaitForUrls(size_t count, DWORD timeoutMs) const {
    return wt::WaitUntil([&] { return Urls().size() >= count; }, timeoutMs);
}

std::string ClipboardText(bool* present) {
    std::string text;
    bool found = false;
    // Another program may hold the clipboard for a moment.
    wt::WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 5000, 20);
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
            text = bytes;
            found = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    if (present) *present = found;
    return text;
}

bool SetClipboardText(const std::string& text) {
    if (!wt::WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 5000, 20)) return false;
    EmptyClipboard();
    bool ok = false;
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
        if (char* bytes = static_cast<char*>(GlobalLock(block))) {
            CopyMemory(bytes, text.c_str(), text.size() + 1);
            GlobalUnlock(block);
            ok = SetClipboardData(CF_TEXT, block) != nullptr;
        }
        if (!ok) GlobalFree(block);
    }
    CloseClipboard();
    return ok;
}

int ClipboardFormats() { return CountClipboardFormats(); }

CClipboardHolder::CClipboardHolder()
    : opened_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = CreateThread(nullptr, 0, Hold, this, 0, nullptr);
    holding_ = thread_ && WaitForSingleObject(opened_, 5000) == WAIT_OBJECT_0;
}

CClipboardHolder::~CClipboardHolder() {
    SetEvent(release_);
    if (thread_) {
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    CloseHandle(opened_);
    CloseHandle(release_);
}

DWORD WINAPI CClipboardHolder::Hold(void* self) {
    auto* holder = static_cast<CClipboardHolder*>(self);
    // Wine tells openers apart by window only: two openers without a window would both get
    // in, so the holder opens it for a window of its own.
    HWND window = CreateWindowExA(0, "STATIC", "clipboard holder", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                  nullptr);
    if (!window) return 1;
    if (wt::WaitUntil([window] { return OpenClipboard(window) != FALSE; }, 5000, 20)) {
        SetEvent(holder->opened_);
        WaitForSingleObject(holder->release_, 60000);
        CloseClipboard();
    }
    DestroyWindow(window);
    return 0;
}

std::string ExpectedMailInfo(const std::string& recipient, const std::string& subject) {
    return "Ihr E-Mail-Programm wird jetzt gestartet und die E-Mail zum Versenden vorbereitet.\r\n"
           "Bei einigen E-Mail-Programmen ist es nicht m\xF6glich, die drei Komponenten Adresse, Betreff und "
           "Haupttext automatisch einzuf\xFCgen.\r\n"
           "Bitte f\xFCllen Sie die eventuell leerbleibenden Felder aus und senden Sie die E-Mail "
           "anschlie\xDF" "end ab, vielen Dank.\r\n"
           "\r\n"
           "Text: Der Text mit ihrer Registrierungsinformation befindet sich in der Windows-Zwischenablage.\r\n"
           "Bitte f\xFCgen Sie ihn mit dem Befehl \"Einf\xFCgen (Strg.+V)\" in das Textfeld Ihres "
           "E-Mail-Programms ein.\r\n"
           "Empf\xE4nger: " + recipient + "\r\n"
           "Betreff: " + subject;
}

SeenMessageBox CloseMessageBox(DWORD pid, HWND owner, const std::string& screenshot, DWORD timeoutMs) {
    SeenMessageBox seen;
    HWND box = wt::WaitForWindow(pid, timeoutMs, [owner](HWND hwnd) {
        return GetWindow(hwnd, GW_OWNER) == owner && wt::ClassName(hwnd) == "#32770";
    });
    if (!box) return seen;
    seen.box = box;
    seen.className = wt::ClassName(box);
    seen.caption = wt::WindowText(box);
    // The box's text is the static with id 0xFFFF; look among all statics should that differ.
    if (HWND text = GetDlgItem(box, 0xFFFF)) seen.text = wt::WindowText(text);
    if (seen.text.empty()) seen.text = wt::LongestStaticText(box);
    wt::SaveScreenshot(box, screenshot);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    wt::WaitUntil([box] { return !IsWindow(box); }, 5000);
    return seen;
}

}  // namespace mailtest
