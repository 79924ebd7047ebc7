// VelkRun.exe under command lines a caller should not write: as long as Windows allows, and
// with quotes, backslashes and bytes above 0x7F inside the values. The product values must
// reach the form's edits byte for byte, and the program must end when its window closes.
#include <gtest/gtest.h>

#include <memory>

#include "WinTest.h"
#include "res/resource.h"
#include "robust_support.h"

using namespace wt;
using namespace robust;

namespace {

const char kIni[] = "TitelText=Registrierung\r\nButOfflText=Registrieren offline\r\nButExitText=Beenden\r\n";

// The longest command line CreateProcess takes: 32767 characters with the terminating zero.
constexpr size_t kMaxCommandLine = 32766;

// A readable filler of `length` bytes with blanks, digits and a few high bytes.
std::string Filler(const std::string& head, size_t length) {
    static const char kPattern[] = "Der gro\xDF" "e Atlas \xC4\xD6\xDC 0123456789 ";
    std::string text = head;
    while (text.size() < length) text += kPattern[text.size() % (sizeof kPattern - 1)];
    text.resize(length);
    return text;
}

// Opens the form: directly in the short form, through "Registrieren offline" in the long one;
// screenshots of both when `screenshot` names them. Null when the form did not come.
HWND OpenForm(CVelkRun& run, bool longForm, const std::string& screenshot) {
    HWND first = run.WaitWindow();
    if (first && longForm) {
        EXPECT_EQ("Registrierung", WindowText(first));
        if (!screenshot.empty()) SaveTopScreenshot(first, screenshot + "_runner");
        PostMessageA(GetDlgItem(first, IDC_RUN_OFFLINE), BM_CLICK, 0, 0);
        first = WaitForOwnedWindow(run.Pid(), first);
    }
    if (first && !screenshot.empty()) SaveTopScreenshot(first, screenshot);
    return first;
}

// Closes the forms (and the runners that own them in the long form) and checks that the
// programs end: the form first, and the runner only once it is usable again.
void CloseAll(std::vector<std::unique_ptr<CVelkRun>>& runs, const std::vector<HWND>& forms) {
    std::vector<HWND> runners;
    for (HWND form : forms) {
        runners.push_back(GetWindow(form, GW_OWNER));
        PostMessageA(form, WM_COMMAND, IDCANCEL, 0);
    }
    for (size_t i = 0; i < runners.size(); ++i) {
        if (!runners[i]) continue;
        HWND form = forms[i], runner = runners[i];
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(form) && IsWindowEnabled(runner); }));
        EXPECT_TRUE(runs[i]->Running()) << "the runner must stay after the form";
        PostMessageA(GetDlgItem(runner, IDC_RUN_EXIT), BM_CLICK, 0, 0);
    }
    for (auto& run : runs) {
        EXPECT_TRUE(run->Ended());
        EXPECT_EQ("", run->Folder().ProductLog());
    }
}

}  // namespace

TEST(BadArguments, CommandLineAtTheWindowsLimitReachesTheForm) {
    CRegTestKey key;
    struct Case {
        const char* name;
        bool longForm;
        std::string regKey;  // long form only
        size_t articleLength;
        const char* screenshot;
    };
    const Case cases[] = {
        {"short form, two halves", false, "", 16000, "badinput_cmdline_limit_short"},
        {"long form, huge title", true, key.Path(), 12000, "badinput_cmdline_limit_long"},
        // A key name Windows cannot open: the flag counts as not set.
        {"long form, huge registry key", true, "Software\\" + std::string(20000, 'k'), 50,
         "badinput_cmdline_limit_long_key"},
    };
    std::vector<std::unique_ptr<CVelkRun>> runs;
    std::vector<HWND> forms;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runs.push_back(std::make_unique<CVelkRun>(kIni));
        CVelkRun& run = *runs.back();
        const std::string article = Filler("A-", c.articleLength);
        std::vector<std::string> args = {article, ""};
        if (c.longForm) {
            LongForm form;
            form.regKey = c.regKey;
            form.articleNumber = article;
            form.productTitle = "";
            form.productProgram = run.Folder().Product();
            args = form.Args();
        }
        // The title takes whatever room is left up to the limit (the quotes around the empty
        // title stay around the filled one).
        std::string& titleArg = args[c.longForm ? 4 : 1];
        titleArg = Filler("Titel ", kMaxCommandLine - CommandLine(run.Folder().VelkRun(), args).size());
        const std::string title = titleArg;
        const std::string line = CommandLine(run.Folder().VelkRun(), args);
        ASSERT_EQ(kMaxCommandLine, line.size());
        ASSERT_TRUE(run.StartLine(line));

        HWND registration = OpenForm(run, c.longForm, c.screenshot);
        ASSERT_NE(nullptr, registration);
        EXPECT_TRUE(ItemText(registration, IDC_REG_ARTICLE) == article) << ItemText(registration, IDC_REG_ARTICLE).size();
        EXPECT_TRUE(ItemText(registration, IDC_REG_TITLE) == title) << ItemText(registration, IDC_REG_TITLE).size();
        forms.push_back(registration);
    }
    CloseAll(runs, forms);
}

