// The only file that speaks to libmicrohttpd.
#include "desk/web/Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

namespace desk::web {

namespace {

// One daemon, stopped (its threads joined) on scope exit.
class CMhdDaemon {
public:
    CMhdDaemon() = default;
    ~CMhdDaemon() {
        if (daemon_) MHD_stop_daemon(daemon_);
    }
    CMhdDaemon(const CMhdDaemon&) = delete;
    CMhdDaemon& operator=(const CMhdDaemon&) = delete;
    void Reset(MHD_Daemon* daemon) {
        if (daemon_) MHD_stop_daemon(daemon_);
        daemon_ = daemon;
    }
    MHD_Daemon* Get() const { return daemon_; }

private:
    MHD_Daemon* daemon_ = nullptr;
};

// One response, released on scope exit (a queued response keeps its own reference).
class CMhdResponse {
public:
    explicit CMhdResponse(MHD_Response* response) : response_(response) {}
    ~CMhdResponse() {
        if (response_) MHD_destroy_response(response_);
    }
    CMhdResponse(const CMhdResponse&) = delete;
    CMhdResponse& operator=(const CMhdResponse&) = delete;
    MHD_Response* Get() const { return response_; }

private:
    MHD_Response* response_;
};

// What is known of a request between libmicrohttpd's calls: its body so far.
struct PendingRequest {
    std::string body;
};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

MHD_Result Collect(void* target, MHD_ValueKind, const char* key, const char* value) {
    auto* fields = static_cast<std::pair<Fields*, bool>*>(target);
    if (!key) return MHD_YES;
    // Repeated headers and arguments keep their first value, as ParseUrlEncoded does.
    fields->first->emplace(fields->second ? Lower(key) : std::string(key), value ? value : "");
    return fields->first->size() < 256 ? MHD_YES : MHD_NO;
}

std::string PeerAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return std::string();
    char text[INET6_ADDRSTRLEN] = {};
    if (info->client_addr->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text, sizeof text);
    else if (info->client_addr->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, text, sizeof text);
    return text;
}

// Reads what libmicrohttpd parsed of one connection into plain members.
CRequest ReadRequest(MHD_Connection* connection, const char* method, const char* url, const std::string& body) {
    CRequest request;
    request.method = method;
    request.path = url;
    std::pair<Fields*, bool> headers{&request.headers, true}, cookies{&request.cookies, false},
        query{&request.query, false};
    MHD_get_connection_values(connection, MHD_HEADER_KIND, Collect, &headers);
    MHD_get_connection_values(connection, MHD_COOKIE_KIND, Collect, &cookies);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, Collect, &query);
    request.peerAddress = PeerAddress(connection);
    const std::string type = Lower(request.Header("content-type"));
    if (!body.empty()) {
        if (type.rfind("application/x-www-form-urlencoded", 0) == 0)
            request.formMalformed = !ParseUrlEncoded(body, kMaxFormFields, request.form);
        else
            request.formMalformed = true;
    }
    return request;
}

}  // namespace

struct CHttpServer::Impl {
    Dispatch dispatch;
    ServerLimits limits;
    CMhdDaemon daemon;

    static MHD_Result Queue(MHD_Connection* connection, const Reply& reply, const std::string& policy) {
        CMhdResponse response(
            MHD_create_response_from_buffer(reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY));
        if (!response.Get()) return MHD_NO;
        MHD_Response* r = response.Get();
        MHD_add_response_header(r, "Content-Type", reply.contentType.c_str());
        MHD_add_response_header(r, "Content-Security-Policy", policy.c_str());
        MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
        // No address of ours goes to another site. Not no-referrer: under that policy a browser
        // sends "Origin: null" with the station's own forms, and the Origin check needs the real one.
        MHD_add_response_header(r, "Referrer-Policy", "same-origin");
        MHD_add_response_header(r, "X-Frame-Options", "DENY");
        MHD_add_response_header(r, "Cache-Control", reply.cacheable ? "private, max-age=3600" : "no-store");
        for (const auto& header : reply.headers) MHD_add_response_header(r, header.first.c_str(), header.second.c_str());
        return MHD_queue_response(connection, static_cast<unsigned>(reply.status), r);
    }

