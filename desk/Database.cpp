// The registration database on SQLite: WAL journal, schema version in user_version, prepared
// statements only, the file created for its owner alone.
#include "desk/Database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "output/MailRecord.h"

namespace desk {

namespace fs = std::filesystem;

namespace {

// 1 the registrations; 2 rejected messages and further sources; 3 doubts as rows and page
// images; 4 the review station's clerks, leases and corrections; 5 the doubt a correction settled;
// 6 a mail registration's record text.
constexpr int kSchemaVersion = 6;
// How long a statement waits for another connection's write lock.
constexpr int kBusyTimeoutMs = 5000;

std::string Column(sqlite3_stmt* stmt, int index) {
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)))
                : std::string();
}

// The last guard before a doubt is stored: a secret value that an importer let slip into its
// message is cut out of it. Values of one or two characters would cut out ordinary words.
std::string WithoutSecrets(std::string text, const RegistrationRecord& record) {
    for (const MailElement& element : kMailElements) {
        const std::string& value = record.*element.field;
        if (!element.secret || value.size() < 3) continue;
        for (std::size_t at = text.find(value); at != std::string::npos; at = text.find(value, at + 3))
            text.replace(at, value.size(), "***");
    }
    return text;
}

const char kFixedColumns[] = "id, channel, source_file, source_ref, received_at, imported_at, dedup_key";
// The columns after kFixedColumns and the fields.
constexpr int kFirstField = 7;
constexpr char kNeedsReview[] = "EXISTS (SELECT 1 FROM doubt WHERE doubt.registration_id = registration.id)";

std::string FieldColumns() {
    std::string columns;
    for (const MailElement& element : kMailElements) {
        columns += ", ";
        columns += element.name;
    }
    return columns;
}

// The record's fields from column `first` on.
void ReadFields(sqlite3_stmt* stmt, int first, RegistrationRecord& record) {
    for (std::size_t i = 0; i < kMailElementCount; ++i)
        record.*kMailElements[i].field = Column(stmt, first + static_cast<int>(i));
}

