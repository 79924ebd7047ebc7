// Pages from the built-in templates.
#include "desk/web/Pages.h"

#include <stdexcept>

#include "desk/web/Resources.h"

namespace desk::web {

std::string CResponder::Render(const std::string& name, Data& data) const {
    const EmbeddedFile* file = FindEmbedded("templates/" + name + ".mustache");
    if (!file) throw std::runtime_error("no template " + name);
    kainjow::mustache::mustache tmpl(std::string(file->data, file->size));
    if (!tmpl.is_valid()) throw std::runtime_error("template " + name + ": " + tmpl.error_message());
    std::string text = tmpl.render(data);
    if (!tmpl.is_valid()) throw std::runtime_error("template " + name + ": " + tmpl.error_message());
    return text;
}

Reply CResponder::Page(const CRequest& request, const std::string& name, const std::string& title, Data data,
                       int status) const {
    if (!request.clerk.empty()) {
        data.set("loggedIn", true);
        data.set("clerk", request.clerk);
        data.set("csrf", request.csrf);
    }
    Data layout;
    layout.set("title", title);
    layout.set("body", Render(name, data));
    if (!request.clerk.empty()) {
        layout.set("loggedIn", true);
        layout.set("clerk", request.clerk);
        layout.set("csrf", request.csrf);
    }
    Reply reply;
    reply.status = status;
    reply.body = Render("layout", layout);
    return reply;
}

Reply CResponder::Document(const std::string& name, Data data, int status) const {
    Reply reply;
    reply.status = status;
    reply.body = Render(name, data);
    return reply;
}

Reply CResponder::Redirect(const std::string& location) const {
    Reply reply;
    reply.status = 303;
    reply.contentType = "text/plain; charset=utf-8";
    reply.headers.emplace_back("Location", location);
    return reply;
}

Reply CResponder::Error(const CRequest& request, int status, const std::string& message) const {
    Data data;
    data.set("status", std::to_string(status));
    data.set("message", message);
    return Page(request, "error", "Fehler", data, status);
}

Reply CResponder::Download(std::string bytes, const std::string& contentType, const std::string& fileName) const {
    Reply reply;
    reply.contentType = contentType;
    reply.body = std::move(bytes);
    reply.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
    return reply;
}

Reply CResponder::Json(std::string text) const {
    Reply reply;
    reply.contentType = "application/json";
    reply.body = std::move(text);
    return reply;
}

Reply CResponder::Static(const CRequest& request) const {
    const EmbeddedFile* file = request.path.rfind("/static/", 0) == 0 ? FindEmbedded(request.path.substr(1)) : nullptr;
    if (!file) return Error(request, 404, "Diese Seite gibt es nicht.");
    Reply reply;
    const std::string& path = request.path;
    reply.contentType = path.size() > 4 && path.compare(path.size() - 4, 4, ".css") == 0
                            ? "text/css; charset=utf-8"
                            : "text/javascript; charset=utf-8";
    reply.body.assign(file->data, file->size);
    reply.cacheable = true;
    return reply;
}

}  // namespace desk::web
