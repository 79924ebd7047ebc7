// Loading pages. Leptonica and poppler write their complaints to standard error; both are
// silenced, and every failure becomes one error text for the caller instead.
#include "desk/sheet/PageImage.h"

#include <leptonica/allheaders.h>
#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace sheet {

int CountPixels(Pix* pix, Box* box) {
    static l_int32* const table = makePixelSumTab8();
    l_int32 n = 0;
    if (box ? pixCountPixelsInRect(pix, box, &n, table) : pixCountPixels(pix, &n, table)) return 0;
    return n;
}

int BlotPixels(Pix* pix, int least) {
    if (!pix || pixGetDepth(pix) != 1) return 0;
    const int w = pixGetWidth(pix), h = pixGetHeight(pix), wpl = pixGetWpl(pix);
    const l_uint32* data = pixGetData(pix);
    struct Run {
        int x0, x1, blot;
    };
    struct Blot {
        int x0, x1, y0, y1;
    };
    std::vector<int> parent;
    std::vector<Blot> blots;
    std::vector<Run> above, row;
    auto root = [&](int b) {
        while (parent[b] != b) b = parent[b] = parent[parent[b]];
        return b;
    };
    for (int y = 0; y < h; ++y) {
        row.clear();
        const l_uint32* line = data + y * wpl;
        for (int x = 0; x < w;) {
            if ((x & 31) == 0 && line[x >> 5] == 0) {
                x += 32;
                continue;
            }
            if (!GET_DATA_BIT(line, x)) {
                ++x;
                continue;
            }
            int x1 = x;
            while (x1 + 1 < w && GET_DATA_BIT(line, x1 + 1)) ++x1;
            // A run joins every run of the row above that it touches, corners included.
            int blot = -1;
            for (const Run& r : above) {
                if (r.x1 < x - 1) continue;
                if (r.x0 > x1 + 1) break;
                const int b = root(r.blot);
                if (blot < 0) {
                    blot = b;
                } else if (b != blot) {
                    parent[b] = blot;
                    Blot& into = blots[blot];
                    const Blot& from = blots[b];
                    into = {std::min(into.x0, from.x0), std::max(into.x1, from.x1), std::min(into.y0, from.y0),
                            std::max(into.y1, from.y1)};
                }
            }
            if (blot < 0) {
                blot = static_cast<int>(parent.size());
                parent.push_back(blot);
                blots.push_back({x, x1, y, y});
            }
            Blot& b = blots[blot];
            b = {std::min(b.x0, x), std::max(b.x1, x1), b.y0, y};
            row.push_back({x, x1, blot});
            x = x1 + 1;
        }
        std::swap(above, row);
    }
    int total = 0;
    for (std::size_t i = 0; i < blots.size(); ++i) {
        const Blot& b = blots[i];
        if (parent[i] != static_cast<int>(i) || b.x1 - b.x0 + 1 < least || b.y1 - b.y0 + 1 < least) continue;
        Box* box = boxCreate(b.x0, b.y0, b.x1 - b.x0 + 1, b.y1 - b.y0 + 1);
        total += CountPixels(pix, box);
        boxDestroy(&box);
    }
    return total;
}

namespace {

// PDF pages are rendered at this resolution.
constexpr int kPdfDpi = 300;
// A3 is 842 x 1191 points; anything much larger is no faxed or scanned sheet.
constexpr double kMaxPagePoints = 1700;
// Memory one page may take from its decoding to the end of its reading (see PageBytesPerPixel):
// an A4 page at 600 dpi in grey (34.8 million pixels, 70 to 105 MB), or at about 400 dpi in
// colour. Two files are read at once, each page beside a recogniser and the reader's own page
// at 300 dpi (at most A3, about 70 MB): two such pages keep an import under 600 MB (545 MB for
// two grey pages of 150 MB brought to A3).
constexpr double kMaxPageBytes = 150e6;
// More pages than any fax holds: a file that claims more is not taken whole.
constexpr int kMaxPages = 200;
// A file's bytes stay in memory while its pages are read. Larger than any page file we expect
// (an A4 page at 600 dpi in colour, uncompressed, is about 100 MB).
constexpr std::size_t kMaxFileSize = 256u << 20;

void Quiet() {
    static const bool done = [] {
        setMsgSeverity(L_SEVERITY_NONE);
        poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
        return true;
    }();
    (void)done;
}

bool StartsWith(const unsigned char* data, std::size_t size, const char* magic, std::size_t length) {
    return size >= length && std::equal(magic, magic + length, reinterpret_cast<const char*>(data));
}

// The number after `key` where `key` stands at `at`: white space, then one to six digits. -1 when
// there is none ("/Widths", "/Width /", seven digits).
long NumberAt(std::string_view bytes, std::size_t at, std::string_view key) {
    if (bytes.compare(at, key.size(), key) != 0) return -1;
    std::size_t k = at + key.size();
    if (k >= bytes.size() || !std::isspace(static_cast<unsigned char>(bytes[k]))) return -1;
    while (k < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[k]))) ++k;
    long n = 0;
    std::size_t digits = 0;
    for (; k < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[k])) && digits < 7; ++k, ++digits)
        n = n * 10 + (bytes[k] - '0');
    return digits > 0 && digits < 7 ? n : -1;
}

