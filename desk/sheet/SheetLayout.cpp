// The measuring surface: answers the page layout's questions with FreeType's metrics of
// Liberation Sans and records what it is asked to draw, instead of drawing.
#include "desk/sheet/SheetLayout.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

#include "desk/sheet/ResourceText.h"
#include "output/PageLayout.h"

namespace sheet {

const SheetField kSheetFields[] = {
    {"username", &RegistrationRecord::username, FieldKind::Mail, nullptr, nullptr, false},
    {"password_1", &RegistrationRecord::password_1, FieldKind::Password, nullptr, nullptr, false},
    {"aggraccept", &RegistrationRecord::aggraccept, FieldKind::YesNo, nullptr, nullptr, true},
    {"vipkunde", &RegistrationRecord::vipkunde, FieldKind::YesNo, nullptr, nullptr, true},
    {"vorname", &RegistrationRecord::vorname, FieldKind::Name, nullptr, " -'.", true},
    {"nachname", &RegistrationRecord::nachname, FieldKind::Name, nullptr, " -'.", true},
    {"firm", &RegistrationRecord::firm, FieldKind::Text, nullptr, nullptr, false},
    {"addr", &RegistrationRecord::addr, FieldKind::Place, nullptr, nullptr, true},
    {"city", &RegistrationRecord::city, FieldKind::Place, nullptr, " -'.()/", true},
    {"zip", &RegistrationRecord::zip, FieldKind::Text, nullptr, nullptr, true},
    {"land", &RegistrationRecord::land, FieldKind::Country, "IDC_REG_COUNTRY", nullptr, true},
    {"tel", &RegistrationRecord::tel, FieldKind::Text, nullptr, nullptr, false},
    {"fax", &RegistrationRecord::fax, FieldKind::Text, nullptr, nullptr, false},
    {"alt", &RegistrationRecord::alt, FieldKind::List, "IDC_REG_AGE", nullptr, false},
    {"berstell", &RegistrationRecord::berstell, FieldKind::List, "IDC_REG_OCCUPATION", nullptr, false},
    {"lebkindih", &RegistrationRecord::lebkindih, FieldKind::List, "IDC_REG_CHILDREN", nullptr, false},
    {"pctyp", &RegistrationRecord::pctyp, FieldKind::List, "IDC_REG_PCTYPE", nullptr, false},
    {"betrsystem", &RegistrationRecord::betrsystem, FieldKind::List, "IDC_REG_OS", nullptr, false},
    {"anwender", &RegistrationRecord::anwender, FieldKind::List, "IDC_REG_SKILL", nullptr, false},
    {"gprod", &RegistrationRecord::gprod, FieldKind::Text, nullptr, nullptr, true},
    {"gprodg", &RegistrationRecord::gprodg, FieldKind::List, "IDC_REG_WHERE", nullptr, false},
    {"wgekauf", &RegistrationRecord::wgekauf, FieldKind::List, "IDC_REG_HOWKNOWN", nullptr, false},
    {"dgekauf", &RegistrationRecord::dgekauf, FieldKind::Date, nullptr, nullptr, true},
    {"pgekauf", &RegistrationRecord::pgekauf, FieldKind::PurchasedBefore, nullptr, nullptr, true},
    {"kaufoft", &RegistrationRecord::kaufoft, FieldKind::List, "IDC_REG_HOWOFTEN", nullptr, false},
    {"titel", &RegistrationRecord::titel, FieldKind::Text, nullptr, nullptr, true},
};
const int kSheetFieldCount = static_cast<int>(sizeof kSheetFields / sizeof kSheetFields[0]);

namespace {

const char* const kFontFiles[2] = {
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf",
};

}  // namespace

struct CFontMeasure::Impl {
    FT_Library library = nullptr;
    FT_Face faces[2] = {nullptr, nullptr};
    // Advances by (ppem, bold), one per code-page byte.
    std::map<std::pair<int, bool>, std::vector<int>> advances;

    FT_Face Sized(int ppem, bool bold) {
        FT_Face face = faces[bold ? 1 : 0];
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem));
        return face;
    }
    FT_GlyphSlot Load(int ppem, bool bold, unsigned char c, bool render) {
        FT_Face face = Sized(ppem, bold);
        const FT_UInt glyph = FT_Get_Char_Index(face, Cp1252Char(c));
        if (FT_Load_Glyph(face, glyph, render ? FT_LOAD_RENDER : FT_LOAD_DEFAULT)) return nullptr;
        return face->glyph;
    }
};

