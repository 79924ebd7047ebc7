// The mail route of the real VelkRun.exe with a mail client registration that is broken: a
// library path longer than the lookup reads, a "library" that is no DLL, a client that
// breaks down inside the call, and a clipboard another program holds open. The user always
// sees the explanation, the text is never lost, and the program survives and ends.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "WinTest.h"
#include "form/RegistrationRecord.h"
#include "form_support.h"
#include "mail_support.h"
#include "output/MailText.h"
#include "res/resource.h"
#include "robust_support.h"
#include "tests/support/sample_answers.h"

using namespace wt;
using namespace mailtest;
using namespace robust;
using namespace formtest;

namespace {

// The shared sample's name, firm, address and VIP answers, the only ones typed, in a form
// started with "A-1 Titel": the record the form must give.
RegistrationRecord Answers() { return ShortFormRecord(sample::SampleAnswers(), "A-1", "Titel"); }

// The short form with every required answer typed in.
class CFilledForm {
public:
    CFilledForm() : run_("EmailAddress=" + std::string(kRecipient) + "\r\n") {
        if (!run_.Start({"A-1", "Titel"})) return;
        form = run_.WaitWindow();
        if (!form) return;
        TypeTextAnswers(form, Answers());
    }
    CFilledForm(const CFilledForm&) = delete;
    CFilledForm& operator=(const CFilledForm&) = delete;

    bool MailEnabled() const { return IsWindowEnabled(GetDlgItem(form, IDC_REG_MAIL)) != FALSE; }
    bool PrintEnabled() const { return IsWindowEnabled(GetDlgItem(form, IDC_REG_PRINT)) != FALSE; }
    // Presses "Als E-Mail versenden" and closes the explanation box it must bring.
    SeenMessageBox PressSend(const std::string& screenshot) {
        PostMessageA(GetDlgItem(form, IDC_REG_MAIL), BM_CLICK, 0, 0);
        return CloseMessageBox(run_.Pid(), form, screenshot);
    }
    bool Idle() const { return run_.Idle(form); }
    bool Running() const { return run_.Running(); }
    // "Abbrechen"; true when the program then ended within `timeoutMs`.
    bool Cancel(DWORD timeoutMs = 15000) {
        PostMessageA(GetDlgItem(form, IDCANCEL), BM_CLICK, 0, 0);
        return run_.Ended(timeoutMs);
    }
    CVelkRun& Run() { return run_; }

    HWND form = nullptr;

private:
    CVelkRun run_;
};

void ExpectExplained(const SeenMessageBox& seen) {
    ASSERT_NE(nullptr, seen.box) << "no explanation box";
    EXPECT_EQ("VelkRun", seen.caption);
    EXPECT_EQ(ExpectedMailInfo(kRecipient, "Registrierung"), seen.text);
}

// The clipboard's text before the test comes back after it; the mailto: handler records.
class BadMailClient : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = ClipboardText(&hadText_);
        ASSERT_TRUE(mailto_.Registered());
        ASSERT_TRUE(SetClipboardText("vorher"));
    }
    void TearDown() override {
        if (hadText_) SetClipboardText(before_);
    }
    CMailtoRecorder mailto_;

private:
    std::string before_;
    bool hadText_ = false;
};

}  // namespace

TEST_F(BadMailClient, LibraryPathLongerThanTheLookupReadsDisablesTheMailButton) {
    // The path is read into 260 bytes, its terminating zero included.
    const auto pathOf = [](size_t length) {
        std::string path = "C:\\nirgends\\";
        path += std::string(length - path.size() - 13, 'v');
        return path + "\\velkmapi.dll";
    };
    const std::string longFolder(300, 'w');
    SetEnvironmentVariableA("VELKLONG", longFolder.c_str());
    struct Case {
        const char* name;
        std::string path;
        DWORD type;
        bool enabled;
    };
    const Case cases[] = {
        {"259 characters: fits with its zero", pathOf(259), REG_SZ, true},
        {"260 characters: one byte too long", pathOf(260), REG_SZ, false},
        {"5000 characters", pathOf(5000), REG_SZ, false},
        // Expanded it would not fit: the text stays as it is, and the library cannot load.
        {"short reference expanding beyond 260", "%VELKLONG%\\velkmapi.dll", REG_EXPAND_SZ, true},
    };
    size_t urls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDefaultMailClient registration(c.path, c.type);
        ASSERT_TRUE(registration.Registered());
        CFilledForm run;
        ASSERT_NE(nullptr, run.form);
        EXPECT_EQ(c.enabled, run.MailEnabled());
        EXPECT_TRUE(run.PrintEnabled());
        if (c.enabled) {
            ExpectExplained(run.PressSend("badinput_mail_long_path"));
            ASSERT_TRUE(mailto_.WaitForUrls(++urls));
            EXPECT_EQ(kFallbackUrl, mailto_.Urls().back());
            EXPECT_EQ(BuildMailText(Answers()), ClipboardText());
            EXPECT_TRUE(run.Idle());
        } else {
            SaveScreenshot(run.form, "badinput_mail_disabled");
        }
        EXPECT_TRUE(run.Cancel());
    }
    SetEnvironmentVariableA("VELKLONG", nullptr);
}

