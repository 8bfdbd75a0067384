#include "RuntimeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// The program's folder below the runtime folder: made owner-only, and used only when it is a
// real folder of this user (not a link someone put there).
bool OwnFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 0777) == 0700 || ::chmod(folder.c_str(), 0700) == 0;
}

bool WriteAll(int fd, const std::string& text) {
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

} // namespace

bool RuntimeFile::Write(int port, const std::string& token) {
    Remove();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/' || port <= 0 || token.empty() ||
        token.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    const std::string folder = std::string(runtime) + "/velantrix-konfigurator";
    if (!OwnFolder(folder))
        return false;
    const std::string pid = std::to_string(::getpid());
    const std::string path = folder + "/kp_config-" + pid + ".json";
    const std::string temporary = path + ".new";
    // The secret is hexadecimal (checked above): nothing in it needs escaping.
    const std::string text = "{\"url\": \"http://127.0.0.1:" + std::to_string(port) +
                             "/index.htm?token=" + token + "\", \"token\": \"" + token +
                             "\", \"port\": " + std::to_string(port) + ", \"pid\": " + pid + "}\n";
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, text);
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    path_ = path;
    return true;
}

void RuntimeFile::Remove() {
    if (path_.empty())
        return;
    ::unlink(path_.c_str());
    path_.clear();
}
