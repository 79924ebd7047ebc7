// Prints reply sheets for the sheet-reading benchmark through VelkRun's own print route, one
// job per record, on the default printer (the CUPS PDF printer), and moves each finished PDF
// into an output folder. The Print dialog is answered with the default printer without being
// shown; everything after it (the job, the page layout, GDI) is the program's real code.
//   sheet_print <records.tsv> <out folder>
// records.tsv: one record per line in the Windows code page, the 26 fields of the record in
// its member order (username ... kaufoft, then titel), separated by tabs. `gprod` must be
// unique: it tells this program's PDFs from those of other print jobs on the machine.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "form/RegistrationRecord.h"
#include "output/PrintForm.h"
#include "print_support.h"

namespace {

std::string documentName;
pt::CImportPatch* startDocPatch = nullptr;

BOOL WINAPI DefaultPrinter(PRINTDLGA* dialog) {
    dialog->Flags |= PD_RETURNDEFAULT;
    return PrintDlgA(dialog);
}

// Gives every job a name of its own, so the PDF printer's file names never collide with the
// jobs of other programs printing on this machine at the same time.
int WINAPI NamedStartDocA(HDC dc, const DOCINFOA* document) {
    DOCINFOA named = *document;
    named.lpszDocName = documentName.c_str();
    return startDocPatch->Original<int(WINAPI*)(HDC, const DOCINFOA*)>()(dc, &named);
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool ToRecord(const std::vector<std::string>& f, RegistrationRecord& r) {
    if (f.size() != 26) return false;
    std::string* members[] = {&r.username, &r.password_1, &r.aggraccept, &r.vipkunde, &r.vorname,
                              &r.nachname, &r.firm, &r.addr, &r.city, &r.zip, &r.land, &r.tel, &r.fax,
                              &r.alt, &r.berstell, &r.lebkindih, &r.pctyp, &r.betrsystem, &r.anwender,
                              &r.gprod, &r.gprodg, &r.wgekauf, &r.dgekauf, &r.pgekauf, &r.kaufoft, &r.titel};
    for (std::size_t i = 0; i < 26; ++i) *members[i] = f[i];
    r.password_2 = r.password_1;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sheet_print <records.tsv> <out folder>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "sheet_print: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string out = argv[2];
    CreateDirectoryA(out.c_str(), nullptr);
    pt::CImportPatch startDoc("gdi32.dll", "StartDocA", reinterpret_cast<const void*>(NamedStartDocA));
    if (!startDoc.Ok()) {
        std::fprintf(stderr, "sheet_print: cannot watch StartDocA\n");
        return 1;
    }
    startDocPatch = &startDoc;
    printDialogFunction = DefaultPrinter;
    HWND owner = CreateWindowExA(0, "STATIC", "Formular", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);

    std::string line;
    int index = 0, failed = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        RegistrationRecord record;
        if (!ToRecord(SplitTabs(line), record)) {
            std::fprintf(stderr, "sheet_print: line %d does not hold 26 fields\n", index + 1);
            return 1;
        }
        ++index;
        char name[96];
        std::snprintf(name, sizeof name, "VelkSheetGen-%lu-%04d", GetCurrentProcessId(), index);
        documentName = name;
        const std::set<std::string> before = pt::PdfFiles();
        PrintRegistrationForm(owner, record);
        pt::PrintedPdf pdf;
        char target[MAX_PATH];
        std::snprintf(target, sizeof target, "%s\\%04d.pdf", out.c_str(), index);
        if (!pt::WaitForPdf(before, record.gprod, pdf) || !MoveFileExA(pdf.path.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            std::fprintf(stderr, "sheet_print: record %d (%s) gave no PDF\n", index, record.gprod.c_str());
            ++failed;
            continue;
        }
        std::printf("%04d %s\n", index, record.gprod.c_str());
        std::fflush(stdout);
    }
    DestroyWindow(owner);
    return failed ? 1 : 0;
}
