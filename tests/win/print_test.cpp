// The reply sheet through GDI: recorded in a metafile at printer resolution and read back,
// rendered for review, and printed through the Print dialog onto the CUPS PDF printer, with
// the printer's device context, the dialog's memory and every font released on each path.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "WinTest.h"
#include "framework/Text.h"
#include "output/GdiSurface.h"
#include "output/PageLayout.h"
#include "output/PrintForm.h"
#include "print_support.h"
#include "tests/support/sample_answers.h"

using namespace wt;

namespace {

// The CUPS PDF printer's page at 300 pixels per inch.
const print::PageRect kPage = print::DrawingRect(2479, 3508, 209, 297);

// GDI on a memory or metafile device context that takes the resolution of a 300 dpi printer.
class CPrinterLikeSurface : public print::CGdiSurface {
public:
    using CGdiSurface::CGdiSurface;
    int LogPixelsX() override { return 300; }
    int LogPixelsY() override { return 300; }
};

// The shared sample under `lastName`, which tells its PDF apart. The repetition of the password
// differs, so the sheet can show it prints the first one only; the purchase answer is empty,
// which the sheet prints as "nein".
RegistrationRecord Record(const std::string& lastName) {
    RegistrationRecord r = sample::SampleAnswers();
    r.nachname = lastName;
    r.password_2 = "ZweitesFeld9";
    r.pgekauf.clear();
    return r;
}

std::string S(unsigned id) {
    return fw::LoadResString(id);
}

// Every text of the sheet in drawing order.
std::vector<std::string> SheetTexts(const RegistrationRecord& r) {
    std::vector<std::string> t;
    for (unsigned id = 51; id <= 60; ++id) t.push_back(S(id));
    const std::vector<std::vector<std::string>> lines = {
        {S(61), r.vorname, r.nachname, r.firm}, {S(62), r.addr},   {S(63), r.zip, r.city, r.land},
        {S(64), r.tel, r.fax},                   {S(65)},           {S(66), r.gprod, r.titel},
        {S(67), r.gprodg},                       {S(68), r.wgekauf}, {S(69), r.dgekauf},
        {S(70), r.pgekauf.empty() ? S(40) : r.pgekauf},             {S(71), r.kaufoft},
        {S(72)}, {S(73)}, {S(74), r.aggraccept}, {S(75), r.username}, {S(76), r.password_1},
        {S(77)}, {S(78)}, {S(79)}, {S(80), r.vipkunde}, {S(81)}, {S(82), r.alt}, {S(83), r.berstell},
        {S(84), r.lebkindih}, {S(85), r.pctyp}, {S(86), r.betrsystem}, {S(87), r.anwender}};
    for (const auto& line : lines)
        for (const std::string& text : line)
            if (!text.empty()) t.push_back(text);
    return t;
}

struct Recorded {
    std::vector<std::string> texts;
    std::vector<RECTL> textBounds;
    std::vector<EMRSTRETCHDIBITS> logos;
    std::vector<LOGFONTW> fonts;
    int deletes = 0;
};

int CALLBACK Collect(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
    auto* out = reinterpret_cast<Recorded*>(data);
    const auto* bytes = reinterpret_cast<const BYTE*>(record);
    switch (record->iType) {
    case EMR_EXTTEXTOUTW: {
        const auto* r = reinterpret_cast<const EMREXTTEXTOUTW*>(record);
        const auto* text = reinterpret_cast<const WCHAR*>(bytes + r->emrtext.offString);
        std::string narrow(r->emrtext.nChars * 2 + 1, '\0');
        const int n = WideCharToMultiByte(1252, 0, text, static_cast<int>(r->emrtext.nChars), &narrow[0],
                                          static_cast<int>(narrow.size()), nullptr, nullptr);
        narrow.resize(n > 0 ? n : 0);
        out->texts.push_back(narrow);
        out->textBounds.push_back(r->rclBounds);
        break;
    }
    case EMR_EXTTEXTOUTA: {
        const auto* r = reinterpret_cast<const EMREXTTEXTOUTA*>(record);
        out->texts.emplace_back(reinterpret_cast<const char*>(bytes + r->emrtext.offString), r->emrtext.nChars);
        out->textBounds.push_back(r->rclBounds);
        break;
    }
    case EMR_STRETCHDIBITS:
        out->logos.push_back(*reinterpret_cast<const EMRSTRETCHDIBITS*>(record));
        break;
    case EMR_EXTCREATEFONTINDIRECTW:
        out->fonts.push_back(reinterpret_cast<const EMREXTCREATEFONTINDIRECTW*>(record)->elfw.elfLogFont);
        break;
    case EMR_DELETEOBJECT:
        ++out->deletes;
        break;
    default:
        break;
    }
    return 1;
}

// Runs PrintRegistrationForm over a hidden owner window while another thread waits for the
// Print dialog, looks at it and presses `button` (IDOK or IDCANCEL).
struct DialogSeen {
    HWND owner = nullptr;
    int button = IDOK;
    DWORD waitMs = 20000;
    std::string screenshot;
    HWND dialog = nullptr;
    bool ownerDisabled = false;
    bool pageRangeOffered = true, selectionOffered = true, printToFileShown = true;
    std::string printer;
};

DWORD WINAPI WatchPrintDialog(void* data) {
    auto* seen = static_cast<DialogSeen*>(data);
    seen->dialog = WaitForOwnedWindow(GetCurrentProcessId(), seen->owner, seen->waitMs);
    if (!seen->dialog) return 0;
    seen->ownerDisabled = !IsWindowEnabled(seen->owner);
    // The common dialog's own control ids: Selection, Pages, Print to file, printer list.
    seen->selectionOffered = IsWindowEnabled(GetDlgItem(seen->dialog, 1057)) != FALSE;
    seen->pageRangeOffered = IsWindowEnabled(GetDlgItem(seen->dialog, 1058)) != FALSE;
    seen->printToFileShown = IsWindowVisible(GetDlgItem(seen->dialog, 1040)) != FALSE;
    seen->printer = ItemText(seen->dialog, 1139);
    if (!seen->screenshot.empty()) SaveScreenshot(seen->dialog, seen->screenshot);
    PostMessageA(GetDlgItem(seen->dialog, seen->button), BM_CLICK, 0, 0);
    return 0;
}

void PrintThroughDialog(DialogSeen& seen, const RegistrationRecord& record) {
    seen.owner = CreateWindowExA(0, "STATIC", "Formular", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    HANDLE watcher = CreateThread(nullptr, 0, WatchPrintDialog, &seen, 0, nullptr);
    PrintRegistrationForm(seen.owner, record);
    WaitForSingleObject(watcher, 30000);
    CloseHandle(watcher);
    DestroyWindow(seen.owner);
}

// What the print route did with the resources it got: watched through this program's imports.
struct Calls {
    PRINTDLGA dialog = {};
    int dialogs = 0;
    std::vector<HDC> deletedDcs;
    std::vector<HGLOBAL> freed;
    std::vector<HGDIOBJ> fontsMade, objectsDeleted;
    int startDocs = 0, startPages = 0, endPages = 0, endDocs = 0, abortDocs = 0;
    int startDocResult = 1;  // 1: the real result; other values replace it without a job
    bool failEndPage = false;
} calls;

pt::CImportPatch* patches[9] = {};

template <typename F>
F Real(int i) {
    return patches[i]->Original<F>();
}

BOOL WINAPI HookPrintDlgA(PRINTDLGA* dialog) {
    const BOOL result = PrintDlgA(dialog);
    ++calls.dialogs;
    calls.dialog = *dialog;
    return result;
}
BOOL WINAPI HookDeleteDC(HDC dc) {
    calls.deletedDcs.push_back(dc);
    return Real<BOOL(WINAPI*)(HDC)>(1)(dc);
}
HGLOBAL WINAPI HookGlobalFree(HGLOBAL mem) {
    calls.freed.push_back(mem);
    return Real<HGLOBAL(WINAPI*)(HGLOBAL)>(2)(mem);
}
HFONT WINAPI HookCreateFontIndirectA(const LOGFONTA* font) {
    HFONT made = Real<HFONT(WINAPI*)(const LOGFONTA*)>(3)(font);
    calls.fontsMade.push_back(made);
    return made;
}
BOOL WINAPI HookDeleteObject(HGDIOBJ object) {
    calls.objectsDeleted.push_back(object);
    return Real<BOOL(WINAPI*)(HGDIOBJ)>(4)(object);
}
int WINAPI HookStartDocA(HDC dc, const DOCINFOA* doc) {
    ++calls.startDocs;
    if (calls.startDocResult != 1) return calls.startDocResult;
    return Real<int(WINAPI*)(HDC, const DOCINFOA*)>(5)(dc, doc);
}
int WINAPI HookEndPage(HDC dc) {
    ++calls.endPages;
    const int result = Real<int(WINAPI*)(HDC)>(6)(dc);
    return calls.failEndPage ? 0 : result;
}
int WINAPI HookEndDoc(HDC dc) {
    ++calls.endDocs;
    return Real<int(WINAPI*)(HDC)>(7)(dc);
}
int WINAPI HookAbortDoc(HDC dc) {
    ++calls.abortDocs;
    return Real<int(WINAPI*)(HDC)>(8)(dc);
}

// Watches the print route's calls for the length of one test.
class CWatchedCalls {
public:
    CWatchedCalls() {
        calls = Calls();
        const struct {
            const char* dll;
            const char* name;
            const void* hook;
        } hooks[] = {{nullptr, nullptr, nullptr},  // the Print dialog is watched through its pointer
                     {"gdi32.dll", "DeleteDC", reinterpret_cast<const void*>(HookDeleteDC)},
                     {"kernel32.dll", "GlobalFree", reinterpret_cast<const void*>(HookGlobalFree)},
                     {"gdi32.dll", "CreateFontIndirectA", reinterpret_cast<const void*>(HookCreateFontIndirectA)},
                     {"gdi32.dll", "DeleteObject", reinterpret_cast<const void*>(HookDeleteObject)},
                     {"gdi32.dll", "StartDocA", reinterpret_cast<const void*>(HookStartDocA)},
                     {"gdi32.dll", "EndPage", reinterpret_cast<const void*>(HookEndPage)},
                     {"gdi32.dll", "EndDoc", reinterpret_cast<const void*>(HookEndDoc)},
                     {"gdi32.dll", "AbortDoc", reinterpret_cast<const void*>(HookAbortDoc)}};
        printDialogFunction = HookPrintDlgA;
        for (int i = 1; i < 9; ++i) {
            patches[i] = new pt::CImportPatch(hooks[i].dll, hooks[i].name, hooks[i].hook);
            ok_ = ok_ && patches[i]->Ok();
        }
    }
    ~CWatchedCalls() {
        printDialogFunction = nullptr;  // bound anew on the next print
        for (auto*& patch : patches) {
            delete patch;
            patch = nullptr;
        }
    }
    bool Ok() const { return ok_; }

private:
    bool ok_ = true;
};

bool Contains(const std::vector<HGDIOBJ>& list, HGDIOBJ object) {
    return std::find(list.begin(), list.end(), object) != list.end();
}

// The printer's device context, the dialog's memory blocks and every font are gone.
void ExpectReleased() {
    ASSERT_EQ(1, calls.dialogs);
    if (calls.dialog.hDC) {
        EXPECT_EQ(1, std::count(calls.deletedDcs.begin(), calls.deletedDcs.end(), calls.dialog.hDC));
        EXPECT_EQ(0u, GetObjectType(calls.dialog.hDC));
    }
    for (HGLOBAL mem : {calls.dialog.hDevMode, calls.dialog.hDevNames})
        if (mem) {
            EXPECT_EQ(1, std::count(calls.freed.begin(), calls.freed.end(), mem));
        }
    for (HGDIOBJ font : calls.fontsMade) EXPECT_TRUE(Contains(calls.objectsDeleted, font)) << font;
}

}  // namespace

TEST(PrintedSheet, RecordedAtPrinterResolution) {
    const RegistrationRecord record = Record("Meier");
    HDC reference = CreateCompatibleDC(nullptr);
    HDC meta = CreateEnhMetaFileA(reference, nullptr, nullptr, "VelkTest\0Sheet\0");
    ASSERT_NE(nullptr, meta);
    {
        CPrinterLikeSurface surface(meta);
        print::DrawRegistrationPage(surface, kPage, record);
    }
    HENHMETAFILE recording = CloseEnhMetaFile(meta);
    ASSERT_NE(nullptr, recording);
    Recorded seen;
    EnumEnhMetaFile(nullptr, recording, Collect, &seen, nullptr);
    DeleteEnhMetaFile(recording);
    DeleteDC(reference);

    EXPECT_EQ(SheetTexts(record), seen.texts);
    EXPECT_EQ(seen.texts.end(), std::find(seen.texts.begin(), seen.texts.end(), record.password_2));

    // The logo: 128 x 62 pixels as as many points, in the top right corner.
    ASSERT_EQ(1u, seen.logos.size());
    EXPECT_EQ(kPage.right - 533, seen.logos[0].xDest);
    EXPECT_EQ(kPage.top, seen.logos[0].yDest);
    EXPECT_EQ(533, seen.logos[0].cxDest);
    EXPECT_EQ(258, seen.logos[0].cyDest);
    EXPECT_EQ(128, seen.logos[0].cxSrc);
    EXPECT_EQ(62, seen.logos[0].cySrc);

    // Six Arial fonts at 300 dpi, every one deleted again.
    const std::vector<std::pair<LONG, LONG>> fonts = {{-67, 700}, {-42, 400}, {-46, 400},
                                                      {-46, 700}, {-42, 400}, {-42, 700}};
    ASSERT_EQ(fonts.size(), seen.fonts.size());
    for (std::size_t i = 0; i < fonts.size(); ++i) {
        EXPECT_EQ(fonts[i].first, seen.fonts[i].lfHeight) << i;
        EXPECT_EQ(fonts[i].second, seen.fonts[i].lfWeight) << i;
        EXPECT_EQ(std::wstring(L"Arial"), seen.fonts[i].lfFaceName);
        EXPECT_EQ(DEFAULT_CHARSET, seen.fonts[i].lfCharSet);
    }
    EXPECT_EQ(static_cast<int>(fonts.size()), seen.deletes);

    // Nothing runs past the right margin of an A4 page, and the sheet ends above the bottom one.
    for (std::size_t i = 0; i < seen.textBounds.size(); ++i) {
        EXPECT_LE(seen.textBounds[i].right, kPage.right) << seen.texts[i];
        EXPECT_LE(seen.textBounds[i].bottom, kPage.bottom) << seen.texts[i];
    }
}

TEST(PrintedSheet, RenderedForReview) {
    // The page as a 300 dpi printer would put it on A4, kept as a picture for people to check.
    const int width = 2479, height = 3508;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP page = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, page);
    HGDIOBJ previous = SelectObject(dc, page);
    const RECT all{0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    {
        CPrinterLikeSurface surface(dc);
        print::DrawRegistrationPage(surface, kPage, Record("Meier"));
    }
    GdiFlush();
    SelectObject(dc, previous);
    const DWORD size = (width * 3 + 3) / 4 * 4 * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(bits), size);
    EXPECT_TRUE(WriteFileBytes(ScreenshotDir() + "print_page_300dpi.bmp", bytes));
    DeleteObject(page);
    DeleteDC(dc);
}

