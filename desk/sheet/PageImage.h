// Pages of a faxed or scanned file as images: TIFF (Group 3/4, one bit, several pages),
// PNG, JPEG by Leptonica, PDF pages rendered by poppler.
#pragma once

#include <cstddef>
#include <functional>
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

// No side of a page is longer than A3's at 600 dpi (9921 pixels).
constexpr int kMaxPageSide = 10000;
// The pixels of all pages of one file together: 28 A4 pages at 600 dpi (34.8 million each), 114
// at 300 dpi, or two hundred fax pages at fine resolution (4 million). A page costs the reader a
// second or two; more pages than these are no customer's reply.
constexpr double kMaxFilePixels = 1e9;

// Whether the file name says it holds pages (.tif .tiff .png .jpg .jpeg .pdf).
bool IsPageFile(const std::string& path);

// Receives the pages of a file one at a time, each with its number in the file (from 1), and may
// keep the image; returns false to read no further.
using PageSink = std::function<bool(PageImage& page, int number)>;

// Reads the pages of `path` one by one into `take`. Each page is measured before it is decoded
// (a TIFF page by its own directory, a PDF page by its size and the resolution it is rendered
// at): a page larger than any sheet of paper, or one that takes the file past its budget of
// pixels, is refused and ends the file. False with `error` set when the file cannot be read or
// is no image of a kind we take ("damaged TIFF file"), or when a page is refused ("page 7: ...",
// the pages before it handed over); a file is recognised by its contents, not its name.
bool ReadPages(const std::string& path, const PageSink& take, std::string& error);
// The same for bytes in memory, with the file's budget of pixels given: the fuzz target reads
// with less, so that each input stays quick.
bool ReadPagesFromMemory(const unsigned char* data, std::size_t size, const PageSink& take, std::string& error,
                         double maxPixels = kMaxFilePixels);

// Every page of a file at once (tests, the bench): ReadPages into `pages`, refused with an error when the
// pages together would take more memory than two of the largest pages.
bool LoadPages(const std::string& path, std::vector<PageImage>& pages, std::string& error);
bool LoadPagesFromMemory(const unsigned char* data, std::size_t size, std::vector<PageImage>& pages,
                         std::string& error);

}  // namespace sheet
