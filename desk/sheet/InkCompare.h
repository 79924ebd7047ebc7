// The comparison of drawings with the ink: texts drawn in the answer font, compared pixel by
// pixel with the ink of one answer's box (InkCompare.cpp), the shapes of single strokes on it
// (StrokeShape.cpp) and the text spelt from it letter by letter (Speller.cpp).
// The recogniser proposes; the drawing decides: a reading is improved one character at a time
// while that explains the ink clearly better, and it is only trusted when no text one
// character away explains the ink about as well.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desk/sheet/GlyphCache.h"
#include "desk/sheet/PageImage.h"

namespace sheet {

// A comparison that could not be made (a box off the page, an image that could not be made):
// worse than any measured one, and far enough below int's end that a few of them still add up.
constexpr int kUnmeasured = 1 << 20;
// No candidate scored yet: worse than everything.
constexpr int kNoScore = 1 << 30;

class CInkMatch {
public:
    // `ink`: the answer's box cut from the binarised page; coordinates are the box's.
    // `coarse`: the page blurs every edge (a fax), so disagreement thinner than three pixels
    // counts for nothing. `x`, `baseline`: the pen origin the layout gives a text in the box;
    // every text is compared where it fits the ink best within 5 pixels across and 2 up or down
    // of it, placed the first time it is asked about. `around`: what else the page prints in
    // the box (a label the answer runs over), the box's size; every drawing is compared with
    // the ink together with it.
    CInkMatch(CGlyphSet& glyphs, Pix* ink, bool coarse, int x, int baseline, Pix* around = nullptr);

    struct Rival {
        std::string text;  // empty when no text one character away comes close
        int margin = 0;    // how many pixels worse than the text it was measured against
    };
    // Climbs from `text` over one-character edits while one explains the ink better by more
    // than `gain` pixels; `rounds` steps at most. Edits are tried where the drawing disagrees.
    // Only edits `possible` allows are tried.
    std::string Improve(const std::string& text, int gain, int rounds,
                        const std::function<bool(const std::string&)>& possible = {});
    // The edit of `text` (one character changed, left out or put in) whose drawing comes
    // closest to the ink, and by how much it trails. A capital I and a small l are one stroke
    // in the answer font: swapping them is no edit here (the caller decides by the context).
    // Only edits `possible` allows are rivals (a date stays a date).
    // `anyWidth`: every letter changed for any other is a rival, drawn with the letters behind it
    // where they stand (for a text without context: a password).
    Rival Closest(const std::string& text, const std::function<bool(const std::string&)>& possible = {},
                  bool anyWidth = false);
    // How much better the ink's pixels that only one of the two drawings covers explain `text`
    // than `other`, each drawn where it fits best: below zero when they side with `other`.
    int Margin(const std::string& text, const std::string& other);

    // Every I and l of `text` made the one whose height the stroke on the page has
    // (the small l stands a little taller than the capital), measured against the tops of the
    // other letters; a stroke the ink cannot tell stays as it is.
    std::string SettleByHeight(const std::string& text);

    // How the stroke of the `k`-th character of `text` looks over its height: 1
    // when a row across it is blank with ink above and below (a small i's dot over its stem), -1
    // when it is inked from its top to the baseline (an l or a capital I), 0 when the ink cannot
    // tell. The drawings of i and l differ only in that gap, a pixel or two on a fax, which a
    // comparison that forgives every edge by a pixel does not see.
    int StrokeGap(const std::string& text, std::size_t k);
    // Whether the ink beside the stroke of the `k`-th character, where a t or an f crosses its
    // stem with a bar on the left, is inked (or cannot be told): a stroke blank there is no t or
    // f, however a speck on its other side made it look like one.
    bool BarBeside(const std::string& text, std::size_t k);

    // The text in the answer font that best explains the ink from where `from` begins to the
    // box's end, letter by letter over the characters of `alphabet`, each letter judged in the
    // columns it advances over, from the characters a typed answer is made of: for a text
    // without words (a password), where the recogniser guesses wrong at letters no word tells
    // it, or for a word the recogniser cut short. `blanks`: words may stand apart. Empty when
    // the box is no place for it.
    std::string Spell(const std::string& from, bool blanks);

private:
    // Places `text` where it fits best near the pen origin, unless it is placed there already.
    void PlaceAtPen(const std::string& text);
    // Moves the pen origin to where `text` fits the ink best, within the ranges around (x, baseline).
    void Place(const std::string& text, int x, int baseline, int rangeX, int rangeY);
    // Pixels where `text`, drawn from the pen origin as it stands, and the ink disagree. Two
    // texts differ in this count only where their drawings differ. On a coarse page: ink the
    // drawing does not explain and drawn pixels with no ink near, where they fill three by three
    // pixels.
    int Mismatch(const std::string& text);
    // `Margin` for two texts drawn from the same pen origin, in the columns where they differ.
    int SpanMargin(const std::string& text, const std::string& other);
    // The white border around the box: a text drawn past the box's edges is charged for what it
    // puts there, instead of losing it for free.
    static constexpr int kBorder = 24;
    // What a typed answer is made of (code page): the letters, digits and marks a form field
    // takes. The rarer accents and the underscore are rivals of a reading, but the drawing does
    // not put them in on its own: on a coarse page one accent matches the ink about as well as
    // another, and what is left of a painted-out run looks like an underscore.
    static constexpr char kCommon[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
        "\xE4\xF6\xFC\xC4\xD6\xDC\xDF\xE9\xE8\xEB\xE1\xE0\xE7 -.,'&/@+():;!?\"#*";
    static constexpr char kRare[] = "\xEA\xE2\xF1\xF3\xF2\xF4\xFA\xF9\xFB\xED\xEC\xEE\xEF_";

    // The first row from `top` down to `bottom` with ink in at least `least` of the columns
    // x0 to x1 (bordered box); -1 when there is none.
    int InkTop(int x0, int x1, int top, int bottom, int least);
    // Ink pixels in the columns x0 to x1 of row y (bordered box).
    int InkIn(int x0, int x1, int y);
    // The first column of the stroke of the `k`-th character of `text`, as placed, an i's stem
    // wide (`stroke`); -1 when there is none.
    int Stem(const std::string& text, std::size_t k, int& stroke);
    // `anyWidth`: every letter changed for any other, not only for one as wide.
    std::vector<std::string> Edits(const std::string& text, bool everywhere, bool anyWidth = false);
    // `text` drawn into the columns x0 to x1 of the bordered box.
    // The first `split` characters may be moved by `dx` against the rest.
    CPix Draw(const std::string& text, int x0, int x1, std::size_t split = 0, int dx = 0);
    static CPix Columns(Pix* pix, int x0, int x1);
    // The columns where the drawings of two texts can differ.
    std::pair<int, int> Span(const std::string& a, const std::string& b);
    // How far the letters behind the edit that makes `b` of `a` move, and where in `a` they begin.
    int SuffixShift(const std::string& a, const std::string& b, std::size_t& suffix);
    int Mismatch(const std::string& text, int x0, int x1, std::size_t split = 0, int dx = 0);

    CGlyphSet& glyphs_;
    CPix ink_, inkNear_, around_;
    bool coarse_;
    const int penX_, penBaseline_;
    // Where the text placed last is drawn from, and that text when it was placed near the
    // layout's pen origin (not while an edit was being fitted).
    int x_ = 0, baseline_ = 0;
    std::optional<std::string> placed_;
};

}  // namespace sheet
