// The registration form of the real VelkRun.exe: how it opens, the complaints of its two
// output buttons in the notice box, and the mail button and Enter key with and without a
// default mail client.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "WinTest.h"
#include "form_support.h"
#include "mail_support.h"
#include "res/resource.h"

using namespace wt;
using namespace formtest;

namespace {

const char kMissing[] = "Bitte f\xFCllen Sie alle Felder aus, die mit '*' gekennzeichnet sind.";
const char kMismatch[] = "Passwort und Wiederholung stimmen nicht \xFC" "berein.";
const std::string kIni = std::string("MessageTitel=Hinweis zur Registrierung\r\nMessageButOk=Verstanden\r\n") +
                         "Message1=" + kMissing + "\r\nMessage2=" + kMismatch + "\r\n";

void FillComplete(const CFormRun& run) {
    run.Set(IDC_REG_FIRSTNAME, "Anna");
    run.Set(IDC_REG_LASTNAME, "M\xFCller");
    run.Set(IDC_REG_STREET, "Hauptstra\xDF" "e 1");
    run.Set(IDC_REG_ZIP, "20457");
    run.Set(IDC_REG_CITY, "Hamburg");
    run.SetChecked(IDC_REG_VIPWANTED, true);
    run.Set(IDC_REG_USERNAME, "anna@example.org");
    run.Set(IDC_REG_PASSWORD1, "Geheim");
    run.Set(IDC_REG_PASSWORD2, "Geheim");
}

struct Notice {
    std::string title, button, text;
};

Notice Read(HWND notice) { return {WindowText(notice), ItemText(notice, IDOK), ItemText(notice, IDC_NOTICE_TEXT)}; }

// Presses the notice's button and waits until it is gone.
bool Dismiss(HWND notice) {
    PostMessageA(GetDlgItem(notice, IDOK), BM_CLICK, 0, 0);
    return WaitUntil([&] { return !IsWindow(notice); });
}

}  // namespace

TEST(RegistrationForm, OpensPrefilledWithDefaults) {
    mailtest::CDefaultMailClient client("C:\\Mail\\velkmapi.dll");
    ASSERT_TRUE(client.Registered());
    CFormRun run(kIni);
    ASSERT_NE(nullptr, run.form);
    SaveScreenshot(run.form, "form_initial");

    EXPECT_EQ("VELK Media - Registrierung", WindowText(run.form));
    EXPECT_EQ("A-1234", run.Text(IDC_REG_ARTICLE));
    EXPECT_EQ("Der gro\xDF" "e Atlas", run.Text(IDC_REG_TITLE));
    // The labels without template captions get their texts from the string table.
    EXPECT_EQ(0u, run.Text(IDC_REG_LBL_SENDTO)
                      .find("Bitte versenden Sie Ihr Antwortschreiben direkt per E-Mail oder per Brief an die Adresse: "));
    EXPECT_EQ(0u, run.Text(IDC_REG_LBL_VIPQUESTION).find("Als registrierter Anwender profitieren Sie"));
    EXPECT_EQ(0u, run.Text(IDC_REG_LBL_VIPINFO).find("W\xE4hlen Sie ein Passwort f\xFCr den Zugang"));
    EXPECT_EQ("Stra\xDF" "e *", run.Text(IDC_REG_LBL_STREET));

    EXPECT_EQ(5, run.Selection(IDC_REG_COUNTRY));
    EXPECT_EQ("Deutschland", run.Text(IDC_REG_COUNTRY));
    for (int id : {IDC_REG_WHERE, IDC_REG_HOWKNOWN, IDC_REG_HOWOFTEN, IDC_REG_AGE, IDC_REG_OCCUPATION, IDC_REG_CHILDREN,
                   IDC_REG_PCTYPE, IDC_REG_OS, IDC_REG_SKILL})
        EXPECT_EQ(0, run.Selection(id)) << id;
    EXPECT_TRUE(run.Checked(IDC_REG_VIPWANTED));
    EXPECT_FALSE(run.Checked(IDC_REG_VIPCUSTOMER));
    for (int id : {IDC_REG_USERNAME, IDC_REG_PASSWORD1, IDC_REG_PASSWORD2, IDC_REG_MAIL, IDC_REG_PRINT})
        EXPECT_TRUE(run.Enabled(id)) << id;

    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(run.form, nullptr), &info));
    EXPECT_EQ(GetDlgItem(run.form, IDC_REG_FIRSTNAME), info.hwndFocus);
}

