// startstub.exe under Wine: it starts "velkstart\VelkStart.exe" relative to its current
// directory, passes no arguments on, shows nothing and always ends with status 0.
#include <gtest/gtest.h>

#include <string>

#include "WinTest.h"

using namespace wt;

namespace {

// A temp folder, optionally with the stub at its root and with a stand-in start program that
// records "command line|current directory" in velkstart\product.log.
struct StubFolder : CTempDir {
    StubFolder(bool withStub, bool withStartProgram) {
        if (withStub) CopyFileA((BinDir() + "startstub.exe").c_str(), Stub().c_str(), FALSE);
        if (withStartProgram) {
            CreateDirectoryA(File("velkstart").c_str(), nullptr);
            CopyFileA((BinDir() + "product_standin.exe").c_str(), File("velkstart\\VelkStart.exe").c_str(), FALSE);
        }
    }
    std::string Stub() const { return File("startstub.exe"); }
    std::string StartLog() const { return ReadFileBytes(File("velkstart\\product.log")); }
};

bool SamePath(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// Runs the stub with `arguments` in `cwd`; it must end by itself with status 0 and open no
// window anywhere.
void RunStub(const StubFolder& folder, const std::string& arguments, const std::string& cwd) {
    const auto before = VisibleTopLevelWindows();
    CProcess stub;
    ASSERT_TRUE(stub.Start(folder.Stub(), Quote(folder.Stub()) + arguments, cwd));
    EXPECT_TRUE(stub.WaitExit());
    EXPECT_EQ(0u, stub.ExitCode());
    EXPECT_EQ(before, VisibleTopLevelWindows());
}

// The one start recorded in `log`: its command line and current directory.
void ExpectOneStart(const std::string& log, const std::string& cwd, std::string& commandLine) {
    const size_t bar = log.find('|');
    ASSERT_NE(std::string::npos, bar) << log;
    ASSERT_EQ(log.size(), log.find('\n') + 1) << log;
    commandLine = log.substr(0, bar);
    EXPECT_NE(std::string::npos, commandLine.find("VelkStart.exe")) << log;
    EXPECT_TRUE(SamePath(cwd, log.substr(bar + 1, log.size() - bar - 2))) << log;
}

}  // namespace

TEST(StartStub, StartsStartProgramOfCurrentDirectoryWithoutArguments) {
    for (const char* arguments : {"", " /x \"Eigene Dateien\" -lang de"}) {
        SCOPED_TRACE(arguments);
        StubFolder folder(true, true);
        RunStub(folder, arguments, folder.Path());
        ASSERT_TRUE(WaitUntil([&] { return folder.StartLog().find('\n') != std::string::npos; }));
        std::string commandLine;
        ExpectOneStart(folder.StartLog(), folder.Path(), commandLine);
        for (const char* word : {"/x", "Eigene", "-lang"}) {
            EXPECT_EQ(std::string::npos, commandLine.find(word)) << commandLine;
        }
    }
}

TEST(StartStub, NoStartProgramInCurrentDirectoryStartsNothingAndShowsNothing) {
    // Wine's shell searches a relative path beside the calling program too, even before the
    // current directory, so no start program may lie there either for this case.
    StubFolder product(true, false);
    StubFolder elsewhere(false, false);
    RunStub(product, "", elsewhere.Path());
    EXPECT_EQ("", product.StartLog());
    EXPECT_EQ("", elsewhere.StartLog());
}
