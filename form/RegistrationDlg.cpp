// The registration form: prefilling, the mail client lookup, the VIP section's switch and the
// front half that both output buttons run before printing or mailing.
#include "form/RegistrationDlg.h"

#include <commctrl.h>

#include <vector>

#include "form/FormAnswers.h"
#include "form/MailClient.h"
#include "form/NoticeDlg.h"
#include "framework/Text.h"
#include "output/MailDispatch.h"
#include "output/PrintForm.h"
#include "res/resource.h"
#include "runner/LaunchOptions.h"
#include "runner/Settings.h"

namespace {

struct LabelText {
    UINT stringId;
    int controlId;
};

// In the order the labels are set.
const LabelText kLabelTexts[] = {
    {IDS_LBL_REQUIRED, IDC_REG_LBL_REQUIRED},     {IDS_LBL_FIRSTNAME, IDC_REG_LBL_FIRSTNAME},
    {IDS_LBL_LASTNAME, IDC_REG_LBL_LASTNAME},     {IDS_LBL_STREET, IDC_REG_LBL_STREET},
    {IDS_LBL_ZIP, IDC_REG_LBL_ZIP},               {IDS_LBL_CITY, IDC_REG_LBL_CITY},
    {IDS_LBL_COUNTRY, IDC_REG_LBL_COUNTRY},       {IDS_LBL_FIRM, IDC_REG_LBL_FIRM},
    {IDS_LBL_PHONE, IDC_REG_LBL_PHONE},           {IDS_LBL_FAX, IDC_REG_LBL_FAX},
    {IDS_LBL_ADDRESS, IDC_REG_GRP_ADDRESS},       {IDS_LBL_USERNAME, IDC_REG_LBL_USERNAME},
    {IDS_LBL_ARTICLE, IDC_REG_LBL_ARTICLE},       {IDS_LBL_PRODUCT, IDC_REG_GRP_PRODUCT},
    {IDS_LBL_WHERE, IDC_REG_LBL_WHERE},           {IDS_LBL_HOWKNOWN, IDC_REG_LBL_HOWKNOWN},
    {IDS_LBL_VIP, IDC_REG_GRP_VIP},               {IDS_LBL_VIPQUESTION, IDC_REG_LBL_VIPQUESTION},
    {IDS_LBL_PASSWORD1, IDC_REG_LBL_PASSWORD1},   {IDS_LBL_OPTIONAL, IDC_REG_GRP_OPTIONAL},
    {IDS_LBL_AGE, IDC_REG_LBL_AGE},               {IDS_LBL_OCCUPATION, IDC_REG_LBL_OCCUPATION},
    {IDS_LBL_CHILDREN, IDC_REG_LBL_CHILDREN},     {IDS_LBL_PCTYPE, IDC_REG_LBL_PCTYPE},
    {IDS_LBL_OS, IDC_REG_LBL_OS},                 {IDS_LBL_SKILL, IDC_REG_LBL_SKILL},
    {IDS_LBL_SENDTO, IDC_REG_LBL_SENDTO},         {IDS_LBL_HEADING, IDC_REG_LBL_HEADING},
    {IDS_LBL_TITLE, IDC_REG_LBL_TITLE},           {IDS_LBL_WHEN, IDC_REG_LBL_WHEN},
    {IDS_LBL_HOWOFTEN, IDC_REG_LBL_HOWOFTEN},     {IDS_LBL_PASSWORD2, IDC_REG_LBL_PASSWORD2},
    {IDS_LBL_VIPINFO, IDC_REG_LBL_VIPINFO},       {IDS_LBL_VIPCUSTOMER, IDC_REG_LBL_VIPCUSTOMER},
};

// Lists that start on their first item, which stands for no answer.
const int kSurveyLists[] = {IDC_REG_OCCUPATION, IDC_REG_CHILDREN, IDC_REG_OS,       IDC_REG_PCTYPE,  IDC_REG_AGE,
                            IDC_REG_SKILL,      IDC_REG_WHERE,    IDC_REG_HOWKNOWN, IDC_REG_HOWOFTEN};

// The VIP service's user name and password controls with their labels, in switching order.
const int kVipControls[] = {IDC_REG_LBL_USERNAME,  IDC_REG_USERNAME,      IDC_REG_LBL_PASSWORD1,
                            IDC_REG_PASSWORD1,     IDC_REG_LBL_PASSWORD2, IDC_REG_PASSWORD2};

// The form's controls as the answer rules read them.
class CControlAnswers final : public CFormAnswerSource {
public:
    explicit CControlAnswers(const fw::CDialog& form) : form_(form) {}

