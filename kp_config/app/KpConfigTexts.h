#pragma once

// Texts, command ids and string-table entries of kp_config's windows.

inline constexpr const char* kAppName = "Velantrix Konfigurator"; // title and profile name
inline constexpr const char* kRegistryKey = "vK-7";

// Commands; each becomes the object name of its action.
enum CommandId : int {
    IdReloadWebUi = 32771,       // "WebUI neu laden": back to the home page
    IdSettings = 32773,          // "Einstellungen": the connection wizard
    IdDevConfig = 32775,         // Ctrl+F4: the device configuration page
    IdAppAbout = 57664,          // "Info über Velantrix Konfigurator"
    IdAppExit = 57665,           // "Beenden"
    IdIndicatorConnection = 101, // the status bar's connection pane
};

inline constexpr const char* kMenuFile = "&Datei";
inline constexpr const char* kMenuSettings = "&Einstellungen";
inline constexpr const char* kMenuExit = "&Beenden";
inline constexpr const char* kMenuView = "&Ansicht";
inline constexpr const char* kMenuReload = "WebUI &neu laden";
inline constexpr const char* kMenuHelp = "&Hilfe";
inline constexpr const char* kMenuAbout = "&Info über Velantrix Konfigurator";

inline constexpr const char* kIdleText = "Bereit";                                 // 57345
inline constexpr const char* kNotConnected = "Nicht verbunden";                    // 101, 102
inline constexpr const char* kConnectedTo = "Verbunden mit %1";                    // 103
inline constexpr const char* kConnectingTo = "Verbindung mit %1 wird hergestellt"; // 105
inline constexpr int kConnectionPaneWidth = 400;
inline constexpr int kDefaultWidth = 1024; // the main window's size on a first run
inline constexpr int kDefaultHeight = 768;

inline constexpr const char* kMsgNoInterface =
    "Es wurde kein Interface gefunden, um Ihre Velantrix-Geräte anzusprechen. Bitte überprüfen "
    "Sie Ihre Einstellungen.";
inline constexpr const char* kMsgNoBrowser = "Failed to create IE control";
// The wizard's choice could not be stored (%1: the settings file, %2: what went wrong).
inline constexpr const char* kMsgSettingsNotStored =
    "Die Einstellungen konnten nicht gespeichert werden (%1: %2). Das Programm arbeitet weiter "
    "mit der bisherigen Verbindung.";

inline constexpr const char* kHomePath = "/index.htm";
inline constexpr const char* kDevConfigPath = "/config/devconfig.cgi";

// Shown in the view when the browser engine's page process ended unexpectedly.
inline constexpr const char* kRendererGonePage =
    "<!DOCTYPE html><html lang=\"de\"><head><meta charset=\"utf-8\">"
    "<title>Velantrix Konfigurator</title></head>"
    "<body style=\"font-family: sans-serif; margin: 2em\">"
    "<h2>Die Anzeige der Weboberfläche wurde unerwartet beendet.</h2>"
    "<p>Wählen Sie <b>Ansicht, WebUI neu laden</b>, um zur Startseite zurückzukehren, oder "
    "drücken Sie F4 für die Gerätekonfiguration.</p></body></html>";

// Shown in the view when the web server could not be started (%1: why, as HTML).
inline constexpr const char* kWebServerDownPage =
    "<!DOCTYPE html><html lang=\"de\"><head><meta charset=\"utf-8\">"
    "<title>Velantrix Konfigurator</title></head>"
    "<body style=\"font-family: sans-serif; margin: 2em\">"
    "<h2>Die Weboberfläche konnte nicht gestartet werden.</h2>"
    "<p>%1</p><p>Die Verbindung zum Funkdienst lässt sich weiter über <b>Datei, Einstellungen</b> "
    "einrichten. Starten Sie das Programm neu, um die Weboberfläche zu öffnen.</p></body></html>";
inline constexpr const char* kWebServerNoFolder = "Der Ordner der Weboberfläche fehlt: %1";
inline constexpr const char* kWebServerNoStart =
    "Der lokale Webserver konnte auf 127.0.0.1 nicht starten.";
