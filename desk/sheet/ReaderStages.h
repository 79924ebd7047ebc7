// The sheet reader's stages, in the order CSheetReader::Read runs them, and what they hand on:
// the page (its grain, images, placement) and each answer's work (box, reading, doubts). Every
// stage has its own file of the same name.
#pragma once

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desk/Doubt.h"
#include "desk/sheet/GlyphCache.h"
#include "desk/sheet/InkCompare.h"
#include "desk/sheet/PageImage.h"
#include "desk/sheet/ResourceText.h"
#include "desk/sheet/SheetLayout.h"
#include "desk/sheet/SheetReader.h"

namespace tesseract {
class TessBaseAPI;
}

namespace sheet {

constexpr int kDpi = 300;             // working resolution, and the layout's
constexpr int kTextConfidence = 80;   // below this, a free-text word needs a person
constexpr int kLeastAnswerInk = 25;   // fewer black pixels in a box are specks, no answer
// How far ink and drawn text may lie apart: one pixel each way (less made every reading
// disagree with its own edges).
constexpr int kInkNear = 3;

// A horizontal line found on the page, from x0 to x1 on the row y.
struct Segment {
    int x0, x1, y;
};

// image = scale * layout + shift, per axis.
struct Transform {
    double sx = 1, tx = 0, sy = 1, ty = 0;
    int X(double x) const { return static_cast<int>(std::lround(sx * x + tx)); }
    int Y(double y) const { return static_cast<int>(std::lround(sy * y + ty)); }
};

// The page as the stages hand it on: normalised to the working resolution, placed on the
// layout, and cleaned down to the answers.
struct SheetPage {
    PageGrain grain;
    double skewDegrees = 0;
    CPix grey;       // at kDpi, deskewed (turned round when it came upside down)
    CPix binary;     // one bit, the same; after Clean the answers alone
    CPix lines;      // the underscore runs found (placement)
    CPix pieces;     // thinner line pieces, what a fax left of a broken run
    std::vector<Segment> segments;
    Transform t;
    double registration = 0;
    bool upsideDown = false;
    CPix original;   // the cleaned page before the labels went: an answer over one is compared with it
    CPix labels;     // the labels found behind overrunning answers, drawn where they were found
};

// Normalise: brings the page to kDpi, deskews and binarises it. False with `reason` for an
// image that is no page.
bool Normalise(const PageImage& image, SheetPage& page, std::string& reason);
// A grey page at kDpi made one bit, as Normalise does.
CPix Binarise(Pix* grey);

// Placement: finds the layout's underscore runs on the page, upside down too, and the transform
// that puts them there. False with `reason` when too few are found for a reply sheet.
bool PlaceOnLayout(const SheetLayout& layout, SheetPage& page, std::string& reason);

// Clean: paints the runs and lone specks out, and the labels that answers run over, so that the
// recogniser sees the answers alone. False when memory runs out.
bool Clean(CFontMeasure& fonts, const SheetLayout& layout, SheetPage& page);

// Recognise: Tesseract with the German model, one line (or word) of the page at a time.
class CRecogniser {
public:
    // Throws std::runtime_error when the model is missing.
    CRecogniser();
    ~CRecogniser();
    CRecogniser(const CRecogniser&) = delete;
    CRecogniser& operator=(const CRecogniser&) = delete;

    // The page the boxes are cut from, at kDpi.
    void SetPage(Pix* binary);
    // Text in a box of the page as one line, and the lowest word confidence.
    std::string Line(int x0, int y0, int x1, int y1, int& confidence);
    // The same read as a single word.
    std::string Word(int x0, int y0, int x1, int y1, int& confidence);

private:
    std::string Read(int x0, int y0, int x1, int y1, int& confidence);
    std::unique_ptr<tesseract::TessBaseAPI> ocr_;
};

// Whether the page's own fixed texts (title, heading) are there: they tell a reply sheet from a
// page that only has lines.
bool ShowsSheetTexts(CRecogniser& ocr, const SheetLayout& layout, const SheetPage& page);

// One candidate doubt about a field, raised by the stage that met it. Which one a person sees
// is decided once, by rank, in the review decision.
enum class DoubtRank {
    // Lowest first: a higher rank shows instead of a lower one. A password's own doubts (its I
    // or l, the fax) show only when nothing else is wrong with it; what the ink check finds
    // outranks what the reading raised on its own; what a person must see whatever the ink says
    // (a domain taken from the list, an answer over a label, a title taken for "nein") comes last.
    PasswordFromFax,    // every password read from a fax is confirmed
    PasswordOneStroke,  // a password's I or l, which nothing tells apart
    SetValueUnsure,     // a value of a set whose drawing does not clearly win
    CodePage,           // a reading the form cannot hold
    RunsOverUnchecked,  // an answer over a label, before any drawing was compared with it
    Reading,            // what the first reading found (or the mend that replaced it)
    OneStrokeByContext, // an I or l that only the word around it tells
    Rival,              // a text one letter apart explains the ink as well
    InkRejects,         // the drawing of the value does not match the ink
    TopLevelMended,     // an address's top-level domain taken from the ones that exist
    RunsOver,           // an answer over a label: always a person's
    TakenForNo,         // an earlier product near "nein", taken for none
};

// Which stage raised a doubt: a later stage that settles the question withdraws what an
// earlier one raised.
enum class DoubtStage { FirstReading, FixedSetMatch, TextMend };

struct DoubtCandidate {
    DoubtRank rank;
    DoubtStage stage;
    desk::DoubtKind kind;
    std::string message;
    std::vector<std::string> rivals;  // UTF-8, best first
};

// One answer as the stages work on it.
struct AnswerWork {
    // Answer boxes: where the answer's ink is looked for, and where it was found.
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0, left = 0, right = 0;
    int ink = 0;                   // black pixels in the box
    bool overflow = false;         // runs over the printed label behind its run
    // First reading:
    std::string printed;           // code-page text the ink must show
    std::vector<std::string> set;  // a fixed set's values, UTF-8
    bool outsideSet = false;       // the recogniser's reading is none of them
    bool unsure = false;           // a text the recogniser was unsure of
    std::vector<DoubtCandidate> doubts;

