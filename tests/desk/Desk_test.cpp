// velkdesk against a corpus of mails as mail programs send them: every deformation read back
// to the record that was sent, damaged and duplicate mails counted right, the database kept
// consistent and private, and the export fit for a spreadsheet.
#include <gtest/gtest.h>

#include <leptonica/allheaders.h>
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
#include "desk/mail/MailIntake.h"
#include "desk/mail/Mbox.h"
#include "desk/sheet/StoredPageImage.h"
#include "output/MailRecord.h"
#include "output/MailText.h"
#include "tests/support/desk_corpus.h"
#include "tests/support/desk_fixture.h"

namespace fs = std::filesystem;
using corpus::Mail;
using corpus::Part;
using corpus::TextPart;
using corpus::Transfer;


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
    add("cp1252-qp", {TextPart(SampleText(n(), true), "windows-1252", Transfer::QuotedPrintable)});
    add("latin1-8bit", {TextPart(SampleText(n()), "iso-8859-1", Transfer::EightBit)});
    add("latin9-base64", {TextPart(SampleText(n(), true), "iso-8859-15", Transfer::Base64)});
    add("utf8-base64", {TextPart(SampleText(n(), true), "utf-8", Transfer::Base64)});
    add("utf8-7bit-qp-lf", {TextPart(corpus::LfOnly(SampleText(n())), "utf-8", Transfer::QuotedPrintable)});
    Part undeclaredUtf8 = TextPart(SampleText(n()), "utf-8", Transfer::EightBit);
    undeclaredUtf8.declared = "";
    add("undeclared-utf8", {undeclaredUtf8});
    Part undeclared1252 = TextPart(SampleText(n(), true), "windows-1252", Transfer::EightBit);
    undeclared1252.declared = "";
    add("undeclared-1252", {undeclared1252});
    {
        Part html = TextPart(corpus::HtmlBody(SampleText(n())), "utf-8", Transfer::QuotedPrintable);
        html.type = "text/html";
        add("alternative", {TextPart(SampleText(n()), "utf-8", Transfer::QuotedPrintable), html}, "alternative");
    }
    {
        Part pdf;
        pdf.type = "application/pdf";
        pdf.text = "%PDF-1.4 <new>";
        pdf.transfer = Transfer::Base64;
        pdf.declared = "";
        pdf.filename = "rechnung.pdf";
        add("mixed", {TextPart("Anbei:\r\n" + SampleText(n()), "iso-8859-1", Transfer::QuotedPrintable), pdf}, "mixed");
    }
    {
        Part html = TextPart(corpus::HtmlBody("Guten Tag,\r\n" + SampleText(n(), true)), "windows-1252", Transfer::QuotedPrintable);
        html.type = "text/html";
        add("html-only", {html});
    }
    {
        Part flowed = TextPart(corpus::Flow(SampleText(n()), 72), "utf-8", Transfer::EightBit);
        flowed.params = {{"format", "flowed"}};
        add("flowed", {flowed});
        Part narrow = TextPart(corpus::Flow(SampleText(n()), 60), "iso-8859-1", Transfer::QuotedPrintable);
        narrow.params = {{"format", "flowed"}};
        add("flowed-latin1-60", {narrow});
    }
    {
        Part log = TextPart(SampleText(n()), "utf-8", Transfer::QuotedPrintable);
        log.type = "text/x-log";
        log.filename = "anmeldung.log";
        add("other-text-type", {TextPart("Anbei.\r\n", "utf-8", Transfer::SevenBit), log}, "mixed");
    }
    add("hard-wrapped-72", {TextPart(corpus::HardWrap(SampleText(n()), 72), "windows-1252", Transfer::QuotedPrintable)});
    add("reply-quoted", {TextPart("Danke f\xC3\xBCr die Best\xC3\xA4tigung.\r\n\r\nAm 7.12. schrieb Anna:\r\n" +
                                   corpus::Quote(corpus::HardWrap(SampleText(n()), 76)) + "\r\n-- \r\nAnna\r\n",
                               "utf-8", Transfer::QuotedPrintable)});
    add("mailto-pasted", {TextPart("Sehr geehrte Damen und Herren, hier: " + SampleText(n()) + "Mit freundlichen Gr\xC3\xBC\xC3\x9F" "en\r\n",
                                "windows-1252", Transfer::EightBit)});
    {
        Mail forward;
        forward.parts = {TextPart("Siehe unten.\r\n", "utf-8", Transfer::SevenBit)};
        forward.messageId = "forward@example.de";
        Mail original;
        original.parts = {TextPart(SampleText(n()), "iso-8859-15", Transfer::Base64)};
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
        EXPECT_TRUE(row.doubts.empty()) << row.doubts[0].Line();
        EXPECT_EQ("mail", row.channel);
        EXPECT_EQ("2026-12-07T09:30:00Z", row.receivedAt);
    }
}

