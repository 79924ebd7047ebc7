// The registration database on SQLite: WAL journal, schema version in user_version, prepared
// statements only, the file created for its owner alone.
#include "desk/Database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output/MailRecord.h"

namespace desk {

namespace {

constexpr int kSchemaVersion = 1;

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

}  // namespace

CDatabase::CDatabase(const std::string& path) {
    // Created here, not by SQLite, so the file never exists with looser rights; SQLite gives
    // its WAL and shared-memory files the database file's mode.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw CDatabaseError(path + ": " + std::strerror(errno));
    ::close(fd);
    const int rc = sqlite3_open_v2(path.c_str(), db_.Receive(), SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) Fail(path);
    sqlite3_busy_timeout(db_.Get(), 5000);
    sqlite3_extended_result_codes(db_.Get(), 1);
    try {
        Exec("PRAGMA journal_mode=WAL");
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

void CDatabase::Migrate() {
    CStatement version = Prepare("PRAGMA user_version");
    if (sqlite3_step(version.Get()) != SQLITE_ROW) Fail("user_version");
    const int current = sqlite3_column_int(version.Get(), 0);
    if (current == kSchemaVersion) return;
    if (current > kSchemaVersion)
        throw CDatabaseError("made by a newer velkdesk (schema " + std::to_string(current) + ")");
    // Version 0: a new, empty file (or a database of something else, which has tables).
    CTransaction transaction(*this);
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
           "CREATE INDEX registration_review ON registration(id) WHERE review <> '';"
           "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    Exec(sql.c_str());
    transaction.Commit();
}

AddOutcome CDatabase::Add(const Registration& r) {
    sqlite3_stmt* stmt = insert_.Get();
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const std::string review = JoinReasons(r.reviewReasons);
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
