// Export files written safely: mkstemp beside the target (O_EXCL, mode 0600), one descriptor,
// fsync, rename.
#include "desk/OutputFile.h"

#include "desk/Database.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <streambuf>

namespace desk {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Throw(const std::string& path, int error) {
    throw std::runtime_error(path + ": " + std::strerror(error));
}

}  // namespace

// Writes to the descriptor in blocks; a failed write is remembered and reported by Commit().
class COutputFile::CBuffer : public std::streambuf {
public:
    explicit CBuffer(int fd) : fd_(fd) { setp(block_, block_ + sizeof block_); }
    int Error() const { return error_; }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        for (const char* p = pbase(); p < pptr();) {
            const ssize_t n = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                setp(block_, block_ + sizeof block_);
                return -1;
            }
            p += n;
        }
        setp(block_, block_ + sizeof block_);
        return 0;
    }

private:
    int fd_;
    int error_ = 0;
    char block_[1 << 16];
};

COutputFile::COutputFile(const std::string& target, const std::string& databasePath) : target_(target) {
    if (IsDatabaseFile(target, databasePath))
        throw std::runtime_error(target + ": is the database or one of its files, not overwritten");
    const fs::path parent = fs::path(target).parent_path();
    std::string pattern = ((parent.empty() ? fs::path(".") : parent) / ".velkdesk-export-XXXXXX").string();
    fd_ = ::mkstemp(pattern.data());  // O_EXCL, mode 0600
    if (fd_ < 0) Throw(target, errno);
    temp_ = pattern;
    buffer_ = std::make_unique<CBuffer>(fd_);
    stream_ = std::make_unique<std::ostream>(buffer_.get());
}

COutputFile::~COutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

std::ostream& COutputFile::Stream() {
    return *stream_;
}

void COutputFile::Commit() {
    stream_->flush();
    if (buffer_->Error()) Throw(target_, buffer_->Error());
    if (!*stream_) Throw(target_, EIO);
    if (::fsync(fd_) != 0) Throw(target_, errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) Throw(target_, errno);
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) Throw(target_, errno);
    temp_.clear();
}

}  // namespace desk
