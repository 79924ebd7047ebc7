// The reply sheet's layout on a fake surface with fixed metrics: every text, font and position
// of the page, the answer columns, justification, the clipped answer, the logo and the fonts'
// lifetimes, also when drawing stops half-way.
#include "output/PageLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/sample_answers.h"

using namespace print;

namespace {

// The sheet's strings as the program ships them.
const std::map<unsigned, std::string> kStrings = {
    {40, "nein"},
    {50, "VELK Media Registrierung"},
    {51, "Produktregistrierung"},
    {52, "Antwort"},
    {53, "VELK Media GmbH"},
    {54, "VIP-Service"},
    {55, "Speicherstra\xDF" "e 14"},
    {56, "20457 Hamburg"},
    {57, "Vielen Dank, dass Sie ein Produkt von VELK Media registrieren. Bitte senden Sie dieses"},
    {58, "Antwortschreiben an die obige Adresse oder faxen Sie es an die folgende Nummer:"},
    {59, "Fax: 040 / 66969-429"},
    {60, "Ihre Adresse"},
    {61, "Vorname  _______________  Nachname  ________________________  Firma:  _______________________"},
    {62, "Stra\xDF" "e  _________________________________________________________________________________"},
    {63, "Postleitzahl  __________________  Ort  ____________________________  Land  _____________________"},
    {64, "Telefon  ________________________________  Fax  ___________________________________________"},
    {65, "Gekauftes Produkt"},
    {66, "Artikelnummer:  _______________  Titel:  _____________________________________________________"},
    {67, "Wo haben Sie das Produkt gekauft?  _________________________________________________________"},
    {68, "Woher kennen Sie das Produkt?  ____________________________________________________________"},
    {69, "Wann haben Sie das Produkt gekauft?  _______________________________________________________"},
    {70, "Haben Sie schon einmal ein Produkt von VELK Media gekauft?  ___________________________________"},
    {71, "Wie oft kaufen Sie Software?  _______________________________________________________________"},
    {72, "VIP-Service"},
    {73, "Als registrierter Anwender profitieren Sie von verschiedenen Vorteilen. W\xFCnschen Sie weitere"},
    {74, "Informationen? (Kann jederzeit annulliert werden!)  _______________________________________________"},
    {75, "E-Mail-Adresse = Benutzername f\xFCr den VIP-Service  _____________________________________________"},
    {76, "Passwort  _______________________________________________________________________________"},
    {77, "Bei der Offline-Registrierung wird VELK Media Ihren Benutzernamen und Ihr Passwort eintragen."},
    {78, "Beim ersten Besuch auf www.velk-media.de k\xF6nnen Sie sich mit diesen Daten anmelden und Ihr"},
    {79, "Passwort ab\xE4ndern."},
    {80, "Sind Sie bereits VIP-Kunde?  ________________________________________________________________"},
    {81, "Optionale Angaben"},
    {82, "Wie alt sind Sie?  ________________________________________________________________________"},
    {83, "Berufliche Stellung  _______________________________________________________________________"},
    {84, "Leben Kinder in Ihrem Haushalt?  ____________________________________________________________"},
    {85, "PC-Typ  ________________________________________________________________________________"},
    {86, "Betriebssystem  __________________________________________________________________________"},
    {87, "Anwenderkenntnisse  _____________________________________________________________________"},
};

struct Font {
    int height;
    int weight;
    bool operator==(const Font& o) const { return height == o.height && weight == o.weight; }
};

// Fonts at 300 pixels per inch.
const Font kTitle{-67, 700}, kAddress{-46, 400}, kAddressBold{-46, 700}, kForm{-42, 400}, kFormBold{-42, 700};
const Font kDeviceFont{-20, 400};

// The fake's fixed metrics: each character as wide as half the height plus a little that
// depends on the character, bold two units wider; cell height and descent from the height.
int CharWidth(const Font& f, unsigned char c) {
    return std::abs(f.height) / 2 + (f.weight >= 700 ? 2 : 0) + c % 5;
}
int Width(const Font& f, const std::string& text, std::size_t n = std::string::npos) {
    int w = 0;
    for (std::size_t i = 0; i < text.size() && i < n; ++i) w += CharWidth(f, static_cast<unsigned char>(text[i]));
    return w;
}
int H(const Font& f) {
    return std::abs(f.height) * 6 / 5 + (f.weight >= 700 ? 2 : 0);
}
int D(const Font& f) {
    return std::abs(f.height) / 4;
}

struct Drawn {
    std::string text;
    Font font;
    int x, y;
    bool clipped;
    PageRect clip;
    int justifyExtra, justifyBreaks;
};

class CFakeSurface : public CDrawingSurface {
public:
    static constexpr FontHandle kDevice = 1000;
    int dpiX = 300, dpiY = 300;
    std::vector<unsigned char> logo;
    unsigned throwAtText = 0;       // LoadText of this id throws
    int failMakeAt = 0;             // the n-th MakeFont (1-based) fails
    std::vector<Drawn> drawn;
    std::vector<std::string> calls;  // order of the state changes
    std::vector<Font> made;
    std::vector<bool> alive;
    FontHandle selected = kDevice;
    int maxAlive = 0;
    int selectedDeletes = 0;
    int extra = 0, breaks = 0;

