#include "OSCompat.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

void ReplaceAll(std::string& s, const std::string& what, const std::string& with) {
    for (size_t pos = s.find(what); pos != std::string::npos; pos = s.find(what, pos + with.size()))
        s.replace(pos, what.size(), with);
}

// A per-user directory after the XDG convention: the absolute path in the variable,
// else the default below the home directory.
std::string XdgDirectory(const char* variable, const char* defaultBelowHome) {
    const char* xdg = std::getenv(variable);
    if (xdg && *xdg == '/')
        return xdg;
    return OSCompat::HomeDirectory() + defaultBelowHome;
}

} // namespace

std::string OSCompat::HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    // Never a shared folder such as /tmp, where any local user could place files: the home
    // folder of the user database's entry for this user.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buf.data(), buf.size(), &found) == ERANGE &&
           buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
    if (found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return "/";
}

std::string OSCompat::ProgramDirectory() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : exe.substr(0, slash);
}

std::string OSCompat::CommonAppDataDirectory() {
    return XdgDirectory("XDG_DATA_HOME", "/.local/share");
}

std::string OSCompat::UserStateDirectory() {
    return XdgDirectory("XDG_STATE_HOME", "/.local/state");
}

std::string OSCompat::FixPath(const std::string& path) {
    std::string result = path;
    ReplaceAll(result, "${CommonAppData}", CommonAppDataDirectory());
    ReplaceAll(result, "${Bindir}", ProgramDirectory());
    const std::string exe = ".exe";
    if (result.size() > exe.size() &&
        result.compare(result.size() - exe.size(), exe.size(), exe) == 0)
        result.erase(result.size() - exe.size());
    if (!result.empty() && result.find('/') == std::string::npos)
        result = ProgramDirectory() + "/" + result;
    return result;
}

bool OSCompat::MakeDirectory(const std::string& path) {
    if (path.empty())
        return false;
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        std::string part = pos == std::string::npos ? path : path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (pos == std::string::npos)
            break;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