TEST_F(DeskTest, CountsDamagedDuplicateAndEmptyMailsAndAddsNothingTwice) {
    std::string mbox;
    for (int i = 1; i <= 3; ++i) mbox += corpus::MboxEntry(SoundMail(i));
    mbox += corpus::MboxEntry(SoundMail(1));  // the same mail again
    Mail differ;
    std::string text = SampleText(4);
    text.replace(text.find("<password_2>G"), 13, "<password_2>X");
    differ.parts = {TextPart(text, "utf-8", Transfer::QuotedPrintable)};
    differ.messageId = "differ@example.de";
    mbox += corpus::MboxEntry(corpus::BuildMessage(differ));
    Mail noRecord;
    noRecord.parts = {TextPart("Bitte senden Sie mir einen Katalog.\r\n", "utf-8", Transfer::SevenBit)};
    noRecord.messageId = "katalog@example.de";
    mbox += corpus::MboxEntry(corpus::BuildMessage(noRecord));
    Mail noId;  // the mailto: route through a program that adds no Message-ID, sent twice
    noId.parts = {TextPart(SampleText(5), "windows-1252", Transfer::EightBit)};
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
    EXPECT_EQ(std::vector<std::string>{"password_2: differs from password_1"}, review[0].ReviewLines());
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
    // Once the import's database exists its handler is set; then it is given a moment to read.
    for (int waited = 0; waited < 20000 && !fs::exists(interrupted.string() + "-wal"); waited += 10) usleep(10 * 1000);
    usleep(300 * 1000);
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
    std::string text = SampleText(3);
    text.replace(text.find("<password_2>G"), 13, "<password_2>X");
    differ.parts = {TextPart(text, "utf-8", Transfer::Base64)};
    Write("differ.eml", corpus::BuildMessage(differ));
    auto run = [&](const std::string& args, int* status) { return RunCli(args, status); };
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

    for (const char* bad : {"show 7", "import", "frobnicate", "export --csv /nonexistent/dir/x.csv",
                            "export --xlsx /nonexistent/dir/x.xlsx", "show --rejected 1"}) {
        const std::string out = run(bad, &status);
        EXPECT_NE(0, status) << bad;
        EXPECT_EQ(0u, out.find("velkdesk: ")) << out;
        EXPECT_EQ(out.size() - 1, out.find('\n')) << bad << ": " << out;
    }
    EXPECT_EQ(0u, run("import --help", &status).find("read .eml files"));
    EXPECT_EQ(0, status);
}

namespace {

// Sample record `n` whose firm, hard-wrapped at 72 columns, puts "From " at the start of a line.
std::string WrappedFromText(int n) {
    RegistrationRecord record = corpus::SampleRecord(n);
    std::string filler = "Kartendienst " + std::to_string(n) + " ";
    filler.resize(60 - std::string("    <firm>").size() + 10, 'x');  // the break falls before "From"
    record.firm = filler + " From Scratch Beratung GmbH";
    return corpus::HardWrap(BuildMailText(record), 72);
}

RegistrationRecord WrappedFromRecord(int n) {
    RegistrationRecord record = corpus::SampleRecord(n);
    std::string filler = "Kartendienst " + std::to_string(n) + " ";
    filler.resize(60, 'x');
    record.firm = filler + " From Scratch Beratung GmbH";
    return record;
}

}  // namespace

