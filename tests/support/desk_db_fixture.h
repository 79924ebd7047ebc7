// The fixture of the desk core's tests: a fresh folder and database path per test, files
// written into it, the stored rows, and the command line run as a user runs it. Links the core
// only (no mail or page intake).
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

class DeskDbTest : public ::testing::Test {
protected:
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

    std::filesystem::path dir_;
    std::filesystem::path db_;
};
