// Starting and closing kp_config: the stored connection reaches the radio service, the web UI
// appears in the window, the status bar follows the service, a service that never runs leads
// into the wizard once, a termination signal ends the wait for it, and nothing is left behind
// afterwards.

#include "AppFixture.h"
#include "KpConfigTexts.h"
#include "ProcessTable.h"
#include "TerminationSignals.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using namespace apptest;

namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

QStringList MenuTexts(QMenuBar& bar) {
    QStringList texts;
    for (QAction* menu : bar.actions()) {
        texts << menu->text();
        for (QAction* item : menu->menu()->actions())
            if (!item->isSeparator())
                texts << "  " + item->text();
    }
    return texts;
}

} // namespace

TEST_F(AppTest, StoredLanInterfaceIsConnectedShownAndLeftCleanlyOnExit) {
    StartWith({simtest::PlainDevice()});
    Store({{"Connection", 1}, {"LanifSerial", "KPL0000001"}, {"LanifKey", "secret"}});
    const QByteArray profileName = QFile::encodeName(options.settingsFile);
    ASSERT_EQ(::chmod(profileName.constData(), 0644), 0);
    const std::string stored = FileText(profileName.toStdString());
    CMainFrame& frame = Launch();
    // A settings file readable by others is made owner-only at once, its content untouched.
    struct stat info {};
    ASSERT_EQ(::stat(profileName.constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(FileText(profileName.toStdString()), stored);

    EXPECT_EQ(frame.windowTitle(), "Velantrix Konfigurator");
    EXPECT_EQ(MenuTexts(*frame.menuBar()),
              QStringList({"&Datei", "  &Einstellungen", "  &Beenden", "&Ansicht",
                           "  WebUI &neu laden", "&Hilfe", "  &Info über Velantrix Konfigurator"}));
    EXPECT_EQ(Browser().objectName(), "BrowserWnd");
    // The service was started with the stored interface.
    const std::string config = FileText(app->service.ConfigPath());
    EXPECT_NE(config.find("KPL0000001"), std::string::npos) << config;
    EXPECT_NE(config.find("secret"), std::string::npos) << config;

    EXPECT_TRUE(WaitForPage("/index.htm", "Willkommen"));
    EXPECT_TRUE(WaitUntil([&] { return Pane() == "Verbunden mit KPL0000001@LAN"; }, 10000))
        << Pane().toStdString();
    EXPECT_EQ(frame.MessagePane()->text(), "Bereit");
    EXPECT_EQ(Browser().geometry().size(), frame.View()->size()); // the browser fills the view

    // "Beenden": the service and the web server stop, no supervision thread or file is left.
    const std::string configPath = app->service.ConfigPath();
    const std::string log = app->service.LogPath();
    frame.OnCmdMsg(IdAppExit);
    EXPECT_FALSE(frame.isVisible());
    app->ExitInstance();
    EXPECT_EQ(app->service.GetState(), ServiceState::Stopped);
    EXPECT_FALSE(app->webServer.IsRunning());
    EXPECT_EQ(servicetest::SupervisionThreads(), 0);
    app.reset();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(configPath)));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(log)));
}

TEST_F(AppTest, FirstRunUsesUsbAndPort2001AndWritesNoSettings) {
    CMainFrame& frame = Launch();
    EXPECT_EQ(app->settings.connection, ConnectionType::Usb);
    EXPECT_EQ(app->settings.usbSerial, "");
    EXPECT_EQ(app->settings.servicePort, 2001);
    // No USB interface in the test's tree: the service does not run, and the pane, whatever it
    // showed before, says so.
    frame.ConnectionPane()->setText("");
    EXPECT_TRUE(WaitUntil([&] { return Pane() == "Nicht verbunden"; }, 2000));
    frame.close();
    app->ExitInstance();
    app.reset();
    EXPECT_FALSE(QFile::exists(options.settingsFile)) << "start-up and exit never write settings";
}

TEST_F(AppTest, ServiceThatNeverRunsLeadsIntoTheWizardOnceAfterFiveSeconds) {
    options.service = servicetest::StandIn({"no-event"});
    options.service.startupTimeoutMs = 300;
    Store({{"Connection", 1}, {"LanifSerial", "KPL0000001"}});
    QElapsedTimer clock;
    qint64 messageAt = -1;
    modals.Expect([&](QDialog& box) {
        messageAt = clock.elapsed();
        EXPECT_EQ(box.windowTitle(), "Velantrix Konfigurator");
        Accept()(box);
    });
    modals.Expect([&](QDialog& wizard) {
        EXPECT_EQ(wizard.windowTitle(), "Velantrix-Konfigurator Einstellungen");
        Reject()(wizard);
    });
    clock.start();
    Launch(); // the check's timer starts inside
    const qint64 launched = clock.elapsed();
    EXPECT_TRUE(WaitUntil([&] { return modals.Pending() == 0; }, 9000));
    EXPECT_GE(messageAt, CMainFrame::StartupCheckMs);
    EXPECT_LE(messageAt - launched, CMainFrame::StartupCheckMs * 3 / 2) << launched;
    ASSERT_EQ(modals.texts.size(), 1);
    EXPECT_EQ(modals.texts[0], "Es wurde kein Interface gefunden, um Ihre Velantrix-Geräte "
                               "anzusprechen. Bitte überprüfen Sie Ihre Einstellungen.");
    // Cancel kept everything; the check does not come back.
    WaitUntil([] { return false; }, CMainFrame::StartupCheckMs + 500);
    EXPECT_EQ(modals.seen.size(), 2);
    EXPECT_EQ(Stored("Connection").toInt(), 1);
}

