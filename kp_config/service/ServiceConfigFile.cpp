#include "ServiceConfigFile.h"

#include "PropertyMap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Makes sure the file exists with owner-only access before the stream opens it: a stream that
// creates the file itself would use the default mode and expose the key.
void EnsurePrivateFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
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

    EnsurePrivateFile(configPath);
    return map.WriteToFile(configPath) == 0;
}

void EmptyServiceLog(const std::string& logPath) {
    if (FILE* f = std::fopen(logPath.c_str(), "w+"))
        std::fclose(f);
}
