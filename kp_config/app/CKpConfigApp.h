#pragma once

#include "CServiceController.h"
#include "CWebServer.h"
#include "ConnectionSettings.h"

#include <QString>

#include <memory>
#include <string>

class CMainFrame;
class QSettings;

// What the program leaves at its defaults; tests choose the service, the profile and the log.
struct KpConfigOptions {
    ServiceControllerOptions service;
    // The stored settings: empty means the user's profile ("vK-7" / "Velantrix Konfigurator");
    // otherwise this INI file.
    QString settingsFile;
    // The log file, completed by the path fix-up (a bare name lies beside the program).
    std::string logFile = "kp_config_log.txt";
};

// The application object: owns, for the program's whole run, the web server of the web UI, the
// data directory, the connection settings and the radio service controller (in this order; they
// are destroyed in the reverse order), and the main window while it is open.
class CKpConfigApp {
public:
    CKpConfigApp();
    explicit CKpConfigApp(const KpConfigOptions& options);
    ~CKpConfigApp();
    CKpConfigApp(const CKpConfigApp&) = delete;
    CKpConfigApp& operator=(const CKpConfigApp&) = delete;

    // Start-up: logging, RPC diagnostics, stored settings, data directory, radio service, web
    // server, main window. False ends the program (call ExitInstance all the same).
    bool InitInstance();
    // Shutdown: closes the main window, stops the radio service and the web server, deletes the
    // logger. Returns the program's exit code.
    int ExitInstance();

    // Reads the seven stored values into settings, each defaulting to the field's current value.
    void LoadSettings();
    // Replaces settings with the given ones and writes all seven values (owner-only file).
    // False when the profile could not be written.
    bool StoreSettings(const ConnectionSettings& newSettings);

    // The About command: the About box, modally.
    void OnAppAbout();

    CMainFrame* MainFrame() const { return mainFrame_.get(); }

    CWebServer webServer;
    std::string configDir;
    ConnectionSettings settings;
    CServiceController service;

private:
    std::unique_ptr<QSettings> OpenProfile() const;

    const KpConfigOptions options_;
    std::unique_ptr<CMainFrame> mainFrame_;
};
