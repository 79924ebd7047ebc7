// Pictures of a stored page for the review station: a doubtful field cut from its page, and the
// whole page scaled down, both as PNG, with their size bounded whatever the stored box says.
#pragma once

#include <optional>
#include <string>

#include "desk/Database.h"

namespace desk::web {

// Room left around a field's box, so the clerk sees the ink that ran over it.
constexpr int kFieldMargin = 16;
// A field's picture is never larger than this (a box gone wrong cannot ask for a whole page).
constexpr int kMaxFieldWidth = 2400;
constexpr int kMaxFieldHeight = 600;
// The whole page is shown at most this wide.
constexpr int kPageWidth = 1000;

// The part of `page` inside `box` and its margin, cut to the page and to the bounds above, as PNG;
// nothing when the page is no stored page we read or the box lies off it.
std::optional<std::string> FieldPng(const StoredPage& page, const PageBox& box);
// The whole page, scaled to gray at most kPageWidth wide, as PNG.
std::optional<std::string> PagePng(const StoredPage& page);

}  // namespace desk::web
