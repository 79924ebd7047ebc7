// Form decoding and routing for the review station.
#include "desk/web/Http.h"

namespace desk::web {

const std::string& CRequest::Get(const Fields& fields, const std::string& name) {
    static const std::string kNone;
    const auto it = fields.find(name);
    return it == fields.end() ? kNone : it->second;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Decode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

}  // namespace

bool ParseUrlEncoded(std::string_view text, std::size_t maxFields, Fields& out) {
    std::size_t count = 0;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty()) continue;
        if (++count > maxFields) return false;
        const std::size_t eq = pair.find('=');
        std::string name, value;
        if (!Decode(pair.substr(0, eq), name)) return false;
        if (eq != std::string_view::npos && !Decode(pair.substr(eq + 1), value)) return false;
        out.emplace(std::move(name), std::move(value));
    }
    return true;
}

void CRouter::Add(const std::string& method, const std::string& path, Handler handler) {
    routes_[{method, path}] = std::move(handler);
}

const Handler* CRouter::Find(const std::string& method, const std::string& path, bool& pathKnown) const {
    const auto it = routes_.find({method, path});
    if (it != routes_.end()) return &it->second;
    pathKnown = false;
    for (const auto& route : routes_)
        if (route.first.second == path) pathKnown = true;
    return nullptr;
}

}  // namespace desk::web
