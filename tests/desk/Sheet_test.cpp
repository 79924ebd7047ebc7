// The sheet reader against pages that VelkRun printed and a fax or scanner turned into images
// (made by bench/sheets/make_sheets.sh; sheet-scan-200.jpg is a letter's colour scan at 200 dpi):
// each read back to the record that was printed, also turned and upside down; a page of another
// kind and broken files refused with a reason; hostile files (pages claiming any size, names
// repeated all over a PDF) refused page by page in bounded time and memory; and the pages
// through `velkdesk import` beside the mails.
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

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
#include "tests/support/file_bytes.h"

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
#define VELK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_TEST_ASAN 1
#endif
#endif

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

// A PDF of these objects, numbered from 1 (the first is the catalog), with its cross-reference
// table; `comment` stands between the header and the first object.
std::string BuildPdf(const std::vector<std::string>& objects, const std::string& comment = "") {
    std::string pdf = "%PDF-1.4\n" + comment;
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    return pdf + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
}

std::string PdfStream(const std::string& dictionary, const std::string& data) {
    return "<< " + dictionary + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// A fax-to-mail PDF of one page of `points` filled by a white Group 4 fax of `width` x `height`
// pixels (each white line is the one bit of "same as the line above"): by default a Letter page
// at 203 x 200 lines per inch.
std::string FaxPdf(const std::string& comment, int width = 1728, int height = 2200,
                   std::pair<int, int> points = {612, 792}) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    const std::string pw = std::to_string(points.first), ph = std::to_string(points.second);
    return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + pw + " " + ph +
                         "] /Resources << /XObject << /Fax 4 0 R >> >> /Contents 5 0 R >>",
                     PdfStream("/Type /XObject /Subtype /Image /Width " + w + " /Height " + h +
                                   " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode"
                                   " /DecodeParms << /K -1 /Columns " + w + " /Rows " + h + " >>",
                               std::string((height + 7) / 8, '\xFF')),
                     PdfStream("", "q " + pw + " 0 0 " + ph + " 0 0 cm /Fax Do Q")},
                    comment);
}

// A few lines of PDF: `count` blank pages of `points` x `points`.
std::string LargePagesPdf(int count, int points) {
    std::string kids;
    for (int i = 0; i < count; ++i) kids += std::to_string(3 + i) + " 0 R ";
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>"};
    const std::string box = std::to_string(points);
    for (int i = 0; i < count; ++i)
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + box + " " + box + "] >>");
    return BuildPdf(objects);
}

// A page of SharedStripTiff.
struct TiffPage {
    int width;
    int height;
    int bits = 1;     // 1: white, Group 4; 8: grey, or colour with three samples
    int samples = 1;
    int dpi = 0;      // none said when 0
};

// A TIFF whose pages claim any size from a few kilobytes: all of them name one strip. For a
// white one-bit page it is Group 4 with one bit a line ("as the line above"); a grey or colour
// page names the same bytes, and is refused by its header before anything decodes them.
std::string SharedStripTiff(const std::vector<TiffPage>& pages) {
    std::string tiff("II*\0\0\0\0\0", 8);
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) tiff[at + i] = static_cast<char>(value >> (8 * i));
    };
    const auto append = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) tiff += static_cast<char>(value >> (8 * i));
    };
    const std::uint32_t strip = static_cast<std::uint32_t>(tiff.size());
    tiff.append(sheet::kMaxPageSide / 8, '\xFF');
    const std::uint32_t colourBits = static_cast<std::uint32_t>(tiff.size());
    for (int i = 0; i < 3; ++i) append(8, 2);
    std::size_t link = 4;  // where the place of the next directory goes
    for (const TiffPage& page : pages) {
        const std::uint32_t resolution = static_cast<std::uint32_t>(tiff.size());
        append(page.dpi, 4);
        append(1, 4);
        const std::uint32_t w = page.width, h = page.height, samples = page.samples, bits = page.bits;
        std::vector<std::array<std::uint32_t, 4>> entries = {  // tag, type (3 short, 4 long, 5 rational), count, value
            {256, 4, 1, w}, {257, 4, 1, h}, {258, 3, samples, samples == 1 ? bits : colourBits},
            {259, 3, 1, bits == 1 ? 4u : 32773u}, {262, 3, 1, bits == 1 ? 0u : samples == 1 ? 1u : 2u},
            {273, 4, 1, strip}, {277, 3, 1, samples}, {278, 4, 1, h},
            {279, 4, 1, bits == 1 ? (h + 7) / 8 : sheet::kMaxPageSide / 8}};
        if (page.dpi) entries.insert(entries.end(), {{282, 5, 1, resolution}, {283, 5, 1, resolution}, {296, 3, 1, 2}});
        put(link, static_cast<std::uint32_t>(tiff.size()));
        append(static_cast<std::uint32_t>(entries.size()), 2);
        for (const auto& [tag, type, count, value] : entries) {
            append(tag, 2);
            append(type, 2);
            append(count, 4);
            append(value, 4);
        }
        link = tiff.size();
        append(0, 4);
    }
    return tiff;
}

