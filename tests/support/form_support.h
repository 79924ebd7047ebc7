// Helpers of the end-to-end tests that drive the registration form of the real VelkRun.exe:
// a short form run on a product folder, and the sample's answers typed into it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "WinTest.h"
#include "form/RegistrationRecord.h"

namespace formtest {

// VelkRun's short form on a product folder with `ini` as its settings, started with the full
// path as argument 0 and then `args`; the form is its window. Left with "Abbrechen" (or killed)
// at the end.
class CFormRun {
public:
    explicit CFormRun(const std::string& ini, const std::string& args = "\"A-1234\" \"Der gro\xDF" "e Atlas\"");
    ~CFormRun();
    CFormRun(const CFormRun&) = delete;
    CFormRun& operator=(const CFormRun&) = delete;

    void Set(int id, const std::string& text) const;
    std::string Text(int id) const { return wt::ItemText(form, id); }
    // Selects item `index` of a list and returns its text.
    std::string Select(int id, int index) const;
    int Selection(int id) const;
    bool Checked(int id) const;
    void SetChecked(int id, bool checked) const;
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(form, id)) != FALSE; }

    // Presses an output button; returns the notice it opened, or null.
    HWND PressForNotice(int id) const;
    // Presses "Als Fax/Brief drucken"; the Print dialog over the form, or null.
    HWND PressPrint(DWORD timeoutMs = 15000) const;
    // Presses a button of the Print dialog and waits until the form is usable again.
    bool Close(HWND dialog, int button) const;
    // Posts a key to a control, as typing into it would.
    void PostKey(int id, WPARAM key) const { PostMessageA(GetDlgItem(form, id), WM_KEYDOWN, key, 1); }
    // Waits until everything posted to the form's thread before this call has been handled.
    bool Settle() const;

    // The form is the program's only window, and usable.
    bool OnlyTheFormShows() const;
    // Every dialog of the form's thread besides the form, hidden ones included.
    std::vector<HWND> OtherThreadWindows() const;
    bool Running() const { return process_.Running(); }
    wt::CProcess& Process() { return process_; }
    // A text of the program's own string table.
    std::string S(unsigned id) const;

    HWND form = nullptr;

private:
    wt::CProductFolder folder_;
    wt::CProcess process_;
    HMODULE strings_ = nullptr;
};

// Types the text answers of `r` into the open form's edit fields, by control id: name, firm,
// address, phone, fax, the products bought before, user name and both passwords. An empty
// answer empties its field.
void TypeTextAnswers(HWND form, const RegistrationRecord& r);

// The record the short form gives when only the name, firm, address, user name and passwords
// of `answers` are typed (TypeTextAnswers of this record types just those): everything else
// stays as the form opens, with VIP service wanted, no VIP customer yet, Germany, `article`
// and `title` from the command line, and the date picker on today.
RegistrationRecord ShortFormRecord(const RegistrationRecord& answers, const std::string& article,
                                   const std::string& title);

// Today as the form's date picker shows it when the form opens: "dd.mm.yyyy".
std::string Today();

// What the open form shows, read from its live windows in their order (the template's, which
// is the tab order), for desk_e2e_test to hold the online form against. UTF-8, one item a
// line, tab-separated, with backslash, tab, CR and LF in values written \\, \t, \r, \n:
//   shown    yyyy-mm-dd                      the day the form was read
//   caption  TEXT
//   text     ID  TEXT                        a static text that labels no control
//   group    ID  TEXT
//   edit     ID  LABEL  VALUE  FLAGS         FLAGS: "readonly", "password", both with ',' or "-"
//   list     ID  LABEL  SELECTED-INDEX       followed by one "item  TEXT" line per item
//   date     ID  LABEL  yyyy-mm-dd
//   check    ID  LABEL  BOX-TEXT  0|1
//   button   ID  TEXT
//   other    ID  CLASS
// A control's LABEL is the static text right before it; captions are as drawn ("&&" one '&',
// the '&' of a mnemonic dropped).
std::string DescribeForm(HWND form);

}  // namespace formtest
