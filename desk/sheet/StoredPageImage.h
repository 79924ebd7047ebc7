// The page image kept with a registration, as bytes: one bit, Group 4, in strips of
// kStoredPageStripRows rows. Each strip is coded on its own, so the rows of one field decode
// without the page above them; a page stored in one strip (before strips were written) still
// reads, from its top.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "desk/sheet/PageImage.h"

namespace sheet {

constexpr int kStoredPageStripRows = 128;

// `pix` (one bit, 1 = ink) as a Group 4 TIFF in strips; false when it cannot be written.
bool EncodeStoredPage(Pix* pix, std::string& bytes);

// The page in `bytes` (a one-bit TIFF of `width` x `height`) with only the rows in `rows`
// ([first, end) pairs, in any order, cut to the page) decoded; every other row is white.
// Null when the bytes are no such image or do not decode.
CPix DecodeStoredPageRows(const std::string& bytes, int width, int height, std::vector<std::pair<int, int>> rows);

}  // namespace sheet