// The pixel sizes of the fax-coded images, in the order the file holds them. An image is a
// stream, and a stream's dictionary is never compressed: it stands in plain text between the
// last "obj" before the filter's name and the next "stream", and its size is the first /Width
// and /Height there. One pass over the file: the file is the customer's, and a name repeated
// all over it must not make every occurrence search the file again.
std::vector<std::pair<long, long>> FaxImageSizes(std::string_view bytes) {
    struct Key {
        std::size_t at;
        long value;
    };
    std::vector<Key> widths, heights;  // every /Width n and /Height n, in the file's order
    std::size_t width = 0, height = 0;  // the first of them not before the dictionary asked about
    // The first of `keys` in [from, to). Asked with `from` never decreasing, so `next` only moves on.
    const auto first = [](const std::vector<Key>& keys, std::size_t& next, std::size_t from, std::size_t to) {
        while (next < keys.size() && keys[next].at < from) ++next;
        return next < keys.size() && keys[next].at < to ? keys[next].value : -1;
    };
    std::size_t obj = std::string_view::npos;  // the last "obj"
    std::vector<std::size_t> waiting;          // for each filter's name since the last "stream", the "obj" before it
    std::vector<std::pair<long, long>> sizes;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (c == 'o' && bytes.compare(at, 3, "obj") == 0) {
            obj = at;
        } else if (c == 's' && bytes.compare(at, 6, "stream") == 0) {
            for (const std::size_t from : waiting) {
                const long w = first(widths, width, from, at), h = first(heights, height, from, at);
                if (w > 0 && h > 0) sizes.push_back({w, h});
            }
            waiting.clear();
        } else if (c == '/') {
            if (bytes.compare(at, 15, "/CCITTFaxDecode") == 0 || bytes.compare(at, 12, "/JBIG2Decode") == 0) {
                if (obj != std::string_view::npos) waiting.push_back(obj);
            } else if (const long w = NumberAt(bytes, at, "/Width"); w >= 0) {
                widths.push_back({at, w});
            } else if (const long h = NumberAt(bytes, at, "/Height"); h >= 0) {
                heights.push_back({at, h});
            }
        }
    }
    return sizes;
}

// What a page takes in memory per pixel, at its most, from its decoding to the end of its
// reading: the image at the depth Leptonica decodes it to (`bits` a pixel), and beside it either
// what the decoder holds for a while or the reader's grey copy of the page at its own size,
// whichever is more. `decoder` is that buffer's bytes a pixel. (Measured for each kind of file:
// the estimate is the peak of decoding and reading, or a little above it.)
double PageBytesPerPixel(int bits, double decoder) {
    return bits / 8.0 + std::max(decoder, 1.0);
}

// Measures each page of a file before it is decoded, and counts the file's pixels.
class CPageBudget {
public:
    explicit CPageBudget(double maxPixels) : maxPixels_(maxPixels) {}

    // "" when the page may be decoded, else why not.
    std::string Admit(double width, double height, double bytesPerPixel) {
        char why[128];
        if (width > kMaxPageSide || height > kMaxPageSide) {
            std::snprintf(why, sizeof why, "%.0f x %.0f pixels, larger than any sheet of paper at 600 dpi", width,
                          height);
            return why;
        }
        if (width * height * bytesPerPixel > kMaxPageBytes) {
            std::snprintf(why, sizeof why, "%.0f x %.0f pixels would take %.0f MB, more than a page may (%.0f MB)",
                          width, height, width * height * bytesPerPixel / 1e6, kMaxPageBytes / 1e6);
            return why;
        }
        if (pixels_ + width * height > maxPixels_) {
            std::snprintf(why, sizeof why, "would take the file's pages past %.0f million pixels, the rest is not read",
                          maxPixels_ / 1e6);
            return why;
        }
        pixels_ += width * height;
        return "";
    }

private:
    double maxPixels_;
    double pixels_ = 0;
};

