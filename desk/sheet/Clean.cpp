// Clean: owns what is painted out of the page before anything is recognised: the underscore
// runs and what a fax left of them, specks too small for any letter or dot, and the labels that
// long answers run over. Tesseract gets the answers alone.
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstdlib>

#include "desk/sheet/ReaderStages.h"

namespace sheet {

namespace {

// The lines go, and with them what a fax left of them where it broke them.
void PaintOutRuns(SheetPage& page) {
    PIX* binary = page.binary.Get();
    // Only pieces on the rows of the runs are the runs' own: a thin band elsewhere is the top
    // or bottom of a line of text.
    CPix onRows(pixCreate(pixGetWidth(binary), pixGetHeight(binary), 1));
    BOXA* pieceBoxes = page.pieces && onRows ? pixConnComp(page.pieces.Get(), nullptr, 8) : nullptr;
    for (int i = 0; pieceBoxes && i < boxaGetCount(pieceBoxes); ++i) {
        l_int32 x, y, w, h;
        if (boxaGetBoxGeometry(pieceBoxes, i, &x, &y, &w, &h)) continue;
        bool onRun = false;
        for (const Segment& s : page.segments) onRun = onRun || std::abs(y + h / 2 - s.y) <= 8;
        if (onRun) pixRasterop(onRows.Get(), x, y, w, h, PIX_SRC | PIX_DST, page.pieces.Get(), x, y);
    }
    if (pieceBoxes) boxaDestroy(&pieceBoxes);
    CPix mask(onRows ? pixDilateBrick(nullptr, onRows.Get(), 25, 7) : nullptr);
    if (mask) pixSubtract(binary, binary, mask.Get());
}

// Specks too small for any letter go. A speck stays only where it can be a letter's dot: just
// above or below other ink. A fax at standard resolution leaves a hyphen one row thin, and so as
// small: a flat mark with letters beside it on its own rows stays too.
void PaintOutSpecks(SheetPage& page) {
    CPix big(pixSelectBySize(page.binary.Get(), 4, 4, 8, L_SELECT_IF_BOTH, L_SELECT_IF_GTE, nullptr));
    if (!big) return;
    CPix small(pixSubtract(nullptr, page.binary.Get(), big.Get()));
    CPix near(pixDilateBrick(nullptr, big.Get(), 3, 17));
    if (small && near) {
        CPix dots(pixAnd(nullptr, small.Get(), near.Get()));
        BOXA* marks = pixConnComp(small.Get(), nullptr, 8);
        for (int i = 0; marks && i < boxaGetCount(marks); ++i) {
            l_int32 x, y, bw, bh;
            if (boxaGetBoxGeometry(marks, i, &x, &y, &bw, &bh) || bw < 6 || bw < 2 * bh) continue;
            l_int32 left = 0, right = 0;
            BOX* before = boxCreate(std::max(0, x - 12), y, std::min(x, 12), bh);
            BOX* after = boxCreate(x + bw, y, 12, bh);
            if (before) pixCountPixelsInRect(big.Get(), before, &left, nullptr);
            if (after) pixCountPixelsInRect(big.Get(), after, &right, nullptr);
            boxDestroy(&before);
            boxDestroy(&after);
            if (left > 0 && right > 0 && dots)
                pixRasterop(dots.Get(), x, y, bw, bh, PIX_SRC | PIX_DST, small.Get(), x, y);
        }
        if (marks) boxaDestroy(&marks);
        if (dots) pixOr(big.Get(), big.Get(), dots.Get());
    }
    page.binary = std::move(big);
}

// An answer that reaches the end of its run may run on over the label printed behind it, as
// the layout draws long answers. Such a label is found on the page by drawing it in the form
// font and taken out, so that the recogniser sees the answer alone; where it was found is
// drawn into `labels`, so that a drawing of the answer can be compared with the ink the two
// leave together.
void EraseOverrunLabels(CFontMeasure& fonts, const SheetLayout& layout, PIX* binary, PIX* labels, const Transform& t,
                        const std::vector<Segment>& segments) {
    for (const AnswerSpot& a : layout.answers) {
        if (a.clipRight >= 0) continue;
        const DrawnText* line = nullptr;
        std::size_t k = 0;
        const std::string label = LabelBehind(layout, a, line, k);
        if (label.empty()) continue;

        int left = 0, right = 0;
        const int runEnd = RunEndOnPage(a, t, segments);
        if (!CountInk(binary, runEnd - 8, t.Y(a.y), runEnd, t.Y(a.y + a.metrics.height), left, right)) continue;

        int baseline = 0;
        CPix drawn(fonts.Render(line->ppem, false, label, t.sx, t.sy, baseline));
        int inkLeft = 0, inkRight = 0;
        if (!drawn || !fonts.InkExtent(line->ppem, false, label, inkLeft, inkRight)) continue;
        const int dw = pixGetWidth(drawn.Get()), dh = pixGetHeight(drawn.Get());
        const int bx = t.X(line->pen[k] + inkLeft) - 40, by = t.Y(line->y + line->metrics.ascent) - baseline - 6;
        const int bw = dw + 80, bh = dh + 12;
        BOX* box = boxCreate(bx, by, bw, bh);
        CPix region(pixClipRectangle(binary, box, nullptr));
        boxDestroy(&box);
        if (!region || pixGetWidth(region.Get()) != bw || pixGetHeight(region.Get()) != bh) continue;
        // The placement where most of the label's pixels are ink.
        l_int32 labelPixels = 0;
        pixCountPixels(drawn.Get(), &labelPixels, nullptr);
        int best = -1, bestX = 0, bestY = 0;
        for (int dy = 3; dy <= 9; ++dy) {
            for (int dx = 0; dx <= 80; ++dx) {
                CPix placed(pixCreate(bw, bh, 1));
                pixRasterop(placed.Get(), dx, dy, dw, dh, PIX_SRC, drawn.Get(), 0, 0);
                pixAnd(placed.Get(), placed.Get(), region.Get());
                l_int32 overlap = 0;
                pixCountPixels(placed.Get(), &overlap, nullptr);
                if (overlap > best) best = overlap, bestX = dx, bestY = dy;
            }
        }
        if (best * 10 < labelPixels * 7) continue;  // not this label: leave the page alone
        CPix placed(pixCreate(bw, bh, 1));
        pixRasterop(placed.Get(), bestX, bestY, dw, dh, PIX_SRC, drawn.Get(), 0, 0);
        pixRasterop(labels, bx, by, bw, bh, PIX_SRC | PIX_DST, placed.Get(), 0, 0);
        CPix wide(pixDilateBrick(nullptr, placed.Get(), 3, 3));
        pixRasterop(binary, bx, by, bw, bh, PIX_SUBTRACT, wide.Get(), 0, 0);
    }
}

}  // namespace

bool Clean(CFontMeasure& fonts, const SheetLayout& layout, SheetPage& page) {
    PaintOutRuns(page);
    PaintOutSpecks(page);
    // The page as it was before the labels went: what an answer that runs over one is checked
    // against, together with the label's drawing.
    page.original = CPix(pixCopy(nullptr, page.binary.Get()));
    page.labels = CPix(pixCreate(pixGetWidth(page.binary.Get()), pixGetHeight(page.binary.Get()), 1));
    if (!page.original || !page.labels) return false;
    EraseOverrunLabels(fonts, layout, page.binary.Get(), page.labels.Get(), page.t, page.segments);
    return true;
}

}  // namespace sheet
