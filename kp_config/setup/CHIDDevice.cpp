#include "CHIDDevice.h"

#include "HidReportDescriptor.h"
#include "OpenFileScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <utility>

namespace {

constexpr size_t MaxSerialLength = 32;
// sysfs attributes are at most a page; a uevent beyond this is not a real one.
constexpr size_t MaxUeventSize = 16384;
// The kernel refuses HID report descriptors longer than this.
constexpr size_t MaxDescriptorSize = 4096;

// Reads a whole regular file of at most maxSize bytes. Opened non-blocking so that a stray FIFO
// in the tree cannot hang the walk; anything but a regular file is refused.
bool ReadSmallFile(const std::string& path, size_t maxSize, std::string* content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string data;
    char buffer[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            data.append(buffer, static_cast<size_t>(n));
            if (data.size() > maxSize)
                ok = false;
        }
    }
    ::close(fd);
    if (ok)
        *content = std::move(data);
    return ok;
}

// Parses one hex field of HID_ID (1 to 8 digits).
bool ParseHexField(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        v = v * 16 + digit;
    }
    *value = v;
    return true;
}

// What the walk needs of a HID device's uevent.
struct HidAttributes {
    uint32_t bus = 0;
    uint32_t vendor = 0;
    uint32_t product = 0;
    bool hasSerial = false;
    std::string serial; // raw HID_UNIQ value
};

// Reads HID_ID=bbbb:vvvvvvvv:pppppppp and HID_UNIQ=... from a uevent text. Fails without a
// well-formed HID_ID.
bool ParseUevent(const std::string& text, HidAttributes* attributes) {
    bool hasId = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = text.size();
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.rfind("HID_ID=", 0) == 0) {
            const std::string value = line.substr(7);
            const size_t c1 = value.find(':');
            const size_t c2 = c1 == std::string::npos ? c1 : value.find(':', c1 + 1);
            if (c2 == std::string::npos)
                return false;
            if (!ParseHexField(value.substr(0, c1), &attributes->bus) ||
                !ParseHexField(value.substr(c1 + 1, c2 - c1 - 1), &attributes->vendor) ||
                !ParseHexField(value.substr(c2 + 1), &attributes->product))
                return false;
            hasId = true;
        } else if (line.rfind("HID_UNIQ=", 0) == 0) {
            attributes->hasSerial = true;
            attributes->serial = line.substr(9);
        }
    }
    return hasId;
}

// Cuts a UTF-8 text after maxChars characters, never inside one.
std::string CutCharacters(const std::string& text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue; // a continuation byte belongs to the character before it
        if (chars == maxChars)
            return text.substr(0, i);
        ++chars;
    }
    return text;
}

bool IsUsbInterface(const HidAttributes& a) {
    return a.vendor == UsbInterfaceVendorId && a.product == UsbInterfaceProductId;
}

// "hidraw" followed by a decimal number without leading zeros; the number goes to *number.
bool ParseHidrawName(const char* name, unsigned long* number) {
    const std::string s(name);
    if (s.rfind("hidraw", 0) != 0 || s.size() == 6 || s.size() > 6 + 9)
        return false;
    const std::string digits = s.substr(6);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    if (digits.size() > 1 && digits[0] == '0')
        return false;
    *number = std::stoul(digits);
    return true;
}

} // namespace

CHIDDevice::CHIDDevice(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {
    Reset();
}

CHIDDevice::~CHIDDevice() {
    if (isOpen)
        Close();
}

void CHIDDevice::Reset() {
    handle = -1;
    isOpen = false;
    inputReportLength = 0;
    outputReportLength = 0;
    featureReportLength = 0;
    inputBufferCount = DefaultInputBufferCount;
    openName_.clear();
}

std::vector<std::string> CHIDDevice::ListDevices() const {
    std::vector<std::pair<unsigned long, std::string>> found;
    const std::string dir = sysRoot_ + "/class/hidraw";
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            unsigned long number = 0;
            if (ParseHidrawName(entry->d_name, &number))
                found.emplace_back(number, entry->d_name);
        }
        ::closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (size_t i = 0; i < found.size() && i < static_cast<size_t>(MaxHidDevices); ++i)
        names.push_back(found[i].second);
    return names;
}

