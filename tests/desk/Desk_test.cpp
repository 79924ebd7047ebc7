// velkdesk against a corpus of mails as mail programs send them: every deformation read back
// to the record that was sent, damaged and duplicate mails counted right, the database kept
// consistent and private, and the export fit for a spreadsheet.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "desk/Export.h"
#include "desk/Import.h"
#include "desk/MailIntake.h"
#include "desk/Mbox.h"
#include "output/MailRecord.h"
#include "output/MailText.h"
#include "tests/support/desk_corpus.h"

namespace fs = std::filesystem;
using corpus::Mail;
using corpus::Part;
using corpus::TextPart;
using corpus::Transfer;

namespace {

class DeskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gmime_ = new desk::CGMimeLibrary; }
    static void TearDownTestSuite() { delete gmime_; }

    void SetUp() override {
        char pattern[] = "/tmp/velkdesk-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        db_ = dir_ / "desk.db";
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    desk::ImportCounts Import(const std::vector<fs::path>& paths, std::string* errors = nullptr) {
        desk::CDatabase db(db_.string());
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* errorStream = open_memstream(&buffer, &size);
        desk::ImportCounts counts;
        {
            desk::CImporter importer(db, nullptr, errorStream, nullptr);
            for (const fs::path& p : paths) importer.ImportPath(p.string());
            importer.Finish();
            counts = importer.Counts();
        }
        std::fclose(errorStream);
        if (errors) *errors = std::string(buffer, size);
        std::free(buffer);
        return counts;
    }

    std::vector<desk::StoredRegistration> Rows(bool reviewOnly = false) {
        desk::CDatabase db(db_.string());
        std::vector<desk::StoredRegistration> rows;
        db.ForEach(reviewOnly, [&](const desk::StoredRegistration& r) { rows.push_back(r); });
        return rows;
    }

    static desk::CGMimeLibrary* gmime_;
    fs::path dir_;
    fs::path db_;
};

desk::CGMimeLibrary* DeskTest::gmime_ = nullptr;

void ExpectSameFields(const RegistrationRecord& expected, const RegistrationRecord& actual) {
    for (const MailElement& e : kMailElements) EXPECT_EQ(expected.*e.field, actual.*e.field) << e.name;
}

std::string Text(int n, bool euro = false) {
    return BuildMailText(corpus::SampleRecord(n, euro));
}

// A sound mail of sample record `n` with its own Message-ID.
std::string SoundMail(int n, const std::string& charset = "windows-1252") {
    Mail mail;
    mail.parts = {TextPart("Hallo,\r\n\r\n" + Text(n), charset, Transfer::QuotedPrintable)};
    mail.messageId = "reg" + std::to_string(n) + "@example.de";
    return corpus::BuildMessage(mail);
}

}  // namespace

