// The registration's fields as the printed reply sheet shows them: in the sheet's order, with
// the sheet's own German labels, read from VelkRun's page layout and string table.
#pragma once

#include <string>
#include <vector>

#include "form/RegistrationRecord.h"

namespace desk {

struct FieldLabel {
    const char* name;                          // the stored column ("vorname")
    std::string RegistrationRecord::*member;
    std::string label;                         // UTF-8 ("Vorname", "Postleitzahl")
    bool secret = false;                       // a VIP password
};

// The 26 stored fields in sheet order (the unprinted password repetition after the password),
// built once on first use. Throws std::runtime_error when the layout cannot be run.
const std::vector<FieldLabel>& SheetFieldLabels();

}  // namespace desk
