// Review decision: owns which doubt a person sees for a field. The stages raise candidates as
// they meet them; the one of the highest rank (DoubtRank) is chosen here, once, and becomes the
// field's desk::Doubt and its problem line.
#include <leptonica/allheaders.h>

#include <algorithm>

#include "desk/sheet/ReaderStages.h"
#include "output/MailRecord.h"

namespace sheet {

void AnswerWork::Withdraw(DoubtStage stage) {
    const auto raisedThere = [&](const DoubtCandidate& d) { return d.stage == stage; };
    doubts.erase(std::remove_if(doubts.begin(), doubts.end(), raisedThere), doubts.end());
}

void AnswerWork::Withdraw(desk::DoubtKind kind) {
    const auto ofKind = [&](const DoubtCandidate& d) { return d.kind == kind; };
    doubts.erase(std::remove_if(doubts.begin(), doubts.end(), ofKind), doubts.end());
}

void ReviewDecision(const SheetPage& page, int field, const AnswerWork& work, FieldReading& reading,
                    SheetReading& result) {
    if (work.doubts.empty()) return;
    // Every rank is raised once at most for a field; the first of the highest wins all the same.
    const auto lower = [](const DoubtCandidate& a, const DoubtCandidate& b) { return a.rank < b.rank; };
    const auto chosen = std::max_element(work.doubts.begin(), work.doubts.end(), lower);
    const SheetField& f = kSheetFields[field];
    reading.problem = chosen->message;
    reading.confidence = std::min(reading.confidence, kTextConfidence - 1);

    desk::Doubt doubt;
    doubt.field = f.name;
    doubt.kind = chosen->kind;
    doubt.message = chosen->message;
    // A secret's doubt names the kind of doubt only: never its value, nor a rival of it.
    if (!IsSecretField(f.member))
        for (const std::string& rival : chosen->rivals)
            if (!rival.empty() && rival != reading.value) doubt.rivals.push_back(rival);
    doubt.confidence = reading.confidence;  // its page stays 0: the intake numbers the pages of a file
    const int w = pixGetWidth(page.binary.Get()), h = pixGetHeight(page.binary.Get());
    const int x0 = std::clamp(work.x0, 0, w), y0 = std::clamp(work.y0, 0, h);
    doubt.box = {x0, y0, std::clamp(work.x1, 0, w) - x0, std::clamp(work.y1, 0, h) - y0};
    result.problems.push_back(doubt.Line());
    result.doubts.push_back(std::move(doubt));
}

}  // namespace sheet