    int LogPixelsX() override { return dpiX; }
    int LogPixelsY() override { return dpiY; }
    std::string LoadText(unsigned id) override {
        if (id == throwAtText) throw std::runtime_error("no text");
        auto it = kStrings.find(id);
        return it == kStrings.end() ? std::string() : it->second;
    }
    ResourceBytes LogoResource() override { return logo.empty() ? ResourceBytes{} : ResourceBytes{logo.data(), logo.size()}; }
    void StretchLogo(int x, int y, int w, int h, const LogoBitmap& b) override {
        calls.push_back("logo " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
                        std::to_string(h) + " " + std::to_string(b.width) + "x" + std::to_string(b.height));
    }
    FontHandle MakeFont(int height, int weight) override {
        made.push_back({height, weight});
        if (static_cast<int>(made.size()) == failMakeAt) {
            alive.push_back(false);
            return 0;
        }
        alive.push_back(true);
        maxAlive = std::max(maxAlive, static_cast<int>(std::count(alive.begin(), alive.end(), true)));
        return made.size();
    }
    FontHandle SelectFont(FontHandle f) override {
        if (f != kDevice && (f == 0 || f > made.size() || !alive[f - 1])) return 0;
        calls.push_back("select");
        FontHandle previous = selected;
        selected = f;
        return previous;
    }
    void DeleteFont(FontHandle f) override {
        ASSERT_TRUE(f >= 1 && f <= made.size() && alive[f - 1]) << "deleting font " << f;
        if (f == selected) ++selectedDeletes;  // GDI refuses this and the font leaks
        alive[f - 1] = false;
        calls.push_back("delete");
    }
    FontMetrics SelectedFontMetrics() override { return {H(Current()), D(Current())}; }
    TextSize TextExtent(const std::string& text, std::size_t count) override {
        // Like GDI, a justification that is still set widens every measurement.
        return {Width(Current(), text, count) + extra, H(Current())};
    }
    void DrawString(int x, int y, const std::string& text) override {
        drawn.push_back({text, Current(), x, y, false, {}, extra, breaks});
    }
    void DrawClippedString(int x, int y, const PageRect& clip, const std::string& text) override {
        drawn.push_back({text, Current(), x, y, true, clip, extra, breaks});
    }
    void SetTextJustification(int e, int b) override {
        extra = e;
        breaks = b;
    }
    void SetTextColor(std::uint32_t rgb) override { calls.push_back("color " + std::to_string(rgb)); }
    void SetTransparentBackground() override { calls.push_back("transparent"); }

