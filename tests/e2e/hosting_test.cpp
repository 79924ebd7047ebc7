// VelkRun as a host of other people's code: Windows' own DLLs come from the system folder
// whatever lies in the product folder or the current directory, and the program ends cleanly
// once the Print dialog, the spooler or a mail program's library have run inside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinTest.h"
#include "mail_support.h"
#include "print_support.h"
#include "res/resource.h"

using namespace wt;

namespace {

// The DLLs VelkRun binds at run time. Planted copies are the test mail client under these
// names: a load of one shows in the client's log with the file it came from.
const char* const kLateBoundDlls[] = {"comctl32.dll", "comdlg32.dll", "winspool.drv"};

bool Plant(const CTempDir& folder) {
    for (const char* name : kLateBoundDlls)
        if (!CopyFileA(mailtest::ClientDll().c_str(), folder.File(name).c_str(), FALSE)) return false;
    return true;
}

void Set(HWND dialog, int id, const std::string& text) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void FillCompletely(HWND form, const std::string& lastName) {
    Set(form, IDC_REG_FIRSTNAME, "Anna");
    Set(form, IDC_REG_LASTNAME, lastName);
    Set(form, IDC_REG_STREET, "Hauptstra\xDF" "e 1");
    Set(form, IDC_REG_ZIP, "20457");
    Set(form, IDC_REG_CITY, "Hamburg");
    Set(form, IDC_REG_USERNAME, "anna@example.org");
    Set(form, IDC_REG_PASSWORD1, "Klartext7");
    Set(form, IDC_REG_PASSWORD2, "Klartext7");
}

enum class Route { Print, Mail };

}  // namespace

TEST(Hosting, AfterPrintingOrMailingNoPlantedDllIsLoadedAndTheProgramEndsWithStatusZero) {
    for (Route route : {Route::Print, Route::Mail}) {
        SCOPED_TRACE(route == Route::Print ? "print" : "mail");
        CProductFolder folder;
        folder.WriteIni("Message1=Fehlt\r\nMessage2=Anders\r\n");
        CTempDir currentDirectory;
        ASSERT_TRUE(Plant(folder));
        ASSERT_TRUE(Plant(currentDirectory));
        mailtest::CMailClientRun client("return 0");
        mailtest::CDefaultMailClient registration(mailtest::ClientDll());
        ASSERT_TRUE(registration.Registered());
        mailtest::CMailtoRecorder mailto;
        ASSERT_TRUE(mailto.Registered());

        CProcess process;
        ASSERT_TRUE(process.Start(folder.VelkRun(), Quote(folder.VelkRun()) + " A-1 Titel", currentDirectory.Path()));
        HWND form = WaitForWindow(process.Pid());
        ASSERT_NE(nullptr, form);
        const std::string lastName = pt::UniqueMarker("Gast");
        FillCompletely(form, lastName);

        if (route == Route::Print) {
            const std::set<std::string> before = pt::PdfFiles();
            PostMessageA(GetDlgItem(form, IDC_REG_PRINT), BM_CLICK, 0, 0);
            HWND dialog = WaitForOwnedWindow(process.Pid(), form);
            ASSERT_NE(nullptr, dialog);
            PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
            pt::PrintedPdf pdf;
            ASSERT_TRUE(pt::WaitForPdf(before, lastName, pdf));
            DeleteFileA(pdf.path.c_str());
        } else {
            PostMessageA(GetDlgItem(form, IDC_REG_MAIL), BM_CLICK, 0, 0);
            ASSERT_NE(nullptr, mailtest::CloseMessageBox(process.Pid(), form, "hosting_mail_explanation").box);
            ASSERT_TRUE(WaitUntil([&] { return client.Calls().size() == 1; }));
            EXPECT_TRUE(mailto.SettledUrls().empty());
        }
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(form) != FALSE; }));
        PostMessageA(form, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(process.WaitExit());
        EXPECT_EQ(0u, process.ExitCode());

        // Only the registered mail client itself may have been loaded.
        for (const mailtest::ClientEntry& entry : client.Entries()) {
            if (entry.event != "attach") continue;
            EXPECT_EQ(0, lstrcmpiA(mailtest::ClientDll().c_str(), entry.Get("module").c_str())) << entry.Get("module");
        }
    }
}
