// The import's progress bar on a terminal, for the command line: one line redrawn in place, and
// the files' lines printed above it.
#pragma once

#include <chrono>
#include <cstdio>

#include "desk/Import.h"

namespace desk {

class CTerminalProgress : public IImportObserver {
public:
    // `bar` is the terminal the bar is drawn on (null: no bar); `lines` gets the files' lines.
    CTerminalProgress(std::FILE* bar, std::FILE* lines);
    void Progress(const ImportCounts& counts, bool final) override;
    void FileLine(const std::string& path, const std::string& text) override;

private:
    std::FILE* bar_;
    CLineObserver lines_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastShown_;
    bool shown_ = false;
};

}  // namespace desk
