// Who gets into the review station: sessions with their anti-forgery token and expiry, the
// slowdown of failed logins, the one-time token of a station without accounts, and which Host
// and Origin headers belong to this station. Plain rules over explicit times, so they are
// tested without a clock or a server.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace desk::web {

using Clock = std::chrono::steady_clock;

// 32 random bytes as 64 hex digits (libsodium's generator).
std::string RandomToken();
// Compares in time independent of where the texts differ.
bool SameToken(const std::string& a, const std::string& b);

class CSessions {
public:
    struct Session {
        std::string clerk;
        std::string csrf;  // the token every state change must carry
        Clock::time_point created;
        Clock::time_point lastSeen;
    };
    CSessions(Clock::duration idle, Clock::duration absolute, std::size_t maxSessions)
        : idle_(idle), absolute_(absolute), max_(maxSessions) {}

    // A new session for `clerk`; its id goes into the cookie. When full, the oldest goes.
    std::string Open(const std::string& clerk, Clock::time_point now);
    // The live session of `id`, its idle time restarted; none when unknown or expired.
    std::optional<Session> Touch(const std::string& id, Clock::time_point now);
    void Close(const std::string& id);
    // Ends every session of `clerk` (an account removed while logged in).
    void CloseClerk(const std::string& clerk);

private:
    bool Expired(const Session& s, Clock::time_point now) const;
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
    Clock::duration idle_, absolute_;
    std::size_t max_;
};

// Failed logins slow down the next attempts, per clerk name and per address, and the delay
// doubles with every failure. An attempt before its time is refused without looking at the
// password, so guessing costs time and no request waits for another.
class CLoginThrottle {
public:
    struct Policy {
        unsigned freeFailuresPerName = 1;      // failures before a name waits at all
        unsigned freeFailuresPerAddress = 5;   // an address may be a proxy for many clerks
        Clock::duration firstDelay = std::chrono::seconds(1);
        Clock::duration maxDelay = std::chrono::minutes(5);
        Clock::duration forget = std::chrono::minutes(30);  // a key quiet this long starts over
        std::size_t maxKeys = 10000;
    };
    explicit CLoginThrottle(Policy policy) : policy_(policy) {}

    // How long an attempt for `name` from `address` must still wait; zero when it may go ahead.
    Clock::duration Wait(const std::string& name, const std::string& address, Clock::time_point now);
    void Failed(const std::string& name, const std::string& address, Clock::time_point now);
    // A successful login forgets the name's failures (not the address's).
    void Succeeded(const std::string& name);

private:
    struct Record {
        unsigned failures = 0;
        Clock::time_point last;
        Clock::time_point notBefore;
    };
    void Count(std::map<std::string, Record>& records, const std::string& key, unsigned free, Clock::time_point now);
    Clock::duration Remaining(std::map<std::string, Record>& records, const std::string& key, Clock::time_point now);
    Policy policy_;
    std::mutex mutex_;
    std::map<std::string, Record> names_, addresses_;
};

// At most `slots` holders at once; the others wait their turn, up to a limit. Password checks
// go through one: each takes Argon2id's 64 MiB, and connections alone would allow dozens.
class CConcurrencyLimit {
public:
    explicit CConcurrencyLimit(unsigned slots) : free_(slots) {}
    // True with a slot taken; false when none came free within `wait`.
    bool Enter(Clock::duration wait);
    void Leave();

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    unsigned free_;
};

// The token printed at start by a station without accounts: it opens one session, once.
class COneTimeToken {
public:
    COneTimeToken() : token_(RandomToken()) {}
    const std::string& Text() const { return token_; }
    // True the first time the right token is given; false ever after.
    bool Redeem(const std::string& candidate);

private:
    std::mutex mutex_;
    std::string token_;
    bool used_ = false;
};

// The names this station answers to: the listen address, localhost, 127.0.0.1 and [::1], with
// the port, plus names given with --host (with or without the port, as a proxy passes them).
// A request for any other Host is refused, so a rebound DNS name cannot reach the station;
// a state change must come from a page of one of these origins.
class CHostRules {
public:
    CHostRules(const std::string& listenHost, unsigned port, const std::vector<std::string>& extraHosts, bool https);
    bool HostAllowed(const std::string& host) const;
    // `origin` is the Origin header; when there is none, `referer` must start with an allowed
    // origin and "/".
    bool OriginAllowed(const std::string& origin, const std::string& referer) const;

private:
    std::vector<std::string> hosts_;
    std::string scheme_;
};

}  // namespace desk::web
