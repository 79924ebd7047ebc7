// The review station's clerk accounts: a name and an Argon2id hash of its password, kept in the
// desk's database. The password itself is never stored, printed or logged.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "desk/Database.h"

namespace desk {

// A refused account change, with a reason fit for the clerk's terminal (it never holds a password).
class CClerkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CClerks {
public:
    explicit CClerks(CDatabase& db) : db_(db) {}

    // 1 to 64 of A-Z a-z 0-9 . _ -: a name that is safe in a page, a log line and a terminal.
    static bool ValidName(const std::string& name);
    // Passwords of 8 to 1024 bytes; the upper bound keeps hashing bounded.
    static constexpr std::size_t kMinPassword = 8;
    static constexpr std::size_t kMaxPassword = 1024;

    // Throws CClerkError for an invalid name or password, or a name already taken.
    void Add(const std::string& name, const std::string& password);
    // False when there was no such clerk.
    bool Remove(const std::string& name);
    std::vector<std::string> Names();
    bool Any();
    // The stored hash of `name`, if there is such a clerk.
    std::optional<std::string> Hash(const std::string& name);

    // Argon2id with libsodium's interactive limits, as crypto_pwhash_str's text.
    static std::string HashPassword(const std::string& password);
    static bool Verify(const std::string& hash, const std::string& password);

private:
    CDatabase& db_;
};

}  // namespace desk
