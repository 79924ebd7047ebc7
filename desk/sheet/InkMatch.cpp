#include "desk/sheet/InkMatch.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

namespace sheet {

namespace {

constexpr int kBorder = 24;

bool OneStroke(unsigned char a, unsigned char b) {
    return (a == 'I' && b == 'l') || (a == 'l' && b == 'I');
}

// What a typed answer is made of (code page): the letters, digits and marks a form field
// takes. The rarer accents and the underscore are rivals of a reading, but the drawing does
// not put them in on its own: on a coarse page one accent matches the ink about as well as
// another, and what is left of a painted-out run looks like an underscore.
constexpr const char kCommon[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    "\xE4\xF6\xFC\xC4\xD6\xDC\xDF\xE9\xE8\xEB\xE1\xE0\xE7 -.,'&/@+():;!?\"#*";
constexpr const char kRare[] = "\xEA\xE2\xF1\xF3\xF2\xF4\xFA\xF9\xFB\xED\xEC\xEE\xEF_";

// Set bits of a word, inline (without a popcount instruction, the library call costs more).
int Bits(std::uint64_t v) {
    v -= (v >> 1) & 0x5555555555555555u;
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

}  // namespace

CGlyphSet::CGlyphSet(CFontMeasure& fonts, int ppem, bool bold, double sx, double sy)
    : fonts_(fonts), ppem_(ppem), bold_(bold), sx_(sx), sy_(sy) {}

const CGlyphSet::Glyph& CGlyphSet::Get(unsigned char c) {
    Glyph& g = glyphs_[c];
    if (!g.loaded) {
        g.pix = CPix(fonts_.RenderGlyph(ppem_, bold_, c, sx_, sy_, g.left, g.top, g.advance));
        g.loaded = true;
    }
    return g;
}

std::vector<int> CGlyphSet::Pens(const std::string& text) {
    std::vector<int> pens;
    long pen = 0;
    for (unsigned char c : text) {
        pens.push_back(static_cast<int>((pen + 32) >> 6));
        pen += Get(c).advance;
    }
    pens.push_back(static_cast<int>((pen + 32) >> 6));
    return pens;
}

CInkMatch::CInkMatch(CGlyphSet& glyphs, Pix* ink, bool coarse, Pix* around) : glyphs_(glyphs), coarse_(coarse) {
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
    if (!drawn || !ink) return 1 << 20;
    if (!coarse_) {
        pixXor(drawn.Get(), drawn.Get(), ink.Get());
        return CountPixels(drawn.Get());
    }
    CPix inkNear(Columns(inkNear_.Get(), x0, x1));
    CPix drawnNear(pixDilateBrick(nullptr, drawn.Get(), 3, 3));
    if (!inkNear || !drawnNear) return 1 << 20;
    int total = 0;
    for (auto [a, b] : {std::pair{ink.Get(), drawnNear.Get()}, std::pair{drawn.Get(), inkNear.Get()}}) {
        CPix diff(pixSubtract(nullptr, a, b));
        // Blots that reach three pixels each way; a thinner speck or sliver is what a coarse
        // page does to any edge.
        total += diff ? BlotPixels(diff.Get(), 3) : 0;
    }
    return total;
}

int CInkMatch::Mismatch(const std::string& text) { return ink_ ? Mismatch(text, 0, pixGetWidth(ink_.Get())) : 1 << 20; }

void CInkMatch::Place(const std::string& text, int x, int baseline, int rangeX, int rangeY) {
    int best = 1 << 30, bestX = x, bestY = baseline;
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

int CInkMatch::InkTop(int x0, int x1, int top, int bottom, int least) {
    for (int y = std::max(0, top); y < std::min(pixGetHeight(ink_.Get()), bottom); ++y)
        if (InkIn(x0, x1, y) >= least) return y;
    return -1;
}

std::string CInkMatch::SettleByHeight(const std::string& text) {
    if (!ink_ || text.find_first_of("Il") == std::string::npos) return text;
    const std::vector<int> pens = glyphs_.Pens(text);
    // A letter's top is the first row inked half as wide as the drawing's top rows: an L or a b
    // has only its stem up there, a T its whole bar. The same rule finds it in the drawing, so
    // that a thin first row of the drawing counts alike on both sides.
    struct Top {
        bool found = false;
        int row = 0;     // against the baseline, y downward
        int least = 2;   // ink that makes a row count
    };
    auto drawnTop = [&](unsigned char c) {
        Top top;
        const CGlyphSet::Glyph& g = glyphs_.Get(c);
        if (!g.pix) return top;
        Pix* pix = g.pix.Get();
        const int gw = pixGetWidth(pix), gh = pixGetHeight(pix);
        auto inked = [&](int y) {
            int n = 0;
            for (int x = 1; x + 1 < gw; ++x) {
                l_uint32 v = 0;
                pixGetPixel(pix, x, y, &v);
                n += v ? 1 : 0;
            }
            return n;
        };
        int widest = 0;
        for (int y = 0; y < std::min(3, gh); ++y) widest = std::max(widest, inked(y));
        top.least = std::max(2, widest / 2);
        for (int y = 0; y < gh && !top.found; ++y)
            if (inked(y) >= top.least) top.found = true, top.row = g.top + y;
        return top;
    };
    // The ink's top of the `k`-th letter against the baseline (`ink`), and that of `c` drawn there
    // (`drawn`); the letter's inner columns only, so that a neighbour's overhang does not count.
    auto tops = [&](std::size_t k, unsigned char c, int& ink, int& drawn) {
        const CGlyphSet::Glyph& g = glyphs_.Get(c);
        const Top top = drawnTop(c);
        if (!top.found) return false;
        const int gw = pixGetWidth(g.pix.Get()), x0 = kBorder + x_ + pens[k] + g.left;
        const int y = InkTop(x0 + 1, x0 + gw - 1, kBorder + baseline_ + top.row - glyphs_.Ppem() / 6,
                             kBorder + baseline_, top.least);
        if (y < 0) return false;
        ink = y - kBorder - baseline_;
        drawn = top.row;
        return true;
    };
    // The page's own offset of the letters' tops: a capital or tall small letter with a flat
    // top (dots, accents and round tops blur differently).
    std::vector<int> offsets;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        int ink = 0, drawn = 0;
        if (std::strchr("BDEFHKLMNPRTUVWXZbdhk0123456789", c) && c && tops(k, static_cast<unsigned char>(c), ink, drawn))
            offsets.push_back(ink - drawn);
    }
    double common = 0;
    if (!offsets.empty()) {
        std::sort(offsets.begin(), offsets.end());
        const std::size_t n = offsets.size();
        common = n % 2 ? offsets[n / 2] : (offsets[n / 2 - 1] + offsets[n / 2]) / 2.0;
    }
    std::string settled = text;
    const int capital = drawnTop('I').row, small = drawnTop('l').row;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] != 'I' && text[k] != 'l') continue;
        int ink = 0, drawn = 0;
        if (!tops(k, static_cast<unsigned char>(text[k]), ink, drawn)) continue;
        // The stroke's top against the baseline, as the letters around it put it.
        const double top = ink - common;
        const double toCapital = std::fabs(top - capital), toSmall = std::fabs(top - small);
        if (toCapital < toSmall) settled[k] = 'I';
        if (toSmall < toCapital) settled[k] = 'l';
    }
    return settled;
}