TEST_F(DeskTest, ReadsTheRecordFromEveryKindOfMailProgramMessage) {
    struct Case {
        const char* name;
        Mail mail;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, std::vector<Part> parts, const std::string& multipart = "") {
        Mail mail;
        mail.parts = std::move(parts);
        mail.multipart = multipart;
        mail.messageId = std::string(name) + "@example.de";
        cases.push_back({name, mail});
    };
    const int first = 100;
    auto n = [&]() { return first + static_cast<int>(cases.size()); };
    add("cp1252-qp", {TextPart(Text(n(), true), "windows-1252", Transfer::QuotedPrintable)});
    add("latin1-8bit", {TextPart(Text(n()), "iso-8859-1", Transfer::EightBit)});
    add("latin9-base64", {TextPart(Text(n(), true), "iso-8859-15", Transfer::Base64)});
    add("utf8-base64", {TextPart(Text(n(), true), "utf-8", Transfer::Base64)});
    add("utf8-7bit-qp-lf", {TextPart(corpus::LfOnly(Text(n())), "utf-8", Transfer::QuotedPrintable)});
    Part undeclaredUtf8 = TextPart(Text(n()), "utf-8", Transfer::EightBit);
    undeclaredUtf8.declared = "";
    add("undeclared-utf8", {undeclaredUtf8});
    Part undeclared1252 = TextPart(Text(n(), true), "windows-1252", Transfer::EightBit);
    undeclared1252.declared = "";
    add("undeclared-1252", {undeclared1252});
    {
        Part html = TextPart(corpus::HtmlBody(Text(n())), "utf-8", Transfer::QuotedPrintable);
        html.type = "text/html";
        add("alternative", {TextPart(Text(n()), "utf-8", Transfer::QuotedPrintable), html}, "alternative");
    }
    {
        Part pdf;
        pdf.type = "application/pdf";
        pdf.text = "%PDF-1.4 <new>";
        pdf.transfer = Transfer::Base64;
        pdf.declared = "";
        pdf.filename = "rechnung.pdf";
        add("mixed", {TextPart("Anbei:\r\n" + Text(n()), "iso-8859-1", Transfer::QuotedPrintable), pdf}, "mixed");
    }
    {
        Part html = TextPart(corpus::HtmlBody("Guten Tag,\r\n" + Text(n(), true)), "windows-1252", Transfer::QuotedPrintable);
        html.type = "text/html";
        add("html-only", {html});
    }
    {
        Part flowed = TextPart(corpus::Flow(Text(n()), 72), "utf-8", Transfer::EightBit);
        flowed.params = {{"format", "flowed"}};
        add("flowed", {flowed});
        Part narrow = TextPart(corpus::Flow(Text(n()), 60), "iso-8859-1", Transfer::QuotedPrintable);
        narrow.params = {{"format", "flowed"}};
        add("flowed-latin1-60", {narrow});
    }
    add("hard-wrapped-72", {TextPart(corpus::HardWrap(Text(n()), 72), "windows-1252", Transfer::QuotedPrintable)});
    add("reply-quoted", {TextPart("Danke f\xC3\xBCr die Best\xC3\xA4tigung.\r\n\r\nAm 7.12. schrieb Anna:\r\n" +
                                   corpus::Quote(corpus::HardWrap(Text(n()), 76)) + "\r\n-- \r\nAnna\r\n",
                               "utf-8", Transfer::QuotedPrintable)});
    add("mailto-pasted", {TextPart("Sehr geehrte Damen und Herren, hier: " + Text(n()) + "Mit freundlichen Gr\xC3\xBC\xC3\x9F" "en\r\n",
                                "windows-1252", Transfer::EightBit)});
    {
        Mail forward;
        forward.parts = {TextPart("Siehe unten.\r\n", "utf-8", Transfer::SevenBit)};
        forward.messageId = "forward@example.de";
        Mail original;
        original.parts = {TextPart(Text(n()), "iso-8859-15", Transfer::Base64)};
        original.messageId = "original@example.de";
        forward.forwardedMessage = corpus::BuildMessage(original);
        cases.push_back({"forwarded-attachment", forward});
    }
    std::map<std::string, int> sent;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string name = std::string(cases[i].name) + ".eml";
        cases[i].mail.crlf = i % 2 == 0;
        Write("in/" + name, corpus::BuildMessage(cases[i].mail));
        sent[name] = first + static_cast<int>(i);
    }
    const desk::ImportCounts counts = Import({dir_ / "in"});
    EXPECT_EQ(cases.size(), counts.read);
    EXPECT_EQ(cases.size(), counts.added);
    EXPECT_EQ(0u, counts.rejected);
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(cases.size(), rows.size());
    for (const desk::StoredRegistration& row : rows) {
        const std::string name = fs::path(row.sourceFile).filename().string();
        SCOPED_TRACE(name);
        const bool euro = name == "cp1252-qp.eml" || name == "latin9-base64.eml" || name == "utf8-base64.eml" ||
                          name == "undeclared-1252.eml" || name == "html-only.eml";
        ExpectSameFields(corpus::SampleRecord(sent[name], euro), row.record);
        EXPECT_TRUE(row.reviewReasons.empty()) << row.reviewReasons[0];
        EXPECT_EQ("mail", row.channel);
        EXPECT_EQ("2026-12-07T09:30:00Z", row.receivedAt);
    }
}

