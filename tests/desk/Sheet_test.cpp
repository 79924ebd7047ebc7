// The sheet reader against pages that VelkRun printed and a fax or scanner turned into images
// (made by bench/sheets/make_sheets.sh; sheet-scan-200.jpg is a letter's colour scan at 200 dpi):
// each read back to the record that was printed, also turned and upside down; a page of another
// kind and broken files refused with a reason; and the pages through `velkdesk import` beside
// the mails.
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "desk/Export.h"
#include "desk/Import.h"
#include "desk/sheet/InkCompare.h"
#include "desk/sheet/SheetIntake.h"
#include "desk/sheet/PageImage.h"
#include "desk/sheet/ReaderStages.h"
#include "desk/sheet/ResourceText.h"
#include "desk/sheet/SheetLayout.h"
#include "desk/sheet/SheetReader.h"
#include "res/resource.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPages = fs::path(SHEET_PAGES);

// The record the committed pages were printed from, in the reader's field order (UTF-8).
std::vector<std::string> Truth(const char* file = "sheet.tsv") {
    std::ifstream in(kPages / file, std::ios::binary);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(Windows1252ToUtf8(field));
    fields.resize(sheet::kSheetFieldCount);  // a trailing empty field has no tab behind it
    return fields;
}

// The doubts are the problems as data: one a problem, in the same order and wording; each in the
// normalised page's pixels, inside the page; a secret's never holding its value or a rival.
void ExpectDoubtsAsData(const sheet::SheetReading& reading) {
    ASSERT_EQ(reading.doubts.size(), reading.problems.size());
    ASSERT_TRUE(reading.normalised);
    const int w = pixGetWidth(reading.normalised.Get()), h = pixGetHeight(reading.normalised.Get());
    for (std::size_t k = 0; k < reading.doubts.size(); ++k) {
        const desk::Doubt& doubt = reading.doubts[k];
        EXPECT_EQ(doubt.Line(), reading.problems[k]);
        EXPECT_FALSE(doubt.box.Empty()) << doubt.Line();
        EXPECT_TRUE(doubt.box.x >= 0 && doubt.box.y >= 0 && doubt.box.x + doubt.box.width <= w &&
                    doubt.box.y + doubt.box.height <= h)
            << doubt.Line();
        EXPECT_LT(doubt.confidence, 80) << doubt.Line();
        if (doubt.field == "password_1") {
            EXPECT_TRUE(doubt.rivals.empty()) << doubt.Line();
            if (!reading.record.password_1.empty()) {
                EXPECT_EQ(doubt.message.find(reading.record.password_1), std::string::npos);
            }
        }
    }
}

class SheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { reader_ = new sheet::CSheetReader; }
    static void TearDownTestSuite() { delete reader_; }

    static sheet::SheetReading Read(const std::string& name) {
        std::vector<sheet::PageImage> pages;
        std::string error;
        EXPECT_TRUE(sheet::LoadPages((kPages / name).string(), pages, error)) << error;
        if (pages.size() != 1) return {};
        return reader_->Read(pages[0]);
    }
    static sheet::CSheetReader* reader_;
};
sheet::CSheetReader* SheetTest::reader_ = nullptr;

TEST(SheetLayoutTest, EveryAnswerStandsOnARunOfItsLineInPrintingOrder) {
    sheet::CFontMeasure fonts;
    for (int dpi : {300, 600}) {
        const sheet::SheetLayout layout = sheet::BuildSheetLayout(fonts, dpi);
        ASSERT_EQ(layout.answers.size(), static_cast<std::size_t>(sheet::kSheetFieldCount));
        for (const sheet::AnswerSpot& a : layout.answers) {
            SCOPED_TRACE(sheet::kSheetFields[a.field].name);
            bool onRun = false;
            for (const sheet::UnderscoreRun& run : layout.runs)
                onRun = onRun || (run.lineId == a.lineId && a.x > run.x0 && a.x < run.x1 && run.y > a.y);
            EXPECT_TRUE(onRun);
            EXPECT_LT(a.x, a.limit);
        }
        // The title comes first, the last survey line last, and the fonts scale with the resolution.
        EXPECT_EQ(layout.texts.front().stringId, static_cast<unsigned>(IDS_PRINT_TITLE));
        EXPECT_EQ(layout.answers[0].ppem, 10 * dpi / 72 + (10 * dpi % 72 >= 36));
    }
    const auto& texts = sheet::CResourceText::BuiltIn();
    EXPECT_EQ(texts.String(IDS_PRINT_LINE62).substr(0, 7), "Stra\xDF" "e ");
    EXPECT_EQ(texts.List(IDC_REG_COUNTRY).size(), 43u);
    EXPECT_EQ(texts.List(IDC_REG_SKILL).back(), "Profi");
}

