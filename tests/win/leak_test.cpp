// Fifty printed pages and fifty mails from one registration form in this process: the GDI
// objects, user objects and handles the process holds must not grow after the first round.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "WinTest.h"
#include "form/RegistrationDlg.h"
#include "form_harness.h"
#include "framework/App.h"
#include "mail_support.h"
#include "print_support.h"
#include "res/resource.h"
#include "runner/LaunchOptions.h"

using namespace wt;

namespace {

constexpr int kRounds = 50;

// One reading of the process's resources. Each is taken two ways: through the system's own
// counters, and by looking the objects up one by one, because Wine answers the counters with
// 0 ("not implemented"). 0 means "not counted" for both: a process with a window always holds
// some of each.
struct Reading {
    DWORD gdiCounter = 0, userCounter = 0, handleCounter = 0;
    DWORD gdiProbed = 0, userProbed = 0, handleProbed = 0;
};

// GDI objects: every 16-bit handle index that names an object. Wine takes a handle without
// its upper half as the object in that slot; Windows does not, and then this gives 0.
DWORD ProbeGdiObjects() {
    DWORD count = 0;
    for (ULONG_PTR index = 1; index <= 0xFFFF; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index))) ++count;
    return count;
}

// User objects of this process: windows, menus, cursors and icons, accelerator tables, found
// by slot index the same way.
DWORD ProbeUserObjects() {
    using FrameInfoFn = HCURSOR(WINAPI*)(HCURSOR, DWORD, DWORD, DWORD*, DWORD*);
    static const auto frameInfo = reinterpret_cast<FrameInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorFrameInfo")));
    const DWORD self = GetCurrentProcessId();
    DWORD count = 0;
    for (ULONG_PTR low = 0x20; low < 0xFFF0; low += 2) {
        const HANDLE handle = reinterpret_cast<HANDLE>(low);
        DWORD rate = 0, steps = 0, owner = 0;
        if (IsMenu(static_cast<HMENU>(handle)) ||
            (frameInfo && frameInfo(static_cast<HCURSOR>(handle), 0, 0, &rate, &steps)) ||
            CopyAcceleratorTableA(static_cast<HACCEL>(handle), nullptr, 0) > 0) {
            ++count;
        } else if (IsWindow(static_cast<HWND>(handle)) && GetWindowThreadProcessId(static_cast<HWND>(handle), &owner) &&
                   owner == self) {
            ++count;
        }
    }
    return count;
}

// Kernel handles of this process, from the system's handle list.
DWORD ProbeHandles() {
    struct Entry {
        ULONG pid;
        UCHAR type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    const ULONG kSystemHandleInformation = 16;
    const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           kInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    DWORD count = 0;
    for (ULONG i = 0; i < entries; ++i) count += entry[i].pid == GetCurrentProcessId();
    return count;
}

Reading Read() {
    Reading r;
    r.gdiCounter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    r.userCounter = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (!GetProcessHandleCount(GetCurrentProcess(), &r.handleCounter)) r.handleCounter = 0;
    r.gdiProbed = ProbeGdiObjects();
    r.userProbed = ProbeUserObjects();
    r.handleProbed = ProbeHandles();
    return r;
}

// Presses OK in every Print dialog and message box that opens over the form, until stopped.
class CDialogPresser {
public:
    CDialogPresser() : thread_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}
    ~CDialogPresser() {
        stop_ = true;
        if (thread_) {
            WaitForSingleObject(thread_, 10000);
            CloseHandle(thread_);
        }
    }
    CDialogPresser(const CDialogPresser&) = delete;
    CDialogPresser& operator=(const CDialogPresser&) = delete;
    void Watch(HWND form) { form_ = form; }
    int PrintDialogs() const { return printDialogs_; }
    int MessageBoxes() const { return messageBoxes_; }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<CDialogPresser*>(self)->Loop();
        return 0;
    }
    void Loop() {
        std::set<HWND> pressed;
        while (!stop_) {
            const HWND form = form_;
            for (HWND window : ProcessWindows(GetCurrentProcessId())) {
                if (!form || GetWindow(window, GW_OWNER) != form || ClassName(window) != "#32770") continue;
                if (pressed.count(window)) continue;
                pressed.insert(window);
                // The Print dialog has the printer list (1139); a message box has neither.
                if (GetDlgItem(window, 1139)) {
                    if (printDialogs_ == 0) SaveScreenshot(window, "leak_print_dialog");
                    ++printDialogs_;
                    PostMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
                } else {
                    if (messageBoxes_ == 0) SaveScreenshot(window, "leak_mail_explanation");
                    ++messageBoxes_;
                    PostMessageA(window, WM_COMMAND, IDOK, 0);
                }
            }
            for (auto it = pressed.begin(); it != pressed.end();) it = IsWindow(*it) ? std::next(it) : pressed.erase(it);
            Sleep(20);
        }
    }

    std::atomic<HWND> form_{nullptr};
    std::atomic<bool> stop_{false};
    std::atomic<int> printDialogs_{0}, messageBoxes_{0};
    HANDLE thread_;
};