TEST_F(DeskTest, CountsDamagedDuplicateAndEmptyMailsAndAddsNothingTwice) {
    std::string mbox;
    for (int i = 1; i <= 3; ++i) mbox += corpus::MboxEntry(SoundMail(i));
    mbox += corpus::MboxEntry(SoundMail(1));  // the same mail again
    Mail differ;
    std::string text = Text(4);
    text.replace(text.find("<password_2>G"), 13, "<password_2>X");
    differ.parts = {TextPart(text, "utf-8", Transfer::QuotedPrintable)};
    differ.messageId = "differ@example.de";
    mbox += corpus::MboxEntry(corpus::BuildMessage(differ));
    Mail noRecord;
    noRecord.parts = {TextPart("Bitte senden Sie mir einen Katalog.\r\n", "utf-8", Transfer::SevenBit)};
    noRecord.messageId = "katalog@example.de";
    mbox += corpus::MboxEntry(corpus::BuildMessage(noRecord));
    Mail noId;  // the mailto: route through a program that adds no Message-ID, sent twice
    noId.parts = {TextPart(Text(5), "windows-1252", Transfer::EightBit)};
    mbox += corpus::MboxEntry(corpus::BuildMessage(noId)) + corpus::MboxEntry(corpus::BuildMessage(noId));
    Write("all.mbox", mbox);
    // A Maildir with one new and one read mail, a delivery in progress, and a hidden file.
    Write("Maildir/new/1.host", SoundMail(6, "utf-8"));
    Write("Maildir/cur/2.host:2,S", SoundMail(7, "iso-8859-1"));
    Write("Maildir/tmp/3.host", SoundMail(8));
    Write("Maildir/cur/.index", "x");

    std::string errors;
    desk::ImportCounts c = Import({dir_ / "all.mbox", dir_ / "missing.eml", dir_ / "Maildir"}, &errors);
    EXPECT_EQ(10u, c.read);
    EXPECT_EQ(7u, c.added);
    EXPECT_EQ(2u, c.known);
    EXPECT_EQ(1u, c.review);
    EXPECT_EQ(1u, c.rejected);
    EXPECT_EQ(1u, c.failedFiles);
    EXPECT_EQ("velkdesk: " + (dir_ / "missing.eml").string() + ": No such file or directory\n", errors);
    EXPECT_EQ("read 10, new 7, already known 2, needing review 1, rejected 1, unreadable files 1", desk::SummaryLine(c));

    const std::vector<desk::StoredRegistration> review = Rows(true);
    ASSERT_EQ(1u, review.size());
    EXPECT_EQ(std::vector<std::string>{"password_2: differs from password_1"}, review[0].reviewReasons);
    EXPECT_EQ("Gr\xC3\xB6\xC3\x9F" "e", review[0].record.nachname);  // kept as it came

    c = Import({dir_ / "all.mbox", dir_ / "Maildir"});
    EXPECT_EQ(0u, c.added);
    EXPECT_EQ(9u, c.known);
    EXPECT_EQ(7u, Rows().size());
}

