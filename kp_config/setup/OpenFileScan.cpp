#include "OpenFileScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {

std::string LastComponent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    // Two nodes of one device (another /dev mount, say) are the same device.
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsProcessId(const char* name) {
    if (*name == '\0')
        return false;
    for (; *name != '\0'; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

// Whether one process has the file open; false when it cannot be inspected.
bool ProcessHasOpen(const std::string& fdDir, const std::string& name, const struct stat& file) {
    const int dirFd = ::open(fdDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR* fds = ::fdopendir(dirFd);
    if (fds == nullptr) {
        ::close(dirFd);
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.')
            continue;
        char link[PATH_MAX];
        const ssize_t length = ::readlinkat(dirFd, entry->d_name, link, sizeof link - 1);
        if (length <= 0 || LastComponent(std::string(link, static_cast<size_t>(length))) != name)
            continue;
        // Only now is the file itself looked at: a stat of every open file of every process
        // could wait on a slow network file system.
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, 0) == 0 && SameFile(st, file)) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

} // namespace

bool IsOpenInOtherProcess(const std::string& path, int fd) {
    struct stat file {};
    if (::fstat(fd, &file) != 0)
        return false;
    char resolved[PATH_MAX];
    const std::string name =
        LastComponent(::realpath(path.c_str(), resolved) != nullptr ? resolved : path);
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    while (!found) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr)
            break;
        if (IsProcessId(entry->d_name) && self != entry->d_name)
            found = ProcessHasOpen(std::string("/proc/") + entry->d_name + "/fd", name, file);
    }
    ::closedir(proc);
    return found;
}
