// The review station's HTTP server over GNU libmicrohttpd: reads each request into a CRequest,
// hands it to one function and queues the Reply it gets back, with the headers every response
// carries. Limits on connections, time, headers and bodies keep a hostile client bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "desk/web/Http.h"

namespace desk::web {

class CServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "HOST:PORT" with HOST an IPv4 address, "localhost" or a bracketed IPv6 address.
struct ListenAddress {
    std::string host;  // as given, without brackets ("127.0.0.1", "::1", "localhost")
    std::uint16_t port = 0;
    bool ipv6 = false;
    bool loopback = false;
};
// Throws CServerError saying what is wrong.
ListenAddress ParseListenAddress(const std::string& text);

struct ServerLimits {
    unsigned connections = 64;             // at once, in all
    unsigned connectionsPerAddress = 16;
    unsigned timeoutSeconds = 30;          // a connection idle this long is closed
    std::size_t connectionMemory = 32 * 1024;  // request line, headers and read buffer
    std::size_t bodyBytes = kMaxBodyBytes;
    // Sent with every response: a page may load only our own script, style and images, and be
    // framed by nobody. The online form, which has no script, narrows it further.
    std::string contentSecurityPolicy =
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
        "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
};

class CHttpServer {
public:
    using Dispatch = std::function<Reply(const CRequest&)>;
    // Starts serving at once on its own threads (one per connection). Throws CServerError when
    // the address cannot be bound.
    CHttpServer(const ListenAddress& address, const ServerLimits& limits, Dispatch dispatch);
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // The port actually bound (the one asked for, or the system's pick for port 0).
    std::uint16_t Port() const { return port_; }

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    std::uint16_t port_ = 0;
};

}  // namespace desk::web
