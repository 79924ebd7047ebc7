// Ink compare: owns how a drawing is compared with the ink: the mismatch of one text drawn
// into an answer's box, the search for the edit that explains the ink better, the rival one edit
// away, and the margin by which the ink prefers one drawing to another.
#include "desk/sheet/InkCompare.h"

#include "desk/sheet/ReaderStages.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

namespace sheet {

namespace {

bool OneStroke(unsigned char a, unsigned char b) {
    return (a == 'I' && b == 'l') || (a == 'l' && b == 'I');
}

}  // namespace

CInkMatch::CInkMatch(CGlyphSet& glyphs, Pix* ink, bool coarse, int x, int baseline, Pix* around)
    : glyphs_(glyphs), coarse_(coarse), penX_(x), penBaseline_(baseline), x_(x), baseline_(baseline) {
    // The box gets a white border: a text drawn past its edges is charged for what it puts
    // there, instead of losing it for free.
    const int w = pixGetWidth(ink) + 2 * kBorder, h = pixGetHeight(ink) + 2 * kBorder;
    ink_ = CPix(pixCreate(w, h, 1));
    if (ink_) pixRasterop(ink_.Get(), kBorder, kBorder, pixGetWidth(ink), pixGetHeight(ink), PIX_SRC, ink, 0, 0);
    if (ink_) inkNear_ = CPix(pixDilateBrick(nullptr, ink_.Get(), 3, 3));
    if (ink_ && around) {
        around_ = CPix(pixCreate(w, h, 1));
        if (around_)
            pixRasterop(around_.Get(), kBorder, kBorder, pixGetWidth(around), pixGetHeight(around), PIX_SRC, around, 0, 0);
    }
}

CPix CInkMatch::Draw(const std::string& text, int x0, int x1, std::size_t split, int dx) {
    CPix drawn(pixCreate(std::max(1, x1 - x0), pixGetHeight(ink_.Get()), 1));
    if (!drawn) return drawn;
    const std::vector<int> pens = glyphs_.Pens(text);
    for (std::size_t k = 0; k < text.size(); ++k) {
        const CGlyphSet::Glyph& g = glyphs_.Get(static_cast<unsigned char>(text[k]));
        const int gx = kBorder + x_ + pens[k] + g.left - x0 + (k < split ? dx : 0);
        if (!g.pix || gx >= x1 - x0 || gx + pixGetWidth(g.pix.Get()) <= 0) continue;
        pixRasterop(drawn.Get(), gx, kBorder + baseline_ + g.top, pixGetWidth(g.pix.Get()), pixGetHeight(g.pix.Get()),
                    PIX_SRC | PIX_DST, g.pix.Get(), 0, 0);
    }
    if (around_)
        pixRasterop(drawn.Get(), 0, 0, x1 - x0, pixGetHeight(drawn.Get()), PIX_SRC | PIX_DST, around_.Get(), x0, 0);
    return drawn;
}

CPix CInkMatch::Columns(Pix* pix, int x0, int x1) {
    BOX* box = boxCreate(x0, 0, std::max(1, x1 - x0), pixGetHeight(pix));
    CPix part(pixClipRectangle(pix, box, nullptr));
    boxDestroy(&box);
    return part;
}

std::pair<int, int> CInkMatch::Span(const std::string& a, const std::string& b) {
    std::size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
    std::size_t ea = a.size(), eb = b.size();
    while (ea > k && eb > k && a[ea - 1] == b[eb - 1]) --ea, --eb;
    const std::vector<int> pa = glyphs_.Pens(a), pb = glyphs_.Pens(b);
    // A glyph's ink reaches a little past its advance either way.
    const int reach = glyphs_.Ppem() / 2 + 2;
    const int w = pixGetWidth(ink_.Get());
    const int x0 = kBorder + x_ + std::min(pa[k], pb[k]) - reach;
    // Behind the edit the texts agree; when they also stand at the same place there, their
    // drawings agree too.
    const int x1 = pa[ea] == pb[eb] ? kBorder + x_ + pa[ea] + reach : w;
    return {std::clamp(x0, 0, w - 1), std::clamp(x1, 1, w)};
}

int CInkMatch::Mismatch(const std::string& text, int x0, int x1, std::size_t split, int dx) {
    CPix drawn(Draw(text, x0, x1, split, dx));
    CPix ink(Columns(ink_.Get(), x0, x1));
    if (!drawn || !ink) return kUnmeasured;
    if (!coarse_) {
        pixXor(drawn.Get(), drawn.Get(), ink.Get());
        return CountPixels(drawn.Get());
    }
    CPix inkNear(Columns(inkNear_.Get(), x0, x1));
    CPix drawnNear(pixDilateBrick(nullptr, drawn.Get(), 3, 3));
    if (!inkNear || !drawnNear) return kUnmeasured;
    int total = 0;
    for (auto [a, b] : {std::pair{ink.Get(), drawnNear.Get()}, std::pair{drawn.Get(), inkNear.Get()}}) {
        CPix diff(pixSubtract(nullptr, a, b));
        // Blots that reach three pixels each way; a thinner speck or sliver is what a coarse
        // page does to any edge.
        total += diff ? BlotPixels(diff.Get(), 3) : 0;
    }
    return total;
}

int CInkMatch::Mismatch(const std::string& text) { return ink_ ? Mismatch(text, 0, pixGetWidth(ink_.Get())) : kUnmeasured; }

void CInkMatch::PlaceAtPen(const std::string& text) {
    if (placed_ && *placed_ == text) return;
    Place(text, penX_, penBaseline_, 5, 2);
    placed_ = text;
}

void CInkMatch::Place(const std::string& text, int x, int baseline, int rangeX, int rangeY) {
    placed_.reset();
    int best = kNoScore, bestX = x, bestY = baseline;
    for (int dy = -rangeY; dy <= rangeY; ++dy) {
        for (int dx = -rangeX; dx <= rangeX; ++dx) {
            x_ = x + dx, baseline_ = baseline + dy;
            const int score = Mismatch(text);
            // Ties go to the placement nearest the expected one.
            if (score < best || (score == best && std::abs(dx) + std::abs(dy) <
                                                       std::abs(bestX - x) + std::abs(bestY - baseline))) {
                best = score, bestX = x_, bestY = baseline_;
            }
        }
    }
    x_ = bestX, baseline_ = bestY;
}

std::vector<std::string> CInkMatch::Edits(const std::string& text, bool everywhere, bool anyWidth) {
    // Where the drawing of `text` disagrees with the ink: disagreeing pixels per column.
    std::vector<char> wide(text.size() + 1, 0);
    if (everywhere) {
        const int w = pixGetWidth(ink_.Get()), h = pixGetHeight(ink_.Get());
        CPix diff(Draw(text, 0, w));
        if (diff) pixXor(diff.Get(), diff.Get(), ink_.Get());
        // Edges disagree by a pixel everywhere: only what is left after an opening counts.
        CPix disagree(diff ? pixOpenBrick(nullptr, diff.Get(), 2, 2) : nullptr);
        std::vector<int> column(w, 0);
        if (disagree) {
            const l_uint32* data = pixGetData(disagree.Get());
            const int wpl = pixGetWpl(disagree.Get());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (GET_DATA_BIT(data + y * wpl, x)) ++column[x];
        }
        const std::vector<int> pens = glyphs_.Pens(text);
        // Per character cell (and the space behind the text), the disagreement in it; the
        // three worst cells, and their neighbours, get every edit.
        std::vector<std::pair<int, std::size_t>> cells;
        for (std::size_t k = 0; k <= text.size(); ++k) {
            const int from = kBorder + x_ + pens[k] - 2;
            const int to = k < text.size() ? kBorder + x_ + pens[k + 1] + 2 : w;
            int sum = 0;
            for (int x = std::max(0, from); x < std::min(w, to); ++x) sum += column[x];
            if (sum > 8) cells.push_back({sum, k});
        }
        std::sort(cells.rbegin(), cells.rend());
        if (cells.size() > 3) cells.resize(3);
        for (auto [sum, k] : cells) {
            wide[k] = 1;
            if (k > 0) wide[k - 1] = 1;
            if (k < text.size()) wide[k + 1] = 1;
        }
    }
    // Where the ink agrees, only edits that leave the rest of the text where it is can come
    // close: a character changed for one as wide, and anything at the end. A character put in
    // or left out anywhere else moves every letter behind it.
    const std::string alphabet = everywhere ? std::string(kCommon) : std::string(kCommon) + kRare;
    std::vector<std::string> edits;
    for (std::size_t k = 0; k <= text.size(); ++k) {
        const bool end = k + 1 >= text.size();
        for (const char* a = alphabet.c_str(); *a; ++a) {
            const unsigned char c = static_cast<unsigned char>(*a);
            if (wide[k] || k == text.size()) edits.push_back(text.substr(0, k) + *a + text.substr(k));
            if (k == text.size() || static_cast<unsigned char>(text[k]) == c) continue;
            const long own = glyphs_.Get(static_cast<unsigned char>(text[k])).advance;
            if ((wide[k] || end || anyWidth || std::labs(glyphs_.Get(c).advance - own) < 48) &&
                !(!everywhere && OneStroke(static_cast<unsigned char>(text[k]), c))) {
                std::string changed = text;
                changed[k] = *a;
                edits.push_back(changed);
            }
        }
        if (k < text.size() && (wide[k] || end)) edits.push_back(text.substr(0, k) + text.substr(k + 1));
        // Two narrow letters where one wide one was printed ("rn" for "m") are mended in one
        // step: neither half of it explains the ink better on its own.
        if (everywhere && wide[k] && k + 1 < text.size())
            for (const char* a = alphabet.c_str(); *a; ++a) edits.push_back(text.substr(0, k) + *a + text.substr(k + 2));
    }
    // Blanks only between words: a leading, trailing or doubled blank is never printed.
    edits.erase(std::remove_if(edits.begin(), edits.end(),
                               [](const std::string& e) {
                                   return e.empty() || e.front() == ' ' || e.back() == ' ' ||
                                          e.find("  ") != std::string::npos;
                               }),
                edits.end());
    return edits;
}

int CInkMatch::SuffixShift(const std::string& a, const std::string& b, std::size_t& suffix) {
    std::size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
    std::size_t ea = a.size(), eb = b.size();
    while (ea > k && eb > k && a[ea - 1] == b[eb - 1]) --ea, --eb;
    suffix = ea;
    if (ea == a.size() && eb == b.size()) return 0;  // an edit at the end moves nothing
    return glyphs_.Pens(b)[eb] - glyphs_.Pens(a)[ea];
}

std::string CInkMatch::Improve(const std::string& text, int gain, int rounds,
                               const std::function<bool(const std::string&)>& possible) {
    PlaceAtPen(text);
    std::string current = text;
    for (int round = 0; round < rounds; ++round) {
        // Each edit is measured only where its drawing can differ from the current one.
        std::string best;
        int bestGain = gain, bestX = x_;
        std::map<std::pair<int, int>, int> own;  // the current text's mismatch, by span
        // The current text's mismatch in front of a suffix, as placed or with its front moved.
        std::map<std::pair<std::size_t, int>, int> inFront;
        const std::vector<int> pens = glyphs_.Pens(current);
        for (const std::string& edit : Edits(current, true)) {
            if (possible && !possible(edit)) continue;
            const auto span = Span(current, edit);
            auto known = own.find(span);
            if (known == own.end()) known = own.emplace(span, Mismatch(current, span.first, span.second)).first;
            const int g = known->second - Mismatch(edit, span.first, span.second);
            if (g > bestGain) bestGain = g, best = edit, bestX = x_;
            // A character put in, left out or changed for a wider one moves the letters behind
            // it; when the text was placed to fit those, the letters in front move instead
            // (a recogniser's extra mark at the start of a word). The edit only earns what it
            // explains beyond the move itself: a text printed a pixel or two wider than it is
            // drawn likes any move of its front part. A mark put in front of the text is not
            // tried that way: it would stand for any speck left of the answer.
            std::size_t suffix = 0;
            const int shift = edit.size() > current.size() ? 0 : SuffixShift(current, edit, suffix);
            if (shift == 0) continue;
            // Measured in front of the letters behind the edit only: they stand where they
            // stood, but rounded to other pixels.
            const int front = std::clamp(kBorder + x_ + pens[suffix], 1, pixGetWidth(ink_.Get()));
            auto before = inFront.find({suffix, shift});
            if (before == inFront.end())
                before = inFront
                             .emplace(std::pair{suffix, shift}, std::min(Mismatch(current, 0, front),
                                                                         Mismatch(current, 0, front, suffix, -shift)))
                             .first;
            const int x = x_;
            x_ -= shift;
            const int moved = before->second - Mismatch(edit, 0, front);
            x_ = x;
            if (moved > bestGain) bestGain = moved, best = edit, bestX = x - shift;
        }
        if (best.empty()) break;
        current = best;
        // The text placed for the old reading may sit a little off for the new one.
        Place(current, bestX, baseline_, 2, 1);
    }
    return current;
}

namespace {

// Evidence for `drawing` against `other` in the pixels only `drawing` covers. Two drawings are
// told apart by the pixels only one of them covers. A pixel at an edge says little (the page
// blurs edges by a pixel): a drawing's pixel with no ink near is evidence against it, ink
// inside a drawing (not at its edge) evidence for it.
int Evidence(Pix* drawing, Pix* other, Pix* ink, Pix* inkNear) {
    CPix only(pixSubtract(nullptr, drawing, other));
    CPix inside(pixErodeBrick(nullptr, drawing, 3, 3));
    if (!only || !inside) return 0;
    CPix part(pixSubtract(nullptr, only.Get(), inkNear));
    const int against = CountPixels(part.Get());
    pixAnd(part.Get(), only.Get(), inside.Get());
    pixAnd(part.Get(), part.Get(), ink);
    return CountPixels(part.Get()) - against;
}

// How much better the ink's pixels that only one of the two drawings covers explain `own` than
// `other`.
int Preference(Pix* own, Pix* other, Pix* ink, Pix* inkNear) {
    return Evidence(own, other, ink, inkNear) - Evidence(other, own, ink, inkNear);
}

}  // namespace

int CInkMatch::Margin(const std::string& text, const std::string& other) {
    if (!inkNear_) return 0;
    const int w = pixGetWidth(ink_.Get());
    PlaceAtPen(other);
    CPix drawn(Draw(other, 0, w));
    PlaceAtPen(text);
    CPix own(Draw(text, 0, w));
    if (!own || !drawn) return 0;
    return Preference(own.Get(), drawn.Get(), ink_.Get(), inkNear_.Get());
}

int CInkMatch::SpanMargin(const std::string& text, const std::string& other) {
    if (!inkNear_) return 0;
    const auto [x0, x1] = Span(text, other);
    CPix own(Draw(text, x0, x1)), drawn(Draw(other, x0, x1));
    CPix ink(Columns(ink_.Get(), x0, x1)), inkNear(Columns(inkNear_.Get(), x0, x1));
    if (!own || !drawn || !ink || !inkNear) return 0;
    return Preference(own.Get(), drawn.Get(), ink.Get(), inkNear.Get());
}

CInkMatch::Rival CInkMatch::Closest(const std::string& text, const std::function<bool(const std::string&)>& possible,
                                    bool anyWidth) {
    Rival rival;
    if (!inkNear_) return rival;
    PlaceAtPen(text);
    int best = kNoScore;
    const int w = pixGetWidth(ink_.Get());
    CPix own;
    for (const std::string& edit : Edits(text, false, anyWidth)) {
        if (possible && !possible(edit)) continue;
        std::size_t suffix = 0;
        const int shift = anyWidth && edit.size() == text.size() ? SuffixShift(text, edit, suffix) : 0;
        int margin = 0;
        if (shift == 0) {
            margin = SpanMargin(text, edit);
        } else {
            // The letters behind a wider or narrower letter stay where the ink has them, and so
            // do the letters in front of it.
            if (!own) own = Draw(text, 0, w);
            x_ -= shift;
            CPix other(Draw(edit, 0, w, suffix, shift));
            x_ += shift;
            if (!own || !other) continue;
            margin = Preference(own.Get(), other.Get(), ink_.Get(), inkNear_.Get());
        }
        if (margin < best) best = margin, rival.text = edit;
    }
    rival.margin = best;
    return rival;
}

int DrawingMismatch(CFontMeasure& fonts, PIX* binary, const Transform& t, const AnswerSpot& a,
                    const std::string& printed, int offset, int x0, int y0, int x1, int y1, int near, PIX* around) {
    int inkLeft = 0, inkRight = 0;
    if (!fonts.InkExtent(a.ppem, true, printed, inkLeft, inkRight)) return 0;
    int baseline = 0;
    CPix rendered(fonts.Render(a.ppem, true, printed, t.sx, t.sy, baseline));
    if (!rendered) return 0;
    const int w = pixGetWidth(binary), h = pixGetHeight(binary);
    x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(w, x1), y1 = std::min(h, y1);
    if (x1 <= x0 || y1 <= y0) return kUnmeasured;
    BOX* box = boxCreate(x0, y0, x1 - x0, y1 - y0);
    CPix ink(pixClipRectangle(binary, box, nullptr));
    CPix printedAround(around ? pixClipRectangle(around, box, nullptr) : nullptr);
    boxDestroy(&box);
    if (!ink) return kUnmeasured;
    // Where the layout says the text stands, shifted by the page's answer offset; the best
    // of a few nearby placements is taken.
    const int rx = t.X(a.x + inkLeft) + offset - x0;
    const int ry = t.Y(a.y + a.metrics.ascent) - baseline - y0;
    const int cw = pixGetWidth(ink.Get()), ch = pixGetHeight(ink.Get());
    CPix inkNear(pixDilateBrick(nullptr, ink.Get(), near, near));
    int best = kNoScore;
    // Nearest placements first; a perfect match ends the search.
    std::vector<std::pair<int, int>> placements;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -5; dx <= 5; ++dx) placements.push_back({dx, dy});
    std::stable_sort(placements.begin(), placements.end(), [](const auto& p, const auto& q) {
        return std::abs(p.first) + std::abs(p.second) < std::abs(q.first) + std::abs(q.second);
    });
    for (auto [dx, dy] : placements) {
        if (best == 0) break;
        {
            CPix placed(pixCreate(cw, ch, 1));
            pixRasterop(placed.Get(), rx + dx, ry + dy, pixGetWidth(rendered.Get()), pixGetHeight(rendered.Get()),
                        PIX_SRC, rendered.Get(), 0, 0);
            if (printedAround) pixOr(placed.Get(), placed.Get(), printedAround.Get());
            CPix placedNear(pixDilateBrick(nullptr, placed.Get(), near, near));
            // Ink the text does not explain, and text the ink does not show; specks aside.
            CPix extra(pixSubtract(nullptr, ink.Get(), placedNear.Get()));
            CPix missing(pixSubtract(nullptr, placed.Get(), inkNear.Get()));
            CPix extraBig(pixSelectBySize(extra.Get(), 3, 3, 8, L_SELECT_IF_BOTH, L_SELECT_IF_GTE, nullptr));
            CPix missingBig(pixSelectBySize(missing.Get(), 3, 3, 8, L_SELECT_IF_BOTH, L_SELECT_IF_GTE, nullptr));
            const int e = CountPixels(extraBig.Get()), m = CountPixels(missingBig.Get());
            if (std::max(e, m) < best) {
                best = static_cast<int>(std::max(e, m));
            }
        }
    }
    return best;
}

}  // namespace sheet