TEST_F(DeskTest, DatabaseIsPrivateVersionedAndSurvivesAnImportKilledOrInterruptedHalfWay) {
    std::string mbox;
    for (int i = 0; i < 2000; ++i) mbox += corpus::MboxEntry(SoundMail(i));
    Write("big.mbox", mbox);
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        Import({dir_ / "big.mbox"});
        _exit(0);
    }
    // Killed without warning somewhere in the middle (or, on a fast machine, after the end).
    usleep(500 * 1000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    struct stat st {};
    ASSERT_EQ(0, stat(db_.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    const std::size_t before = Rows().size();
    const desk::ImportCounts c = Import({dir_ / "big.mbox"});
    EXPECT_EQ(before, c.known);
    EXPECT_EQ(2000u, before + c.added);
    {
        desk::CDatabase db(db_.string());
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db.Handle(), "PRAGMA integrity_check", -1, &stmt, nullptr));
        ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
        EXPECT_STREQ("ok", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        db.Exec("PRAGMA user_version = 99");
    }
    EXPECT_THROW(desk::CDatabase(db_.string()), desk::CDatabaseError);
    {
        sqlite3* other = nullptr;
        sqlite3_open((dir_ / "other.db").c_str(), &other);
        sqlite3_exec(other, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
    EXPECT_THROW(desk::CDatabase((dir_ / "other.db").string()), desk::CDatabaseError);

    // Ctrl-C: the program stops after the message in hand, keeps what it read, and says so.
    const fs::path interrupted = dir_ / "interrupted.db";
    const fs::path output = dir_ / "interrupted.txt";
    const pid_t cli = fork();
    ASSERT_NE(-1, cli);
    if (cli == 0) {
        if (!freopen(output.c_str(), "w", stdout) || !freopen(output.c_str(), "a", stderr)) _exit(99);
        execl(VELKDESK_PATH, "velkdesk", "--db", interrupted.c_str(), "import", (dir_ / "big.mbox").c_str(), nullptr);
        _exit(98);
    }
    usleep(500 * 1000);
    kill(cli, SIGINT);
    int status = 0;
    waitpid(cli, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    std::ifstream in(output);
    std::string summary, reason;
    std::getline(in, summary);
    std::getline(in, reason);
    if (WEXITSTATUS(status) == 1) {  // (a fast machine may have finished before the signal)
        EXPECT_EQ("velkdesk: import stopped; what was read is saved, run it again to finish", reason);
        const unsigned long kept = std::stoul(summary.substr(summary.find("new ") + 4));
        desk::CDatabase db(interrupted.string());
        std::size_t rows = 0;
        db.ForEach(false, [&](const desk::StoredRegistration&) { ++rows; });
        EXPECT_EQ(kept, rows) << summary;
    } else {
        EXPECT_EQ(0, WEXITSTATUS(status)) << summary << reason;
    }
}

TEST_F(DeskTest, ExportOpensInASpreadsheetAndKeepsPasswordsBackUnlessAsked) {
    RegistrationRecord tricky = corpus::SampleRecord(1);
    tricky.firm = "=HYPERLINK(\"http://x\";\"a\")";
    tricky.tel = "+49 221 1";
    tricky.pgekauf = "-Atlas; \"Stadtplan\"";
    Mail mail;
    mail.parts = {TextPart(BuildMailText(tricky), "windows-1252", Transfer::QuotedPrintable)};
    mail.messageId = "tricky@example.de";
    Write("tricky.eml", corpus::BuildMessage(mail));
    Import({dir_ / "tricky.eml"});

    desk::CDatabase db(db_.string());
    std::ostringstream plain;
    desk::ExportCsv(db, {}, plain);
    const std::string csv = plain.str();
    EXPECT_EQ(0u, csv.find("\xEF\xBB\xBFid;channel;source_file;source_ref;received_at;imported_at;review;username;aggraccept;"));
    EXPECT_EQ(std::string::npos, csv.find("password"));
    EXPECT_EQ(std::string::npos, csv.find("heim"));
    EXPECT_NE(std::string::npos, csv.find(";J\xC3\xBCrgen-1;Gr\xC3\xB6\xC3\x9F" "e;\"'=HYPERLINK(\"\"http://x\"\";\"\"a\"\")\";"));
    EXPECT_NE(std::string::npos, csv.find(";+49 221 1;"));
    EXPECT_NE(std::string::npos, csv.find(";\"'-Atlas; \"\"Stadtplan\"\"\";"));
    EXPECT_EQ(2u, static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')));

    std::ostringstream withPasswords;
    desk::ExportCsv(db, {true, ','}, withPasswords);
    EXPECT_NE(std::string::npos, withPasswords.str().find(",password_1,password_2,"));
    EXPECT_NE(std::string::npos, withPasswords.str().find(",G\xC3\xA4heim&<1>,G\xC3\xA4heim&<1>,"));
}

TEST_F(DeskTest, CommandLineReportsFailuresInOneLineAndNeverShowsPasswords) {
    Mail differ;
    std::string text = Text(3);
    text.replace(text.find("<password_2>G"), 13, "<password_2>X");
    differ.parts = {TextPart(text, "utf-8", Transfer::Base64)};
    Write("differ.eml", corpus::BuildMessage(differ));
    const std::string cli = std::string(VELKDESK_PATH) + " --db " + db_.string() + " ";
    auto run = [&](const std::string& args, int* status) {
        std::string output;
        FILE* pipe = popen((cli + args + " 2>&1").c_str(), "r");
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
        *status = WEXITSTATUS(pclose(pipe));
        return output;
    };
    int status = -1;
    EXPECT_EQ("read 1, new 1, already known 0, needing review 1, rejected 0\n", run("import " + (dir_ / "differ.eml").string(), &status));
    EXPECT_EQ(0, status);
    const std::string review = run("list --review", &status);
    EXPECT_NE(std::string::npos, review.find("REVIEW: password_2: differs from password_1")) << review;
    const std::string shown = run("show 1", &status) + run("export", &status);
    EXPECT_EQ(std::string::npos, shown.find("heim")) << shown;
    EXPECT_NE(std::string::npos, run("show 1 --with-passwords", &status).find("password_1: G\xC3\xA4heim&<3>"));
    const fs::path csv = dir_ / "with.csv";
    run("export --with-passwords --csv " + csv.string(), &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(csv).permissions());

    for (const char* bad : {"show 7", "import", "frobnicate", "export --csv /nonexistent/dir/x.csv"}) {
        const std::string out = run(bad, &status);
        EXPECT_NE(0, status) << bad;
        EXPECT_EQ(0u, out.find("velkdesk: ")) << out;
        EXPECT_EQ(out.size() - 1, out.find('\n')) << bad << ": " << out;
    }
    EXPECT_EQ(0u, run("import --help", &status).find("read .eml files"));
    EXPECT_EQ(0, status);
}

TEST_F(DeskTest, MboxReaderNamesADamagedMessageAndReadsOnPastIt) {
    auto entry = [](const std::string& from, const std::string& message) { return from + "\n" + message + "\n"; };
    const std::string line = "From kunde@example.de Mon Dec  7 09:30:00 2026";
    const std::string small = "Subject: a\n\nkurz\n";
    std::string big = "Subject: b\n\n";
    while (big.size() < 160000) big += "eine Zeile, die den Rahmen sprengt\n";
    // mboxrd nesting, a line longer than the reader's pieces, a message over the cap, and a
    // Content-Length that lands inside the next message (it is not trusted there).
    std::string longLine(100000, 'y');
    const std::string bytes = entry(line, "Subject: q\n\n>>From the depths\n>From here\n" + longLine + "\n") +
                              entry(line, big) +
                              entry(line, "Subject: c\nContent-Length: 3\n\nFrom Salzburg\nzwei\n") +
                              entry("From x Tue Dec  8 10:00:00 +0100 2026", small);
    desk::CMboxReader reader(bytes, 150000);
    std::vector<desk::MboxMessage> got;
    for (desk::MboxMessage m; reader.Next(m);) got.push_back(m);
    EXPECT_EQ("", reader.Error());
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ("Subject: q\n\n>From the depths\nFrom here\n" + longLine + "\n", got[0].bytes);
    EXPECT_EQ("", got[0].damage);
    EXPECT_EQ("larger than 0 MiB, not read", got[1].damage);
    EXPECT_EQ("", got[1].bytes);
    EXPECT_EQ("Subject: c\nContent-Length: 3\n\nFrom Salzburg\nzwei\n", got[2].bytes);
    EXPECT_EQ(small, got[3].bytes);
    EXPECT_EQ(4u, got[3].number);
    EXPECT_EQ(bytes.rfind("From x"), got[3].offset);
    EXPECT_EQ("2026-12-07T09:30:00Z", got[0].fromLineDate);
    EXPECT_EQ("2026-12-08T09:00:00Z", got[3].fromLineDate);

    // Content-Length that lands on the next "From " line is trusted over a body's own From line,
    // and an mboxcl2 body keeps its ">From " lines.
    const std::string body = "From Mon Dec  7 09:30:00 2026 came this\n>From\n";
    const std::string clMessage = "Subject: d\nContent-Length: " + std::to_string(body.size()) + "\n\n" + body;
    desk::CMboxReader clReader(entry(line, clMessage) + entry(line, small));
    desk::MboxMessage m;
    ASSERT_TRUE(clReader.Next(m));
    EXPECT_EQ(clMessage, m.bytes);
    ASSERT_TRUE(clReader.Next(m));
    EXPECT_EQ(small, m.bytes);
    EXPECT_FALSE(clReader.Next(m));

    EXPECT_EQ("2026-12-07T09:30:00Z", desk::FromLineDate("From MAILER-DAEMON Mon Dec 07 09:30 2026\n"));
    EXPECT_EQ("2026-12-31T23:30:00Z", desk::FromLineDate("From a@b Fri Jan  1 00:30:00 2027 +0100"));
    EXPECT_EQ("", desk::FromLineDate("From Salzburg here is my registration:"));
    EXPECT_EQ("", desk::FromLineDate("From a@b Mon Dec 32 09:30:00 2026"));
}
