// Validation of the VIP section and collection of the other answers into the record.
#include "form/FormAnswers.h"

#include <cstdio>

#include "res/resource.h"

namespace {

// Reads an answer into `field`; false when it is empty. Nothing is trimmed: a blank counts.
bool ReadRequired(const CFormAnswerSource& form, int id, std::string& field) {
    field = form.Text(id);
    return !field.empty();
}

// The first item of every survey list stands for "no answer".
std::string SurveyAnswer(const CFormAnswerSource& form, int id) {
    const int index = form.Selection(id);
    return index > 0 ? form.ItemText(id, index) : std::string();
}

}  // namespace

bool ValidateVipAnswers(const CFormAnswerSource& form, const AnswerWords& words, RegistrationRecord& record,
                        bool& passwordMismatch) {
    passwordMismatch = false;
    if (form.IsChecked(IDC_REG_VIPWANTED)) {
        record.aggraccept = words.yes;
        if (!ReadRequired(form, IDC_REG_USERNAME, record.username)) return false;
        if (!ReadRequired(form, IDC_REG_PASSWORD1, record.password_1)) return false;
        if (!ReadRequired(form, IDC_REG_PASSWORD2, record.password_2)) return false;
        if (record.password_1 != record.password_2) {
            passwordMismatch = true;
            // No output is made from this attempt; the edits keep what the user typed.
            record.password_1.clear();
            record.password_2.clear();
            return false;
        }
    } else {
        record.aggraccept = words.no;
        record.username.clear();
        record.password_1.clear();
        record.password_2.clear();
    }
    record.vipkunde = form.IsChecked(IDC_REG_VIPCUSTOMER) ? words.yes : words.no;
    return true;
}

bool CollectFormAnswers(const CFormAnswerSource& form, RegistrationRecord& record) {
    if (!ReadRequired(form, IDC_REG_FIRSTNAME, record.vorname)) return false;
    if (!ReadRequired(form, IDC_REG_LASTNAME, record.nachname)) return false;
    if (!ReadRequired(form, IDC_REG_STREET, record.addr)) return false;
    if (!ReadRequired(form, IDC_REG_ZIP, record.zip)) return false;
    if (!ReadRequired(form, IDC_REG_CITY, record.city)) return false;

    const int country = form.Selection(IDC_REG_COUNTRY);
    if (country < 0) return false;
    record.land = form.ItemText(IDC_REG_COUNTRY, country);
    if (record.land.empty()) return false;

    record.firm = form.Text(IDC_REG_FIRM);
    record.tel = form.Text(IDC_REG_PHONE);
    record.fax = form.Text(IDC_REG_FAX);

    if (!ReadRequired(form, IDC_REG_ARTICLE, record.gprod)) return false;
    if (!ReadRequired(form, IDC_REG_TITLE, record.titel)) return false;

    record.gprodg = SurveyAnswer(form, IDC_REG_WHERE);
    record.wgekauf = SurveyAnswer(form, IDC_REG_HOWKNOWN);
    record.dgekauf = form.PurchaseDate();
    record.kaufoft = SurveyAnswer(form, IDC_REG_HOWOFTEN);
    record.pgekauf = form.Text(IDC_REG_PRODUCTS);
    record.alt = SurveyAnswer(form, IDC_REG_AGE);
    record.berstell = SurveyAnswer(form, IDC_REG_OCCUPATION);
    record.lebkindih = SurveyAnswer(form, IDC_REG_CHILDREN);
    record.pctyp = SurveyAnswer(form, IDC_REG_PCTYPE);
    record.betrsystem = SurveyAnswer(form, IDC_REG_OS);
    record.anwender = SurveyAnswer(form, IDC_REG_SKILL);
    return true;
}

std::string FormatPurchaseDate(int day, int month, int year) {
    // Formatted from the date itself rather than through a time_t, whose range (1970 to
    // 2038) is narrower than the picker's.
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", day, month, year);
    return text;
}
