// velkdesk: the registration desk's command line. Reads registration mails into a database,
// lists and shows what is there, exports it for a spreadsheet, and serves the clerks' review
// station.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <sodium.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "desk/Clerks.h"
#include "desk/Export.h"
#include "desk/Import.h"
#include "desk/mail/MailIntake.h"
#include "desk/OutputFile.h"
#include "desk/Printable.h"
#include "desk/TerminalProgress.h"
#include "desk/sheet/SheetIntake.h"
#include "output/CodePage.h"
#include "runner/Settings.h"
#include "desk/ReviewDesk.h"
#include "desk/web/OnlineForm.h"
#include "desk/web/Server.h"
#include "desk/web/Station.h"

namespace {

std::atomic<bool> gStop{false};

extern "C" void OnInterrupt(int) {
    gStop.store(true);
}

int Fail(const std::string& reason) {
    // Reasons carry file names and database paths, which may hold anything.
    std::cerr << "velkdesk: " << desk::Printable(reason) << '\n';
    return 1;
}

// The answer to a request that comes before a server's handlers are made (the port is known
// only once bound): come again.
desk::web::Reply NotReadyYet() {
    desk::web::Reply busy;
    busy.status = 503;
    busy.contentType = "text/plain; charset=utf-8";
    busy.body = "Noch nicht bereit.\n";
    return busy;
}

// For a server: Ctrl+C and SIGTERM blocked in this thread and every thread it starts, so that
// the main thread alone waits for them (sigwait); a client gone away is no signal either.
sigset_t BlockStopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return stop;
}

int RunImport(const std::string& dbPath, const std::vector<std::string>& paths) {
    // Ctrl-C ends the import after the message in hand, with what was read committed; a second
    // Ctrl-C ends the program at once (the database stays consistent either way). Set before the
    // database is opened, so a signal that comes once it exists is always heard.
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    desk::CGMimeLibrary gmime;
    desk::CDatabase db(dbPath);
    desk::CTerminalProgress progress(isatty(STDERR_FILENO) ? stderr : nullptr, stderr);
    // The recognisers end with the import, on every path (see ReleasePageReaders).
    struct CReleaseReaders {
        ~CReleaseReaders() { desk::ReleasePageReaders(); }
    } releaseReaders;
    desk::CImporter importer(db, &progress, &gStop);
    for (const std::string& path : paths)
        if (!importer.ImportPath(path)) break;
    importer.Finish();
    const desk::ImportCounts& counts = importer.Counts();
    std::cout << desk::SummaryLine(counts) << std::endl;
    if (importer.Stopped()) return Fail("import stopped; what was read is saved, run it again to finish");
    if (counts.failedFiles) return Fail(std::to_string(counts.failedFiles) + " file(s) could not be read");
    return 0;
}

// Wipes a password from memory when it goes out of scope.
class CSecret {
public:
    ~CSecret() { sodium_memzero(text.data(), text.size()); }
    std::string text;
};