TEST_F(SheetTest, FaxedAndScannedPagesReadBackToThePrintedRecord) {
    const std::vector<std::string> truth = Truth();
    for (const char* name : {"sheet-300.tif", "sheet-fine.tif", "sheet-standard.tif", "sheet-300-rotated.tif",
                             "sheet-fine-upside-down.tif", "sheet-printed.pdf", "sheet-scan-200.jpg"}) {
        SCOPED_TRACE(name);
        const sheet::SheetReading reading = Read(name);
        ASSERT_TRUE(reading.isSheet) << reading.notSheetReason;
        EXPECT_EQ(reading.upsideDown, std::string(name).find("upside") != std::string::npos);
        for (int i = 0; i < sheet::kSheetFieldCount; ++i) {
            EXPECT_EQ(reading.fields[i].value, truth[i]) << sheet::kSheetFields[i].name << ": "
                                                        << reading.fields[i].problem;
            EXPECT_EQ(reading.record.*sheet::kSheetFields[i].member, truth[i]);
        }
        ExpectDoubtsAsData(reading);
    }
}

// Coarse faxes: where the recogniser saw "Pentium IH", the list's values drawn against the ink
// give "Pentium III", not "Pentium II"; where it read specks of noise beside a "ja" as "ja oo",
// the value is still "ja". No value on either page is wrong without a flag.
TEST_F(SheetTest, AListAnswerIsTheValueWhoseDrawingMatchesTheInk) {
    for (auto [page, record] : {std::pair{"sheet-standard-list.tif", "sheet-list.tsv"},
                                std::pair{"sheet-standard-noise.tif", "sheet-noise.tsv"}}) {
        SCOPED_TRACE(page);
        const std::vector<std::string> truth = Truth(record);
        const sheet::SheetReading reading = Read(page);
        ASSERT_TRUE(reading.isSheet) << reading.notSheetReason;
        for (int i = 0; i < sheet::kSheetFieldCount; ++i) {
            const sheet::FieldReading& field = reading.fields[i];
            if (!sheet::TypedText(sheet::kSheetFields[i].kind)) {
                EXPECT_EQ(field.value, truth[i]) << sheet::kSheetFields[i].name;
            }
            EXPECT_TRUE(field.value == truth[i] || !field.problem.empty()) << sheet::kSheetFields[i].name;
        }
    }
    EXPECT_EQ(Read("sheet-standard-list.tif").record.pctyp, "Pentium III");
}

// One answer's left edge found far off (the fit of the page's answer shift once followed it,
// and every other answer on the page then missed its ink): all answers still read back, and
// only a few are named for review.
TEST_F(SheetTest, OneAnswerFoundFarOffDoesNotMoveTheOthers) {
    const std::vector<std::string> truth = Truth("sheet-offset.tsv");
    const sheet::SheetReading reading = Read("sheet-fine-offset.tif");
    ASSERT_TRUE(reading.isSheet) << reading.notSheetReason;
    for (int i = 0; i < sheet::kSheetFieldCount; ++i)
        EXPECT_EQ(reading.fields[i].value, truth[i]) << sheet::kSheetFields[i].name;
    EXPECT_LE(reading.problems.size(), 4u);
}

