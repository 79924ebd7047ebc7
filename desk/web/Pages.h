// The response builder of the review station: a page from a template with its data (inside
// the common layout), a redirect, an error page, a download and the built-in static files.
// Every page is rendered by kainjow mustache, which escapes every value unless a template
// asks otherwise; no HTML is put together in C++.
#pragma once

#include <string>

#include <kainjow/mustache.hpp>

#include "desk/web/Http.h"

namespace desk::web {

using Data = kainjow::mustache::data;

class CResponder {
public:
    // `request` gives the layout who is logged in and the session's token for its forms.
    Reply Page(const CRequest& request, const std::string& name, const std::string& title, Data data,
               int status = 200) const;
    // A page that is a whole document of its own, without the station's layout (the online form).
    Reply Document(const std::string& name, Data data, int status = 200) const;
    // 303 See Other to a path of this station.
    Reply Redirect(const std::string& location) const;
    Reply Error(const CRequest& request, int status, const std::string& message) const;
    Reply Download(std::string bytes, const std::string& contentType, const std::string& fileName) const;
    Reply Json(std::string text) const;
    // "/static/NAME" from the built-in files; a 404 page when there is none.
    Reply Static(const CRequest& request) const;

private:
    // Renders templates/NAME.mustache; throws std::runtime_error for a missing or broken one.
    std::string Render(const std::string& name, Data& data) const;
};

}  // namespace desk::web
