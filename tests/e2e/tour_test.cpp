// A typical registration from start to end, as a user goes through it: the reminder over its
// picture, "Registrieren offline", a complaint, the filled form, the mail hand-off with its
// explanation, the printed sheet, leaving the form, and "Programm starten". The screenshots it
// takes (tour_*) are the ones the demo and the README show. What reached the desk's side, the
// mail as the customer's mail program sends it and the printed sheet, is left in bin/tour-desk
// for the demo to import.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "WinTest.h"
#include "mail_support.h"
#include "print_support.h"
#include "res/resource.h"

using namespace wt;

namespace {

void Set(HWND dialog, int id, const std::string& text) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// The folder the demo imports from: the mail and the printed sheet of this run.
std::string DeskDrop() { return BinDir() + "tour-desk\\"; }

// The message a plain mail program makes of what Simple MAPI gave it: the text as it came, in
// the Windows code page, sent 8bit with CR LF line ends.
std::string MailAsSent(const std::string& from, const std::string& to, const std::string& subject,
                       const std::string& text) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME now;
    GetSystemTime(&now);
    char date[64];
    std::snprintf(date, sizeof date, "%s, %d %s %04d %02d:%02d:%02d +0000", kDays[now.wDayOfWeek], now.wDay,
                  kMonths[now.wMonth - 1], now.wYear, now.wHour, now.wMinute, now.wSecond);
    std::string body;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) body += '\r';
        body += text[i];
    }
    if (body.size() < 2 || body.compare(body.size() - 2, 2, "\r\n") != 0) body += "\r\n";
    return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\nDate: " + date +
           "\r\nMessage-ID: <tour-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) +
           "@example.de>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=windows-1252\r\n"
           "Content-Transfer-Encoding: 8bit\r\n\r\n" + body;
}

}  // namespace