// Pages that once lost an answer: a hyphen left one row thin at standard resolution (taken for
// a speck and erased, so "VM-7461" was stored as "VM 7461" without a flag), a speck over "mail"
// read as an umlaut, a dotless i from the recogniser that the form cannot hold, a fax scaled
// wider than its landmarks told, which put the rightmost answer out of reach, a date's 5 read
// as an 8, a t whose stem the fax broke under its bar ("Foiostudio"), "Schlo8allee", and an
// address whose last letter the page's edge cut (".con"), which is mended but still confirmed.
TEST_F(SheetTest, PagesThatOnceLostAnAnswerReadBack) {
    for (auto [page, record] : {std::pair{"sheet-standard-hyphen.tif", "sheet-hyphen.tsv"},
                                std::pair{"sheet-fine-stray-dot.tif", "sheet-stray-dot.tsv"},
                                std::pair{"sheet-fine-dotless.tif", "sheet-dotless.tsv"},
                                std::pair{"sheet-fine-wide.tif", "sheet-wide.tsv"},
                                std::pair{"sheet-standard-date.tif", "sheet-date.tsv"},
                                std::pair{"sheet-fine-bar.tif", "sheet-bar.tsv"},
                                std::pair{"sheet-fine-street.tif", "sheet-street.tsv"},
                                std::pair{"sheet-fine-edge.tif", "sheet-edge.tsv"}}) {
        SCOPED_TRACE(page);
        const std::vector<std::string> truth = Truth(record);
        const sheet::SheetReading reading = Read(page);
        ASSERT_TRUE(reading.isSheet) << reading.notSheetReason;
        for (int i = 0; i < sheet::kSheetFieldCount; ++i) {
            EXPECT_EQ(reading.fields[i].value, truth[i]) << sheet::kSheetFields[i].name;
            if (std::string(page) == "sheet-fine-edge.tif" && std::string(sheet::kSheetFields[i].name) == "username") {
                EXPECT_FALSE(reading.fields[i].problem.empty());
            }
        }
        ExpectDoubtsAsData(reading);
        if (std::string(page) == "sheet-fine-edge.tif") {
            // The address mended to an existing top-level domain, and its doubt says so.
            const auto mail = std::find_if(reading.doubts.begin(), reading.doubts.end(),
                                           [](const desk::Doubt& d) { return d.field == "username"; });
            ASSERT_NE(mail, reading.doubts.end());
            EXPECT_EQ(mail->kind, desk::DoubtKind::Mended);
        }
    }
}

// Answers drawn the way the sheet draws them stand in for the ink: the drawing mends a reading
// the recogniser got wrong, and a reading is only trusted when no text one character away
// explains the ink about as well.
class InkMatchTest : public ::testing::Test {
protected:
    static constexpr int kPpem = 42, kX = 20, kBaseline = 50;
    sheet::CFontMeasure fonts_;
    sheet::CGlyphSet glyphs_{fonts_, kPpem, true, 1.0, 1.0};

    sheet::CPix Ink(const std::string& text) {
        int baseline = 0, left = 0, right = 0;
        sheet::CPix drawn(fonts_.Render(kPpem, true, text, 1.0, 1.0, baseline));
        fonts_.InkExtent(kPpem, true, text, left, right);
        sheet::CPix box(pixCreate(pixGetWidth(drawn.Get()) + 2 * kX, 80, 1));
        pixRasterop(box.Get(), kX + left, kBaseline - baseline, pixGetWidth(drawn.Get()), pixGetHeight(drawn.Get()),
                    PIX_SRC, drawn.Get(), 0, 0);
        return box;
    }
    std::string Mended(const std::string& printed, const std::string& seen, Pix* ink = nullptr, Pix* around = nullptr) {
        sheet::CPix own = ink ? sheet::CPix() : Ink(printed);
        sheet::CInkMatch match(glyphs_, ink ? ink : own.Get(), false, around);
        match.Place(seen, kX, kBaseline, 5, 2);
        return match.Improve(seen, 4, 3);
    }
    sheet::CInkMatch::Rival Closest(const std::string& printed, const std::string& reading) {
        sheet::CPix ink = Ink(printed);
        sheet::CInkMatch match(glyphs_, ink.Get(), false);
        match.Place(reading, kX, kBaseline, 5, 2);
        return match.Closest(reading);
    }
};