namespace {

// The columns a glyph inks in its row `y`: false when none.
bool InkedColumns(Pix* glyph, int y, int& c0, int& c1) {
    c0 = pixGetWidth(glyph), c1 = -1;
    for (int x = 0; x < pixGetWidth(glyph); ++x) {
        l_uint32 v = 0;
        pixGetPixel(glyph, x, y, &v);
        if (v) c0 = std::min(c0, x), c1 = std::max(c1, x);
    }
    return c1 >= 0;
}

}  // namespace

int CInkMatch::Stem(const std::string& text, std::size_t k, int& stroke) {
    const CGlyphSet::Glyph& dotted = glyphs_.Get('i');
    if (!ink_ || k >= text.size() || !dotted.pix) return -1;
    // The i's stem: the columns it inks in its lowest row, and how high it reaches.
    Pix* g = dotted.pix.Get();
    const int gh = pixGetHeight(g);
    int c0 = 0, c1 = 0;
    if (!InkedColumns(g, gh - 1, c0, c1)) return -1;
    int stem = gh - 1, s0 = 0, s1 = 0;
    while (stem > 0 && InkedColumns(g, stem - 1, s0, s1) && s0 <= (c0 + c1) / 2 && s1 >= (c0 + c1) / 2) --stem;
    stroke = c1 - c0 + 1;
    // Where the stem's columns hold the most ink, a pixel or two from where the pens put it
    // (pens round, and a neighbour's edge must not count as the stroke).
    const int expected = kBorder + x_ + glyphs_.Pens(text)[k] + dotted.left + c0;
    const int base = kBorder + baseline_;
    int x0 = expected, most = -1;
    for (int dx : {0, -1, 1, -2, 2}) {
        int n = 0;
        for (int y = base - (gh - stem) + 2; y < base - 1; ++y) n += InkIn(expected + dx, expected + dx + stroke, y);
        if (n > most) most = n, x0 = expected + dx;
    }
    return x0;
}

