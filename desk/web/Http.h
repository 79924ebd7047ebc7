// The review station's view of HTTP: a request read into plain members, the reply a handler
// hands back, and the router from a path to its handler. Nothing here knows libmicrohttpd;
// the server (Server.h) fills a CRequest and queues a Reply.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace desk::web {

using Fields = std::map<std::string, std::string>;

// Bounds for what a request may carry into the handlers.
constexpr std::size_t kMaxFormFields = 64;
// A registration's save carries each field twice (as seen and as changed), URL-encoded.
constexpr std::size_t kMaxBodyBytes = 256 * 1024;

struct CRequest {
    std::string method;       // "GET", "POST", ...
    std::string path;         // decoded, without the query
    Fields headers;           // names in lower case
    Fields cookies;
    Fields query;
    Fields form;              // an application/x-www-form-urlencoded body
    bool formMalformed = false;
    std::string peerAddress;  // "127.0.0.1", "::1"
    // Filled by the station once the session is known: who asks, and the session's token.
    std::string clerk;
    std::string csrf;

    const std::string& Header(const std::string& lowerName) const { return Get(headers, lowerName); }
    const std::string& Cookie(const std::string& name) const { return Get(cookies, name); }
    const std::string& Query(const std::string& name) const { return Get(query, name); }
    const std::string& Form(const std::string& name) const { return Get(form, name); }

private:
    static const std::string& Get(const Fields& fields, const std::string& name);
};

// Decodes "a=1&b=x%20y" into `out`: '+' is a blank, %XX a byte. False, with `out` holding what
// came before, when there are more than `maxFields` fields or a % escape is broken; a name
// given twice keeps its first value.
bool ParseUrlEncoded(std::string_view text, std::size_t maxFields, Fields& out);

// What a handler hands back; the server adds the headers every response carries.
struct Reply {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool cacheable = false;  // a static file of our own; everything else is no-store
};

using Handler = std::function<Reply(const CRequest&)>;

// One handler per method and path, found by exact match.
class CRouter {
public:
    void Add(const std::string& method, const std::string& path, Handler handler);
    // The handler, or null; `pathKnown` tells a wrong method (405) from an unknown path (404).
    const Handler* Find(const std::string& method, const std::string& path, bool& pathKnown) const;

private:
    std::map<std::pair<std::string, std::string>, Handler> routes_;
};

}  // namespace desk::web
