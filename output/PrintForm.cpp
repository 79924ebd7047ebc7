// Printing the reply sheet: the Print dialog, then one job of one page on the chosen printer.
// Nothing is reported to the user on any path: a printer that cannot be chosen or a job that
// fails simply leaves the form as it was.
#include "output/PrintForm.h"

#include <commdlg.h>

#include "framework/Guards.h"
#include "framework/SystemFunction.h"
#include "framework/Text.h"
#include "output/GdiSurface.h"
#include "output/PageLayout.h"
#include "res/resource.h"

namespace {

// A memory block handed over by the Print dialog (device mode, device names), freed here.
class CReturnedGlobal : fw::CNonCopyable {
public:
    explicit CReturnedGlobal(HGLOBAL mem) : mem_(mem) {}
    ~CReturnedGlobal() {
        if (mem_) GlobalFree(mem_);
    }
private:
    HGLOBAL mem_;
};

// A started print job that is aborted unless it was ended.
class CPrintJob : fw::CNonCopyable {
public:
    explicit CPrintJob(HDC dc) : dc_(dc) {}
    ~CPrintJob() {
        if (open_) AbortDoc(dc_);
    }
    void End() {
        open_ = false;
        EndDoc(dc_);
    }
private:
    HDC dc_;
    bool open_ = true;
};

// Whether any printer, local or connected, is installed. Without one the Print dialog of some
// systems still opens, empty; with PD_NOWARNING nothing at all should show.
bool AnyPrinterInstalled() {
    using EnumPrintersFn = BOOL(WINAPI*)(DWORD, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    const auto enumPrinters = fw::BindSystemFunction<EnumPrintersFn>("winspool.drv", "EnumPrintersA");
    if (!enumPrinters) return false;
    DWORD needed = 0;
    DWORD count = 0;
    enumPrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    return needed > 0;
}

// One job of one page on `printer`, which stays the caller's.
void PrintPage(HDC printer, const RegistrationRecord& record) {
    const std::string documentName = fw::LoadResString(IDS_PRINT_DOCNAME);
    DOCINFOA document{};
    document.cbSize = sizeof(document);
    document.lpszDocName = documentName.c_str();
    const int job = StartDocA(printer, &document);

    const print::PageRect page =
        print::DrawingRect(GetDeviceCaps(printer, HORZRES), GetDeviceCaps(printer, VERTRES),
                           GetDeviceCaps(printer, HORZSIZE), GetDeviceCaps(printer, VERTSIZE));

    // StartDoc reports failure with 0 or a negative value (SP_ERROR); no page is started then.
    if (job <= 0) {
        AbortDoc(printer);
        return;
    }
    CPrintJob printJob(printer);
    StartPage(printer);  // its result is not looked at: EndPage tells whether the page made it
    print::CGdiSurface surface(printer);
    print::DrawRegistrationPage(surface, page, record);
    if (EndPage(printer) > 0) printJob.End();
}

}  // namespace

PrintDialogFunction printDialogFunction = nullptr;

void PrintRegistrationForm(HWND form, const RegistrationRecord& record) {
    // Called from the form's command handler: nothing may escape into the window procedure.
    try {
        if (!AnyPrinterInstalled()) return;

        // A fresh dialog each time, so it starts from the system's default printer. The form
        // is its owner: a dialog without one would leave the form usable behind it.
        PRINTDLGA dialog{};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = form;
        dialog.Flags = PD_NOSELECTION | PD_NOPAGENUMS | PD_NOWARNING | PD_HIDEPRINTTOFILE | PD_RETURNDC;
        if (!printDialogFunction)
            printDialogFunction = fw::BindSystemFunction<PrintDialogFunction>("comdlg32.dll", "PrintDlgA");
        if (!printDialogFunction) return;
        const BOOL chosen = printDialogFunction(&dialog);
        CReturnedGlobal devMode(dialog.hDevMode);
        CReturnedGlobal devNames(dialog.hDevNames);
        // The dialog hands the printer's device context over; it is deleted after the job.
        fw::CDeleteDC printer(dialog.hDC);
        if (!chosen || !printer) return;
        PrintPage(printer, record);
    } catch (...) {
    }
}
