// The mail route after a successful validation: the mail text onto the clipboard, the
// explanation box, the hand-off through the mail program's Simple MAPI library, and the
// mailto: fallback when the library is missing or breaks down.
#include "output/MailDispatch.h"

#include <shellapi.h>

#include <ctime>
#include <vector>

#include "framework/App.h"
#include "framework/DllSearch.h"
#include "framework/Guards.h"
#include "framework/Text.h"
#include "output/MailText.h"
#include "res/resource.h"
#include "runner/Settings.h"

HMODULE mapiLibrary = nullptr;
LPMAPISENDMAIL mapiSendMail = nullptr;

namespace {

// The clipboard's sequence number right after this process put the mail text there; 0 when
// the clipboard does not hold a text of ours.
DWORD mailTextSequence = 0;

void CopyToClipboard(const std::string& text) {
    bool placed = false;
    {
        // No owner window: the text must outlive the form's windows.
        fw::CClipboard clipboard(nullptr);
        // Not opened: whatever is there stays, a text of an earlier send included.
        if (!clipboard.IsOpen()) return;
        EmptyClipboard();
        mailTextSequence = 0;
        fw::CGlobalMem block(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
        if (!block.Get()) return;
        void* bytes = GlobalLock(block.Get());
        if (!bytes) return;
        CopyMemory(bytes, text.c_str(), text.size() + 1);
        GlobalUnlock(block.Get());
        // From a successful SetClipboardData on, the clipboard owns the block.
        if (SetClipboardData(CF_TEXT, block.Get())) {
            block.Detach();
            placed = true;
        }
    }
    // Read once the clipboard is closed, when the change is complete on every system.
    if (placed) mailTextSequence = GetClipboardSequenceNumber();
}

void ShowExplanation(HWND form) {
    const std::string text = FormatTwoStrings(fw::LoadResString(IDS_MAIL_INFO), runnerSettings.recipientAddress,
                                              runnerSettings.mailSubject);
    const fw::CApp* app = fw::CApp::Get();
    const std::string caption = app ? app->DisplayName() : std::string();
    MessageBoxA(form, text.c_str(), caption.c_str(), MB_OK);
}

// A full path lets the library's own folder serve its dependencies, as an installed mail
// program expects; anything else goes through the normal search.
HMODULE LoadMailLibrary(const std::string& path) {
    const bool absolute = (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
                          path.compare(0, 2, "\\\\") == 0;
    HMODULE module = absolute ? fw::LoadLibraryByPath(path) : LoadLibraryA(path.c_str());
    // Below 32 is an error code, not a module.
    if (reinterpret_cast<UINT_PTR>(module) < 32) return nullptr;
    return module;
}

// Owns the mail library for one send and keeps the two process-wide variables in step.
class CMapiLibrary {
public:
    explicit CMapiLibrary(const std::string& path) : library_(LoadMailLibrary(path)) {
        mapiLibrary = library_.Get();
        if (mapiLibrary)
            mapiSendMail = reinterpret_cast<LPMAPISENDMAIL>(
                reinterpret_cast<void*>(GetProcAddress(mapiLibrary, "MAPISendMail")));
    }
    ~CMapiLibrary() {
        library_.Free();
        mapiLibrary = nullptr;
        mapiSendMail = nullptr;
    }
    CMapiLibrary(const CMapiLibrary&) = delete;
    CMapiLibrary& operator=(const CMapiLibrary&) = delete;

private:
    fw::CLibrary library_;
};

std::string ReceivedDateNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local ? FormatReceivedDate(*local) : std::string();
}

// A zero-terminated copy that the mail library may write to.
std::vector<char> WritableCopy(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

// True when the library took the message, whatever status it returned; false when it is
// missing, has no MAPISendMail, or broke down inside the call.
bool HandToMailProgram(HWND form, const std::string& mailText, const std::string& mailDllPath) {
    if (mailDllPath.empty()) return false;
    CMapiLibrary library(mailDllPath);
    if (!mapiSendMail) return false;

    // The records point into these copies; the library gets writable texts, as it may expect.
    std::vector<char> address = WritableCopy(runnerSettings.recipientAddress);
    std::vector<char> subject = WritableCopy(runnerSettings.mailSubject);
    std::vector<char> noteText = WritableCopy(mailText);
    std::vector<char> dateReceived = WritableCopy(ReceivedDateNow());

    MapiRecipDesc recipient = {};
    recipient.ulReserved = 0;
    recipient.ulRecipClass = kMapiTo;
    recipient.lpszName = nullptr;
    recipient.lpszAddress = address.data();
    recipient.ulEIDSize = 0;
    recipient.lpEntryID = nullptr;

    MapiMessage message = {};
    message.ulReserved = 0;
    message.lpszSubject = subject.data();
    message.lpszNoteText = noteText.data();
    message.lpszMessageType = nullptr;
    message.lpszDateReceived = dateReceived.data();
    message.lpszConversationID = nullptr;
    message.flFlags = kMapiUnread | kMapiSent;
    message.lpOriginator = nullptr;
    message.nRecipCount = 1;
    message.lpRecips = &recipient;
    message.nFileCount = 0;
    message.lpFiles = nullptr;

    ULONG status = 0;
    DWORD exceptionCode = 0;
    // The status is not looked at: the library has shown the user whatever it had to say.
    return CallMapiSendMailGuarded(mapiSendMail, reinterpret_cast<ULONG_PTR>(form), &message,
                                   kMapiLogonUi | kMapiNewSession | kMapiDialog, &status, &exceptionCode) != 0;
}

}  // namespace

void SendRegistrationMail(HWND form, const RegistrationRecord& record, const std::string& mailDllPath) {
    const std::string mailText = BuildMailText(record);
    CopyToClipboard(mailText);
    ShowExplanation(form);
    if (HandToMailProgram(form, mailText, mailDllPath)) return;
    // The text reaches the mail program only through the clipboard on this route. The
    // result is not looked at: there is nothing left to fall back to.
    const std::string url = BuildMailtoUrl(runnerSettings.recipientAddress, runnerSettings.mailSubject);
    ShellExecuteA(form, nullptr, url.c_str(), nullptr, nullptr, SW_SHOW);
}

void ClearRegistrationClipboard() {
    if (mailTextSequence == 0) return;
    fw::CClipboard clipboard(nullptr);
    if (!clipboard.IsOpen()) return;
    // Held open, the clipboard cannot change between this test and the emptying.
    if (GetClipboardSequenceNumber() == mailTextSequence) EmptyClipboard();
    mailTextSequence = 0;
}