// The numbers of the pages ReadPagesFromMemory hands over; `error` is set exactly when it fails.
std::vector<int> PagesRead(const std::string& file, std::string& error, double maxPixels = sheet::kMaxFilePixels) {
    std::vector<int> numbers;
    error.clear();
    const bool read = sheet::ReadPagesFromMemory(
        reinterpret_cast<const unsigned char*>(file.data()), file.size(),
        [&](sheet::PageImage&, int number) {
            numbers.push_back(number);
            return true;
        },
        error, maxPixels);
    EXPECT_EQ(read, error.empty()) << error;
    return numbers;
}

// `velkdesk import` as the operator runs it, a process of its own, in a folder of its own.
class ImportProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velkdesk-pages-XXXXXX";
        dir_ = mkdtemp(pattern);
        db_ = dir_ / "desk.db";
    }
    void TearDown() override { fs::remove_all(dir_); }

    struct Run {
        int status = -1;      // exit status, 128 + the signal when one ended it
        std::string summary;  // standard output
        std::string errors;   // standard error
        double peakMb = 0;    // largest resident set
    };

    // `velkdesk --db desk.db import PATHS`, started by peak_memory. ASan keeps at most 16 MB of
    // freed memory aside (by default 256 MB, which would count as the import's) and ends the
    // import past 2 GB; without ASan, an address space of 3 GB does that.
    Run Import(const std::vector<fs::path>& paths) const {
        const fs::path out = dir_ / "import.out", err = dir_ / "import.err", peak = dir_ / "import.peak";
        std::vector<std::string> args = {PEAK_MEMORY_PATH, peak.string(), VELKDESK_PATH, "--db", db_.string(),
                                         "import"};
        for (const fs::path& path : paths) args.push_back(path.string());
        std::string asan = "ASAN_OPTIONS=";
        if (const char* given = std::getenv("ASAN_OPTIONS")) asan += std::string(given) + ":";
        std::vector<std::string> env = {asan + "quarantine_size_mb=16:hard_rss_limit_mb=2000"};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.push_back(*e);
        std::vector<char*> argv, envp;
        for (std::string& arg : args) argv.push_back(arg.data());
        for (std::string& var : env) envp.push_back(var.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (o < 0 || e < 0 || dup2(o, STDOUT_FILENO) < 0 || dup2(e, STDERR_FILENO) < 0) _exit(126);
#ifndef VELK_TEST_ASAN
            const rlimit cap = {3ul << 30, 3ul << 30};
            setrlimit(RLIMIT_AS, &cap);
#endif
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        Run run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.summary = FileBytes(out);
        run.errors = FileBytes(err);
        run.peakMb = std::atof(FileBytes(peak).c_str()) / 1024;
        return run;
    }

    fs::path dir_;
    fs::path db_;
};


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
        sheet::CInkMatch match(glyphs_, ink ? ink : own.Get(), false, kX, kBaseline, around);
        return match.Improve(seen, 4, 3);
    }
    sheet::CInkMatch::Rival Closest(const std::string& printed, const std::string& reading) {
        sheet::CPix ink = Ink(printed);
        sheet::CInkMatch match(glyphs_, ink.Get(), false, kX, kBaseline);
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
        sheet::CInkMatch match(glyphs_, ink.Get(), false, kX, kBaseline);
        return match.Spell(seen, blanks);
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
        sheet::CInkMatch match(glyphs_, ink.Get(), false, kX, kBaseline);
        EXPECT_EQ(match.SettleByHeight(seen), printed);
    }
}