TEST_F(BadMailClient, LibraryThatIsNoDllOrBreaksDownFallsBackToMailto) {
    CTempDir dir;
    const std::string notDll = dir.File("x.dll");
    ASSERT_TRUE(WriteFileBytes(notDll, "Dies ist keine Programmbibliothek.\r\n"));
    const std::string empty = dir.File("leer.dll");
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    const std::string truncated = dir.File("halb.dll");
    ASSERT_TRUE(WriteFileBytes(truncated, ReadFileBytes(ClientDll()).substr(0, 1024)));
    struct Case {
        const char* name;
        std::string path;
        const char* mode;
        std::vector<std::string> events;  // what the test client logged
    };
    const Case cases[] = {
        {"a text file named x.dll", notDll, "return 0", {}},
        {"an empty file", empty, "return 0", {}},
        {"the first KB of a real library", truncated, "return 0", {}},
        // A program file loads as a library but has no MAPISendMail.
        {"a program instead of a library", BinDir() + "product_standin.exe", "return 0", {}},
        // A plain fault in the client is one of the mail tests' own cases.
        {"client raises an exception nobody handles", ClientDll(), "raise", {"attach", "call", "detach"}},
        {"client faults under a frame of its own", ClientDll(), "fault-own-frame",
         {"attach", "call", "unwound", "detach"}},
    };
    size_t urls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDefaultMailClient registration(c.path);
        ASSERT_TRUE(registration.Registered());
        CMailClientRun client(c.mode);
        CFilledForm run;
        ASSERT_NE(nullptr, run.form);
        ASSERT_TRUE(run.MailEnabled());
        ExpectExplained(run.PressSend("badinput_mail_fallback"));
        ASSERT_TRUE(mailto_.WaitForUrls(++urls));
        EXPECT_EQ(kFallbackUrl, mailto_.Urls().back());
        EXPECT_EQ(BuildMailText(Answers()), ClipboardText());
        EXPECT_EQ(c.events, client.Events());
        // The program survives, still answers, and ends when the form is left.
        ASSERT_TRUE(run.Idle());
        EXPECT_TRUE(run.Running());
        EXPECT_TRUE(run.Cancel());
    }
    EXPECT_EQ(urls, mailto_.SettledUrls().size());
}

TEST_F(BadMailClient, ClipboardHeldByAnotherProgramLosesNothingAndHangsNothing) {
    CDefaultMailClient registration(ClientDll());
    ASSERT_TRUE(registration.Registered());
    const std::string mailText = BuildMailText(Answers());
    for (bool heldDuringSend : {true, false}) {
        SCOPED_TRACE(heldDuringSend ? "held while sending and leaving" : "held while leaving");
        ASSERT_TRUE(SetClipboardText("vorher"));
        CMailClientRun client("return 0");
        CFilledForm run;
        ASSERT_NE(nullptr, run.form);
        std::unique_ptr<CClipboardHolder> holder;
        if (heldDuringSend) holder = std::make_unique<CClipboardHolder>();
        ExpectExplained(run.PressSend("badinput_mail_clipboard_held"));
        ASSERT_TRUE(WaitUntil([&] { return client.Events().size() == 3; }));
        ASSERT_TRUE(run.Idle());
        // The mail program gets the whole text either way.
        const std::vector<ClientEntry> calls = client.Calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(mailText, calls[0].Get("noteText"));
        if (!holder) holder = std::make_unique<CClipboardHolder>();
        ASSERT_TRUE(holder->Holding());
        // Leaving the form cannot empty a clipboard it cannot open, and must not wait for it.
        EXPECT_TRUE(run.Cancel(5000));
        holder.reset();
        EXPECT_EQ(heldDuringSend ? "vorher" : mailText, ClipboardText());
    }
    EXPECT_TRUE(mailto_.SettledUrls().empty());
}