TEST(RegistrationForm, ComplaintsNameNoFieldAndKeepTheEntries) {
    struct Case {
        const char* name;
        int button;
        bool vipWanted;
        std::string username, password2, firstName, street;
        const char* notice;
    };
    const Case cases[] = {
        // The VIP section is checked before the address.
        {"user name and first name empty", IDC_REG_MAIL, true, "", "Geheim", "", "Weg 1", kMissing},
        {"passwords differ in case, first name empty", IDC_REG_PRINT, true, "anna", "geheim", "", "Weg 1", kMismatch},
        {"passwords differ, address complete", IDC_REG_MAIL, true, "anna", "Geheim2", "Anna", "Weg 1", kMismatch},
        {"VIP section fine, street empty", IDC_REG_PRINT, true, "anna", "Geheim", "Anna", "", kMissing},
        {"VIP not wanted, first name empty", IDC_REG_MAIL, false, "", "", "", "Weg 1", kMissing},
    };
    mailtest::CDefaultMailClient client("C:\\Mail\\velkmapi.dll");
    ASSERT_TRUE(client.Registered());
    CFormRun run(kIni);
    ASSERT_NE(nullptr, run.form);
    int shot = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillComplete(run);
        run.SetChecked(IDC_REG_VIPWANTED, c.vipWanted);
        if (c.vipWanted) {
            run.Set(IDC_REG_USERNAME, c.username);
            run.Set(IDC_REG_PASSWORD2, c.password2);
        }
        run.Set(IDC_REG_FIRSTNAME, c.firstName);
        run.Set(IDC_REG_STREET, c.street);

        HWND notice = run.PressForNotice(c.button);
        ASSERT_NE(nullptr, notice);
        const Notice shown = Read(notice);
        EXPECT_EQ("Hinweis zur Registrierung", shown.title);
        EXPECT_EQ("Verstanden", shown.button);
        EXPECT_EQ(c.notice, shown.text);
        SaveScreenshot(notice, "form_notice_" + std::to_string(++shot));
        ASSERT_TRUE(Dismiss(notice));

        // The form stays open with everything the user typed.
        EXPECT_TRUE(run.Process().Running());
        EXPECT_EQ(c.firstName, run.Text(IDC_REG_FIRSTNAME));
        EXPECT_EQ(c.street, run.Text(IDC_REG_STREET));
        EXPECT_EQ("Hamburg", run.Text(IDC_REG_CITY));
        EXPECT_EQ(c.vipWanted, run.Checked(IDC_REG_VIPWANTED));
    }
}

TEST(RegistrationForm, MissingProductRefusesEveryOutput) {
    mailtest::CDefaultMailClient client("C:\\Mail\\velkmapi.dll");
    ASSERT_TRUE(client.Registered());
    CFormRun run(kIni, "\"\" \"\"");
    ASSERT_NE(nullptr, run.form);
    FillComplete(run);
    for (int button : {IDC_REG_PRINT, IDC_REG_MAIL}) {
        SCOPED_TRACE(button);
        HWND notice = run.PressForNotice(button);
        ASSERT_NE(nullptr, notice);
        EXPECT_EQ(kMissing, Read(notice).text);
        ASSERT_TRUE(Dismiss(notice));
    }
}

TEST(RegistrationForm, NoticeWithoutSettingsTextsStaysEmpty) {
    CFormRun run("TitelText=Nur ein Titel\r\n");
    ASSERT_NE(nullptr, run.form);
    HWND notice = run.PressForNotice(IDC_REG_PRINT);
    ASSERT_NE(nullptr, notice);
    SaveScreenshot(notice, "form_notice_empty");
    const Notice shown = Read(notice);
    EXPECT_EQ("", shown.title);
    EXPECT_EQ("", shown.button);
    EXPECT_EQ("", shown.text);
    EXPECT_TRUE(Dismiss(notice));
}

