// The registration database on SQLite: WAL journal, schema version in user_version, prepared
// statements only, the file created for its owner alone.
#include "desk/Database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "output/MailRecord.h"

namespace desk {

namespace fs = std::filesystem;

namespace {

// 1: the registrations; 2: the review station's clerks, leases and corrections (CreateReviewTables).
constexpr int kSchemaVersion = 2;
// How long a statement waits for another connection's write lock.
constexpr int kBusyTimeoutMs = 5000;

std::string Column(sqlite3_stmt* stmt, int index) {
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)))
                : std::string();
}

std::string JoinReasons(const std::vector<std::string>& reasons) {
    std::string joined;
    for (const std::string& reason : reasons) {
        if (!joined.empty()) joined += '\n';
        // One reason per line: a line break inside one would split it in two.
        for (char c : reason) joined += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return joined;
}

// The last guard before a reason is stored: a secret value that an importer let slip into a
// reason is cut out of it. Values of one or two characters would cut out ordinary words.
std::string WithoutSecrets(std::string text, const RegistrationRecord& record) {
    for (const MailElement& element : kMailElements) {
        const std::string& value = record.*element.field;
        if (!element.secret || value.size() < 3) continue;
        for (std::size_t at = text.find(value); at != std::string::npos; at = text.find(value, at + 3))
            text.replace(at, value.size(), "***");
    }
    return text;
}

std::vector<std::string> SplitReasons(const std::string& joined) {
    std::vector<std::string> reasons;
    std::size_t start = 0;
    while (start < joined.size()) {
        std::size_t end = joined.find('\n', start);
        if (end == std::string::npos) end = joined.size();
        reasons.push_back(joined.substr(start, end - start));
        start = end + 1;
    }
    return reasons;
}

const char kFixedColumns[] = "id, channel, source_file, source_ref, received_at, imported_at, review, dedup_key";

std::string FieldColumns() {
    std::string columns;
    for (const MailElement& element : kMailElements) {
        columns += ", ";
        columns += element.name;
    }
    return columns;
}

StoredRegistration ReadRow(sqlite3_stmt* stmt) {
    StoredRegistration row;
    row.id = sqlite3_column_int64(stmt, 0);
    row.channel = Column(stmt, 1);
    row.sourceFile = Column(stmt, 2);
    row.sourceRef = Column(stmt, 3);
    row.receivedAt = Column(stmt, 4);
    row.importedAt = Column(stmt, 5);
    row.reviewReasons = SplitReasons(Column(stmt, 6));
    row.dedupKey = Column(stmt, 7);
    for (std::size_t i = 0; i < kMailElementCount; ++i) row.record.*kMailElements[i].field = Column(stmt, 8 + static_cast<int>(i));
    return row;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool IsDatabaseFile(const std::string& target, const std::string& databasePath) {
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(fs::absolute(target, ec), ec);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string companion = databasePath + suffix;
        if (SameFile(target, companion)) return true;
        std::error_code ec2;
        if (!ec && wanted == fs::weakly_canonical(fs::absolute(companion, ec2), ec2) && !ec2) return true;
    }
    return false;
}

CDatabase::CDatabase(const std::string& path, bool create) : path_(path) {
    // Created here, not by SQLite, so the file never exists with looser rights; SQLite gives
    // its WAL and shared-memory files the database file's mode.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (fd < 0 && errno == ENOENT && !create)
        throw CDatabaseError(path + ": no such database (velkdesk import creates one)");
    if (fd < 0) throw CDatabaseError(path + ": " + std::strerror(errno));
    ::close(fd);
    const int rc = sqlite3_open_v2(path.c_str(), db_.Receive(), SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) Fail(path);
    sqlite3_busy_timeout(db_.Get(), kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_.Get(), 1);
    try {
        SwitchToWal();
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA foreign_keys=ON");
        Migrate();
    } catch (const CDatabaseError& e) {
        throw CDatabaseError(path + ": " + e.what());
    }
    std::string sql = "INSERT INTO registration (channel, source_file, source_ref, received_at, review, dedup_key" +
                      FieldColumns() + ") VALUES (?, ?, ?, ?, ?, ?";
    for (std::size_t i = 0; i < kMailElementCount; ++i) sql += ", ?";
    sql += ") ON CONFLICT(dedup_key) DO NOTHING";
    insert_ = Prepare(sql);
}

void CDatabase::Fail(const std::string& what) {
    const char* message = db_.Get() ? sqlite3_errmsg(db_.Get()) : "out of memory";
    throw CDatabaseError(what + ": " + message);
}

void CDatabase::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_.Get(), sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(db_.Get());
        sqlite3_free(error);
        throw CDatabaseError(message);
    }
}

