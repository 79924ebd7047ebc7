// The station's templates and static files, built into the program (EmbedWebFiles.cmake).
#pragma once

#include <string_view>

namespace desk::web {

struct EmbeddedFile {
    const char* name;  // "templates/queue.mustache", "static/desk.css"
    const char* data;
    unsigned long size;
};
extern const EmbeddedFile kEmbeddedFiles[];
extern const unsigned long kEmbeddedFileCount;

// The file of that name, or null.
inline const EmbeddedFile* FindEmbedded(std::string_view name) {
    for (unsigned long i = 0; i < kEmbeddedFileCount; ++i)
        if (name == kEmbeddedFiles[i].name) return &kEmbeddedFiles[i];
    return nullptr;
}

}  // namespace desk::web