TEST(PrintedSheet, PrintDialogOverTheFormThenOnePageOnThePrinter) {
    ASSERT_GT(pt::InstalledPrinters(), 0) << "no printer: run scripts/printer-setup.sh";
    CWatchedCalls watched;
    ASSERT_TRUE(watched.Ok());
    const std::string marker = pt::UniqueMarker("Drucktest");
    const RegistrationRecord record = Record(marker);
    const std::set<std::string> before = pt::PdfFiles();

    DialogSeen seen;
    seen.screenshot = "print_dialog";
    PrintThroughDialog(seen, record);
    ASSERT_NE(nullptr, seen.dialog) << "no Print dialog owned by the form";
    EXPECT_TRUE(seen.ownerDisabled);
    EXPECT_FALSE(seen.selectionOffered);
    EXPECT_FALSE(seen.pageRangeOffered);
    EXPECT_FALSE(seen.printToFileShown);
    char defaultPrinter[256] = {};
    DWORD length = sizeof defaultPrinter;
    ASSERT_TRUE(GetDefaultPrinterA(defaultPrinter, &length));
    EXPECT_EQ(defaultPrinter, seen.printer);

    EXPECT_EQ(1, calls.startDocs);
    EXPECT_EQ(1, calls.endDocs);
    EXPECT_EQ(0, calls.abortDocs);
    ExpectReleased();
    EXPECT_EQ(6u, calls.fontsMade.size());

    pt::PrintedPdf pdf;
    ASSERT_TRUE(pt::WaitForPdf(before, marker, pdf)) << "no PDF in " << pt::PdfFolder();
    WriteFileBytes(ScreenshotDir() + "print_direct_pdf.txt", pdf.text);
    EXPECT_EQ(1, pdf.pages) << pdf.text;
    EXPECT_NE(std::string::npos, pdf.path.find("VELK_Media_Registrierung")) << pdf.path;
    const std::string text = pt::CollapseBlanks(pdf.text);
    for (const std::string& piece : SheetTexts(record))
        EXPECT_NE(std::string::npos, text.find(pt::CollapseBlanks(piece))) << piece;
    EXPECT_EQ(std::string::npos, text.find(record.password_2));
    pt::KeepAsPngAndRemove(pdf, "print_direct_pdf");
}

