// Painting of the runner's reminder text: the stock GUI font made bold, white, no background.
#include "runner/BoldLabel.h"

#include <string>

#include "framework/Text.h"

namespace {

HFONT CreateBoldGuiFont() {
    // Every field of the stock font stays as it is but the weight.
    LOGFONTA font = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectA(&font);
}

}  // namespace

CBoldLabel::CBoldLabel() : boldFont(CreateBoldGuiFont()), textColor(RGB(255, 255, 255)) {}

CBoldLabel::~CBoldLabel() {
    // The font may go only once the control no longer paints with it.
    Unsubclass();
}

LRESULT CBoldLabel::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        // Nothing is erased: the dialog's picture shows through around the letters.
        return 0;
    case WM_SETTEXT: {
        const LRESULT result = CallOriginal(msg, wp, lp);
        RepaintParentBehind();
        return result;
    }
    default:
        return CallOriginal(msg, wp, lp);
    }
}

void CBoldLabel::OnPaint() {
    fw::CPaintDC dc(Handle());
    const std::string text = fw::GetWindowString(Handle());
    RECT client;
    GetClientRect(Handle(), &client);
    fw::CSelectObject font(dc, boldFont);
    SetTextColor(dc, textColor);
    SetBkMode(dc, TRANSPARENT);
    // Format 0: left, top, no word wrap, clipped to the label, "&" as mnemonic prefix.
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &client, 0);
}

void CBoldLabel::RepaintParentBehind() {
    HWND parent = GetParent(Handle());
    if (!parent) return;
    RECT area;
    GetWindowRect(Handle(), &area);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    // The parent paints its picture over the area, then the label (and anything else there)
    // paints again on top of it.
    RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
