// Speller: owns spelling the ink letter by letter: the text in the answer font that best
// explains the ink of a box, for a password (no word tells its letters) or a word the
// recogniser cut short. Dynamic programming over the columns, one bit per row.
#include "desk/sheet/InkCompare.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

namespace sheet {

namespace {

// Set bits of a word, inline (without a popcount instruction, the library call costs more).
int Bits(std::uint64_t v) {
    v -= (v >> 1) & 0x5555555555555555u;
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

// The ink of a box as 64 rows of bits per column, and the letters of the alphabet drawn the same
// way, each judged in the columns it advances over.
class CSpeller {
public:
    // `top`: the box's row the 64 rows start at; `spread`: how far an edge may blur.
    CSpeller(Pix* ink, int top, int spread) : w_(pixGetWidth(ink)), top_(top), spread_(spread) {
        ink_ = Columns(ink);
        inkNear_ = Widen(ink_);  // shifted right by `spread` columns
    }

    // Draws the letters of `alphabet`; `baselineRow`: the baseline's row in the box.
    void AddLetters(CGlyphSet& glyphs, const std::string& alphabet, int baselineRow);
    // The letters that best explain the ink from about `start` to `end`.
    std::string Search(int start, int end) const;

private:
    struct Letter {
        unsigned char c;
        int left, advance;  // whole pixels; the advance's fraction decides how it rounds
        long fine;
        std::vector<std::uint64_t> cols, near;
    };

    std::vector<std::uint64_t> Columns(Pix* pix) const {
        std::vector<std::uint64_t> cols(w_, 0);
        const l_uint32* data = pixGetData(pix);
        const int wpl = pixGetWpl(pix);
        for (int r = 0; r < 64; ++r)
            for (int x = 0; x < w_; ++x)
                if (GET_DATA_BIT(data + (top_ + r) * wpl, x)) cols[x] |= std::uint64_t(1) << r;
        return cols;
    }
    std::vector<std::uint64_t> Widen(std::vector<std::uint64_t> cols) const {
        for (int n = 0; n < spread_; ++n) {
            std::vector<std::uint64_t> wide(cols.size() + 2, 0);
            for (std::size_t x = 0; x < cols.size(); ++x) {
                const std::uint64_t c = cols[x] | cols[x] << 1 | cols[x] >> 1;
                wide[x] |= c, wide[x + 1] |= c, wide[x + 2] |= c;
            }
            cols = std::move(wide);  // one column more on either side
        }
        return cols;
    }
    // What a letter at pen p leaves unexplained in the columns it advances over: its pixels
    // with no ink near and the ink with none of its pixels near.
    int Cost(const Letter& l, int p, int advance) const {
        int total = 0;
        for (int x = p; x < p + advance && x < w_; ++x) {
            const int j = x - p - l.left;
            const std::uint64_t drawn = j >= 0 && j < static_cast<int>(l.cols.size()) ? l.cols[j] : 0;
            const int jn = j + spread_;
            const std::uint64_t near = jn >= 0 && jn < static_cast<int>(l.near.size()) ? l.near[jn] : 0;
            total += Bits(drawn & ~inkNear_[x + spread_]) + Bits(ink_[x] & ~near);
        }
        return total;
    }
    int Blank(int from, int to) const {
        int total = 0;
        for (int x = std::max(0, from); x < std::min(w_, to); ++x) total += Bits(ink_[x]);
        return total;
    }

    const int w_, top_, spread_;
    std::vector<std::uint64_t> ink_, inkNear_;
    std::vector<Letter> letters_;
};

void CSpeller::AddLetters(CGlyphSet& glyphs, const std::string& alphabet, int baselineRow) {
    for (unsigned char c : alphabet) {
        const CGlyphSet::Glyph& g = glyphs.Get(c);
        Letter l{c, g.left, static_cast<int>(g.advance >> 6), g.advance, {}, {}};
        if (!g.pix) {  // a blank
            letters_.push_back(std::move(l));
            continue;
        }
        const int gw = pixGetWidth(g.pix.Get()), gh = pixGetHeight(g.pix.Get());
        const int row0 = baselineRow + g.top - top_;
        if (row0 < 0 || row0 + gh > 64) continue;
        l.cols.assign(gw, 0);
        const l_uint32* data = pixGetData(g.pix.Get());
        const int wpl = pixGetWpl(g.pix.Get());
        for (int y = 0; y < gh; ++y)
            for (int x = 0; x < gw; ++x)
                if (GET_DATA_BIT(data + y * wpl, x)) l.cols[x] |= std::uint64_t(1) << (row0 + y);
        l.near = Widen(l.cols);
        letters_.push_back(std::move(l));
    }
}

std::string CSpeller::Search(int start, int end) const {
    // Best cost of explaining the ink up to each pen position, and the step that got there.
    std::vector<int> best(w_ + 1, kNoScore), from(w_ + 1, -1), letter(w_ + 1, -1);
    for (int p = std::max(0, start - 8); p <= std::min(w_, start + 8); ++p) best[p] = Blank(start - 16, p);
    for (int p = 0; p < end; ++p) {
        if (best[p] == kNoScore) continue;
        for (std::size_t k = 0; k < letters_.size(); ++k) {
            const Letter& l = letters_[k];
            // Pens are kept in whole pixels: a letter advances by its width rounded either way.
            for (int advance : {l.advance, l.advance + 1}) {
                if (advance == l.advance + 1 && (l.fine & 63) == 0) continue;
                const int q = p + advance;
                if (q > w_) continue;
                const int c = best[p] + Cost(l, p, advance);
                if (c < best[q]) best[q] = c, from[q] = p, letter[q] = static_cast<int>(k);
            }
        }
    }
    int last = -1, lowest = kNoScore;
    for (int p = 0; p <= w_; ++p) {
        if (best[p] == kNoScore || from[p] < 0) continue;
        const int total = best[p] + Blank(p, end);
        if (total < lowest) lowest = total, last = p;
    }
    std::string text;
    for (int p = last; p >= 0 && from[p] >= 0; p = from[p])
        text.insert(text.begin(), static_cast<char>(letters_[letter[p]].c));
    return text;
}

}  // namespace

std::string CInkMatch::Spell(const std::string& from, bool blanks) {
    if (!ink_ || !inkNear_) return {};
    PlaceAtPen(from);
    std::string alphabet(kCommon);
    if (!blanks) alphabet.erase(std::remove(alphabet.begin(), alphabet.end(), ' '), alphabet.end());
    const int w = pixGetWidth(ink_.Get()), h = pixGetHeight(ink_.Get());
    // The rows of a line of text, as bits of one word per column.
    const int ppem = glyphs_.Ppem(), below = ppem / 4 + 2, top = kBorder + baseline_ + below - 64;
    if (ppem + ppem / 8 + below > 64 || top < 0 || top + 64 > h) return {};
    // A coarse page blurs every edge by a pixel more.
    CSpeller speller(ink_.Get(), top, coarse_ ? 2 : 1);
    speller.AddLetters(glyphs_, alphabet, kBorder + baseline_);
    return speller.Search(kBorder + x_, w - kBorder);
}

}  // namespace sheet
