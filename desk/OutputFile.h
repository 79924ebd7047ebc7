// Files velkdesk writes for people (the exports): whole or not at all, readable by their owner
// only, and never one of the database's own files.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "desk/Guards.h"

namespace desk {

// A temporary file beside `target`, mode 0600, written through one descriptor and renamed over
// the target by Commit(); left without Commit() it is removed and the target stays as it was.
// The rename replaces a symbolic link at the target instead of writing where it points.
class COutputFile : CNonCopyable {
public:
    // Throws std::runtime_error when `target` is the database at `databasePath` or one of its
    // companions (-wal, -shm, -journal), or when the temporary file cannot be made.
    COutputFile(const std::string& target, const std::string& databasePath);
    ~COutputFile();

    std::ostream& Stream();
    // The temporary file's path, for a library that writes a file by its name (it opens the
    // same file again; it is this process's own, mode 0600, made with O_EXCL).
    const std::string& TempPath() const { return temp_; }
    // Flushes, syncs and renames into place; throws std::runtime_error on any failure.
    void Commit();

private:
    class CBuffer;
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    std::unique_ptr<CBuffer> buffer_;
    std::unique_ptr<std::ostream> stream_;
};

}  // namespace desk
