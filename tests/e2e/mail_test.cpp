// "Als E-Mail versenden" on the real VelkRun.exe: the explanation box, the hand-off to a test
// mail client registered as the default mail program, the mailto: fallback through the shell,
// the copy on the clipboard, and what "Abbrechen" does to it.
#include <gtest/gtest.h>

#include <vector>

#include "WinTest.h"
#include "form/RegistrationRecord.h"
#include "form_support.h"
#include "mail_support.h"
#include "output/MailRecord.h"
#include "output/MailText.h"
#include "res/resource.h"
#include "tests/support/sample_answers.h"

using namespace wt;
using namespace mailtest;
using namespace formtest;

namespace {

const char kMissing[] = "Bitte alle Pflichtfelder ausf\xFCllen.";

std::string Ini(const std::string& recipient = kRecipient) {
    return "EmailAddress=" + recipient + "\r\nMessage1=" + kMissing + "\r\n";
}

// The shared sample's name, firm, address and VIP answers, the only ones typed, in a form
// started with "A-1 Titel": the record the form must give.
RegistrationRecord ExpectedRecord() { return ShortFormRecord(sample::SampleAnswers(), "A-1", "Titel"); }

// VelkRun's short form on a product folder, with the form filled in completely.
class CMailForm {
public:
    explicit CMailForm(const std::string& ini = Ini()) {
        folder_.WriteIni(ini);
        if (!process_.Start(folder_.VelkRun(), Quote(folder_.VelkRun()) + " A-1 Titel", folder_.Path())) return;
        form = WaitForWindow(process_.Pid());
        if (!form) return;
        TypeTextAnswers(form, ExpectedRecord());
    }
    ~CMailForm() {
        if (process_.Running()) {
            PostMessageA(form, WM_COMMAND, IDCANCEL, 0);
            if (!process_.WaitExit()) process_.Kill();
        }
    }
    CMailForm(const CMailForm&) = delete;
    CMailForm& operator=(const CMailForm&) = delete;

    void Set(int id, const std::string& text) const {
        SendMessageA(GetDlgItem(form, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // Presses "Als E-Mail versenden" and closes the explanation box it must bring.
    SeenMessageBox PressSend(const std::string& screenshot) const {
        PostMessageA(GetDlgItem(form, IDC_REG_MAIL), BM_CLICK, 0, 0);
        return CloseMessageBox(process_.Pid(), form, screenshot);
    }
    // Waits until the form's thread is back in its dialog loop, so the press is over.
    bool Idle() const {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(form, WM_NULL, 0, 0, SMTO_NORMAL, 15000, &result) != 0;
    }
    // "Abbrechen"; true when the program then ended.
    bool Cancel() {
        PostMessageA(GetDlgItem(form, IDCANCEL), BM_CLICK, 0, 0);
        return process_.WaitExit();
    }
    bool Running() const { return process_.Running(); }
    DWORD Pid() const { return process_.Pid(); }

    HWND form = nullptr;

private:
    CProductFolder folder_;
    CProcess process_;
};

void ExpectExplained(const SeenMessageBox& seen, const std::string& recipient = kRecipient) {
    ASSERT_NE(nullptr, seen.box) << "no explanation box";
    EXPECT_EQ("#32770", seen.className);
    EXPECT_EQ("VelkRun", seen.caption);
    EXPECT_EQ(ExpectedMailInfo(recipient, "Registrierung"), seen.text);
}

bool WaitForEvent(const CMailClientRun& client, const std::string& event, size_t count = 1) {
    return WaitUntil([&] {
        size_t seen = 0;
        for (const std::string& e : client.Events()) seen += e == event;
        return seen >= count;
    });
}

// Puts `folder` in front of PATH for the programs this test starts (nothing when empty); the
// previous PATH comes back at the end.
class CEnvironmentPath {
public:
    explicit CEnvironmentPath(const std::string& folder) {
        const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
        std::vector<char> old(size + 1, '\0');
        had_ = size != 0 && GetEnvironmentVariableA("PATH", old.data(), size) < size;
        old_ = old.data();
        if (!folder.empty()) SetEnvironmentVariableA("PATH", (folder + ";" + old_).c_str());
    }
    ~CEnvironmentPath() { SetEnvironmentVariableA("PATH", had_ ? old_.c_str() : nullptr); }
    CEnvironmentPath(const CEnvironmentPath&) = delete;
    CEnvironmentPath& operator=(const CEnvironmentPath&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

// Fixture: the test client is the default mail program, and mailto: URLs land in a recorder.
class MailRoute : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mailto_.Registered());
        ASSERT_TRUE(SetClipboardText("vorher"));
    }
    CMailtoRecorder mailto_;
};

}  // namespace

TEST_F(MailRoute, FullSendHandsEverythingToTheClient) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    CMailClientRun client("return 0");
    CMailForm run;
    ASSERT_NE(nullptr, run.form);
    SaveScreenshot(run.form, "mail_form_filled");