// SIGTERM while the start-up waits for a service that never says it is ready: the wait ends at
// once, nothing more is started, and no service is left.
TEST_F(AppTest, TerminationSignalEndsTheWaitForTheServiceAtOnce) {
    options.service = servicetest::StandIn({"present=up", "no-event"});
    options.service.startupTimeoutMs = 10000;
    TerminationSignals termination([] {});
    app = std::make_unique<CKpConfigApp>(options);
    QElapsedTimer clock;
    clock.start();
    std::thread session([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        ::kill(::getpid(), SIGTERM);
    });
    EXPECT_FALSE(app->InitInstance());
    const qint64 ended = clock.elapsed();
    session.join();
    EXPECT_GE(ended, 1000);
    EXPECT_LT(ended, 1500);
    EXPECT_EQ(app->MainFrame(), nullptr);
    EXPECT_FALSE(app->webServer.IsRunning());
    EXPECT_EQ(app->service.GetState(), ServiceState::Stopped);
    for (const proctable::Process& child : proctable::Descendants(::getpid()))
        EXPECT_NE(child.name, "nrd");
}

// Without HOME, the toolkit's caches lie in the home folder of the user database, as the
// program's own files do, never under "/.cache".
TEST_F(AppTest, WithoutHomeTheCachesLieInTheUsersOwnHome) {
    struct Unset {
        explicit Unset(const char* variable) : name(variable), value(qgetenv(variable)) {
            qunsetenv(variable);
        }
        ~Unset() {
            if (!value.isNull())
                qputenv(name, value);
            else
                qunsetenv(name);
        }
        const char* name;
        QByteArray value;
    } home("HOME"), cache("XDG_CACHE_HOME");
    Launch();
    const struct passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation),
              QString::fromLocal8Bit(user->pw_dir) + "/.cache");
}

TEST_F(AppTest, MissingBrowserEngineIsReportedAndTheProgramEnds) {
    const QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
    qputenv("QTWEBENGINEPROCESS_PATH", dir.filePath("no-such-engine").toUtf8());
    modals.Expect(Accept());
    app = std::make_unique<CKpConfigApp>(options);
    EXPECT_FALSE(app->InitInstance());
    EXPECT_EQ(modals.texts, QStringList{"Failed to create IE control"});
    EXPECT_EQ(app->MainFrame(), nullptr);
    app->ExitInstance();
    EXPECT_FALSE(app->webServer.IsRunning());
    app.reset();
    if (saved.isEmpty())
        qunsetenv("QTWEBENGINEPROCESS_PATH");
    else
        qputenv("QTWEBENGINEPROCESS_PATH", saved);
}

TEST_F(AppTest, WindowFitsTheScreenAndReopensWhereItWasLastTime) {
    CMainFrame& first = Launch();
    const QRect area = first.screen()->availableGeometry();
    EXPECT_TRUE(area.contains(first.frameGeometry())) << area.width() << "x" << area.height();
    first.setGeometry(30, 40, 500, 400);
    app->ExitInstance();
    app.reset();

    CMainFrame& second = Launch();
    EXPECT_EQ(second.geometry(), QRect(30, 40, 500, 400));
}

TEST_F(AppTest, SettingsFileThatIsNoRegularFileLeavesTheDefaults) {
    // A FIFO would hold any reader until someone writes into it.
    ASSERT_EQ(::mkfifo(QFile::encodeName(options.settingsFile).constData(), 0600), 0);
    Launch();
    EXPECT_EQ(app->settings.connection, ConnectionType::Usb);
    EXPECT_EQ(app->settings.servicePort, 2001);
    const std::string log = FileText(options.logFile);
    EXPECT_NE(log.find("profile.ini is a FIFO: not read, the defaults apply"), std::string::npos)
        << log;
}