std::string CHIDDevice::SysfsDevice(const std::string& name) const {
    return sysRoot_ + "/class/hidraw/" + name + "/device";
}

bool CHIDDevice::IsUsbInterfaceDevice(const std::string& name, std::string* serial,
                                      bool* hasSerial) const {
    std::string uevent;
    HidAttributes attributes;
    if (!ReadSmallFile(SysfsDevice(name) + "/uevent", MaxUeventSize, &uevent) ||
        !ParseUevent(uevent, &attributes) || !IsUsbInterface(attributes))
        return false;
    if (serial)
        *serial = attributes.serial;
    if (hasSerial)
        *hasSerial = attributes.hasSerial;
    return true;
}

bool CHIDDevice::FindDevicePath(int n, std::string* path) const {
    if (path == nullptr || n < 0 || n >= MaxHidDevices)
        return false;
    const std::vector<std::string> names = ListDevices();
    if (static_cast<size_t>(n) >= names.size())
        return false;
    *path = devRoot_ + "/" + names[static_cast<size_t>(n)];
    return true;
}

int CHIDDevice::CountDevices() const {
    int count = 0;
    for (const std::string& name : ListDevices())
        count += IsUsbInterfaceDevice(name) ? 1 : 0;
    return count;
}

bool CHIDDevice::ReadSerialOf(const std::string& name, std::string* serialNumber) const {
    std::string serial;
    bool hasSerial = false;
    if (!IsUsbInterfaceDevice(name, &serial, &hasSerial))
        return false;
    // HID_UNIQ holds the device's serial number string as UTF-8.
    serial = CutCharacters(serial.substr(0, serial.find('\0')), MaxSerialLength);
    // A device without a serial number has an empty HID_UNIQ; that is no serial number
    // either, and must not replace one the caller already has.
    if (!hasSerial || serial.empty())
        return false;
    *serialNumber = serial;
    return true;
}

bool CHIDDevice::ReadSerialNumber(std::string* serialNumber) const {
    if (serialNumber == nullptr)
        return false;
    for (const std::string& name : ListDevices()) {
        // Only the first interface is asked, whatever its answer.
        if (IsUsbInterfaceDevice(name))
            return ReadSerialOf(name, serialNumber);
    }
    return false;
}

bool CHIDDevice::ReadOpenSerialNumber(std::string* serialNumber) const {
    return serialNumber != nullptr && isOpen && !openName_.empty() &&
           ReadSerialOf(openName_, serialNumber);
}

int CHIDDevice::Open() {
    if (isOpen)
        return HidOpenAlready;
    bool denied = false;
    for (const std::string& name : ListDevices()) {
        // The attributes come from sysfs before the node is opened, so no other program's HID
        // device (a keyboard, say) is ever opened for writing or locked, not even briefly.
        if (!IsUsbInterfaceDevice(name))
            continue;
        const std::string path = devRoot_ + "/" + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
            // Not being allowed to open the node says nothing about whether it is in use.
            denied = denied || errno == EACCES || errno == EPERM;
            continue;
        }
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        // Held by another program: through the lock, or merely open in another process, which
        // the radio service could not share either.
        if (locked != 0 || IsOpenInOtherProcess(path, fd)) {
            ::close(fd);
            continue;
        }
        handle = fd;
        isOpen = true;
        openName_ = name;
        std::string descriptor;
        HidReportLengths lengths;
        if (ReadSmallFile(SysfsDevice(name) + "/report_descriptor", MaxDescriptorSize,
                          &descriptor) &&
            ParseReportDescriptor(descriptor, &lengths)) {
            inputReportLength = lengths.input;
            outputReportLength = lengths.output;
            featureReportLength = lengths.feature;
        }
        inputBufferCount = DefaultInputBufferCount;
        // The first interface kept ends the walk: opening and locking the others only to close
        // them again could make their own holders' lock attempts fail in between.
        return HidOpenOk;
    }
    // Any interface this user may not open might be the free one.
    return denied ? HidOpenNoPermission : HidOpenNone;
}

int CHIDDevice::Close() {
    if (!isOpen)
        return 2;
    if (handle >= 0) {
        ::close(handle); // releases the lock
        Reset();
        return 0;
    }
    Reset();
    return 7;
}
