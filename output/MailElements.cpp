// The record's element table on its own, so that the writer (VelkRun) links only the table and
// not the desk's reader beside it in MailRecord.cpp.
#include "output/MailRecord.h"

const MailElement kMailElements[kMailElementCount] = {
    {"username", &RegistrationRecord::username},     {"password_1", &RegistrationRecord::password_1, true},
    {"password_2", &RegistrationRecord::password_2, true},{"aggraccept", &RegistrationRecord::aggraccept},
    {"vipkunde", &RegistrationRecord::vipkunde},     {"vorname", &RegistrationRecord::vorname},
    {"nachname", &RegistrationRecord::nachname},     {"firm", &RegistrationRecord::firm},
    {"addr", &RegistrationRecord::addr},             {"city", &RegistrationRecord::city},
    {"zip", &RegistrationRecord::zip},               {"land", &RegistrationRecord::land},
    {"tel", &RegistrationRecord::tel},               {"fax", &RegistrationRecord::fax},
    {"alt", &RegistrationRecord::alt},               {"berstell", &RegistrationRecord::berstell},
    {"lebkindih", &RegistrationRecord::lebkindih},   {"pctyp", &RegistrationRecord::pctyp},
    {"betrsystem", &RegistrationRecord::betrsystem}, {"anwender", &RegistrationRecord::anwender},
    {"gprod", &RegistrationRecord::gprod},           {"gprodg", &RegistrationRecord::gprodg},
    {"wgekauf", &RegistrationRecord::wgekauf},       {"dgekauf", &RegistrationRecord::dgekauf},
    {"pgekauf", &RegistrationRecord::pgekauf},       {"kaufoft", &RegistrationRecord::kaufoft},
};

bool IsSecretField(std::string RegistrationRecord::*field) {
    for (const MailElement& element : kMailElements)
        if (element.field == field) return element.secret;
    return false;
}

const char kMailRecordVersion[] = "1.0";
