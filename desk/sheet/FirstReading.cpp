// First reading: owns what the recogniser makes of each answer's box before the ink is asked:
// the reading tidied, a fixed set's nearest value, a date in its printed form, and the doubts a
// reading raises on its own (unsure, no date, no address, none of the values).
#include <algorithm>

#include "desk/sheet/ReaderStages.h"
#include "desk/sheet/TextRules.h"
#include "output/MailRecord.h"
#include "res/resource.h"

namespace sheet {

namespace {

using desk::DoubtKind;

// What the recogniser reads in the box: Tesseract gets the ink and a little white around it (a
// short answer alone in a long empty box was sometimes not read at all).
std::string ReadBox(CRecogniser& ocr, const AnswerWork& p, int& confidence) {
    confidence = 0;
    if (p.ink < kLeastAnswerInk) return std::string();
    const int x0 = std::max(p.x0, p.left - 12), x1 = std::min(p.x1, p.right + 12);
    std::string seen = ocr.Line(x0, p.y0, x1, p.y1, confidence);
    // Tesseract drops a very short line ("ja") now and then; as a single word it reads it.
    if (seen.empty()) seen = ocr.Word(x0, p.y0, x1, p.y1, confidence);
    if (!seen.empty()) seen = WithoutStrayMarks(seen);
    // What is left of an erased label's last mark sticks to an answer that ran over it.
    while (p.overflow && !seen.empty() && std::string(".,:;'`").find(seen.back()) != std::string::npos)
        seen.pop_back();
    return seen;
}

// Nothing read where ink is: the values of the set are drawn in the answer font, and one that
// matches the ink far better than every other is taken.
std::string SetValueFromInk(CFontMeasure& fonts, const SheetPage& page, const AnswerSpot& a, const AnswerWork& p,
                            const std::vector<std::string>& set) {
    CBestMatch match;
    for (const std::string& candidate : set) {
        std::string codePage;
        int inkLeft = 0, inkRight = 0;
        if (!Utf8ToWindows1252(candidate, codePage) || !fonts.InkExtent(a.ppem, true, codePage, inkLeft, inkRight))
            continue;
        const int score = DrawingMismatch(fonts, page.binary.Get(), page.t, a, codePage,
                                          p.left - page.t.X(a.x + inkLeft), p.x0, p.y0, p.x1, p.y1, 3);
        match.Offer(score, candidate);
    }
    return match.ClearlyAhead(20) ? match.value : std::string();
}

// A reading made into the field's value where a rule without the image can, with the doubt that
// leaves; `printed` is what the ink must show.
std::string FirstValue(const SheetField& field, const std::string& seen, int confidence,
                       const std::vector<std::string>& set, const std::string& no, AnswerWork& p,
                       FieldReading& reading, std::string& printed) {
    const auto quoted = [&](const std::string& text) {
        return IsSecretField(field.member) ? std::string() : "\"" + text + "\" ";
    };
    std::string value = FoldToCodePage(seen);
    if (field.kind == FieldKind::Mail) {
        // An address holds no comma and no blank: on a fax a comma is a period with a tail
        // of noise. The ink check still has to agree.
        value.erase(std::remove(value.begin(), value.end(), ' '), value.end());
        std::replace(value.begin(), value.end(), ',', '.');
    }
    printed = value;
    const DoubtStage stage = DoubtStage::FirstReading;
    if (!set.empty()) {
        const std::u32string seenChars = Confusable(DecodeUtf8(seen));
        CBestMatch nearest;
        for (const std::string& candidate : set)
            nearest.Offer(Distance(seenChars, Confusable(DecodeUtf8(candidate))), candidate);
        const int allowed = std::max(1, static_cast<int>(DecodeUtf8(nearest.value).size()) / 4);
        if (nearest.best <= allowed && nearest.second > nearest.best) {
            // The ink check decides whether the near miss really is this value.
            value = nearest.value;
            reading.confidence = std::max(0, std::min(confidence, 100 - 10 * nearest.best));
        } else if (field.kind != FieldKind::PurchasedBefore) {
            p.Raise(DoubtRank::Reading, stage, DoubtKind::NotInList, quoted(seen) + "is none of its values",
                    {nearest.value});
            p.outsideSet = true;
        }
        // An earlier product is a free text: its "nein" is only checked against the ink.
        if (field.kind != FieldKind::PurchasedBefore) p.set = set;
        printed = value;
        if (field.kind == FieldKind::PurchasedBefore && value == no) value.clear();
    } else if (field.kind == FieldKind::Date) {
        // The date is printed as dd.mm.yyyy: eight digits and two periods. The ink check still
        // has to agree.
        value = DateFromReading(value);
        printed = value;
        if (!ValidDate(value)) p.Raise(DoubtRank::Reading, stage, DoubtKind::BadForm, quoted(seen) + "is no date");
    } else if (field.kind == FieldKind::Mail && !PlausibleMail(value)) {
        p.Raise(DoubtRank::Reading, stage, DoubtKind::BadForm, quoted(seen) + "is no e-mail address");
    } else if (confidence < kTextConfidence) {
        p.Raise(DoubtRank::Reading, stage, DoubtKind::LowConfidence,
                IsSecretField(field.member) ? "unsure reading" : "unsure reading \"" + seen + "\"");
        p.unsure = true;
    } else if (field.kind == FieldKind::Password && HoldsOneStroke(seen)) {
        p.Raise(DoubtRank::Reading, stage, DoubtKind::LooksAlike, "holds I or l, which look alike on paper");
    }
    if (p.overflow)
        p.Raise(DoubtRank::RunsOverUnchecked, stage, DoubtKind::OverLabel, "runs over the printed text beside it");
    return value;
}

}  // namespace

std::vector<std::string> FieldValues(const CResourceText& texts, const SheetField& field) {
    std::vector<std::string> set;
    const std::string no = Windows1252ToUtf8(texts.String(IDS_NO));
    switch (field.kind) {
        case FieldKind::YesNo: set = {Windows1252ToUtf8(texts.String(IDS_YES)), no}; break;
        case FieldKind::List:
        case FieldKind::Country: {
            // A survey list's first item means "no answer" and is never printed.
            const auto& items = texts.List(texts.Id(field.listControl));
            for (std::size_t k = field.kind == FieldKind::List ? 1 : 0; k < items.size(); ++k)
                set.push_back(Windows1252ToUtf8(items[k]));
            break;
        }
        case FieldKind::PurchasedBefore: set = {no}; break;
        default: break;
    }
    return set;
}

void FirstReading(CRecogniser& ocr, CFontMeasure& fonts, const CResourceText& texts, const SheetLayout& layout,
                  const SheetPage& page, int field, AnswerWork& p, FieldReading& reading, CAnswerShift& shift) {
    const SheetField& f = kSheetFields[field];
    const AnswerSpot& a = layout.answers[field];
    int confidence = 0;
    std::string seen = ReadBox(ocr, p, confidence);
    const std::vector<std::string> set = FieldValues(texts, f);
    if (seen.empty() && p.ink >= kLeastAnswerInk && !set.empty()) {
        seen = SetValueFromInk(fonts, page, a, p, set);
        if (!seen.empty()) confidence = kTextConfidence;
    }
    reading.seen = seen;
    if (seen.empty()) {
        // A blank run: no answer. Some answers are always printed.
        reading.confidence = 100;
        if (f.alwaysPrinted)
            p.Raise(DoubtRank::Reading, DoubtStage::FirstReading, DoubtKind::Missing,
                    "no answer where one is always printed");
        else if (p.ink >= kLeastAnswerInk)
            p.Raise(DoubtRank::Reading, DoubtStage::FirstReading, DoubtKind::InkMismatch, "marks that are no text");
        return;
    }
    reading.confidence = confidence;
    std::string printed;
    const std::string value =
        FirstValue(f, seen, confidence, set, Windows1252ToUtf8(texts.String(IDS_NO)), p, reading, printed);
    // A list answer is one of its values or none: what the recogniser made of marks that
    // are none of them is named on the review list, not stored.
    reading.value = p.outsideSet ? std::string() : value;
    if (!Utf8ToWindows1252(printed, p.printed)) {
        if (!p.Doubtful())
            p.Raise(DoubtRank::CodePage, DoubtStage::FirstReading, DoubtKind::BadForm,
                    IsSecretField(f.member) ? "characters the form cannot hold"
                                            : "characters the form cannot hold in \"" + seen + "\"");
        p.printed.clear();
        return;
    }
    int inkLeft = 0, inkRight = 0;
    if (!p.overflow && fonts.InkExtent(a.ppem, true, p.printed, inkLeft, inkRight))
        shift.Add(page.t.X(a.x), p.y0, p.left - page.t.X(a.x + inkLeft));
}

}  // namespace sheet
