// Fixed-set match: owns the answers that are one of a set (yes or no, a survey list, a country).
// A value of a fixed set is the one whose drawing matches the ink: every value is drawn in the
// answer font at the page's answer offset, and one is taken only when it matches well and every
// other value clearly worse.
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "desk/sheet/ReaderStages.h"
#include "desk/sheet/TextRules.h"
#include "output/MailRecord.h"

namespace sheet {

namespace {

// Pixels of the marks at least `minHeight` tall in the box, outside the columns from..to.
int LetterInk(PIX* binary, int x0, int y0, int x1, int y1, int from, int to, int minHeight) {
    const int w = pixGetWidth(binary), h = pixGetHeight(binary);
    x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(w, x1), y1 = std::min(h, y1);
    if (x1 <= x0 || y1 <= y0) return 0;
    BOX* box = boxCreate(x0, y0, x1 - x0, y1 - y0);
    CPix part(pixClipRectangle(binary, box, nullptr));
    boxDestroy(&box);
    if (!part) return 0;
    if (to > from) pixRasterop(part.Get(), from - x0, 0, to - from, y1 - y0, PIX_CLR, nullptr, 0, 0);
    CPix tall(pixSelectBySize(part.Get(), 0, minHeight, 8, L_SELECT_HEIGHT, L_SELECT_IF_GTE, nullptr));
    return tall ? CountPixels(tall.Get()) : 0;
}

}  // namespace

void FixedSetMatch(CFontMeasure& fonts, const SheetLayout& layout, const SheetPage& page, const CAnswerShift& shift,
                   int field, AnswerWork& p, FieldReading& reading) {
    const SheetField& f = kSheetFields[field];
    const AnswerSpot& a = layout.answers[field];
    const Transform& t = page.t;
    PIX* binary = page.binary.Get();
    const int offset = shift.At(t.X(a.x), p.y0);
    CBestMatch match;
    // Only values near the reading, or as wide as the ink, are drawn: the others cannot
    // match it, and drawing a whole country list on every page costs time.
    const int seenWidth = p.right - p.left;
    const int blank = t.X(a.x + fonts.Advance(a.ppem, true, ' ')) - t.X(a.x);
    const std::u32string seenChars = Confusable(DecodeUtf8(reading.seen));
    for (const std::string& candidate : p.set) {
        std::string codePage;
        int inkLeft = 0, inkRight = 0;
        if (!Utf8ToWindows1252(candidate, codePage) || !fonts.InkExtent(a.ppem, true, codePage, inkLeft, inkRight))
            continue;
        const int width = static_cast<int>(std::lround((inkRight - inkLeft) * t.sx));
        const std::u32string chars = Confusable(DecodeUtf8(candidate));
        if (std::abs(width - seenWidth) > std::max(20, seenWidth / 5) &&
            DistanceToWords(seenChars, chars) > std::max(2, static_cast<int>(chars.size()) / 3))
            continue;
        // The value is checked in its own columns and a blank around them; beyond, only
        // marks as tall as a letter count against it: specks of fax noise there are no
        // part of any value.
        const int from = t.X(a.x + inkLeft) + offset - blank, to = from + width + 2 * blank;
        const int score = DrawingMismatch(fonts, binary, t, a, codePage, offset, std::max(p.x0, from), p.y0,
                                          std::min(p.x1, to), p.y1, kInkNear) +
                          LetterInk(binary, p.x0, p.y0, p.x1, p.y1, from, to, a.ppem * 2 / 5);
        match.Offer(score, candidate);
    }
    reading.inkMismatch = match.best;
    const int tolerance = page.grain.InkTolerance();
    if (match.ClearlyAhead(tolerance)) {
        reading.value = match.value;
        if (p.outsideSet) reading.confidence = kTextConfidence;
        p.Withdraw(DoubtStage::FirstReading);
    } else if (!p.Doubtful()) {
        const std::string quoted = IsSecretField(f.member) ? std::string() : "\"" + reading.seen + "\" ";
        // The values whose drawings came closest, other than the one stored.
        std::vector<std::string> rivals;
        for (const std::string* value : {&match.value, &match.runnerUp})
            if (!value->empty() && *value != reading.value) rivals.push_back(*value);
        if (match.best > tolerance)
            p.Raise(DoubtRank::SetValueUnsure, DoubtStage::FixedSetMatch, desk::DoubtKind::InkMismatch,
                    quoted + "does not match the ink on the page", rivals);
        else
            p.Raise(DoubtRank::SetValueUnsure, DoubtStage::FixedSetMatch, desk::DoubtKind::Rival,
                    quoted + "could as well be another of its values", rivals);
    }
}

}  // namespace sheet
