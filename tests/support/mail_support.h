// Helpers of the mail tests: the test mail client and what it logged, its registration as the
// default mail program, the mailto: recorder, the clipboard, and the explanation box.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "WinTest.h"

namespace mailtest {

// The registration address the mail tests configure, and the mailto: URL the fallback opens
// for it with the subject "Registrierung".
inline constexpr char kRecipient[] = "registrierung@velk.example";
inline constexpr char kFallbackUrl[] = "mailto:registrierung@velk.example?Subject=Registrierung";

// Paths of the test libraries in the build.
std::string ClientDll();
std::string NoEntryDll();
std::string DependentClientDll();  // needs mail_helper.dll from its own folder
std::string MailtoRecorderExe();

// One entry the test mail client logged: an event ("attach", "call", "detach", "unwound",
// "handled", "resumed", "survived") and, for a call, the fields it was given.
struct ClientEntry {
    std::string event;
    std::multimap<std::string, std::string> fields;
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    // The field's bytes; "" when absent.
    std::string Get(const std::string& key) const;
};

// Sets the client's log file (in a fresh folder) and mode for this process and the programs
// it starts; the previous environment comes back at the end.
class CMailClientRun {
public:
    explicit CMailClientRun(const std::string& mode = "return 0");
    ~CMailClientRun();
    CMailClientRun(const CMailClientRun&) = delete;
    CMailClientRun& operator=(const CMailClientRun&) = delete;
    void SetMode(const std::string& mode) const;
    std::vector<ClientEntry> Entries() const;
    std::vector<std::string> Events() const;
    std::vector<ClientEntry> Calls() const;
private:
    wt::CTempDir dir_;
};

// Registers `dllPath` under HKLM "Software\Clients\Mail" as the default mail program in place
// of whatever is registered there; the previous registration comes back at the end.
class CDefaultMailClient {
public:
    explicit CDefaultMailClient(const std::string& dllPath, DWORD type = REG_SZ);
    ~CDefaultMailClient();
    CDefaultMailClient(const CDefaultMailClient&) = delete;
    CDefaultMailClient& operator=(const CDefaultMailClient&) = delete;
    bool Registered() const { return registered_; }
private:
    bool keyExisted_ = false;
    bool defaultExisted_ = false;
    DWORD defaultType_ = REG_SZ;
    std::string defaultData_;
    bool registered_ = false;
};

// Makes the recorder the handler of mailto: URLs; the previous command comes back at the end.
class CMailtoRecorder {
public:
    CMailtoRecorder();
    ~CMailtoRecorder();
    CMailtoRecorder(const CMailtoRecorder&) = delete;
    CMailtoRecorder& operator=(const CMailtoRecorder&) = delete;
    bool Registered() const { return registered_; }
    // The URLs the handler was started with so far.
    std::vector<std::string> Urls() const;
    // The URLs once every handler started so far has ended: call it after the program has
    // made its last ShellExecute to see that no other URL is on its way.
    std::vector<std::string> SettledUrls() const;
    // Waits until `count` URLs arrived; false on time-out.
    bool WaitForUrls(size_t count, DWORD timeoutMs = 15000) const;
private:
    wt::CTempDir dir_;
    bool commandExisted_ = false;
    std::string previousCommand_;
    bool registered_ = false;
};

// CF_TEXT of the clipboard up to its terminating NUL; `present` tells whether there was any.
std::string ClipboardText(bool* present = nullptr);
bool SetClipboardText(const std::string& text);
// How many formats the clipboard holds (0: empty).
int ClipboardFormats();

// Holds the clipboard open from a thread of its own until destroyed.
class CClipboardHolder {
public:
    CClipboardHolder();
    ~CClipboardHolder();
    CClipboardHolder(const CClipboardHolder&) = delete;
    CClipboardHolder& operator=(const CClipboardHolder&) = delete;
    bool Holding() const { return holding_; }
private:
    static DWORD WINAPI Hold(void* self);
    HANDLE opened_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE thread_ = nullptr;
    bool holding_ = false;
};

// The explanation of the mail route as the user must see it.
std::string ExpectedMailInfo(const std::string& recipient, const std::string& subject);

struct SeenMessageBox {
    HWND box = nullptr;
    std::string className;
    std::string caption;
    std::string text;
};
// Waits for a message box of `pid` owned by `owner`, reads it, saves a screenshot as
// `screenshot` and closes it with OK. `seen.box` stays null on time-out.
SeenMessageBox CloseMessageBox(DWORD pid, HWND owner, const std::string& screenshot, DWORD timeoutMs = 15000);

}  // namespace mailtest
