// Only imports that take longer than a moment get a bar, redrawn ten times a second.
#include "desk/TerminalProgress.h"

namespace desk {

CTerminalProgress::CTerminalProgress(std::FILE* bar, std::FILE* lines)
    : bar_(bar), lines_(lines), start_(std::chrono::steady_clock::now()), lastShown_(start_) {}

void CTerminalProgress::FileLine(const std::string& path, const std::string& text) {
    if (bar_ && shown_) std::fputs("\r\033[K", bar_);  // the line goes where the bar stood
    lines_.FileLine(path, text);
}

void CTerminalProgress::Progress(const ImportCounts& counts, bool final) {
    if (!bar_) return;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (!final && (elapsed < 0.5 || now - lastShown_ < std::chrono::milliseconds(100))) return;
    if (final && !shown_) return;
    lastShown_ = now;
    shown_ = true;
    const double rate = elapsed > 0 ? static_cast<double>(counts.read) / elapsed : 0;
    std::fprintf(bar_, "\r\033[Kimporting: %zu messages read, %zu registrations found, %.0f/s", counts.read,
                 counts.added + counts.known, rate);
    if (final) std::fputs("\r\033[K", bar_);
    std::fflush(bar_);
}

}  // namespace desk
