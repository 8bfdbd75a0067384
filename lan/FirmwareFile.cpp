#include "FirmwareFile.h"

#include "LanProtocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Closes a descriptor when the reading is over, however it ends.
struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string TooLarge(unsigned long long size) {
    return "too large (" + std::to_string(size) + " bytes; a firmware file holds at most " +
           std::to_string(lanproto::MaxFirmwareFileSize) + ")";
}

} // namespace

bool LoadFirmwareFile(const std::string& path, std::string* digits, std::string* reason) {
    std::string why;
    std::string text;
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it can be refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    FileCloser closer{fd};
    struct stat info {};
    if (fd < 0) {
        why = errno == ENOENT ? "not found"
                              : std::string("cannot be opened: ") + std::strerror(errno);
    } else if (::fstat(fd, &info) != 0) {
        why = std::string("cannot be read: ") + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (static_cast<unsigned long long>(info.st_size) > lanproto::MaxFirmwareFileSize) {
        why = TooLarge(static_cast<unsigned long long>(info.st_size));
    } else {
        // Read into one buffer of the file's size; a file that grows meanwhile is read up to
        // one byte past the bound, which is enough to refuse it.
        text.resize(static_cast<size_t>(info.st_size) + 1);
        size_t got = 0;
        for (;;) {
            if (got == text.size()) {
                if (text.size() > lanproto::MaxFirmwareFileSize)
                    break;
                text.resize(std::min(text.size() * 2, lanproto::MaxFirmwareFileSize + 1));
            }
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = std::string("cannot be read: ") + std::strerror(errno);
                break;
            }
            if (n == 0)
                break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
        if (why.empty() && got > lanproto::MaxFirmwareFileSize)
            why = TooLarge(got);
    }
    if (why.empty()) {
        lanproto::FirmwareTextCheck check = lanproto::CheckFirmwareDigits(text);
        if (check.ok)
            text.resize(check.digits);
        else
            why = check.reason;
    }
    if (!why.empty()) {
        if (reason)
            *reason = why;
        return false;
    }
    if (digits)
        *digits = std::move(text);
    return true;
}

BlockRead ReadFirmwareBlock(std::istream& file, bool counted, int32_t counter, std::string* block) {
    block->clear();
    if (counted) {
        *block += static_cast<char>((counter >> 8) & 0xFF);
        *block += static_cast<char>(counter & 0xFF);
    }
    // Reads two characters as one byte; 0 after a read error.
    auto readByte = [&file]() -> uint8_t {
        char pair[2] = {0, 0};
        file.read(pair, 2);
        if (file.bad())
            return 0;
        return lanproto::HexPairValue(pair, static_cast<size_t>(file.gcount()));
    };
    const uint8_t high = readByte();
    const uint8_t low = readByte();
    if (file.eof())
        return BlockRead::End;
    const unsigned length = high * 256u + low;
    if (length > lanproto::MaxRecordLength)
        return BlockRead::Bad;
    *block += static_cast<char>(high);
    *block += static_cast<char>(low);
    for (unsigned i = 0; i < length && !file.eof() && !file.bad(); ++i) {
        const uint8_t value = readByte();
        if (file.eof())
            break;
        *block += static_cast<char>(value);
    }
    if (file.eof())
        return BlockRead::End;
    return file.bad() ? BlockRead::Bad : BlockRead::Block;
}