TEST_F(DeskTest, ReadsEveryMboxDialectAsPythonsMailboxAndASentCopyMboxWriteIt) {
    // The mails: Python's email package makes them, its mailbox module (and a writer of each
    // other dialect) stores them; see make_mboxes.py.
    struct Sent {
        const char* name;
        const char* kind;
        int n;
    };
    const std::vector<Sent> sent = {{"wrapped", "plain", 301}, {"salzburg", "plain", 302}, {"nodate", "nodate", 303},
                                    {"octet", "octet", 304},   {"katalog", "norecord", 0}, {"edited", "badlength", 306}};
    std::string listing;
    for (const Sent& s : sent) {
        std::string body;
        if (std::string(s.name) == "wrapped") {
            body = WrappedFromText(s.n);
            ASSERT_NE(std::string::npos, body.find("\r\nFrom Scratch Beratung GmbH</firm>"));
        } else if (std::string(s.name) == "salzburg" || std::string(s.name) == "edited") {
            body = "Hallo,\r\n\r\nFrom Salzburg here is my registration:\r\n" + SampleText(s.n);
        } else if (s.n) {
            body = SampleText(s.n);
        } else {
            body = "Bitte senden Sie mir einen Katalog.\r\n";
        }
        Write("py/" + std::string(s.name) + ".txt", body);
        listing += std::string(s.name) + " " + s.kind + "\n";
    }
    Write("py/mails", listing);
    ASSERT_EQ(0, std::system(("/usr/bin/python3 " DESK_TEST_DIR "/make_mboxes.py " + (dir_ / "py").string()).c_str()));

    int round = 0;
    for (const char* dialect : {"mboxo", "mboxrd", "cl"}) {
        SCOPED_TRACE(dialect);
        const fs::path mbox = dir_ / "py" / (std::string(dialect) + ".mbox");
        std::string errors;
        const desk::ImportCounts c = Import({mbox}, &errors);
        EXPECT_EQ("", errors);
        EXPECT_EQ(sent.size(), c.read);
        // The first file brings the registrations; the other two hold the same ones.
        EXPECT_EQ(round == 0 ? 5u : 0u, c.added);
        EXPECT_EQ(round == 0 ? 0u : 5u, c.known);
        EXPECT_EQ(1u, c.rejected);
        ++round;
    }
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(5u, rows.size());
    for (const desk::StoredRegistration& row : rows) {
        const std::string ref = row.sourceRef;
        SCOPED_TRACE(ref);
        const Sent& s = *std::find_if(sent.begin(), sent.end(), [&](const Sent& x) {
            return ref == "<" + std::string(x.name) + "@python.example>";
        });
        ExpectSameFields(std::string(s.name) == "wrapped" ? WrappedFromRecord(s.n) : corpus::SampleRecord(s.n), row.record);
        EXPECT_TRUE(row.doubts.empty()) << row.doubts[0].Line();
        // Without a Date header the "From " line tells when the mail came.
        EXPECT_EQ(std::string(s.kind) == "nodate" ? "2026-12-08T07:15:00Z" : "2026-12-07T09:30:00Z", row.receivedAt);
    }

    // A message past the reader's cap costs that message, named, and nothing after it.
    {
        std::ofstream big(dir_ / "big.mbox", std::ios::binary);
        big << corpus::MboxEntry(SoundMail(311)) << "From kunde@example.de Mon Dec  7 09:30:00 2026\nSubject: gross\n\n";
        const std::string line(1023, 'x');
        for (std::size_t size = 0; size <= desk::kMaxMboxMessage; size += 1024) big << line << '\n';
        big << '\n' << corpus::MboxEntry(SoundMail(312));
    }
    std::string errors;
    const desk::ImportCounts c = Import({dir_ / "big.mbox"}, &errors);
    EXPECT_EQ(3u, c.read);
    EXPECT_EQ(2u, c.added);
    EXPECT_EQ(1u, c.rejected);
    EXPECT_EQ("velkdesk: " + (dir_ / "big.mbox").string() +
                  ": message 2: larger than 64 MiB, not read; kept as rejected, the rest read on\n", errors);
    fs::remove(dir_ / "big.mbox");

    // The rejected messages: kept once, listed with their reasons, shown with their text.
    int status = -1;
    const std::string listed = RunCli("list --rejected", &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(2, std::count(listed.begin(), listed.end(), '\n')) << listed;
    EXPECT_NE(std::string::npos, listed.find("big.mbox message 2\t-\t-\tREJECTED: larger than 64 MiB, not read\n")) << listed;
    EXPECT_NE(std::string::npos, listed.find("mboxo.mbox message 5\t"));
    EXPECT_NE(std::string::npos, listed.find("\tKatalog\tREJECTED: no registration record in the message\n")) << listed;
    const std::string shown = RunCli("show --rejected 1", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, shown.find("message-id: <katalog@python.example>\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("  Bitte senden Sie mir einen Katalog.\n")) << shown;
    EXPECT_NE(0, (RunCli("show --rejected 3", &status), status));
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

TEST_F(DeskTest, AForwardedQuotedOrRepliedCopyIsTheRegistrationItCopies) {
    const std::string original = SoundMail(501);
    auto mailOf = [](const std::string& text, const std::string& id) {
        Mail mail;
        mail.parts = {TextPart(text, "utf-8", Transfer::QuotedPrintable)};
        mail.messageId = id;
        return corpus::BuildMessage(mail);
    };
    Mail attached;
    attached.parts = {TextPart("Siehe unten.\r\n", "utf-8", Transfer::SevenBit)};
    attached.messageId = "fwd-attached@example.de";
    attached.forwardedMessage = original;
    const std::string reply = "Danke.\r\n\r\nAm 7.12. schrieb J\xC3\xBCrgen:\r\n" + corpus::Quote(corpus::HardWrap(SampleText(501), 76));
    std::string changed = SampleText(501);
    changed.replace(changed.find("<city>K"), 7, "<city>D");
    Write("in/1-original.eml", original);
    Write("in/2-attached.eml", corpus::BuildMessage(attached));
    Write("in/3-inline.eml", mailOf("---------- Weitergeleitete Nachricht ----------\r\n" + corpus::Quote(SampleText(501)), "fwd-inline@example.de"));
    Write("in/4-reply.eml", mailOf(reply, "reply@example.de"));
    Write("in/5-reply-to-reply.eml", mailOf("Gern.\r\n\r\n" + corpus::Quote(reply), "reply2@example.de"));
    Write("in/6-changed.eml", mailOf("Korrektur:\r\n" + changed, "changed@example.de"));
    // Delivered into a Maildir without a Date header: the file's name tells when.
    std::string undated = SoundMail(502);
    const std::size_t date = undated.find("Date: ");
    undated.erase(date, undated.find('\n', date) + 1 - date);
    Write("Maildir/new/1796714100.M1P2.host", undated);

    desk::ImportCounts c = Import({dir_ / "in", dir_ / "Maildir"});
    EXPECT_EQ(7u, c.read);
    EXPECT_EQ(3u, c.added);
    EXPECT_EQ(4u, c.known);
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("<reg501@example.de>", rows[0].sourceRef);
    EXPECT_EQ("D\xC3\xB6ln", rows[1].record.city);  // a reply that changes an answer is another registration
    EXPECT_EQ("2026-12-08T07:15:00Z", rows[2].receivedAt);
    {
        desk::CDatabase db(db_.string());
        const std::vector<desk::RegistrationSource> sources = db.Sources(rows[0].id);
        ASSERT_EQ(4u, sources.size());
        EXPECT_EQ((dir_ / "in/2-attached.eml").string(), sources[0].sourceFile);
        EXPECT_EQ("fwd-attached@example.de", sources[0].messageId);
        EXPECT_EQ("<reply2@example.de>", sources[3].sourceRef);
        EXPECT_EQ("2026-12-07T09:30:00Z", sources[3].receivedAt);
    }
    // Imported again: nothing new, no source twice, the original not a source of itself.
    c = Import({dir_ / "in"});
    EXPECT_EQ(6u, c.known);
    int status = -1;
    const std::string shown = RunCli("show " + std::to_string(rows[0].id), &status);
    std::size_t alsoFrom = 0;
    for (std::size_t at = shown.find("also from: "); at != std::string::npos; at = shown.find("also from: ", at + 1)) ++alsoFrom;
    EXPECT_EQ(4u, alsoFrom) << shown;
    EXPECT_NE(std::string::npos, shown.find("also from: mail " + (dir_ / "in/4-reply.eml").string() +
                                            " <reply@example.de>, received 2026-12-07T09:30:00Z\n")) << shown;
}

TEST_F(DeskTest, AVersionOneDatabaseOpensUpgradedWithItsRegistrations) {
    // The version 1 schema as velkdesk created it, with a registration and a forward of it that
    // version 1 stored a second time.
    {
        sqlite3* v1 = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &v1));
        std::string ddl = "CREATE TABLE registration (id INTEGER PRIMARY KEY, dedup_key TEXT NOT NULL UNIQUE,"
                          " channel TEXT NOT NULL, source_file TEXT NOT NULL, source_ref TEXT NOT NULL,"
                          " received_at TEXT NOT NULL, imported_at TEXT NOT NULL DEFAULT"
                          " (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')), review TEXT NOT NULL";
        std::string columns, values;
        for (const MailElement& e : kMailElements) {
            ddl += std::string(", ") + e.name + " TEXT NOT NULL";
            columns += std::string(", ") + e.name;
            values += ", ?";
        }
        ddl += "); CREATE INDEX registration_review ON registration(id) WHERE review <> ''; PRAGMA user_version = 1;";
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(v1, ddl.c_str(), nullptr, nullptr, nullptr));
        const std::string insert = "INSERT INTO registration (dedup_key, channel, source_file, source_ref, received_at,"
                                   " review" + columns + ") VALUES (?, 'mail', ?, ?, '2026-12-07T09:30:00Z', ''" + values + ")";
        const RegistrationRecord record = corpus::SampleRecord(601);
        for (const char* ref : {"reg601@example.de", "fwd601@example.de"}) {
            sqlite3_stmt* stmt = nullptr;
            ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(v1, insert.c_str(), -1, &stmt, nullptr));
            const std::string key = std::string("message:") + ref + "/0123", file = "old.mbox", sourceRef = std::string("<") + ref + ">";
            sqlite3_bind_text(stmt, 1, key.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(stmt, 2, file.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(stmt, 3, sourceRef.c_str(), -1, SQLITE_TRANSIENT);
            int index = 4;
            for (const MailElement& e : kMailElements) sqlite3_bind_text(stmt, index++, (record.*e.field).c_str(), -1, SQLITE_TRANSIENT);
            ASSERT_EQ(SQLITE_DONE, sqlite3_step(stmt));
            sqlite3_finalize(stmt);
        }
        sqlite3_close(v1);
    }
    std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(2u, rows.size());
    ExpectSameFields(corpus::SampleRecord(601), rows[1].record);
    EXPECT_EQ("<fwd601@example.de>", rows[1].sourceRef);
    EXPECT_EQ("2026-12-07T09:30:00Z", rows[1].receivedAt);
    // The same mail arriving now is known, linked to the first of the two.
    Write("again.eml", SoundMail(601));
    const desk::ImportCounts c = Import({dir_ / "again.eml"});
    EXPECT_EQ(1u, c.known);
    desk::CDatabase db(db_.string());
    EXPECT_EQ(1u, db.Sources(rows[0].id).size());
    EXPECT_EQ(0u, db.Sources(rows[1].id).size());
    sqlite3_stmt* version = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db.Handle(), "PRAGMA user_version", -1, &version, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(version));
    EXPECT_EQ(6, sqlite3_column_int(version, 0));
    sqlite3_finalize(version);
}

TEST_F(DeskTest, XlsxExportHoldsEveryValueAsStoredAndTheCsvGuardCanBeLifted) {
    RegistrationRecord tricky = corpus::SampleRecord(701, true);
    tricky.password_1 = tricky.password_2 = "=Sommer2027";
    tricky.firm = "-Minus- & Plus <GmbH>";
    tricky.addr = "=HYPERLINK(\"http://x\";\"a\")";
    tricky.tel = "+49 221 1";
    tricky.pgekauf = "@SUMME(A1:A9); \"Stadtplan\" 0001";
    Mail mail;
    mail.parts = {TextPart(BuildMailText(tricky), "utf-8", Transfer::QuotedPrintable)};
    mail.messageId = "tricky@example.de";
    Write("in/tricky.eml", corpus::BuildMessage(mail));
    Write("in/sound.eml", SoundMail(702));
    Import({dir_ / "in"});

    int status = -1;
    const fs::path xlsx = dir_ / "out.xlsx";
    EXPECT_EQ("", RunCli("export --with-passwords --xlsx " + xlsx.string(), &status));
    ASSERT_EQ(0, status);
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(xlsx).permissions());
    // Read back by a spreadsheet reader: each row's cells joined by \x1f, the kinds of the
    // non-empty cells on the last line ("s" a text, "f" a formula, "n" a number).
    const fs::path reader = Write("read_xlsx.py",
        "import sys, openpyxl\n"
        "sheet = openpyxl.load_workbook(sys.argv[1]).active\n"
        "kinds = set()\n"
        "for row in sheet.iter_rows():\n"
        "    print('\\x1f'.join('' if c.value is None else str(c.value) for c in row))\n"
        "    kinds.update(c.data_type for c in row if c.value is not None)\n"
        "print(''.join(sorted(kinds)))\n");
    FILE* pipe = popen(("/usr/bin/python3 " + reader.string() + " " + xlsx.string()).c_str(), "r");
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
    ASSERT_EQ(0, WEXITSTATUS(pclose(pipe)));
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    ASSERT_EQ(4u, lines.size()) << text;
    EXPECT_EQ("s", lines[3]);
    std::string header = "id\x1f" "channel\x1f" "source_file\x1f" "source_ref\x1f" "received_at\x1f" "imported_at\x1f" "review";
    for (const MailElement& e : kMailElements) header += std::string("\x1f") + e.name;
    EXPECT_EQ(header, lines[0]);
    const std::vector<desk::StoredRegistration> rows = Rows();
    ASSERT_EQ(2u, rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const desk::StoredRegistration& r = rows[i];
        std::string expected = std::to_string(r.id) + "\x1f" + r.channel + "\x1f" + r.sourceFile + "\x1f" + r.sourceRef +
                               "\x1f" + r.receivedAt + "\x1f" + r.importedAt + "\x1f";
        for (const MailElement& e : kMailElements) expected += "\x1f" + r.record.*e.field;
        EXPECT_EQ(expected, lines[i + 1]);
    }
    ExpectSameFields(tricky, rows[1].record);

    // The CSV keeps its guard for people; programs ask for the values as stored.
    const std::string guarded = RunCli("export --with-passwords", &status);
    EXPECT_NE(std::string::npos, guarded.find(";'=Sommer2027;'=Sommer2027;"));
    EXPECT_NE(std::string::npos, guarded.find(";'-Minus- & Plus <GmbH>;"));
    const std::string plain = RunCli("export --with-passwords --no-formula-guard", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, plain.find(";=Sommer2027;=Sommer2027;"));
    EXPECT_NE(std::string::npos, plain.find(";-Minus- & Plus <GmbH>;\"=HYPERLINK(\"\"http://x\"\";\"\"a\"\")\";"));
    EXPECT_NE(std::string::npos, plain.find(";\"@SUMME(A1:A9); \"\"Stadtplan\"\" 0001\";"));
    EXPECT_NE(0, (RunCli("export --csv a.csv --xlsx b.xlsx", &status), status));
}

