// Helpers for the print tests under Wine: the CUPS PDF printer's output folder, reading a
// printed PDF back with the Linux tools, hiding every printer from Windows programs for a
// while, and replacing an import of the test program to watch the print job's calls.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "WinTest.h"

namespace pt {

// The Linux path of a Windows path (Wine's own mapping); "" when there is none.
std::string UnixPath(const std::string& windowsPath);

// Runs `script` with /bin/sh on the Linux side and waits for it; its exit code, or -1 when it
// could not be started or did not end within `timeoutMs`. Standard output and error go to
// `output`. The script must not contain double quotes.
int RunLinux(const std::string& script, std::string& output, DWORD timeoutMs = 60000);

// Where the CUPS PDF printer writes finished jobs (the Out line of cups-pdf.conf), as a
// Windows path without a trailing backslash.
std::string PdfFolder();
// Names of the PDF files in PdfFolder() right now.
std::set<std::string> PdfFiles();

// A PDF printed by a test, read back.
struct PrintedPdf {
    std::string path;  // Windows path
    std::string text;  // pdftotext -raw, in the Windows code page
    std::string info;  // pdfinfo
    int pages = 0;
};

// Waits for a finished PDF that was not among `before` and whose text holds `marker`. Other
// new PDFs (from other test runs on this machine) are passed over.
bool WaitForPdf(const std::set<std::string>& before, const std::string& marker, PrintedPdf& pdf,
                DWORD timeoutMs = 90000);
// Whether a finished PDF that was not among `before` holds `marker`.
bool AnyPdfHolds(const std::set<std::string>& before, const std::string& marker);
// Renders the first page of `pdf` as <screenshots>\name.png and deletes the PDF.
bool KeepAsPngAndRemove(const PrintedPdf& pdf, const std::string& name);

// A text that no earlier run printed: `prefix` with this process's id and the tick count.
std::string UniqueMarker(const std::string& prefix);
// `text` with every run of blanks, tabs and line ends made one blank.
std::string CollapseBlanks(const std::string& text);

// While it lives, Windows programs of this prefix find no printer installed and no default
// printer. The printers' registry entries are moved to a test key and come back at the end.
class CNoPrinters {
public:
    CNoPrinters();
    ~CNoPrinters();
    CNoPrinters(const CNoPrinters&) = delete;
    CNoPrinters& operator=(const CNoPrinters&) = delete;
    // Whether every printer was hidden.
    bool Ok() const { return ok_; }

private:
    wt::CRegTestKey backup_;
    HMODULE spooler_ = nullptr;
    std::vector<std::string> printers_;
    bool hadDevice_ = false;
    std::string device_;
    bool ok_ = false;
};

// Number of printers Windows programs see.
int InstalledPrinters();

// Points this program's import of `function` from `dll` at `replacement` until destroyed;
// Original() is the function that was imported.
class CImportPatch {
public:
    CImportPatch(const char* dll, const char* function, const void* replacement);
    ~CImportPatch();
    CImportPatch(const CImportPatch&) = delete;
    CImportPatch& operator=(const CImportPatch&) = delete;
    bool Ok() const { return !slots_.empty(); }
    template <typename F>
    F Original() const {
        return reinterpret_cast<F>(original_);
    }

private:
    std::vector<void**> slots_;
    void* original_ = nullptr;
};

}  // namespace pt