CFontMeasure::CFontMeasure() : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->library)) throw std::runtime_error("FreeType cannot start");
    for (int i = 0; i < 2; ++i) {
        if (FT_New_Face(impl_->library, kFontFiles[i], 0, &impl_->faces[i]))
            throw std::runtime_error(std::string("cannot load the font ") + kFontFiles[i] +
                                     " (package fonts-liberation)");
    }
}

CFontMeasure::~CFontMeasure() {
    for (FT_Face face : impl_->faces)
        if (face) FT_Done_Face(face);
    if (impl_->library) FT_Done_FreeType(impl_->library);
}

CFontMeasure::Metrics CFontMeasure::FontMetrics(int ppem, bool bold) {
    FT_Face face = impl_->Sized(ppem, bold);
    // GDI takes a TrueType font's cell from the OS/2 table's Windows ascent and descent.
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const double scale = static_cast<double>(ppem) / face->units_per_EM;
    Metrics m;
    m.ascent = static_cast<int>(std::lround(os2 ? os2->usWinAscent * scale : face->ascender * scale));
    m.descent = static_cast<int>(std::lround(os2 ? os2->usWinDescent * scale : -face->descender * scale));
    m.height = m.ascent + m.descent;
    return m;
}

int CFontMeasure::Advance(int ppem, bool bold, unsigned char c) {
    auto& table = impl_->advances[{ppem, bold}];
    if (table.empty()) {
        table.resize(256);
        for (int b = 0; b < 256; ++b) {
            FT_GlyphSlot slot = impl_->Load(ppem, bold, static_cast<unsigned char>(b), false);
            table[b] = slot ? static_cast<int>((slot->advance.x + 32) >> 6) : 0;
        }
    }
    return table[c];
}

bool CFontMeasure::InkExtent(int ppem, bool bold, const std::string& text, int& left, int& right) {
    int pen = 0;
    bool any = false;
    for (unsigned char c : text) {
        FT_GlyphSlot slot = impl_->Load(ppem, bold, c, true);
        if (slot && slot->bitmap.width > 0) {
            const int l = pen + slot->bitmap_left;
            const int r = l + static_cast<int>(slot->bitmap.width);
            left = any ? std::min(left, l) : l;
            right = any ? std::max(right, r) : r;
            any = true;
        }
        pen += Advance(ppem, bold, c);
    }
    return any;
}

Pix* CFontMeasure::Render(int ppem, bool bold, const std::string& text, double sx, double sy, int& baseline) {
    struct Glyph {
        int x, y;
        Pix* pix;
    };
    std::vector<Glyph> glyphs;
    long pen = 0;  // 26.6
    // The ink's box, grown by every glyph drawn (none drawn: no image).
    constexpr int kLeast = std::numeric_limits<int>::min(), kMost = std::numeric_limits<int>::max();
    int left = kMost, right = kLeast, top = kMost, bottom = kLeast;
    for (unsigned char c : text) {
        int gx = 0, gy = 0;
        long advance = 0;
        if (Pix* g = RenderGlyph(ppem, bold, c, sx, sy, gx, gy, advance)) {
            gx += static_cast<int>((pen + 32) >> 6);
            glyphs.push_back({gx, gy, g});
            left = std::min(left, gx), right = std::max(right, gx + pixGetWidth(g));
            top = std::min(top, gy), bottom = std::max(bottom, gy + pixGetHeight(g));
        }
        pen += advance;
    }
    if (glyphs.empty()) return nullptr;
    Pix* out = pixCreate(right - left, bottom - top, 1);
    for (Glyph& g : glyphs) {
        pixRasterop(out, g.x - left, g.y - top, pixGetWidth(g.pix), pixGetHeight(g.pix), PIX_SRC | PIX_DST, g.pix, 0, 0);
        pixDestroy(&g.pix);
    }
    baseline = -top;
    return out;
}