int CInkMatch::InkIn(int x0, int x1, int y) {
    const int w = pixGetWidth(ink_.Get()), h = pixGetHeight(ink_.Get());
    if (y < 0 || y >= h) return 0;
    const l_uint32* line = pixGetData(ink_.Get()) + y * pixGetWpl(ink_.Get());
    int n = 0;
    for (int x = std::max(0, x0); x < std::min(w, x1); ++x) n += GET_DATA_BIT(line, x) ? 1 : 0;
    return n;
}

int CInkMatch::StrokeGap(const std::string& text, std::size_t k) {
    int stroke = 0;
    const int x0 = Stem(text, k, stroke);
    const CGlyphSet::Glyph& dotted = glyphs_.Get('i');
    const CGlyphSet::Glyph& tall = glyphs_.Get('l');
    if (x0 < 0 || !tall.pix) return 0;
    // From above the taller top down to just over the baseline (which may sit a pixel off).
    const int base = kBorder + baseline_;
    std::vector<int> row;
    for (int y = base + std::min(dotted.top, tall.top) - 3; y < base - 2; ++y) row.push_back(InkIn(x0, x0 + stroke, y));
    const int half = (stroke + 1) / 2;
    std::size_t first = 0;
    while (first < row.size() && row[first] < half) ++first;
    // A top far below the letters' tops is no stroke of this letter's height: the text is
    // placed wrong there.
    if (first > 6 || first + 2 >= row.size()) return 0;
    // A blank row (a speck aside) under ink and over ink is the gap under the dot.
    for (std::size_t r = first + 1; r + 1 < row.size(); ++r) {
        if (row[r] > (stroke >= 4 ? 1 : 0)) continue;
        std::size_t below = r + 1;
        while (below < row.size() && row[below] < half) ++below;
        if (below < row.size() && below - r <= static_cast<std::size_t>(glyphs_.Ppem() / 6 + 1)) return 1;
    }
    for (std::size_t r = first + 1; r < row.size(); ++r)
        if (row[r] < std::max(2, stroke - 1)) return 0;
    return -1;
}

bool CInkMatch::BarBeside(const std::string& text, std::size_t k) {
    const CGlyphSet::Glyph& t = glyphs_.Get('t');
    int stroke = 0;
    const int x0 = Stem(text, k, stroke);
    if (x0 < 0 || !t.pix) return true;
    // The t's stem, from a row under its bar, and the rows where its bar reaches left of it.
    Pix* g = t.pix.Get();
    const int gh = pixGetHeight(g);
    int s0 = 0, s1 = 0, reach = 0, b0 = -1, b1 = -1;
    if (!InkedColumns(g, gh * 2 / 3, s0, s1)) return true;
    for (int y = 0; y < gh * 2 / 3; ++y) {
        int c0 = 0, c1 = 0;
        if (!InkedColumns(g, y, c0, c1) || c0 >= s0 - 1) continue;
        reach = std::max(reach, s0 - c0);
        if (b0 < 0) b0 = y;
        b1 = y;
    }
    // The column next to the stem is the stem's blurred edge on a coarse page.
    if (reach < 2 || b0 < 0) return true;
    const int top = kBorder + baseline_ + t.top;
    int inked = 0, all = 0;
    for (int y = top + b0; y <= top + b1; ++y) {
        inked += InkIn(x0 - reach, x0 - 1, y);
        all += reach - 1;
    }
    return 4 * inked > all;
}

