// Text mend: owns the ink matcher for the answers that are free text (names, places, addresses,
// passwords, dates, an earlier product). A text is drawn in the answer font where the layout put
// it and compared with the ink: the reading is improved one character at a time while that
// explains the ink clearly better, and then trusted only when it matches and no text one
// character away comes close.
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstring>

#include "desk/sheet/ReaderStages.h"
#include "desk/sheet/TextRules.h"
#include "output/MailRecord.h"

namespace sheet {

namespace {

using desk::DoubtKind;

// One answer's mend: its ink, its drawing and what the field may hold.
class CAnswerMend {
public:
    CAnswerMend(CFontMeasure& fonts, CGlyphSet& glyphs, const SheetPage& page, const AnswerSpot& a, const SheetField& f,
                const AnswerWork& p, int offset, Pix* ink, Pix* around, int bx0, int by0)
        : fonts_(fonts), glyphs_(glyphs), page_(page), a_(a), field_(f), p_(p), offset_(offset), ink_(ink),
          around_(around), penX_(page.t.X(a.x) + offset - bx0), baseline_(page.t.Y(a.y + a.metrics.ascent) - by0),
          match_(glyphs, ink, false, penX_, baseline_, around), fax_(page.grain.Fax()), tolerance_(page.grain.InkTolerance()) {}

    // Mends the reading and raises the doubts that leave; `no` is the sheet's "nein" (UTF-8).
    void Mend(AnswerWork& work, FieldReading& reading, const std::string& no);

private:
    // The ink check of a text in this box; the same text comes up several times on the way
    // (reading, mend, spelling, the value kept), and a check costs dozens of placements.
    int InkOf(const std::string& text);
    // What the field can hold: a mend or a rival outside it is no reading (the drawing made
    // "Till" into "Til!" where the scan had run the two l together).
    bool Possible(const std::string& edit) const;
    std::string MendByDrawing(const std::string& reading);
    std::string SpellRejected(std::string best);
    std::string SettleDots(std::string best);
    std::string SpellPassword(std::string best);
    std::string MendTopLevel(std::string best, std::string& madeUp);
    void RaiseDoubts(AnswerWork& work, FieldReading& reading, const std::string& best, bool doubtful,
                     const std::string& madeUp, const std::string& no);