    static MHD_Result Access(void* self, MHD_Connection* connection, const char* url, const char* method, const char*,
                             const char* uploadData, size_t* uploadSize, void** state) {
        Impl& impl = *static_cast<Impl*>(self);
        if (!*state) {
            // First call: the headers are in. A body announced too large is refused unread.
            const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length && std::strtoull(length, nullptr, 10) > impl.limits.bodyBytes) {
                Reply tooLarge;
                tooLarge.status = 413;
                tooLarge.contentType = "text/plain; charset=utf-8";
                tooLarge.body = "Anfrage zu groß.\n";
                return Queue(connection, tooLarge, impl.limits.contentSecurityPolicy);
            }
            *state = new PendingRequest;
            return MHD_YES;
        }
        auto* pending = static_cast<PendingRequest*>(*state);
        if (*uploadSize) {
            // A chunked body that grows past the bound ends the connection.
            if (pending->body.size() + *uploadSize > impl.limits.bodyBytes) return MHD_NO;
            pending->body.append(uploadData, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        Reply reply;
        try {
            reply = impl.dispatch(ReadRequest(connection, method, url, pending->body));
        } catch (const std::exception&) {
            // The reason may carry data; the clerk gets a plain error, nothing leaks.
            reply = Reply();
            reply.status = 500;
            reply.contentType = "text/plain; charset=utf-8";
            reply.body = "Interner Fehler.\n";
        }
        return Queue(connection, reply, impl.limits.contentSecurityPolicy);
    }

    static void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
        delete static_cast<PendingRequest*>(*state);
        *state = nullptr;
    }
};

ListenAddress ParseListenAddress(const std::string& text) {
    ListenAddress address;
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            throw CServerError("--listen: expected [IPv6]:PORT");
        address.host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
        address.ipv6 = true;
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) throw CServerError("--listen: expected HOST:PORT");
        address.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    if (portText.empty() || portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), ::isdigit) ||
        std::stoul(portText) > 65535)
        throw CServerError("--listen: the port is a number from 0 to 65535");
    address.port = static_cast<std::uint16_t>(std::stoul(portText));
    if (address.host == "localhost") {
        address.loopback = true;
        return address;
    }
    if (address.ipv6) {
        in6_addr a;
        if (inet_pton(AF_INET6, address.host.c_str(), &a) != 1) throw CServerError("--listen: not an IPv6 address");
        address.loopback = IN6_IS_ADDR_LOOPBACK(&a);
    } else {
        in_addr a;
        if (inet_pton(AF_INET, address.host.c_str(), &a) != 1)
            throw CServerError("--listen: the host is an IP address or localhost");
        address.loopback = (ntohl(a.s_addr) >> 24) == 127;
    }
    return address;
}

CHttpServer::CHttpServer(const ListenAddress& address, const ServerLimits& limits, Dispatch dispatch)
    : impl_(std::make_unique<Impl>()) {
    impl_->dispatch = std::move(dispatch);
    impl_->limits = limits;
    sockaddr_storage storage = {};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION;
    if (address.ipv6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(address.port);
        inet_pton(AF_INET6, address.host.c_str(), &a6->sin6_addr);
        flags |= MHD_USE_IPv6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(address.port);
        inet_pton(AF_INET, address.host == "localhost" ? "127.0.0.1" : address.host.c_str(), &a4->sin_addr);
    }
    impl_->daemon.Reset(MHD_start_daemon(
        flags, address.port, nullptr, nullptr, &Impl::Access, impl_.get(),
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&storage),
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits.connections),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(limits.connectionsPerAddress),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.timeoutSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(limits.connectionMemory),
        MHD_OPTION_STRICT_FOR_CLIENT, 1,
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::Completed, impl_.get(),
        MHD_OPTION_END));
    if (!impl_->daemon.Get())
        throw CServerError("cannot listen on " + address.host + ":" + std::to_string(address.port) +
                           " (in use, or not an address of this machine)");
    const MHD_DaemonInfo* info = MHD_get_daemon_info(impl_->daemon.Get(), MHD_DAEMON_INFO_LISTEN_FD);
    sockaddr_storage bound = {};
    socklen_t length = sizeof bound;
    if (info && getsockname(info->listen_fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

CHttpServer::~CHttpServer() = default;

}  // namespace desk::web
