#include "BoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Closes a descriptor when the reading is over, however it ends.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

BoundedFile::Result BoundedFile::Read(const std::string& path) {
    text_.clear();
    size_ = 0;
    error_ = 0;
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it can be refused.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (noFollow_ ? O_NOFOLLOW : 0);
    const Descriptor file{::open(path.c_str(), flags)};
    if (file.fd < 0) {
        error_ = errno;
        return error_ == ENOENT || error_ == ENOTDIR ? NotFound : Failed;
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        error_ = errno;
        return Failed;
    }
    owner_ = static_cast<unsigned>(info.st_uid);
    mode_ = static_cast<unsigned>(info.st_mode & 07777);
    size_ = static_cast<unsigned long long>(info.st_size);
    if (!S_ISREG(info.st_mode))
        return NotRegular;
    if (size_ > maxSize_)
        return TooLarge;
    text_.reserve(static_cast<size_t>(size_));
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = errno;
            text_.clear();
            return Failed;
        }
        if (n == 0)
            break;
        text_.append(chunk, static_cast<size_t>(n));
        if (text_.size() > maxSize_) {
            size_ = text_.size();
            text_.clear();
            return TooLarge;
        }
    }
    size_ = text_.size();
    return ReadOk;
}