// An i and an l differ only in the gap under the i's dot, an l and a t in the t's bar: the stroke
// on the page says which was printed, whatever the reading says; a speck in the gap does not
// close it.
TEST_F(InkMatchTest, AStrokeWithAGapUnderItsDotIsAnI) {
    sheet::CPix ink = Ink("Ilse Wien");
    const std::string reading = "lise Wlen";
    sheet::CInkMatch clean(glyphs_, ink.Get(), false, kX, kBaseline);
    EXPECT_EQ(clean.StrokeGap(reading, 0), -1);
    EXPECT_EQ(clean.StrokeGap(reading, 1), -1);
    EXPECT_EQ(clean.StrokeGap(reading, 6), 1);
    const std::vector<int> pens = glyphs_.Pens(reading);
    const sheet::CGlyphSet::Glyph& i = glyphs_.Get('i');
    const int gapRow = kBaseline + i.top + pixGetHeight(i.pix.Get()) * 3 / 10;
    pixSetPixel(ink.Get(), kX + pens[6] + i.left + pixGetWidth(i.pix.Get()) / 2, gapRow, 1);
    sheet::CInkMatch specked(glyphs_, ink.Get(), false, kX, kBaseline);
    EXPECT_EQ(specked.StrokeGap(reading, 6), 1);
    // A ! has its gap over the dot at the baseline; an l read as one is inked through.
    for (const auto& [printed, gap] : {std::pair{"Kl7", -1}, std::pair{"K!7", 1}}) {
        sheet::CPix mark = Ink(printed);
        sheet::CInkMatch match(glyphs_, mark.Get(), false, kX, kBaseline);
        EXPECT_EQ(match.StrokeGap("K!7", 1), gap) << printed;
    }

    // A t's or an f's bar reaches left of its stem; an l's stroke is blank there.
    sheet::CPix tall = Ink("Till tilt");
    sheet::CInkMatch bars(glyphs_, tall.Get(), false, kX, kBaseline);
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

// The fax images' sizes are found in one pass over a PDF: a filter's name repeated all over the
// file once made every occurrence search the file again (19 s for this megabyte).
TEST(PageImageTest, AFilterNameRepeatedAllOverAPdfLeavesTheFaxFound) {
    std::string comment = "%";
    while (comment.size() < (1u << 20)) comment += "/JBIG2Decode ";
    const std::string pdf = FaxPdf(comment + "\n");
    std::vector<sheet::PageImage> pages;
    std::string error;
    ASSERT_TRUE(sheet::LoadPagesFromMemory(reinterpret_cast<const unsigned char*>(pdf.data()), pdf.size(), pages,
                                           error))
        << error;
    ASSERT_EQ(pages.size(), 1u);
    // Pixel for pixel the fax, at its own lines per inch.
    EXPECT_EQ(pixGetWidth(pages[0].pix.Get()), 1728);
    EXPECT_EQ(pixGetHeight(pages[0].pix.Get()), 2200);
    EXPECT_EQ(pixGetDepth(pages[0].pix.Get()), 1);
    EXPECT_EQ(pages[0].yres, 200);
    EXPECT_TRUE(pages[0].faxCoded);
}

// Every page is measured before it is decoded, by its own TIFF directory or by a PDF page's size
// and the resolution it would be rendered at, and a file's pages share a budget of pixels. A
// refused page ends the file with a reason that names it; the pages before it were handed over.
// Each file is a few kilobytes; decoded, its refused pages would take from 200 MB to gigabytes.
TEST(PageImageTest, EveryPageIsMeasuredBeforeItIsDecoded) {
    const TiffPage fax = {1728, 2200, 1, 1, 200};
    struct Case {
        const char* what;
        std::string file;
        std::vector<int> pages;
        const char* error;
        double budget = sheet::kMaxFilePixels;
    };
    const Case cases[] = {
        {"a colour page after a fax page", SharedStripTiff({fax, {8000, 8000, 8, 3}, fax}), {1},
         "page 2: 8000 x 8000 pixels would take 512 MB, more than a page may (150 MB)"},
        {"twenty grey pages", SharedStripTiff(std::vector<TiffPage>(20, {10000, 10000, 8})), {},
         "page 1: 10000 x 10000 pixels would take 200 MB"},
        {"a page wider than any sheet", SharedStripTiff({fax, fax, {12000, 1000}}), {1, 2},
         "page 3: 12000 x 1000 pixels, larger than any sheet of paper"},
        {"white pages past the file's budget", SharedStripTiff(std::vector<TiffPage>(12, {10000, 10000})),
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "page 11: would take the file's pages past 1000 million pixels"},
        {"a fax in a PDF at 423 lines per inch", FaxPdf("", 10000, 10000, {1700, 1700}), {},
         "page 1: 10000 x 10000 pixels would take 200 MB"},
        {"PDF pages past a budget", LargePagesPdf(40, 720), {1, 2},
         "page 3: would take the file's pages past 20 million pixels", 20e6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_EQ(PagesRead(c.file, error, c.budget), c.pages);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

// Hostile page files through `velkdesk import`, each a few kilobytes: two hundred white pages of
// 8000 x 8000 pixels at 150 dpi sharing one strip, a page of 10000 x 10000 claiming 150 dpi, twenty
// grey pages of 10000 x 10000 and a PDF of pages 600 mm wide. Pages are read one at a time and
// refused by what they claim, before they are decoded or, at 150 dpi, scaled up to a sheet's
// resolution; each refusal is one line naming the file and the page; the import stays under
// 600 MB. (They took gigabytes: every page of a file was decoded and held at once.)
TEST_F(ImportProcessTest, HostilePagesAreRefusedPageByPageInBoundedMemory) {
    const fs::path pages = dir_ / "pages";
    fs::create_directories(pages);
    const auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(pages / name, std::ios::binary) << bytes;
    };
    write("grey-pages.tif", SharedStripTiff(std::vector<TiffPage>(20, {10000, 10000, 8})));
    write("large-pages.pdf", LargePagesPdf(3, 1700));
    write("many-pages.tif", SharedStripTiff(std::vector<TiffPage>(200, {8000, 8000, 1, 1, 150})));
    write("scaled-up.tif", SharedStripTiff({{10000, 10000, 1, 1, 150}}));
    const Run run = Import({pages});
    EXPECT_EQ(run.status, 1) << run.errors;
    // The pages read before a refusal count: fifteen, three and one, none of them a sheet.
    EXPECT_EQ(run.summary, "read 19, new 0, already known 0, needing review 0, rejected 19, unreadable files 2\n");
    for (const std::string line :
         {"grey-pages.tif: page 1: 10000 x 10000 pixels would take 200 MB, more than a page may (150 MB)\n",
          "many-pages.tif: page 16: would take the file's pages past 1000 million pixels, the rest is not read\n",
          "scaled-up.tif: page 1: 1693 x 1693 mm at its resolution, larger than A3, skipped\n",
          "large-pages.pdf: page 3: 600 x 600 mm at its resolution, larger than A3, skipped\n"})
        EXPECT_NE(run.errors.find("velkdesk: " + (pages / line).string()), std::string::npos) << line << run.errors;
    EXPECT_LT(run.peakMb, 600);
}

// A database error while page files are read (here another program holding the database's
// write lock past the busy timeout; a full disk takes the same path) ends the import with its
// reason in one line and status 1, the readers stopped and joined first: it was std::terminate
// and SIGABRT. The page taken before it is reported as usual; what was committed stays.
TEST_F(ImportProcessTest, ADatabaseErrorWhilePagesAreReadEndsTheImportWithItsReason) {
    {
        desk::CDatabase db(db_.string());
        desk::Registration earlier;
        earlier.channel = "mail";
        earlier.sourceFile = "earlier.eml";
        earlier.dedupKey = "earlier";
        desk::CTransaction batch(db);
        db.Add(earlier);
        batch.Commit();
    }
    const fs::path pages = dir_ / "pages";
    fs::create_directories(pages);
    fs::copy_file(kPages / "foreign-fine.tif", pages / "a-foreign.tif");
    fs::copy_file(kPages / "sheet-standard.tif", pages / "b-sheet.tif");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const Run run = Import({pages});
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_EQ(run.summary, "");
    const std::string note = "velkdesk: " + (pages / "a-foreign.tif").string() + ": page 1: no reply sheet";
    EXPECT_EQ(run.errors.rfind(note, 0), 0u) << run.errors;
    const std::string reason = "\nvelkdesk: database is locked\n";
    EXPECT_EQ(run.errors.find(reason), run.errors.size() - reason.size()) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 2) << run.errors;

    desk::CDatabase db(db_.string());
    std::vector<std::string> kept;
    db.ForEach(false, [&](const desk::StoredRegistration& r) { kept.push_back(r.dedupKey); });
    EXPECT_EQ(kept, std::vector<std::string>{"earlier"});
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.Handle(), "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
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
        desk::CLineObserver lines(errors);
        desk::CImporter importer(db, &lines, nullptr);
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

TEST_F(ImportProcessTest, AnotherWriterWaitsNoLongerThanAMomentWhilePagesAreImported) {
    // A clerk's save while faxes are read: the import commits before it waits for the next page,
    // so a writer with a short busy timeout gets through between pages.
    const fs::path pages = dir_ / "pages";
    fs::create_directories(pages);
    for (const char* name : {"sheet-300.tif", "sheet-standard.tif", "sheet-fine-bar.tif", "sheet-fine-wide.tif"})
        fs::copy_file(kPages / name, pages / name);
    { desk::CDatabase create(db_.string()); }
    std::atomic<bool> done{false};
    Run run;
    std::thread import([&] {
        run = Import({pages});
        done = true;
    });
    sqlite3* clerk = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &clerk), SQLITE_OK);
    sqlite3_busy_timeout(clerk, 2500);
    int writes = 0, refused = 0;
    while (!done) {
        const std::string save = "BEGIN IMMEDIATE; INSERT INTO clerk (name, hash) VALUES ('probe" +
                                 std::to_string(writes + refused) + "', 'x'); COMMIT;";
        if (sqlite3_exec(clerk, save.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
            ++writes;
        } else {
            ++refused;
            sqlite3_exec(clerk, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        usleep(300 * 1000);
    }
    import.join();
    sqlite3_close(clerk);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(refused, 0) << writes << " saves got through";
    EXPECT_GE(writes, 3);
}
