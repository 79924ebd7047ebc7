// Pictures of a stored page for the review station: a doubtful field cut from its page, and the
// whole page scaled down, both as PNG, with their size bounded whatever the stored box says.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "desk/Database.h"

namespace desk::web {

// Room left around a field's box, so the clerk sees the ink that ran over it.
constexpr int kFieldMargin = 16;
// A field's picture is never larger than this (a box gone wrong cannot ask for a whole page).
constexpr int kMaxFieldWidth = 2400;
constexpr int kMaxFieldHeight = 600;
// The whole page is shown at most this wide.
constexpr int kPageWidth = 1000;

// A stored page decoded, ready to cut from; shared by the requests that use it.
class CDecodedPage;
using DecodedPage = std::shared_ptr<const CDecodedPage>;

// The page decoded, if it is what the reader stores (one-bit G4 TIFF of a page's size) and
// decodes to the size it was stored with; null otherwise.
DecodedPage DecodePage(const StoredPage& page);
// The same with only the rows FieldPng cuts for `boxes` decoded (the rest white): a page
// stored in strips decodes just the strips the boxes are in, one in a single strip down to the
// lowest box.
DecodedPage DecodePageRows(const StoredPage& page, const std::vector<PageBox>& boxes);
// The part of the page inside `box` and its margin, cut to the page and to the bounds above, as
// PNG; nothing when the box lies off the page.
std::optional<std::string> FieldPng(const CDecodedPage& page, const PageBox& box);
// The whole page, scaled to gray at most kPageWidth wide, as PNG.
std::optional<std::string> PagePng(const CDecodedPage& page);

// The pages decoded last: a registration's doubtful fields are asked for one after another,
// and decoding a page costs more than cutting all of its fields. Bounded (about 1 MB a page at
// 300 dpi); a stored page never changes, so nothing in it goes stale.
class CPageCache {
public:
    explicit CPageCache(std::size_t capacity) : capacity_(capacity) {}
    DecodedPage Find(std::int64_t registration, int page);
    void Keep(std::int64_t registration, int page, DecodedPage decoded);

private:
    std::mutex mutex_;
    std::size_t capacity_;
    std::list<std::pair<std::pair<std::int64_t, int>, DecodedPage>> pages_;  // most recent first
};

// Field pictures as PNG, cut for all of a registration's doubts on a page at once: the first
// picture asked for decodes the rows of them all, the others come from here. Bounded by
// kFieldCacheBytes of PNG and kFieldCacheSlots pages (a field's PNG is a few KB, so about a
// thousand registrations' pictures); a stored page never changes, so nothing in it goes stale.
constexpr std::size_t kFieldCacheBytes = 4u << 20;
constexpr std::size_t kFieldCacheSlots = 1024;

class CFieldPictures {
public:
    // The PNGs of one registration's page, made by the first request that needs them; the
    // requests after it wait for it instead of decoding the page again.
    struct Slot {
        std::mutex mutex;
        std::map<std::tuple<int, int, int, int>, std::optional<std::string>> pictures;  // by box
        std::size_t bytes = 0;
        static std::tuple<int, int, int, int> Key(const PageBox& box) { return {box.x, box.y, box.width, box.height}; }
    };
    std::shared_ptr<Slot> Find(std::int64_t registration, int page);
    // Counts what `slot` holds now and lets the least recently used pages go beyond the bounds.
    void Account(const std::shared_ptr<Slot>& slot, std::size_t bytes);
    std::size_t Bytes();

private:
    std::mutex mutex_;
    std::size_t bytes_ = 0;
    struct Entry {
        std::pair<std::int64_t, int> key;
        std::shared_ptr<Slot> slot;
        std::size_t bytes = 0;
    };
    std::list<Entry> slots_;  // most recent first
};

}  // namespace desk::web
