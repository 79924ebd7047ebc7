// The registration form in this process: answers read from the real controls, the purchase
// date, the VIP switch, and the mail client lookup against registry keys of our own.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>

#include "WinTest.h"
#include "form/MailClient.h"
#include "form/RegistrationDlg.h"
#include "form_harness.h"
#include "res/resource.h"
#include "runner/LaunchOptions.h"

using namespace wt;

namespace {

class RegistrationForm : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES};
        InitCommonControlsEx(&controls);
        launchOptions.articleNumber = "A-1234";
        launchOptions.productTitle = "Der gro\xDF" "e Atlas";
    }
    // Fails the test when the form did not open or `body` never ran.
    void Run(const std::function<void(CFormHarness&)>& body) {
        bool ran = false;
        CFormHarness form(
            [&](CFormHarness& f) {
                ran = true;
                body(f);
            },
            CFormHarness::ECloseBy::EndDialog);
        EXPECT_NE(-1, form.DoModal());
        EXPECT_TRUE(ran);
    }
};

void FillRequired(CFormHarness& f) {
    f.SetItemText(IDC_REG_FIRSTNAME, "Anna");
    f.SetItemText(IDC_REG_LASTNAME, "M\xFCller");
    f.SetItemText(IDC_REG_STREET, "Hauptstra\xDF" "e 1");
    f.SetItemText(IDC_REG_ZIP, "20457");
    f.SetItemText(IDC_REG_CITY, "Hamburg");
    f.SetItemText(IDC_REG_USERNAME, "anna@example.org");
    f.SetItemText(IDC_REG_PASSWORD1, "Geheim");
    f.SetItemText(IDC_REG_PASSWORD2, "Geheim");
}

}  // namespace

TEST_F(RegistrationForm, ReadsEveryAnswerFromTheControls) {
    Run([](CFormHarness& f) {
        FillRequired(f);
        f.SetItemText(IDC_REG_FIRM, "VELK & S\xF6hne");
        f.SetItemText(IDC_REG_PHONE, "040 123");
        f.SetItemText(IDC_REG_FAX, "040 124");
        f.SetItemText(IDC_REG_PRODUCTS, "Atlas 2020");
        f.Click(IDC_REG_VIPCUSTOMER);
        f.SelectItem(IDC_REG_COUNTRY, 42);
        f.SelectItem(IDC_REG_WHERE, 3);
        f.SelectItem(IDC_REG_HOWKNOWN, 8);
        f.SelectItem(IDC_REG_HOWOFTEN, 3);
        f.SelectItem(IDC_REG_AGE, 6);
        f.SelectItem(IDC_REG_OCCUPATION, 5);
        f.SelectItem(IDC_REG_CHILDREN, 2);
        f.SelectItem(IDC_REG_PCTYPE, 7);
        f.SelectItem(IDC_REG_OS, 6);
        f.SelectItem(IDC_REG_SKILL, 2);
        f.SetDate(7, 3, 2002);
        ASSERT_TRUE(f.Accept());

        const RegistrationRecord& r = f.Record();
        EXPECT_EQ("anna@example.org", r.username);
        EXPECT_EQ("Geheim", r.password_1);
        EXPECT_EQ("Geheim", r.password_2);
        EXPECT_EQ("ja", r.aggraccept);
        EXPECT_EQ("ja", r.vipkunde);
        EXPECT_EQ("Anna", r.vorname);
        EXPECT_EQ("M\xFCller", r.nachname);
        EXPECT_EQ("VELK & S\xF6hne", r.firm);
        EXPECT_EQ("Hauptstra\xDF" "e 1", r.addr);
        EXPECT_EQ("Hamburg", r.city);
        EXPECT_EQ("20457", r.zip);
        EXPECT_EQ("Andere L\xE4nder", r.land);
        EXPECT_EQ("040 123", r.tel);
        EXPECT_EQ("040 124", r.fax);
        EXPECT_EQ("keine Angabe", r.alt);
        EXPECT_EQ("RentnerIn", r.berstell);
        EXPECT_EQ("ja", r.lebkindih);
        EXPECT_EQ("PDA (Palm/Psion etc.)", r.pctyp);
        EXPECT_EQ("Windows XP", r.betrsystem);
        EXPECT_EQ("Regelm\xE4\xDFiger Anwender", r.anwender);
        EXPECT_EQ("A-1234", r.gprod);
        EXPECT_EQ("Elektr. Gro\xDFm. (Saturn, Media Markt)", r.gprodg);
        EXPECT_EQ("Sonstiges", r.wgekauf);
        EXPECT_EQ("07.03.2002", r.dgekauf);
        EXPECT_EQ("Atlas 2020", r.pgekauf);
        EXPECT_EQ("mehr als 6x / Jahr", r.kaufoft);
        EXPECT_EQ("Der gro\xDF" "e Atlas", r.titel);
    });
}