    Font Current() const { return selected == kDevice ? kDeviceFont : made[selected - 1]; }
};

// A BMP file as the logo resource holds it: file header, info header, colour table, rows.
std::vector<unsigned char> Bmp(int width, int height, int bits, unsigned colorsUsed = 0, unsigned headerSize = 40,
                               unsigned compression = 0) {
    std::vector<unsigned char> b(54, 0);
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(14, headerSize);
    put(18, static_cast<std::uint32_t>(width));
    put(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = static_cast<unsigned char>(bits);
    put(30, compression);
    put(46, colorsUsed);
    const std::size_t table = bits == 8 ? 4 * (colorsUsed ? colorsUsed : 256) : 0;
    const std::size_t stride = (static_cast<std::size_t>(std::abs(width)) * bits + 31) / 32 * 4;
    b.resize(54 + table + stride * static_cast<std::size_t>(std::abs(height)), 0x7F);
    return b;
}

// The shared sample with a repetition of the password that differs from it, so the page can
// show it prints the first password only.
RegistrationRecord FullRecord() {
    RegistrationRecord r = sample::SampleAnswers();
    r.password_2 = "Wiederholung2";
    return r;
}

const PageRect kPage{177, 177, 2302, 3331};
const int kColumn = Width(kForm, kStrings.at(75));  // the measuring font has the form font's size

bool Justified(const Font& f, const std::string& text, int extra, int breaks) {
    const int measured = Width(f, text);
    if (measured >= kColumn) return extra == 0 && breaks == 0;
    return extra == kColumn - measured && breaks == std::count(text.begin(), text.end(), ' ');
}

// The page as it must come out: text, font, position, in drawing order.
std::vector<Drawn> ExpectedPage(const RegistrationRecord& r) {
    std::vector<Drawn> e;
    const int L = kPage.left;
    int y = kPage.top;
    const int hA = H(kAddress), h = H(kForm), d = D(kForm);
    auto text = [&](unsigned id, const Font& f) { e.push_back({kStrings.at(id), f, L, y, false, {}, 0, 0}); };
    auto at = [&](unsigned id, std::size_t n) { return L + Width(kForm, kStrings.at(id), n); };
    auto answer = [&](const std::string& a, int x) {
        if (!a.empty()) e.push_back({a, kFormBold, x, y, false, {}, 0, 0});
    };
    auto form = [&](unsigned id) { e.push_back({kStrings.at(id), kForm, L, y + d, false, {}, 0, 0}); };

    text(51, kTitle);
    y = kPage.top + H(kTitle);
    y += 6 * hA;
    text(52, kAddress);
    y += 2 * hA;
    text(53, kAddressBold);
    y += H(kAddressBold);
    for (unsigned id : {54, 55, 56}) {
        text(id, kAddress);
        y += id == 54 ? hA : id == 55 ? 2 * hA : 6 * hA;
    }
    text(57, kAddress);
    y += hA;
    text(58, kAddress);
    y += hA;
    text(59, kAddressBold);
    y += H(kAddressBold);
    y += h;
    text(60, kFormBold);
    y += H(kFormBold);
    form(61), answer(r.vorname, at(61, 10)), answer(r.nachname, at(61, 37)), answer(r.firm, at(61, 71));
    y += h + d;
    form(62), answer(r.addr, at(62, 10));
    y += h + d;
    form(63), answer(r.zip, at(63, 15)), answer(r.city, at(63, 41)), answer(r.land, at(63, 76));
    y += h + d;
    form(64), answer(r.tel, at(64, 11)), answer(r.fax, at(64, 50));
    y += 3 * h + d;
    text(65, kFormBold);
    y += H(kFormBold);
    const int c1 = at(66, 44);
    form(66), answer(r.gprod, at(66, 17)), answer(r.titel, c1);
    y += h + d;
    form(67), answer(r.gprodg, c1);
    y += h + d;
    form(68), answer(r.wgekauf, c1);
    y += h + d;
    form(69), answer(r.dgekauf, c1);
    y += h + d;
    form(70);
    const std::string bought = r.pgekauf.empty() ? "nein" : r.pgekauf;
    e.push_back({bought, kFormBold, at(70, 62), y, true,
                 {at(70, 62), y, L + kColumn, y + H(kFormBold) + 10}, 0, 0});
    y += h + d;
    form(71), answer(r.kaufoft, at(71, 32));
    y += 3 * h + d;
    text(72, kFormBold);
    y += H(kFormBold);
    text(73, kForm);
    y += h;
    form(74), answer(r.aggraccept, at(74, 54));
    y += h + d;
    form(75), answer(r.username, at(75, 54));
    y += h + d;
    form(76), answer(r.password_1, at(76, 12));
    y += h + d + h;
    for (unsigned id : {77, 78, 79}) {
        text(id, kForm);
        y += h;
    }
    form(80), answer(r.vipkunde, at(80, 31));
    y += h + d + 2 * h;
    text(81, kFormBold);
    y += H(kFormBold) + d;
    const int c2 = at(82, 36);
    form(82), answer(r.alt, c2);
    const std::string* survey[] = {&r.berstell, &r.lebkindih, &r.pctyp, &r.betrsystem, &r.anwender};
    for (unsigned id = 83; id <= 87; ++id) {
        y += h + d;
        form(id), answer(*survey[id - 83], c2);
    }
    return e;
}

void ExpectPage(const CFakeSurface& s, const RegistrationRecord& r) {
    const std::vector<Drawn> expected = ExpectedPage(r);
    ASSERT_EQ(expected.size(), s.drawn.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Drawn& e = expected[i];
        const Drawn& a = s.drawn[i];
        SCOPED_TRACE("#" + std::to_string(i) + " " + e.text);
        EXPECT_EQ(e.text, a.text);
        EXPECT_TRUE(e.font == a.font) << a.font.height << "/" << a.font.weight;
        EXPECT_EQ(e.x, a.x);
        EXPECT_EQ(e.y, a.y);
        EXPECT_EQ(e.clipped, a.clipped);
        if (e.clipped) {
            EXPECT_EQ(e.clip.left, a.clip.left);
            EXPECT_EQ(e.clip.top, a.clip.top);
            EXPECT_EQ(e.clip.right, a.clip.right);
            EXPECT_EQ(e.clip.bottom, a.clip.bottom);
        }
    }
}

// Every font made was deleted, never while selected, the device's own font is selected
// again, at most two fonts lived at a time and no justification is left set.
void ExpectFontsReleased(const CFakeSurface& s) {
    EXPECT_EQ(0, std::count(s.alive.begin(), s.alive.end(), true));
    EXPECT_EQ(0, s.selectedDeletes);
    EXPECT_EQ(CFakeSurface::kDevice, s.selected);
    EXPECT_LE(s.maxAlive, 2);
    EXPECT_EQ(0, s.extra);
    EXPECT_EQ(0, s.breaks);
}

}  // namespace

TEST(PageLayout, FullRecordEveryTextFontAndPosition) {
    CFakeSurface s;
    const RegistrationRecord r = FullRecord();
    DrawRegistrationPage(s, kPage, r);
    ExpectPage(s, r);
    for (const Drawn& d : s.drawn) EXPECT_EQ(std::string::npos, d.text.find(r.password_2)) << d.text;
    ExpectFontsReleased(s);
}

TEST(PageLayout, EmptyOptionalAnswersLeaveRunsBlankAndPurchaseSaysNein) {
    RegistrationRecord r = FullRecord();
    for (auto field : {&RegistrationRecord::firm, &RegistrationRecord::tel, &RegistrationRecord::fax,
                       &RegistrationRecord::alt, &RegistrationRecord::berstell, &RegistrationRecord::lebkindih,
                       &RegistrationRecord::pctyp, &RegistrationRecord::betrsystem, &RegistrationRecord::anwender,
                       &RegistrationRecord::gprodg, &RegistrationRecord::wgekauf, &RegistrationRecord::kaufoft,
                       &RegistrationRecord::pgekauf, &RegistrationRecord::username, &RegistrationRecord::password_1})
        (r.*field).clear();
    r.aggraccept = "nein";
    CFakeSurface s;
    DrawRegistrationPage(s, kPage, r);
    ExpectPage(s, r);
}

TEST(PageLayout, AnswerPositionsLieInsideTheirUnderscoreRuns) {
    // The answer spots of the sheet and the two columns, as characters of their templates.
    const std::vector<std::pair<unsigned, std::size_t>> spots = {
        {61, 10}, {61, 37}, {61, 71}, {62, 10}, {63, 15}, {63, 41}, {63, 76}, {64, 11}, {64, 50}, {66, 17},
        {66, 44}, {70, 62}, {71, 32}, {74, 54}, {75, 54}, {76, 12}, {80, 31}, {82, 36}};
    for (const auto& [id, n] : spots) {
        const std::string& t = kStrings.at(id);
        SCOPED_TRACE(std::to_string(id) + " at " + std::to_string(n));
        EXPECT_EQ('_', t.at(n - 1));
        EXPECT_EQ('_', t.at(n));
    }
    // The columns reach into the runs of the lines that use them.
    for (unsigned id : {67, 68, 69}) EXPECT_GT(kStrings.at(id).size(), 44u);
    for (unsigned id = 83; id <= 87; ++id) EXPECT_EQ('_', kStrings.at(id).at(36)) << id;
}

TEST(PageLayout, LinesAreStretchedToTheFormColumnUnlessAlreadyWider) {
    CFakeSurface s;
    DrawRegistrationPage(s, kPage, FullRecord());
    const std::vector<unsigned> justified = {57, 58, 61, 62, 63, 64, 66, 67, 68, 69, 70, 71, 73, 74, 75, 76,
                                             77, 78, 80, 82, 83, 84, 85, 86, 87};
    // Line 74 is wider than the column in the form font: it must come out as it is.
    ASSERT_GE(Width(kForm, kStrings.at(74)), kColumn);
    int checked = 0;
    for (const Drawn& d : s.drawn) {
        unsigned id = 0;
        for (const auto& [i, t] : kStrings)
            if (t == d.text && i != 72) id = i;
        SCOPED_TRACE(d.text);
        if (std::find(justified.begin(), justified.end(), id) != justified.end()) {
            EXPECT_TRUE(Justified(d.font, d.text, d.justifyExtra, d.justifyBreaks))
                << d.justifyExtra << "/" << d.justifyBreaks;
            ++checked;
        } else {
            EXPECT_EQ(0, d.justifyExtra);  // titles, headings, line 79 and every answer
        }
    }
    EXPECT_EQ(static_cast<int>(justified.size()), checked);
}

TEST(PageLayout, JustifiedLine) {
    struct Case {
        std::string text;
        int width;
        int extra, breaks;
    };
    const Font f = CFakeSurface().Current();
    const std::string blanks = "ein Satz mit  Leerzeichen";
    const std::string none = "OhneLeerzeichen";
    const std::vector<Case> cases = {
        {blanks, Width(f, blanks) + 40, 40, 4},
        {none, Width(f, none) + 40, 40, 0},  // nothing to widen: a break count of 0
        {blanks, Width(f, blanks), 0, 0},     // exactly as wide: drawn as it is
        {blanks, Width(f, blanks) - 1, 0, 0},
        {blanks, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " in " + std::to_string(c.width));
        CFakeSurface s;
        DrawJustifiedLine(s, 12, 34, c.width, c.text);
        ASSERT_EQ(1u, s.drawn.size());
        EXPECT_EQ(c.text, s.drawn[0].text);
        EXPECT_EQ(12, s.drawn[0].x);
        EXPECT_EQ(34, s.drawn[0].y);
        EXPECT_EQ(c.extra, s.drawn[0].justifyExtra);
        EXPECT_EQ(c.breaks, s.drawn[0].justifyBreaks);
        EXPECT_EQ(0, s.extra);
    }
}

TEST(PageLayout, LongPurchaseAnswerIsClippedAtTheFormColumn) {
    RegistrationRecord r = FullRecord();
    r.pgekauf = std::string(300, 'W');
    CFakeSurface s;
    DrawRegistrationPage(s, kPage, r);
    ExpectPage(s, r);
    const auto clipped = std::count_if(s.drawn.begin(), s.drawn.end(), [](const Drawn& d) { return d.clipped; });
    EXPECT_EQ(1, clipped);
}

TEST(PageLayout, FontsMadeInFourGroupsAndReleased) {
    CFakeSurface s;
    DrawRegistrationPage(s, kPage, FullRecord());
    const std::vector<Font> expected = {kTitle, kForm, kAddress, kAddressBold, kForm, kFormBold};
    ASSERT_EQ(expected.size(), s.made.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(expected[i] == s.made[i]) << i;
    ExpectFontsReleased(s);
    // Without a logo, colour and background are set before anything else.
    ASSERT_GE(s.calls.size(), 2u);
    EXPECT_EQ("color 0", s.calls[0]);
    EXPECT_EQ("transparent", s.calls[1]);
}

TEST(PageLayout, FontsAtOtherResolutions) {
    struct Case {
        int dpi;
        std::vector<int> heights;
    };
    for (const Case& c : {Case{600, {-133, -83, -92, -92, -83, -83}}, Case{72, {-16, -10, -11, -11, -10, -10}}}) {
        CFakeSurface s;
        s.dpiY = c.dpi;
        DrawRegistrationPage(s, kPage, FullRecord());
        ASSERT_EQ(c.heights.size(), s.made.size());
        for (std::size_t i = 0; i < c.heights.size(); ++i) EXPECT_EQ(c.heights[i], s.made[i].height) << c.dpi;
    }
}

TEST(PageLayout, DrawingStoppedHalfWayStillReleasesFonts) {
    // A failure while loading a text of each font group, and a font that cannot be made.
    for (unsigned id : {51u, 75u, 52u, 59u, 61u, 70u, 87u}) {
        SCOPED_TRACE(id);
        CFakeSurface s;
        s.throwAtText = id;
        EXPECT_THROW(DrawRegistrationPage(s, kPage, FullRecord()), std::runtime_error);
        ExpectFontsReleased(s);
    }
    for (int failing = 1; failing <= 6; ++failing) {
        SCOPED_TRACE(failing);
        CFakeSurface s;
        s.failMakeAt = failing;
        DrawRegistrationPage(s, kPage, FullRecord());
        EXPECT_EQ(6u, s.made.size());
        ExpectFontsReleased(s);
    }
}

TEST(PageLayout, LogoInTheTopRightCornerAtOnePixelPerPoint) {
    struct Case {
        int dpiX, dpiY;
        std::string call;
    };
    for (const Case& c : {Case{300, 300, "logo 1769 177 533 258 128x62"}, Case{600, 600, "logo 1235 177 1067 517 128x62"},
                          Case{600, 300, "logo 1235 177 1067 258 128x62"}}) {
        CFakeSurface s;
        s.dpiX = c.dpiX;
        s.dpiY = c.dpiY;
        s.logo = Bmp(128, 62, 24);
        DrawRegistrationPage(s, kPage, FullRecord());
        ASSERT_FALSE(s.calls.empty());
        EXPECT_EQ(c.call, s.calls[0]);
    }
    // Without a usable logo the rest of the page is the same.
    CFakeSurface s;
    s.logo = Bmp(128, 62, 24);
    s.logo.pop_back();
    DrawRegistrationPage(s, kPage, FullRecord());
    EXPECT_EQ("color 0", s.calls.at(0));
    ExpectPage(s, FullRecord());
}

TEST(PageLayout, LogoBytesAreCheckedBeforeUse) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        bool ok;
        std::size_t bitsOffset;
    };
    std::vector<unsigned char> truncated = Bmp(128, 62, 24);
    truncated.pop_back();
    std::vector<unsigned char> headerOnly = Bmp(1, 1, 24);
    headerOnly.resize(54);
    std::vector<unsigned char> shortTable = Bmp(4, 4, 8, 16);
    shortTable.resize(54 + 64 + 15);
    const std::vector<Case> cases = {
        {"24 bit", Bmp(128, 62, 24), true, 54},
        {"8 bit, full table", Bmp(5, 3, 8), true, 54 + 1024},
        {"8 bit, 16 colours", Bmp(5, 3, 8, 16), true, 54 + 64},
        {"32 bit", Bmp(3, 3, 32), true, 54},
        {"one byte short", truncated, false, 0},
        {"8 bit, rows cut", shortTable, false, 0},
        {"header only", headerOnly, false, 0},
        {"shorter than the headers", std::vector<unsigned char>(53, 0), false, 0},
        {"empty", {}, false, 0},
        {"8 bit, 300 colours", Bmp(2, 2, 8, 300), false, 0},
        {"4 bit", Bmp(8, 2, 4), false, 0},
        {"1 bit", Bmp(8, 2, 1), false, 0},
        {"run-length compressed", Bmp(8, 2, 8, 0, 40, 1), false, 0},
        {"larger info header", Bmp(8, 2, 24, 0, 124), false, 0},
        {"top-down", Bmp(8, -2, 24), false, 0},
        {"no width", Bmp(0, 2, 24), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogoBitmap logo;
        const ResourceBytes bytes{c.bytes.empty() ? nullptr : c.bytes.data(), c.bytes.size()};
        ASSERT_EQ(c.ok, ParseLogo(bytes, logo));
        if (!c.ok) continue;
        EXPECT_EQ(c.bytes.data() + 14, logo.info);
        EXPECT_EQ(c.bytes.data() + c.bitsOffset, logo.bits);
    }
}

TEST(PageLayout, MulDivRoundsToNearest) {
    struct Case {
        int a, b, c, result;
    };
    for (const Case& c : std::vector<Case>{{16, 300, 72, 67}, {10, 300, 72, 42}, {11, 300, 72, 46},
                                           {16, 600, 72, 133}, {11, 600, 72, 92}, {10, 600, 72, 83},
                                           {128, 600, 72, 1067}, {62, 600, 72, 517}, {1, 1, 2, 1},
                                           {-1, 1, 2, -1}, {3, 1, 2, 2}, {-3, 1, 2, -2}, {1, 3, -2, -2},
                                           {5, 7, 0, -1}, {0x40000000, 4, 1, -1}})
        EXPECT_EQ(c.result, MulDivRound(c.a, c.b, c.c)) << c.a << "*" << c.b << "/" << c.c;
}

TEST(PageLayout, MarginsOfFifteenMillimetres) {
    struct Case {
        int horzRes, vertRes, horzSize, vertSize;
        PageRect rect;
    };
    for (const Case& c : std::vector<Case>{{4961, 7016, 210, 297, {354, 354, 4607, 6662}},
                                           {2479, 3508, 209, 297, {177, 177, 2302, 3331}},
                                           {1000, 1000, 0, -5, {0, 0, 1000, 1000}}}) {
        const PageRect r = DrawingRect(c.horzRes, c.vertRes, c.horzSize, c.vertSize);
        EXPECT_EQ(c.rect.left, r.left);
        EXPECT_EQ(c.rect.top, r.top);
        EXPECT_EQ(c.rect.right, r.right);
        EXPECT_EQ(c.rect.bottom, r.bottom);
    }
}