TEST(RegistrationForm, MailButtonAndEnterFollowTheDefaultMailClient) {
    const struct {
        const char* name;
        std::string dllPath;
        bool enabled;
    } cases[] = {
        {"client registered", "C:\\Mail\\velkmapi.dll", true},
        {"client without library path", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mailtest::CDefaultMailClient client(c.dllPath);
        ASSERT_TRUE(client.Registered());
        CFormRun run(kIni);
        ASSERT_NE(nullptr, run.form);
        EXPECT_EQ(c.enabled, run.Enabled(IDC_REG_MAIL));
        EXPECT_TRUE(run.Enabled(IDC_REG_PRINT));

        // Enter in an edit presses the default button, the mail button; the empty form
        // then draws a complaint. A disabled mail button sends nothing, and the form stays.
        run.PostKey(IDC_REG_FIRSTNAME, VK_RETURN);
        if (c.enabled) {
            HWND notice = WaitForOwnedWindow(run.Process().Pid(), run.form);
            ASSERT_NE(nullptr, notice);
            EXPECT_EQ(kMissing, Read(notice).text);
            ASSERT_TRUE(Dismiss(notice));
        } else {
            // Nor does a bare IDOK close the form: it has no OK button.
            PostMessageA(run.form, WM_COMMAND, IDOK, 0);
            ASSERT_TRUE(run.Settle());
            EXPECT_TRUE(run.OtherThreadWindows().empty());
            EXPECT_TRUE(IsWindow(run.form));
            EXPECT_TRUE(run.Process().Running());
        }

        // Escape leaves the form and ends the program.
        run.PostKey(IDC_REG_FIRSTNAME, VK_ESCAPE);
        EXPECT_TRUE(run.Process().WaitExit());
    }
}

// What the form shows, left in bin/desk-e2e as form.txt: desk_e2e_test (run by scripts/test.sh
// after these tests) holds the online form, given the same article number and title, against
// it. The title has what a URL and a web page must escape.
TEST(RegistrationForm, LeavesWhatItShowsForTheOnlineFormToMatch) {
    CFormRun run(kIni, "\"VM-4711\" \"Der gro\xDF" "e Atlas & Co. <2027>\"");
    ASSERT_NE(nullptr, run.form);
    const std::string shown = DescribeForm(run.form);

    // The reading itself: Unicode texts, read-only flags, a list's items and selection, the
    // labels of a check box and of the date picker.
    const auto line = [](int id, const std::string& rest) { return "\t" + std::to_string(id) + "\t" + rest + "\n"; };
    SYSTEMTIME today;
    GetLocalTime(&today);
    char iso[16];
    wsprintfA(iso, "%04u-%02u-%02u", today.wYear, today.wMonth, today.wDay);
    EXPECT_NE(std::string::npos, shown.find("\nedit" + line(IDC_REG_TITLE, "Titel *\tDer gro\xC3\x9F" "e Atlas & Co. <2027>\treadonly")))
        << shown;
    EXPECT_NE(std::string::npos, shown.find("\nedit" + line(IDC_REG_ARTICLE, "Artikelnummer *\tVM-4711\treadonly")));
    EXPECT_NE(std::string::npos, shown.find("\nedit" + line(IDC_REG_PASSWORD2, "Passwort (Wiederholung): *\t\tpassword")));
    EXPECT_NE(std::string::npos, shown.find("\nlist" + line(IDC_REG_HOWOFTEN, "Wie oft kaufen Sie Software?\t0") +
                                            "item\tBitte w\xC3\xA4hlen\nitem\t1-2 x / Jahr\nitem\t3-6 x / Jahr\n"
                                            "item\tmehr als 6x / Jahr\n"));
    EXPECT_NE(std::string::npos, shown.find("\ndate" + line(IDC_REG_DATE, std::string("Wann haben Sie das Produkt gekauft?\t") + iso)));
    EXPECT_NE(std::string::npos, shown.find("\ncheck" + line(IDC_REG_VIPCUSTOMER, "Sind Sie bereits VIP-Kunde?\tja\t0")));
    EXPECT_EQ(std::string::npos, shown.find("\nother\t"));

    const std::string dir = BinDir() + "desk-e2e\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(dir + "form.txt", shown));
}