TEST_F(InkMatchTest, TheDrawingMendsWhatTheInkContradicts) {
    EXPECT_EQ(Mended("Zo\xEB", "Zo&"), "Zo\xEB");
    EXPECT_EQ(Mended("Steuerhelfer 2002", "Steuerheifer 2002"), "Steuerhelfer 2002");
    EXPECT_EQ(Mended("VM-4000-70008", "VM-4000-70008B"), "VM-4000-70008");  // nothing drawn there
    EXPECT_EQ(Mended("Friedrich-Wilhelm", "Friedrich-Wilheln"), "Friedrich-Wilhelm");
    EXPECT_EQ(Mended("Wilhelm", "Wilhelrr"), "Wilhelm");
    EXPECT_EQ(Mended("K\xF6ln", "K\xF6ln"), "K\xF6ln");
    // A first letter read too wide: the drawing sits on the letters behind it.
    EXPECT_EQ(Mended("0w9XZjscs", "Ow9XZjscs"), "0w9XZjscs");
}

// A long answer printed over the label behind its run: the label's drawing is part of what
// the ink must show, so the letter under it ("g" under "F") is still told from its look-alikes.
TEST_F(InkMatchTest, AnAnswerOverALabelIsMatchedWithTheLabel) {
    const std::string answer = "M\xFChlberg";
    sheet::CPix ink = Ink(answer);
    sheet::CPix around(pixCreate(pixGetWidth(ink.Get()), pixGetHeight(ink.Get()), 1));
    int baseline = 0;
    sheet::CPix label(fonts_.Render(kPpem, false, "Firma:", 1.0, 1.0, baseline));
    const std::vector<int> pens = glyphs_.Pens(answer);
    pixRasterop(around.Get(), kX + pens[answer.size() - 1] + 4, kBaseline - baseline, pixGetWidth(label.Get()),
                pixGetHeight(label.Get()), PIX_SRC, label.Get(), 0, 0);
    pixOr(ink.Get(), ink.Get(), around.Get());
    EXPECT_EQ(Mended(answer, "M\xFChlbere", ink.Get(), around.Get()), answer);
    EXPECT_EQ(Mended(answer, "M\xFChlbert", ink.Get(), around.Get()), answer);
}

TEST_F(InkMatchTest, AReadingIsTrustedOnlyWhenTheInkPrefersItToEveryNeighbour) {
    EXPECT_GT(Closest("1010", "1010").margin, 8);
    const auto wrong = Closest("1010", "1019");
    EXPECT_LT(wrong.margin, 0);
    EXPECT_EQ(wrong.text, "1010");
    // I and l are one stroke: their swap is never the rival, whatever the ink.
    EXPECT_EQ(Closest("Ilse", "Ilse").text.find("llse"), std::string::npos);
}

// Letters spelt from the ink one by one: what the recogniser garbled in a password or cut
// short in a name; and an I told from an l by the height of its stroke.
TEST_F(InkMatchTest, TheInkIsSpeltLetterByLetterAndAStrokeToldByItsHeight) {
    const auto spelt = [&](const std::string& printed, const std::string& seen, bool blanks) {
        sheet::CPix ink = Ink(printed);
        sheet::CInkMatch match(glyphs_, ink.Get(), false);
        match.Place(seen, kX, kBaseline, 5, 2);
        return match.Spell(blanks);
    };
    EXPECT_EQ(spelt("qTmSH4BbyO", "QTmMSHA4BbyO", false), "qTmSH4BbyO");
    EXPECT_EQ(spelt("U3nBC4oAv0", "U3nBC4AoAvVO", false), "U3nBC4oAv0");
    EXPECT_EQ(spelt("Till", "Ti", true), "Till");
    EXPECT_EQ(spelt("Bad Homburg", "Bad Hom", true), "Bad Homburg");
    // The letters around measure the page's own top: an L or a b has only its stem up there.
    for (const std::string printed : {"1shAlNy", "PKoIVU", "bLkIdh", "Ldbkl"}) {
        std::string seen = printed;
        for (char& c : seen) c = c == 'I' ? 'l' : c == 'l' ? 'I' : c;
        sheet::CPix ink = Ink(printed);
        sheet::CInkMatch match(glyphs_, ink.Get(), false);
        match.Place(seen, kX, kBaseline, 5, 2);
        EXPECT_EQ(match.SettleByHeight(seen), printed);
    }
}

