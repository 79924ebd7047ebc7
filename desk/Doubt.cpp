// The stored names of the kinds of doubt.
#include "desk/Doubt.h"

namespace desk {

namespace {

struct KindName {
    DoubtKind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {DoubtKind::Rival, "rival"},           {DoubtKind::InkMismatch, "ink-mismatch"},
    {DoubtKind::Mended, "mended"},         {DoubtKind::LowConfidence, "low-confidence"},
    {DoubtKind::NotInList, "not-in-list"}, {DoubtKind::OverLabel, "over-label"},
    {DoubtKind::Missing, "missing"},       {DoubtKind::DiffersFromTwin, "differs-from-twin"},
    {DoubtKind::BadForm, "bad-form"},      {DoubtKind::LooksAlike, "looks-alike"},
    {DoubtKind::ReadFromFax, "read-from-fax"}, {DoubtKind::Structure, "structure"},
    {DoubtKind::Charset, "charset"},
};

}  // namespace

const char* DoubtKindName(DoubtKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "structure";
}

std::string Doubt::Line() const {
    std::string line = page > 0 ? "page " + std::to_string(page) + ", " : std::string();
    return line + (field.empty() ? message : field + ": " + message);
}

Doubt DoubtFromLine(const std::string& line) {
    Doubt doubt;
    std::string rest = line;
    if (rest.compare(0, 5, "page ") == 0) {
        const std::size_t comma = rest.find(", ");
        int page = 0;
        std::size_t digits = 5;
        for (; digits < comma && digits < 12 && rest[digits] >= '0' && rest[digits] <= '9'; ++digits)
            page = page * 10 + (rest[digits] - '0');
        if (comma != std::string::npos && digits == comma && digits > 5) {
            doubt.page = page;
            rest = rest.substr(comma + 2);
        }
    }
    const std::size_t colon = rest.find(": ");
    if (colon != std::string::npos && colon > 0 && rest.find(' ') > colon) {
        doubt.field = rest.substr(0, colon);
        doubt.message = rest.substr(colon + 2);
    } else {
        doubt.message = rest;
    }
    // The words each kind's messages were written with; what none of them names is structural.
    struct Wording {
        const char* words;
        DoubtKind kind;
    };
    static const Wording kWordings[] = {
        {"could as well be", DoubtKind::Rival},          {"does not match the ink", DoubtKind::InkMismatch},
        {"mended by its drawing", DoubtKind::Mended},    {"taken as", DoubtKind::Mended},
        {"taken for", DoubtKind::Mended},                {"unsure reading", DoubtKind::LowConfidence},
        {"is none of its values", DoubtKind::NotInList}, {"runs over the printed text", DoubtKind::OverLabel},
        {"differs from", DoubtKind::DiffersFromTwin},    {"is no date", DoubtKind::BadForm},
        {"is no e-mail address", DoubtKind::BadForm},    {"cannot hold", DoubtKind::BadForm},
        {"I or l", DoubtKind::LooksAlike},               {"read from a fax", DoubtKind::ReadFromFax},
        {"no answer where", DoubtKind::Missing},         {"marks that are no text", DoubtKind::LowConfidence},
        {"charset", DoubtKind::Charset},                 {"UTF-8", DoubtKind::Charset},
    };
    doubt.kind = doubt.message == "missing" ? DoubtKind::Missing : DoubtKind::Structure;
    for (const Wording& w : kWordings)
        if (doubt.message.find(w.words) != std::string::npos) {
            doubt.kind = w.kind;
            break;
        }
    return doubt;
}

bool DoubtKindFromName(const std::string& name, DoubtKind& kind) {
    for (const KindName& k : kKindNames)
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

}  // namespace desk