TEST_F(RegistrationForm, UntouchedFormGivesDefaultsAndToday) {
    Run([](CFormHarness& f) {
        FillRequired(f);
        ASSERT_TRUE(f.Accept());
        SYSTEMTIME now;
        GetLocalTime(&now);
        char today[16];
        snprintf(today, sizeof today, "%02u.%02u.%04u", now.wDay, now.wMonth, now.wYear);
        const RegistrationRecord& r = f.Record();
        EXPECT_EQ(today, r.dgekauf);
        EXPECT_EQ("Deutschland", r.land);
        EXPECT_EQ("nein", r.vipkunde);
        for (const std::string* survey :
             {&r.alt, &r.berstell, &r.lebkindih, &r.pctyp, &r.betrsystem, &r.anwender, &r.gprodg, &r.wgekauf, &r.kaufoft})
            EXPECT_EQ("", *survey);
    });
}

TEST_F(RegistrationForm, PurchaseDatesOutsideTheTimeTypeRange) {
    const struct { WORD day, month, year; const char* text; } cases[] = {
        {1, 1, 1970, "01.01.1970"}, {31, 12, 1969, "31.12.1969"}, {4, 5, 1960, "04.05.1960"},
        {18, 1, 2038, "18.01.2038"}, {20, 1, 2038, "20.01.2038"}, {31, 12, 2099, "31.12.2099"},
    };
    Run([&](CFormHarness& f) {
        FillRequired(f);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.text);
            f.SetDate(c.day, c.month, c.year);
            ASSERT_TRUE(f.Accept());
            EXPECT_EQ(c.text, f.Record().dgekauf);
        }
    });
}

TEST_F(RegistrationForm, PasswordMismatchKeepsWhatWasTyped) {
    Run([](CFormHarness& f) {
        FillRequired(f);
        f.SetItemText(IDC_REG_PASSWORD2, "geheim");
        bool mismatch = false;
        EXPECT_FALSE(f.ValidateVipSection(mismatch));
        EXPECT_TRUE(mismatch);
        EXPECT_EQ("", f.Record().password_1);
        EXPECT_EQ("", f.Record().password_2);
        EXPECT_EQ("Geheim", f.GetItemText(IDC_REG_PASSWORD1));
        EXPECT_EQ("geheim", f.GetItemText(IDC_REG_PASSWORD2));
    });
}

TEST_F(RegistrationForm, VipCheckBoxSwitchesTheSection) {
    const int section[] = {IDC_REG_LBL_USERNAME,  IDC_REG_USERNAME,      IDC_REG_LBL_PASSWORD1,
                           IDC_REG_PASSWORD1,     IDC_REG_LBL_PASSWORD2, IDC_REG_PASSWORD2};
    const int untouched[] = {IDC_REG_LBL_VIPINFO, IDC_REG_LBL_VIPCUSTOMER, IDC_REG_VIPCUSTOMER};
    Run([&](CFormHarness& f) {
        FillRequired(f);
        for (int id : section) EXPECT_TRUE(f.IsItemEnabled(id)) << id;

        f.Click(IDC_REG_VIPWANTED);  // not wanted
        EXPECT_FALSE(f.IsItemChecked(IDC_REG_VIPWANTED));
        for (int id : section) EXPECT_FALSE(f.IsItemEnabled(id)) << id;
        for (int id : untouched) EXPECT_TRUE(f.IsItemEnabled(id)) << id;
        for (int id : {IDC_REG_USERNAME, IDC_REG_PASSWORD1, IDC_REG_PASSWORD2}) EXPECT_EQ("", f.GetItemText(id)) << id;
        ASSERT_TRUE(f.Accept());
        EXPECT_EQ("nein", f.Record().aggraccept);
        EXPECT_EQ("", f.Record().username);

        f.Click(IDC_REG_VIPWANTED);  // wanted again: enabled, still empty, so required again
        for (int id : section) EXPECT_TRUE(f.IsItemEnabled(id)) << id;
        EXPECT_EQ("", f.GetItemText(IDC_REG_USERNAME));
        bool mismatch = true;
        EXPECT_FALSE(f.ValidateVipSection(mismatch));
        EXPECT_FALSE(mismatch);
    });
}

