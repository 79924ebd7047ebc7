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

#include "desk/Doubt.h"
#include "desk/Guards.h"
#include "form/RegistrationRecord.h"

namespace desk {

// A page image kept with a registration: the page the reader worked on (one bit, upright,
// compressed), so a field can be shown to a person after the source file has moved.
struct StoredPage {
    int page = 1;
    int width = 0, height = 0;
    std::string format;  // "tiff-g4"
    std::string bytes;
};

// One registration as an importer hands it over. Stable interface for every importer (the
// mail importer, and the importer of faxed and scanned sheets): fill one and call
// CDatabase::Add inside a CTransaction.
//   record         the 26 fields of the mail text (kMailElements), UTF-8; `titel` is not stored
//   channel        "mail", "fax" or "scan"
//   sourceFile     the file it came from, as given or found by the walk
//   sourceRef      where in that file: the Message-ID, "message N" of an mbox, "page N"
//   messageId      the mail's Message-ID without its brackets, "" for none (and for pages)
//   receivedAt     ISO 8601 UTC ("2026-12-07T18:54:04Z"), or "" when nothing tells
//   dedupKey       a key the same registration always gets; a second Add of it adds nothing
//   doubts         one per field a person must look at; none when the registration is sound
//   pages          the page images the doubts' boxes are on (sheets only)
//   recordText     the record's lines as they stood in the mail (mail only); at most
//                  kMaxRecordText bytes of it are kept, read back with CDatabase::RecordText
struct Registration {
    RegistrationRecord record;
    std::string recordText;
    std::string channel;
    std::string sourceFile;
    std::string sourceRef;
    std::string messageId;
    std::string receivedAt;
    std::string dedupKey;
    std::vector<Doubt> doubts;
    std::vector<StoredPage> pages;

    // The doubts as lines ("page 1, zip: missing"), as list and show print them.
    std::vector<std::string> ReviewLines() const;
};

// A registration as stored; its page images are read on demand (CDatabase::Page).
struct StoredRegistration : Registration {
    std::int64_t id = 0;
    std::string importedAt;
};

enum class AddOutcome { Added, Known };

// A further arrival of a stored registration (a re-sent mail, a forward, a quoting reply).
struct RegistrationSource {
    std::string channel;
    std::string sourceFile;
    std::string sourceRef;
    std::string messageId;
    std::string receivedAt;
    std::string importedAt;
};

// A message that held no registration, kept so a person can find it and handle it by hand.
//   sourceRef  its place in the file ("message N" of an mbox, "" for a file of its own)
//   reason     why it was rejected, in words of the importer's own (never a value of the mail)
//   text       its text parts, at most kMaxRejectedText bytes
//   dedupKey   the same message imported again is not kept twice
struct RejectedMessage {
    std::string sourceFile;
    std::string sourceRef;
    std::string messageId;
    std::string sender;
    std::string subject;
    std::string receivedAt;
    std::string reason;
    std::string text;
    std::string dedupKey;
};

struct StoredRejected : RejectedMessage {
    std::int64_t id = 0;
    std::string importedAt;
};

constexpr std::size_t kMaxRejectedText = 64u << 10;
constexpr std::size_t kMaxRecordText = 64u << 10;

// A mail registration's record text as kept: the first kMaxRecordText bytes (cut before a
// character, never inside one) and how long it was when it came. It holds the passwords in
// clear: shown only through MaskSecrets unless a person asked for them.
struct StoredRecordText {
    std::string text;
    std::int64_t size = 0;
    bool Cut() const { return size > static_cast<std::int64_t>(text.size()); }
};

// "The same registration": the key of the 26 answers as read. A mail whose answers equal a
// stored registration's is that registration, whatever its Message-ID or layout.
std::string AnswersKey(const RegistrationRecord& record);

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

// A recorded change: who, when (ISO 8601 UTC), which field, from what to what, and the doubt
// it settled (its kind's stored name and its message; several joined by "; ", none: empty). A
// doubtful field confirmed as it stands is recorded too, with the same value before and after.
struct Correction {
    std::string clerk;
    std::string at;
    std::string field;
    std::string oldValue;
    std::string newValue;
    std::string doubtKind;
    std::string doubtMessage;
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