TEST(BadArguments, QuotesBackslashesAndHighBytesReachTheFormByteForByte) {
    std::string allHigh;
    for (int b = 0x80; b <= 0xFF; ++b) allHigh += static_cast<char>(b);
    std::string printable;
    for (int b = 0x20; b <= 0x7E; ++b) printable += static_cast<char>(b);
    struct Case {
        const char* name;
        std::string article, title;    // the values as the C runtime splits them
        std::string shownArticle, shownTitle;  // what the edits must hold
    };
    const Case cases[] = {
        {"every byte above 0x7F", "\x80\x81\x8D\x8F\x90\x9D\xA0\xFF", allHigh, "\x80\x81\x8D\x8F\x90\x9D\xA0\xFF",
         allHigh},
        {"every printable ASCII byte", printable, "%s%n%d%%", printable, "%s%n%d%%"},
        {"quotes inside stay", "A\"1\"2", "Der \"gro\xDF" "e\" Atlas", "A\"1\"2", "Der \"gro\xDF" "e\" Atlas"},
        {"one quote goes at each end", "\"A-77\"", "\"\"Zitat\"\"", "A-77", "\"Zitat\""},
        {"a lone quote and two quotes become empty", "\"", "\"\"", "", ""},
        {"quote only at the start", "\"Anfang", "Ende\"", "Anfang", "Ende"},
        {"backslashes before quotes and at the end", "C:\\Pfad\\", "\\\\server\\\"x\\\\\"\\", "C:\\Pfad\\",
         "\\\\server\\\"x\\\\\"\\"},
        {"blanks and tabs only", "   ", "\t \t", "   ", "\t \t"},
    };
    // All cases of a form at once: each closing window costs Wine two seconds here.
    for (bool longForm : {false, true}) {
        std::vector<std::unique_ptr<CVelkRun>> runs;
        std::vector<HWND> forms;
        for (const Case& c : cases) {
            runs.push_back(std::make_unique<CVelkRun>(kIni));
            CVelkRun& run = *runs.back();
            LongForm form;
            form.articleNumber = c.article;
            form.productTitle = c.title;
            form.productProgram = run.Folder().Product();
            ASSERT_TRUE(run.Start(longForm ? form.Args() : std::vector<std::string>{c.article, c.title})) << c.name;
        }
        for (size_t i = 0; i < runs.size(); ++i) {
            const Case& c = cases[i];
            SCOPED_TRACE(std::string(c.name) + (longForm ? " (long form)" : " (short form)"));
            // The first case's windows are kept as pictures.
            HWND registration =
                OpenForm(*runs[i], longForm, i > 0 ? "" : longForm ? "badinput_high_bytes_long" : "badinput_high_bytes");
            forms.push_back(registration);
            ASSERT_NE(nullptr, registration);
            EXPECT_EQ(c.shownArticle, ItemText(registration, IDC_REG_ARTICLE));
            EXPECT_EQ(c.shownTitle, ItemText(registration, IDC_REG_TITLE));
        }
        CloseAll(runs, forms);
    }
}