// A doubt as it may be kept: no secret in its message, no rival of a secret field, one line.
Doubt Keepable(Doubt doubt, const RegistrationRecord& record) {
    for (const MailElement& element : kMailElements)
        if (element.secret && doubt.field == element.name) doubt.rivals.clear();
    doubt.message = WithoutSecrets(doubt.message, record);
    for (char& c : doubt.message)
        if (c == '\n' || c == '\r') c = ' ';
    return doubt;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

const char kRejectedColumns[] =
    "id, source_file, source_ref, message_id, sender, subject, received_at, imported_at, reason, text, dedup_key";

StoredRejected ReadRejected(sqlite3_stmt* stmt) {
    StoredRejected row;
    row.id = sqlite3_column_int64(stmt, 0);
    row.sourceFile = Column(stmt, 1);
    row.sourceRef = Column(stmt, 2);
    row.messageId = Column(stmt, 3);
    row.sender = Column(stmt, 4);
    row.subject = Column(stmt, 5);
    row.receivedAt = Column(stmt, 6);
    row.importedAt = Column(stmt, 7);
    row.reason = Column(stmt, 8);
    row.text = Column(stmt, 9);
    row.dedupKey = Column(stmt, 10);
    return row;
}

void Bind(sqlite3_stmt* stmt, int index, const std::string& text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Where to cut UTF-8 text to at most `max` bytes: before a character, not inside one.
std::size_t CharacterCut(const std::string& text, std::size_t max) {
    if (text.size() <= max) return text.size();
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

// At most `max` bytes of UTF-8 text, with a line saying where it was cut.
std::string CutUtf8(const std::string& text, std::size_t max) {
    if (text.size() <= max) return text;
    return text.substr(0, CharacterCut(text, max)) + "\n[cut at " + std::to_string(max >> 10) + " KiB]";
}

}  // namespace

std::string AnswersKey(const RegistrationRecord& record) {
    // Each value with its length in front, so no value can pass for the end of another.
    std::string answers;
    for (const MailElement& element : kMailElements) {
        const std::string& value = record.*element.field;
        answers += std::to_string(value.size()) + ':' + value;
    }
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(answers.data()),
                                             answers.size());
    std::string key = std::string("answers:") + hex;
    g_free(hex);
    return key;
}

bool IsDatabaseFile(const std::string& target, const std::string& databasePath) {
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(fs::absolute(target, ec), ec);
    // The online form's spool ("-web") and its companions count too.
    for (const char* suffix : {"", "-wal", "-shm", "-journal", "-writers", "-web", "-web-wal", "-web-shm",
                               "-web-journal", "-web-writers"}) {
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
    std::string sql = "INSERT INTO registration (channel, source_file, source_ref, received_at, dedup_key," +
                      std::string(" record_text, record_text_size") + FieldColumns() + ") VALUES (?, ?, ?, ?, ?, ?, ?";
    for (std::size_t i = 0; i < kMailElementCount; ++i) sql += ", ?";
    sql += ") ON CONFLICT(dedup_key) DO NOTHING";
    insert_ = Prepare(sql);
    // A copy from the very place the stored registration came from (a file imported again)
    // is no further source.
    insertSource_ = Prepare(
        "INSERT OR IGNORE INTO registration_source (registration_id, channel, source_file, source_ref, message_id,"
        " received_at) SELECT id, ?1, ?2, ?3, ?4, ?5 FROM registration WHERE dedup_key = ?6"
        " AND NOT (channel = ?1 AND source_file = ?2 AND source_ref = ?3)");
    insertRejected_ = Prepare(
        "INSERT OR IGNORE INTO rejected (source_file, source_ref, message_id, sender, subject, received_at, reason, text,"
        " dedup_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insertDoubt_ = Prepare(
        "INSERT INTO doubt (registration_id, position, field, kind, message, confidence, page, box_x, box_y, box_width,"
        " box_height) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insertRival_ = Prepare("INSERT INTO doubt_rival (doubt_id, rank, value) VALUES (?, ?, ?)");
    insertPage_ = Prepare("INSERT OR REPLACE INTO page_image (registration_id, page, width, height, format, image)"
                          " VALUES (?, ?, ?, ?, ?, ?)");
    selectDoubts_ = Prepare(
        "SELECT id, field, kind, message, confidence, page, box_x, box_y, box_width, box_height"
        " FROM doubt WHERE registration_id = ? ORDER BY position");
    selectRivals_ = Prepare("SELECT value FROM doubt_rival WHERE doubt_id = ? ORDER BY rank");
}

std::vector<std::string> Registration::ReviewLines() const {
    std::vector<std::string> lines;
    for (const Doubt& doubt : doubts) lines.push_back(doubt.Line());
    return lines;
}

StoredRegistration CDatabase::ReadRow(sqlite3_stmt* stmt) {
    StoredRegistration row;
    row.id = sqlite3_column_int64(stmt, 0);
    row.channel = Column(stmt, 1);
    row.sourceFile = Column(stmt, 2);
    row.sourceRef = Column(stmt, 3);
    row.receivedAt = Column(stmt, 4);
    row.importedAt = Column(stmt, 5);
    row.dedupKey = Column(stmt, 6);
    ReadFields(stmt, kFirstField, row.record);
    row.doubts = DoubtsOf(row.id);
    return row;
}

std::vector<Doubt> CDatabase::DoubtsOf(std::int64_t id) {
    sqlite3_stmt* stmt = selectDoubts_.Get();
    sqlite3_reset(stmt);
    sqlite3_bind_int64(stmt, 1, id);
    std::vector<Doubt> doubts;
    std::vector<std::int64_t> ids;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        Doubt d;
        ids.push_back(sqlite3_column_int64(stmt, 0));
        d.field = Column(stmt, 1);
        if (!DoubtKindFromName(Column(stmt, 2), d.kind)) d.kind = DoubtKind::Structure;
        d.message = Column(stmt, 3);
        d.confidence = sqlite3_column_int(stmt, 4);
        d.page = sqlite3_column_int(stmt, 5);
        d.box = {sqlite3_column_int(stmt, 6), sqlite3_column_int(stmt, 7), sqlite3_column_int(stmt, 8),
                 sqlite3_column_int(stmt, 9)};
        doubts.push_back(std::move(d));
    }
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) Fail("read doubts");
    sqlite3_stmt* rivals = selectRivals_.Get();
    for (std::size_t i = 0; i < doubts.size(); ++i) {
        sqlite3_reset(rivals);
        sqlite3_bind_int64(rivals, 1, ids[i]);
        while ((rc = sqlite3_step(rivals)) == SQLITE_ROW) doubts[i].rivals.push_back(Column(rivals, 0));
        sqlite3_reset(rivals);
        if (rc != SQLITE_DONE) Fail("read rivals");
    }
    return doubts;
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
    // One step per version, each from the one before: a new file goes through all of them.
    if (current == 0) CreateVersion1();
    if (current <= 1) UpgradeToV2();
    if (current <= 2) UpgradeToV3();
    if (current <= 3) UpgradeToV4();
    if (current <= 4) UpgradeToV5();
    if (current <= 5) UpgradeToV6();
    transaction.Commit();
}

// Version 0: a new, empty file (or a database of something else, which has tables).
void CDatabase::CreateVersion1() {
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
           "PRAGMA user_version = 1;";
    Exec(sql.c_str());
}

// Version 2: rejected messages kept, further sources of a registration, and mail registrations
// known by their answers alone. Runs inside Migrate's transaction.
void CDatabase::UpgradeToV2() {
    Exec("CREATE TABLE rejected ("
         " id INTEGER PRIMARY KEY,"
         " dedup_key TEXT NOT NULL UNIQUE,"
         " source_file TEXT NOT NULL,"
         " source_ref TEXT NOT NULL,"
         " message_id TEXT NOT NULL,"
         " sender TEXT NOT NULL,"
         " subject TEXT NOT NULL,"
         " received_at TEXT NOT NULL,"
         " imported_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
         " reason TEXT NOT NULL,"
         " text TEXT NOT NULL);"
         "CREATE TABLE registration_source ("
         " id INTEGER PRIMARY KEY,"
         " registration_id INTEGER NOT NULL REFERENCES registration(id),"
         " channel TEXT NOT NULL,"
         " source_file TEXT NOT NULL,"
         " source_ref TEXT NOT NULL,"
         " message_id TEXT NOT NULL,"
         " received_at TEXT NOT NULL,"
         " imported_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
         " UNIQUE (registration_id, channel, source_file, source_ref));");
    // Version 1 keyed a mail by its Message-ID and its text, a sheet by its printed answers; from
    // now on the 26 answers decide, whatever the channel. Of rows that now share a key (a forward
    // stored twice before) the first takes it and the later keep their old keys: they stay, and
    // new arrivals are linked to the first.
    std::vector<std::pair<std::int64_t, std::string>> keys;
    {
        CStatement rows =
            Prepare("SELECT id" + FieldColumns() + " FROM registration ORDER BY id");
        int rc;
        while ((rc = sqlite3_step(rows.Get())) == SQLITE_ROW) {
            RegistrationRecord record;
            ReadFields(rows.Get(), 1, record);
            keys.emplace_back(sqlite3_column_int64(rows.Get(), 0), AnswersKey(record));
        }
        if (rc != SQLITE_DONE) Fail("upgrade");
    }
    CStatement update = Prepare("UPDATE OR IGNORE registration SET dedup_key = ? WHERE id = ?");
    for (const auto& [id, key] : keys) {
        sqlite3_reset(update.Get());
        Bind(update.Get(), 1, key);
        sqlite3_bind_int64(update.Get(), 2, id);
        if (sqlite3_step(update.Get()) != SQLITE_DONE) Fail("upgrade");
    }
    Exec("PRAGMA user_version = 2");
}

// Version 3: doubts as rows (field, kind, message, rivals, confidence, page and box) instead of
// the joined text of the review column, and the page images the reader worked on. The old
// reasons become rows as they read, with any secret cut out of them.
void CDatabase::UpgradeToV3() {
    Exec("CREATE TABLE doubt ("
         " id INTEGER PRIMARY KEY,"
         " registration_id INTEGER NOT NULL REFERENCES registration(id) ON DELETE CASCADE,"
         " position INTEGER NOT NULL,"
         " field TEXT NOT NULL,"
         " kind TEXT NOT NULL,"
         " message TEXT NOT NULL,"
         " confidence INTEGER NOT NULL,"
         " page INTEGER NOT NULL,"
         " box_x INTEGER NOT NULL, box_y INTEGER NOT NULL, box_width INTEGER NOT NULL, box_height INTEGER NOT NULL);"
         "CREATE INDEX doubt_registration ON doubt(registration_id, position);"
         "CREATE TABLE doubt_rival ("
         " doubt_id INTEGER NOT NULL REFERENCES doubt(id) ON DELETE CASCADE,"
         " rank INTEGER NOT NULL,"
         " value TEXT NOT NULL,"
         " PRIMARY KEY (doubt_id, rank));"
         "CREATE TABLE page_image ("
         " registration_id INTEGER NOT NULL REFERENCES registration(id) ON DELETE CASCADE,"
         " page INTEGER NOT NULL,"
         " width INTEGER NOT NULL, height INTEGER NOT NULL,"
         " format TEXT NOT NULL,"
         " image BLOB NOT NULL,"
         " PRIMARY KEY (registration_id, page));");
    std::vector<std::pair<std::int64_t, std::vector<Doubt>>> old;
    {
        CStatement rows = Prepare("SELECT id, review" + FieldColumns() + " FROM registration WHERE review <> ''");
        int rc;
        while ((rc = sqlite3_step(rows.Get())) == SQLITE_ROW) {
            RegistrationRecord record;
            ReadFields(rows.Get(), 2, record);
            std::vector<Doubt> doubts;
            const std::string review = Column(rows.Get(), 1);
            for (std::size_t start = 0; start < review.size();) {
                std::size_t end = review.find('\n', start);
                if (end == std::string::npos) end = review.size();
                doubts.push_back(Keepable(DoubtFromLine(review.substr(start, end - start)), record));
                start = end + 1;
            }
            old.emplace_back(sqlite3_column_int64(rows.Get(), 0), std::move(doubts));
        }
        if (rc != SQLITE_DONE) Fail("upgrade");
    }
    // The statements that add doubts are made after the tables exist.
    CStatement doubt = Prepare(
        "INSERT INTO doubt (registration_id, position, field, kind, message, confidence, page, box_x, box_y, box_width,"
        " box_height) VALUES (?, ?, ?, ?, ?, -1, ?, 0, 0, 0, 0)");
    for (const auto& [id, doubts] : old)
        for (std::size_t i = 0; i < doubts.size(); ++i) {
            sqlite3_reset(doubt.Get());
            sqlite3_bind_int64(doubt.Get(), 1, id);
            sqlite3_bind_int(doubt.Get(), 2, static_cast<int>(i));
            Bind(doubt.Get(), 3, doubts[i].field);
            Bind(doubt.Get(), 4, DoubtKindName(doubts[i].kind));
            Bind(doubt.Get(), 5, doubts[i].message);
            sqlite3_bind_int(doubt.Get(), 6, doubts[i].page);
            if (sqlite3_step(doubt.Get()) != SQLITE_DONE) Fail("upgrade");
        }
    Exec("DROP INDEX registration_review;"
         "ALTER TABLE registration DROP COLUMN review;"
         "PRAGMA user_version = 3;");
}

// Version 4: the review station's clerks, their leases on registrations and their corrections.
void CDatabase::UpgradeToV4() {
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
         "CREATE INDEX correction_registration ON correction(registration);"
         "PRAGMA user_version = 4;");
}

