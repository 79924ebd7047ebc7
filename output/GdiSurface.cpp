// GDI side of the reply sheet: every call the page layout makes, on a printer (or any other)
// device context.
#include "output/GdiSurface.h"

#include <climits>
#include <cstring>

#include "framework/Text.h"
#include "res/resource.h"

namespace print {

namespace {

int Length(const std::string& text, std::size_t count) {
    const std::size_t n = count < text.size() ? count : text.size();
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

HFONT ToFont(FontHandle font) {
    return reinterpret_cast<HFONT>(font);
}

}  // namespace

CGdiSurface::CGdiSurface(HDC dc, HMODULE resources)
    : dc_(dc), resources_(resources ? resources : GetModuleHandleA(nullptr)) {}

int CGdiSurface::LogPixelsX() {
    return GetDeviceCaps(dc_, LOGPIXELSX);
}

int CGdiSurface::LogPixelsY() {
    return GetDeviceCaps(dc_, LOGPIXELSY);
}

std::string CGdiSurface::LoadText(unsigned id) {
    return fw::LoadResString(id, resources_);
}

ResourceBytes CGdiSurface::LogoResource() {
    // Resources of a loaded module need no release.
    HRSRC found = FindResourceA(resources_, MAKEINTRESOURCEA(IDR_LOGO), "USER");
    if (!found) return {};
    HGLOBAL loaded = LoadResource(resources_, found);
    if (!loaded) return {};
    const void* data = LockResource(loaded);
    if (!data) return {};
    return {static_cast<const unsigned char*>(data), SizeofResource(resources_, found)};
}

void CGdiSurface::StretchLogo(int x, int y, int width, int height, const LogoBitmap& logo) {
    const int previousMode = SetStretchBltMode(dc_, COLORONCOLOR);
    // The info header sits 14 bytes into the resource; GDI reads it byte-wise on x86.
    StretchDIBits(dc_, x, y, width, height, 0, 0, logo.width, logo.height, logo.bits,
                  reinterpret_cast<const BITMAPINFO*>(logo.info), DIB_RGB_COLORS, SRCCOPY);
    if (previousMode) SetStretchBltMode(dc_, previousMode);
}

FontHandle CGdiSurface::MakeFont(int height, int weight) {
    LOGFONTA font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(font.lfFaceName, "Arial");
    return reinterpret_cast<FontHandle>(CreateFontIndirectA(&font));
}

FontHandle CGdiSurface::SelectFont(FontHandle font) {
    return reinterpret_cast<FontHandle>(SelectObject(dc_, ToFont(font)));
}

void CGdiSurface::DeleteFont(FontHandle font) {
    DeleteObject(ToFont(font));
}

FontMetrics CGdiSurface::SelectedFontMetrics() {
    TEXTMETRICA metrics{};
    if (!GetTextMetricsA(dc_, &metrics)) return {};
    return {metrics.tmHeight, metrics.tmDescent};
}

TextSize CGdiSurface::TextExtent(const std::string& text, std::size_t count) {
    SIZE size{};
    if (!GetTextExtentPoint32A(dc_, text.c_str(), Length(text, count), &size)) return {};
    return {size.cx, size.cy};
}

void CGdiSurface::DrawString(int x, int y, const std::string& text) {
    TextOutA(dc_, x, y, text.c_str(), Length(text, text.size()));
}

void CGdiSurface::DrawClippedString(int x, int y, const PageRect& clip, const std::string& text) {
    const RECT rect{clip.left, clip.top, clip.right, clip.bottom};
    ExtTextOutA(dc_, x, y, ETO_CLIPPED, &rect, text.c_str(), static_cast<UINT>(Length(text, text.size())), nullptr);
}

void CGdiSurface::SetTextJustification(int extra, int breakCount) {
    ::SetTextJustification(dc_, extra, breakCount);
}

void CGdiSurface::SetTextColor(std::uint32_t rgb) {
    ::SetTextColor(dc_, static_cast<COLORREF>(rgb));
}

void CGdiSurface::SetTransparentBackground() {
    SetBkMode(dc_, TRANSPARENT);
}

}  // namespace print