    ExpectExplained(run.PressSend("mail_explanation"));
    ASSERT_TRUE(WaitForEvent(client, "detach"));
    ASSERT_TRUE(run.Idle());

    const std::string expectedText = BuildMailText(ExpectedRecord());
    const std::vector<ClientEntry> calls = client.Calls();
    ASSERT_EQ(1u, calls.size());
    const ClientEntry& call = calls[0];
    EXPECT_EQ(kRecipient, call.Get("recipAddress"));
    EXPECT_EQ("1", call.Get("recipClass"));
    EXPECT_EQ("Registrierung", call.Get("subject"));
    EXPECT_EQ(expectedText, call.Get("noteText"));
    EXPECT_EQ(expectedText, ClipboardText());
    EXPECT_EQ(std::to_string(reinterpret_cast<ULONG_PTR>(run.form)), call.Get("uiParam"));
    EXPECT_EQ("1", call.Get("uiParamIsOwnWindow"));
    EXPECT_EQ("11", call.Get("flags"));
    EXPECT_EQ("5", call.Get("flFlags"));
    EXPECT_FALSE(call.Get("dateReceived").empty());
    EXPECT_TRUE(mailto_.SettledUrls().empty());

    // The form stays open with its entries.
    EXPECT_TRUE(run.Running());
    EXPECT_EQ("Anna", ItemText(run.form, IDC_REG_FIRSTNAME));
}

TEST_F(MailRoute, ClientThatReturnsOrHandlesItsOwnFaultGetsNoFallback) {
    struct Case {
        const char* mode;
        const char* what;
    };
    const Case cases[] = {
        {"return 1", "the user's cancel"},
        {"return 2", "a failure"},
        {"fault-handled", "a fault the client handles itself"},
    };
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMailClientRun client(c.mode);
        CMailForm run;
        ASSERT_NE(nullptr, run.form);
        ExpectExplained(run.PressSend("mail_explanation_no_fallback"));
        ASSERT_TRUE(WaitForEvent(client, "detach"));
        ASSERT_TRUE(run.Idle());
        EXPECT_EQ(1u, client.Calls().size());
        EXPECT_TRUE(mailto_.SettledUrls().empty());
        EXPECT_EQ(BuildMailText(ExpectedRecord()), ClipboardText());
        EXPECT_TRUE(run.Running());
    }
}

