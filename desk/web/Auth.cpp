// Sessions, the login slowdown, the one-time token and the Host and Origin rules.
#include "desk/web/Auth.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace desk::web {

std::string RandomToken() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

bool SameToken(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string CSessions::Open(const std::string& clerk, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) it = Expired(it->second, now) ? sessions_.erase(it) : ++it;
    if (sessions_.size() >= max_) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.lastSeen < b.second.lastSeen;
        });
        sessions_.erase(oldest);
    }
    std::string id = RandomToken();
    sessions_[id] = Session{clerk, RandomToken(), now, now};
    return id;
}

bool CSessions::Expired(const Session& s, Clock::time_point now) const {
    return now - s.lastSeen >= idle_ || now - s.created >= absolute_;
}

std::optional<CSessions::Session> CSessions::Touch(const std::string& id, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) return std::nullopt;
    if (Expired(it->second, now)) {
        sessions_.erase(it);
        return std::nullopt;
    }
    it->second.lastSeen = now;
    return it->second;
}

void CSessions::Close(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(id);
}

void CSessions::CloseClerk(const std::string& clerk) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) it = it->second.clerk == clerk ? sessions_.erase(it) : ++it;
}

Clock::duration CLoginThrottle::Remaining(std::map<std::string, Record>& records, const std::string& key,
                                          Clock::time_point now) {
    const auto it = records.find(key);
    if (it == records.end()) return Clock::duration::zero();
    if (now - it->second.last >= policy_.forget) {
        records.erase(it);
        return Clock::duration::zero();
    }
    return it->second.notBefore > now ? it->second.notBefore - now : Clock::duration::zero();
}

Clock::duration CLoginThrottle::Wait(const std::string& name, const std::string& address, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::max(Remaining(names_, name, now), Remaining(addresses_, address, now));
}

void CLoginThrottle::Count(std::map<std::string, Record>& records, const std::string& key, unsigned free,
                           Clock::time_point now) {
    if (records.size() >= policy_.maxKeys && !records.count(key)) {
        // Full: the keys quiet longest go first; a flood of names cannot grow the table.
        for (auto it = records.begin(); it != records.end();)
            it = now - it->second.last >= policy_.forget ? records.erase(it) : ++it;
        if (records.size() >= policy_.maxKeys) {
            const auto oldest = std::min_element(records.begin(), records.end(),
                                                 [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
            records.erase(oldest);
        }
    }
    Record& r = records[key];
    if (r.failures && now - r.last >= policy_.forget) r = Record();
    ++r.failures;
    r.last = now;
    if (r.failures <= free) return;
    Clock::duration delay = policy_.firstDelay;
    for (unsigned i = free + 1; i < r.failures && delay < policy_.maxDelay; ++i) delay *= 2;
    r.notBefore = now + std::min(delay, policy_.maxDelay);
}

void CLoginThrottle::Failed(const std::string& name, const std::string& address, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Count(names_, name, policy_.freeFailuresPerName, now);
    Count(addresses_, address, policy_.freeFailuresPerAddress, now);
}

void CLoginThrottle::Succeeded(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.erase(name);
}

bool CConcurrencyLimit::Enter(Clock::duration wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!freed_.wait_for(lock, wait, [this] { return free_ > 0; })) return false;
    --free_;
    return true;
}

void CConcurrencyLimit::Leave() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++free_;
    }
    freed_.notify_one();
}

bool COneTimeToken::Redeem(const std::string& candidate) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (used_ || !SameToken(candidate, token_)) return false;
    used_ = true;
    return true;
}

CHostRules::CHostRules(const std::string& listenHost, unsigned port, const std::vector<std::string>& extraHosts,
                       bool https)
    : scheme_(https ? "https://" : "http://") {
    const std::string suffix = ":" + std::to_string(port);
    const bool v6 = listenHost.find(':') != std::string::npos;
    for (const std::string& host : {v6 ? "[" + listenHost + "]" : listenHost, std::string("localhost"),
                                    std::string("127.0.0.1"), std::string("[::1]")})
        hosts_.push_back(host + suffix);
    for (const std::string& host : extraHosts) {
        hosts_.push_back(host);
        hosts_.push_back(host + suffix);
    }
}

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

bool CHostRules::HostAllowed(const std::string& host) const {
    const std::string wanted = Lower(host);
    return std::find(hosts_.begin(), hosts_.end(), wanted) != hosts_.end();
}

bool CHostRules::OriginAllowed(const std::string& origin, const std::string& referer) const {
    if (!origin.empty()) {
        const std::string o = Lower(origin);
        for (const std::string& host : hosts_)
            if (o == scheme_ + host) return true;
        return false;
    }
    const std::string r = Lower(referer);
    for (const std::string& host : hosts_)
        if (r.rfind(scheme_ + host + "/", 0) == 0) return true;
    return false;
}

}  // namespace desk::web
