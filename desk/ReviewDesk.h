// The review station's core: what the clerks' pages ask of the desk, on a connection of its
// own to the database (import may be writing meanwhile: WAL lets both go on). Knows nothing of
// HTTP; the web handlers call it for the queue, leases, page images and settling doubts.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desk/Database.h"

namespace desk {

class CReviewDesk {
public:
    explicit CReviewDesk(const std::string& databasePath);

    struct Queue {
        std::int64_t count = 0;                 // all registrations needing review
        std::vector<StoredRegistration> oldest;  // the first of them, oldest first
        std::map<std::int64_t, std::string> heldBy;  // who holds a live lease on which
    };
    Queue ReviewQueue(int limit);
    std::int64_t ReviewCount();
    std::optional<StoredRegistration> Find(std::int64_t id);
    std::optional<StoredPage> Page(std::int64_t id, int page);
    std::optional<StoredRecordText> RecordText(std::int64_t id);
    std::vector<StoredRegistration> Search(const std::string& text, int limit);
    // The whole database as `velkdesk export` writes it.
    std::string ExportCsv(bool withPasswords);

    // How long a lease lasts: a registration left by a closed browser is free again after it.
    static constexpr int kLeaseSeconds = 10 * 60;
    // Leases `clerk` the oldest free registration needing review after `afterId`.
    std::optional<std::int64_t> Next(const std::string& clerk, std::int64_t afterId);
    // How long a registration reserved in advance is held for the clerk who will get it next: a
    // page left open longer may lose it to another clerk, then the save leases another one.
    static constexpr int kReserveSeconds = 2 * 60;
    // Reserves `clerk` the registration to come after `current` (CDatabase::ReserveNext).
    std::optional<std::int64_t> Reserve(const std::string& clerk, std::int64_t current);
    // Leases `clerk` the registration reserved before, if it is still theirs or free and needs review.
    bool LeaseChosen(const std::string& clerk, std::int64_t id);
    std::optional<Lease> LeaseOf(std::int64_t id);
    void EndLeases(const std::string& clerk);
    // Saves and records the changes and settles the doubts of the fields looked at (CDatabase::Correct).
    CorrectOutcome Correct(std::int64_t id, const std::string& clerk, const std::vector<FieldChange>& changes);
    std::vector<Correction> Corrections(std::int64_t id);

    bool AnyClerk();
    std::optional<std::string> ClerkHash(const std::string& name);

private:
    std::mutex mutex_;  // one connection, used by one request at a time
    CDatabase db_;
};

}  // namespace desk
