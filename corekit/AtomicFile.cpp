#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

bool AtomicFile::WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

unsigned UmaskMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

} // namespace

bool AtomicFile::Write(const std::string& path, const std::string& text, unsigned mode,
                       std::string* error) {
    // Beside the file, so that the rename stays on one file system; a dot in front keeps it out
    // of readers that look for names like *.prom or *.json.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    const unsigned bits = mode == WithUmask ? UmaskMode() : mode & 0777;
    int failure = 0;
    errno = 0;
    // No fsync: it costs a search of a large site more than all else the inventory does, and
    // readers see the old or the new file either way. After a power loss a file system may keep
    // the name with no data; the inventory then sets that file aside and begins anew.
    if (::fchmod(fd, bits) != 0 || !WriteAll(fd, text))
        failure = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(temporary.data(), path.c_str()) == 0)
        return true;
    *error = std::strerror(failure != 0 ? failure : errno);
    ::unlink(temporary.data());
    return false;
}
