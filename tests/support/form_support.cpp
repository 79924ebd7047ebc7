// Implementation of the end-to-end form helpers.
#include "form_support.h"

#include <commctrl.h>

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

std::string Utf8(const wchar_t* text, int length) {
    if (length <= 0) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, nullptr, nullptr);
    return out;
}

// A window's text as Unicode, whatever the code page it was set in.
std::string WindowTextUtf8(HWND hwnd) {
    const LRESULT length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    const LRESULT got = SendMessageW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return Utf8(buffer.data(), static_cast<int>(got));
}

std::string ComboItemUtf8(HWND combo, int index) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return std::string();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    const LRESULT got =
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    return got == CB_ERR ? std::string() : Utf8(buffer.data(), static_cast<int>(got));
}

// A caption as a static or a button draws it: "&&" is one '&', a single '&' only underlines
// the letter after it.
std::string AsDrawn(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        else if (text[i] == '&') continue;
        out += text[i];
    }
    return out;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

// The date picker's date. It writes it through a pointer, which must be one into the form's
// own process.
bool PickedDate(HWND picker, SYSTEMTIME& picked) {
    DWORD pid = 0;
    GetWindowThreadProcessId(picker, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof picked, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool valid = false;
    if (remote) {
        valid = SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(remote)) == GDT_VALID &&
                ReadProcessMemory(process, remote, &picked, sizeof picked, nullptr);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return valid;
}

std::string IsoDate(const SYSTEMTIME& t) {
    char date[16];
    wsprintfA(date, "%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
    return date;
}

// Window class names are matched without regard to case (windres writes some in capitals).
std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
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

std::string DescribeForm(HWND form) {
    SYSTEMTIME today;
    GetLocalTime(&today);
    std::string out = "shown\t" + IsoDate(today) + "\ncaption\t" + Escaped(WindowTextUtf8(form)) + "\n";
    // A static text waits here until the next window shows whether it labels a control.
    HWND pending = nullptr;
    std::string pendingText;
    auto putText = [&] {
        if (pending && !pendingText.empty())
            out += "text\t" + std::to_string(GetDlgCtrlID(pending)) + "\t" + Escaped(pendingText) + "\n";
        pending = nullptr;
    };
    auto takeLabel = [&] {
        const std::string label = pending ? pendingText : std::string();
        pending = nullptr;
        return Escaped(label);
    };
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        const std::string kind = Lower(wt::ClassName(child));
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        const std::string id = std::to_string(GetDlgCtrlID(child));
        const std::string text = WindowTextUtf8(child);
        if (kind == "static") {
            putText();
            pending = child;
            pendingText = (style & SS_NOPREFIX) ? text : AsDrawn(text);
        } else if (kind == "button") {
            const LONG type = style & BS_TYPEMASK;
            if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE) {
                const bool checked = SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
                const std::string label = takeLabel();
                out += "check\t" + id + "\t" + label + "\t" + Escaped(AsDrawn(text)) + "\t" + (checked ? "1" : "0") + "\n";
            } else {
                putText();
                out += std::string(type == BS_GROUPBOX ? "group" : "button") + "\t" + id + "\t" + Escaped(AsDrawn(text)) + "\n";
            }
        } else if (kind == "edit") {
            std::string flags;
            if (style & ES_READONLY) flags = "readonly";
            if (style & ES_PASSWORD) flags += flags.empty() ? "password" : ",password";
            const std::string label = takeLabel();
            out += "edit\t" + id + "\t" + label + "\t" + Escaped(text) + "\t" + (flags.empty() ? "-" : flags) + "\n";
        } else if (kind == "combobox") {
            const int selected = static_cast<int>(SendMessageW(child, CB_GETCURSEL, 0, 0));
            const std::string label = takeLabel();
            out += "list\t" + id + "\t" + label + "\t" + std::to_string(selected) + "\n";
            const int count = static_cast<int>(SendMessageW(child, CB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) out += "item\t" + Escaped(ComboItemUtf8(child, i)) + "\n";
        } else if (kind == "sysdatetimepick32") {
            SYSTEMTIME picked = {};
            const bool valid = PickedDate(child, picked);
            const std::string label = takeLabel();
            out += "date\t" + id + "\t" + label + "\t" + (valid ? IsoDate(picked) : std::string()) + "\n";
        } else {
            putText();
            out += "other\t" + id + "\t" + Escaped(kind) + "\n";
        }
    }
    putText();
    return out;
}

}  // namespace formtest