TEST(PrintedSheet, CancelPrintsNothingAndFreesTheDialogMemory) {
    ASSERT_GT(pt::InstalledPrinters(), 0);
    CWatchedCalls watched;
    ASSERT_TRUE(watched.Ok());
    DialogSeen seen;
    seen.button = IDCANCEL;
    PrintThroughDialog(seen, Record("Abbruch"));
    ASSERT_NE(nullptr, seen.dialog);
    EXPECT_EQ(0, calls.startDocs);
    EXPECT_EQ(nullptr, calls.dialog.hDC);
    ExpectReleased();
}

TEST(PrintedSheet, FailedJobIsAbortedAndTheDeviceContextStillDeleted) {
    ASSERT_GT(pt::InstalledPrinters(), 0);
    struct Case {
        const char* name;
        int startDocResult;
        bool failEndPage;
        int endPages;
    };
    for (const Case& c : {Case{"StartDoc gives 0", 0, false, 0}, Case{"StartDoc gives SP_ERROR", SP_ERROR, false, 0},
                          Case{"EndPage fails", 1, true, 1}}) {
        SCOPED_TRACE(c.name);
        CWatchedCalls watched;
        ASSERT_TRUE(watched.Ok());
        calls.startDocResult = c.startDocResult;
        calls.failEndPage = c.failEndPage;
        DialogSeen seen;
        PrintThroughDialog(seen, Record("Fehler"));
        ASSERT_NE(nullptr, seen.dialog);
        EXPECT_EQ(1, calls.startDocs);
        EXPECT_EQ(c.endPages, calls.endPages);
        EXPECT_EQ(1, calls.abortDocs);
        EXPECT_EQ(0, calls.endDocs);
        ExpectReleased();
    }
}

TEST(PrintedSheet, NoPrinterInstalledShowsNothing) {
    CWatchedCalls watched;
    ASSERT_TRUE(watched.Ok());
    {
        pt::CNoPrinters none;
        ASSERT_TRUE(none.Ok());
        DialogSeen seen;
        seen.waitMs = 3000;  // the call itself returns at once when nothing shows
        PrintThroughDialog(seen, Record("Ohne"));
        EXPECT_EQ(nullptr, seen.dialog);
        EXPECT_EQ(0, calls.startDocs);
    }
    EXPECT_GT(pt::InstalledPrinters(), 0) << "the printers did not come back";
}
