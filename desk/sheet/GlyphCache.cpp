// The glyph cache: every character of the answer font drawn once per font size and page scale.
#include "desk/sheet/GlyphCache.h"

namespace sheet {

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

}  // namespace sheet
