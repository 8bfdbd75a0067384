#include "RuntimeFile.h"

#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool IsHex(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The program's folder below the runtime folder, made owner-only; empty when it can be used,
// else why not (the file's path names the folder).
std::string OwnFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "Der Ordner lässt sich nicht anlegen (" + std::string(std::strerror(errno)) + ").";
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return "Der Ordner ist nicht lesbar (" + std::string(std::strerror(errno)) + ").";
    if (!S_ISDIR(st.st_mode))
        return "Der Ordner ist ein Verweis oder eine Datei.";
    if (st.st_uid != ::geteuid())
        return "Der Ordner gehört einem anderen Benutzer.";
    if ((st.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
        return "Der Ordner lässt sich nicht auf den Eigentümer beschränken (" +
               std::string(std::strerror(errno)) + ").";
    return std::string();
}

} // namespace

RuntimeFile::Result RuntimeFile::Fail(const std::string& file, const std::string& reason) {
    failedFile_ = file;
    reason_ = reason;
    return Result::Failed;
}

std::string RuntimeFile::Error(bool withFile) const {
    if (failedFile_.empty())
        return std::string();
    return "Die Laufzeitdatei " + (withFile ? failedFile_ + " " : std::string()) +
           "konnte nicht geschrieben werden: " + reason_;
}

RuntimeFile::Result RuntimeFile::Write(int port, const std::string& token,
                                       const std::string& mount) {
    Remove();
    failedFile_.clear();
    reason_.clear();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/')
        return Result::NoRuntimeFolder;
    const std::string folder = std::string(runtime) + "/velantrix-konfigurator";
    const std::string pid = std::to_string(::getpid());
    const std::string path = folder + "/kp_config-" + pid + ".json";
    // Both are hexadecimal (checked here): nothing in the text needs escaping.
    if (port <= 0 || !IsHex(token) || !IsHex(mount))
        return Fail(path, "Der Webserver läuft nicht.");
    if (const std::string why = OwnFolder(folder); !why.empty())
        return Fail(path, why);
    const std::string temporary = path + ".new";
    const std::string text = "{\"url\": \"http://127.0.0.1:" + std::to_string(port) + "/" +
                             mount + "/index.htm?token=" + token + "\", \"token\": \"" + token +
                             "\", \"port\": " + std::to_string(port) + ", \"pid\": " + pid + "}\n";
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Fail(path, std::strerror(errno));
    bool written = ::fchmod(fd, 0600) == 0 && AtomicFile::WriteAll(fd, text);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return Fail(path, std::strerror(error));
    }
    path_ = path;
    return Result::Written;
}

void RuntimeFile::Remove() {
    if (path_.empty())
        return;
    ::unlink(path_.c_str());
    path_.clear();
}
