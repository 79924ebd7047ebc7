// The desk's registration database: one SQLite file holding every registration read from
// mail (and, later, from faxed and scanned sheets), with where and when it came from and what
// a person must look at.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "desk/Guards.h"
#include "form/RegistrationRecord.h"

namespace desk {

// One registration as an importer hands it over. Stable interface for every importer (the
// mail importer, and the importer of faxed and scanned sheets): fill one and call
// CDatabase::Add inside a CTransaction.
//   record         the 26 fields of the mail text (kMailElements), UTF-8; `titel` is not stored
//   channel        "mail", "fax" or "scan"
//   sourceFile     the file it came from, as given or found by the walk
//   sourceRef      where in that file: the Message-ID, "message N" of an mbox, "page N"
//   receivedAt     ISO 8601 UTC ("2026-12-07T18:54:04Z"), or "" when nothing tells
//   dedupKey       a key the same registration always gets; a second Add of it adds nothing
//   reviewReasons  one text per problem, "field: what is wrong" ("zip: missing"); empty when sound
struct Registration {
    RegistrationRecord record;
    std::string channel;
    std::string sourceFile;
    std::string sourceRef;
    std::string receivedAt;
    std::string dedupKey;
    std::vector<std::string> reviewReasons;
};

struct StoredRegistration : Registration {
    std::int64_t id = 0;
    std::string importedAt;
};

enum class AddOutcome { Added, Known };

// A clerk's hold on one registration until `expiresAt` (Unix seconds); it runs out by itself.
struct Lease {
    std::int64_t registration = 0;
    std::string clerk;
    std::int64_t expiresAt = 0;
};

// One field of a registration as a clerk changes it: the value the clerk saw and the new one.
struct FieldChange {
    std::string field;  // a column name of kMailElements
    std::string oldValue;
    std::string newValue;
};

// A recorded change: who, when (ISO 8601 UTC), which field, from what to what.
struct Correction {
    std::string clerk;
    std::string at;
    std::string field;
    std::string oldValue;
    std::string newValue;
};

// Saved: the changes are in. Stale: a value is no longer what the clerk saw (someone changed
// it meanwhile); nothing is saved. Leased: another clerk holds the registration. Missing: no
// such registration. Invalid: a field that is none of the registration's.
enum class CorrectOutcome { Saved, Stale, Leased, Missing, Invalid };

// Every failure of the database, with SQLite's message.
class CDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether `path` is the database at `databasePath` or one of its companions (-wal, -shm,
// -journal), by name or as the same file: never to be read as input or written as output.
bool IsDatabaseFile(const std::string& path, const std::string& databasePath);

class CDatabase {
public:
    // Opens the database, creating it (readable and writable by its owner only) and its schema
    // on first use when `create` is set. Throws CDatabaseError when the file does not exist (and
    // is not to be created), cannot be opened, is no database, or was made by a newer schema.
    explicit CDatabase(const std::string& path, bool create = true);

    // Adds one registration unless one with the same dedupKey is already there.
    AddOutcome Add(const Registration& registration);

    // All registrations, or those needing review, ordered by id.
    void ForEach(bool reviewOnly, const std::function<void(const StoredRegistration&)>& visit);
    std::optional<StoredRegistration> Find(std::int64_t id);
    // The oldest `limit` registrations needing review, and how many need it in all.
    std::vector<StoredRegistration> ReviewQueue(int limit);
    std::int64_t ReviewCount();
    // Registrations whose name, company, e-mail address or article number holds `text`, or
    // whose postcode starts with it; at most `limit`, ordered by id.
    std::vector<StoredRegistration> Search(const std::string& text, int limit);

    // Leases `clerk` the oldest registration needing review after `afterId` (from the start
    // when there is none after it) that no other clerk holds, until now + `seconds`; the
    // clerk's other leases end. Atomic: two clerks never get the same one. None when all are held.
    std::optional<std::int64_t> LeaseNext(const std::string& clerk, std::int64_t afterId, std::int64_t now, int seconds);
    // Takes or renews the lease on `id`; false when another clerk holds a live one.
    bool TakeLease(std::int64_t id, const std::string& clerk, std::int64_t now, int seconds);
    // The live lease on `id`, if any.
    std::optional<Lease> LeaseOf(std::int64_t id, std::int64_t now);
    void EndLeases(const std::string& clerk);
    // Every live lease.
    std::vector<Lease> LiveLeases(std::int64_t now);

    // Saves a clerk's changes to one registration and records each, if every old value is still
    // the stored one and no other clerk holds a live lease on it; all or nothing.
    CorrectOutcome Correct(std::int64_t id, const std::string& clerk, const std::vector<FieldChange>& changes,
                           std::int64_t now);
    // The corrections of one registration, oldest first.
    std::vector<Correction> Corrections(std::int64_t id);

    sqlite3* Handle() const { return db_.Get(); }
    // The database file's path as opened.
    const std::string& Path() const { return path_; }
    // Runs SQL without results (BEGIN, COMMIT ...); throws CDatabaseError.
    void Exec(const char* sql);
    // A prepared statement on this connection; throws CDatabaseError.
    CStatement Prepare(const std::string& sql);
    // Throws CDatabaseError with `what` and SQLite's last message.
    [[noreturn]] void Fail(const std::string& what);

private:
    void SwitchToWal();
    int SchemaVersion();
    void Migrate();
    // The schema's steps, one per version; each runs inside Migrate's transaction.
    void CreateRegistrationTables();
    void CreateReviewTables();

    std::string path_;
    CSqliteDb db_;
    CStatement insert_;
};

// One unit of work: BEGIN IMMEDIATE now, COMMIT on Commit(), ROLLBACK if left without it.
class CTransaction : CNonCopyable {
public:
    explicit CTransaction(CDatabase& db);
    ~CTransaction();
    void Commit();
private:
    CDatabase& db_;
    bool open_ = true;
};

}  // namespace desk
