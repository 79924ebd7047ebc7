// Layout of the printed reply sheet: the logo, the fixed texts and the answers, placed line by
// line on an abstract drawing surface so that the arithmetic runs without a printer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "form/RegistrationRecord.h"

namespace print {

// A font made by the surface; 0 stands for "none".
using FontHandle = std::uintptr_t;

struct TextSize {
    int cx = 0;
    int cy = 0;
};

// What the page needs of the selected font: cell height and descent.
struct FontMetrics {
    int height = 0;
    int descent = 0;
};

struct PageRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// A logo bitmap found inside the bytes of its resource: the info header (with the colour
// table behind it when there is one) and the pixel rows.
struct LogoBitmap {
    const unsigned char* info = nullptr;
    const unsigned char* bits = nullptr;
    int width = 0;
    int height = 0;
};

struct ResourceBytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// What the page drawing needs of a device: GDI on Windows, a fake with fixed metrics in tests.
// Coordinates are device units, y growing downward, texts placed by their top left corner.
class CDrawingSurface {
public:
    virtual ~CDrawingSurface() = default;

    virtual int LogPixelsX() = 0;
    virtual int LogPixelsY() = 0;
    // String `id` of the program's string table; "" when missing.
    virtual std::string LoadText(unsigned id) = 0;
    // The logo resource, whole; no data when it cannot be found, loaded or locked.
    virtual ResourceBytes LogoResource() = 0;
    // Draws the logo stretched to (x, y, width, height), colour on colour.
    virtual void StretchLogo(int x, int y, int width, int height, const LogoBitmap& logo) = 0;

    // A regular or bold font of `height` device units (negative: character height).
    virtual FontHandle MakeFont(int height, int weight) = 0;
    // Selects `font`; returns the font that was selected before (0 on failure).
    virtual FontHandle SelectFont(FontHandle font) = 0;
    virtual void DeleteFont(FontHandle font) = 0;
    virtual FontMetrics SelectedFontMetrics() = 0;

    // Extent of the first `count` characters of `text` in the selected font.
    virtual TextSize TextExtent(const std::string& text, std::size_t count) = 0;
    virtual void DrawString(int x, int y, const std::string& text) = 0;
    // Draws `text` at (x, y), cut at the rectangle `clip`.
    virtual void DrawClippedString(int x, int y, const PageRect& clip, const std::string& text) = 0;
    virtual void SetTextJustification(int extra, int breakCount) = 0;
    virtual void SetTextColor(std::uint32_t rgb) = 0;
    virtual void SetTransparentBackground() = 0;
};

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0 or the
// result does not fit an int (the rules of the Windows call that printing code relies on).
int MulDivRound(int a, int b, int c);

// The page's drawing rectangle: 15 mm margins inside the printable area of `horzRes` by
// `vertRes` pixels, which measures `horzSizeMm` by `vertSizeMm` millimetres.
PageRect DrawingRect(int horzRes, int vertRes, int horzSizeMm, int vertSizeMm);

// Finds the info header and the pixel rows of a BMP file held by the logo resource. False
// when the bytes are too short for what the header announces, or the bitmap is of a kind the
// page does not draw (see PageLayout.cpp): the page is then printed without the logo.
bool ParseLogo(const ResourceBytes& resource, LogoBitmap& logo);

// Draws `text` at (x, y) in the selected font, its blanks widened so that it fills `width`;
// a text already at least `width` wide is drawn as it is.
void DrawJustifiedLine(CDrawingSurface& surface, int x, int y, int width, const std::string& text);

// Draws the whole reply sheet with the answers of `record` inside `page` (its bottom is not
// used). Fonts made here are deleted, and the font selected before is selected again, on
// every path.
void DrawRegistrationPage(CDrawingSurface& surface, const PageRect& page, const RegistrationRecord& record);

}  // namespace print
