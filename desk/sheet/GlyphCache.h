// The glyph cache: the answer font's characters drawn once each for one font size on one page.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "desk/sheet/PageImage.h"
#include "desk/sheet/SheetLayout.h"

namespace sheet {

// The glyphs of one font size on one page (its scale), drawn once each.
class CGlyphSet {
public:
    CGlyphSet(CFontMeasure& fonts, int ppem, bool bold, double sx, double sy);

    struct Glyph {
        CPix pix;       // null for a blank
        int left = 0;   // against the pen
        int top = 0;    // against the baseline, y downward
        long advance = 0;  // 1/64 pixel
        bool loaded = false;
    };
    const Glyph& Get(unsigned char c);
    int Ppem() const { return ppem_; }
    // Pen positions in whole pixels in front of every character of `text` and behind the last.
    std::vector<int> Pens(const std::string& text);

private:
    CFontMeasure& fonts_;
    int ppem_;
    bool bold_;
    double sx_, sy_;
    std::array<Glyph, 256> glyphs_;
};

}  // namespace sheet