// Version 5: a correction names the doubt it settled, so the record of a review says why a
// field was looked at, also when its value stayed.
void CDatabase::UpgradeToV5() {
    Exec("ALTER TABLE correction ADD COLUMN doubt_kind TEXT NOT NULL DEFAULT '';"
         "ALTER TABLE correction ADD COLUMN doubt_message TEXT NOT NULL DEFAULT '';"
         "PRAGMA user_version = 5;");
}

// Version 6: a mail registration keeps its record's text, so a clerk can read what came. Older
// rows have none.
void CDatabase::UpgradeToV6() {
    Exec("ALTER TABLE registration ADD COLUMN record_text TEXT NOT NULL DEFAULT '';"
         "ALTER TABLE registration ADD COLUMN record_text_size INTEGER NOT NULL DEFAULT 0;"
         "PRAGMA user_version = 6;");
}

AddOutcome CDatabase::Add(const Registration& r) {
    sqlite3_stmt* stmt = insert_.Get();
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const std::string* texts[] = {&r.channel, &r.sourceFile, &r.sourceRef, &r.receivedAt, &r.dedupKey};
    int index = 1;
    for (const std::string* text : texts)
        sqlite3_bind_text(stmt, index++, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, index++, r.recordText.data(), static_cast<int>(CharacterCut(r.recordText, kMaxRecordText)),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, index++, static_cast<sqlite3_int64>(r.recordText.size()));
    for (const MailElement& element : kMailElements) {
        const std::string& value = r.record.*element.field;
        sqlite3_bind_text(stmt, index++, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) Fail("add");
    if (sqlite3_changes(db_.Get()) == 1) {
        AddDetails(sqlite3_last_insert_rowid(db_.Get()), r);
        return AddOutcome::Added;
    }
    sqlite3_stmt* source = insertSource_.Get();
    sqlite3_reset(source);
    const std::string* sourceTexts[] = {&r.channel, &r.sourceFile, &r.sourceRef, &r.messageId, &r.receivedAt, &r.dedupKey};
    index = 1;
    for (const std::string* text : sourceTexts) Bind(source, index++, *text);
    const int sourceRc = sqlite3_step(source);
    sqlite3_reset(source);
    if (sourceRc != SQLITE_DONE) Fail("add source");
    return AddOutcome::Known;
}

void CDatabase::AddDetails(std::int64_t id, const Registration& r) {
    for (std::size_t i = 0; i < r.doubts.size(); ++i) {
        const Doubt d = Keepable(r.doubts[i], r.record);
        sqlite3_stmt* stmt = insertDoubt_.Get();
        sqlite3_reset(stmt);
        sqlite3_bind_int64(stmt, 1, id);
        sqlite3_bind_int(stmt, 2, static_cast<int>(i));
        Bind(stmt, 3, d.field);
        Bind(stmt, 4, DoubtKindName(d.kind));
        Bind(stmt, 5, d.message);
        const int numbers[] = {d.confidence, d.page, d.box.x, d.box.y, d.box.width, d.box.height};
        for (int k = 0; k < 6; ++k) sqlite3_bind_int(stmt, 6 + k, numbers[k]);
        if (sqlite3_step(stmt) != SQLITE_DONE) Fail("add doubt");
        const std::int64_t doubtId = sqlite3_last_insert_rowid(db_.Get());
        for (std::size_t rank = 0; rank < d.rivals.size(); ++rank) {
            sqlite3_stmt* rival = insertRival_.Get();
            sqlite3_reset(rival);
            sqlite3_bind_int64(rival, 1, doubtId);
            sqlite3_bind_int(rival, 2, static_cast<int>(rank));
            Bind(rival, 3, d.rivals[rank]);
            if (sqlite3_step(rival) != SQLITE_DONE) Fail("add rival");
        }
    }
    for (const StoredPage& page : r.pages) {
        sqlite3_stmt* stmt = insertPage_.Get();
        sqlite3_reset(stmt);
        sqlite3_bind_int64(stmt, 1, id);
        sqlite3_bind_int(stmt, 2, page.page);
        sqlite3_bind_int(stmt, 3, page.width);
        sqlite3_bind_int(stmt, 4, page.height);
        Bind(stmt, 5, page.format);
        sqlite3_bind_blob(stmt, 6, page.bytes.data(), static_cast<int>(page.bytes.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) != SQLITE_DONE) Fail("add page");
    }
}

std::optional<StoredPage> CDatabase::Page(std::int64_t id, int page) {
    CStatement stmt = Prepare("SELECT width, height, format, image FROM page_image WHERE registration_id = ? AND page = ?");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    sqlite3_bind_int(stmt.Get(), 2, page);
    const int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) Fail("read page");
    StoredPage stored;
    stored.page = page;
    stored.width = sqlite3_column_int(stmt.Get(), 0);
    stored.height = sqlite3_column_int(stmt.Get(), 1);
    stored.format = Column(stmt.Get(), 2);
    const void* blob = sqlite3_column_blob(stmt.Get(), 3);
    stored.bytes.assign(static_cast<const char*>(blob), static_cast<std::size_t>(sqlite3_column_bytes(stmt.Get(), 3)));
    return stored;
}

