// The checks and the collection of the registration form's answers, apart from the controls
// that hold them, so the rules run and are tested without Windows. Platform-free.
#pragma once

#include <string>

#include "form/RegistrationRecord.h"

// The form as it opens, in the Windows dialog and on the web page alike: "Deutschland" in the
// country list, every other list on its first item ("Bitte wählen": no answer), the VIP service
// wanted.
constexpr int kDefaultCountryIndex = 5;
constexpr bool kVipWantedAtStart = true;

// What the rules read from the form, by control id (res/resource.h).
class CFormAnswerSource {
public:
    virtual bool IsChecked(int id) const = 0;
    virtual std::string Text(int id) const = 0;
    // Index of the selected list item; negative when nothing is selected.
    virtual int Selection(int id) const = 0;
    virtual std::string ItemText(int id, int index) const = 0;
    // The purchase date as the record keeps it (FormatPurchaseDate).
    virtual std::string PurchaseDate() const = 0;

protected:
    ~CFormAnswerSource() = default;
};

// The words the record uses for a ticked and an unticked check box.
struct AnswerWords {
    std::string yes;
    std::string no;
};

// The VIP section. Fills aggraccept, username, password_1, password_2 and, when it passes,
// vipkunde. False when the service is wanted and user name, password or repetition is empty,
// or when the two passwords differ; only the latter sets `passwordMismatch` (cleared on
// entry) and empties both passwords in the record.
bool ValidateVipAnswers(const CFormAnswerSource& form, const AnswerWords& words, RegistrationRecord& record,
                        bool& passwordMismatch);

// Address, product and survey answers. Stops with false at the first required answer that is
// empty (or when no country is selected); the fields read before it keep their new values,
// the rest their old ones.
bool CollectFormAnswers(const CFormAnswerSource& form, RegistrationRecord& record);

// "dd.mm.yyyy" with leading zeros, for any date the date picker can hold.
std::string FormatPurchaseDate(int day, int month, int year);
