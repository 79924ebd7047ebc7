// The sample registration the tests share, in code page 1252 as VelkRun holds its answers;
// platform-free, so the native tests use it as well as those under Wine.
#pragma once

#include "form/RegistrationRecord.h"

namespace sample {

// A complete record, every answer given: umlauts and "ß", and the "&", "<" and ">" the mail
// text must keep as they are. Both passwords are the same, as a form that passes its checks
// has them; the purchase answer has no line break. Tests that need something particular
// derive it from this one.
RegistrationRecord SampleAnswers();

}  // namespace sample
