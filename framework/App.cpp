// The application object.
#include "framework/App.h"

#include <vector>

namespace fw {

CApp* CApp::instance_ = nullptr;

namespace {

std::string ModuleBaseName() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD got = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (got == 0) return std::string();
        if (got < path.size()) {
            path.resize(got);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::string name(path.begin(), path.end());
    const size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

}  // namespace

CApp::CApp() : displayName_(ModuleBaseName()) { instance_ = this; }

CApp::~CApp() {
    if (instance_ == this) instance_ = nullptr;
}

}  // namespace fw
