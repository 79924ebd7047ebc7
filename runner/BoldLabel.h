// The reminder text of the runner: a subclassed static control that draws its text bold and
// white straight onto the picture behind it.
#pragma once

#include <windows.h>

#include "framework/Guards.h"
#include "framework/Subclass.h"

class CBoldLabel : public fw::CSubclassedWindow {
public:
    CBoldLabel();
    ~CBoldLabel() override;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void OnPaint();
    // A changed text must not be drawn over the old one: the picture under the label is
    // painted again first.
    void RepaintParentBehind();

    fw::CGdiObject<HFONT> boldFont;
    COLORREF textColor;
};