// One line from standard input; without echo when it is a terminal (the prompt goes to
// standard error). False at end of input.
bool ReadPassword(const char* prompt, std::string& out) {
    const bool terminal = isatty(STDIN_FILENO);
    termios saved = {};
    if (terminal) {
        std::cerr << prompt << std::flush;
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool got = static_cast<bool>(std::getline(std::cin, out));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return got;
}

int RunClerkAdd(const std::string& dbPath, const std::string& name) {
    if (!desk::CClerks::ValidName(name)) return Fail("a clerk's name is 1 to 64 letters, digits, '.', '_' or '-'");
    CSecret password, again;
    if (!ReadPassword("Password: ", password.text)) return Fail("no password given");
    if (isatty(STDIN_FILENO)) {
        if (!ReadPassword("Again: ", again.text) || again.text != password.text)
            return Fail("the two passwords differ; nothing changed");
    }
    desk::CDatabase db(dbPath);
    desk::CClerks(db).Add(name, password.text);
    std::cout << "clerk " << name << " added" << std::endl;
    return 0;
}

int RunServe(const std::string& dbPath, const std::string& listen, const std::vector<std::string>& hosts,
             bool secureCookies) {
    const desk::web::ListenAddress address = desk::web::ParseListenAddress(listen);
    desk::CReviewDesk desk(dbPath);
    const bool anyClerk = desk.AnyClerk();
    if (!anyClerk && !address.loopback)
        return Fail("--listen " + listen + ": there is no clerk account yet, and without one only this machine "
                    "(127.0.0.1, ::1) is served; add one first with 'velkdesk clerk add NAME'");
    // The server's threads inherit this mask; the main thread waits for the signal below.
    const sigset_t stop = BlockStopSignals();

    // Requests that come before the station is made (the port is known only once bound) wait
    // for nothing: they are told to come again.
    std::atomic<desk::web::CStation*> station{nullptr};
    desk::web::CHttpServer server(address, desk::web::ServerLimits(), [&station](const desk::web::CRequest& request) {
        desk::web::CStation* s = station.load();
        if (!s) return NotReadyYet();
        return s->Dispatch(request);
    });
    desk::web::StationOptions options;
    options.listenHost = address.host;
    options.port = server.Port();
    options.hosts = hosts;
    options.secureCookies = secureCookies;
    options.oneTimeToken = !anyClerk;
    desk::web::CStation made(desk, options);
    station.store(&made);
    std::cout << made.StartAddress() << std::endl;
    if ((address.host == "0.0.0.0" || address.host == "::") && hosts.empty())
        std::cerr << "velkdesk: listening on all addresses, but answering only to localhost names: give every name "
                     "the clerks' browsers use with --host NAME" << std::endl;
    std::cerr << "velkdesk: serving " << desk::Printable(dbPath)
              << (anyClerk ? "; clerks log in with their accounts" : "; the address above opens one session, once")
              << " (Ctrl-C ends)" << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    station.store(nullptr);
    return 0;
}

struct FormCommand {
    std::string listen = "127.0.0.1:8081";
    std::vector<std::string> hosts;
    bool https = false;
    std::vector<std::string> trustedProxies;
    std::string settingsPath;
    double perMinute = 12;
    unsigned burst = 10;
};

int RunForm(const std::string& dbPath, const FormCommand& command) {
    const desk::web::ListenAddress address = desk::web::ParseListenAddress(command.listen);
    desk::web::OnlineFormOptions options;
    options.listenHost = address.host;
    options.hosts = command.hosts;
    options.https = command.https;
    options.trustedProxies = command.trustedProxies;
    options.rate.perMinute = command.perMinute;
    options.rate.burst = command.burst;
    if (!command.settingsPath.empty()) {
        // The publisher's own notice texts, as VelkRun shows them.
        RunnerSettings settings;
        if (!ReadSettingsFrom(command.settingsPath, settings)) return Fail(command.settingsPath + ": cannot be read");
        options.missingEntriesMessage = Windows1252ToUtf8(settings.missingEntriesMessage);
        options.passwordMismatchMessage = Windows1252ToUtf8(settings.passwordMismatchMessage);
    }
    desk::CDatabase db(dbPath);
    const sigset_t stop = BlockStopSignals();

    desk::web::ServerLimits limits;
    limits.connections = 256;
    // Behind a proxy every customer comes from its address.
    limits.connectionsPerAddress = command.trustedProxies.empty() ? 8 : 256;
    limits.timeoutSeconds = 10;
    limits.connectionMemory = 16 * 1024;
    limits.bodyBytes = 16 * 1024;
    limits.contentSecurityPolicy = "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                                   "frame-ancestors 'none'; base-uri 'none'";
    std::atomic<desk::web::COnlineForm*> form{nullptr};
    desk::web::CHttpServer server(address, limits, [&form](const desk::web::CRequest& request) {
        desk::web::COnlineForm* f = form.load();
        if (!f) return NotReadyYet();
        return f->Dispatch(request);
    });
    options.port = server.Port();
    std::mutex logMutex;
    desk::web::COnlineForm made(db, options, [&logMutex](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        std::cerr << "velkdesk form: " << desk::Printable(line) << std::endl;
    });
    form.store(&made);
    const bool v6 = address.host.find(':') != std::string::npos;
    std::cout << "http://" << (v6 ? "[" + address.host + "]" : address.host) << ":" << server.Port() << "/" << std::endl;
    std::cerr << "velkdesk form: storing web registrations in " << desk::Printable(dbPath) << " (Ctrl-C ends)" << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    form.store(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // velkdesk holds customers' passwords in clear while it reads what strangers sent: a crash
    // leaves no core file with them, and no other process of the user may read its memory.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    CLI::App app{"velkdesk: reads registration mails into a database, lists, shows and exports them"};
    app.require_subcommand(1);
    std::string dbPath = "velkdesk.db";
    app.add_option("--db", dbPath, "database file (import creates it on first use)")->capture_default_str();

    CLI::App* import = app.add_subcommand("import", "read .eml files, mbox files and Maildir folders (walked)");
    std::vector<std::string> paths;
    import->add_option("PATH", paths, "mail files and folders")->required();

    CLI::App* list = app.add_subcommand("list", "one line per registration");
    bool reviewOnly = false;
    bool rejected = false;
    list->add_flag("--review", reviewOnly, "only those that need a person, with the reasons");
    list->add_flag("--rejected", rejected, "the messages that held no registration, with the reasons");

    CLI::App* show = app.add_subcommand("show", "every field of one registration");
    long long id = 0;
    bool showPasswords = false;
    show->add_option("ID", id, "the registration's id (see list)")->required();
    show->add_flag("--with-passwords", showPasswords, "show the VIP passwords in clear");
    show->add_flag("--rejected", rejected, "show the rejected message with this id (see list --rejected)");

    CLI::App* exportCmd = app.add_subcommand("export", "all registrations as CSV (UTF-8, ';'-separated) or XLSX");
    std::string csvPath;
    std::string xlsxPath;
    desk::ExportOptions exportOptions;
    std::string separator = ";";
    CLI::Option* csvOption = exportCmd->add_option("--csv", csvPath, "output file; standard output when not given or \"-\"");
    exportCmd->add_option("--xlsx", xlsxPath, "write an XLSX file instead: every value a text cell, exactly as stored")
        ->excludes(csvOption);
    bool noFormulaGuard = false;
    exportCmd->add_flag("--no-formula-guard", noFormulaGuard,
                        "CSV for programs: values as stored, without the apostrophe put before a would-be formula");
    exportCmd->add_flag("--with-passwords", exportOptions.withPasswords, "include the two VIP password columns");
    exportCmd->add_option("--separator", separator, "field separator, one character")->capture_default_str()
        ->check([](const std::string& s) { return s.size() == 1 && s != "\"" && s != "\n" && s != "\r" ? "" : "one character"; });

    CLI::App* serve = app.add_subcommand("serve", "the clerks' review station in a browser");
    std::string listen = "127.0.0.1:8080";
    std::vector<std::string> hosts;
    bool secureCookies = false;
    serve->add_option("--listen", listen, "HOST:PORT to listen on (port 0: any free one)")->capture_default_str();
    serve->add_option("--host", hosts, "a further name the station answers to (behind a proxy)");
    serve->add_flag("--secure-cookies", secureCookies, "send the session cookie over HTTPS only (behind an HTTPS proxy)");

    CLI::App* formCmd = app.add_subcommand("form", "the customers' online registration form (faces the internet)");
    FormCommand formOptions;
    formCmd->add_option("--listen", formOptions.listen, "HOST:PORT to listen on (port 0: any free one)")->capture_default_str();
    formCmd->add_option("--host", formOptions.hosts, "a further name the form answers to (the proxy's public name)");
    formCmd->add_flag("--https", formOptions.https, "the proxy serves the form over HTTPS (the origin of its posts)");
    formCmd->add_option("--trust-proxy", formOptions.trustedProxies,
                        "address of a proxy whose X-Forwarded-For names the client (repeatable)");
    formCmd->add_option("--settings", formOptions.settingsPath, "VelkRun.ini whose Message1/Message2 the form shows");
    formCmd->add_option("--rate", formOptions.perMinute, "posts per minute and client address")->capture_default_str()
        ->check(CLI::PositiveNumber);
    formCmd->add_option("--burst", formOptions.burst, "posts a client address may send at once")->capture_default_str()
        ->check(CLI::Range(1u, 1000000u));

    CLI::App* clerk = app.add_subcommand("clerk", "the review station's accounts");
    clerk->require_subcommand(1);
    CLI::App* clerkAdd = clerk->add_subcommand("add", "add an account (password from the terminal or standard input)");
    CLI::App* clerkList = clerk->add_subcommand("list", "list the accounts");
    CLI::App* clerkRemove = clerk->add_subcommand("remove", "remove an account");
    std::string clerkName;
    clerkAdd->add_option("NAME", clerkName, "the clerk's name")->required();
    clerkRemove->add_option("NAME", clerkName, "the clerk's name")->required();

    for (CLI::App* sub : {import, list, show, exportCmd, serve, formCmd, clerk}) sub->fallthrough();

    // CLI11 would call a mistyped command a missing one; name it instead.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--db") {
            ++i;
            continue;
        }
        if (arg.empty() || arg[0] == '-') continue;
        const std::vector<std::string> commands = {import->get_name(),    list->get_name(),  show->get_name(),
                                                   exportCmd->get_name(), serve->get_name(), formCmd->get_name(),
                                                   clerk->get_name()};
        if (std::find(commands.begin(), commands.end(), arg) == commands.end()) {
            Fail("unknown command '" + arg + "' (see --help)");
            return 2;
        }
        break;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        Fail(std::string(e.what()) + " (see --help)");
        return 2;  // a wrong command line, as distinct from a failed command
    }

    try {
        if (*import) return RunImport(dbPath, paths);
        // The station and the accounts may come before the first import: they make the database.
        if (*serve) return RunServe(dbPath, listen, hosts, secureCookies);
        if (*formCmd) return RunForm(dbPath, formOptions);
        if (*clerkAdd) return RunClerkAdd(dbPath, clerkName);
        // Only an import makes a new database: a mistyped --db is said, not answered with an
        // empty list.
        desk::CDatabase db(dbPath, false);
        if (*list && rejected) {
            desk::ListRejected(db, std::cout);
        } else if (*list) {
            desk::ListRegistrations(db, reviewOnly, std::cout);
        } else if (*show && rejected) {
            const std::optional<desk::StoredRejected> r = db.FindRejected(id);
            if (!r) return Fail("no rejected message with id " + std::to_string(id));
            desk::ShowRejected(*r, showPasswords, std::cout);
        } else if (*show) {
            const std::optional<desk::StoredRegistration> r = db.Find(id);
            if (!r) return Fail("no registration with id " + std::to_string(id));
            desk::ShowRegistration(*r, showPasswords, std::cout, db.Sources(id), db.Corrections(id),
                                   db.RecordText(id).value_or(desk::StoredRecordText()));
        } else if (*clerkList) {
            for (const std::string& name : desk::CClerks(db).Names()) std::cout << desk::Printable(name) << '\n';
        } else if (*clerkRemove) {
            if (!desk::CClerks(db).Remove(clerkName)) return Fail("there is no clerk named " + clerkName);
            std::cout << "clerk " << desk::Printable(clerkName) << " removed; a running station ends their sessions" << std::endl;
        } else if (*exportCmd) {
            exportOptions.separator = separator[0];
            exportOptions.formulaGuard = !noFormulaGuard;
            if (!xlsxPath.empty()) {
                // The workbook is written by name into the temporary file, then renamed alike.
                desk::COutputFile out(xlsxPath, dbPath);
                const std::string error = desk::ExportXlsx(db, exportOptions, out.TempPath());
                if (!error.empty()) return Fail(xlsxPath + ": " + error);
                out.Commit();
            } else if (csvPath.empty() || csvPath == "-") {
                desk::ExportCsv(db, exportOptions, std::cout);
                std::cout.flush();
                if (!std::cout) return Fail("standard output: write failed");
            } else {
                // Personal data, passwords perhaps: for its owner's eyes only, like the database,
                // and complete or not there at all.
                desk::COutputFile out(csvPath, dbPath);
                desk::ExportCsv(db, exportOptions, out.Stream());
                out.Commit();
            }
        }
        return 0;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
