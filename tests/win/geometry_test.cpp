// The geometry the programs' look depends on, as Windows gives it at 96 dpi: the runner's
// client area fits its picture, the form and the notice have their templates' sizes in
// 8-point MS Sans Serif, and the printed sheet is set in Arial's metrics. Under Wine these
// hold only with Wine's own MS Sans Serif (fonts-wine) and an Arial-metric face
// (fonts-liberation) in the prefix; without them the windows and the sheet grow, which this
// test is here to catch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinTest.h"
#include "res/resource.h"

using namespace wt;

namespace {

SIZE ClientSize(HWND hwnd) {
    RECT r = {};
    GetClientRect(hwnd, &r);
    return {r.right - r.left, r.bottom - r.top};
}

// Top-down 32-bit pixels of a bitmap or of what the screen shows of a window's client area.
struct Pixels {
    int width = 0, height = 0;
    std::vector<DWORD> bits;
    DWORD At(int x, int y) const { return bits[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

Pixels ReadBitmap(HDC dc, HBITMAP bitmap, int width, int height) {
    Pixels p;
    p.width = width;
    p.height = height;
    p.bits.resize(static_cast<size_t>(width) * height);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    if (!GetDIBits(dc, bitmap, 0, height, p.bits.data(), &bi, DIB_RGB_COLORS)) p.bits.clear();
    return p;
}

Pixels ClientPixels(HWND hwnd) {
    const SIZE size = ClientSize(hwnd);
    HDC dc = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP copy = CreateCompatibleBitmap(dc, size.cx, size.cy);
    HGDIOBJ old = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, size.cx, size.cy, dc, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    Pixels p = ReadBitmap(memory, copy, size.cx, size.cy);
    DeleteObject(copy);
    DeleteDC(memory);
    ReleaseDC(hwnd, dc);
    return p;
}

// A font made from `face`, `height` and `weight` and selected into a device context while it lives.
class CSelectedFont {
public:
    CSelectedFont(HDC dc, const char* face, LONG height, LONG weight) : dc_(dc) {
        LOGFONTA lf = {};
        lf.lfHeight = height;
        lf.lfWeight = weight;
        lf.lfCharSet = DEFAULT_CHARSET;
        lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
        font_ = CreateFontIndirectA(&lf);
        old_ = SelectObject(dc_, font_);
    }
    ~CSelectedFont() {
        SelectObject(dc_, old_);
        DeleteObject(font_);
    }
    CSelectedFont(const CSelectedFont&) = delete;
    CSelectedFont& operator=(const CSelectedFont&) = delete;
    // The face the request really got.
    std::string Face() const {
        char face[LF_FACESIZE] = {};
        GetTextFaceA(dc_, sizeof face, face);
        return face;
    }
    TEXTMETRICA Metrics() const {
        TEXTMETRICA tm = {};
        GetTextMetricsA(dc_, &tm);
        return tm;
    }
    std::vector<int> Widths(const std::string& text) const {
        std::vector<int> widths;
        for (unsigned char ch : text) {
            INT w = 0;
            GetCharWidth32A(dc_, ch, ch, &w);
            widths.push_back(w);
        }
        return widths;
    }

private:
    HDC dc_;
    HFONT font_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

class Geometry : public ::testing::Test {
protected:
    void SetUp() override {
        screen_ = GetDC(nullptr);
        // Every size below is what Windows gives at 96 dpi.
        ASSERT_EQ(96, GetDeviceCaps(screen_, LOGPIXELSY));
    }
    void TearDown() override { ReleaseDC(nullptr, screen_); }

    // VelkRun.exe with `args` in a fresh product folder; its first window.
    HWND Start(const std::string& args) {
        folder_.WriteIni("TitelText=Atlas\r\nButOfflText=Registrieren offline\r\nButExitText=Beenden\r\n"
                         "[RegText]\r\nVielen Dank!\r\n");
        if (!process_.Start(folder_.VelkRun(), Quote(folder_.VelkRun()) + " " + args, folder_.Path())) return nullptr;
        return WaitForWindow(process_.Pid());
    }

    HDC screen_ = nullptr;
    CProductFolder folder_;
    CProcess process_;
};

}  // namespace

// Dialog templates are laid out in 8-point MS Sans Serif, whose dialog base units at 96 dpi
// are 6 x 13 pixels: a template of cx x cy units gets a client area of cx * 6 / 4 by
// cy * 13 / 8 pixels.
TEST_F(Geometry, DialogFontIsMsSansSerif) {
    CSelectedFont font(screen_, "MS Sans Serif", -MulDiv(8, 96, 72), FW_NORMAL);
    EXPECT_EQ("MS Sans Serif", font.Face());
    EXPECT_EQ(13, font.Metrics().tmHeight);
}

TEST_F(Geometry, RunnerIsItsPictureAt96Dpi) {
    HWND runner = Start("\"\" Optout \"\" A-1 Atlas \"\"");
    ASSERT_NE(nullptr, runner);
    const SIZE client = ClientSize(runner);  // template 350 x 199
    EXPECT_EQ(525, client.cx);
    EXPECT_EQ(323, client.cy);

    // The picture reaches every edge: the last row and column show its pixels, not the
    // dialog's grey.
    HMODULE exe = LoadLibraryExA(folder_.VelkRun().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, exe);
    HBITMAP picture = static_cast<HBITMAP>(
        LoadImageA(exe, MAKEINTRESOURCEA(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    FreeLibrary(exe);
    ASSERT_NE(nullptr, picture);
    BITMAP bm = {};
    GetObjectA(picture, sizeof bm, &bm);
    const Pixels want = ReadBitmap(screen_, picture, bm.bmWidth, bm.bmHeight);
    DeleteObject(picture);
    ASSERT_GE(want.width, client.cx);
    ASSERT_GE(want.height, client.cy);
    // Read once the runner has painted; it paints while its queue has work.
    EXPECT_TRUE(process_.WaitIdle());
    int wrong = -1;
    WaitUntil(
        [&] {
            const Pixels shown = ClientPixels(runner);
            if (shown.bits.empty()) return false;
            wrong = 0;
            for (int x = 0; x < client.cx; ++x) wrong += shown.At(x, client.cy - 1) != want.At(x, client.cy - 1);
            for (int y = 0; y < client.cy; ++y) wrong += shown.At(client.cx - 1, y) != want.At(client.cx - 1, y);
            return wrong == 0;
        },
        5000, 100);
    EXPECT_EQ(0, wrong) << "pixels of the last row and column that are not the picture's";
    SaveScreenshot(runner, "geometry_runner");
    PostMessageA(GetDlgItem(runner, IDC_RUN_EXIT), BM_CLICK, 0, 0);
    EXPECT_TRUE(process_.WaitExit());
}

TEST_F(Geometry, FormAndNoticeHaveTheirTemplateSizes) {
    HWND form = Start("A-1 Atlas");
    ASSERT_NE(nullptr, form);
    const SIZE formClient = ClientSize(form);  // template 480 x 341
    EXPECT_EQ(720, formClient.cx);
    EXPECT_EQ(554, formClient.cy);

    // Printing with nothing filled in complains in the notice.
    PostMessageA(GetDlgItem(form, IDC_REG_PRINT), BM_CLICK, 0, 0);
    HWND notice = WaitForOwnedWindow(process_.Pid(), form);
    ASSERT_NE(nullptr, notice);
    const SIZE noticeClient = ClientSize(notice);  // template 186 x 58
    EXPECT_EQ(279, noticeClient.cx);
    EXPECT_EQ(94, noticeClient.cy);
    SaveScreenshot(form, "geometry_form");
    SaveScreenshot(notice, "geometry_notice");
    PostMessageA(notice, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(notice); }));
    PostMessageA(form, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(process_.WaitExit());
}

// The sheet asks for Arial and is laid out to fit its drawing rectangle in Arial's metrics
// (the print tests check the fit). At an em of 2048 pixels GDI gives the font's own design
// units, so a face with Arial's metrics gives exactly Arial's advance widths and heights.
TEST_F(Geometry, SheetFontHasArialMetrics) {
    struct Case {
        LONG weight;
        const char* text;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {FW_NORMAL, " Aaimw_W0\xDF", {569, 1366, 1139, 455, 1706, 1479, 1139, 1933, 1139, 1251}},
        {FW_BOLD, " Aaimw_W0\xDF", {569, 1479, 1139, 569, 1821, 1593, 1139, 1933, 1139, 1251}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.weight);
        CSelectedFont font(screen_, "Arial", -2048, c.weight);
        const TEXTMETRICA tm = font.Metrics();
        EXPECT_EQ(1854, tm.tmAscent) << font.Face();
        EXPECT_EQ(434, tm.tmDescent) << font.Face();
        EXPECT_EQ(c.widths, font.Widths(c.text)) << font.Face();
    }
}