std::string PageError(int number, const std::string& why) {
    return "page " + std::to_string(number) + ": " + why;
}

bool ReadPdf(const std::string& file, CPageBudget& budget, const PageSink& take, std::string& error) {
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(file.data(), static_cast<int>(file.size())));
    if (!document || document->is_locked()) {
        error = "not a readable PDF";
        return false;
    }
    const int count = document->pages();
    if (count <= 0) {
        error = "PDF without pages";
        return false;
    }
    // Fax-to-mail services put the fax's own Group 3/4 (or JBIG2) images into the PDF.
    const std::string_view bytes(file);
    const bool faxCoded = bytes.find("/CCITTFaxDecode") != std::string_view::npos ||
                          bytes.find("/JBIG2Decode") != std::string_view::npos;
    // A fax is read at its own lines per inch, pixel for pixel, as if it had come as a TIFF: a
    // page rendered at another resolution would blur its specks into marks and look like a
    // scan to the reader. That takes one fax image filling each page, as fax-to-mail services
    // make them; where the sizes do not say which image is on which page, the page is
    // rendered as any other.
    std::vector<std::pair<long, long>> faxSizes;
    if (faxCoded) {
        faxSizes = FaxImageSizes(bytes);
        const bool alike = std::all_of(faxSizes.begin(), faxSizes.end(),
                                       [&](const auto& s) { return s == faxSizes.front(); });
        if (!alike && static_cast<int>(faxSizes.size()) != count) faxSizes.clear();
    }
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_gray8);
    int handed = 0;
    for (int i = 0; i < std::min(count, kMaxPages); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page) continue;
        // Larger than any paper a fax or scanner takes: rendering it could exhaust memory.
        const poppler::rectf box = page->page_rect();
        if (!(box.width() > 0 && box.height() > 0 && box.width() <= kMaxPagePoints && box.height() <= kMaxPagePoints)) {
            error = PageError(i + 1, "no size of a sheet of paper");
            return false;
        }
        double xres = kPdfDpi, yres = kPdfDpi;
        bool bilevel = false;
        if (!faxSizes.empty()) {
            const auto& [w, h] = faxSizes[std::min<std::size_t>(i, faxSizes.size() - 1)];
            const double fx = w * 72.0 / box.width(), fy = h * 72.0 / box.height();
            if (fx >= 90 && fx <= 450 && fy >= 90 && fy <= 450) {
                // The renderer rounds the page's size in pixels up: a quarter pixel less keeps
                // it at the image's own, which a page size in points rounded a little up would
                // otherwise exceed by a row, resampling the whole image.
                xres = (w - 0.25) * 72.0 / box.width(), yres = (h - 0.25) * 72.0 / box.height();
                bilevel = true;
            }
        }
        // Its size and resolution give its pixels before it is rendered. The renderer's grey
        // image and ours are held together for a moment, then ours and the reader's copy.
        const std::string refused = budget.Admit(std::ceil(box.width() * xres / 72),
                                                 std::ceil(box.height() * yres / 72), PageBytesPerPixel(8, 1));
        if (!refused.empty()) {
            error = PageError(i + 1, refused);
            return false;
        }
        PageImage out;
        {
            const poppler::image image = renderer.render_page(page.get(), xres, yres);
            if (!image.is_valid() || image.format() != poppler::image::format_gray8) {
                error = PageError(i + 1, "cannot be rendered");
                return false;
            }
            out.pix = CPix(pixCreate(image.width(), image.height(), 8));
            if (!out.pix) {
                error = PageError(i + 1, "out of memory");
                return false;
            }
            // Row by row as bytes, then into Leptonica's order of bytes in a word, as its own
            // readers do: a billion pixels copied one by one took seconds.
            for (int y = 0; y < image.height(); ++y)
                std::memcpy(pixGetData(out.pix.Get()) + y * pixGetWpl(out.pix.Get()),
                            image.const_data() + y * image.bytes_per_row(), image.width());
            pixEndianByteSwap(out.pix.Get());
        }
        if (bilevel) {
            CPix bits(pixThresholdToBinary(out.pix.Get(), 128));
            if (!bits) {
                error = PageError(i + 1, "out of memory");
                return false;
            }
            out.pix = std::move(bits);
        }
        out.xres = static_cast<int>(std::lround(xres));
        out.yres = static_cast<int>(std::lround(yres));
        out.faxCoded = faxCoded;
        ++handed;
        if (!take(out, i + 1)) return true;
    }
    if (handed == 0) {
        error = "PDF without a readable page";
        return false;
    }
    return true;
}

