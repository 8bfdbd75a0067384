#include "KeySource.h"

#include "Command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <utility>

namespace {

std::string Trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

} // namespace

KeySource::KeySource(bool hasOption, std::string option, const char* environment,
                     std::string keysFile)
    : hasOption_(hasOption), option_(std::move(option)), hasEnvironment_(environment != nullptr),
      environment_(environment ? environment : ""), keysFile_(std::move(keysFile)) {}

std::string KeySource::DefaultKeysFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/velantrix-konfigurator/keys";
}

bool KeySource::Load(std::istream& in, std::string* error) {
    if (hasOption_ && option_ == "-") {
        std::string line;
        std::getline(in, line);
        common_ = {true, Trimmed(line), "standard input"};
        if (common_.text.empty()) {
            *error = "Error: -k - found no key on the first line of standard input";
            return false;
        }
        return true;
    }
    if (hasOption_) {
        common_ = {true, option_, std::string()};
        return true;
    }
    if (hasEnvironment_) {
        common_ = {true, environment_, "LANCFG_KEY"};
        return true;
    }
    return LoadKeysFile(error);
}

bool KeySource::LoadKeysFile(std::string* error) {
    const int fd = ::open(keysFile_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return true; // no keys file: no keys
        *error = "Error: cannot read the keys file " + keysFile_;
        return false;
    }
    struct stat info {};
    std::string text;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!ok) {
        *error = "Error: the keys file " + keysFile_ + " is not a regular file";
    } else if (info.st_uid != ::geteuid()) {
        *error = "Error: the keys file " + keysFile_ +
                 " belongs to another user; it is not used";
        ok = false;
    } else if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        *error = "Error: the keys file " + keysFile_ + " is accessible by others (mode " + mode +
                 "); it is not used until only its owner may read and write it (chmod 600)";
        ok = false;
    } else {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        if (n < 0) {
            *error = "Error: cannot read the keys file " + keysFile_;
            ok = false;
        }
    }
    ::close(fd);
    if (!ok)
        return false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string serial, key;
        if (words >> serial >> key)
            keys_[serial] = key; // a serial number given twice: the later key counts
    }
    return true;
}

ChosenKey KeySource::For(const std::string& serial) const {
    if (common_.present)
        return common_;
    const auto found = keys_.find(serial);
    if (found == keys_.end())
        return ChosenKey();
    return {true, found->second, keysFile_};
}

bool LoadKeys(bool hasOption, const std::string& option, CommandContext& context,
              KeySource* keys) {
    *keys = KeySource(hasOption, option, std::getenv("LANCFG_KEY"), KeySource::DefaultKeysFile());
    std::string error;
    if (keys->Load(context.in ? *context.in : std::cin, &error))
        return true;
    Print(context.err, "%s\n", error.c_str());
    context.refused = true;
    return false;
}
