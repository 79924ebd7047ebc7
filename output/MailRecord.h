// The registration record's element table, shared by the writer (BuildMailText) and the
// desk's reader (desk/mail/MailReader.h). Platform-free.
#pragma once

#include <cstddef>
#include <string>

#include "form/RegistrationRecord.h"
#include "output/CodePage.h"

// One value element of the record: its tag name, the record field that fills it, and whether
// its value is a secret that no message, log or listing may show (the VIP passwords).
struct MailElement {
    const char* name;
    std::string RegistrationRecord::*field;
    bool secret = false;
};

// The 26 value elements in the fixed order of the mail text.
constexpr std::size_t kMailElementCount = 26;
extern const MailElement kMailElements[kMailElementCount];

// Whether the record field `field` holds a secret (see MailElement::secret).
bool IsSecretField(std::string RegistrationRecord::*field);

// The version the writer puts in `<version number="..."/>`.
extern const char kMailRecordVersion[];