CStatement CDatabase::Prepare(const std::string& sql) {
    CStatement stmt;
    if (sqlite3_prepare_v3(db_.Get(), sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           stmt.Receive(), nullptr) != SQLITE_OK)
        Fail("prepare");
    return stmt;
}

void CDatabase::SwitchToWal() {
    // Switching a new file to WAL takes an exclusive lock and does not wait for it the way
    // statements do: a second velkdesk opening the same new file at once would fail. It tries
    // again for as long as a statement would wait.
    for (int waited = 0;; waited += 20) {
        char* error = nullptr;
        const int rc = sqlite3_exec(db_.Get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, &error);
        sqlite3_free(error);
        if (rc == SQLITE_OK) return;
        if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) Fail("journal_mode");
        if (waited >= kBusyTimeoutMs) Fail("journal_mode");
        sqlite3_sleep(20);
    }
}

int CDatabase::SchemaVersion() {
    CStatement version = Prepare("PRAGMA user_version");
    if (sqlite3_step(version.Get()) != SQLITE_ROW) Fail("user_version");
    return sqlite3_column_int(version.Get(), 0);
}

void CDatabase::Migrate() {
    if (SchemaVersion() == kSchemaVersion) return;
    // Read again under the write lock: another velkdesk may have made the schema meanwhile.
    CTransaction transaction(*this);
    const int current = SchemaVersion();
    if (current == kSchemaVersion) return;
    if (current > kSchemaVersion)
        throw CDatabaseError("made by a newer velkdesk (schema " + std::to_string(current) + ")");
    if (current == 0) CreateRegistrationTables();
    CreateReviewTables();
    Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    transaction.Commit();
}

void CDatabase::CreateRegistrationTables() {
    // Version 0: a new, empty file (or a database of something else, which has tables).
    CStatement tables = Prepare("SELECT count(*) FROM sqlite_schema");
    if (sqlite3_step(tables.Get()) != SQLITE_ROW) Fail("schema");
    if (sqlite3_column_int(tables.Get(), 0) != 0) throw CDatabaseError("not a velkdesk database");
    std::string sql =
        "CREATE TABLE registration ("
        " id INTEGER PRIMARY KEY,"
        " dedup_key TEXT NOT NULL UNIQUE,"
        " channel TEXT NOT NULL,"
        " source_file TEXT NOT NULL,"
        " source_ref TEXT NOT NULL,"
        " received_at TEXT NOT NULL,"
        " imported_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
        " review TEXT NOT NULL";
    for (const MailElement& element : kMailElements) sql += std::string(", ") + element.name + " TEXT NOT NULL";
    sql += ");"
           "CREATE INDEX registration_review ON registration(id) WHERE review <> '';";
    Exec(sql.c_str());
}

void CDatabase::CreateReviewTables() {
    // The review station's clerks: a name and its Argon2id hash (crypto_pwhash_str's text).
    // A lease: one clerk's hold on a registration until expires_at (Unix seconds).
    // A correction: one field changed by a clerk, with the value before and after.
    Exec("CREATE TABLE clerk ("
         " name TEXT PRIMARY KEY,"
         " hash TEXT NOT NULL,"
         " created_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')));"
         "CREATE TABLE lease ("
         " registration INTEGER PRIMARY KEY REFERENCES registration(id),"
         " clerk TEXT NOT NULL,"
         " expires_at INTEGER NOT NULL);"
         "CREATE INDEX lease_clerk ON lease(clerk);"
         "CREATE TABLE correction ("
         " id INTEGER PRIMARY KEY,"
         " registration INTEGER NOT NULL REFERENCES registration(id),"
         " clerk TEXT NOT NULL,"
         " at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
         " field TEXT NOT NULL,"
         " old_value TEXT NOT NULL,"
         " new_value TEXT NOT NULL);"
         "CREATE INDEX correction_registration ON correction(registration);");
}

