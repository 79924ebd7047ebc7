// Stroke shape: owns what single strokes on the page tell that a pixel comparison cannot: an I
// or an l by its height, an i by the gap under its dot, a t or an f by the bar beside its stem.
#include "desk/sheet/InkCompare.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

namespace sheet {

int CInkMatch::InkTop(int x0, int x1, int top, int bottom, int least) {
    for (int y = std::max(0, top); y < std::min(pixGetHeight(ink_.Get()), bottom); ++y)
        if (InkIn(x0, x1, y) >= least) return y;
    return -1;
}

std::string CInkMatch::SettleByHeight(const std::string& text) {
    if (!ink_ || text.find_first_of("Il") == std::string::npos) return text;
    PlaceAtPen(text);
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
    PlaceAtPen(text);
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
    PlaceAtPen(text);
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

}  // namespace sheet
