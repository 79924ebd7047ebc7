// The mail route called directly under Wine: the clipboard copy, the explanation box, the
// hand-off to a test mail client that answers or breaks down in every way, the mailto:
// fallback, and the clean-up of the clipboard on cancel.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "WinTest.h"
#include "framework/App.h"
#include "mail_support.h"
#include "output/MailDispatch.h"
#include "output/MailText.h"
#include "runner/Settings.h"
#include "tests/support/sample_answers.h"

using namespace wt;
using namespace mailtest;

namespace {

// The shared sample with a purchase answer of two lines: the line break must reach the mail
// program and the clipboard as it is.
RegistrationRecord SampleRecord() {
    RegistrationRecord record = sample::SampleAnswers();
    record.pgekauf = "Zeile 1\r\nZeile 2";
    return record;
}

std::string LocalDate(std::time_t when) { return FormatReceivedDate(*std::localtime(&when)); }

class MailDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mailto_.Registered());
        owner_ = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, owner_);
        runnerSettings.recipientAddress = kRecipient;
        runnerSettings.mailSubject = "Registrierung";
    }
    void TearDown() override {
        DestroyWindow(owner_);
        runnerSettings = RunnerSettings();
    }

    // Runs the route while another thread reads and closes the explanation box.
    SeenMessageBox Send(const std::string& dllPath, const std::string& screenshot,
                        const RegistrationRecord& record = SampleRecord()) {
        SeenMessageBox seen;
        std::thread watcher([&] { seen = CloseMessageBox(GetCurrentProcessId(), owner_, screenshot); });
        SendRegistrationMail(owner_, record, dllPath);
        watcher.join();
        EXPECT_EQ(nullptr, mapiLibrary);
        EXPECT_EQ(nullptr, mapiSendMail);
        return seen;
    }

    void ExpectExplained(const SeenMessageBox& seen, const std::string& recipient = kRecipient) {
        ASSERT_NE(nullptr, seen.box) << "no explanation box";
        EXPECT_EQ("win_mail_dispatch_test", seen.caption);
        EXPECT_EQ(ExpectedMailInfo(recipient, "Registrierung"), seen.text);
    }

    fw::CApp app_;
    CMailtoRecorder mailto_;
    HWND owner_ = nullptr;
};

TEST_F(MailDispatch, ClientThatReturnsGetsTheMessageAndNoFallbackFollows) {
    struct Case {
        const char* mode;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"return 0", {"attach", "call", "detach"}},
        {"return 1", {"attach", "call", "detach"}},  // the user's cancel
        {"return 2", {"attach", "call", "detach"}},  // a failure
        {"return 26", {"attach", "call", "detach"}},
        {"fault-handled", {"attach", "call", "handled", "resumed", "detach"}},
    };
    const std::string mailText = BuildMailText(SampleRecord());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        CMailClientRun client(c.mode);
        SetClipboardText("vorher");
        const std::time_t before = std::time(nullptr);
        ExpectExplained(Send(ClientDll(), "mail_dispatch_explanation"));
        const std::time_t after = std::time(nullptr);

        EXPECT_EQ(c.events, client.Events());
        const std::vector<ClientEntry> calls = client.Calls();
        ASSERT_EQ(1u, calls.size());
        const ClientEntry& call = calls[0];
        EXPECT_EQ("0", call.Get("session"));
        EXPECT_EQ(std::to_string(reinterpret_cast<ULONG_PTR>(owner_)), call.Get("uiParam"));
        EXPECT_EQ("1", call.Get("uiParamIsOwnWindow"));
        EXPECT_EQ("11", call.Get("flags"));
        EXPECT_EQ("0", call.Get("reserved"));
        EXPECT_EQ("0", call.Get("ulReserved"));
        EXPECT_EQ("Registrierung", call.Get("subject"));
        EXPECT_EQ(mailText, call.Get("noteText"));
        EXPECT_FALSE(call.Has("messageType"));
        EXPECT_FALSE(call.Has("conversationID"));
        const std::string date = call.Get("dateReceived");
        EXPECT_TRUE(date == LocalDate(before) || date == LocalDate(after)) << date;
        EXPECT_EQ("5", call.Get("flFlags"));
        EXPECT_EQ("0", call.Get("originatorGiven"));
        EXPECT_EQ("1", call.Get("recipCount"));
        EXPECT_EQ("0", call.Get("recipReserved"));
        EXPECT_EQ("1", call.Get("recipClass"));
        EXPECT_FALSE(call.Has("recipName"));
        EXPECT_EQ(kRecipient, call.Get("recipAddress"));
        EXPECT_EQ("0", call.Get("recipEIDSize"));
        EXPECT_EQ("0", call.Get("recipEntryIDGiven"));
        EXPECT_EQ("0", call.Get("fileCount"));
        EXPECT_EQ("0", call.Get("filesGiven"));

        EXPECT_EQ(mailText, ClipboardText());
        EXPECT_TRUE(mailto_.SettledUrls().empty());
    }
}

