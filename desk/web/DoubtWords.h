// A doubt in the clerk's words: the station speaks German, while a doubt's stored message is
// the command line's English. Both are made from the same data (kind, rivals, confidence).
#pragma once

#include <string>

#include "desk/Doubt.h"

namespace desk {

// The kind of a doubt as a short heading ("Mehrdeutig").
const char* DoubtHeading(DoubtKind kind);

// What the doubt says about the field whose stored value is `value`, as a German sentence. A
// secret field's value and rivals are never quoted.
std::string DoubtSentence(const Doubt& doubt, const std::string& value, bool secret);

// One line for a list of registrations: "Seite 1, Postleitzahl: Mehrdeutig", the field by the
// sheet's label, a doubt about the record as a whole by "Datensatz".
std::string DoubtSummary(const Doubt& doubt);

}  // namespace desk
