// Pages of a faxed or scanned file as images: TIFF (Group 3/4, one bit, several pages),
// PNG, JPEG by Leptonica, PDF pages rendered by poppler.
#pragma once

#include <string>
#include <vector>

struct Pix;
struct Box;

namespace sheet {

// Owns one Leptonica image.
class CPix {
public:
    CPix() = default;
    explicit CPix(Pix* pix) : pix_(pix) {}
    ~CPix();
    CPix(CPix&& other) noexcept : pix_(other.pix_) { other.pix_ = nullptr; }
    CPix& operator=(CPix&& other) noexcept;
    CPix(const CPix&) = delete;
    CPix& operator=(const CPix&) = delete;

    Pix* Get() const { return pix_; }
    explicit operator bool() const { return pix_ != nullptr; }

private:
    Pix* pix_ = nullptr;
};

// Black pixels of a one-bit image, or of a box of it (null: all). Leptonica would build its
// table of bit counts anew on every call; the reader counts pixels tens of thousands of times
// a page.
int CountPixels(Pix* pix, struct Box* box = nullptr);

// Black pixels in the boxes of the 8-connected blots of a one-bit image whose box reaches
// `least` pixels each way: what is left of a difference between two drawings once the thin
// specks and slivers every edge leaves are set aside. (Counted in the boxes: blots that big
// seldom share one.) Labels runs of pixels row by row, which is many times quicker than
// Leptonica's seed fill on the small, speckled images the reader measures by the thousand.
int BlotPixels(Pix* pix, int least);

// One page as it arrived, with its resolution (0 when the file does not say).
struct PageImage {
    CPix pix;
    int xres = 0;
    int yres = 0;
    bool faxCoded = false;  // one-bit fax coding: a bilevel image, or a PDF with CCITT or JBIG2 images
};

// Whether the file name says it holds pages (.tif .tiff .png .jpg .jpeg .pdf).
bool IsPageFile(const std::string& path);

// Reads every page of `path`. False with `error` set when the file cannot be read or is no
// image of a kind we take; a file is recognised by its contents, not its name.
bool LoadPages(const std::string& path, std::vector<PageImage>& pages, std::string& error);
// The same for bytes in memory (the fuzz target uses it).
bool LoadPagesFromMemory(const unsigned char* data, std::size_t size, std::vector<PageImage>& pages,
                         std::string& error);

}  // namespace sheet
