// Placement: owns where the layout stands on the page. The page's long horizontal lines are
// matched against the layout's underscore runs to find scale and shift, and, when they only
// match turned round, that the page came upside down.
#include <leptonica/allheaders.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "desk/sheet/ReaderStages.h"

namespace sheet {

namespace {

constexpr int kMinLine = 100;         // shortest horizontal line taken for an underscore run
constexpr int kMinRegistration = 60;  // percent of runs that must be found on a reply sheet

std::vector<Segment> HorizontalLines(PIX* binary, CPix& linesOut, CPix* piecesOut = nullptr) {
    // A faxed underscore run comes in pieces a few pixels apart. Closing the gaps also merges
    // the letters of a text row, but those make tall blocks, which go again; what stays long
    // and thin is a run.
    std::vector<Segment> segments;
    CPix closed(pixCloseBrick(nullptr, binary, 31, 1));
    if (!closed) return segments;
    CPix tall(pixOpenBrick(nullptr, closed.Get(), 1, 9));
    CPix tallWide(tall ? pixDilateBrick(nullptr, tall.Get(), 5, 5) : nullptr);
    if (!tallWide) return segments;
    pixSubtract(closed.Get(), closed.Get(), tallWide.Get());
    // Shorter thin pieces are what is left of a run where a fax broke it: they are painted
    // out with the runs, but only whole runs place the page.
    if (piecesOut) *piecesOut = CPix(pixOpenBrick(nullptr, closed.Get(), 31, 1));
    linesOut = CPix(pixOpenBrick(nullptr, closed.Get(), kMinLine, 1));
    if (!linesOut) return segments;
    BOXA* boxes = pixConnComp(linesOut.Get(), nullptr, 8);
    if (!boxes) return segments;
    for (int i = 0; i < boxaGetCount(boxes); ++i) {
        l_int32 x, y, w, h;
        if (boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h)) continue;
        if (w >= kMinLine && h <= 14) segments.push_back({x, x + w, y + h / 2});
    }
    boxaDestroy(&boxes);
    return segments;
}

struct Match {
    const UnderscoreRun* run;
    const Segment* segment;
};

// Finds the transform that puts the most runs of `layout` onto `segments`; returns the share
// of runs it explains.
double Register(const SheetLayout& layout, const std::vector<Segment>& segments, Transform& best) {
    const auto& runs = layout.runs;
    if (runs.empty() || segments.empty()) return 0;
    auto matches = [&](const Transform& t, int tolX, int tolY, std::vector<Match>* out) {
        int count = 0;
        for (const UnderscoreRun& run : runs) {
            const int x0 = t.X(run.x0), y = t.Y(run.y);
            const Segment* hit = nullptr;
            for (const Segment& s : segments) {
                if (std::abs(s.y - y) <= tolY && std::abs(s.x0 - x0) <= tolX) {
                    if (!hit || std::abs(s.y - y) < std::abs(hit->y - y)) hit = &s;
                }
            }
            if (hit) {
                ++count;
                if (out) out->push_back({&run, hit});
            }
        }
        return count;
    };
    // Votes: every pair of a run and a line of about its length proposes a shift.
    int bestCount = 0;
    for (const UnderscoreRun& run : runs) {
        const int length = run.x1 - run.x0;
        for (const Segment& s : segments) {
            const int l = s.x1 - s.x0;
            if (l < length * 0.9 || l > length * 1.1) continue;
            Transform t;
            t.tx = s.x0 - run.x0;
            t.ty = s.y - run.y;
            const int count = matches(t, 40, 20, nullptr);
            if (count > bestCount) {
                bestCount = count;
                best = t;
            }
        }
    }
    if (!bestCount) return 0;
    // Least squares on what matched. The printed page may spread a justified line's extra
    // width over its blanks differently from GDI's measure, so x is matched loosely (that
    // error averages out over the page) and y tightly.
    for (int tol : {20, 12}) {
        std::vector<Match> found;
        matches(best, 40, tol, &found);
        if (found.size() < 4) break;
        double n = 0, sxx = 0, sx = 0, sxy = 0, sy = 0;
        double m = 0, syy2 = 0, sy2 = 0, syz = 0, sz = 0;
        for (const Match& f : found) {
            m += 1, sy2 += f.run->y, syy2 += double(f.run->y) * f.run->y, sz += f.segment->y,
                syz += double(f.run->y) * f.segment->y;
            // x from the ends of lines that were not broken.
            const double expected = (f.run->x1 - f.run->x0) * best.sx;
            if (std::abs((f.segment->x1 - f.segment->x0) - expected) < 40) {
                for (auto [a, b] : {std::pair{f.run->x0, f.segment->x0}, std::pair{f.run->x1, f.segment->x1}}) {
                    n += 1, sx += a, sxx += double(a) * a, sy += b, sxy += double(a) * b;
                }
            }
        }
        const double dy = m * syy2 - sy2 * sy2;
        if (m >= 3 && dy > 0) {
            best.sy = (m * syz - sy2 * sz) / dy;
            best.ty = (sz - best.sy * sy2) / m;
        }
        const double dx = n * sxx - sx * sx;
        if (n >= 4 && dx > 0) {
            best.sx = (n * sxy - sx * sy) / dx;
            best.tx = (sy - best.sx * sx) / n;
        }
    }
    return static_cast<double>(matches(best, 40, 12, nullptr)) / runs.size();
}

}  // namespace

bool PlaceOnLayout(const SheetLayout& layout, SheetPage& page, std::string& reason) {
    page.segments = HorizontalLines(page.binary.Get(), page.lines, &page.pieces);
    page.registration = Register(layout, page.segments, page.t);
    if (page.registration < 0.9) {
        // Maybe it came upside down.
        CPix turnedGrey(pixRotate180(nullptr, page.grey.Get()));
        CPix turnedBinary(turnedGrey ? Binarise(turnedGrey.Get()) : CPix());
        CPix turnedLines;
        Transform turned;
        std::vector<Segment> turnedSegments;
        CPix turnedPieces;
        if (turnedBinary) turnedSegments = HorizontalLines(turnedBinary.Get(), turnedLines, &turnedPieces);
        const double score = turnedBinary ? Register(layout, turnedSegments, turned) : 0;
        if (score > page.registration) {
            page.registration = score;
            page.upsideDown = true;
            page.t = turned;
            page.grey = std::move(turnedGrey);
            page.binary = std::move(turnedBinary);
            page.lines = std::move(turnedLines);
            page.segments = std::move(turnedSegments);
            page.pieces = std::move(turnedPieces);
        }
    }
    const Transform& t = page.t;
    if (page.registration * 100 < kMinRegistration || t.sx < 0.9 || t.sx > 1.1 || t.sy < 0.9 || t.sy > 1.1) {
        char text[96];
        std::snprintf(text, sizeof text, "no reply sheet: %.0f%% of its underscore lines found",
                      page.registration * 100);
        reason = text;
        return false;
    }
    return true;
}

}  // namespace sheet