std::optional<StoredRecordText> CDatabase::RecordText(std::int64_t id) {
    CStatement stmt = Prepare("SELECT record_text, record_text_size FROM registration WHERE id = ?");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    const int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) Fail("read");
    return StoredRecordText{Column(stmt.Get(), 0), sqlite3_column_int64(stmt.Get(), 1)};
}

bool CDatabase::AddRejected(const RejectedMessage& m) {
    sqlite3_stmt* stmt = insertRejected_.Get();
    sqlite3_reset(stmt);
    const std::string text = CutUtf8(m.text, kMaxRejectedText);
    const std::string* texts[] = {&m.sourceFile, &m.sourceRef, &m.messageId, &m.sender, &m.subject,
                                  &m.receivedAt, &m.reason, &text, &m.dedupKey};
    int index = 1;
    for (const std::string* value : texts) Bind(stmt, index++, *value);
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) Fail("add rejected");
    return sqlite3_changes(db_.Get()) == 1;
}

std::vector<RegistrationSource> CDatabase::Sources(std::int64_t id) {
    CStatement stmt = Prepare("SELECT channel, source_file, source_ref, message_id, received_at, imported_at"
                              " FROM registration_source WHERE registration_id = ? ORDER BY id");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    std::vector<RegistrationSource> sources;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW)
        sources.push_back({Column(stmt.Get(), 0), Column(stmt.Get(), 1), Column(stmt.Get(), 2), Column(stmt.Get(), 3),
                           Column(stmt.Get(), 4), Column(stmt.Get(), 5)});
    if (rc != SQLITE_DONE) Fail("read");
    return sources;
}

