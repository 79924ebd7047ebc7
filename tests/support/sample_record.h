// Sample registrations for the desk's tests, in UTF-8 as the desk stores them.
#pragma once

#include "form/RegistrationRecord.h"

namespace corpus {

// A complete record with values of its own for `n`: umlauts, "ß", and the "&", "<" and ">"
// the mail text leaves as they are. UTF-8. With `euro` a "€" too (not in ISO 8859-1).
RegistrationRecord SampleRecord(int n, bool euro = false);

}  // namespace corpus