    bool IsChecked(int id) const override { return form_.IsItemChecked(id); }
    std::string Text(int id) const override { return form_.GetItemText(id); }
    int Selection(int id) const override {
        const LRESULT index = form_.SendItemMessage(id, CB_GETCURSEL);
        return index == CB_ERR ? -1 : static_cast<int>(index);
    }
    std::string ItemText(int id, int index) const override {
        const LRESULT length = form_.SendItemMessage(id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
        if (length == CB_ERR) return std::string();
        std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
        const LRESULT got = form_.SendItemMessage(id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                                  reinterpret_cast<LPARAM>(buffer.data()));
        if (got == CB_ERR || got > length) return std::string();
        return std::string(buffer.data(), static_cast<size_t>(got));
    }
    std::string PurchaseDate() const override {
        SYSTEMTIME picked = {};
        // The picker has no "none" state; it only fails when it is missing.
        if (form_.SendItemMessage(IDC_REG_DATE, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&picked)) != GDT_VALID)
            return std::string();
        return FormatPurchaseDate(picked.wDay, picked.wMonth, picked.wYear);
    }

private:
    const fw::CDialog& form_;
};

}  // namespace

CRegistrationDlg::CRegistrationDlg(HWND parent) : fw::CDialog(IDD_REGISTRATION, parent) {}

CRegistrationDlg::~CRegistrationDlg() = default;

BOOL CRegistrationDlg::OnInitDialog() {
    // Without a mail client library the mail route cannot work; printing still can.
    if (!FindMailClientLibrary(kMailClientsKey, mailDllPath)) EnableItem(IDC_REG_MAIL, false);

    SetLabelTexts();
    SetItemText(IDC_REG_ARTICLE, launchOptions.articleNumber);
    SetItemText(IDC_REG_TITLE, launchOptions.productTitle);
    SelectInitialListItems();
    // Set directly, so the VIP controls stay enabled without going through OnVipClicked.
    CheckItem(IDC_REG_VIPWANTED, kVipWantedAtStart);
    return TRUE;  // focus on the first tab stop, the first name
}

void CRegistrationDlg::SetLabelTexts() const {
    for (const LabelText& label : kLabelTexts) SetItemText(label.controlId, fw::LoadResString(label.stringId));
}

void CRegistrationDlg::SelectInitialListItems() const {
    for (int id : kSurveyLists) SendItemMessage(id, CB_SETCURSEL, 0);
    SendItemMessage(IDC_REG_COUNTRY, CB_SETCURSEL, kDefaultCountryIndex);
}

bool CRegistrationDlg::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return false;
    switch (id) {
    case IDC_REG_PRINT:
        OnPrintForm();
        return true;
    case IDC_REG_MAIL:
        OnSendMail();
        return true;
    case IDC_REG_VIPWANTED:
        OnVipClicked();
        return true;
    default:
        return false;
    }
}

void CRegistrationDlg::OnOK() {
    // The form has no OK button. The dialog manager sends IDOK when Enter finds no default
    // button; closing then would skip the clipboard clean-up of OnCancel and lose the entries.
}

void CRegistrationDlg::OnCancel() {
    // The clipboard may still hold the mail text, password included.
    ClearRegistrationClipboard();
    EndDialog(IDCANCEL);
}

void CRegistrationDlg::OnVipClicked() {
    const bool wanted = IsItemChecked(IDC_REG_VIPWANTED);
    for (int id : kVipControls) EnableItem(id, wanted);
    if (!wanted) {
        SetItemText(IDC_REG_USERNAME, std::string());
        SetItemText(IDC_REG_PASSWORD1, std::string());
        SetItemText(IDC_REG_PASSWORD2, std::string());
    }
}

bool CRegistrationDlg::ValidateVipSection(bool& passwordMismatch) {
    const AnswerWords words{fw::LoadResString(IDS_YES), fw::LoadResString(IDS_NO)};
    return ValidateVipAnswers(CControlAnswers(*this), words, record, passwordMismatch);
}

bool CRegistrationDlg::CollectAnswers() { return CollectFormAnswers(CControlAnswers(*this), record); }

bool CRegistrationDlg::AcceptAnswers() {
    bool passwordMismatch = false;
    if (!ValidateVipSection(passwordMismatch)) {
        ShowNotice(passwordMismatch ? runnerSettings.passwordMismatchMessage : runnerSettings.missingEntriesMessage);
        return false;
    }
    if (!CollectAnswers()) {
        ShowNotice(runnerSettings.missingEntriesMessage);
        return false;
    }
    return true;
}

void CRegistrationDlg::ShowNotice(const std::string& text) {
    CNoticeDlg notice(Handle());
    notice.noticeText = text;
    notice.DoModal();  // OK and cancel mean the same here
}

void CRegistrationDlg::OnPrintForm() {
    if (AcceptAnswers()) PrintRegistrationForm(Handle(), record);
}

void CRegistrationDlg::OnSendMail() {
    if (AcceptAnswers()) SendRegistrationMail(Handle(), record, mailDllPath);
}