    CFontMeasure& fonts_;
    CGlyphSet& glyphs_;
    const SheetPage& page_;
    const AnswerSpot& a_;
    const SheetField& field_;
    const AnswerWork& p_;
    const int offset_;
    Pix* ink_;
    Pix* around_;
    const int penX_, baseline_;
    CInkMatch match_;
    // On a fax the letters' edges are too coarse to overrule the recogniser letter by letter
    // where its reading matches the ink (the drawing made an "l" into a "!" where the fax broke a
    // stroke): there only a reading the ink rejects is improved, and by blots, not edges.
    const bool fax_;
    const int tolerance_;
    bool noProduct_ = false;
    std::map<std::string, int> checked_;
};

int CAnswerMend::InkOf(const std::string& text) {
    auto known = checked_.find(text);
    if (known == checked_.end()) {
        PIX* page = p_.overflow ? page_.original.Get() : page_.binary.Get();
        PIX* around = p_.overflow ? page_.labels.Get() : nullptr;
        known = checked_
                    .emplace(text, DrawingMismatch(fonts_, page, page_.t, a_, text, offset_, p_.x0, p_.y0, p_.x1,
                                                   p_.y1, kInkNear, around))
                    .first;
    }
    return known->second;
}

bool CAnswerMend::Possible(const std::string& edit) const {
    if (field_.marks && !NameLike(edit, field_.marks)) return false;
    // A street or town holds no digit between two small letters: that is a faxed sharp s or a b
    // ("Schlo8allee").
    if (field_.kind == FieldKind::Place && DigitInsideWord(edit)) return false;
    if (field_.kind != FieldKind::Password && MarkInsideWord(edit)) return false;
    if (field_.kind == FieldKind::Date) return ValidDate(edit);
    return field_.kind != FieldKind::Mail || PlausibleMail(edit);
}

// The reading improved by its drawing. A date holds only digits, which the drawing tells apart
// where the recogniser took a faxed 5 for an 8: it is mended as on a scan, and a mend stays on
// the review list.
std::string CAnswerMend::MendByDrawing(const std::string& reading) {
    const bool date = field_.kind == FieldKind::Date;
    const int readingMismatch = InkOf(reading);
    const bool rejected = fax_ && readingMismatch > tolerance_;
    const auto possible = [this](const std::string& edit) { return Possible(edit); };
    if (noProduct_ || !(!fax_ || rejected || date)) return reading;
    std::string best;
    if (fax_ && !date) {
        CInkMatch coarse(glyphs_, ink_, true, penX_, baseline_, around_);
        best = coarse.Improve(reading, tolerance_, 2, possible);
    } else {
        best = match_.Improve(reading, page_.grain.InkMargin() / 2, 3, possible);
    }
    // A drawing that the ink still rejects says nothing better than the reading did (the page
    // may be placed wrong): the reading stands, for a person to look at. An answer over a label
    // goes to a person anyway; there a mend that explains the ink clearly better is kept (the
    // label's drawing never fits its ink quite).
    const int mended = InkOf(best);
    if (mended > tolerance_ && !(p_.overflow && mended + tolerance_ < readingMismatch)) best = reading;
    return best;
}

// A reading the ink still rejects (the recogniser cut "Till" to "Ti") is spelt from the ink
// letter by letter; that is taken when it matches, or when it explains the ink several times
// better than a reading placed wrong by a letter too many (a speck read as an umlaut): then a
// person still looks at it.
std::string CAnswerMend::SpellRejected(std::string best) {
    if (noProduct_ || field_.kind == FieldKind::Password || InkOf(best) <= tolerance_) return best;
    const std::string spelt = match_.Spell(best, true);
    if (!spelt.empty() && spelt.back() != ' ' && spelt.find("  ") == std::string::npos && Possible(spelt) &&
        (InkOf(spelt) <= tolerance_ || 4 * InkOf(spelt) < InkOf(best)) && match_.Margin(spelt, best) > 0)
        best = spelt;
    return best;
}

// A small i and an l differ on the page only in the gap under the i's dot, which a comparison
// that forgives every edge by a pixel cannot see and a recogniser guesses at from the word:
// where the ink shows the gap, or a stroke inked through, that settles the letter.
std::string CAnswerMend::SettleDots(std::string best) {
    // A text the ink rejects in a few places (a speck, a letter) still stands on its strokes;
    // one it rejects wholesale stands where the page has other letters.
    if (noProduct_ || !page_.grain.DotsTell() || InkOf(best) > 8 * tolerance_) return best;
    std::string settled = best;
    for (std::size_t k = 0; k < best.size(); ++k) {
        // A speck beside the stem makes an i into an f or t for the drawing, but neither has a
        // gap across its stem.
        if (!best[k] || !std::strchr("ilIft!", best[k])) continue;
        const int gap = match_.StrokeGap(best, k);
        // A fax may break a t's stem below its bar; the bar still says t.
        if (gap > 0 && best[k] != '!' && ((best[k] != 't' && best[k] != 'f') || !match_.BarBeside(best, k)))
            settled[k] = 'i';
        // A ! has its gap over the dot at the baseline: one inked through is an l.
        if (gap < 0 && (best[k] == 'i' || best[k] == '!')) settled[k] = 'l';
        // A speck beside an l makes it a t or an f: their bar also reaches left.
        if (gap < 0 && (best[k] == 't' || best[k] == 'f') && !match_.BarBeside(best, k)) settled[k] = 'l';
    }
    if (settled != best && Possible(settled)) best = settled;
    return best;
}

// No word tells the recogniser a password's letters, and it often puts in or drops one: the
// letters that explain the ink one by one are taken instead when they match it better.
std::string CAnswerMend::SpellPassword(std::string best) {
    const std::string spelt = match_.Spell(best, false);
    if (!spelt.empty() && spelt != best && InkOf(spelt) < InkOf(best) && match_.Margin(spelt, best) > 0) best = spelt;
    best = SettleDots(best);
    // Nothing around a password tells an I from an l; only the stroke's height does, by a pixel
    // or two: the taller one is stored, and a person still confirms it.
    return match_.SettleByHeight(best);
}

// An address the ink rejects, whose top-level domain does not exist, lost a letter (at the
// page's edge, as a rule): the existing one a letter away is taken when the ink explains it
// better, and a person confirms it. (A domain the list does not know that the ink bears out
// stays as it is.)
std::string CAnswerMend::MendTopLevel(std::string best, std::string& madeUp) {
    if (field_.kind != FieldKind::Mail || !PlausibleMail(best) || KnownTopLevel(best) || InkOf(best) <= tolerance_)
        return best;
    std::string nearest;
    for (const std::string& near : NearTopLevels(best))
        if (nearest.empty() || InkOf(near) < InkOf(nearest)) nearest = near;
    if (!nearest.empty() && InkOf(nearest) < InkOf(best)) {
        madeUp = best.substr(best.rfind('.'));
        best = nearest;
    }
    return best;
}

void CAnswerMend::Mend(AnswerWork& work, FieldReading& reading, const std::string& no) {
    const std::string& printed = p_.printed;
    const bool mail = field_.kind == FieldKind::Mail, password = field_.kind == FieldKind::Password;
    const bool typed = TypedText(field_.kind) && !password;
    // "nein" for an earlier product is only checked: anything else there is a title.
    noProduct_ = field_.kind == FieldKind::PurchasedBefore && reading.value.empty();
    std::string best = SpellRejected(MendByDrawing(printed));
    bool doubtful = false, readingDoubtful = false;
    std::string reading1 = printed;  // the reading, its I and l settled as the mend's
    if (typed) {
        best = SettleOneStroke(best, mail, doubtful);
        reading1 = SettleOneStroke(printed, mail, readingDoubtful);
    }
    if (best != reading1 && ((Possible(reading1) && !Possible(best)) || match_.Margin(best, reading1) < 0)) {
        // A mend that breaks the field's form, or that the pixels only one of the two drawings
        // covers reject (it followed edges): the reading stands.
        best = reading1;
        doubtful = readingDoubtful;
    }
    // The strokes are looked at after that: where a speck decides between two drawings
    // ("baerbef" for "baerbel"), the gap and the bar still tell the letter.
    if (!password) {
        best = SettleDots(best);
        if (typed) best = SettleOneStroke(best, mail, doubtful);
    } else {
        best = SpellPassword(best);
    }
    std::string madeUp;
    best = MendTopLevel(best, madeUp);
    RaiseDoubts(work, reading, best, doubtful, madeUp, no);
}

void CAnswerMend::RaiseDoubts(AnswerWork& work, FieldReading& reading, const std::string& best, bool doubtful,
                              const std::string& madeUp, const std::string& no) {
    const bool secret = IsSecretField(field_.member), mail = field_.kind == FieldKind::Mail;
    const auto quoted = [&](const std::string& text) { return secret ? std::string() : "\"" + text + "\" "; };
    const auto possible = [this](const std::string& edit) { return Possible(edit); };
    const CInkMatch::Rival rival = match_.Closest(best, possible, field_.kind == FieldKind::Password);
    reading.rivalMargin = rival.margin;
    reading.inkMismatch = InkOf(best);
    // The ink has spoken: an unsure recogniser is no doubt of its own any more.
    work.Withdraw(DoubtKind::LowConfidence);
    const DoubtStage stage = DoubtStage::TextMend;
    if (best != p_.printed) {
        // The mend replaces the reading, and what the first reading doubted of it.
        work.Withdraw(DoubtStage::FirstReading);
        reading.value = Windows1252ToUtf8(best);
        bool ignored = false;
        if (field_.kind == FieldKind::Date && !ValidDate(reading.value))
            work.Raise(DoubtRank::Reading, stage, DoubtKind::BadForm, quoted(reading.value) + "is no date");
        else if (mail && !PlausibleMail(reading.value))
            work.Raise(DoubtRank::Reading, stage, DoubtKind::BadForm, quoted(reading.value) + "is no e-mail address");
        else if (fax_ && SettleOneStroke(p_.printed, mail, ignored) != best)
            // On a fax a reading the drawing mended stays for a person to confirm.
            work.Raise(DoubtRank::Reading, stage, DoubtKind::Mended,
                       secret ? "mended by its drawing" : "read as \"" + reading.seen + "\", mended by its drawing",
                       secret ? std::vector<std::string>{} : std::vector<std::string>{reading.seen});
    }
    if (reading.inkMismatch > tolerance_)
        work.Raise(DoubtRank::InkRejects, stage, DoubtKind::InkMismatch,
                   quoted(reading.value) + "does not match the ink on the page");
    if (!rival.text.empty() && rival.margin < (best == p_.printed && !p_.unsure ? 1 : page_.grain.InkMargin()))
        work.Raise(DoubtRank::Rival, stage, DoubtKind::Rival,
                   secret ? "could as well be another text one letter apart"
                          : "\"" + reading.value + "\" could as well be \"" + Windows1252ToUtf8(rival.text) + "\"",
                   {Windows1252ToUtf8(rival.text)});
    if (doubtful)
        work.Raise(DoubtRank::OneStrokeByContext, stage, DoubtKind::LooksAlike,
                   quoted(reading.value) + "has an I or l that only its context tells");
    if (field_.kind == FieldKind::Password && HoldsOneStroke(reading.value))
        work.Raise(DoubtRank::PasswordOneStroke, stage, DoubtKind::LooksAlike,
                   "holds I or l, which look alike on paper");
    // Nothing but the ink tells a password's letters, and a fax blurs some of them into others
    // (a 6 into a sharp s): a person confirms every password read from a fax.
    if (field_.kind == FieldKind::Password && fax_)
        work.Raise(DoubtRank::PasswordFromFax, stage, DoubtKind::ReadFromFax, "password read from a fax");
    if (!madeUp.empty())
        work.Raise(DoubtRank::TopLevelMended, stage, DoubtKind::Mended,
                   "\"" + madeUp + "\" is no top-level domain, taken as \"" + best.substr(best.rfind('.')) + "\"",
                   {Windows1252ToUtf8(best.substr(0, best.rfind('.')) + madeUp)});
    if (p_.overflow)
        work.Raise(DoubtRank::RunsOver, stage, DoubtKind::OverLabel, "runs over the printed text beside it");
    // The usual answer for an earlier product is "nein", and a coarse fax can make it "nem" (the
    // i's dot lost) so that the ink prefers the wrong text: a title that near it is taken for
    // "nein" (no earlier product), for a person to confirm.
    if (field_.kind == FieldKind::PurchasedBefore && !noProduct_ &&
        Distance(DecodeUtf8(Windows1252ToUtf8(best)), DecodeUtf8(no)) <= 2) {
        work.Raise(DoubtRank::TakenForNo, stage, DoubtKind::Mended, "\"" + reading.seen + "\" taken for \"" + no + "\"",
                   {reading.seen});
        reading.value.clear();
    }
}

}  // namespace

CTextMend::CTextMend(CFontMeasure& fonts, const SheetLayout& layout, const SheetPage& page, const CAnswerShift& shift,
                     const std::string& no)
    : fonts_(fonts), layout_(layout), page_(page), shift_(shift), no_(no) {}

void CTextMend::Mend(int field, AnswerWork& p, FieldReading& reading) {
    const AnswerSpot& a = layout_.answers[field];
    const Transform& t = page_.t;
    const int offset = shift_.At(t.X(a.x), p.y0);
    // An answer that runs over a label is compared with the ink of both, the label drawn where it
    // was found.
    PIX* page = p.overflow ? page_.original.Get() : page_.binary.Get();
    PIX* around = p.overflow ? page_.labels.Get() : nullptr;
    const int bx0 = std::max(0, p.x0), by0 = std::max(0, p.y0);
    BOX* box = boxCreate(bx0, by0, std::max(1, p.x1 - bx0), std::max(1, p.y1 - by0));
    CPix ink(pixClipRectangle(page, box, nullptr));
    CPix printedAround(around ? pixClipRectangle(around, box, nullptr) : nullptr);
    boxDestroy(&box);
    if (!ink) return;
    auto set = glyphs_.find(a.ppem);
    if (set == glyphs_.end())
        set = glyphs_.emplace(a.ppem, std::make_unique<CGlyphSet>(fonts_, a.ppem, true, t.sx, t.sy)).first;
    CAnswerMend mend(fonts_, *set->second, page_, a, kSheetFields[field], p, offset, ink.Get(), printedAround.Get(),
                     bx0, by0);
    mend.Mend(p, reading, no_);
}

}  // namespace sheet
