// Reads one faxed or scanned page back into a registration: finds the sheet's underscore
// runs, registers the page against the layout that printed it, and recognises every answer
// in its own box with Tesseract. Every field says how sure the reading is; nothing uncertain
// is passed on as certain.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "desk/Doubt.h"
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

// How coarse a page is, decided once from how it arrived (Normalise.cpp); every tolerance of the
// reader that depends on it is here.
enum class Grain { Scan, FaxFine, FaxStandard };

struct PageGrain {
    Grain grain = Grain::Scan;
    double xres = 0, yres = 0;  // as the file says, or an A4 page's when it says none
    // A fax blurs every edge: the drawing only overrules a reading the ink rejects.
    bool Fax() const { return grain != Grain::Scan; }
    // At a fax's standard resolution the gap under an i's dot is under a pixel and tells nothing.
    bool DotsTell() const { return grain != Grain::FaxStandard; }
    // Pixels a drawing and the ink may disagree by: a coarser page blurs letters more.
    int InkTolerance() const { return grain == Grain::Scan ? 8 : grain == Grain::FaxFine ? 14 : 20; }
    // By how many pixels the ink must prefer a reading to every text one character away before
    // the reading is trusted, when the drawing had to correct the recogniser or the recogniser
    // was unsure (when both agree, the ink only has to prefer it at all).
    int InkMargin() const { return grain == Grain::Scan ? 8 : grain == Grain::FaxFine ? 10 : 12; }
};

// The grain of a page: a fax at fine or standard resolution, or a scan.
PageGrain DecideGrain(const PageImage& page);

struct SheetReading {
    bool isSheet = false;
    std::string notSheetReason;  // when it is not a reply sheet
    bool upsideDown = false;
    double skewDegrees = 0;
    double registration = 0;     // share of the sheet's underscore runs found where expected
    RegistrationRecord record;   // UTF-8; password_2 repeats password_1
    std::vector<FieldReading> fields;  // kSheetFields order
    PageGrain grain;             // how coarse the page is
    // The page as the reader worked on it: one bit at 300 dpi, deskewed, turned upright; the
    // doubts' boxes are in its pixels. Empty when the page was no image.
    CPix normalised;
    // One for every field that needs a person, in kSheetFields order; their page is 0 until the
    // intake numbers the pages of a file
    std::vector<desk::Doubt> doubts;
    // "field: problem" for every field that needs a person: the doubts' lines
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


}  // namespace sheet
