#include "CKpConfigApp.h"

#include "CAboutDlg.h"
#include "CMainFrame.h"
#include "KpConfigTexts.h"
#include "RpcDiagnostics.h"
#include "SettingsFile.h"
#include "StartWebServer.h"
#include "TerminationSignals.h"
#include "UserMessage.h"

#include <FileLogger.h>
#include <OSCompat.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <unistd.h>

#include <cstdint>

namespace {

constexpr const char* kSection = "Config";
constexpr const char* kWindowKey = "MainWindow/geometry";

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

// The service's options, with a start that waits for the service given up on SIGTERM or SIGINT:
// a session that ends the program meanwhile is not kept waiting for the service's time-out.
ServiceControllerOptions EndedByTermination(ServiceControllerOptions options) {
    options.abandonStart = [] { return TerminationSignals::Pending(); };
    return options;
}

} // namespace

CKpConfigApp::CKpConfigApp() : CKpConfigApp(KpConfigOptions{}) {}

CKpConfigApp::CKpConfigApp(const KpConfigOptions& options)
    : service(EndedByTermination(options.service)), options_(options) {}

CKpConfigApp::~CKpConfigApp() = default;

std::string CKpConfigApp::SettingsPath() const {
    if (!options_.settingsFile.isEmpty())
        return QFile::encodeName(options_.settingsFile).toStdString();
    // Where the user's native profile lies on this system ("vK-7" / "Velantrix Konfigurator"),
    // in the user's own home also when HOME is not set.
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    const std::string folder =
        xdg.startsWith('/') ? xdg.toStdString() : OSCompat::HomeDirectory() + "/.config";
    return folder + "/" + kRegistryKey + "/" + kAppName + ".conf";
}

QString CKpConfigApp::WindowFile() const {
    if (!options_.windowFile.isEmpty())
        return options_.windowFile;
    return QString::fromStdString(OSCompat::UserStateDirectory()) +
           QStringLiteral("/velantrix-konfigurator/kp_config-window.conf");
}

bool CKpConfigApp::InitInstance() {
    // Without HOME the toolkit would keep its caches (its shader cache among them) under
    // "/.cache"; they belong in the user's own home, where the program's other files lie.
    if (qEnvironmentVariableIsEmpty("HOME") && !qgetenv("XDG_CACHE_HOME").startsWith('/'))
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(OSCompat::HomeDirectory() + "/.cache"));
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
    if (TerminationSignals::Pending())
        return false; // ended while it waited for the service: nothing more is started
    webServerError.clear();
    if (StartWebServer(webServer, service.GetServiceUrl(), configDir)) {
        LogLine(QStringLiteral("web server started on 127.0.0.1:%1").arg(webServer.GetPort()));
        // The main window's status line says so too.
        if (runtimeFile.Write(webServer.GetPort(), webServer.GetToken(), webServer.GetMount()) ==
            RuntimeFile::Result::Failed)
            LogLine(QString::fromStdString(runtimeFile.Error()));
    } else {
        const QString root = QString::fromStdString(OSCompat::FixPath("www"));
        webServerError = (QFileInfo(root).isDir() ? QString::fromUtf8(kWebServerNoStart)
                                                  : QString::fromUtf8(kWebServerNoFolder).arg(root))
                             .toStdString();
        LogLine(QStringLiteral("web server could not be started: ") +
                QString::fromStdString(webServerError));
    }

    mainFrame_ = std::make_unique<CMainFrame>(*this);
    if (!mainFrame_->Create()) {
        mainFrame_.reset();
        return false;
    }
    {
        QSettings window(WindowFile(), QSettings::IniFormat);
        mainFrame_->PlaceWindow(window.value(kWindowKey).toRect());
    }
    mainFrame_->showNormal();
    mainFrame_->KeepOnScreen();
    mainFrame_->repaint();
    return true;
}

int CKpConfigApp::ExitInstance() {
    runtimeFile.Remove();
    if (mainFrame_) {
        // The window opens the same way next time; a file that cannot be written only loses it.
        QSettings window(WindowFile(), QSettings::IniFormat);
        window.setValue(kWindowKey, mainFrame_->normalGeometry());
        window.sync();
    }
    mainFrame_.reset();
    service.Stop();
    webServer.Stop();
    delete Logger::s_logger;
    Logger::s_logger = nullptr;
    return 0;
}

void CKpConfigApp::LoadSettings() {
    const SettingsFile file(SettingsPath());
    std::string why;
    if (!file.IsReadable(why)) {
        LogLine(QStringLiteral("settings file %1 is %2: not read, the defaults apply")
                    .arg(QString::fromStdString(file.Path()), QString::fromStdString(why)));
        return;
    }
    file.RestrictMode(); // it holds the LAN interface's access code
    QSettings profile(QFile::decodeName(file.Path().c_str()), QSettings::IniFormat);
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
    std::string why;
    return StoreSettings(newSettings, why);
}

bool CKpConfigApp::StoreSettings(const ConnectionSettings& newSettings, std::string& why) {
    const SettingsFile file(SettingsPath());
    if (!file.IsWritable(why))
        return false;
    // Created owner-only before anything is written into it, and kept so after every write.
    file.CreateOwnerOnly();
    QSettings profile(QFile::decodeName(file.Path().c_str()), QSettings::IniFormat);
    profile.beginGroup(kSection);
    profile.setValue("Connection", static_cast<uint32_t>(newSettings.connection));
    profile.setValue("LanifHost", QString::fromStdString(newSettings.lanHost));
    profile.setValue("LanifKey", QString::fromStdString(newSettings.lanKey));
    profile.setValue("LanifSerial", QString::fromStdString(newSettings.lanSerial));
    profile.setValue("ServiceHost", QString::fromStdString(newSettings.serviceHost));
    profile.setValue("ServicePort", static_cast<uint32_t>(newSettings.servicePort));
    profile.setValue("UsbifSerial", QString::fromStdString(newSettings.usbSerial));
    profile.endGroup();
    profile.sync();
    file.RestrictMode();
    if (profile.status() != QSettings::NoError || !file.Exists()) {
        why = profile.status() == QSettings::FormatError ? "unreadable content" : "not writable";
        return false;
    }
    settings = newSettings;
    return true;
}

void CKpConfigApp::OnAppAbout() {
    CAboutDlg about(*this, mainFrame_.get());
    about.exec();
}