TEST_F(MailRoute, ClientFindsItsDependenciesBesideItOrThroughPath) {
    // Installed mail programs load helpers from their own folder or from a folder on PATH;
    // VelkRun's own DLL search restrictions must not cost such a client the mail.
    CTempDir elsewhere;
    const std::string alone = elsewhere.File("mail_client_dep.dll");
    ASSERT_TRUE(CopyFileA(DependentClientDll().c_str(), alone.c_str(), FALSE));
    const std::string helperFolder = DependentClientDll().substr(0, DependentClientDll().rfind('\\'));
    struct Case {
        const char* what;
        std::string dllPath;
        bool helperOnPath;
    };
    const Case cases[] = {
        {"helper beside the client", DependentClientDll(), false},
        {"helper only in a folder on PATH", alone, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CEnvironmentPath path(c.helperOnPath ? helperFolder : std::string());
        CDefaultMailClient registration(c.dllPath);
        ASSERT_TRUE(registration.Registered());
        CMailClientRun client("return 0");
        CMailForm run;
        ASSERT_NE(nullptr, run.form);
        ExpectExplained(run.PressSend("mail_explanation_dependent_client"));
        ASSERT_TRUE(WaitForEvent(client, "detach"));
        ASSERT_TRUE(run.Idle());
        const std::vector<ClientEntry> calls = client.Calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ("4711", calls[0].Get("helper"));
        EXPECT_TRUE(mailto_.SettledUrls().empty());
        EXPECT_TRUE(run.Cancel());
    }
}

TEST_F(MailRoute, BrokenOrMissingClientFallsBackToTheMailtoUrl) {
    struct Case {
        const char* what;
        std::string dllPath;
        const char* mode;
    };
    const Case cases[] = {
        {"client faults", ClientDll(), "fault"},
        {"library does not load", "C:\\nirgends\\velkmapi.dll", "return 0"},
        {"library without MAPISendMail", NoEntryDll(), "return 0"},
    };
    size_t urls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDefaultMailClient registration(c.dllPath);
        ASSERT_TRUE(registration.Registered());
        CMailClientRun client(c.mode);
        CMailForm run;
        ASSERT_NE(nullptr, run.form);
        ExpectExplained(run.PressSend("mail_explanation_fallback"));
        ASSERT_TRUE(mailto_.WaitForUrls(++urls));
        EXPECT_EQ(kFallbackUrl, mailto_.Urls().back());
        EXPECT_EQ(BuildMailText(ExpectedRecord()), ClipboardText());
        // The program survives and the form still answers.
        ASSERT_TRUE(run.Idle());
        EXPECT_TRUE(run.Running());
        EXPECT_TRUE(run.Cancel());
    }
}

TEST_F(MailRoute, EmptyRecipientGivesAnEmptyAddressEverywhere) {
    CDefaultMailClient registration(NoEntryDll());
    ASSERT_TRUE(registration.Registered());
    CMailForm run(Ini(""));
    ASSERT_NE(nullptr, run.form);
    ExpectExplained(run.PressSend("mail_explanation_empty_recipient"), "");
    ASSERT_TRUE(mailto_.WaitForUrls(1));
    EXPECT_EQ(std::vector<std::string>({"mailto:?Subject=Registrierung"}), mailto_.SettledUrls());
}

TEST_F(MailRoute, ClipboardHeldOpenByAnotherProgram) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    CMailClientRun client("return 0");
    CMailForm run;
    ASSERT_NE(nullptr, run.form);
    {
        CClipboardHolder holder;
        ASSERT_TRUE(holder.Holding());
        ExpectExplained(run.PressSend("mail_explanation_clipboard_busy"));
        ASSERT_TRUE(WaitForEvent(client, "detach"));
        ASSERT_TRUE(run.Idle());
    }
    const std::vector<ClientEntry> calls = client.Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(BuildMailText(ExpectedRecord()), calls[0].Get("noteText"));
    EXPECT_EQ("vorher", ClipboardText());
    EXPECT_TRUE(mailto_.SettledUrls().empty());
}

