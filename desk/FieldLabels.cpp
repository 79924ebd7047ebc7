// Labels from the layout: each answer stands on an underscore run of a form line; its label is
// the text in front of that run on the same line, as the printing program drew it.
#include "desk/FieldLabels.h"

#include <cstring>
#include <stdexcept>

#include "desk/sheet/ResourceText.h"
#include "desk/sheet/SheetLayout.h"
#include "output/CodePage.h"
#include "output/MailRecord.h"

namespace desk {

namespace {

std::string Trimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '_')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '_' || text[end - 1] == ':' || text[end - 1] == '*'))
        --end;
    return text.substr(begin, end - begin);
}

// The text in front of the underscore run that answer `a` is drawn on (code page).
std::string LabelInFront(const sheet::SheetLayout& layout, const sheet::AnswerSpot& a) {
    const sheet::DrawnText* line = nullptr;
    for (const sheet::DrawnText& text : layout.texts)
        if (text.stringId == a.lineId) line = &text;
    if (!line) throw std::runtime_error("page layout: no form line for an answer");
    std::size_t k = 0;
    while (k < line->text.size() && line->pen[k + 1] <= a.x) ++k;  // the character the answer starts over
    while (k > 0 && line->text[k - 1] == '_') --k;                   // back to its run's start
    std::size_t start = k;
    while (start > 0 && line->text[start - 1] != '_') --start;       // back to the previous run
    return Trimmed(line->text.substr(start, k - start));
}

bool Secret(const char* name) {
    for (const MailElement& element : kMailElements)
        if (std::strcmp(element.name, name) == 0) return element.secret;
    return false;
}

std::vector<FieldLabel> BuildLabels() {
    // The resolution only has to keep the characters of a line apart.
    sheet::CFontMeasure fonts;
    const sheet::SheetLayout layout = sheet::BuildSheetLayout(fonts, 150);
    std::vector<FieldLabel> labels;
    for (int i = 0; i < sheet::kSheetFieldCount; ++i) {
        const sheet::SheetField& field = sheet::kSheetFields[i];
        if (field.member == &RegistrationRecord::titel) continue;  // printed, but not stored
        labels.push_back({field.name, field.member, Windows1252ToUtf8(LabelInFront(layout, layout.answers[i])),
                          Secret(field.name)});
        if (field.member == &RegistrationRecord::password_1) {
            // The repetition is not printed; the registration dialog's label names it.
            const sheet::CResourceText& texts = sheet::CResourceText::BuiltIn();
            labels.push_back({"password_2", &RegistrationRecord::password_2,
                              Windows1252ToUtf8(Trimmed(texts.String(texts.Id("IDS_LBL_PASSWORD2")))), true});
        }
    }
    if (labels.size() != kMailElementCount) throw std::runtime_error("page layout: not every field has a label");
    return labels;
}

}  // namespace

const std::vector<FieldLabel>& SheetFieldLabels() {
    static const std::vector<FieldLabel> labels = BuildLabels();
    return labels;
}

}  // namespace desk
