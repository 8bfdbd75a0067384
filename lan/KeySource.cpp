#include "KeySource.h"

#include "BoundedFile.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "TextUtil.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <utility>

KeySource::KeySource(std::optional<std::string> option, const Environment& environment,
                     std::string keysFile)
    : option_(std::move(option)), keysFile_(std::move(keysFile)) {
    const char* key = environment ? environment("LANCFG_KEY") : nullptr;
    // An empty variable is what "LANCFG_KEY= lancfg ..." leaves: no key, the keys file counts.
    if (key && key[0] != '\0')
        environment_ = key;
}

std::string KeySource::DefaultKeysFile(const Environment& environment) {
    const char* config = environment ? environment("XDG_CONFIG_HOME") : nullptr;
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = environment ? environment("HOME") : nullptr;
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/velantrix-konfigurator/keys";
}

bool KeySource::IsKeyText(const std::string& text) {
    return text.size() == 2 * lanproto::KeySize &&
           text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

bool KeySource::Load(std::istream* input, std::string* reason) {
    if (option_ && *option_ == "-") {
        std::string line;
        if (input)
            std::getline(*input, line);
        common_ = {true, TrimText(line), "standard input"};
        if (common_.text.empty()) {
            *reason = "-k - found no key on the first line of standard input";
            return false;
        }
    } else if (option_) {
        common_ = {true, *option_, std::string()};
    } else if (environment_) {
        common_ = {true, *environment_, "LANCFG_KEY"};
    } else {
        return LoadKeysFile(reason);
    }
    if (!common_.source.empty() && !IsKeyText(common_.text)) {
        *reason = "the key from " + common_.source + " is not 32 hexadecimal digits";
        common_ = ChosenKey();
        return false;
    }
    return true;
}

bool KeySource::LoadKeysFile(std::string* reason) {
    BoundedFile file(MaxKeysFileSize, true); // a link could lend another file its privacy
    const BoundedFile::Result result = file.Read(keysFile_);
    if (result == BoundedFile::NotFound)
        return true; // no keys file: no keys
    if (result == BoundedFile::Failed) {
        *reason = "cannot read the keys file " + keysFile_;
        return false;
    }
    if (result == BoundedFile::NotRegular) {
        *reason = "the keys file " + keysFile_ + " is not a regular file";
        return false;
    }
    if (file.Owner() != static_cast<unsigned>(::geteuid())) {
        *reason = "the keys file " + keysFile_ + " belongs to another user; it is not used";
        return false;
    }
    if ((file.Mode() & 077) != 0) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", file.Mode());
        *reason = "the keys file " + keysFile_ + " is accessible by others (mode " + mode +
                  "); it is not used until only its owner may read and write it (chmod 600)";
        return false;
    }
    if (result == BoundedFile::TooLarge) {
        *reason = "the keys file " + keysFile_ + " is larger than 64 KiB; it is not used";
        return false;
    }
    std::istringstream lines(file.Text());
    size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        line = TrimText(line);
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string serial, key;
        words >> serial >> key;
        if (!IsKeyText(key)) {
            *reason = "the keys file " + keysFile_ + ", line " + std::to_string(number) +
                      ": the key for " + lanproto::PrintableText(serial) +
                      " is not 32 hexadecimal digits";
            keys_.clear();
            return false;
        }
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

ChosenKey KeySource::GiveTo(LanInterface& device, const std::string& serial) const {
    const ChosenKey key = For(serial);
    if (key.present)
        device.SetCryptKey(key.text);
    return key;
}
