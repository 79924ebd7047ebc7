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

bool DoubtKindFromName(const std::string& name, DoubtKind& kind) {
    for (const KindName& k : kKindNames)
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

}  // namespace desk
