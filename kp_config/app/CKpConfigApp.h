#pragma once

#include "CServiceController.h"
#include "CWebServer.h"
#include "ConnectionSettings.h"
#include "RuntimeFile.h"

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
    // Where the main window's size and position are kept between runs: empty means
    // $XDG_STATE_HOME/velantrix-konfigurator/kp_config-window.conf.
    QString windowFile;
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
    // A settings file that is not a regular file of sensible size is not read (the defaults
    // stay, and the log says why); one with a looser mode is made owner-only.
    void LoadSettings();
    // Writes all seven values (owner-only file) and then replaces settings with the given ones.
    // False, with settings unchanged and `why` filled, when the profile could not be written.
    bool StoreSettings(const ConnectionSettings& newSettings, std::string& why);
    bool StoreSettings(const ConnectionSettings& newSettings);
    // The file of the stored settings.
    std::string SettingsPath() const;

    // The About command: the About box, modally.
    void OnAppAbout();

    CMainFrame* MainFrame() const { return mainFrame_.get(); }

    CWebServer webServer;
    std::string configDir;
    ConnectionSettings settings;
    CServiceController service;
    // Why the web server did not start; empty while it runs.
    std::string webServerError;
    // The runtime file of this run, written once the web server runs.
    RuntimeFile runtimeFile;

private:
    QString WindowFile() const;

    const KpConfigOptions options_;
    std::unique_ptr<CMainFrame> mainFrame_;
};
