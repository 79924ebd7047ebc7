// In-process timing of the two output routes of the registration form: one print job on the
// CUPS PDF printer and one mail hand-off to the test mail client. The Print dialog and the
// mail explanation box are pressed from a watcher thread; the time they wait for that press
// is taken out, so the figures are what the user waits for after pressing OK.
// With --ini, also the start-up work VelkRun does in its process before its first dialog is
// shown: the settings read, and the form's and the runner's initialisation (mail client
// lookup, labels, texts), apart from the template and lists that any program showing them
// creates.
//   output_bench --out <file> [--ini <VelkRun.ini>] [--only print,mail,startup] [--runs N] [--warmup N] [--cold N]
//   output_bench --single print|mail|startup --out <file> [--ini <VelkRun.ini>]
//                                                    (one route, first in a fresh process)
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "WinTest.h"
#include "form/MailClient.h"
#include "form/RegistrationDlg.h"
#include "form/RegistrationRecord.h"
#include "framework/App.h"
#include "framework/Guards.h"
#include "framework/SystemFunction.h"
#include "mail_support.h"
#include "output/MailDispatch.h"
#include "output/PrintForm.h"
#include "print_support.h"
#include "runner/LaunchOptions.h"
#include "runner/RunnerDlg.h"
#include "runner/Settings.h"

using bench::NowMs;

