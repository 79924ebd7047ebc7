// The review station's core over CDatabase.
#include "desk/ReviewDesk.h"

#include <ctime>
#include <sstream>

#include "desk/Clerks.h"
#include "desk/Export.h"

namespace desk {

namespace {

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

CReviewDesk::CReviewDesk(const std::string& databasePath) : db_(databasePath) {}

CReviewDesk::Queue CReviewDesk::ReviewQueue(int limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    // One read transaction, so the count and the rows agree while an import writes.
    db_.Exec("BEGIN");
    Queue queue;
    try {
        queue.count = db_.ReviewCount();
        queue.oldest = db_.ReviewQueue(limit);
        for (const Lease& lease : db_.LiveLeases(Now())) queue.heldBy[lease.registration] = lease.clerk;
    } catch (...) {
        db_.Exec("ROLLBACK");
        throw;
    }
    db_.Exec("COMMIT");
    return queue;
}

std::int64_t CReviewDesk::ReviewCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.ReviewCount();
}

std::optional<StoredRegistration> CReviewDesk::Find(std::int64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.Find(id);
}

std::optional<StoredPage> CReviewDesk::Page(std::int64_t id, int page) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.Page(id, page);
}

std::optional<StoredRecordText> CReviewDesk::RecordText(std::int64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.RecordText(id);
}

std::vector<StoredRegistration> CReviewDesk::Search(const std::string& text, int limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.Search(text, limit);
}

std::string CReviewDesk::ExportCsv(bool withPasswords) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream out;
    ExportOptions options;
    options.withPasswords = withPasswords;
    desk::ExportCsv(db_, options, out);
    return out.str();
}

std::optional<std::int64_t> CReviewDesk::Next(const std::string& clerk, std::int64_t afterId) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.LeaseNext(clerk, afterId, Now(), kLeaseSeconds);
}

std::optional<std::int64_t> CReviewDesk::Reserve(const std::string& clerk, std::int64_t current) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.ReserveNext(clerk, current, Now(), kReserveSeconds);
}

bool CReviewDesk::LeaseChosen(const std::string& clerk, std::int64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.LeaseChosen(clerk, id, Now(), kLeaseSeconds);
}

std::optional<Lease> CReviewDesk::LeaseOf(std::int64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.LeaseOf(id, Now());
}

void CReviewDesk::EndLeases(const std::string& clerk) {
    std::lock_guard<std::mutex> lock(mutex_);
    db_.EndLeases(clerk);
}

CorrectOutcome CReviewDesk::Correct(std::int64_t id, const std::string& clerk, const std::vector<FieldChange>& changes) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.Correct(id, clerk, changes, Now());
}

std::vector<Correction> CReviewDesk::Corrections(std::int64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_.Corrections(id);
}

bool CReviewDesk::AnyClerk() {
    std::lock_guard<std::mutex> lock(mutex_);
    return CClerks(db_).Any();
}

std::optional<std::string> CReviewDesk::ClerkHash(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return CClerks(db_).Hash(name);
}

}  // namespace desk