namespace {

void SetValue(const std::string& keyPath, const std::string& name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str(), &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
    RegCloseKey(key);
}

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

}  // namespace

TEST(MailClientLookup, RegistryContents) {
    // An environment variable whose value does not fit the expansion buffer.
    SetEnvironmentVariableA("VELKLONG", std::string(300, 'x').c_str());
    char systemRoot[MAX_PATH] = {};
    GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot);
    ASSERT_NE('\0', systemRoot[0]);

    struct Case {
        const char* name;
        bool hasDefault;
        std::string clientName;  // default value's bytes
        bool hasClientKey;
        bool hasDllPath;
        DWORD pathType;
        std::string pathBytes;
        bool found;
        std::string path;
    };
    const std::string exact(259, 'p');
    const Case cases[] = {
        {"no default value", false, "", true, true, REG_SZ, Sz("C:\\m.dll"), false, ""},
        {"empty default value", true, Sz(""), true, true, REG_SZ, Sz("C:\\m.dll"), false, ""},
        {"default value of no bytes", true, "", true, true, REG_SZ, Sz("C:\\m.dll"), false, ""},
        {"client key missing", true, Sz("Client"), false, false, REG_SZ, "", false, ""},
        {"no DLLPath", true, Sz("Client"), true, false, REG_SZ, "", false, ""},
        {"empty DLLPath", true, Sz("Client"), true, true, REG_SZ, Sz(""), false, ""},
        {"plain path", true, Sz("Client"), true, true, REG_SZ, Sz("C:\\Mail\\mapi.dll"), true, "C:\\Mail\\mapi.dll"},
        {"REG_SZ is not expanded", true, Sz("Client"), true, true, REG_SZ, Sz("%SystemRoot%\\m.dll"), true,
         "%SystemRoot%\\m.dll"},
        {"REG_EXPAND_SZ is expanded", true, Sz("Client"), true, true, REG_EXPAND_SZ, Sz("%SystemRoot%\\m.dll"), true,
         std::string(systemRoot) + "\\m.dll"},
        {"expansion too long keeps the text", true, Sz("Client"), true, true, REG_EXPAND_SZ, Sz("%VELKLONG%\\m.dll"),
         true, "%VELKLONG%\\m.dll"},
        {"values without terminator", true, "Client", true, true, REG_SZ, "C:\\m.dll", true, "C:\\m.dll"},
        {"zero inside the client name ends it", true, std::string("Client\0Rest\0", 12), true, true, REG_SZ,
         Sz("C:\\m.dll"), true, "C:\\m.dll"},
        {"path filling the buffer", true, Sz("Client"), true, true, REG_SZ, Sz(exact), true, exact},
        {"path longer than the buffer", true, Sz("Client"), true, true, REG_SZ, Sz(exact + "p"), false, ""},
        {"client name longer than the buffer", true, Sz(std::string(300, 'c')), false, false, REG_SZ, "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRegTestKey clients;
        if (c.hasDefault) SetValue(clients.Path(), "", REG_SZ, c.clientName);
        if (c.hasClientKey) {
            const std::string clientKey = clients.Path() + "\\Client";
            SetValue(clientKey, "Other", REG_SZ, Sz("x"));
            if (c.hasDllPath) SetValue(clientKey, "DLLPath", c.pathType, c.pathBytes);
        }
        std::string path = "stale";
        EXPECT_EQ(c.found, FindMailClientLibrary(clients.Path(), path));
        EXPECT_EQ(c.path, path);
    }
    std::string path = "stale";
    EXPECT_FALSE(FindMailClientLibrary("Software\\VelkTest\\NoSuchClientsKey", path));
    EXPECT_EQ("", path);

    // An empty client name must not lead to a library path stored on the clients key itself.
    CRegTestKey clients;
    SetValue(clients.Path(), "", REG_SZ, Sz(""));
    SetValue(clients.Path(), "DLLPath", REG_SZ, Sz("C:\\m.dll"));
    EXPECT_FALSE(FindMailClientLibrary(clients.Path(), path));
}
