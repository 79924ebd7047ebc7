// Opening what velkdesk is asked to read: regular files only, never through a symbolic link,
// and never blocking on a FIFO or a device.
#pragma once

#include <string>

namespace desk {

// A read-only descriptor for `path`, or -1 with `error` set: a symbolic link, a FIFO, a device
// or a folder is refused without waiting on it.
int OpenRegularFile(const std::string& path, std::string& error);

}  // namespace desk