// The header of the TIFF directory at `offset` (0: the first). Leptonica reads a directory's
// header only by its number, walking the chain of directories from the first each time, which
// would make a file's pages cost the square of their number; the directory at `offset` is made
// the first for the moment instead, by writing its place into the file's header. It is then the
// very directory that pixReadMemFromMultipageTiff decodes from the same offset.
bool TiffHeaderAt(std::string& file, std::size_t offset, l_int32& w, l_int32& h, l_int32& bps, l_int32& spp,
                  l_int32& colormap) {
    if (offset > 0xFFFFFFFFu || file.size() < 8) return false;
    const std::string header = file.substr(4, 4);
    if (offset != 0) {
        const bool little = file[0] == 'I';
        for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<char>(offset >> (8 * (little ? i : 3 - i)));
    }
    const l_int32 failed = readHeaderMemTiff(reinterpret_cast<const l_uint8*>(file.data()), file.size(), 0, &w, &h,
                                             &bps, &spp, nullptr, &colormap, nullptr);
    file.replace(4, 4, header);
    return failed == 0 && w > 0 && h > 0;
}

bool ReadTiff(std::string& file, CPageBudget& budget, const PageSink& take, std::string& error) {
    const auto* data = reinterpret_cast<const l_uint8*>(file.data());
    // Page by page, at most kMaxPages, and never the same directory twice: a damaged file
    // whose chain of pages loops back would otherwise be read for ever. A page that cannot be
    // decoded ends the file.
    std::vector<std::size_t> seen;
    std::size_t offset = 0;
    int handed = 0;
    for (int number = 1; number <= kMaxPages; ++number) {
        seen.push_back(offset);
        l_int32 w = 0, h = 0, bps = 0, spp = 0, colormap = 0;
        if (!TiffHeaderAt(file, offset, w, h, bps, spp, colormap)) break;
        // Grey or a palette is decoded as it stands, and turned (by the orientation it names) into
        // a copy; colour is read whole into a buffer of its own first, and so is one bit with a
        // palette of colours, which becomes colour.
        const bool colour = spp != 1 || (bps == 1 && colormap);
        const std::string refused =
            budget.Admit(w, h, colour ? PageBytesPerPixel(32, 4) : PageBytesPerPixel(bps, bps / 8.0));
        if (!refused.empty()) {
            error = PageError(number, refused);
            return false;
        }
        PageImage page;
        page.pix = CPix(pixReadMemFromMultipageTiff(data, file.size(), &offset));
        if (!page.pix) break;
        page.xres = pixGetXRes(page.pix.Get());
        page.yres = pixGetYRes(page.pix.Get());
        page.faxCoded = pixGetDepth(page.pix.Get()) == 1;
        ++handed;
        if (!take(page, number)) return true;
        if (offset == 0 || std::find(seen.begin(), seen.end(), offset) != seen.end()) break;
    }
    if (handed == 0) {
        error = "damaged TIFF file";
        return false;
    }
    return true;
}

// Whether a PNG holds transparency (a tRNS chunk before its image data), or cannot be walked to
// its image data: Leptonica reads a grey or palette image with transparency as colour, 4 bytes
// a pixel, which its header does not tell.
bool PngMayBecomeColour(const std::string& file) {
    for (std::size_t at = 8; at + 8 <= file.size();) {
        std::size_t length = 0;
        for (int i = 0; i < 4; ++i) length = length << 8 | static_cast<unsigned char>(file[at + i]);
        const std::string_view type(file.data() + at + 4, 4);
        if (type == "tRNS") return true;
        if (type == "IDAT") return false;
        at += 12 + length;  // length, type, data, check sum
    }
    return true;
}