// Whether a PDF that was not among `before` has come and is complete, within the time a job
// takes. Looks at the files only: no program is started.
bool WaitForNewFinishedPdf(const std::set<std::string>& before) {
    const std::string folder = pt::PdfFolder();
    return WaitUntil(
        [&] {
            for (const std::string& name : pt::PdfFiles()) {
                if (before.count(name)) continue;
                const std::string bytes = ReadFileBytes(folder + "\\" + name);
                if (bytes.size() > 16 && bytes.find("%%EOF", bytes.size() - 16) != std::string::npos) return true;
            }
            return false;
        },
        90000, 100);
}

// The rounds whose pages were printed ("r01", "r02", ...), read back from the new PDFs that
// carry `marker`, until `expected` were found; those PDFs are deleted, anyone else's are left
// alone.
std::set<std::string> TakeOurPdfs(std::set<std::string> seen, const std::string& marker, size_t expected) {
    std::set<std::string> rounds;
    pt::PrintedPdf pdf;
    while (rounds.size() < expected && pt::WaitForPdf(seen, marker, pdf, 60000)) {
        seen.insert(pdf.path.substr(pdf.path.find_last_of('\\') + 1));
        const size_t at = pdf.text.find(marker + "-r");
        if (at != std::string::npos) rounds.insert(pdf.text.substr(at + marker.size() + 1, 3));
        DeleteFileA(pdf.path.c_str());
    }
    return rounds;
}

// Puts the clipboard's text back at the end of the test.
class CClipboardKeeper {
public:
    CClipboardKeeper() : text_(mailtest::ClipboardText(&hadText_)) {}
    ~CClipboardKeeper() {
        if (hadText_) mailtest::SetClipboardText(text_);
    }
    CClipboardKeeper(const CClipboardKeeper&) = delete;
    CClipboardKeeper& operator=(const CClipboardKeeper&) = delete;

private:
    bool hadText_ = false;
    std::string text_;
};

void PrintRow(const char* label, const Reading& r) {
    std::printf("%-8s GDI %5lu / %5lu   user %5lu / %5lu   handles %5lu / %5lu\n", label, r.gdiCounter, r.gdiProbed,
                r.userCounter, r.userProbed, r.handleCounter, r.handleProbed);
    std::fflush(stdout);
}

}  // namespace

