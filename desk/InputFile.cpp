// O_NOFOLLOW keeps a link from leading the import out of the folder it was given; O_NONBLOCK
// lets the open of a FIFO return at once, so it can be refused instead of waited on.
#include "desk/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace desk {

int OpenRegularFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ELOOP ? "a symbolic link, not followed" : std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never block; the flag is dropped all the same for the readers.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace desk
