// Starting and closing kp_config: the stored connection reaches the radio service, the web UI
// appears in the window, the status bar follows the service, a service that never runs leads
// into the wizard once, and nothing is left behind afterwards.

#include "AppFixture.h"
#include "KpConfigTexts.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>

#include <fstream>
#include <sstream>

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
    CMainFrame& frame = Launch();

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
    EXPECT_EQ(app->ExitInstance(), 0);
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
    // No USB interface in the test's tree: the service does not run.
    EXPECT_TRUE(WaitUntil([&] { return Pane() == "Nicht verbunden"; }, 2000));
    frame.close();
    EXPECT_EQ(app->ExitInstance(), 0);
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

TEST_F(AppTest, MissingBrowserEngineIsReportedAndTheProgramEnds) {
    const QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
    qputenv("QTWEBENGINEPROCESS_PATH", dir.filePath("no-such-engine").toUtf8());
    modals.Expect(Accept());
    app = std::make_unique<CKpConfigApp>(options);
    EXPECT_FALSE(app->InitInstance());
    EXPECT_EQ(modals.texts, QStringList{"Failed to create IE control"});
    EXPECT_EQ(app->MainFrame(), nullptr);
    EXPECT_EQ(app->ExitInstance(), 0);
    EXPECT_FALSE(app->webServer.IsRunning());
    app.reset();
    if (saved.isEmpty())
        qunsetenv("QTWEBENGINEPROCESS_PATH");
    else
        qputenv("QTWEBENGINEPROCESS_PATH", saved);
}
