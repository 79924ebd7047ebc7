// Clerk accounts on the desk's database, hashed by libsodium.
#include "desk/Clerks.h"

#include <sodium.h>

namespace desk {

namespace {

void InitSodium() {
    // sodium_init is idempotent and thread-safe; -1 only when no randomness can be had.
    if (sodium_init() < 0) throw CClerkError("libsodium cannot be initialised");
}

}  // namespace

bool CClerks::ValidName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-'))
            return false;
    return true;
}

std::string CClerks::HashPassword(const std::string& password) {
    InitSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw CClerkError("out of memory while hashing the password");
    return hash;
}

bool CClerks::Verify(const std::string& hash, const std::string& password) {
    InitSodium();
    if (password.size() > kMaxPassword) return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void CClerks::Add(const std::string& name, const std::string& password) {
    if (!ValidName(name)) throw CClerkError("a clerk's name is 1 to 64 letters, digits, '.', '_' or '-'");
    if (password.size() < kMinPassword || password.size() > kMaxPassword)
        throw CClerkError("a password has " + std::to_string(kMinPassword) + " to " + std::to_string(kMaxPassword) +
                          " characters");
    const std::string hash = HashPassword(password);
    CStatement stmt = db_.Prepare("INSERT INTO clerk (name, hash) VALUES (?, ?) ON CONFLICT(name) DO NOTHING");
    sqlite3_bind_text(stmt.Get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.Get(), 2, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE) db_.Fail("clerk add");
    if (sqlite3_changes(db_.Handle()) != 1) throw CClerkError("there is already a clerk named " + name);
}

bool CClerks::Remove(const std::string& name) {
    CStatement stmt = db_.Prepare("DELETE FROM clerk WHERE name = ?");
    sqlite3_bind_text(stmt.Get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE) db_.Fail("clerk remove");
    return sqlite3_changes(db_.Handle()) == 1;
}

std::vector<std::string> CClerks::Names() {
    CStatement stmt = db_.Prepare("SELECT name FROM clerk ORDER BY name");
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW)
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.Get(), 0)));
    if (rc != SQLITE_DONE) db_.Fail("clerk list");
    return names;
}

bool CClerks::Any() {
    CStatement stmt = db_.Prepare("SELECT EXISTS (SELECT 1 FROM clerk)");
    if (sqlite3_step(stmt.Get()) != SQLITE_ROW) db_.Fail("clerk");
    return sqlite3_column_int(stmt.Get(), 0) != 0;
}

std::optional<std::string> CClerks::Hash(const std::string& name) {
    CStatement stmt = db_.Prepare("SELECT hash FROM clerk WHERE name = ?");
    sqlite3_bind_text(stmt.Get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_ROW) return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt.Get(), 0)));
    if (rc != SQLITE_DONE) db_.Fail("clerk");
    return std::nullopt;
}

}  // namespace desk
