// Cutting and scaling stored page images with Leptonica.
#include "desk/web/PageCut.h"

#include <leptonica/allheaders.h>

#include <algorithm>

#include "desk/sheet/PageImage.h"

namespace desk::web {

namespace {

// Leptonica's boxes and its output buffers, freed on every path.
class CBox {
public:
    CBox(int x, int y, int w, int h) : box_(boxCreate(x, y, w, h)) {}
    ~CBox() { boxDestroy(&box_); }
    CBox(const CBox&) = delete;
    CBox& operator=(const CBox&) = delete;
    Box* Get() const { return box_; }

private:
    Box* box_;
};

class CLeptBytes {
public:
    CLeptBytes() = default;
    ~CLeptBytes() { lept_free(data_); }
    CLeptBytes(const CLeptBytes&) = delete;
    CLeptBytes& operator=(const CLeptBytes&) = delete;
    l_uint8** Receive() { return &data_; }
    size_t* Size() { return &size_; }
    std::string Text() const { return data_ ? std::string(reinterpret_cast<const char*>(data_), size_) : std::string(); }

private:
    l_uint8* data_ = nullptr;
    size_t size_ = 0;
};

// The stored page decoded, if it is what the reader stores (one-bit G4 TIFF of a page's size)
// and decodes to the size it was stored with.
sheet::CPix Decode(const StoredPage& page) {
    if (page.format != "tiff-g4" || page.bytes.empty() || page.width <= 0 || page.height <= 0 ||
        page.width > sheet::kMaxPageSide || page.height > sheet::kMaxPageSide)
        return sheet::CPix();
    sheet::CPix pix(pixReadMemTiff(reinterpret_cast<const l_uint8*>(page.bytes.data()), page.bytes.size(), 0));
    if (!pix || pixGetWidth(pix.Get()) != page.width || pixGetHeight(pix.Get()) != page.height) return sheet::CPix();
    return pix;
}

std::optional<std::string> Png(Pix* pix) {
    CLeptBytes bytes;
    if (!pix || pixWriteMemPng(bytes.Receive(), bytes.Size(), pix, 0.0f) != 0) return std::nullopt;
    return bytes.Text();
}

}  // namespace

std::optional<std::string> FieldPng(const StoredPage& page, const PageBox& box) {
    if (box.Empty()) return std::nullopt;
    const sheet::CPix pix = Decode(page);
    if (!pix) return std::nullopt;
    // In 64-bit arithmetic: a stored box may hold any int.
    const long long left = std::max(0LL, static_cast<long long>(box.x) - kFieldMargin);
    const long long top = std::max(0LL, static_cast<long long>(box.y) - kFieldMargin);
    const long long right = std::min<long long>({page.width, static_cast<long long>(box.x) + box.width + kFieldMargin,
                                                 left + kMaxFieldWidth});
    const long long bottom = std::min<long long>({page.height, static_cast<long long>(box.y) + box.height + kFieldMargin,
                                                  top + kMaxFieldHeight});
    if (right <= left || bottom <= top) return std::nullopt;
    const CBox clip(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top));
    const sheet::CPix cut(pixClipRectangle(pix.Get(), clip.Get(), nullptr));
    return Png(cut.Get());
}

std::optional<std::string> PagePng(const StoredPage& page) {
    const sheet::CPix pix = Decode(page);
    if (!pix) return std::nullopt;
    if (page.width <= kPageWidth) return Png(pix.Get());
    // Scaled to gray, so thin strokes stay visible; the factor stays in the range Leptonica takes.
    const float factor = std::max(0.0625f, static_cast<float>(kPageWidth) / static_cast<float>(page.width));
    const sheet::CPix scaled(pixGetDepth(pix.Get()) == 1 ? pixScaleToGray(pix.Get(), factor)
                                                          : pixScale(pix.Get(), factor, factor));
    return Png(scaled.Get());
}

}  // namespace desk::web