namespace {

// Moments of one route run, in milliseconds on the performance counter; 0 when not reached.
struct Stamps {
    double call = 0;            // the route's function is called
    double visible = 0;         // its dialog or box is visible
    double click = 0;           // OK is pressed
    double dialogReturn = 0;    // PrintDlgA returned
    double startDoc = 0;        // StartDocA called
    double endDoc = 0;          // EndDoc returned
    int endDocResult = 0;
    double ret = 0;             // the route's function returned
};
Stamps stamps;

pt::CImportPatch* startDocPatch = nullptr;
pt::CImportPatch* endDocPatch = nullptr;

BOOL WINAPI TimedPrintDlgA(PRINTDLGA* dialog) {
    const BOOL result = PrintDlgA(dialog);
    stamps.dialogReturn = NowMs();
    return result;
}
int WINAPI TimedStartDocA(HDC dc, const DOCINFOA* document) {
    stamps.startDoc = NowMs();
    return startDocPatch->Original<int(WINAPI*)(HDC, const DOCINFOA*)>()(dc, document);
}
int WINAPI TimedEndDoc(HDC dc) {
    const int result = endDocPatch->Original<int(WINAPI*)(HDC)>()(dc);
    stamps.endDoc = NowMs();
    stamps.endDocResult = result;
    return result;
}

// Points the print route's calls at the timed versions while it lives.
class CTimedImports {
public:
    CTimedImports()
        : startDoc_("gdi32.dll", "StartDocA", reinterpret_cast<const void*>(TimedStartDocA)),
          endDoc_("gdi32.dll", "EndDoc", reinterpret_cast<const void*>(TimedEndDoc)) {
        printDialogFunction = TimedPrintDlgA;
        startDocPatch = &startDoc_;
        endDocPatch = &endDoc_;
    }
    ~CTimedImports() {
        printDialogFunction = nullptr;
        startDocPatch = endDocPatch = nullptr;
    }
    bool Ok() const { return startDoc_.Ok() && endDoc_.Ok(); }

private:
    pt::CImportPatch startDoc_, endDoc_;
};

// The watcher: polls the main thread's windows every millisecond for a visible one owned by
// `owner`, notes when it appeared and presses OK at once.
struct Watch {
    HWND owner = nullptr;
    DWORD thread = 0;
    bool printDialog = false;
    HWND found = nullptr;
};

BOOL CALLBACK FindOwned(HWND hwnd, LPARAM data) {
    auto* watch = reinterpret_cast<Watch*>(data);
    if (GetWindow(hwnd, GW_OWNER) != watch->owner || !IsWindowVisible(hwnd)) return TRUE;
    watch->found = hwnd;
    return FALSE;
}

DWORD WINAPI WatchAndPressOk(void* data) {
    auto* watch = static_cast<Watch*>(data);
    const double deadline = NowMs() + 30000;
    while (NowMs() < deadline) {
        EnumThreadWindows(watch->thread, FindOwned, reinterpret_cast<LPARAM>(watch));
        if (watch->found) {
            stamps.visible = stamps.click = NowMs();
            if (watch->printDialog)
                PostMessageA(GetDlgItem(watch->found, IDOK), BM_CLICK, 0, 0);
            else
                PostMessageA(watch->found, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(1);
    }
    return 0;
}

RegistrationRecord SampleRecord(const std::string& lastName) {
    RegistrationRecord r;
    r.username = "anna@example.org";
    r.password_1 = r.password_2 = "Klartext7";
    r.aggraccept = "ja";
    r.vipkunde = "nein";
    r.vorname = "Anna";
    r.nachname = lastName;
    r.firm = "Kontor AG";
    r.addr = "Hauptstra\xDF" "e 1";
    r.city = "K\xF6ln";
    r.zip = "50667";
    r.land = "Deutschland";
    r.tel = "0221 123";
    r.fax = "0221 124";
    r.alt = "30-40 Jahre";
    r.berstell = "Angestellter";
    r.lebkindih = "ja";
    r.pctyp = "Desktop";
    r.betrsystem = "Windows XP";
    r.anwender = "Fortgeschrittener";
    r.gprod = "VM-2027-ATL";
    r.gprodg = "Fachhandel";
    r.wgekauf = "Zeitschrift";
    r.dgekauf = "07.03.2027";
    r.kaufoft = "monatlich";
    r.titel = "VELK Media Atlas 2027";
    return r;
}

using Figures = std::map<std::string, double>;

// Runs `route` over a hidden form stand-in while the watcher presses OK; false when the
// dialog or box never came.
template <typename Route>
bool RunPressed(bool printDialog, Route route) {
    stamps = Stamps();
    HWND owner = CreateWindowExA(0, "STATIC", "Formular", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    Watch watch;
    watch.owner = owner;
    watch.thread = GetCurrentThreadId();
    watch.printDialog = printDialog;
    fw::CHandle watcher(CreateThread(nullptr, 0, WatchAndPressOk, &watch, 0, nullptr));
    stamps.call = NowMs();
    route(owner);
    stamps.ret = NowMs();
    WaitForSingleObject(watcher.Get(), 35000);
    DestroyWindow(owner);
    return watch.found != nullptr;
}

// One print job; the PDF it makes is waited for and removed before the next one starts, so
// the printing system's conversion never runs during a timed job.
bool PrintOnce(Figures& f, std::string& error) {
    const std::set<std::string> before = pt::PdfFiles();
    const std::string marker = pt::UniqueMarker("Bench");
    const RegistrationRecord record = SampleRecord(marker);
    CTimedImports timed;
    if (!timed.Ok()) {
        error = "the print calls could not be timed";
        return false;
    }
    if (!RunPressed(true, [&](HWND owner) { PrintRegistrationForm(owner, record); })) {
        error = "no Print dialog";
        return false;
    }
    if (stamps.endDocResult <= 0) {
        error = "the job did not end";
        return false;
    }
    pt::PrintedPdf pdf;
    if (!pt::WaitForPdf(before, marker, pdf)) {
        error = "no PDF in " + pt::PdfFolder();
        return false;
    }
    DeleteFileA(pdf.path.c_str());
    const double wait = stamps.click - stamps.visible;
    f["print.open"] = stamps.visible - stamps.call;
    f["print.close"] = stamps.dialogReturn - stamps.click;
    f["print.job"] = stamps.endDoc - stamps.startDoc;
    f["print.ok_enddoc"] = stamps.endDoc - stamps.click;
    f["print.total"] = stamps.ret - stamps.call - wait;
    return true;
}

bool MailOnce(const mailtest::CMailClientRun& client, Figures& f, std::string& error) {
    const size_t callsBefore = client.Calls().size();
    const RegistrationRecord record = SampleRecord("Meier");
    if (!RunPressed(false, [&](HWND owner) { SendRegistrationMail(owner, record, mailtest::ClientDll()); })) {
        error = "no explanation box";
        return false;
    }
    ClearRegistrationClipboard();
    if (client.Calls().size() != callsBefore + 1) {
        error = "the test mail client was not called";
        return false;
    }
    const double wait = stamps.click - stamps.visible;
    f["mail.box"] = stamps.visible - stamps.call;
    f["mail.ok_return"] = stamps.ret - stamps.click;
    f["mail.total"] = stamps.ret - stamps.call - wait;
    return true;
}

// ---- start-up ---------------------------------------------------------------------------

// A dialog of VelkRun that notes when its template is created (lists filled) and how long its
// own initialisation takes, then closes at once.
template <typename Dialog>
class CTimedInit : public Dialog {
public:
    double created = 0, initialised = 0;

protected:
    BOOL OnInitDialog() override {
        created = NowMs();
        const BOOL result = Dialog::OnInitDialog();
        initialised = NowMs();
        PostMessageA(this->Handle(), WM_COMMAND, IDCANCEL, 0);
        return result;
    }
};

template <typename Dialog>
bool TimeDialog(const char* id, Figures& f) {
    CTimedInit<Dialog> dialog;
    fw::CMainWindowScope main(*fw::CApp::Get(), dialog);
    const double call = NowMs();
    if (dialog.DoModal() == -1 || dialog.initialised == 0) return false;
    f[std::string("startup.") + id + "_create"] = dialog.created - call;
    f[std::string("startup.") + id + "_init"] = dialog.initialised - dialog.created;
    return true;
}

bool StartupOnce(const std::string& ini, Figures& f, std::string& error) {
    settingsPath = ini;
    double t = NowMs();
    if (!ReadSettings()) {
        error = "the settings file could not be read: " + ini;
        return false;
    }
    f["startup.settings"] = NowMs() - t;
    // Bound as VelkRun binds it: the date picker of the form needs it.
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = fw::BindSystemFunction<InitFn>("comctl32.dll", "InitCommonControlsEx");
    const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES | ICC_WIN95_CLASSES};
    if (init) init(&controls);
    launchOptions.articleNumber = "VM-2027-ATL";
    launchOptions.productTitle = "VELK Media Atlas 2027";
    if (!TimeDialog<CRegistrationDlg>("form", f) || !TimeDialog<CRunnerDlg>("runner", f)) {
        error = "a dialog did not open";
        return false;
    }
    // The lookup alone, as a part of the form's initialisation.
    std::string dllPath;
    t = NowMs();
    FindMailClientLibrary(kMailClientsKey, dllPath);
    f["startup.mailclient"] = NowMs() - t;
    return true;
}

void SetUpRoutes() {
    runnerSettings.recipientAddress = "registrierung@velk-media.de";
    runnerSettings.mailSubject = "Registrierung";
}

// ---- child mode: one route, the first of its process ---------------------------------

int Single(const std::string& route, const std::string& outPath, const std::string& ini) {
    fw::CApp app;
    SetUpRoutes();
    Figures f;
    std::string error;
    bool ok;
    if (route == "startup") {
        ok = StartupOnce(ini, f, error);
    } else if (route == "print") {
        ok = PrintOnce(f, error);
    } else {
        mailtest::CMailClientRun client("return 0");
        ok = MailOnce(client, f, error);
    }
    std::ofstream out(outPath);
    if (!ok) {
        out << "error\t" << error << "\n";
        return 1;
    }
    for (const auto& entry : f) out << entry.first << "\t" << entry.second << "\n";
    return 0;
}

// ---- parent mode ------------------------------------------------------------------------

using Series = std::map<std::string, std::vector<double>>;

bool RunChild(const std::string& route, const std::string& ini, Series& series, std::string& error) {
    wt::CTempDir dir;
    const std::string outFile = dir.File("single.txt");
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    wt::CProcess child;
    const std::string iniOption = ini.empty() ? std::string() : " --ini " + wt::Quote(ini);
    if (!child.Start(self, wt::Quote(self) + " --single " + route + " --out " + wt::Quote(outFile) + iniOption) ||
        !child.WaitExit(180000)) {
        error = "the " + route + " child did not finish";
        return false;
    }
    std::ifstream in(outFile);
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, value;
        std::getline(fields, id, '\t');
        std::getline(fields, value);
        if (id == "error") {
            error = value;
            return false;
        }
        series[id].push_back(std::atof(value.c_str()));
        any = true;
    }
    if (!any) error = "the " + route + " child wrote nothing";
    return any;
}

void Report(bench::CResults& out, const std::string& prefix, const Series& series) {
    for (const auto& entry : series) {
        const std::string id = entry.first;
        const std::string named = id.substr(0, id.find('.')) + "." + prefix + id.substr(id.find('.'));
        out.Ms(named.c_str(), entry.second);
    }
}

int Parent(int argc, char** argv, const std::string& outPath) {
    bench::CResults out(outPath.c_str());
    if (!out.Ok()) return 2;
    const bench::Rounds rounds = bench::ReadRounds(argc, argv);
    const std::string runsText = bench::OptionValue(argc, argv, "--runs");
    const std::string coldText = bench::OptionValue(argc, argv, "--cold");
    const int runs = runsText.empty() ? rounds.pairs : std::max(1, std::atoi(runsText.c_str()));
    const int cold = coldText.empty() ? 9 : std::max(0, std::atoi(coldText.c_str()));
    fw::CApp app;
    SetUpRoutes();
    mailtest::CMailClientRun client("return 0");
    const std::string ini = bench::OptionValue(argc, argv, "--ini");
    std::vector<std::string> routes = {"print", "mail"};
    if (!ini.empty()) routes.push_back("startup");  // last: it reads the settings into this process
    const std::string only = bench::OptionValue(argc, argv, "--only");
    int status = 0;
    for (const std::string& route : routes) {
        if (!only.empty() && ("," + only + ",").find("," + route + ",") == std::string::npos) continue;
        if (route == "print" && pt::InstalledPrinters() == 0) {
            out.Fail(route.c_str(), "no printer: run scripts/printer-setup.sh");
            status = 1;
            continue;
        }
        std::fprintf(stderr, "%s, first in a fresh process ", route.c_str());
        Series coldSeries;
        std::string error;
        bool ok = true;
        for (int i = 0; i < cold && ok; ++i) {
            ok = RunChild(route, ini, coldSeries, error);
            std::fprintf(stderr, ".");
        }
        std::fprintf(stderr, "\n%s, repeated in one process ", route.c_str());
        Series warmSeries;
        for (int i = 0; i < rounds.warmup + runs && ok; ++i) {
            Figures f;
            ok = route == "print" ? PrintOnce(f, error)
                 : route == "mail" ? MailOnce(client, f, error)
                                   : StartupOnce(ini, f, error);
            if (!ok || i < rounds.warmup) continue;
            for (const auto& entry : f) warmSeries[entry.first].push_back(entry.second);
            std::fprintf(stderr, ".");
        }
        std::fprintf(stderr, "\n");
        if (!ok) {
            out.Fail(route.c_str(), error);
            status = 1;
            continue;
        }
        Report(out, "cold", coldSeries);
        Report(out, "warm", warmSeries);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string outPath = bench::OptionValue(argc, argv, "--out");
    if (outPath.empty()) {
        std::fprintf(stderr, "usage: output_bench --out <file> [--ini <VelkRun.ini>] [--only print,mail,startup] "
                             "[--runs N] [--warmup N] [--cold N]\n");
        return 2;
    }
    const std::string single = bench::OptionValue(argc, argv, "--single");
    if (!single.empty()) return Single(single, outPath, bench::OptionValue(argc, argv, "--ini"));
    return Parent(argc, argv, outPath);
}