TEST(Tour, TypicalRegistration) {
    CProductFolder folder;
    const std::string ini = ReadFileBytes(VELK_DEMO_INI);
    ASSERT_FALSE(ini.empty()) << VELK_DEMO_INI;
    folder.WriteIni(ini);
    CRegTestKey key;
    mailtest::CMailClientRun client("return 0");
    mailtest::CDefaultMailClient registered(mailtest::ClientDll());
    ASSERT_TRUE(registered.Registered());
    // Sample data as a real customer would type it. The PDF printer is shared with other test
    // runs, so this run's page is found by its telephone number, which no other run prints.
    const std::string phoneDigits =
        std::to_string(3000000 + (GetCurrentProcessId() * 1000 + GetTickCount() % 1000) % 7000000);
    const std::string phone = "0221 " + phoneDigits;

    CProcess process;
    const std::string args = Quote(key.Path()) + " NichtErinnern " + Quote("https://www.velk-media.de/registrierung") +
                             " VM-2027-ATL " + Quote("VELK Media Atlas 2027") + " " + Quote(folder.Product()) + " /start";
    ASSERT_TRUE(process.Start(folder.VelkRun(), Quote(folder.VelkRun()) + " " + args, folder.Path()));
    HWND runner = WaitForWindow(process.Pid());
    ASSERT_NE(nullptr, runner);
    SaveScreenshot(runner, "tour_1_runner");

    Click(runner, IDC_RUN_OFFLINE);
    HWND form = WaitForOwnedWindow(process.Pid(), runner);
    ASSERT_NE(nullptr, form);
    EXPECT_FALSE(IsWindowEnabled(runner));
    EXPECT_EQ("VM-2027-ATL", ItemText(form, IDC_REG_ARTICLE));
    SaveScreenshot(form, "tour_2_form");

    // Sent too early: the notice names no field, the form keeps what it has.
    Click(form, IDC_REG_MAIL);
    HWND notice = WaitForOwnedWindow(process.Pid(), form);
    ASSERT_NE(nullptr, notice);
    EXPECT_EQ(ItemText(notice, IDC_NOTICE_TEXT).rfind("Bitte f\xFCllen Sie alle Felder aus", 0), 0u);
    SaveScreenshot(notice, "tour_3_notice");
    PostMessageA(notice, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(notice); }));

    Set(form, IDC_REG_FIRSTNAME, "Erika");
    Set(form, IDC_REG_LASTNAME, "Mustermann");
    Set(form, IDC_REG_STREET, "Lindenallee 7");
    Set(form, IDC_REG_ZIP, "50667");
    Set(form, IDC_REG_CITY, "K\xF6ln");
    Set(form, IDC_REG_PHONE, phone);
    Set(form, IDC_REG_USERNAME, "erika.mustermann@example.de");
    Set(form, IDC_REG_PASSWORD1, "Sommer2027");
    Set(form, IDC_REG_PASSWORD2, "Sommer2027");
    const struct {
        int id;
        int item;
    } choices[] = {{IDC_REG_WHERE, 2 /* Fachhandel */},  {IDC_REG_HOWKNOWN, 3 /* Artikel in Zeitschrift */},
                   {IDC_REG_AGE, 3 /* 30-40 Jahre */},   {IDC_REG_OCCUPATION, 2 /* Angestellter */},
                   {IDC_REG_SKILL, 2 /* regular user */}};
    for (const auto& c : choices) SendMessageA(GetDlgItem(form, c.id), CB_SETCURSEL, c.item, 0);
    SaveScreenshot(form, "tour_4_form_filled");

    Click(form, IDC_REG_MAIL);
    const mailtest::SeenMessageBox info = mailtest::CloseMessageBox(process.Pid(), form, "tour_5_mail_info");
    ASSERT_NE(nullptr, info.box);
    EXPECT_NE(std::string::npos, info.text.find("Empf\xE4nger: registrierung@velk-media.de"));
    ASSERT_TRUE(WaitUntil([&] { return client.Calls().size() == 1; }));
    const std::string mailText = client.Calls()[0].Get("noteText");
    EXPECT_NE(std::string::npos, mailText.find("<nachname>Mustermann</nachname>"));
    EXPECT_NE(std::string::npos, mailText.find("<tel>" + phone + "</tel>"));
    CreateDirectoryA(DeskDrop().c_str(), nullptr);
    EXPECT_TRUE(WriteFileBytes(DeskDrop() + "registration.eml",
                               MailAsSent("Erika Mustermann <erika.mustermann@example.de>",
                                          client.Calls()[0].Get("recipAddress"), client.Calls()[0].Get("subject"),
                                          mailText)));

    const std::set<std::string> before = pt::PdfFiles();
    Click(form, IDC_REG_PRINT);
    HWND printDialog = WaitForOwnedWindow(process.Pid(), form);
    ASSERT_NE(nullptr, printDialog);
    SaveScreenshot(printDialog, "tour_6_print_dialog");
    PostMessageA(GetDlgItem(printDialog, IDOK), BM_CLICK, 0, 0);
    pt::PrintedPdf pdf;
    ASSERT_TRUE(pt::WaitForPdf(before, phoneDigits, pdf));
    EXPECT_EQ(1, pdf.pages);
    EXPECT_NE(std::string::npos, pdf.text.find("Produktregistrierung"));
    EXPECT_TRUE(CopyFileA(pdf.path.c_str(), (DeskDrop() + "sheet.pdf").c_str(), FALSE));
    pt::KeepAsPngAndRemove(pdf, "tour_7_printed_page");

    // Leaving the form empties the clipboard it filled; the runner is usable again.
    PostMessageA(form, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(form) && IsWindowEnabled(runner); }));
    EXPECT_EQ(0, mailtest::ClipboardFormats());

    Click(runner, IDC_RUN_PROGRAM);
    EXPECT_TRUE(process.WaitExit());
    EXPECT_TRUE(WaitUntil([&] { return folder.ProductLog().find("/start") != std::string::npos; }));
}
