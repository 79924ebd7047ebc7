// Stored page images through libtiff on memory: Leptonica writes a page in one strip and reads
// all of it, where a field needs a few rows.
#include "desk/sheet/StoredPageImage.h"

#include <leptonica/allheaders.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace sheet {

namespace {

// A TIFF file in memory for libtiff's client I/O; `text` is read or written, `limit` bounds a
// written one.
struct MemoryFile {
    std::string* text = nullptr;  // written
    const std::string* source = nullptr;  // read
    toff_t position = 0;

    std::size_t Size() const { return source ? source->size() : text->size(); }
};

tsize_t ReadProc(thandle_t handle, tdata_t buffer, tsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size < 0 || file->position >= file->Size()) return 0;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), file->Size() - file->position);
    const std::string& data = file->source ? *file->source : *file->text;
    std::memcpy(buffer, data.data() + file->position, count);
    file->position += count;
    return static_cast<tsize_t>(count);
}

tsize_t WriteProc(thandle_t handle, tdata_t buffer, tsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (!file->text || size < 0) return -1;
    const std::size_t end = file->position + static_cast<std::size_t>(size);
    if (end > file->text->size()) file->text->resize(end);
    std::memcpy(&(*file->text)[file->position], buffer, static_cast<std::size_t>(size));
    file->position = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    // toff_t is unsigned: a step back from the current place or the end comes as its two's complement.
    toff_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->Size() : 0;
    const toff_t target = base + offset;
    // A page is megabytes at most; anything past a generous bound is a broken offset.
    if (target > (toff_t{1} << 31)) return static_cast<toff_t>(-1);
    file->position = target;
    return target;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->Size();
}

int MapProc(thandle_t, tdata_t*, toff_t*) {
    return 0;
}

void UnmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff's messages go to standard error by default; a damaged stored page is answered by a
// missing picture, not by lines in the station's log.
void Quiet(const char*, const char*, va_list) {}

TIFF* Open(MemoryFile& file, const char* mode) {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(Quiet);
        TIFFSetWarningHandler(Quiet);
    });
    return TIFFClientOpen("page", mode, &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc, UnmapProc);
}

class CTiff {
public:
    explicit CTiff(TIFF* tiff) : tiff_(tiff) {}
    ~CTiff() {
        if (tiff_) TIFFClose(tiff_);
    }
    CTiff(const CTiff&) = delete;
    CTiff& operator=(const CTiff&) = delete;
    TIFF* Get() const { return tiff_; }

private:
    TIFF* tiff_;
};

}  // namespace

bool EncodeStoredPage(Pix* pix, std::string& bytes) {
    if (!pix || pixGetDepth(pix) != 1) return false;
    const int width = pixGetWidth(pix), height = pixGetHeight(pix);
    // Leptonica keeps a row in native 32-bit words; the file wants its bytes in order.
    const CPix ordered(pixEndianByteSwapNew(pix));
    if (!ordered) return false;
    bytes.clear();
    MemoryFile file;
    file.text = &bytes;
    {
        const CTiff tiff(Open(file, "w"));
        if (!tiff.Get()) return false;
        TIFF* t = tiff.Get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(kStoredPageStripRows));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0f);
        const l_uint32* data = pixGetData(ordered.Get());
        const int wpl = pixGetWpl(ordered.Get());
        for (int row = 0; row < height; ++row)
            if (TIFFWriteScanline(t, const_cast<l_uint32*>(data + static_cast<std::size_t>(row) * wpl),
                                  static_cast<uint32_t>(row), 0) < 0)
                return false;
        if (!TIFFWriteDirectory(t)) return false;
    }
    return !bytes.empty();
}

CPix DecodeStoredPageRows(const std::string& bytes, int width, int height, std::vector<std::pair<int, int>> rows) {
    if (width <= 0 || height <= 0 || width > kMaxPageSide || height > kMaxPageSide) return CPix();
    MemoryFile file;
    file.source = &bytes;
    const CTiff tiff(Open(file, "rm"));
    if (!tiff.Get()) return CPix();
    TIFF* t = tiff.Get();
    uint32_t w = 0, h = 0, rowsPerStrip = 0;
    uint16_t bits = 0, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_MINISWHITE;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h) ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits) ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar) ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) || TIFFIsTiled(t))
        return CPix();
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    if (w != static_cast<uint32_t>(width) || h != static_cast<uint32_t>(height) || bits != 1 || samples != 1 ||
        planar != PLANARCONFIG_CONTIG || rowsPerStrip == 0)
        return CPix();
    const std::size_t stripRows = std::min<uint32_t>(rowsPerStrip, h);
    CPix pix(pixCreate(width, height, 1));
    if (!pix) return CPix();
    const int wpl = pixGetWpl(pix.Get());
    if (TIFFScanlineSize(t) <= 0 || static_cast<std::size_t>(TIFFScanlineSize(t)) > static_cast<std::size_t>(wpl) * 4)
        return CPix();
    l_uint32* data = pixGetData(pix.Get());
    for (auto& range : rows) {
        range.first = std::clamp(range.first, 0, height);
        range.second = std::clamp(range.second, range.first, height);
    }
    std::sort(rows.begin(), rows.end());
    // A strip decodes from its first row on, and only forwards: each range starts at its strip's
    // first row, or where the one before stopped when that is in the same strip.
    std::size_t next = 0;  // the row after the last one decoded
    for (const auto& [first, end] : rows) {
        const std::size_t from = std::max<std::size_t>(static_cast<std::size_t>(first), next);
        if (from >= static_cast<std::size_t>(end)) continue;
        const std::size_t stripStart = from / stripRows * stripRows;
        for (std::size_t row = next > stripStart ? next : stripStart; row < static_cast<std::size_t>(end); ++row)
            if (TIFFReadScanline(t, data + row * static_cast<std::size_t>(wpl), static_cast<uint32_t>(row), 0) < 0)
                return CPix();
        next = static_cast<std::size_t>(end);
    }
    float xres = 0, yres = 0;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres) && xres > 0 &&
        yres > 0 && xres < 100000 && yres < 100000)
        pixSetResolution(pix.Get(), static_cast<l_int32>(xres + 0.5f), static_cast<l_int32>(yres + 0.5f));
    pixEndianByteSwap(pix.Get());
    if (photometric == PHOTOMETRIC_MINISBLACK) pixInvert(pix.Get(), pix.Get());
    return pix;
}

}  // namespace sheet
