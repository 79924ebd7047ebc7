// Cutting and scaling stored page images with Leptonica.
#include "desk/web/PageCut.h"

#include <leptonica/allheaders.h>

#include <algorithm>

#include "desk/sheet/PageImage.h"
#include "desk/sheet/StoredPageImage.h"

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

std::optional<std::string> Png(Pix* pix) {
    CLeptBytes bytes;
    if (!pix || pixWriteMemPng(bytes.Receive(), bytes.Size(), pix, 0.0f) != 0) return std::nullopt;
    return bytes.Text();
}

}  // namespace

class CDecodedPage {
public:
    CDecodedPage(sheet::CPix pix, int width, int height) : pix_(std::move(pix)), width_(width), height_(height) {}
    Pix* Get() const { return pix_.Get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    sheet::CPix pix_;
    int width_, height_;
};

DecodedPage DecodePage(const StoredPage& page) {
    if (page.format != "tiff-g4" || page.bytes.empty() || page.width <= 0 || page.height <= 0 ||
        page.width > sheet::kMaxPageSide || page.height > sheet::kMaxPageSide)
        return nullptr;
    // Leptonica reads a page in strips as well as one in a single strip.
    sheet::CPix pix(pixReadMemTiff(reinterpret_cast<const l_uint8*>(page.bytes.data()), page.bytes.size(), 0));
    if (!pix || pixGetWidth(pix.Get()) != page.width || pixGetHeight(pix.Get()) != page.height) return nullptr;
    return std::make_shared<const CDecodedPage>(std::move(pix), page.width, page.height);
}

namespace {

// The part of a `width` x `height` page FieldPng cuts for `box`: the box and its margin, cut to
// the page and to the picture's bounds. In 64-bit arithmetic: a stored box may hold any int.
struct Cut {
    long long left, top, right, bottom;
    bool Empty() const { return right <= left || bottom <= top; }
};

Cut CutOf(const PageBox& box, int width, int height) {
    Cut cut;
    cut.left = std::max(0LL, static_cast<long long>(box.x) - kFieldMargin);
    cut.top = std::max(0LL, static_cast<long long>(box.y) - kFieldMargin);
    cut.right = std::min<long long>({width, static_cast<long long>(box.x) + box.width + kFieldMargin,
                                     cut.left + kMaxFieldWidth});
    cut.bottom = std::min<long long>({height, static_cast<long long>(box.y) + box.height + kFieldMargin,
                                      cut.top + kMaxFieldHeight});
    return cut;
}

bool Decodable(const StoredPage& page) {
    return page.format == "tiff-g4" && !page.bytes.empty() && page.width > 0 && page.height > 0 &&
           page.width <= sheet::kMaxPageSide && page.height <= sheet::kMaxPageSide;
}

}  // namespace

DecodedPage DecodePageRows(const StoredPage& page, const std::vector<PageBox>& boxes) {
    if (!Decodable(page)) return nullptr;
    std::vector<std::pair<int, int>> rows;
    for (const PageBox& box : boxes) {
        const Cut cut = CutOf(box, page.width, page.height);
        if (!box.Empty() && !cut.Empty()) rows.emplace_back(static_cast<int>(cut.top), static_cast<int>(cut.bottom));
    }
    sheet::CPix pix = sheet::DecodeStoredPageRows(page.bytes, page.width, page.height, std::move(rows));
    if (!pix) return nullptr;
    return std::make_shared<const CDecodedPage>(std::move(pix), page.width, page.height);
}

std::optional<std::string> FieldPng(const CDecodedPage& page, const PageBox& box) {
    if (box.Empty()) return std::nullopt;
    const Cut part = CutOf(box, page.Width(), page.Height());
    const long long left = part.left, top = part.top, right = part.right, bottom = part.bottom;
    if (part.Empty()) return std::nullopt;
    const CBox clip(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top));
    // Only read from the shared page: the cut is a new image.
    const sheet::CPix cut(pixClipRectangle(page.Get(), clip.Get(), nullptr));
    return Png(cut.Get());
}

std::optional<std::string> PagePng(const CDecodedPage& page) {
    if (page.Width() <= kPageWidth) return Png(page.Get());
    // Scaled to gray, so thin strokes stay visible; the factor stays in the range Leptonica takes.
    const float factor = std::max(0.0625f, static_cast<float>(kPageWidth) / static_cast<float>(page.Width()));
    const sheet::CPix scaled(pixGetDepth(page.Get()) == 1 ? pixScaleToGray(page.Get(), factor)
                                                           : pixScale(page.Get(), factor, factor));
    return Png(scaled.Get());
}

DecodedPage CPageCache::Find(std::int64_t registration, int page) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = pages_.begin(); it != pages_.end(); ++it)
        if (it->first == std::make_pair(registration, page)) {
            pages_.splice(pages_.begin(), pages_, it);
            return pages_.front().second;
        }
    return nullptr;
}

void CPageCache::Keep(std::int64_t registration, int page, DecodedPage decoded) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = pages_.begin(); it != pages_.end(); ++it)
        if (it->first == std::make_pair(registration, page)) {
            pages_.erase(it);
            break;
        }
    pages_.emplace_front(std::make_pair(registration, page), std::move(decoded));
    if (pages_.size() > capacity_) pages_.pop_back();
}

}  // namespace desk::web

namespace desk::web {

std::shared_ptr<CFieldPictures::Slot> CFieldPictures::Find(std::int64_t registration, int page) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::pair<std::int64_t, int> key(registration, page);
    for (auto it = slots_.begin(); it != slots_.end(); ++it)
        if (it->key == key) {
            slots_.splice(slots_.begin(), slots_, it);
            return slots_.front().slot;
        }
    slots_.push_front({key, std::make_shared<Slot>(), 0});
    if (slots_.size() > kFieldCacheSlots) {
        bytes_ -= slots_.back().bytes;
        slots_.pop_back();
    }
    return slots_.front().slot;
}

void CFieldPictures::Account(const std::shared_ptr<Slot>& slot, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& entry : slots_)
        if (entry.slot == slot) {
            bytes_ = bytes_ - entry.bytes + bytes;
            entry.bytes = bytes;
        }
    // The oldest go first; the one just made stays even when it alone is over the bound.
    while (bytes_ > kFieldCacheBytes && slots_.size() > 1 && slots_.back().slot != slot) {
        bytes_ -= slots_.back().bytes;
        slots_.pop_back();
    }
}

std::size_t CFieldPictures::Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

}  // namespace desk::web