Pix* CFontMeasure::RenderGlyph(int ppem, bool bold, unsigned char c, double sx, double sy, int& left, int& top,
                               long& advance) {
    FT_Face face = impl_->Sized(ppem, bold);
    FT_Matrix matrix{static_cast<FT_Fixed>(sx * 65536), 0, 0, static_cast<FT_Fixed>(sy * 65536)};
    FT_Set_Transform(face, &matrix, nullptr);
    Pix* g = nullptr;
    left = top = 0;
    advance = 0;
    if (!FT_Load_Glyph(face, FT_Get_Char_Index(face, Cp1252Char(c)), FT_LOAD_RENDER | FT_LOAD_NO_HINTING)) {
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        advance = face->glyph->advance.x;
        left = face->glyph->bitmap_left;
        top = -face->glyph->bitmap_top;
        if (bitmap.width > 0 && bitmap.rows > 0 && bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            g = pixCreate(static_cast<int>(bitmap.width), static_cast<int>(bitmap.rows), 1);
            for (unsigned y = 0; y < bitmap.rows; ++y)
                for (unsigned x = 0; x < bitmap.width; ++x)
                    if (bitmap.buffer[y * bitmap.pitch + x] >= 128) pixSetPixel(g, x, y, 1);
        }
    }
    FT_Set_Transform(face, nullptr, nullptr);
    return g;
}

void CFontMeasure::UnderscoreInk(int ppem, int& top, int& bottom) {
    FT_GlyphSlot slot = impl_->Load(ppem, false, '_', true);
    top = slot ? -slot->bitmap_top : ppem / 10;
    bottom = slot ? top + static_cast<int>(slot->bitmap.rows) : top + 1;
}

namespace {

// Answers are put into the layout as markers, so that each drawn answer names its field.
constexpr char kMarker = '\x01';

class CMeasuringSurface : public print::CDrawingSurface {
public:
    CMeasuringSurface(CFontMeasure& fonts, int dpi) : fonts_(fonts), dpi_(dpi) {}

    int LogPixelsX() override { return dpi_; }
    int LogPixelsY() override { return dpi_; }
    std::string LoadText(unsigned id) override {
        lastId_ = id;
        lastText_ = CResourceText::BuiltIn().String(id);
        return lastText_;
    }
    print::ResourceBytes LogoResource() override { return {}; }
    void StretchLogo(int, int, int, int, const print::LogoBitmap&) override {}
    print::FontHandle MakeFont(int height, int weight) override {
        fonts.push_back({height < 0 ? -height : height, weight >= 700});
        return fonts.size();
    }
    print::FontHandle SelectFont(print::FontHandle font) override {
        const print::FontHandle previous = selected_ ? selected_ : kStockFont;
        selected_ = font == kStockFont ? 0 : font;
        return previous;
    }
    void DeleteFont(print::FontHandle) override {}
    print::FontMetrics SelectedFontMetrics() override {
        const auto m = fonts_.FontMetrics(Ppem(), Bold());
        return {m.height, m.descent};
    }
    print::TextSize TextExtent(const std::string& text, std::size_t count) override {
        int width = 0;
        for (std::size_t i = 0; i < count && i < text.size(); ++i)
            width += fonts_.Advance(Ppem(), Bold(), static_cast<unsigned char>(text[i]));
        return {width, fonts_.FontMetrics(Ppem(), Bold()).height};
    }
    void DrawString(int x, int y, const std::string& text) override { Record(x, y, text, -1); }
    void DrawClippedString(int x, int y, const print::PageRect& clip, const std::string& text) override {
        Record(x, y, text, clip.right);
    }
    void SetTextJustification(int extra, int breakCount) override {
        extra_ = extra;
        breaks_ = breakCount;
    }
    void SetTextColor(std::uint32_t) override {}
    void SetTransparentBackground() override {}

    struct Font {
        int ppem;
        bool bold;
    };
    std::vector<Font> fonts;
    std::vector<DrawnText> drawn;
    std::vector<int> clips;  // per drawn text: its clip's right edge, or -1

private:
    static constexpr print::FontHandle kStockFont = 0x7fff0000;
    int Ppem() const { return selected_ ? fonts[selected_ - 1].ppem : dpi_ * 10 / 72; }
    bool Bold() const { return selected_ ? fonts[selected_ - 1].bold : false; }

