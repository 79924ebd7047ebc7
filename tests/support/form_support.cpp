// Implementation of the end-to-end form helpers.
#include "form_support.h"

#include "framework/Text.h"
#include "res/resource.h"

namespace formtest {

namespace {

struct DialogSearch {
    HWND form;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<DialogSearch*>(lp);
    if (hwnd != search->form && wt::ClassName(hwnd) == "#32770") search->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

CFormRun::CFormRun(const std::string& ini, const std::string& args) {
    folder_.WriteIni(ini);
    if (!process_.Start(folder_.VelkRun(), wt::Quote(folder_.VelkRun()) + " " + args, folder_.Path())) return;
    form = wt::WaitForWindow(process_.Pid());
    strings_ = LoadLibraryExA(folder_.VelkRun().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

CFormRun::~CFormRun() {
    if (strings_) FreeLibrary(strings_);
    if (process_.Running()) {
        PostMessageA(form, WM_COMMAND, IDCANCEL, 0);
        if (!process_.WaitExit()) process_.Kill();
    }
}

void CFormRun::Set(int id, const std::string& text) const {
    SendMessageA(GetDlgItem(form, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string CFormRun::Select(int id, int index) const {
    SendMessageA(GetDlgItem(form, id), CB_SETCURSEL, index, 0);
    return Text(id);
}

int CFormRun::Selection(int id) const {
    return static_cast<int>(SendMessageA(GetDlgItem(form, id), CB_GETCURSEL, 0, 0));
}

bool CFormRun::Checked(int id) const {
    return SendMessageA(GetDlgItem(form, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CFormRun::SetChecked(int id, bool checked) const {
    if (Checked(id) != checked) SendMessageA(GetDlgItem(form, id), BM_CLICK, 0, 0);
}

HWND CFormRun::PressForNotice(int id) const {
    PostMessageA(GetDlgItem(form, id), BM_CLICK, 0, 0);
    return wt::WaitForOwnedWindow(process_.Pid(), form);
}

HWND CFormRun::PressPrint(DWORD timeoutMs) const {
    PostMessageA(GetDlgItem(form, IDC_REG_PRINT), BM_CLICK, 0, 0);
    return wt::WaitForOwnedWindow(process_.Pid(), form, timeoutMs);
}

bool CFormRun::Close(HWND dialog, int button) const {
    PostMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
    return wt::WaitUntil([&] { return !IsWindow(dialog) && IsWindowEnabled(form); });
}

bool CFormRun::Settle() const {
    // A click posted behind everything else shows, once it took effect, that the rest was handled.
    const bool before = Checked(IDC_REG_VIPCUSTOMER);
    PostMessageA(GetDlgItem(form, IDC_REG_VIPCUSTOMER), BM_CLICK, 0, 0);
    const bool changed = wt::WaitUntil([&] { return Checked(IDC_REG_VIPCUSTOMER) != before; });
    SetChecked(IDC_REG_VIPCUSTOMER, before);
    return changed;
}

bool CFormRun::OnlyTheFormShows() const {
    const std::vector<HWND> windows = wt::ProcessWindows(process_.Pid());
    return windows.size() == 1 && windows[0] == form && IsWindowEnabled(form);
}

std::vector<HWND> CFormRun::OtherThreadWindows() const {
    DialogSearch search{form, {}};
    EnumThreadWindows(GetWindowThreadProcessId(form, nullptr), CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string CFormRun::S(unsigned id) const { return fw::LoadResString(id, strings_); }

void TypeTextAnswers(HWND form, const RegistrationRecord& r) {
    const std::pair<int, const std::string*> fields[] = {
        {IDC_REG_FIRSTNAME, &r.vorname},   {IDC_REG_LASTNAME, &r.nachname},    {IDC_REG_FIRM, &r.firm},
        {IDC_REG_STREET, &r.addr},         {IDC_REG_ZIP, &r.zip},              {IDC_REG_CITY, &r.city},
        {IDC_REG_PHONE, &r.tel},           {IDC_REG_FAX, &r.fax},              {IDC_REG_PRODUCTS, &r.pgekauf},
        {IDC_REG_USERNAME, &r.username},   {IDC_REG_PASSWORD1, &r.password_1}, {IDC_REG_PASSWORD2, &r.password_2}};
    for (const auto& field : fields)
        SendMessageA(GetDlgItem(form, field.first), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(field.second->c_str()));
}

RegistrationRecord ShortFormRecord(const RegistrationRecord& answers, const std::string& article,
                                   const std::string& title) {
    RegistrationRecord r;
    r.vorname = answers.vorname;
    r.nachname = answers.nachname;
    r.firm = answers.firm;
    r.addr = answers.addr;
    r.zip = answers.zip;
    r.city = answers.city;
    r.username = answers.username;
    r.password_1 = answers.password_1;
    r.password_2 = answers.password_2;
    r.aggraccept = "ja";
    r.vipkunde = "nein";
    r.land = "Deutschland";
    r.gprod = article;
    r.titel = title;
    r.dgekauf = Today();
    return r;
}

std::string Today() {
    SYSTEMTIME today;
    GetLocalTime(&today);
    char date[16];
    wsprintfA(date, "%02u.%02u.%04u", today.wDay, today.wMonth, today.wYear);
    return date;
}

}  // namespace formtest