TEST(Leaks, FiftyPagesAndFiftyMailsFromOneFormHoldNoMoreThanTheFirstRound) {
    ASSERT_GT(pt::InstalledPrinters(), 0) << "no printer: run scripts/printer-setup.sh";
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES};
    InitCommonControlsEx(&controls);
    fw::CApp app;
    launchOptions.articleNumber = "A-1234";
    launchOptions.productTitle = "Der gro\xDF" "e Atlas";
    CClipboardKeeper clipboard;
    mailtest::CDefaultMailClient registration(mailtest::ClientDll());
    ASSERT_TRUE(registration.Registered());
    mailtest::CMailClientRun client("return 0");
    mailtest::CMailtoRecorder mailto;  // catches a fallback, which must not happen
    ASSERT_TRUE(mailto.Registered());
    const std::string marker = pt::UniqueMarker("Leak");
    {
        SetLastError(0);
        const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        const DWORD gdiError = GetLastError();
        DWORD handles = 0;
        const BOOL handlesOk = GetProcessHandleCount(GetCurrentProcess(), &handles);
        std::printf("system counters: GetGuiResources %lu (last error %lu), GetProcessHandleCount %s, %lu\n", gdi,
                    gdiError, handlesOk ? "TRUE" : "FALSE", handles);
        std::printf("columns: system counter / looked up one by one\n");
    }

    CDialogPresser presser;
    std::vector<Reading> readings;
    const std::set<std::string> pdfsBefore = pt::PdfFiles();
    const DWORD start = GetTickCount();
    // The form closes the way "Abbrechen" closes it.
    CFormHarness form([&](CFormHarness& f) {
        presser.Watch(f.Handle());
        f.SetItemText(IDC_REG_FIRSTNAME, "Anna");
        f.SetItemText(IDC_REG_STREET, "Hauptstra\xDF" "e 1");
        f.SetItemText(IDC_REG_ZIP, "20457");
        f.SetItemText(IDC_REG_CITY, "Hamburg");
        f.SetItemText(IDC_REG_USERNAME, "anna@example.org");
        f.SetItemText(IDC_REG_PASSWORD1, "Geheim");
        f.SetItemText(IDC_REG_PASSWORD2, "Geheim");
        readings.push_back(Read());
        PrintRow("before", readings.back());
        for (int round = 1; round <= kRounds; ++round) {
            // Each page carries its round, so its PDF is told apart from every other.
            char lastName[96];
            std::snprintf(lastName, sizeof lastName, "%s-r%02d", marker.c_str(), round);
            f.SetItemText(IDC_REG_LASTNAME, lastName);
            const std::set<std::string> before = pt::PdfFiles();
            f.Click(IDC_REG_PRINT);
            // One job at a time through the printer. The page's text is read back only after
            // the last round: reading a PDF starts Linux programs, and Wine keeps a handle of
            // every Linux program a process starts, which would count as a leak here.
            if (!WaitForNewFinishedPdf(before)) {
                ADD_FAILURE() << "no PDF for round " << round;
                return;
            }
            f.Click(IDC_REG_MAIL);
            readings.push_back(Read());
            char label[16];
            std::snprintf(label, sizeof label, "round %d", round);
            PrintRow(label, readings.back());
        }
    }, CFormHarness::ECloseBy::CancelButton);
    EXPECT_NE(-1, form.DoModal());
    std::printf("%d rounds in %lu s\n", kRounds, (GetTickCount() - start) / 1000);

    // Every round printed its page and sent its mail, with no fallback. Our PDFs go in any case.
    const size_t pagesPrinted = TakeOurPdfs(pdfsBefore, marker, presser.PrintDialogs()).size();
    ASSERT_EQ(static_cast<size_t>(kRounds + 1), readings.size());
    EXPECT_EQ(kRounds, presser.PrintDialogs());
    EXPECT_EQ(kRounds, presser.MessageBoxes());
    EXPECT_EQ(static_cast<size_t>(kRounds), pagesPrinted);
    EXPECT_EQ(static_cast<size_t>(kRounds), client.Calls().size());
    EXPECT_TRUE(mailto.SettledUrls().empty());

    struct Counter {
        const char* name;
        DWORD Reading::*counter;
        DWORD Reading::*probed;
    };
    const Counter counters[] = {{"GDI objects", &Reading::gdiCounter, &Reading::gdiProbed},
                                {"user objects", &Reading::userCounter, &Reading::userProbed},
                                {"handles", &Reading::handleCounter, &Reading::handleProbed}};
    const Reading& first = readings[1];
    for (const Counter& c : counters) {
        SCOPED_TRACE(c.name);
        // At least one way of counting must work, or the test would show nothing.
        EXPECT_TRUE(first.*c.counter > 0 || first.*c.probed > 0) << "not counted at all";
        for (int round = 2; round <= kRounds; ++round) {
            const Reading& now = readings[round];
            if (first.*c.counter > 0) {
                EXPECT_LE(now.*c.counter, first.*c.counter) << "counter, round " << round;
            }
            if (first.*c.probed > 0) {
                EXPECT_LE(now.*c.probed, first.*c.probed) << "looked up, round " << round;
            }
        }
        std::printf("%s: system counter %s, looked up %lu after round 1, %lu after round %d\n", c.name,
                    first.*c.counter > 0 ? "works" : "gives 0 (not counted here)", first.*c.probed,
                    readings[kRounds].*c.probed, kRounds);
    }
}
