// The fixture of velkdesk's intake tests: the core's fixture, with GMime set up and imports that
// collect their error lines.
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
#include "tests/support/desk_db_fixture.h"
#include "desk/Import.h"
#include "desk/mail/MailIntake.h"
#include "output/MailRecord.h"
#include "output/MailText.h"
#include "tests/support/desk_corpus.h"

class DeskTest : public DeskDbTest {
protected:
    static void SetUpTestSuite() { gmime_ = new desk::CGMimeLibrary; }
    static void TearDownTestSuite() {
        delete gmime_;
        gmime_ = nullptr;
    }

    desk::ImportCounts Import(const std::vector<std::filesystem::path>& paths, std::string* errors = nullptr) {
        desk::CDatabase db(db_.string());
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* errorStream = open_memstream(&buffer, &size);
        desk::ImportCounts counts;
        {
            desk::CLineObserver lines(errorStream);
            desk::CImporter importer(db, &lines, nullptr);
            for (const std::filesystem::path& p : paths) importer.ImportPath(p.string());
            importer.Finish();
            counts = importer.Counts();
        }
        std::fclose(errorStream);
        if (errors) *errors = std::string(buffer, size);
        std::free(buffer);
        return counts;
    }

    static desk::CGMimeLibrary* gmime_;
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