AddOutcome CDatabase::Add(const Registration& r) {
    sqlite3_stmt* stmt = insert_.Get();
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const std::string review = WithoutSecrets(JoinReasons(r.reviewReasons), r.record);
    const std::string* texts[] = {&r.channel, &r.sourceFile, &r.sourceRef, &r.receivedAt, &review, &r.dedupKey};
    int index = 1;
    for (const std::string* text : texts)
        sqlite3_bind_text(stmt, index++, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    for (const MailElement& element : kMailElements) {
        const std::string& value = r.record.*element.field;
        sqlite3_bind_text(stmt, index++, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) Fail("add");
    return sqlite3_changes(db_.Get()) == 1 ? AddOutcome::Added : AddOutcome::Known;
}

void CDatabase::ForEach(bool reviewOnly, const std::function<void(const StoredRegistration&)>& visit) {
    CStatement stmt = Prepare(std::string("SELECT ") + kFixedColumns + FieldColumns() + " FROM registration" +
                              (reviewOnly ? " WHERE review <> ''" : "") + " ORDER BY id");
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) visit(ReadRow(stmt.Get()));
    if (rc != SQLITE_DONE) Fail("read");
}

std::vector<StoredRegistration> CDatabase::ReviewQueue(int limit) {
    CStatement stmt = Prepare(std::string("SELECT ") + kFixedColumns + FieldColumns() +
                              " FROM registration WHERE review <> '' ORDER BY id LIMIT ?");
    sqlite3_bind_int(stmt.Get(), 1, limit);
    std::vector<StoredRegistration> rows;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) rows.push_back(ReadRow(stmt.Get()));
    if (rc != SQLITE_DONE) Fail("read");
    return rows;
}

std::int64_t CDatabase::ReviewCount() {
    CStatement stmt = Prepare("SELECT count(*) FROM registration WHERE review <> ''");
    if (sqlite3_step(stmt.Get()) != SQLITE_ROW) Fail("read");
    return sqlite3_column_int64(stmt.Get(), 0);
}

std::vector<StoredRegistration> CDatabase::Search(const std::string& text, int limit) {
    // A part of a name, e-mail address or article number; a postcode from its start. LIKE's
    // wildcards in what was typed are taken as themselves.
    std::string escaped;
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') escaped += '\\';
        escaped += c;
    }
    const std::string part = "%" + escaped + "%", prefix = escaped + "%";
    CStatement stmt = Prepare(std::string("SELECT ") + kFixedColumns + FieldColumns() +
                              " FROM registration WHERE vorname LIKE ?1 ESCAPE '\\' OR nachname LIKE ?1 ESCAPE '\\'"
                              " OR (vorname || ' ' || nachname) LIKE ?1 ESCAPE '\\' OR firm LIKE ?1 ESCAPE '\\'"
                              " OR username LIKE ?1 ESCAPE '\\' OR gprod LIKE ?1 ESCAPE '\\' OR zip LIKE ?2 ESCAPE '\\'"
                              " ORDER BY id LIMIT ?3");
    sqlite3_bind_text(stmt.Get(), 1, part.data(), static_cast<int>(part.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.Get(), 2, prefix.data(), static_cast<int>(prefix.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(stmt.Get(), 3, limit);
    std::vector<StoredRegistration> rows;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) rows.push_back(ReadRow(stmt.Get()));
    if (rc != SQLITE_DONE) Fail("read");
    return rows;
}

namespace {

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

const MailElement* ElementNamed(const std::string& name) {
    for (const MailElement& element : kMailElements)
        if (name == element.name) return &element;
    return nullptr;
}

}  // namespace

bool CDatabase::TakeLease(std::int64_t id, const std::string& clerk, std::int64_t now, int seconds) {
    // One statement: the lease is taken only where there is none, it ran out, or it is the
    // clerk's own; a second clerk's statement finds it held.
    CStatement stmt = Prepare(
        "INSERT INTO lease (registration, clerk, expires_at) SELECT id, ?2, ?3 + ?4 FROM registration WHERE id = ?1"
        " ON CONFLICT(registration) DO UPDATE SET clerk = excluded.clerk, expires_at = excluded.expires_at"
        " WHERE lease.expires_at <= ?3 OR lease.clerk = excluded.clerk");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    BindText(stmt.Get(), 2, clerk);
    sqlite3_bind_int64(stmt.Get(), 3, now);
    sqlite3_bind_int(stmt.Get(), 4, seconds);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE) Fail("lease");
    return sqlite3_changes(db_.Get()) == 1;
}

std::optional<std::int64_t> CDatabase::LeaseNext(const std::string& clerk, std::int64_t afterId, std::int64_t now,
                                                 int seconds) {
    CTransaction transaction(*this);
    EndLeases(clerk);
    CStatement pick = Prepare(
        "SELECT r.id FROM registration r LEFT JOIN lease l ON l.registration = r.id"
        " WHERE r.review <> '' AND (l.registration IS NULL OR l.expires_at <= ?1)"
        " ORDER BY r.id > ?2 DESC, r.id LIMIT 1");
    sqlite3_bind_int64(pick.Get(), 1, now);
    sqlite3_bind_int64(pick.Get(), 2, afterId);
    const int rc = sqlite3_step(pick.Get());
    if (rc == SQLITE_DONE) {
        transaction.Commit();
        return std::nullopt;
    }
    if (rc != SQLITE_ROW) Fail("lease");
    const std::int64_t id = sqlite3_column_int64(pick.Get(), 0);
    if (!TakeLease(id, clerk, now, seconds)) Fail("lease taken under the write lock");
    transaction.Commit();
    return id;
}