TEST_F(MailRoute, TwoPressesAreTwoCompleteRuns) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    CMailClientRun client("return 0");
    CMailForm run;
    ASSERT_NE(nullptr, run.form);
    ExpectExplained(run.PressSend("mail_explanation_first"));
    ASSERT_TRUE(WaitForEvent(client, "detach"));
    ASSERT_TRUE(run.Idle());
    ExpectExplained(run.PressSend("mail_explanation_second"));
    ASSERT_TRUE(WaitForEvent(client, "detach", 2));
    EXPECT_EQ(std::vector<std::string>({"attach", "call", "detach", "attach", "call", "detach"}), client.Events());
    EXPECT_EQ(2u, client.Calls().size());
}

TEST_F(MailRoute, CancelEmptiesTheClipboardOnlyWhileItHoldsTheMailText) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    CMailClientRun client("return 0");
    {
        CMailForm run;
        ASSERT_NE(nullptr, run.form);
        ExpectExplained(run.PressSend("mail_explanation_cancel"));
        ASSERT_TRUE(WaitForEvent(client, "detach"));
        ASSERT_TRUE(run.Idle());
        ASSERT_EQ(BuildMailText(ExpectedRecord()), ClipboardText());
        EXPECT_TRUE(run.Cancel());
        EXPECT_EQ(0, ClipboardFormats());
    }
    {
        CMailForm run;
        ASSERT_NE(nullptr, run.form);
        ExpectExplained(run.PressSend("mail_explanation_cancel"));
        ASSERT_TRUE(WaitForEvent(client, "detach", 2));
        ASSERT_TRUE(run.Idle());
        ASSERT_TRUE(SetClipboardText("von einem anderen Programm"));
        EXPECT_TRUE(run.Cancel());
        EXPECT_EQ("von einem anderen Programm", ClipboardText());
    }
}

TEST_F(MailRoute, FailedValidationLeavesTheClipboardAlone) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    CMailClientRun client("return 0");
    CMailForm run;
    ASSERT_NE(nullptr, run.form);
    run.Set(IDC_REG_CITY, "");
    PostMessageA(GetDlgItem(run.form, IDC_REG_MAIL), BM_CLICK, 0, 0);
    HWND notice = WaitForOwnedWindow(run.Pid(), run.form);
    ASSERT_NE(nullptr, notice);
    EXPECT_EQ(kMissing, ItemText(notice, IDC_NOTICE_TEXT));
    SaveScreenshot(notice, "mail_validation_notice");
    PostMessageA(GetDlgItem(notice, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(notice); }));
    ASSERT_TRUE(run.Idle());
    EXPECT_EQ("vorher", ClipboardText());
    EXPECT_TRUE(client.Events().empty());
    EXPECT_TRUE(mailto_.SettledUrls().empty());
}

// The registration desk's end of the route: what the mail program was given is left in
// bin/desk-e2e for the native velkdesk check (scripts/test.sh runs it after these tests),
// with the answers as they were typed into the form, one "element<TAB>value" line each.
TEST_F(MailRoute, HandsTheDeskWhatTheMailProgramGot) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    CMailClientRun client("return 0");
    CMailForm run;
    ASSERT_NE(nullptr, run.form);
    ExpectExplained(run.PressSend("mail_desk_explanation"));
    ASSERT_TRUE(WaitForEvent(client, "detach"));
    const std::vector<ClientEntry> calls = client.Calls();
    ASSERT_EQ(1u, calls.size());

    const std::string dir = BinDir() + "desk-e2e\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    const RegistrationRecord typed = ExpectedRecord();
    std::string expected;
    for (const MailElement& element : kMailElements) expected += std::string(element.name) + "\t" + typed.*element.field + "\n";
    ASSERT_TRUE(WriteFileBytes(dir + "expected.txt", expected));
    ASSERT_TRUE(WriteFileBytes(dir + "noteText.txt", calls[0].Get("noteText")));
    ASSERT_TRUE(WriteFileBytes(dir + "subject.txt", calls[0].Get("subject")));
    ASSERT_TRUE(WriteFileBytes(dir + "recipient.txt", calls[0].Get("recipAddress")));
}