// An i and an l differ only in the gap under the i's dot, an l and a t in the t's bar: the stroke
// on the page says which was printed, whatever the reading says; a speck in the gap does not
// close it.
TEST_F(InkMatchTest, AStrokeWithAGapUnderItsDotIsAnI) {
    sheet::CPix ink = Ink("Ilse Wien");
    const std::string reading = "lise Wlen";
    sheet::CInkMatch clean(glyphs_, ink.Get(), false);
    clean.Place(reading, kX, kBaseline, 5, 2);
    EXPECT_EQ(clean.StrokeGap(reading, 0), -1);
    EXPECT_EQ(clean.StrokeGap(reading, 1), -1);
    EXPECT_EQ(clean.StrokeGap(reading, 6), 1);
    const std::vector<int> pens = glyphs_.Pens(reading);
    const sheet::CGlyphSet::Glyph& i = glyphs_.Get('i');
    const int gapRow = kBaseline + i.top + pixGetHeight(i.pix.Get()) * 3 / 10;
    pixSetPixel(ink.Get(), kX + pens[6] + i.left + pixGetWidth(i.pix.Get()) / 2, gapRow, 1);
    sheet::CInkMatch specked(glyphs_, ink.Get(), false);
    specked.Place(reading, kX, kBaseline, 5, 2);
    EXPECT_EQ(specked.StrokeGap(reading, 6), 1);
    // A ! has its gap over the dot at the baseline; an l read as one is inked through.
    for (const auto& [printed, gap] : {std::pair{"Kl7", -1}, std::pair{"K!7", 1}}) {
        sheet::CPix mark = Ink(printed);
        sheet::CInkMatch match(glyphs_, mark.Get(), false);
        match.Place("K!7", kX, kBaseline, 5, 2);
        EXPECT_EQ(match.StrokeGap("K!7", 1), gap) << printed;
    }

    // A t's or an f's bar reaches left of its stem; an l's stroke is blank there.
    sheet::CPix tall = Ink("Till tilt");
    sheet::CInkMatch bars(glyphs_, tall.Get(), false);
    bars.Place("Tilt tilt", kX, kBaseline, 5, 2);
    EXPECT_FALSE(bars.BarBeside("Tilt tilt", 3));
    EXPECT_TRUE(bars.BarBeside("Tilt tilt", 8));
}

TEST(ResourceTextTest, ReadsTheScriptsEscapesListsAndNamesAndRefusesWhatItCannotPlace) {
    const std::string header = "#define IDS_A 7\n#define IDS_B 8\n#define IDC_L 1001\n#define IDD_REGISTRATION 129\n";
    const std::string lists = "\nIDD_REGISTRATION RCDATA\nBEGIN\n    IDC_L, \"eins\\0\", \"zw\xF6lf\\0\", \"\\0\",\n    0\nEND\n";
    const std::string rc =
        lists + "\nSTRINGTABLE\nBEGIN\n    // a comment\n    IDS_A \"say \"\"hi\"\"\\r\\n\"\n    IDS_B \"x\"\nEND\n";
    const sheet::CResourceText texts(rc, header);
    EXPECT_EQ(texts.String(7), "say \"hi\"\r\n");
    EXPECT_EQ(texts.String(9), "");
    EXPECT_EQ(texts.List(1001), (std::vector<std::string>{"eins", "zw\xF6lf"}));
    EXPECT_THROW(sheet::CResourceText(lists + "\nSTRINGTABLE\nBEGIN\n IDS_UNKNOWN \"y\"\nEND\n", header),
                 std::runtime_error);
    EXPECT_THROW(sheet::CResourceText(lists + "\nSTRINGTABLE\nBEGIN\n IDS_A \"open\nEND\n", header),
                 std::runtime_error);

    // Code page 1252 both ways, including the characters it keeps at 0x80 to 0x9F.
    const std::string cp = "Stra\xDF" "e \x80 \x84\x93";
    const std::string utf8 = Windows1252ToUtf8(cp);
    EXPECT_EQ(utf8, "Stra\xC3\x9F" "e \xE2\x82\xAC \xE2\x80\x9E\xE2\x80\x9C");
    std::string back;
    EXPECT_TRUE(Utf8ToWindows1252(utf8, back));
    EXPECT_EQ(back, cp);
    EXPECT_FALSE(Utf8ToWindows1252("\xC4\xB1", back));  // dotless i: not in the code page
}