std::string CInkMatch::Spell(bool blanks) {
    if (!ink_ || !inkNear_) return {};
    std::string alphabet(kCommon);
    if (!blanks) alphabet.erase(std::remove(alphabet.begin(), alphabet.end(), ' '), alphabet.end());
    const int w = pixGetWidth(ink_.Get()), h = pixGetHeight(ink_.Get());
    // The rows of a line of text, as bits of one word per column.
    const int ppem = glyphs_.Ppem(), below = ppem / 4 + 2, top = kBorder + baseline_ + below - 64;
    if (ppem + ppem / 8 + below > 64 || top < 0 || top + 64 > h) return {};
    // A coarse page blurs every edge by a pixel more.
    const int spread = coarse_ ? 2 : 1;
    auto columns = [&](Pix* pix) {
        std::vector<std::uint64_t> cols(w, 0);
        const l_uint32* data = pixGetData(pix);
        const int wpl = pixGetWpl(pix);
        for (int r = 0; r < 64; ++r)
            for (int x = 0; x < w; ++x)
                if (GET_DATA_BIT(data + (top + r) * wpl, x)) cols[x] |= std::uint64_t(1) << r;
        return cols;
    };
    auto widen = [&](std::vector<std::uint64_t> cols) {
        for (int n = 0; n < spread; ++n) {
            std::vector<std::uint64_t> wide(cols.size() + 2, 0);
            for (std::size_t x = 0; x < cols.size(); ++x) {
                const std::uint64_t c = cols[x] | cols[x] << 1 | cols[x] >> 1;
                wide[x] |= c, wide[x + 1] |= c, wide[x + 2] |= c;
            }
            cols = std::move(wide);  // one column more on either side
        }
        return cols;
    };
    const std::vector<std::uint64_t> ink = columns(ink_.Get());
    std::vector<std::uint64_t> inkNear = widen(ink);  // shifted right by `spread` columns
    struct Letter {
        unsigned char c;
        int left, advance;  // whole pixels; the advance's fraction decides how it rounds
        long fine;
        std::vector<std::uint64_t> cols, near;
    };
    std::vector<Letter> letters;
    for (unsigned char c : alphabet) {
        const CGlyphSet::Glyph& g = glyphs_.Get(c);
        Letter l{c, g.left, static_cast<int>(g.advance >> 6), g.advance, {}, {}};
        if (!g.pix) {  // a blank
            letters.push_back(std::move(l));
            continue;
        }
        const int gw = pixGetWidth(g.pix.Get()), gh = pixGetHeight(g.pix.Get());
        const int row0 = kBorder + baseline_ + g.top - top;
        if (row0 < 0 || row0 + gh > 64) continue;
        l.cols.assign(gw, 0);
        const l_uint32* data = pixGetData(g.pix.Get());
        const int wpl = pixGetWpl(g.pix.Get());
        for (int y = 0; y < gh; ++y)
            for (int x = 0; x < gw; ++x)
                if (GET_DATA_BIT(data + y * wpl, x)) l.cols[x] |= std::uint64_t(1) << (row0 + y);
        l.near = widen(l.cols);
        letters.push_back(std::move(l));
    }
    // What a letter at pen p leaves unexplained in the columns it advances over: its pixels
    // with no ink near and the ink with none of its pixels near.
    auto cost = [&](const Letter& l, int p, int advance) {
        int total = 0;
        for (int x = p; x < p + advance && x < w; ++x) {
            const int j = x - p - l.left;
            const std::uint64_t drawn = j >= 0 && j < static_cast<int>(l.cols.size()) ? l.cols[j] : 0;
            const int jn = j + spread;
            const std::uint64_t near = jn >= 0 && jn < static_cast<int>(l.near.size()) ? l.near[jn] : 0;
            total += Bits(drawn & ~inkNear[x + spread]) + Bits(ink[x] & ~near);
        }
        return total;
    };
    auto blank = [&](int from, int to) {
        int total = 0;
        for (int x = std::max(0, from); x < std::min(w, to); ++x) total += Bits(ink[x]);
        return total;
    };
    // Best cost of explaining the ink up to each pen position, and the step that got there.
    constexpr int kNone = 1 << 30;
    std::vector<int> best(w + 1, kNone), from(w + 1, -1), letter(w + 1, -1);
    const int start = kBorder + x_, end = w - kBorder;
    for (int p = std::max(0, start - 8); p <= std::min(w, start + 8); ++p) best[p] = blank(start - 16, p);
    for (int p = 0; p < end; ++p) {
        if (best[p] == kNone) continue;
        for (std::size_t k = 0; k < letters.size(); ++k) {
            const Letter& l = letters[k];
            // Pens are kept in whole pixels: a letter advances by its width rounded either way.
            for (int advance : {l.advance, l.advance + 1}) {
                if (advance == l.advance + 1 && (l.fine & 63) == 0) continue;
                const int q = p + advance;
                if (q > w) continue;
                const int c = best[p] + cost(l, p, advance);
                if (c < best[q]) best[q] = c, from[q] = p, letter[q] = static_cast<int>(k);
            }
        }
    }
    int last = -1, lowest = kNone;
    for (int p = 0; p <= w; ++p) {
        if (best[p] == kNone || from[p] < 0) continue;
        const int total = best[p] + blank(p, end);
        if (total < lowest) lowest = total, last = p;
    }
    std::string text;
    for (int p = last; p >= 0 && from[p] >= 0; p = from[p]) text.insert(text.begin(), static_cast<char>(letters[letter[p]].c));
    return text;
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

int CInkMatch::Margin(const std::string& text, const std::string& other, int x, int baseline) {
    if (!inkNear_) return 0;
    const int w = pixGetWidth(ink_.Get());
    Place(other, x, baseline, 5, 2);
    CPix drawn(Draw(other, 0, w));
    Place(text, x, baseline, 5, 2);
    CPix own(Draw(text, 0, w));
    if (!own || !drawn) return 0;
    return Preference(own.Get(), drawn.Get(), ink_.Get(), inkNear_.Get());
}

int CInkMatch::Margin(const std::string& text, const std::string& other) {
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
    int best = 1 << 30;
    const int w = pixGetWidth(ink_.Get());
    CPix own;
    for (const std::string& edit : Edits(text, false, anyWidth)) {
        if (possible && !possible(edit)) continue;
        std::size_t suffix = 0;
        const int shift = anyWidth && edit.size() == text.size() ? SuffixShift(text, edit, suffix) : 0;
        int margin = 0;
        if (shift == 0) {
            margin = Margin(text, edit);
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

bool IsLower(unsigned char c) { return (c >= 'a' && c <= 'z') || c >= 0xDF; }

namespace {

bool IsUpper(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c < 0xDF && c != 0xD7); }
bool IsVowel(unsigned char c) { return std::string("aeiouy\xE4\xF6\xFC").find(static_cast<char>(c)) != std::string::npos; }

}  // namespace

std::string SettleOneStroke(std::string text, bool mail, bool& doubtful) {
    doubtful = false;
    auto stroke = [&](std::size_t k) { return k < text.size() && (text[k] == 'I' || text[k] == 'l'); };
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (!stroke(k)) continue;
        // A run of strokes is settled by the letters on either side of it.
        std::size_t end = k;
        while (stroke(end)) ++end;
        const unsigned char prev = k ? static_cast<unsigned char>(text[k - 1]) : ' ';
        const unsigned char after = end < text.size() ? static_cast<unsigned char>(text[end]) : ' ';
        char first = 'l', rest = 'l';
        if (IsLower(prev)) {
        } else if (IsUpper(prev)) {
            first = rest = IsLower(after) ? 'l' : 'I';
        } else if (!IsLower(after)) {
            first = rest = 'I';
        } else if (mail) {
        } else if (end - k > 1 || !IsVowel(after)) {
            first = 'I';
        } else {
            first = text[k];
            doubtful = true;
        }
        text[k] = first;
        for (std::size_t i = k + 1; i < end; ++i) text[i] = rest;
        k = end - 1;
    }
    return text;
}

}  // namespace sheet