    void Record(int x, int y, const std::string& text, int clipRight) {
        DrawnText d;
        d.stringId = text == lastText_ ? lastId_ : 0;
        d.text = text;
        d.x = x;
        d.y = y;
        d.ppem = Ppem();
        d.bold = Bold();
        d.metrics = fonts_.FontMetrics(d.ppem, d.bold);
        // The extra width of a justified line goes to its blanks, one more pixel to each of
        // the first ones while the remainder lasts, as GDI spreads it.
        int pen = x;
        int blanksSeen = 0;
        for (unsigned char c : text) {
            d.pen.push_back(pen);
            pen += fonts_.Advance(d.ppem, d.bold, c);
            if (c == ' ' && breaks_ > 0) {
                pen += extra_ / breaks_ + (blanksSeen < extra_ % breaks_ ? 1 : 0);
                ++blanksSeen;
            }
        }
        d.pen.push_back(pen);
        drawn.push_back(std::move(d));
        clips.push_back(clipRight);
    }

    CFontMeasure& fonts_;
    int dpi_;
    print::FontHandle selected_ = 0;
    int extra_ = 0;
    int breaks_ = 0;
    unsigned lastId_ = 0;
    std::string lastText_;
};

}  // namespace

SheetLayout BuildSheetLayout(CFontMeasure& fonts, int dpi) {
    RegistrationRecord markers;
    for (int i = 0; i < kSheetFieldCount; ++i) markers.*kSheetFields[i].member = std::string{kMarker, char('A' + i)};

    CMeasuringSurface surface(fonts, dpi);
    print::DrawRegistrationPage(surface, print::PageRect{0, 0, 100000, 100000}, markers);

    SheetLayout layout;
    layout.dpi = dpi;
    layout.answers.resize(kSheetFieldCount);
    layout.texts.reserve(surface.drawn.size());  // `line` points into it
    std::vector<bool> found(kSheetFieldCount, false);
    int underTop = 0, underBottom = 0;
    const DrawnText* line = nullptr;  // the form line whose answers are being drawn
    std::vector<int> lineAnswers;     // indexes into layout.answers, in drawing order

    auto closeLine = [&] {
        // Each answer may run until the next one of its line, the last one to the line's end.
        for (std::size_t k = 0; k < lineAnswers.size(); ++k) {
            AnswerSpot& a = layout.answers[lineAnswers[k]];
            // Nothing stops the last answer of a line: it may run to the edge of the paper.
            a.limit = k + 1 < lineAnswers.size() ? layout.answers[lineAnswers[k + 1]].x : line->pen.back() + dpi;
        }
        lineAnswers.clear();
    };

    for (std::size_t i = 0; i < surface.drawn.size(); ++i) {
        const DrawnText& d = surface.drawn[i];
        if (d.text.size() == 2 && d.text[0] == kMarker) {
            const int field = d.text[1] - 'A';
            if (!line || field < 0 || field >= kSheetFieldCount) throw std::runtime_error("page layout: stray answer");
            AnswerSpot& a = layout.answers[field];
            a.field = field;
            a.x = d.x;
            a.y = d.y;
            a.ppem = d.ppem;
            a.metrics = d.metrics;
            a.clipRight = surface.clips[i];
            a.lineId = line->stringId;
            a.runEnd = line->pen.back();
            for (const UnderscoreRun& run : layout.runs)
                if (run.lineId == line->stringId && a.x >= run.x0 - 2 && a.x <= run.x1) a.runEnd = run.x1;
            // Answers at a shared column follow in x order, which is drawing order.
            lineAnswers.push_back(field);
            found[field] = true;
            continue;
        }
        if (line) closeLine();
        line = nullptr;
        layout.texts.push_back(d);
        if (d.text.find("__") == std::string::npos) continue;
        line = &layout.texts.back();
        fonts.UnderscoreInk(d.ppem, underTop, underBottom);
        const int baseline = d.y + d.metrics.ascent;
        for (std::size_t c = 0; c < d.text.size();) {
            if (d.text[c] != '_') {
                ++c;
                continue;
            }
            std::size_t end = c;
            while (end < d.text.size() && d.text[end] == '_') ++end;
            UnderscoreRun run;
            run.x0 = d.pen[c];
            run.x1 = d.pen[end];
            run.y = baseline + (underTop + underBottom) / 2;
            run.lineId = d.stringId;
            layout.runs.push_back(run);
            c = end;
        }
    }
    if (line) closeLine();
    for (int i = 0; i < kSheetFieldCount; ++i)
        if (!found[i]) throw std::runtime_error(std::string("page layout: no place for ") + kSheetFields[i].name);
    return layout;
}

}  // namespace sheet
