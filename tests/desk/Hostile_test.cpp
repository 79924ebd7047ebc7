// velkdesk's intake against what a stranger can send or leave lying about: no password in any
// message or listing, readers that stay linear on hostile text, and files that are no mail
// (links, FIFOs, the database itself) left alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

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
        EXPECT_EQ("new: more problems than are listed", records[0].problems.back().Line());
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

