// The reply sheet, top to bottom: logo, title, the publisher's address block, then the
// question lines with the answers in bold on their underscore runs.
#include "output/PageLayout.h"

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <vector>

#include "res/resource.h"

namespace print {

namespace {

constexpr int kRegular = 400;
constexpr int kBold = 700;
constexpr std::uint32_t kBlack = 0;
constexpr int kMarginMm = 15;

// A BMP file starts with a 14-byte file header; the 40-byte info header follows.
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

std::uint32_t ReadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t ReadU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::int32_t ReadI32(const unsigned char* p) {
    const std::uint32_t u = ReadU32(p);
    return u <= static_cast<std::uint32_t>(INT32_MAX) ? static_cast<std::int32_t>(u)
                                                      : -static_cast<std::int32_t>(~u) - 1;
}

int Margin(int resolution, int sizeMm) {
    // A device that reports no physical size gets no margin instead of a division by zero.
    if (resolution <= 0 || sizeMm <= 0) return 0;
    const double margin = resolution * static_cast<double>(kMarginMm) / sizeMm;
    // Only a printable area narrower than the margin itself could exceed the resolution.
    return margin >= resolution ? resolution : static_cast<int>(margin);
}

// The font that was selected before the page's first font selection; each group of fonts
// selects it again before deleting its own fonts.
struct COriginalFont {
    FontHandle font = 0;
    bool known = false;
};

// The fonts of one group of lines: made just before the lines, deleted after them with the
// original font selected again, also when the drawing is cut short by an exception.
class CFontGroup {
public:
    CFontGroup(CDrawingSurface& surface, COriginalFont& original) : surface_(surface), original_(original) {}
    ~CFontGroup() {
        if (original_.known) surface_.SelectFont(original_.font);
        for (FontHandle font : fonts_) surface_.DeleteFont(font);
    }
    CFontGroup(const CFontGroup&) = delete;
    CFontGroup& operator=(const CFontGroup&) = delete;

    // An Arial font of `points` at the device's vertical resolution.
    FontHandle Make(int points, int weight) {
        fonts_.reserve(fonts_.size() + 1);  // so that keeping the new font cannot throw
        const FontHandle font = surface_.MakeFont(-MulDivRound(points, surface_.LogPixelsY(), 72), weight);
        if (font) fonts_.push_back(font);
        return font;
    }

    // Selects `font` and returns its metrics. A font that could not be made is not selected:
    // the text then comes out in whatever font the device has selected.
    FontMetrics Select(FontHandle font) {
        if (font) {
            const FontHandle previous = surface_.SelectFont(font);
            if (previous && !original_.known) original_ = {previous, true};
        }
        return surface_.SelectedFontMetrics();
    }

private:
    CDrawingSurface& surface_;
    COriginalFont& original_;
    std::vector<FontHandle> fonts_;
};

// An answer of a form line and the number of template characters in front of it.
struct Spot {
    std::size_t chars;
    const std::string& answer;
};

// A form line whose answer sits at a column measured on an earlier line.
struct ColumnAnswer {
    unsigned id;
    const std::string& answer;
};

class CPageWriter {
public:
    CPageWriter(CDrawingSurface& surface, const PageRect& page, const RegistrationRecord& record)
        : surface_(surface), page_(page), record_(record), y_(page.top) {}
    void Draw();

private:
    void Logo();
    void Title();
    void MeasureFormColumn();
    void AddressBlock();
    void Form();

