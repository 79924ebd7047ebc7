// Start-up routes of the real VelkRun.exe: argument counts, the opt-out route, the runner
// and the form as first windows, quote stripping and where the settings file is looked for.
#include <gtest/gtest.h>

#include <algorithm>

#include "WinTest.h"
#include "res/resource.h"

using namespace wt;

namespace {

const char kIni[] = "TitelText=Demo-Erinnerung\r\nButExitText=Beenden\r\n";

std::string Cmd(const CProductFolder& folder, const std::string& args) {
    return Quote(folder.VelkRun()) + (args.empty() ? "" : " " + args);
}

// Ends the program's dialog the way Escape does and waits for the process to go.
void CloseDialog(CProcess& process, HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(process.WaitExit());
}

std::string LongArgs(const std::string& key, const std::string& value, const std::string& product,
                     const std::string& parameters) {
    std::string args = Quote(key) + " " + Quote(value) + " " + Quote("https://velk.example/reg") + " " +
                       Quote("A-1234") + " " + Quote("Demo Produkt") + " " + Quote(product);
    if (!parameters.empty()) args += " " + Quote(parameters);
    return args;
}

}  // namespace

TEST(StartUp, WrongArgumentCountsEndWithoutWindow) {
    CProductFolder folder;
    folder.WriteIni(kIni);
    for (const char* args : {"", "a", "a b c", "a b c d", "a b c d e"}) {
        SCOPED_TRACE(args);
        CProcess process;
        ASSERT_TRUE(process.Start(folder.VelkRun(), Cmd(folder, args), folder.Path()));
        EXPECT_TRUE(process.WaitExit());
        EXPECT_TRUE(ProcessWindows(process.Pid()).empty());
        EXPECT_EQ(0u, process.ExitCode());
    }
}

TEST(StartUp, OptedOutStartsProductWithParametersEvenWithoutSettings) {
    CProductFolder folder;  // no VelkRun.ini
    CRegTestKey key;
    ASSERT_TRUE(key.SetDword("Optout", 1));
    CProcess process;
    ASSERT_TRUE(process.Start(folder.VelkRun(),
                              Cmd(folder, LongArgs(key.Path(), "Optout", folder.Product(), "-lang de /x")),
                              folder.Path()));
    EXPECT_TRUE(process.WaitExit());
    EXPECT_TRUE(WaitUntil([&] { return !folder.ProductLog().empty(); }));
    const std::string log = folder.ProductLog();
    EXPECT_NE(std::string::npos, log.find("-lang de /x")) << log;
    EXPECT_EQ(1, std::count(log.begin(), log.end(), '\n')) << log;
}

TEST(StartUp, FlagNotSetShowsRunnerWithTitleFromSettings) {
    CProductFolder folder;
    folder.WriteIni(kIni);
    CRegTestKey key;
    ASSERT_TRUE(key.SetDword("Optout", 256));  // lowest byte 0: not set
    CProcess process;
    ASSERT_TRUE(process.Start(folder.VelkRun(), Cmd(folder, LongArgs(key.Path(), "Optout", folder.Product(), "")),
                              folder.Path()));
    HWND runner = WaitForWindow(process.Pid());
    ASSERT_NE(nullptr, runner);
    EXPECT_EQ("Demo-Erinnerung", WindowText(runner));
    EXPECT_NE(nullptr, GetDlgItem(runner, IDC_RUN_NOMORE));
    SaveScreenshot(runner, "startup_runner");
    CloseDialog(process, runner);
    EXPECT_TRUE(folder.ProductLog().empty());
}

TEST(StartUp, EmptyRegistryKeyShowsRunner) {
    CProductFolder folder;
    folder.WriteIni(kIni);
    CProcess process;
    ASSERT_TRUE(process.Start(folder.VelkRun(), Cmd(folder, LongArgs("", "Optout", folder.Product(), "")),
                              folder.Path()));
    HWND runner = WaitForWindow(process.Pid());
    ASSERT_NE(nullptr, runner);
    EXPECT_EQ("Demo-Erinnerung", WindowText(runner));
    CloseDialog(process, runner);
}

TEST(StartUp, LongFormWithoutSettingsEndsWithoutWindow) {
    CProductFolder folder;  // no VelkRun.ini, flag not set
    CProcess process;
    ASSERT_TRUE(process.Start(folder.VelkRun(), Cmd(folder, LongArgs("", "", folder.Product(), "")), folder.Path()));
    EXPECT_TRUE(process.WaitExit());
    EXPECT_TRUE(folder.ProductLog().empty());
}

TEST(StartUp, ShortFormShowsFormWithProductAndStripsOneQuoteAtEachEnd) {
    CProductFolder folder;
    folder.WriteIni(kIni);
    // Backslash-escaped quotes survive the command-line split; one goes at each end.
    CProcess process;
    ASSERT_TRUE(process.Start(folder.VelkRun(), Cmd(folder, "\"\\\"A-77\\\"\" \"\\\"Der \\\"gro\xDF" "e\\\" Atlas\\\"\""),
                              folder.Path()));
    HWND form = WaitForWindow(process.Pid());
    ASSERT_NE(nullptr, form);
    EXPECT_EQ("A-77", ItemText(form, IDC_REG_ARTICLE));
    EXPECT_EQ("Der \"gro\xDF" "e\" Atlas", ItemText(form, IDC_REG_TITLE));
    SaveScreenshot(form, "startup_form");
    CloseDialog(process, form);
}

TEST(StartUp, BareProgramNameFindsSettingsInCurrentDirectory) {
    CProductFolder folder;
    folder.WriteIni(kIni);
    {
        CProcess process;
        ASSERT_TRUE(process.Start(folder.VelkRun(), "VelkRun.exe A-1 Titel", folder.Path()));
        HWND form = WaitForWindow(process.Pid());
        ASSERT_NE(nullptr, form);
        EXPECT_EQ("A-1", ItemText(form, IDC_REG_ARTICLE));
        CloseDialog(process, form);
    }
    {
        // Same program, another current directory without a settings file: nothing shows.
        CTempDir elsewhere;
        CProcess process;
        ASSERT_TRUE(process.Start(folder.VelkRun(), "VelkRun.exe A-1 Titel", elsewhere.Path()));
        EXPECT_TRUE(process.WaitExit());
        EXPECT_TRUE(ProcessWindows(process.Pid()).empty());
    }
}
