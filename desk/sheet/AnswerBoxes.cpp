// Answer boxes: owns where each answer's ink is looked for on the placed page (its run, the run's
// end as found, an answer that runs on past it) and the page's answer shift, fitted to where the
// answers' ink was found against the layout.
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "desk/sheet/ReaderStages.h"

namespace sheet {

int CountInk(PIX* binary, int x0, int y0, int x1, int y1, int& left, int& right) {
    const int w = pixGetWidth(binary), h = pixGetHeight(binary);
    x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(w, x1), y1 = std::min(h, y1);
    int count = 0;
    left = x1, right = x0;
    const l_uint32* data = pixGetData(binary);
    const int wpl = pixGetWpl(binary);
    for (int y = y0; y < y1; ++y) {
        const l_uint32* line = data + y * wpl;
        for (int x = x0; x < x1; ++x) {
            if (GET_DATA_BIT(line, x)) {
                ++count;
                left = std::min(left, x);
                right = std::max(right, x + 1);
            }
        }
    }
    return count;
}

int RunEndOnPage(const AnswerSpot& a, const Transform& t, const std::vector<Segment>& segments) {
    const int ax = t.X(a.x), lineY = t.Y(a.y + a.metrics.height) + 4;
    int runEnd = t.X(a.runEnd);
    for (const Segment& s : segments)
        if (std::abs(s.y - lineY) <= 10 && s.x0 - 40 <= ax && ax < s.x1) runEnd = s.x1;
    return runEnd;
}

// The label printed behind an answer's run on the same line (code page), with its line and the
// index of its first character there; empty when the run is the last of its line.
std::string LabelBehind(const SheetLayout& layout, const AnswerSpot& a, const DrawnText*& line, std::size_t& start) {
    line = nullptr;
    for (const DrawnText& text : layout.texts)
        if (text.stringId == a.lineId) line = &text;
    if (!line) return std::string();
    std::size_t k = 0;
    while (k < line->text.size() && line->pen[k] < a.runEnd) ++k;
    while (k < line->text.size() && line->text[k] == ' ') ++k;
    std::size_t end = k;
    while (end < line->text.size() && line->text[end] != '_') ++end;
    while (end > k && line->text[end - 1] == ' ') --end;
    start = k;
    return line->text.substr(k, end - k);
}

void FindAnswerBox(CFontMeasure& fonts, const SheetLayout& layout, const SheetPage& page, int field,
                   AnswerWork& p) {
    const AnswerSpot& a = layout.answers[field];
    const Transform& t = page.t;
    PIX* binary = page.binary.Get();
    const int pad = 8;
    // The run the answer stands on, as found on the page: its top is the box's bottom,
    // its end the box's right edge.
    const int ax = t.X(a.x), lineY = t.Y(a.y + a.metrics.height) + 4;
    int runEnd = t.X(a.runEnd), runTop = lineY + 2;
    for (const Segment& s : page.segments) {
        if (std::abs(s.y - lineY) <= 10 && s.x0 - 40 <= ax && ax < s.x1) {
            runEnd = s.x1;
            runTop = s.y - 4;
        }
    }
    p.y0 = t.Y(a.y) - 2;  // the line above ends where this cell begins
    p.y1 = std::min(t.Y(a.y + a.metrics.height) + 3, runTop);
    p.x0 = ax - pad;
    // A run broken by the fax ends later than its first piece.
    p.x1 = a.clipRight >= 0 ? t.X(a.clipRight) : std::max(runEnd, t.X(a.runEnd) - 10);
    p.ink = CountInk(binary, p.x0, p.y0, p.x1, p.y1, p.left, p.right);
    if (p.ink == 0 || a.clipRight >= 0 || p.right < p.x1 - 8 || a.limit <= a.runEnd) return;
    // Ink reaches the run's end: the answer goes on past it, up to the first gap of
    // two blanks (the printed label behind a run stands that far off). When that gap
    // only comes after the label, the answer runs over printed text. With no label
    // behind the run, only a wider gap ends it: a fax may drop a period between two
    // words, which leaves a gap that wide.
    const DrawnText* line = nullptr;
    std::size_t labelIndex = 0;
    const bool labelBehind = !LabelBehind(layout, a, line, labelIndex).empty();
    const int limit = t.X(a.limit) - pad;
    const int gap = t.X(a.x + 2 * fonts.Advance(a.ppem, true, ' ')) - ax;
    const int endingGap = labelBehind ? gap * 3 / 4 : gap * 2;
    int end = limit, blank = 0;
    for (int x = p.x1 - 8; x < limit; ++x) {
        int l = 0, r = 0;
        blank = CountInk(binary, x, p.y0, x + 1, p.y1, l, r) ? 0 : blank + 1;
        if (blank >= endingGap) {
            end = x - blank + 3;
            break;
        }
    }
    const int labelStart = t.X(a.runEnd) + gap;
    p.overflow = labelBehind && end > labelStart;
    p.x1 = end;
    p.ink = CountInk(binary, p.x0, p.y0, p.x1, p.y1, p.left, p.right);
}

double CAnswerShift::Shift::At(double a, double b, double c, int x, int y) { return a + b * y + c * x; }

void CAnswerShift::Fit(Transform& t) {
    // Where the answers stand against the layout: a shift that may grow down the page (what
    // deskewing leaves of a sheared page) and across it (a page scaled a little more than its
    // landmarks told: 10 pixels between the left and the right answers of a fine fax put the
    // rightmost out of reach of the placement), fitted twice to the answers near the one before.
    // The first guess is the median shift: one answer whose left edge was found far off (a
    // speck, a label's tail) pulled a fit to all of them so far that every answer on the page
    // missed its ink.
    if (!shifts_.empty()) {
        std::vector<int> offs;
        for (const Shift& s : shifts_) offs.push_back(s.off);
        std::nth_element(offs.begin(), offs.begin() + offs.size() / 2, offs.end());
        a_ = offs[offs.size() / 2];
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<Shift> kept;
        for (const Shift& s : shifts_)
            if (std::fabs(s.off - Shift::At(a_, b_, c_, s.x, s.y)) <= (round ? 6 : 8)) kept.push_back(s);
        if (kept.empty()) break;
        // Least squares about the answers' centre: off = a + b (y - my) + c (x - mx).
        const double n = static_cast<double>(kept.size());
        double mx = 0, my = 0, mo = 0;
        for (const Shift& s : kept) mx += s.x / n, my += s.y / n, mo += s.off / n;
        double sxx = 0, syy = 0, sxy = 0, sxo = 0, syo = 0;
        for (const Shift& s : kept) {
            const double dx = s.x - mx, dy = s.y - my, dof = s.off - mo;
            sxx += dx * dx, syy += dy * dy, sxy += dx * dy, sxo += dx * dof, syo += dy * dof;
        }
        double b = 0, c = 0;
        const double d = sxx * syy - sxy * sxy;
        if (kept.size() >= 6 && d > 1e-6 * sxx * syy) {
            b = (syo * sxx - sxo * sxy) / d;
            c = (sxo * syy - syo * sxy) / d;
        } else if (kept.size() >= 4 && syy > 0) {
            b = syo / syy;
        }
        b_ = b, c_ = c;
        a_ = mo - b * my - c * mx;
    }
    // A shift that grows across the page is an error of the page's width scale: a long answer
    // drawn at the landmarks' scale drifts off its ink by its end. The answers' own scale is
    // taken for drawing and placing them (a few per cent at most: more is no scale error).
    if (std::fabs(c_) < 0.03) {
        t.sx *= 1 + c_;
        t.tx *= 1 + c_;
        c_ = 0;
    }
}

int CAnswerShift::At(int x, int y) const { return static_cast<int>(std::lround(Shift::At(a_, b_, c_, x, y))); }

}  // namespace sheet