// The review shows the one doubt of the highest rank a field's stages left, in the normalised
// page's pixels; a secret's doubt never names a rival, and a rival equal to the value is none.
TEST(ReviewDecisionTest, TheHighestRankedDoubtShowsAndASecretNamesNoRival) {
    using sheet::DoubtRank;
    using sheet::DoubtStage;
    using desk::DoubtKind;
    const auto index = [](const std::string& name) {
        for (int i = 0; i < sheet::kSheetFieldCount; ++i)
            if (name == sheet::kSheetFields[i].name) return i;
        return -1;
    };
    sheet::SheetPage page;
    page.binary = sheet::CPix(pixCreate(100, 50, 1));
    sheet::SheetReading result;
    result.fields.resize(sheet::kSheetFieldCount);

    const int password = index("password_1");
    sheet::AnswerWork secret;
    secret.x0 = -5, secret.y0 = 10, secret.x1 = 120, secret.y1 = 30;
    secret.Raise(DoubtRank::PasswordFromFax, DoubtStage::TextMend, DoubtKind::ReadFromFax, "password read from a fax");
    secret.Raise(DoubtRank::Rival, DoubtStage::TextMend, DoubtKind::Rival,
                 "could as well be another text one letter apart", {"Geheim2"});
    secret.Raise(DoubtRank::Reading, DoubtStage::FirstReading, DoubtKind::LowConfidence, "unsure reading");
    result.fields[password].value = "Geheim1";
    result.fields[password].confidence = 95;
    sheet::ReviewDecision(page, password, secret, result.fields[password], result);
    ASSERT_EQ(result.doubts.size(), 1u);
    const desk::Doubt& doubt = result.doubts[0];
    EXPECT_EQ(doubt.kind, DoubtKind::Rival);
    EXPECT_TRUE(doubt.rivals.empty());
    EXPECT_EQ(result.fields[password].problem, "could as well be another text one letter apart");
    EXPECT_EQ(result.problems, std::vector<std::string>{"password_1: could as well be another text one letter apart"});
    EXPECT_EQ(doubt.confidence, 79);  // a doubtful field is never as sure as a certain one
    EXPECT_EQ(result.fields[password].confidence, 79);
    EXPECT_EQ(doubt.box.x, 0);        // cut to the page
    EXPECT_EQ(doubt.box.y, 10);
    EXPECT_EQ(doubt.box.width, 100);
    EXPECT_EQ(doubt.box.height, 20);

    // What a later stage settled is withdrawn; the rest ranks as before.
    const int city = index("city");
    sheet::AnswerWork town;
    town.x1 = town.y1 = 10;
    town.Raise(DoubtRank::Reading, DoubtStage::FirstReading, DoubtKind::LowConfidence, "unsure reading \"Wlen\"");
    town.Raise(DoubtRank::OneStrokeByContext, DoubtStage::TextMend, DoubtKind::LooksAlike,
               "\"Wien\" has an I or l that only its context tells", {"Wien", "Wlen", ""});
    town.Withdraw(DoubtKind::LooksAlike);
    result.fields[city].value = "Wien";
    sheet::ReviewDecision(page, city, town, result.fields[city], result);
    ASSERT_EQ(result.doubts.size(), 2u);
    EXPECT_EQ(result.doubts[1].kind, DoubtKind::LowConfidence);
    town.Raise(DoubtRank::Rival, DoubtStage::TextMend, DoubtKind::Rival, "\"Wien\" could as well be \"Wlen\"",
               {"Wien", "Wlen", ""});
    town.Withdraw(DoubtStage::FirstReading);
    sheet::ReviewDecision(page, city, town, result.fields[city], result);
    ASSERT_EQ(result.doubts.size(), 3u);
    EXPECT_EQ(result.doubts[2].rivals, std::vector<std::string>{"Wlen"});
    EXPECT_EQ(result.doubts[2].Line(), "city: \"Wien\" could as well be \"Wlen\"");

    // A field without doubts adds none and keeps its confidence.
    result.fields[0].confidence = 93;
    sheet::ReviewDecision(page, 0, sheet::AnswerWork{}, result.fields[0], result);
    EXPECT_EQ(result.doubts.size(), 3u);
    EXPECT_EQ(result.fields[0].confidence, 93);
    EXPECT_TRUE(result.fields[0].problem.empty());
}

