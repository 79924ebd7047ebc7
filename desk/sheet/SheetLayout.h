// Where the printed reply sheet puts its texts, underscore runs and answers, found by running
// VelkRun's own page layout (output/PageLayout) on a measuring surface: FreeType with
// Liberation Sans, which has Arial's metrics, at the printer's resolution. Nothing here knows
// a position of its own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "form/RegistrationRecord.h"

struct Pix;

namespace sheet {

// Arial's metrics from Liberation Sans, regular and bold, by FreeType.
class CFontMeasure {
public:
    // Throws std::runtime_error when the fonts cannot be loaded.
    CFontMeasure();
    ~CFontMeasure();
    CFontMeasure(const CFontMeasure&) = delete;
    CFontMeasure& operator=(const CFontMeasure&) = delete;

    struct Metrics {
        int height = 0;   // cell height, as GDI's tmHeight
        int ascent = 0;
        int descent = 0;
    };
    // `ppem`: the character height in pixels (GDI's negative lfHeight).
    Metrics FontMetrics(int ppem, bool bold);
    // Advance width of one code-page character, in whole pixels as GDI lays them out.
    int Advance(int ppem, bool bold, unsigned char c);
    // The horizontal ink extent of `text` (code page) drawn at x = 0: first and last inked column + 1.
    // Returns false for a text without ink.
    bool InkExtent(int ppem, bool bold, const std::string& text, int& left, int& right);
    // Renders `text` (code page) as one-bit pixels the way a PDF page shows it (outlines scaled
    // by sx and sy, unhinted advances), cut to its ink; `baseline` is the baseline's row in
    // the image. Null for a text without ink; the caller destroys the image.
    ::Pix* Render(int ppem, bool bold, const std::string& text, double sx, double sy, int& baseline);
    // One character as Render draws it: its pixels (null for a blank), where they stand against
    // the pen and the baseline (y grows downward), and the advance in 1/64 pixel. The caller
    // destroys the image.
    ::Pix* RenderGlyph(int ppem, bool bold, unsigned char c, double sx, double sy, int& left, int& top,
                       long& advance);
    // Vertical ink of the underscore glyph relative to the baseline (y grows downward).
    void UnderscoreInk(int ppem, int& top, int& bottom);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One text the layout draws: its cell's top left corner, the pen position in front of every
// character (text.size() + 1 values, justification included) and its font.
struct DrawnText {
    unsigned stringId = 0;   // 0 for answers
    std::string text;        // code page
    int x = 0;
    int y = 0;
    int ppem = 0;
    bool bold = false;
    CFontMeasure::Metrics metrics;
    std::vector<int> pen;
};

// An underscore run of a form line: its ink from x0 to x1 on the row y.
struct UnderscoreRun {
    int x0 = 0;
    int x1 = 0;
    int y = 0;
    unsigned lineId = 0;
};

// Where one answer is printed.
struct AnswerSpot {
    int field = 0;          // index into kSheetFields
    int x = 0;              // where its text starts
    int y = 0;              // top of its cell
    int ppem = 0;
    CFontMeasure::Metrics metrics;
    int runEnd = 0;         // the end of the underscore run it stands on
    int limit = 0;          // where the next answer of its line starts, or the form column's end
    int clipRight = -1;     // the right edge it is cut at, when the layout clips it
    unsigned lineId = 0;
};

struct SheetLayout {
    int dpi = 0;
    std::vector<DrawnText> texts;     // everything but answers, in drawing order
    std::vector<UnderscoreRun> runs;
    std::vector<AnswerSpot> answers;  // one per printed field, in kSheetFields order
};

// What a field of the record is on the sheet, which says what it may hold and how it is read.
// Text: any typed text; Name: letters and the marks of the field's `marks`; Place: a street or a
// town, which holds no digit between two small letters; Mail: an e-mail address; Password: a
// secret, read letter by letter from the ink; Date: dd.mm.yyyy; List: a survey list whose first
// item means "no answer" and is never printed; Country: the country list, every item a value;
// YesNo: "ja" or "nein"; PurchasedBefore: an earlier product's title, or "nein" for none.
enum class FieldKind { Text, Name, Place, Mail, Password, Date, List, Country, YesNo, PurchasedBefore };

// A text typed freely: no date and no value of a set.
inline bool TypedText(FieldKind kind) {
    return kind == FieldKind::Text || kind == FieldKind::Name || kind == FieldKind::Place ||
           kind == FieldKind::Mail || kind == FieldKind::Password;
}

struct SheetField {
    const char* name;
    std::string RegistrationRecord::*member;
    FieldKind kind;
    const char* listControl;  // resource name of the list, for FieldKind::List and Country
    const char* marks;        // the marks besides letters a name or a town may hold; null: any
    bool alwaysPrinted;       // the sheet always prints an answer here: a blank is a doubt
};

// The printed fields (every member but password_2).
extern const SheetField kSheetFields[];
extern const int kSheetFieldCount;

// Runs the page layout at `dpi` (both directions) with the drawing rectangle's top left at
// (0, 0). Throws std::runtime_error when a printed field cannot be found in the layout.
SheetLayout BuildSheetLayout(CFontMeasure& fonts, int dpi);

}  // namespace sheet
