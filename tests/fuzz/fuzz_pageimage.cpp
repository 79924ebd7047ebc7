// Fuzzes the page input of the sheet reader: Leptonica and poppler take arbitrary bytes as a
// TIFF, PNG, JPEG or PDF file. Whatever loads is a page with pixels, or an error text.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <leptonica/allheaders.h>

#include "desk/sheet/PageImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<sheet::PageImage> pages;
    std::string error;
    if (sheet::LoadPagesFromMemory(data, size, pages, error)) {
        for (const sheet::PageImage& page : pages)
            if (!page.pix || pixGetWidth(page.pix.Get()) <= 0) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