TEST(SheetDedupTest, SameAnswersSameKeyAnyOtherAnswerAnotherKey) {
    RegistrationRecord a;
    a.vorname = "S\xC3\xB6ren";
    a.nachname = "Ab";
    RegistrationRecord b = a;
    b.password_2 = "not printed";  // only the printed answers count
    EXPECT_EQ(sheet::SheetDedupKey(a), sheet::SheetDedupKey(b));
    b.vorname = "S\xC3\xB6re";
    b.nachname = "nAb";  // the same letters split differently
    EXPECT_NE(sheet::SheetDedupKey(a), sheet::SheetDedupKey(b));
}

// A fax-to-mail service's PDF holds the fax's own images: each page is read as the fax it is,
// pixel for pixel and at its lines per inch, not as a scan rendered from it.
TEST(PageImageTest, AFaxInAPdfIsTheFaxItself) {
    std::vector<sheet::PageImage> pdf;
    std::string error;
    ASSERT_TRUE(sheet::LoadPages((kPages / "fax-two-pages.pdf").string(), pdf, error)) << error;
    ASSERT_EQ(pdf.size(), 2u);
    const char* faxes[] = {"sheet-fine.tif", "sheet-standard.tif"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(faxes[i]);
        std::vector<sheet::PageImage> tiff;
        ASSERT_TRUE(sheet::LoadPages((kPages / faxes[i]).string(), tiff, error)) << error;
        l_int32 same = 0;
        pixEqual(pdf[i].pix.Get(), tiff[0].pix.Get(), &same);
        EXPECT_TRUE(same);
        EXPECT_EQ(pdf[i].xres, tiff[0].xres);
        EXPECT_EQ(pdf[i].yres, tiff[0].yres);
    }
}

TEST_F(SheetTest, APageOfAnotherKindIsNoSheet) {
    const sheet::SheetReading reading = Read("foreign-fine.tif");
    EXPECT_FALSE(reading.isSheet);
    EXPECT_NE(reading.notSheetReason.find("no reply sheet"), std::string::npos) << reading.notSheetReason;
}

