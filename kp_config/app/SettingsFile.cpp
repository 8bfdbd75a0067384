#include "SettingsFile.h"

#include <OSCompat.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The canonical path, or empty when it cannot be resolved.
std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

const char* Kind(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

} // namespace

bool SettingsFile::Exists() const {
    struct stat st {};
    return ::lstat(path_.c_str(), &st) == 0;
}

bool SettingsFile::IsReadable(std::string& why) const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0)
        return true; // nothing to read: the defaults
    if (!S_ISREG(st.st_mode)) {
        why = Kind(st.st_mode);
        return false;
    }
    if (st.st_size > MaxSize) {
        why = "larger than " + std::to_string(MaxSize) + " bytes";
        return false;
    }
    return true;
}

bool SettingsFile::IsWritable(std::string& why) const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0)
        return true;
    if (!S_ISREG(st.st_mode)) {
        why = Kind(st.st_mode);
        return false;
    }
    return true;
}

void SettingsFile::RestrictMode() const {
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0)
        return;
    std::string target = path_;
    if (S_ISLNK(st.st_mode)) {
        target = Resolved(path_);
        const std::string folder = Resolved(Folder(path_));
        if (target.empty() || folder.empty() || target.rfind(folder + "/", 0) != 0)
            return;
        if (::stat(target.c_str(), &st) != 0)
            return;
    }
    if (S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(target.c_str(), 0600);
}

void SettingsFile::CreateOwnerOnly() const {
    OSCompat::MakeDirectory(Folder(path_));
    // Non-blocking, so that a FIFO put in its place in the meantime cannot hold the program.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    RestrictMode();
}
