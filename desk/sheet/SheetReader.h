// Reads one faxed or scanned page back into a registration: finds the sheet's underscore
// runs, registers the page against the layout that printed it, and recognises every answer
// in its own box with Tesseract. Every field says how sure the reading is; nothing uncertain
// is passed on as certain.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "desk/sheet/PageImage.h"
#include "desk/sheet/SheetLayout.h"
#include "form/RegistrationRecord.h"

namespace sheet {

struct FieldReading {
    std::string value;    // UTF-8; what is stored
    std::string seen;     // what the recogniser saw, UTF-8
    int confidence = 0;   // 0 to 100
    std::string problem;  // empty when the value is certain
    int inkMismatch = -1; // pixels where reading and ink disagree; -1 when not compared
    int rivalMargin = -1; // how much worse the closest text one character away matches; -1 when not compared
};

struct SheetReading {
    bool isSheet = false;
    std::string notSheetReason;  // when it is not a reply sheet
    bool upsideDown = false;
    double skewDegrees = 0;
    double registration = 0;     // share of the sheet's underscore runs found where expected
    RegistrationRecord record;   // UTF-8; password_2 repeats password_1
    std::vector<FieldReading> fields;  // kSheetFields order
    // "field: problem" for every field that needs a person
    std::vector<std::string> problems;
};

class CSheetReader {
public:
    // Loads the fonts, lays the sheet out and starts Tesseract with the German model. Throws
    // std::runtime_error when one of them is missing.
    CSheetReader();
    ~CSheetReader();
    CSheetReader(const CSheetReader&) = delete;
    CSheetReader& operator=(const CSheetReader&) = delete;

    SheetReading Read(const PageImage& page);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A key that the same answers always give, whatever page or file they came from.
std::string SheetDedupKey(const RegistrationRecord& record);

}  // namespace sheet