TEST(PageImageTest, BrokenFilesGiveAReasonInsteadOfPages) {
    std::ifstream in(kPages / "sheet-standard.tif", std::ios::binary);
    const std::string tiff((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cases[] = {
        tiff.substr(0, 8),                        // header only
        tiff.substr(0, tiff.size() / 3),          // truncated strip data, directory lost
        "%PDF-1.4\nthis is no PDF at all\n",      // a PDF that is none
        "\x89PNG\r\n\x1a\n",                      // PNG signature only
        "plain text",
        "",
    };
    for (const std::string& bytes : cases) {
        std::vector<sheet::PageImage> pages;
        std::string error;
        EXPECT_FALSE(sheet::LoadPagesFromMemory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                                pages, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(sheet::IsPageFile("FAX.TIFF") && sheet::IsPageFile("a.pdf") && !sheet::IsPageFile("a.eml"));
}

// The blots of a speckled difference, counted as Leptonica's connected components count them:
// sparse specks, touching corners, and dense noise where blots merge into each other's boxes.
TEST(PageImageTest, BlotsAreThoseOfEightConnectedComponents) {
    std::srand(7);
    for (int density : {5, 20, 45}) {
        for (int round = 0; round < 4; ++round) {
            sheet::CPix pix(pixCreate(37 + 40 * round, 61, 1));
            for (int y = 0; y < 61; ++y)
                for (int x = 0; x < pixGetWidth(pix.Get()); ++x)
                    if (std::rand() % 100 < density) pixSetPixel(pix.Get(), x, y, 1);
            BOXA* boxes = pixConnCompBB(pix.Get(), 8);
            int expected = 0;
            for (int i = 0; i < boxaGetCount(boxes); ++i) {
                BOX* box = boxaGetBox(boxes, i, L_CLONE);
                l_int32 x, y, w, h;
                boxGetGeometry(box, &x, &y, &w, &h);
                if (w >= 3 && h >= 3) expected += sheet::CountPixels(pix.Get(), box);
                boxDestroy(&box);
            }
            boxaDestroy(&boxes);
            EXPECT_EQ(sheet::BlotPixels(pix.Get(), 3), expected) << density << "% " << round;
        }
    }
}

TEST(PageImageTest, AFaxIsToldFromAScan) {
    for (auto [name, channel] : {std::pair{"sheet-standard.tif", "fax"}, std::pair{"sheet-printed.pdf", "scan"},
                                 std::pair{"sheet-scan-200.jpg", "scan"}}) {
        std::vector<sheet::PageImage> pages;
        std::string error;
        ASSERT_TRUE(sheet::LoadPages((kPages / name).string(), pages, error)) << error;
        EXPECT_EQ(desk::RegistrationFromSheet(sheet::SheetReading{}, pages[0], name, 1, "").channel, channel) << name;
    }
}

// The grain is decided once, from how the page arrived: a fax at its two resolutions, and a scan
// at 300 dpi, printed to a PDF, or a letter's colour scan at 200 dpi (once taken for a fax).
TEST(PageImageTest, TheGrainOfAPageFollowsHowItArrived) {
    for (auto [name, grain] : {std::pair{"sheet-fine.tif", sheet::Grain::FaxFine},
                               std::pair{"sheet-standard.tif", sheet::Grain::FaxStandard},
                               std::pair{"sheet-300.tif", sheet::Grain::Scan},
                               std::pair{"sheet-printed.pdf", sheet::Grain::Scan},
                               std::pair{"sheet-scan-200.jpg", sheet::Grain::Scan}}) {
        std::vector<sheet::PageImage> pages;
        std::string error;
        ASSERT_TRUE(sheet::LoadPages((kPages / name).string(), pages, error)) << error;
        EXPECT_EQ(sheet::DecideGrain(pages[0]).grain, grain) << name;
    }
}

TEST_F(SheetTest, ImportStoresEachSheetOnceAndSkipsTheForeignPage) {
    char pattern[] = "/tmp/velkdesk-sheets-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    for (const char* name : {"sheet-fine.tif", "sheet-standard.tif", "sheet-fine-upside-down.tif", "foreign-fine.tif"})
        fs::copy_file(kPages / name, pages / name);
    std::ofstream(pages / "broken.pdf") << "%PDF-1.4 broken";
    fs::copy_file(kPages / "sheet-printed.pdf", pages / "scanned.pdf");

    desk::CDatabase db((dir / "desk.db").string());
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* errors = open_memstream(&buffer, &size);
    desk::ImportCounts counts;
    {
        desk::CImporter importer(db, nullptr, errors, nullptr);
        importer.ImportPath(pages.string());
        importer.Finish();
        counts = importer.Counts();
    }
    std::fclose(errors);
    const std::string messages(buffer, size);
    std::free(buffer);

    // The four pages carry the same answers: one registration, three times known again.
    EXPECT_EQ(counts.read, 5u);
    EXPECT_EQ(counts.added, 1u);
    EXPECT_EQ(counts.known, 3u);
    EXPECT_EQ(counts.rejected, 1u);
    EXPECT_EQ(counts.failedFiles, 1u);
    EXPECT_NE(messages.find("foreign-fine.tif: page 1: no reply sheet"), std::string::npos) << messages;
    EXPECT_NE(messages.find("broken.pdf"), std::string::npos) << messages;
    // Two readers read the files at once, but the first file in order is the one stored.
    const auto first = db.Find(1);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(fs::path(first->sourceFile).filename(), "scanned.pdf");

    std::ostringstream csv;
    desk::ExportCsv(db, desk::ExportOptions{}, csv);
    EXPECT_NE(csv.str().find(";fax;"), std::string::npos) << csv.str();
    EXPECT_NE(csv.str().find("\xC3\x96zt\xC3\xBCrk"), std::string::npos);  // Öztürk
    fs::remove_all(dir);
}

}  // namespace
