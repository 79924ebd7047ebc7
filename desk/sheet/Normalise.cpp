// Normalise: owns the page's grain (scan, fine or standard fax), decided once from how the page
// arrived, and brings the page to the working resolution, deskewed and binarised.
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "desk/sheet/ReaderStages.h"

namespace sheet {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kThreshold = 160;  // grey level below which a pixel is ink
// The largest page the reader scales to kDpi, in inches: A3 (16.5 x 11.7) and a little.
constexpr double kMaxLongSide = 17, kMaxShortSide = 12;

}  // namespace

PageGrain DecideGrain(const PageImage& page) {
    PageGrain grain;
    const int w = page.pix ? pixGetWidth(page.pix.Get()) : 0, h = page.pix ? pixGetHeight(page.pix.Get()) : 0;
    // A page that does not say its resolution is taken to be A4.
    grain.xres = page.xres, grain.yres = page.yres;
    if (grain.xres < 50 || grain.xres > 1200) grain.xres = w / 8.27;
    if (grain.yres < 50 || grain.yres > 1200) grain.yres = h / 11.69;
    // A fax arrives in the fax's own one-bit coding (as TIFF, or inside a PDF), mostly at a fax
    // machine's resolution; scans are grey or colour, or a bilevel image at a scanner's
    // resolution. A letter scanned at 200 dpi in grey or colour is a scan: its edges are a
    // scanner's, however few its lines per inch. At 300 dpi even a fax is read as a scan.
    const bool faxed = page.faxCoded || page.yres == 98 || page.yres == 196 || page.xres == 204;
    // A coarser page blurs letters more: the tolerances grow as the lines per inch fall.
    grain.grain = !faxed || grain.yres >= 250 ? Grain::Scan : grain.yres >= 150 ? Grain::FaxFine : Grain::FaxStandard;
    return grain;
}

bool Normalise(const PageImage& image, SheetPage& page, std::string& reason) {
    PIX* source = image.pix.Get();
    if (!source) {
        reason = "empty image";
        return false;
    }
    page.grain = DecideGrain(image);
    const double xres = page.grain.xres, yres = page.grain.yres;
    if (pixGetWidth(source) < 200 || pixGetHeight(source) < 200 || xres < 50 || yres < 50) {
        reason = "image too small for a page";
        return false;
    }
    // Brought to 300 dpi, the page must fit on A3, either way round: a large image claiming a
    // low resolution would otherwise be scaled up to a page of metres, its work and memory
    // growing with the square of the scale. (The sheet is A4; a scan may have a margin.)
    const int w = pixGetWidth(source), h = pixGetHeight(source);
    const double longSide = std::max(w / xres, h / yres), shortSide = std::min(w / xres, h / yres);
    if (longSide > kMaxLongSide || shortSide > kMaxShortSide) {
        char text[96];
        std::snprintf(text, sizeof text, "%.0f x %.0f mm at its resolution, larger than A3", w / xres * 25.4,
                      h / yres * 25.4);
        reason = text;
        return false;
    }

    // Lone specks of fax noise go before anything is scaled up.
    CPix despeckled;
    if (pixGetDepth(source) == 1)
        despeckled = CPix(pixSelectBySize(source, 2, 2, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GTE, nullptr));
    CPix grey(pixConvertTo8(despeckled ? despeckled.Get() : source, 0));
    if (!grey) {
        reason = "image of an unsupported kind";
        return false;
    }
    page.grey = CPix(pixScale(grey.Get(), kDpi / xres, kDpi / yres));
    if (!page.grey) {
        reason = "image cannot be scaled";
        return false;
    }
    page.binary = CPix(pixThresholdToBinary(page.grey.Get(), kThreshold));
    l_float32 angle = 0, conf = 0;
    if (page.binary && pixFindSkew(page.binary.Get(), &angle, &conf) == 0 && conf > 2.5 && std::fabs(angle) > 0.05 &&
        std::fabs(angle) < 5) {
        page.skewDegrees = angle;
        CPix rotated(pixRotate(page.grey.Get(), angle * kPi / 180, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
        if (rotated) {
            page.grey = std::move(rotated);
            page.binary = CPix(pixThresholdToBinary(page.grey.Get(), kThreshold));
        }
    }
    if (!page.binary) {
        reason = "image cannot be binarised";
        return false;
    }
    return true;
}

CPix Binarise(Pix* grey) { return CPix(pixThresholdToBinary(grey, kThreshold)); }

}  // namespace sheet