    void Raise(DoubtRank rank, DoubtStage stage, desk::DoubtKind kind, std::string message,
               std::vector<std::string> rivals = {}) {
        doubts.push_back({rank, stage, kind, std::move(message), std::move(rivals)});
    }
    void Withdraw(DoubtStage stage);
    void Withdraw(desk::DoubtKind kind);
    bool Doubtful() const { return !doubts.empty(); }
};

// Black pixels of `binary` inside the box, and the first and last column that holds any.
int CountInk(Pix* binary, int x0, int y0, int x1, int y1, int& left, int& right);
// Where the run under an answer ends on the page: the line found there, or the layout's end.
int RunEndOnPage(const AnswerSpot& a, const Transform& t, const std::vector<Segment>& segments);
// The label printed behind an answer's run on the same line (code page), with its line and the
// index of its first character there; empty when the run is the last of its line.
std::string LabelBehind(const SheetLayout& layout, const AnswerSpot& a, const DrawnText*& line, std::size_t& start);

// Answer boxes: the box on the page where an answer's ink is, grown past its run's end when
// the answer runs on.
void FindAnswerBox(CFontMeasure& fonts, const SheetLayout& layout, const SheetPage& page, int field,
                   AnswerWork& work);

// Where the answers stand against the layout, fitted to the answers' own left edges: a shift that
// may grow down the page and across it.
class CAnswerShift {
public:
    // Where one answer's first read ink begins (x, y) and how far it stands from the layout's.
    void Add(int x, int y, int off) { shifts_.push_back({x, y, off}); }
    // Fits the shift and takes a scale error across the page into `t`.
    void Fit(Transform& t);
    int At(int x, int y) const;

private:
    struct Shift {
        int x, y, off;
        static double At(double a, double b, double c, int x, int y);
    };
    std::vector<Shift> shifts_;
    double a_ = 0, b_ = 0, c_ = 0;
};

// How far `printed` (code page), drawn the way the sheet draws the answer `a`, and the ink in the
// box fail to account for each other: pixels of the larger disagreeing blobs, at the best of a
// few nearby placements (0 when they agree; kUnmeasured when the box is off the page). `offset`:
// the page's answer shift; `near`: how far ink and drawing may lie apart. `around`: what else the
// page prints there (a label the answer runs over), drawn where it was found; the ink must show
// it too. (InkCompare.cpp)
int DrawingMismatch(CFontMeasure& fonts, Pix* binary, const Transform& t, const AnswerSpot& a,
                    const std::string& printed, int offset, int x0, int y0, int x1, int y1, int near,
                    Pix* around = nullptr);

// The best-scoring candidate (lowest score: ink mismatch, or distance to a reading) and the
// runner-up: a candidate is taken only when it scores within `tolerance` and every other one
// clearly worse.
struct CBestMatch {
    int best = kNoScore;
    int second = kNoScore;
    std::string value;
    std::string runnerUp;

    void Offer(int score, const std::string& candidate) {
        if (score < best) {
            second = best;
            runnerUp = value;
            best = score;
            value = candidate;
        } else if (score < second) {
            second = score;
            runnerUp = candidate;
        }
    }
    bool ClearlyAhead(int tolerance) const { return best <= tolerance && second > 2 * best + tolerance; }
};

// The values a field of a fixed set can hold (UTF-8), in the set's order; none for a text.
std::vector<std::string> FieldValues(const CResourceText& texts, const SheetField& field);

// First reading: what the recogniser reads in the box, made into the field's value where a rule
// without the image can (a set's nearest value, the date's form), with the doubts of that.
void FirstReading(CRecogniser& ocr, CFontMeasure& fonts, const CResourceText& texts, const SheetLayout& layout,
                  const SheetPage& page, int field, AnswerWork& work, FieldReading& reading, CAnswerShift& shift);

// Fixed-set match: the value of the set whose drawing matches the ink.
void FixedSetMatch(CFontMeasure& fonts, const SheetLayout& layout, const SheetPage& page, const CAnswerShift& shift,
                   int field, AnswerWork& work, FieldReading& reading);

// Text mend: a text drawn where the layout put it and compared with the ink, improved where the
// ink says so. Keeps the glyphs of each font size for the page.
class CTextMend {
public:
    CTextMend(CFontMeasure& fonts, const SheetLayout& layout, const SheetPage& page, const CAnswerShift& shift,
              const std::string& no);
    void Mend(int field, AnswerWork& work, FieldReading& reading);

private:
    CFontMeasure& fonts_;
    const SheetLayout& layout_;
    const SheetPage& page_;
    const CAnswerShift& shift_;
    const std::string& no_;
    std::map<int, std::unique_ptr<CGlyphSet>> glyphs_;  // by font size
};

// Review decision: the doubt a person sees for a field, chosen once from those its stages raised;
// sets the reading's problem and confidence and adds the doubt to the reading.
void ReviewDecision(const SheetPage& page, int field, const AnswerWork& work, FieldReading& reading,
                    SheetReading& result);

}  // namespace sheet
