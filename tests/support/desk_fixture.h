// The fixture of velkdesk's tests: a fresh folder and database per test, files written into it,
// imports with their error lines, the stored rows, and the command line run as a user runs it.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desk/Database.h"
#include "desk/Import.h"
#include "desk/MailIntake.h"
#include "output/MailRecord.h"
#include "output/MailText.h"
#include "tests/support/desk_corpus.h"

class DeskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gmime_ = new desk::CGMimeLibrary; }
    static void TearDownTestSuite() {
        delete gmime_;
        gmime_ = nullptr;
    }

    void SetUp() override {
        char pattern[] = "/tmp/velkdesk-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        db_ = dir_ / "desk.db";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path Write(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = dir_ / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    desk::ImportCounts Import(const std::vector<std::filesystem::path>& paths, std::string* errors = nullptr) {
        desk::CDatabase db(db_.string());
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* errorStream = open_memstream(&buffer, &size);
        desk::ImportCounts counts;
        {
            desk::CImporter importer(db, nullptr, errorStream, nullptr);
            for (const std::filesystem::path& p : paths) importer.ImportPath(p.string());
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

    // `velkdesk --db <the test's database> ARGS` through the shell, standard error with standard
    // output; `status` receives the exit status.
    std::string RunCli(const std::string& args, int* status) const {
        std::string output;
        const std::string command = std::string(VELKDESK_PATH) + " --db " + db_.string() + " " + args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
        *status = WEXITSTATUS(pclose(pipe));
        return output;
    }

    static desk::CGMimeLibrary* gmime_;
    std::filesystem::path dir_;
    std::filesystem::path db_;
};

inline desk::CGMimeLibrary* DeskTest::gmime_ = nullptr;

inline void ExpectSameFields(const RegistrationRecord& expected, const RegistrationRecord& actual) {
    for (const MailElement& e : kMailElements) EXPECT_EQ(expected.*e.field, actual.*e.field) << e.name;
}

// The mail text of sample record `n`.
inline std::string SampleText(int n, bool euro = false) {
    return BuildMailText(corpus::SampleRecord(n, euro));
}

// A sound mail of sample record `n` with its own Message-ID.
inline std::string SoundMail(int n, const std::string& charset = "windows-1252") {
    corpus::Mail mail;
    mail.parts = {corpus::TextPart("Hallo,\r\n\r\n" + SampleText(n), charset, corpus::Transfer::QuotedPrintable)};
    mail.messageId = "reg" + std::to_string(n) + "@example.de";
    return corpus::BuildMessage(mail);
}