TEST_F(DeskTest, AMailRegistrationKeepsItsRecordsLinesAsTheyStoodInTheMail) {
    // Quoted in a reply and hard-wrapped by a mail program: the clerk sees it so, not as read.
    const std::string record = corpus::Quote(corpus::HardWrap(SampleText(811), 40));
    Mail mail;
    mail.parts = {TextPart("Hallo,\r\nhier meine Daten:\r\n\r\n" + record + "\r\nGruß\r\n", "iso-8859-1",
                           Transfer::QuotedPrintable)};
    Write("quoted.eml", corpus::BuildMessage(mail));
    ASSERT_EQ(1u, Import({dir_ / "quoted.eml"}).added);
    desk::CDatabase db(db_.string());
    const desk::StoredRecordText kept = *db.RecordText(1);
    EXPECT_EQ(corpus::LfOnly(record), kept.text);
    EXPECT_FALSE(kept.Cut());
    EXPECT_LT(30u, static_cast<std::size_t>(std::count(kept.text.begin(), kept.text.end(), '\n')));  // wrapped lines kept
    int status = -1;
    const std::string shown = RunCli("show 1", &status);
    EXPECT_NE(std::string::npos, shown.find("record text:\n  > <new>\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("  >     <password_1>(hidden)</password_1>\n")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("heim")) << shown;
}

TEST_F(DeskTest, ASheetsPageIsStoredInStripsThatDecodeOnTheirOwn) {
    int status = -1;
    RunCli("import " + (fs::path(SHEET_PAGES) / "sheet-fine-dotless.tif").string(), &status);
    ASSERT_EQ(0, status);
    desk::CDatabase db(db_.string());
    const std::optional<desk::StoredPage> page = db.Page(1, 1);
    ASSERT_TRUE(page);
    // Leptonica reads it whole, as it read pages stored in one strip.
    sheet::CPix whole(pixReadMemTiff(reinterpret_cast<const l_uint8*>(page->bytes.data()), page->bytes.size(), 0));
    ASSERT_TRUE(whole);
    EXPECT_EQ(page->width, pixGetWidth(whole.Get()));
    EXPECT_EQ(page->height, pixGetHeight(whole.Get()));
    // Rows in the middle decode from their strip's first row on: nothing above it is read, and
    // what is read is the page's own ink.
    const int first = 2000 / sheet::kStoredPageStripRows * sheet::kStoredPageStripRows;
    const sheet::CPix rows = sheet::DecodeStoredPageRows(page->bytes, page->width, page->height, {{2000, 2100}});
    ASSERT_TRUE(rows);
    sheet::CPix above(pixCreate(page->width, first, 1));
    pixRasterop(above.Get(), 0, 0, page->width, first, PIX_SRC, whole.Get(), 0, 0);
    EXPECT_LT(0, sheet::CountPixels(above.Get()));  // the page's head has ink
    Box* band = boxCreate(0, first, page->width, 2100 - first);
    EXPECT_EQ(sheet::CountPixels(whole.Get(), band), sheet::CountPixels(rows.Get()));
    boxDestroy(&band);
}

TEST_F(DeskTest, AShownRejectedMessageHidesThePasswordsInItsText) {
    // A record too broken to be read still holds what the customer typed as passwords.
    EXPECT_EQ("a <password_1>(hidden)</password_1>\n<password_2>(hidden)\n> <vorname>Anna</vorname>",
              desk::MaskPasswords("a <password_1>G\xC3\xA4heim&<1>\r\n  weiter</password_1>\n<password_2>Xy</pass\n"
                                  "> <vorname>Anna</vorname>"));
    EXPECT_EQ("< Password_1 >(hidden)</ PASSWORD_1>, password_2: frei, <password_2 x>(hidden)\n",
              desk::MaskPasswords("< Password_1 >Geheim</ PASSWORD_1>, password_2: frei, <password_2 x>Xy<zip>1</zip>\n"));
}