void CDatabase::ForEachRejected(const std::function<void(const StoredRejected&)>& visit) {
    CStatement stmt = Prepare(std::string("SELECT ") + kRejectedColumns + " FROM rejected ORDER BY id");
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) visit(ReadRejected(stmt.Get()));
    if (rc != SQLITE_DONE) Fail("read");
}

std::optional<StoredRejected> CDatabase::FindRejected(std::int64_t id) {
    CStatement stmt = Prepare(std::string("SELECT ") + kRejectedColumns + " FROM rejected WHERE id = ?");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    const int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_ROW) return ReadRejected(stmt.Get());
    if (rc != SQLITE_DONE) Fail("read");
    return std::nullopt;
}

void CDatabase::ForEach(bool reviewOnly, const std::function<void(const StoredRegistration&)>& visit) {
    CStatement stmt = Prepare(std::string("SELECT ") + kFixedColumns + FieldColumns() + " FROM registration" +
                              (reviewOnly ? std::string(" WHERE ") + kNeedsReview : std::string()) + " ORDER BY id");
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) visit(ReadRow(stmt.Get()));
    if (rc != SQLITE_DONE) Fail("read");
}

std::vector<StoredRegistration> CDatabase::ReviewQueue(int limit) {
    CStatement stmt = Prepare(std::string("SELECT ") + kFixedColumns + FieldColumns() +
                              " FROM registration WHERE " + std::string(kNeedsReview) + " ORDER BY id LIMIT ?");
    sqlite3_bind_int(stmt.Get(), 1, limit);
    std::vector<StoredRegistration> rows;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) rows.push_back(ReadRow(stmt.Get()));
    if (rc != SQLITE_DONE) Fail("read");
    return rows;
}

