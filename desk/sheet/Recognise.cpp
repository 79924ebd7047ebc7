// Recognise: owns Tesseract. It reads one box of the page at a time as a line (or a word), with
// the German model and without its word lists, and tells a reply sheet by its fixed texts.
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <stdexcept>

#include "desk/sheet/ReaderStages.h"
#include "desk/sheet/TextRules.h"
#include "res/resource.h"

namespace sheet {

CRecogniser::CRecogniser() : ocr_(std::make_unique<tesseract::TessBaseAPI>()) {
    // Names, streets and passwords are no dictionary words: the word lists would only
    // pull odd spellings toward common ones.
    std::vector<std::string> names = {"load_system_dawg", "load_freq_dawg"};
    std::vector<std::string> values = {"0", "0"};
    if (ocr_->Init(nullptr, "deu", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false))
        throw std::runtime_error("Tesseract cannot load its German model (package tesseract-ocr-deu)");
    ocr_->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    ocr_->SetVariable("user_defined_dpi", "300");
    ocr_->SetVariable("debug_file", "/dev/null");
    // Answers are dark on light: trying each line inverted as well only costs time.
    ocr_->SetVariable("tessedit_do_invert", "0");
}

CRecogniser::~CRecogniser() { ocr_->End(); }

void CRecogniser::SetPage(Pix* binary) {
    ocr_->SetImage(binary);
    // The page is at the working resolution now, whatever its file said; an image that names
    // none (a page rendered from a PDF, some scans) would leave Tesseract to guess it.
    ocr_->SetSourceResolution(kDpi);
}

std::string CRecogniser::Read(int x0, int y0, int x1, int y1, int& confidence) {
    ocr_->SetRectangle(x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
    std::unique_ptr<char[]> text(ocr_->GetUTF8Text());
    confidence = 100;
    bool any = false;
    if (tesseract::ResultIterator* it = ocr_->GetIterator()) {
        do {
            const float c = it->Confidence(tesseract::RIL_WORD);
            confidence = std::min(confidence, static_cast<int>(c));
            any = true;
        } while (it->Next(tesseract::RIL_WORD));
        delete it;
    }
    if (!any) confidence = 0;
    return Tidy(text.get());
}

std::string CRecogniser::Line(int x0, int y0, int x1, int y1, int& confidence) {
    return Read(x0, y0, x1, y1, confidence);
}

std::string CRecogniser::Word(int x0, int y0, int x1, int y1, int& confidence) {
    ocr_->SetPageSegMode(tesseract::PSM_SINGLE_WORD);
    const std::string text = Read(x0, y0, x1, y1, confidence);
    ocr_->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    return text;
}

bool ShowsSheetTexts(CRecogniser& ocr, const SheetLayout& layout, const SheetPage& page) {
    const Transform& t = page.t;
    int recognised = 0, checked = 0;
    for (const DrawnText& text : layout.texts) {
        if (text.stringId != IDS_PRINT_TITLE && text.stringId != IDS_PRINT_HEAD_OPTIONAL) continue;
        ++checked;
        int confidence = 0;
        const std::string seen = ocr.Line(t.X(text.x) - 10, t.Y(text.y) - 8, t.X(text.pen.back()) + 10,
                                          t.Y(text.y + text.metrics.height) + 8, confidence);
        const std::u32string expected = DecodeUtf8(Windows1252ToUtf8(text.text));
        if (Distance(DecodeUtf8(seen), expected) * 4 <= static_cast<int>(expected.size())) ++recognised;
    }
    return recognised > 0 && checked > 0;
}

}  // namespace sheet