TEST_F(MailDispatch, MissingOrBrokenLibraryLeadsToTheMailtoUrl) {
    struct Case {
        const char* what;
        std::string dllPath;
        const char* mode;
        std::vector<std::string> events;
    };
    CTempDir empty;
    const Case cases[] = {
        {"no library registered", "", "return 0", {}},
        {"library missing", empty.File("missing.dll"), "return 0", {}},
        {"folder instead of library", empty.Path(), "return 0", {}},
        {"no MAPISendMail", NoEntryDll(), "return 0", {}},
        {"fault", ClientDll(), "fault", {"attach", "call", "detach"}},
        {"software exception", ClientDll(), "raise", {"attach", "call", "detach"}},
        {"fault under the library's own frame", ClientDll(), "fault-own-frame", {"attach", "call", "unwound", "detach"}},
    };
    const std::string mailText = BuildMailText(SampleRecord());
    size_t urls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMailClientRun client(c.mode);
        ExpectExplained(Send(c.dllPath, "mail_dispatch_fallback"));
        EXPECT_EQ(c.events, client.Events());
        ASSERT_TRUE(mailto_.WaitForUrls(++urls));
        const std::vector<std::string> seen = mailto_.SettledUrls();
        ASSERT_EQ(urls, seen.size());
        EXPECT_EQ(kFallbackUrl, seen.back());
        EXPECT_EQ(mailText, ClipboardText());
        // The library is gone again.
        if (!c.dllPath.empty()) {
            EXPECT_EQ(nullptr, GetModuleHandleA(c.dllPath.c_str()));
        }
    }
}

TEST_F(MailDispatch, RecipientOfAnyLengthIsUsedWhole) {
    struct Case {
        const char* what;
        std::string recipient;
        bool fallback;
    };
    // Wine's shell overruns a stack buffer of its own on mailto: URLs of a few thousand
    // characters and takes the process down, so the longest recipient goes only to the client.
    const Case cases[] = {
        {"empty", "", true},
        {"beyond 256 bytes, with format characters", "%s%n%d-" + std::string(300, 'x') + "@velk.example", true},
        {"thousands of bytes", std::string(5000, 'y') + "@velk.example", false},
    };
    size_t urls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        runnerSettings.recipientAddress = c.recipient;
        if (c.fallback) {
            ExpectExplained(Send(NoEntryDll(), "mail_dispatch_recipient"), c.recipient);
            ASSERT_TRUE(mailto_.WaitForUrls(++urls));
            EXPECT_EQ("mailto:" + c.recipient + "?Subject=Registrierung", mailto_.SettledUrls().back());
        }
        CMailClientRun client("return 0");
        ExpectExplained(Send(ClientDll(), "mail_dispatch_recipient"), c.recipient);
        const std::vector<ClientEntry> calls = client.Calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(c.recipient, calls[0].Get("recipAddress"));
    }
}

TEST_F(MailDispatch, CancelRemovesOnlyTheTextThisProgramPutThere) {
    CMailClientRun client("return 0");
    const std::string mailText = BuildMailText(SampleRecord());

    Send(ClientDll(), "mail_dispatch_cancel");
    ASSERT_EQ(mailText, ClipboardText());
    ClearRegistrationClipboard();
    EXPECT_EQ(0, ClipboardFormats());

    Send(ClientDll(), "mail_dispatch_cancel");
    ASSERT_TRUE(SetClipboardText("von einem anderen Programm"));
    ClearRegistrationClipboard();
    EXPECT_EQ("von einem anderen Programm", ClipboardText());

    // The same text again, put there by someone else, is someone else's.
    Send(ClientDll(), "mail_dispatch_cancel");
    ASSERT_TRUE(SetClipboardText(mailText));
    ClearRegistrationClipboard();
    EXPECT_EQ(mailText, ClipboardText());

    // A clipboard that could not be written keeps the earlier send's text: still ours.
    Send(ClientDll(), "mail_dispatch_cancel");
    {
        CClipboardHolder holder;
        ASSERT_TRUE(holder.Holding());
        Send(ClientDll(), "mail_dispatch_cancel");
    }
    ClearRegistrationClipboard();
    EXPECT_EQ(0, ClipboardFormats());
}

}  // namespace
