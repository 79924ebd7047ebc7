// The reply sheet's drawing surface on a Windows device context: GDI text, fonts and the
// logo blit, with texts and the logo taken from a module's resources.
#pragma once

#include <windows.h>

#include "output/PageLayout.h"

namespace print {

// Draws on `dc`, which it borrows; fonts it makes are owned by the caller (the page layout
// deletes them). Resources come from `resources` (this program when null).
class CGdiSurface : public CDrawingSurface {
public:
    explicit CGdiSurface(HDC dc, HMODULE resources = nullptr);

    int LogPixelsX() override;
    int LogPixelsY() override;
    std::string LoadText(unsigned id) override;
    ResourceBytes LogoResource() override;
    void StretchLogo(int x, int y, int width, int height, const LogoBitmap& logo) override;
    FontHandle MakeFont(int height, int weight) override;
    FontHandle SelectFont(FontHandle font) override;
    void DeleteFont(FontHandle font) override;
    FontMetrics SelectedFontMetrics() override;
    TextSize TextExtent(const std::string& text, std::size_t count) override;
    void DrawString(int x, int y, const std::string& text) override;
    void DrawClippedString(int x, int y, const PageRect& clip, const std::string& text) override;
    void SetTextJustification(int extra, int breakCount) override;
    void SetTextColor(std::uint32_t rgb) override;
    void SetTransparentBackground() override;

private:
    HDC dc_;
    HMODULE resources_;
};

}  // namespace print
