// The end of the end-to-end route: what the real VelkRun handed to the test mail client under
// Wine (left in VELK_DESK_E2E_DIR by e2e_mail_test) goes out as mail in three encodings,
// through `velkdesk import`, and must come out of `velkdesk export` as it was typed in the form.
// Run by scripts/test.sh after the Wine tests, not by CTest.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "desk/mail/MailIntake.h"
#include "output/MailRecord.h"
#include "tests/support/desk_corpus.h"
#include "tests/support/file_bytes.h"

namespace fs = std::filesystem;

namespace {

// Rows of a CSV text with quoted cells; the byte-order mark stays out.
std::vector<std::vector<std::string>> ParseCsv(std::string text, char separator) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::vector<std::string>> rows(1);
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') cell += text[++i];
            else if (c == '"') quoted = false;
            else cell += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == separator) {
            rows.back().push_back(cell);
            cell.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(cell);
            cell.clear();
            rows.emplace_back();
            ++i;
        } else {
            cell += c;
        }
    }
    if (rows.back().empty()) rows.pop_back();
    return rows;
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(DeskEndToEnd, WhatVelkRunSentComesOutOfTheExportAsTyped) {
    const char* dirVariable = std::getenv("VELK_DESK_E2E_DIR");
    ASSERT_NE(nullptr, dirVariable) << "VELK_DESK_E2E_DIR names the folder e2e_mail_test wrote";
    const fs::path dir = dirVariable;
    const std::string note = FileBytes(dir / "noteText.txt");
    ASSERT_NE(std::string::npos, note.find("<new>")) << "no mail text from the Wine run in " << dir;
    // The form's texts are Windows-1252 bytes.
    std::map<std::string, std::string> typed;
    std::istringstream expected(Windows1252ToUtf8(FileBytes(dir / "expected.txt")));
    for (std::string line; std::getline(expected, line);) typed[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
    ASSERT_EQ(kMailElementCount, typed.size());

    const fs::path work = dir / "native";
    fs::remove_all(work);
    fs::create_directories(work / "mail");
    g_mime_init();
    const std::string text = Windows1252ToUtf8(note);
    struct Encoding {
        const char* file;
        const char* charset;
        corpus::Transfer transfer;
        bool html;
    } encodings[] = {
        {"windows-1252-8bit.eml", "windows-1252", corpus::Transfer::EightBit, false},
        {"iso-8859-15-qp.eml", "iso-8859-15", corpus::Transfer::QuotedPrintable, false},
        {"utf-8-base64-html.eml", "utf-8", corpus::Transfer::Base64, true},
    };
    for (const Encoding& e : encodings) {
        corpus::Mail mail;
        corpus::Part part;
        part.text = e.html ? corpus::HtmlBody(text) : text;
        part.type = e.html ? "text/html" : "text/plain";
        part.encodeAs = part.declared = e.charset;
        part.transfer = e.transfer;
        mail.parts = {part};
        mail.messageId = std::string(e.file) + "@e2e.example";
        std::ofstream(work / "mail" / e.file, std::ios::binary) << corpus::BuildMessage(mail);
    }
    g_mime_shutdown();

    const std::string velkdesk = std::string(VELKDESK_PATH) + " --db " + (work / "desk.db").string();
    ASSERT_EQ(0, Shell(velkdesk + " import " + (work / "mail").string() + " > " + (work / "import.txt").string()));
    // The same answers in three mails are one registration, the two later mails its further sources.
    EXPECT_EQ("read 3, new 1, already known 2, needing review 0, rejected 0\n", FileBytes(work / "import.txt"));
    ASSERT_EQ(0, Shell(velkdesk + " show 1 > " + (work / "show.txt").string()));
    const std::string shown = FileBytes(work / "show.txt");
    for (const Encoding& e : encodings)
        EXPECT_NE(std::string::npos, shown.find(std::string(e.file) + "@e2e.example")) << shown;
    ASSERT_EQ(0, Shell(velkdesk + " export --with-passwords --csv " + (work / "export.csv").string()));

    const std::vector<std::vector<std::string>> rows = ParseCsv(FileBytes(work / "export.csv"), ';');
    ASSERT_EQ(2u, rows.size());
    for (std::size_t row = 1; row < rows.size(); ++row) {
        ASSERT_EQ(rows[0].size(), rows[row].size());
        for (std::size_t column = 0; column < rows[0].size(); ++column) {
            const std::string& name = rows[0][column];
            if (typed.count(name)) {
                EXPECT_EQ(typed[name], rows[row][column]) << name << " in row " << row;
            }
        }
    }
}