std::int64_t CDatabase::ReviewCount() {
    CStatement stmt = Prepare(std::string("SELECT count(*) FROM registration WHERE ") + kNeedsReview);
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
    // Walked along the doubts' index from `afterId` on, not through every registration: with a
    // hundred thousand registrations and most of them sound, a scan of them all took 25 ms.
    CStatement pick = Prepare(
        "SELECT d.registration_id FROM doubt d LEFT JOIN lease l ON l.registration = d.registration_id"
        " WHERE d.registration_id > ?2 AND (l.registration IS NULL OR l.expires_at <= ?1)"
        " ORDER BY d.registration_id LIMIT 1");
    int rc = SQLITE_DONE;
    for (const std::int64_t after : {afterId, std::int64_t{-1}}) {
        sqlite3_reset(pick.Get());
        sqlite3_bind_int64(pick.Get(), 1, now);
        sqlite3_bind_int64(pick.Get(), 2, after);
        rc = sqlite3_step(pick.Get());
        if (rc != SQLITE_DONE) break;
    }
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

std::optional<std::int64_t> CDatabase::ReserveNext(const std::string& clerk, std::int64_t current, std::int64_t now,
                                                    int seconds) {
    CTransaction transaction(*this);
    // A page asked again (reloaded, or the passwords shown) gets the reservation it had.
    CStatement own = Prepare(
        "SELECT l.registration, l.expires_at FROM lease l WHERE l.clerk = ?1 AND l.registration <> ?2"
        " AND l.expires_at > ?3 AND EXISTS (SELECT 1 FROM doubt d WHERE d.registration_id = l.registration)"
        " ORDER BY l.registration LIMIT 1");
    BindText(own.Get(), 1, clerk);
    sqlite3_bind_int64(own.Get(), 2, current);
    sqlite3_bind_int64(own.Get(), 3, now);
    int rc = sqlite3_step(own.Get());
    std::optional<std::int64_t> id;
    // A lease of the clerk's that lasts longer (one taken in another window) is not cut short.
    bool longer = false;
    if (rc == SQLITE_ROW) {
        id = sqlite3_column_int64(own.Get(), 0);
        longer = sqlite3_column_int64(own.Get(), 1) >= now + seconds;
    } else if (rc != SQLITE_DONE) {
        Fail("lease");
    }
    if (!id) {
        CStatement pick = Prepare(
            "SELECT d.registration_id FROM doubt d LEFT JOIN lease l ON l.registration = d.registration_id"
            " WHERE d.registration_id > ?2 AND d.registration_id <> ?3 AND (l.registration IS NULL OR l.expires_at <= ?1)"
            " ORDER BY d.registration_id LIMIT 1");
        for (const std::int64_t after : {current, std::int64_t{-1}}) {
            sqlite3_reset(pick.Get());
            sqlite3_bind_int64(pick.Get(), 1, now);
            sqlite3_bind_int64(pick.Get(), 2, after);
            sqlite3_bind_int64(pick.Get(), 3, current);
            rc = sqlite3_step(pick.Get());
            if (rc == SQLITE_ROW) {
                id = sqlite3_column_int64(pick.Get(), 0);
                break;
            }
            if (rc != SQLITE_DONE) Fail("lease");
        }
    }
    CStatement others = Prepare("DELETE FROM lease WHERE clerk = ?1 AND registration <> ?2 AND registration <> ?3");
    BindText(others.Get(), 1, clerk);
    sqlite3_bind_int64(others.Get(), 2, current);
    sqlite3_bind_int64(others.Get(), 3, id.value_or(current));
    if (sqlite3_step(others.Get()) != SQLITE_DONE) Fail("lease");
    if (id && !longer && !TakeLease(*id, clerk, now, seconds)) Fail("lease taken under the write lock");
    transaction.Commit();
    return id;
}

bool CDatabase::LeaseChosen(const std::string& clerk, std::int64_t id, std::int64_t now, int seconds) {
    CTransaction transaction(*this);
    CStatement needed = Prepare("SELECT 1 FROM doubt WHERE registration_id = ? LIMIT 1");
    sqlite3_bind_int64(needed.Get(), 1, id);
    const int rc = sqlite3_step(needed.Get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail("lease");
    if (rc == SQLITE_DONE || !TakeLease(id, clerk, now, seconds)) return false;
    CStatement others = Prepare("DELETE FROM lease WHERE clerk = ? AND registration <> ?");
    BindText(others.Get(), 1, clerk);
    sqlite3_bind_int64(others.Get(), 2, id);
    if (sqlite3_step(others.Get()) != SQLITE_DONE) Fail("lease");
    transaction.Commit();
    return true;
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
    // The doubts each looked-at field settles, and those about the record as a whole.
    struct Settled {
        std::string kinds, messages;
    };
    std::map<std::string, Settled> settled;
    auto add = [](std::string& joined, const std::string& part) { joined += (joined.empty() ? "" : "; ") + part; };
    for (const Doubt& doubt : current->doubts) {
        const bool whole = !ElementNamed(doubt.field);
        bool looked = whole;
        for (const FieldChange& change : changes) looked = looked || change.field == doubt.field;
        if (!looked) continue;
        Settled& s = settled[doubt.field];
        add(s.kinds, DoubtKindName(doubt.kind));
        add(s.messages, doubt.message);
    }
    CStatement record = Prepare("INSERT INTO correction (registration, clerk, field, old_value, new_value, doubt_kind,"
                                " doubt_message) VALUES (?, ?, ?, ?, ?, ?, ?)");
    auto keep = [&](const std::string& field, const std::string& oldValue, const std::string& newValue) {
        const Settled& s = settled[field];
        sqlite3_reset(record.Get());
        sqlite3_bind_int64(record.Get(), 1, id);
        const std::string* texts[] = {&clerk, &field, &oldValue, &newValue, &s.kinds, &s.messages};
        for (int k = 0; k < 6; ++k) BindText(record.Get(), 2 + k, *texts[k]);
        if (sqlite3_step(record.Get()) != SQLITE_DONE) Fail("correct");
    };
    for (const FieldChange& change : changes) {
        const bool doubtful = settled.count(change.field) != 0;
        if (change.newValue == change.oldValue) {
            if (doubtful) keep(change.field, change.oldValue, change.newValue);  // confirmed as it stands
            continue;
        }
        // The column name comes from the element table, never from the request.
        CStatement update = Prepare(std::string("UPDATE registration SET ") + ElementNamed(change.field)->name +
                                    " = ? WHERE id = ?");
        BindText(update.Get(), 1, change.newValue);
        sqlite3_bind_int64(update.Get(), 2, id);
        if (sqlite3_step(update.Get()) != SQLITE_DONE) Fail("correct");
        keep(change.field, change.oldValue, change.newValue);
    }
    for (const auto& [field, s] : settled)
        if (!ElementNamed(field)) keep(field, std::string(), std::string());
    // The settled doubts go, their rivals with them (ON DELETE CASCADE).
    CStatement clear = Prepare("DELETE FROM doubt WHERE registration_id = ? AND field = ?");
    for (const auto& [field, s] : settled) {
        sqlite3_reset(clear.Get());
        sqlite3_bind_int64(clear.Get(), 1, id);
        BindText(clear.Get(), 2, field);
        if (sqlite3_step(clear.Get()) != SQLITE_DONE) Fail("settle");
    }
    transaction.Commit();
    return CorrectOutcome::Saved;
}

std::vector<Correction> CDatabase::Corrections(std::int64_t id) {
    CStatement stmt = Prepare("SELECT clerk, at, field, old_value, new_value, doubt_kind, doubt_message FROM correction"
                              " WHERE registration = ? ORDER BY id");
    sqlite3_bind_int64(stmt.Get(), 1, id);
    std::vector<Correction> corrections;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW)
        corrections.push_back({Column(stmt.Get(), 0), Column(stmt.Get(), 1), Column(stmt.Get(), 2), Column(stmt.Get(), 3),
                               Column(stmt.Get(), 4), Column(stmt.Get(), 5), Column(stmt.Get(), 6)});
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

void CDatabase::EnterWriterTurn() {
    if (writerTurn_.Get() < 0) {
        writerTurn_.Reset(::open((path_ + "-writers").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        // Without the file (a read-only folder) writers fall back to SQLite's own wait.
        if (writerTurn_.Get() < 0) return;
    }
    while (::flock(writerTurn_.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
}

void CDatabase::LeaveWriterTurn() {
    if (writerTurn_.Get() >= 0) ::flock(writerTurn_.Get(), LOCK_UN);
}

CTransaction::CTransaction(CDatabase& db) : db_(db) {
    db_.EnterWriterTurn();
    try {
        db_.Exec("BEGIN IMMEDIATE");
    } catch (...) {
        db_.LeaveWriterTurn();
        throw;
    }
}

CTransaction::~CTransaction() {
    if (!open_) return;
    // A failed ROLLBACK (the connection already rolled back) changes nothing that matters here.
    sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    db_.LeaveWriterTurn();
}

void CTransaction::Commit() {
    db_.Exec("COMMIT");
    open_ = false;
    db_.LeaveWriterTurn();
}

}  // namespace desk