    // Adds one registration unless one with the same dedupKey is already there; then its source
    // is kept as a further source of that one (once, and not when it is the stored one's own).
    AddOutcome Add(const Registration& registration);
    // Keeps a rejected message; false when the same one is kept already.
    bool AddRejected(const RejectedMessage& rejected);

    // All registrations, or those needing review, ordered by id.
    void ForEach(bool reviewOnly, const std::function<void(const StoredRegistration&)>& visit);
    std::optional<StoredRegistration> Find(std::int64_t id);
    // The further sources of registration `id`, in the order they came.
    std::vector<RegistrationSource> Sources(std::int64_t id);
    void ForEachRejected(const std::function<void(const StoredRejected&)>& visit);
    std::optional<StoredRejected> FindRejected(std::int64_t id);
    // Page `page` of registration `id` as kept, or nothing.
    std::optional<StoredPage> Page(std::int64_t id, int page);
    // The record text kept with registration `id` (empty for a sheet, or one stored before
    // schema version 6), or nothing when there is no such registration.
    std::optional<StoredRecordText> RecordText(std::int64_t id);
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
    // Reserves `clerk` the registration they are to get after `current`, for a page to have it
    // ready before `current` is done: the clerk's own live lease on another registration needing
    // review if there is one, else the oldest free one after `current` as LeaseNext picks it (not
    // `current` itself), held until now + `seconds`. The clerk's leases on others end; the one on
    // `current` stays. Atomic like LeaseNext. None when all are held.
    std::optional<std::int64_t> ReserveNext(const std::string& clerk, std::int64_t current, std::int64_t now, int seconds);
    // Leases `clerk` registration `id` until now + `seconds` if it needs review and no other clerk
    // holds a live lease on it (a reservation that ran out counts as free); the clerk's other
    // leases end. False, changing nothing, otherwise.
    bool LeaseChosen(const std::string& clerk, std::int64_t id, std::int64_t now, int seconds);
    // Takes or renews the lease on `id`; false when another clerk holds a live one.
    bool TakeLease(std::int64_t id, const std::string& clerk, std::int64_t now, int seconds);
    // The live lease on `id`, if any.
    std::optional<Lease> LeaseOf(std::int64_t id, std::int64_t now);
    void EndLeases(const std::string& clerk);
    // Every live lease.
    std::vector<Lease> LiveLeases(std::int64_t now);

    // Saves a clerk's changes to one registration and records each, if every old value is still
    // the stored one and no other clerk holds a live lease on it; all or nothing. Each field in
    // `changes` counts as looked at: its doubts are settled (their rows deleted) and recorded with
    // it, even when its value stays. The doubts about the record as a whole (a field that is
    // none of the elements) are settled by any save, as the clerk had the whole registration in
    // front of them. A registration without doubts left has left the review queue.
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
    // Writers of every process take turns on "<database>-writers" before they ask for SQLite's
    // write lock, which keeps no queue: a waiter is woken when the holder ends, where SQLite's
    // own wait sleeps and polls and loses to an importer that begins its next batch at once.
    void EnterWriterTurn();
    void LeaveWriterTurn();

private:
    void SwitchToWal();
    int SchemaVersion();
    void Migrate();
    void CreateVersion1();
    void UpgradeToV2();
    void UpgradeToV3();
    void UpgradeToV4();
    void UpgradeToV5();
    void UpgradeToV6();
    std::vector<Doubt> DoubtsOf(std::int64_t id);
    StoredRegistration ReadRow(sqlite3_stmt* stmt);
    void AddDetails(std::int64_t id, const Registration& r);

    std::string path_;
    CFd writerTurn_;
    CSqliteDb db_;
    CStatement insert_;
    CStatement insertSource_;
    CStatement insertRejected_;
    CStatement insertDoubt_;
    CStatement insertRival_;
    CStatement insertPage_;
    CStatement selectDoubts_;
    CStatement selectRivals_;
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
