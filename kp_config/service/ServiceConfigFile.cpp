#include "ServiceConfigFile.h"

#include "PropertyMap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Replaces the file's content with text. The file holds the key: it is opened without following
// a symbolic link (one planted at its name would send the key elsewhere), must be a regular file,
// and is (re)made owner-only before anything is written, whatever the umask.
bool WritePrivateFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, 0600) == 0 &&
              ::ftruncate(fd, 0) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 && ok;
}

} // namespace

bool WriteServiceConfig(const ConnectionSettings& settings, const std::string& configPath,
                        const std::string& logPath) {
    PropertyMap map;
    map.SetIntValue("Listen Port", 0);
    map.SetIntValue("Log Level", 2);
    map.SetIntValue("Persist Keys", 1);
    map.SetIntValue("Virtual RC", 0);
    // The directory variables stay unresolved: the service resolves them itself.
    map.SetStringValue("Device Description Dir", "${Bindir}/devicetypes");
    map.SetStringValue("Device Files Dir", "${CommonAppData}/Radlex-Service/devices");
    map.SetStringValue("Key File", "${CommonAppData}/Radlex-Service/keys");
    map.SetStringValue("Address File", "${CommonAppData}/Radlex-Service/ids");
    map.SetStringValue("Log Destination", "File");
    map.SetStringValue("Log Filename", logPath);

    map.SetCurrentSection("Interface 0");
    switch (settings.connection) {
    case ConnectionType::Usb:
        map.SetStringValue("Type", "USB Interface");
        break;
    case ConnectionType::Lan:
        map.SetStringValue("Type", "Lan Interface");
        map.SetStringValue("Serial Number", settings.lanSerial);
        map.SetStringValue("Encryption Key", settings.lanKey);
        if (!settings.lanHost.empty())
            map.SetStringValue("IP Address", settings.lanHost);
        break;
    default:
        break;
    }

    return WritePrivateFile(configPath, map.ToText());
}

void EmptyServiceLog(const std::string& logPath) {
    // Not through a symbolic link planted at the name: that would empty another file of this user.
    int fd = ::open(logPath.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}