std::optional<Lease> CDatabase::LeaseOf(std::int64_t id, std::int64_t now) {
    CStatement stmt = Prepare("SELECT clerk, expires_at FROM lease WHERE registration = ? AND expires_at > ?");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    sqlite3_bind_int64(stmt.Get(), 2, now);
    const int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) Fail("lease");
    return Lease{id, Column(stmt.Get(), 0), sqlite3_column_int64(stmt.Get(), 1)};
}

std::vector<Lease> CDatabase::LiveLeases(std::int64_t now) {
    CStatement stmt = Prepare("SELECT registration, clerk, expires_at FROM lease WHERE expires_at > ? ORDER BY registration");
    sqlite3_bind_int64(stmt.Get(), 1, now);
    std::vector<Lease> leases;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW)
        leases.push_back({sqlite3_column_int64(stmt.Get(), 0), Column(stmt.Get(), 1), sqlite3_column_int64(stmt.Get(), 2)});
    if (rc != SQLITE_DONE) Fail("lease");
    return leases;
}

void CDatabase::EndLeases(const std::string& clerk) {
    CStatement stmt = Prepare("DELETE FROM lease WHERE clerk = ?");
    BindText(stmt.Get(), 1, clerk);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE) Fail("lease");
}

CorrectOutcome CDatabase::Correct(std::int64_t id, const std::string& clerk, const std::vector<FieldChange>& changes,
                                  std::int64_t now) {
    for (const FieldChange& change : changes)
        if (!ElementNamed(change.field)) return CorrectOutcome::Invalid;
    CTransaction transaction(*this);
    const std::optional<StoredRegistration> current = Find(id);
    if (!current) return CorrectOutcome::Missing;
    const std::optional<Lease> lease = LeaseOf(id, now);
    if (lease && lease->clerk != clerk) return CorrectOutcome::Leased;
    for (const FieldChange& change : changes)
        if (current->record.*ElementNamed(change.field)->field != change.oldValue) return CorrectOutcome::Stale;
    CStatement record = Prepare(
        "INSERT INTO correction (registration, clerk, field, old_value, new_value) VALUES (?, ?, ?, ?, ?)");
    for (const FieldChange& change : changes) {
        if (change.newValue == change.oldValue) continue;
        // The column name comes from the element table, never from the request.
        CStatement update = Prepare(std::string("UPDATE registration SET ") + ElementNamed(change.field)->name +
                                    " = ? WHERE id = ?");
        BindText(update.Get(), 1, change.newValue);
        sqlite3_bind_int64(update.Get(), 2, id);
        if (sqlite3_step(update.Get()) != SQLITE_DONE) Fail("correct");
        sqlite3_reset(record.Get());
        sqlite3_bind_int64(record.Get(), 1, id);
        BindText(record.Get(), 2, clerk);
        BindText(record.Get(), 3, change.field);
        BindText(record.Get(), 4, change.oldValue);
        BindText(record.Get(), 5, change.newValue);
        if (sqlite3_step(record.Get()) != SQLITE_DONE) Fail("correct");
    }
    transaction.Commit();
    return CorrectOutcome::Saved;
}

std::vector<Correction> CDatabase::Corrections(std::int64_t id) {
    CStatement stmt = Prepare(
        "SELECT clerk, at, field, old_value, new_value FROM correction WHERE registration = ? ORDER BY id");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    std::vector<Correction> corrections;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW)
        corrections.push_back({Column(stmt.Get(), 0), Column(stmt.Get(), 1), Column(stmt.Get(), 2), Column(stmt.Get(), 3),
                               Column(stmt.Get(), 4)});
    if (rc != SQLITE_DONE) Fail("read");
    return corrections;
}

std::optional<StoredRegistration> CDatabase::Find(std::int64_t id) {
    CStatement stmt = Prepare(std::string("SELECT ") + kFixedColumns + FieldColumns() + " FROM registration WHERE id = ?");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    const int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_ROW) return ReadRow(stmt.Get());
    if (rc != SQLITE_DONE) Fail("read");
    return std::nullopt;
}

CTransaction::CTransaction(CDatabase& db) : db_(db) {
    db_.Exec("BEGIN IMMEDIATE");
}

CTransaction::~CTransaction() {
    if (!open_) return;
    // A failed ROLLBACK (the connection already rolled back) changes nothing that matters here.
    sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void CTransaction::Commit() {
    db_.Exec("COMMIT");
    open_ = false;
}

}  // namespace desk