    std::string Text(unsigned id) { return surface_.LoadText(id); }
    void Plain(unsigned id) { surface_.DrawString(page_.left, y_, Text(id)); }
    void Justified(unsigned id) { DrawJustifiedLine(surface_, page_.left, y_, formColumnWidth_, Text(id)); }
    // A bold section heading; Y moves below it.
    void Heading(unsigned id);
    // Draws the template of form line `id` in the form font, one descent low, and returns it.
    std::string FormTemplate(unsigned id);
    // Where an answer goes: after the first `chars` characters of the plain template, measured
    // in the form font, which must be selected.
    int AnswerX(const std::string& line, std::size_t chars) {
        return page_.left + surface_.TextExtent(line, chars).cx;
    }
    void Answers(const std::vector<int>& xs, std::initializer_list<Spot> spots);
    // A form line with answers after the given numbers of characters; returns their x positions.
    std::vector<int> FormLine(unsigned id, std::initializer_list<Spot> spots);
    // A form line whose answer sits at a column measured on an earlier line.
    void ColumnLine(unsigned id, int column, const std::string& answer);
    // The line whose answer is cut at the right end of the form column.
    void ClippedLine(unsigned id, std::size_t chars, const std::string& answer);

    CDrawingSurface& surface_;
    const PageRect page_;
    const RegistrationRecord& record_;
    COriginalFont original_;
    int y_;
    int formColumnWidth_ = 0;
    // The form group's fonts and metrics, valid while Form() runs.
    CFontGroup* formGroup_ = nullptr;
    FontHandle formFont_ = 0;
    FontHandle formBoldFont_ = 0;
    int d_ = 0;  // descent of the form font: templates sit this much lower than their answers
};

void CPageWriter::Draw() {
    Logo();
    // Neither is put back afterwards: the device context lives for this one page only.
    surface_.SetTextColor(kBlack);
    surface_.SetTransparentBackground();
    Title();
    MeasureFormColumn();
    AddressBlock();
    Form();
}

void CPageWriter::Logo() {
    LogoBitmap logo;
    if (!ParseLogo(surface_.LogoResource(), logo)) return;
    // One bitmap pixel per point, whatever the printer's resolution.
    const int width = MulDivRound(logo.width, surface_.LogPixelsX(), 72);
    const int height = MulDivRound(logo.height, surface_.LogPixelsY(), 72);
    if (width <= 0 || height <= 0) return;
    surface_.StretchLogo(page_.right - width, page_.top, width, height, logo);
}

void CPageWriter::Title() {
    CFontGroup group(surface_, original_);
    const FontMetrics title = group.Select(group.Make(16, kBold));
    surface_.DrawString(page_.left, page_.top, Text(IDS_PRINT_TITLE));
    y_ = page_.top + title.height;
}

void CPageWriter::MeasureFormColumn() {
    // Every justified line of the page, whatever its font, is stretched to this width.
    CFontGroup group(surface_, original_);
    group.Select(group.Make(10, kRegular));
    const std::string widest = Text(IDS_PRINT_LINE75);
    formColumnWidth_ = surface_.TextExtent(widest, widest.size()).cx;
}

void CPageWriter::AddressBlock() {
    CFontGroup group(surface_, original_);
    const FontHandle address = group.Make(11, kRegular);
    const FontHandle addressBold = group.Make(11, kBold);

    const int h = group.Select(address).height;
    y_ += 6 * h;
    Plain(IDS_PRINT_REPLY);
    y_ += 2 * h;
    const int hBold = group.Select(addressBold).height;
    Plain(IDS_PRINT_COMPANY);
    y_ += hBold;
    group.Select(address);
    Plain(IDS_PRINT_DEPARTMENT);
    y_ += h;
    Plain(IDS_PRINT_STREET);
    y_ += 2 * h;
    Plain(IDS_PRINT_TOWN);
    y_ += 6 * h;
    for (unsigned id : {IDS_PRINT_REQUEST1, IDS_PRINT_REQUEST2}) {
        Justified(id);
        y_ += h;
    }
    group.Select(addressBold);
    Plain(IDS_PRINT_FAXNUMBER);
    y_ += hBold;
}

void CPageWriter::Heading(unsigned id) {
    const int hBold = formGroup_->Select(formBoldFont_).height;
    Plain(id);
    y_ += hBold;
}

std::string CPageWriter::FormTemplate(unsigned id) {
    formGroup_->Select(formFont_);
    std::string line = Text(id);
    DrawJustifiedLine(surface_, page_.left, y_ + d_, formColumnWidth_, line);
    return line;
}

void CPageWriter::Answers(const std::vector<int>& xs, std::initializer_list<Spot> spots) {
    formGroup_->Select(formBoldFont_);
    std::size_t i = 0;
    for (const Spot& spot : spots) {
        // An empty answer leaves its run blank; a long one runs on over whatever follows.
        if (!spot.answer.empty()) surface_.DrawString(xs[i], y_, spot.answer);
        ++i;
    }
}

std::vector<int> CPageWriter::FormLine(unsigned id, std::initializer_list<Spot> spots) {
    const std::string line = FormTemplate(id);
    std::vector<int> xs;
    for (const Spot& spot : spots) xs.push_back(AnswerX(line, spot.chars));
    Answers(xs, spots);
    return xs;
}

void CPageWriter::ColumnLine(unsigned id, int column, const std::string& answer) {
    FormTemplate(id);
    Answers({column}, {{0, answer}});
}

void CPageWriter::ClippedLine(unsigned id, std::size_t chars, const std::string& answer) {
    const std::string line = FormTemplate(id);
    const int x = AnswerX(line, chars);
    formGroup_->Select(formBoldFont_);
    if (answer.empty()) return;
    const int textHeight = surface_.TextExtent(answer, answer.size()).cy;
    const PageRect clip{x, y_, page_.left + formColumnWidth_, y_ + textHeight + 10};
    surface_.DrawClippedString(x, y_, clip, answer);
}

void CPageWriter::Form() {
    CFontGroup group(surface_, original_);
    formGroup_ = &group;
    formFont_ = group.Make(10, kRegular);
    formBoldFont_ = group.Make(10, kBold);
    const RegistrationRecord& r = record_;

    const FontMetrics form = group.Select(formFont_);
    const int h = form.height;
    const int d = form.descent;
    d_ = d;
    y_ += h;

    Heading(IDS_PRINT_HEAD_ADDRESS);
    FormLine(IDS_PRINT_LINE61, {{10, r.vorname}, {37, r.nachname}, {71, r.firm}});
    y_ += h + d;
    FormLine(IDS_PRINT_LINE62, {{10, r.addr}});
    y_ += h + d;
    FormLine(IDS_PRINT_LINE63, {{15, r.zip}, {41, r.city}, {76, r.land}});
    y_ += h + d;
    FormLine(IDS_PRINT_LINE64, {{11, r.tel}, {50, r.fax}});
    y_ += 3 * h + d;

    Heading(IDS_PRINT_HEAD_PRODUCT);
    // The title's position is the column of the three questions below it.
    const int c1 = FormLine(IDS_PRINT_LINE66, {{17, r.gprod}, {44, r.titel}})[1];
    y_ += h + d;
    const ColumnAnswer purchase[] = {
        {IDS_PRINT_LINE67, r.gprodg}, {IDS_PRINT_LINE68, r.wgekauf}, {IDS_PRINT_LINE69, r.dgekauf}};
    for (const auto& [id, answer] : purchase) {
        ColumnLine(id, c1, answer);
        y_ += h + d;
    }
    ClippedLine(IDS_PRINT_LINE70, 62, r.pgekauf.empty() ? Text(IDS_NO) : r.pgekauf);
    y_ += h + d;
    FormLine(IDS_PRINT_LINE71, {{32, r.kaufoft}});
    y_ += 3 * h + d;

    Heading(IDS_PRINT_HEAD_VIP);
    group.Select(formFont_);
    Justified(IDS_PRINT_PARA73);
    y_ += h;
    FormLine(IDS_PRINT_LINE74, {{54, r.aggraccept}});
    y_ += h + d;
    FormLine(IDS_PRINT_LINE75, {{54, r.username}});
    y_ += h + d;
    // password_2 only confirmed password_1 in the form; it is never printed.
    FormLine(IDS_PRINT_LINE76, {{12, r.password_1}});
    y_ += h + d;
    y_ += h;
    group.Select(formFont_);
    for (unsigned id : {IDS_PRINT_PARA77, IDS_PRINT_PARA78}) {
        Justified(id);
        y_ += h;
    }
    Plain(IDS_PRINT_PARA79);
    y_ += h;
    FormLine(IDS_PRINT_LINE80, {{31, r.vipkunde}});
    y_ += h + d;
    y_ += 2 * h;

    Heading(IDS_PRINT_HEAD_OPTIONAL);
    y_ += d;
    // The age answer's position is the column of the five questions below it.
    const int c2 = FormLine(IDS_PRINT_LINE82, {{36, r.alt}})[0];
    y_ += h + d;
    const ColumnAnswer survey[] = {{IDS_PRINT_LINE83, r.berstell},
                                   {IDS_PRINT_LINE84, r.lebkindih},
                                   {IDS_PRINT_LINE85, r.pctyp},
                                   {IDS_PRINT_LINE86, r.betrsystem},
                                   {IDS_PRINT_LINE87, r.anwender}};
    for (const auto& [id, answer] : survey) {
        ColumnLine(id, c2, answer);
        y_ += h + d;
    }
    formGroup_ = nullptr;
}

}  // namespace

int MulDivRound(int a, int b, int c) {
    if (c == 0) return -1;
    long long product = static_cast<long long>(a) * b;
    long long divisor = c;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const long long result = product >= 0 ? (product + divisor / 2) / divisor : (product - divisor / 2) / divisor;
    if (result > INT_MAX || result < INT_MIN) return -1;
    return static_cast<int>(result);
}

PageRect DrawingRect(int horzRes, int vertRes, int horzSizeMm, int vertSizeMm) {
    const int x = Margin(horzRes, horzSizeMm);
    const int y = Margin(vertRes, vertSizeMm);
    return PageRect{x, y, horzRes - x, vertRes - y};
}

bool ParseLogo(const ResourceBytes& resource, LogoBitmap& logo) {
    if (!resource.data || resource.size < kFileHeaderSize + kInfoHeaderSize) return false;
    const unsigned char* info = resource.data + kFileHeaderSize;
    const std::uint32_t headerSize = ReadU32(info);
    const std::int32_t width = ReadI32(info + 4);
    const std::int32_t height = ReadI32(info + 8);
    const std::uint16_t bitCount = ReadU16(info + 14);
    const std::uint32_t compression = ReadU32(info + 16);
    const std::uint32_t colorsUsed = ReadU32(info + 32);

    // The pixel rows are looked for right behind a 40-byte header and the colour table of an
    // 8-bit image. Other headers, compressed or top-down images, and 1- or 4-bit images (whose
    // colour table would be taken for pixels) cannot be read that way and are left out.
    if (headerSize != kInfoHeaderSize || width <= 0 || height <= 0 || compression != 0) return false;
    std::uint64_t colorTableSize = 0;
    if (bitCount == 8) {
        if (colorsUsed > 256) return false;
        colorTableSize = 4ull * (colorsUsed ? colorsUsed : 256);
    } else if (bitCount != 16 && bitCount != 24 && bitCount != 32) {
        return false;
    }
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
    const std::uint64_t bitsOffset = kFileHeaderSize + kInfoHeaderSize + colorTableSize;
    if (bitsOffset + stride * static_cast<std::uint64_t>(height) > resource.size) return false;

    logo.info = info;
    logo.bits = resource.data + bitsOffset;
    logo.width = width;
    logo.height = height;
    return true;
}

void DrawJustifiedLine(CDrawingSurface& surface, int x, int y, int width, const std::string& text) {
    const int measured = surface.TextExtent(text, text.size()).cx;
    if (measured < width) {
        const int blanks = static_cast<int>(std::count(text.begin(), text.end(), ' '));
        surface.SetTextJustification(width - measured, blanks);
        surface.DrawString(x, y, text);
        surface.SetTextJustification(0, 0);
    } else {
        surface.DrawString(x, y, text);
    }
}

void DrawRegistrationPage(CDrawingSurface& surface, const PageRect& page, const RegistrationRecord& record) {
    CPageWriter(surface, page, record).Draw();
}

}  // namespace print