TEST_F(AppTest, FinishThatCannotStoreSaysSoAndKeepsTheRunningService) {
    StartWith({simtest::PlainDevice()});
    Store({{"Connection", 1}, {"LanifSerial", "KPL0000001"}});
    Launch();
    ASSERT_TRUE(WaitUntil([&] { return Pane() == "Verbunden mit KPL0000001@LAN"; }, 10000));
    const std::string url = app->service.GetServiceUrl();
    // The settings path is taken by a directory now.
    ASSERT_TRUE(QFile::remove(options.settingsFile));
    ASSERT_TRUE(QDir().mkdir(options.settingsFile));

    modals.Expect(FinishUnchanged());
    modals.Expect(Accept());
    Frame().OnCmdMsg(IdSettings);
    ASSERT_EQ(modals.texts.size(), 1);
    EXPECT_TRUE(modals.texts[0].startsWith("Die Einstellungen konnten nicht gespeichert werden ("))
        << modals.texts[0].toStdString();
    // Not restarted: the same service, still connected.
    EXPECT_EQ(app->service.GetServiceUrl(), url);
    EXPECT_EQ(app->service.GetState(), ServiceState::Connected);
    EXPECT_EQ(RadlexService(), url);
    EXPECT_NE(FileText(options.logFile).find("Die Einstellungen konnten nicht gespeichert"),
              std::string::npos);
}

TEST_F(AppTest, FailedRestartAfterFinishLeavesTheWebUiWithoutAService) {
    // The service program goes away before Finish, so its restart fails.
    const QString program = dir.filePath("nrd");
    ASSERT_TRUE(QFile::link(QString::fromStdString(options.service.servicePath), program));
    options.service.servicePath = program.toStdString();
    StartWith({simtest::PlainDevice()});
    Store({{"Connection", 1}, {"LanifSerial", "KPL0000001"}});
    Launch();
    ASSERT_TRUE(WaitUntil([&] { return Pane() == "Verbunden mit KPL0000001@LAN"; }, 10000));
    ASSERT_TRUE(QFile::remove(program));

    modals.Expect(FinishUnchanged());
    Frame().OnCmdMsg(IdSettings);
    EXPECT_TRUE(WaitUntil([&] { return Pane() == "Nicht verbunden"; }, 2000));
    EXPECT_EQ(RadlexService(), "");
    Frame().View()->NavigateDeviceConfig();
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Zurzeit läuft kein Funkdienst"));
}

TEST_F(AppTest, SettingsLinkIsWrittenThroughWithoutTouchingTheModeOfItsTarget) {
    StartWith({simtest::PlainDevice()});
    // The link lies in the settings folder; the file it names lies elsewhere.
    QDir().mkpath(dir.filePath("config"));
    QDir().mkpath(dir.filePath("elsewhere"));
    const QString target = dir.filePath("elsewhere/shared.ini");
    options.settingsFile = dir.filePath("config/profile.ini");
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Config]\nConnection=1\nLanifSerial=KPL0000001\n");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0644), 0);
    ASSERT_TRUE(QFile::link(target, options.settingsFile));
    Launch();
    ASSERT_TRUE(WaitUntil([&] { return Pane() == "Verbunden mit KPL0000001@LAN"; }, 10000));

    modals.Expect(FinishUnchanged());
    Frame().OnCmdMsg(IdSettings);
    EXPECT_TRUE(modals.texts.isEmpty()) << modals.texts.join(", ").toStdString();
    EXPECT_TRUE(QFileInfo(options.settingsFile).isSymLink());
    EXPECT_TRUE(FileText(target.toStdString()).find("ServicePort=2001") != std::string::npos)
        << FileText(target.toStdString());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// Another user made the runtime file's folder first: the program does not use it, and says so
// in its log and on the status line.
TEST_F(AppTest, RuntimeFolderOfAnotherUserIsNamedOnTheStatusLine) {
    const QString folder = dir.filePath("run/velantrix-konfigurator");
    ASSERT_TRUE(QDir().mkpath(folder));
    // As root the folder goes to another uid; otherwise all another user could leave is a link.
    const bool ownUid = ::geteuid() == 0;
    if (ownUid) {
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    } else {
        ASSERT_TRUE(QDir(folder).removeRecursively());
        ASSERT_TRUE(QFile::link(dir.path(), folder));
    }
    qputenv("XDG_RUNTIME_DIR", dir.filePath("run").toUtf8());
    Launch();
    const QString reason = ownUid ? "Der Ordner gehört einem anderen Benutzer."
                                  : "Der Ordner ist ein Verweis oder eine Datei.";
    const QString file = QStringLiteral("%1/kp_config-%2.json").arg(folder).arg(::getpid());
    EXPECT_EQ(Frame().MessagePane()->text(),
              "Die Laufzeitdatei konnte nicht geschrieben werden: " + reason);
    const QString named =
        "Die Laufzeitdatei " + file + " konnte nicht geschrieben werden: " + reason;
    EXPECT_EQ(Frame().MessagePane()->toolTip(), named);
    EXPECT_NE(FileText(options.logFile).find(named.toStdString()), std::string::npos);
}
