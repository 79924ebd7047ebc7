// Fuzzes the page input of the sheet reader: Leptonica and poppler take arbitrary bytes as a
// TIFF, PNG, JPEG or PDF file, read page by page as the import reads them. Whatever loads is a
// page with pixels within the limits every page was measured against before it was decoded,
// numbered in order; anything else is an error text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <leptonica/allheaders.h>

#include "desk/sheet/PageImage.h"

// A tenth of the import's budget of pixels: a file at the full budget renders for seconds, and
// every input must stay well inside the per-input time limit (scripts/fuzz.sh).
constexpr double kFuzzPixels = sheet::kMaxFilePixels / 10;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    int last = 0;
    double pixels = 0;
    const auto check = [&](sheet::PageImage& page, int number) {
        if (!page.pix || number <= last) std::abort();
        const int w = pixGetWidth(page.pix.Get()), h = pixGetHeight(page.pix.Get());
        if (w <= 0 || h <= 0 || w > sheet::kMaxPageSide || h > sheet::kMaxPageSide) std::abort();
        pixels += static_cast<double>(w) * h;
        if (pixels > kFuzzPixels) std::abort();
        last = number;
        return true;
    };
    if (!sheet::ReadPagesFromMemory(data, size, check, error, kFuzzPixels) && error.empty()) std::abort();
    return 0;
}
