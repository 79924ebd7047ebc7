// velkdesk: the registration desk's command line. Reads registration mails into a database,
// lists and shows what is there, and exports it for a spreadsheet.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>

#include "desk/Export.h"
#include "desk/Import.h"
#include "desk/mail/MailIntake.h"
#include "desk/OutputFile.h"
#include "desk/Printable.h"
#include "desk/TerminalProgress.h"
#include "desk/sheet/SheetIntake.h"

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

int RunImport(const std::string& dbPath, const std::vector<std::string>& paths) {
    desk::CGMimeLibrary gmime;
    desk::CDatabase db(dbPath);
    // Ctrl-C ends the import after the message in hand, with what was read committed; a second
    // Ctrl-C ends the program at once (the database stays consistent either way).
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    desk::CTerminalProgress progress(isatty(STDERR_FILENO) ? stderr : nullptr, stderr);
    desk::CImporter importer(db, &progress, &gStop);
    for (const std::string& path : paths)
        if (!importer.ImportPath(path)) break;
    importer.Finish();
    desk::ReleasePageReaders();
    const desk::ImportCounts& counts = importer.Counts();
    std::cout << desk::SummaryLine(counts) << std::endl;
    if (importer.Stopped()) return Fail("import stopped; what was read is saved, run it again to finish");
    if (counts.failedFiles) return Fail(std::to_string(counts.failedFiles) + " file(s) could not be read");
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

    for (CLI::App* sub : {import, list, show, exportCmd}) sub->fallthrough();

    // CLI11 would call a mistyped command a missing one; name it instead.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--db") {
            ++i;
            continue;
        }
        if (arg.empty() || arg[0] == '-') continue;
        const std::vector<std::string> commands = {import->get_name(), list->get_name(), show->get_name(), exportCmd->get_name()};
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
            desk::ShowRegistration(*r, showPasswords, std::cout, db.Sources(id));
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
