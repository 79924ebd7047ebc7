// Reads one faxed or scanned page as a pipeline of stages, each in its own file (ReaderStages.h):
// the page is normalised to 300 dpi, placed on the layout by its underscore runs, cleaned down to
// the answers, and each answer is read, matched against its set or mended by its drawing, and
// given the one doubt a person must look at.
#include "desk/sheet/SheetReader.h"

#include <leptonica/allheaders.h>

#include <cstdint>
#include <cstdio>

#include "desk/sheet/ReaderStages.h"
#include "res/resource.h"

// From libgomp, which Tesseract runs its threads on (declared here: clang has no omp.h of it).
extern "C" void omp_set_max_active_levels(int levels);

namespace sheet {

struct CSheetReader::Impl {
    CFontMeasure fonts;
    SheetLayout layout;
    CRecogniser ocr;
    const CResourceText& texts = CResourceText::BuiltIn();

    Impl() : layout(BuildSheetLayout(fonts, kDpi)) {}

    // Reads every answer of a placed and cleaned page into `result`.
    void ReadAnswers(SheetPage& page, SheetReading& result);
};

CSheetReader::CSheetReader() : impl_(std::make_unique<Impl>()) {}
CSheetReader::~CSheetReader() = default;

SheetReading CSheetReader::Read(const PageImage& image) {
    // Tesseract's OpenMP threads spin while they wait for each other; on the desk's two cores
    // that made a page take half again as long as one thread does, and twice as long where two
    // readers run beside each other. The setting holds for the thread that sets it only, so
    // each reading thread sets it.
    omp_set_max_active_levels(0);
    Impl& m = *impl_;
    SheetReading result;
    result.fields.resize(kSheetFieldCount);
    SheetPage page;
    const bool normalised = Normalise(image, page, result.notSheetReason);
    result.grain = page.grain;
    result.skewDegrees = page.skewDegrees;
    if (!normalised) return result;
    const bool placed = PlaceOnLayout(m.layout, page, result.notSheetReason);
    result.registration = page.registration;
    result.upsideDown = page.upsideDown;
    if (!placed) return result;
    result.normalised = CPix(pixCopy(nullptr, page.binary.Get()));
    if (!Clean(m.fonts, m.layout, page)) {
        result.notSheetReason = "out of memory";
        return result;
    }
    m.ocr.SetPage(page.binary.Get());
    if (!ShowsSheetTexts(m.ocr, m.layout, page)) {
        result.notSheetReason = "no reply sheet: its title and headings are not there";
        return result;
    }
    result.isSheet = true;
    m.ReadAnswers(page, result);
    return result;
}

void CSheetReader::Impl::ReadAnswers(SheetPage& page, SheetReading& result) {
    // First every answer is read; then the readings are checked against the ink, once the
    // page's own horizontal offset of the answers is known.
    std::vector<AnswerWork> work(kSheetFieldCount);
    CAnswerShift shift;
    for (int i = 0; i < kSheetFieldCount; ++i) {
        FindAnswerBox(fonts, layout, page, i, work[i]);
        FirstReading(ocr, fonts, texts, layout, page, i, work[i], result.fields[i], shift);
    }
    shift.Fit(page.t);
    const std::string no = Windows1252ToUtf8(texts.String(IDS_NO));
    CTextMend mend(fonts, layout, page, shift, no);
    for (int i = 0; i < kSheetFieldCount; ++i) {
        AnswerWork& p = work[i];
        FieldReading& reading = result.fields[i];
        if (!p.set.empty() && !reading.seen.empty() && !p.overflow && (!p.Doubtful() || p.outsideSet))
            FixedSetMatch(fonts, layout, page, shift, i, p, reading);
        else if (p.set.empty() && !p.outsideSet && !reading.seen.empty() && !p.printed.empty())
            mend.Mend(i, p, reading);
        ReviewDecision(page, i, p, reading, result);
        result.record.*kSheetFields[i].member = reading.value;
    }
    result.record.password_2 = result.record.password_1;
}

}  // namespace sheet
