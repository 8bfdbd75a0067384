#include "CKpConfigApp.h"

#include "CAboutDlg.h"
#include "CMainFrame.h"
#include "KpConfigTexts.h"
#include "RpcDiagnostics.h"
#include "StartWebServer.h"

#include <FileLogger.h>
#include <OSCompat.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr const char* kSection = "Config";

// The settings file holds the LAN interface's access code: it is created owner-only before
// anything is written into it, and kept so after every write.
void CreateOwnerOnly(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    ::chmod(name.constData(), 0600);
}

uint32_t ReadDword(const QSettings& profile, const char* key, uint32_t current) {
    bool ok = false;
    const qulonglong value = profile.value(key).toULongLong(&ok);
    return ok ? static_cast<uint32_t>(value) : current;
}

std::string ReadString(const QSettings& profile, const char* key, const std::string& current) {
    const QVariant value = profile.value(key);
    return value.isValid() ? value.toString().toStdString() : current;
}

// The log file as the path fix-up places it (a bare name beside the program) when that folder
// can be written; else the same name in a per-user place, $XDG_STATE_HOME (by default
// ~/.local/state) and the name of the program's folder. A folder under /usr belongs to the
// package manager and is never written, not even by root, so removing the package leaves
// nothing behind.
std::string LogFilePath(const std::string& name) {
    const std::string path = OSCompat::FixPath(name);
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const bool system = folder.rfind("/usr/", 0) == 0;
    if (!system && ::access(folder.c_str(), W_OK) == 0)
        return path;
    std::string state = OSCompat::UserStateDirectory();
    const std::string program = OSCompat::ProgramDirectory();
    const size_t cut = program.rfind('/');
    state += cut == std::string::npos ? "/kp_config" : program.substr(cut);
    OSCompat::MakeDirectory(state); // a log that cannot be written is not reported
    return state + "/" + path.substr(slash + 1);
}

} // namespace

CKpConfigApp::CKpConfigApp() : CKpConfigApp(KpConfigOptions{}) {}

CKpConfigApp::CKpConfigApp(const KpConfigOptions& options)
    : service(options.service), options_(options) {}

CKpConfigApp::~CKpConfigApp() = default;

std::unique_ptr<QSettings> CKpConfigApp::OpenProfile() const {
    if (!options_.settingsFile.isEmpty())
        return std::make_unique<QSettings>(options_.settingsFile, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kRegistryKey,
                                       kAppName);
}

bool CKpConfigApp::InitInstance() {
    auto* logger = new FileLogger;
    Logger::s_logger = logger;
    logger->SetFilename(LogFilePath(options_.logFile));
    logger->SetLevel(1);
    InstallRpcDiagnostics();
    // Sockets, common controls, OLE and the hosting of controls need no start-up here: the
    // window toolkit and the browser engine are ready once the application object exists.

    LoadSettings();
    configDir = OSCompat::FixPath("${CommonAppData}/kp-cfg");
    OSCompat::MakeDirectory(configDir); // a directory that cannot be made is not reported

    // A failed start shows through the main window's start-up check.
    service.Start(settings);
    StartWebServer(webServer, service.GetServiceUrl(), configDir);

    mainFrame_ = std::make_unique<CMainFrame>(*this);
    if (!mainFrame_->Create()) {
        mainFrame_.reset();
        return false;
    }
    mainFrame_->showNormal();
    mainFrame_->repaint();
    return true;
}

int CKpConfigApp::ExitInstance() {
    mainFrame_.reset();
    service.Stop();
    webServer.Stop();
    delete Logger::s_logger;
    Logger::s_logger = nullptr;
    return 0;
}

void CKpConfigApp::LoadSettings() {
    const std::unique_ptr<QSettings> opened = OpenProfile();
    QSettings& profile = *opened;
    profile.beginGroup(kSection);
    settings.connection = static_cast<ConnectionType>(
        ReadDword(profile, "Connection", static_cast<uint32_t>(settings.connection)));
    settings.lanHost = ReadString(profile, "LanifHost", settings.lanHost);
    settings.lanKey = ReadString(profile, "LanifKey", settings.lanKey);
    settings.lanSerial = ReadString(profile, "LanifSerial", settings.lanSerial);
    settings.serviceHost = ReadString(profile, "ServiceHost", settings.serviceHost);
    settings.servicePort = static_cast<int32_t>(
        ReadDword(profile, "ServicePort", static_cast<uint32_t>(settings.servicePort)));
    settings.usbSerial = ReadString(profile, "UsbifSerial", settings.usbSerial);
}

bool CKpConfigApp::StoreSettings(const ConnectionSettings& newSettings) {
    settings = newSettings;
    const std::unique_ptr<QSettings> opened = OpenProfile();
    QSettings& profile = *opened;
    const QString path = profile.fileName();
    CreateOwnerOnly(path);
    profile.beginGroup(kSection);
    profile.setValue("Connection", static_cast<uint32_t>(settings.connection));
    profile.setValue("LanifHost", QString::fromStdString(settings.lanHost));
    profile.setValue("LanifKey", QString::fromStdString(settings.lanKey));
    profile.setValue("LanifSerial", QString::fromStdString(settings.lanSerial));
    profile.setValue("ServiceHost", QString::fromStdString(settings.serviceHost));
    profile.setValue("ServicePort", static_cast<uint32_t>(settings.servicePort));
    profile.setValue("UsbifSerial", QString::fromStdString(settings.usbSerial));
    profile.endGroup();
    profile.sync();
    ::chmod(QFile::encodeName(path).constData(), 0600);
    return profile.status() == QSettings::NoError;
}

void CKpConfigApp::OnAppAbout() {
    CAboutDlg about(*this, mainFrame_.get());
    about.exec();
}