// A PNG or JPEG file: one page.
bool ReadImage(std::string& file, bool png, CPageBudget& budget, const PageSink& take, std::string& error) {
    const auto* data = reinterpret_cast<const l_uint8*>(file.data());
    const char* damaged = png ? "damaged PNG file" : "damaged JPEG file";
    l_int32 w = 0, h = 0, bps = 8, spp = 0, palette = 0;
    const l_int32 header = png ? readHeaderMemPng(data, file.size(), &w, &h, &bps, &spp, &palette)
                               : readHeaderMemJpeg(data, file.size(), &w, &h, &spp, nullptr, nullptr);
    if (header != 0 || w <= 0 || h <= 0) {
        error = damaged;
        return false;
    }
    // A PNG is read whole into its rows, a progressive JPEG into its coefficients. A PNG of one
    // bit with a palette of colours, or with transparency, becomes colour.
    const bool colour = spp != 1 || (png && ((bps == 1 && palette) || PngMayBecomeColour(file)));
    const std::string refused =
        budget.Admit(w, h, PageBytesPerPixel(colour ? 32 : bps, png ? spp * bps / 8.0 + 0.125 : spp * 2.0));
    if (!refused.empty()) {
        error = PageError(1, refused);
        return false;
    }
    PageImage page;
    page.pix = CPix(pixReadMem(data, file.size()));
    std::string().swap(file);  // not needed beside the page while it is read
    if (!page.pix) {
        error = damaged;
        return false;
    }
    page.xres = pixGetXRes(page.pix.Get());
    page.yres = pixGetYRes(page.pix.Get());
    page.faxCoded = pixGetDepth(page.pix.Get()) == 1;
    take(page, 1);
    return true;
}

// The file's bytes are the reader's to change for a moment (TiffHeaderAt) and to give up when
// they are no longer needed.
bool ReadPagesOf(std::string& file, const PageSink& take, std::string& error, double maxPixels) {
    Quiet();
    CPageBudget budget(maxPixels);
    const auto* data = reinterpret_cast<const unsigned char*>(file.data());
    if (StartsWith(data, file.size(), "%PDF-", 5)) return ReadPdf(file, budget, take, error);
    if (StartsWith(data, file.size(), "II*\0", 4) || StartsWith(data, file.size(), "MM\0*", 4))
        return ReadTiff(file, budget, take, error);
    const bool png = StartsWith(data, file.size(), "\x89PNG", 4);
    if (png || StartsWith(data, file.size(), "\xFF\xD8\xFF", 3)) return ReadImage(file, png, budget, take, error);
    error = "not a TIFF, PNG, JPEG or PDF file";
    return false;
}

}  // namespace

CPix::~CPix() {
    if (pix_) pixDestroy(&pix_);
}

CPix& CPix::operator=(CPix&& other) noexcept {
    if (this != &other) {
        if (pix_) pixDestroy(&pix_);
        pix_ = other.pix_;
        other.pix_ = nullptr;
    }
    return *this;
}

bool IsPageFile(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "tif" || ext == "tiff" || ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "pdf";
}

bool ReadPagesFromMemory(const unsigned char* data, std::size_t size, const PageSink& take, std::string& error,
                         double maxPixels) {
    std::string file(reinterpret_cast<const char*>(data), size);
    return ReadPagesOf(file, take, error, maxPixels);
}

bool ReadPages(const std::string& path, const PageSink& take, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the file";
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0 || static_cast<std::size_t>(length) > kMaxFileSize) {
        error = "file too large for a page image";
        return false;
    }
    in.seekg(0);
    std::string file(static_cast<std::size_t>(length), '\0');
    if (!in.read(file.data(), length)) {
        error = "cannot read the file";
        return false;
    }
    return ReadPagesOf(file, take, error, kMaxFilePixels);
}

namespace {

// Keeps every page, up to two of the largest pages' memory.
PageSink Keep(std::vector<PageImage>& pages, std::string& error) {
    pages.clear();
    return [&pages, &error, held = 0.0](PageImage& page, int number) mutable {
        held += 4.0 * pixGetWpl(page.pix.Get()) * pixGetHeight(page.pix.Get());
        if (held > 2 * kMaxPageBytes) {
            error = PageError(number, "the pages of the file take too much memory to be held at once");
            pages.clear();
            return false;
        }
        pages.push_back(std::move(page));
        return true;
    };
}

}  // namespace

bool LoadPages(const std::string& path, std::vector<PageImage>& pages, std::string& error) {
    error.clear();
    return ReadPages(path, Keep(pages, error), error) && error.empty();
}

bool LoadPagesFromMemory(const unsigned char* data, std::size_t size, std::vector<PageImage>& pages,
                         std::string& error) {
    error.clear();
    return ReadPagesFromMemory(data, size, Keep(pages, error), error) && error.empty();
}

}  // namespace sheet
