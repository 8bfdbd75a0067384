#pragma once

// The scene of kp_config's tests: the application object with its real browser view, web
// server and stand-in radio service, a settings file and a data directory of the test's own,
// simulated LAN interfaces in the test's private network namespace, and a driver for the modal
// dialogs that actions open.

#include "CChildView.h"
#include "CKpConfigApp.h"
#include "CMainFrame.h"
#include "CWebBrowser2.h"
#include "LanIfSimulator.h"
#include "ModalDriver.h"
#include "ProppageConfig.h"
#include "ServiceTestSupport.h"
#include "SimFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QWizard>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace apptest {

// Runs the event loop until condition holds or ms milliseconds have passed.
inline bool WaitUntil(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

class AppTest : public simtest::SimTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // The data directory lies in the test's own folder, never in the user's home.
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        options.service = servicetest::StandIn();
        options.settingsFile = dir.filePath("profile.ini");
        options.logFile = dir.filePath("kp_config_log.txt").toStdString();
        options.windowFile = dir.filePath("window.conf");
    }

    void TearDown() override {
        if (app) {
            app->ExitInstance();
            app.reset();
        }
        SimTest::TearDown();
        EXPECT_TRUE(modals.unexpected.isEmpty()) << modals.unexpected.join(", ").toStdString();
        EXPECT_EQ(modals.Pending(), 0u) << "expected dialogs that never came";
    }

    // Stored settings as the profile holds them, section "Config".
    void Store(const std::map<QString, QVariant>& values) {
        QSettings profile(options.settingsFile, QSettings::IniFormat);
        profile.beginGroup("Config");
        for (const auto& [key, value] : values)
            profile.setValue(key, value);
    }

    QVariant Stored(const QString& key) const {
        QSettings profile(options.settingsFile, QSettings::IniFormat);
        return profile.value("Config/" + key);
    }

    // Starts the program as its main does; the main window is shown.
    CMainFrame& Launch() {
        app = std::make_unique<CKpConfigApp>(options);
        EXPECT_TRUE(app->InitInstance());
        return *app->MainFrame();
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    // The service address the web UI's scripts are given.
    std::string RadlexService() { return app->webServer.cgiVariables["RADLEX_SERVICE"]; }
    CWebBrowser2& Browser() { return *Frame().View()->Browser(); }
    QString Pane() { return Frame().ConnectionPane()->text(); }

    // Waits until the browser shows a loaded page whose path is `path` and whose text holds
    // `text`.
    bool WaitForPage(const QString& path, const QString& text, int ms = 30000) {
        return WaitUntil(
            [&] {
                return Browser().url().path() == path && !Browser().page()->isLoading() &&
                       RenderedText().contains(text);
            },
            ms);
    }

    // The text the browser shows now.
    QString RenderedText() {
        QString text;
        bool done = false;
        Browser().page()->toPlainText([&](const QString& t) {
            text = t;
            done = true;
        });
        WaitUntil([&] { return done; }, 10000);
        return text;
    }

    QTemporaryDir dir;
    KpConfigOptions options;
    ModalDriver modals;
    std::unique_ptr<CKpConfigApp> app;
};

// A wizard handler: the stored choice as it is, through every page, then "Fertig stellen".
inline ModalDriver::Handler FinishUnchanged() {
    return [](QDialog& dialog) {
        auto& sheet = static_cast<QWizard&>(dialog);
        QAbstractButton* finish = sheet.button(QWizard::FinishButton);
        for (int page = 0; page < 8 && !(finish->isVisible() && finish->isEnabled()); ++page)
            sheet.next();
        EXPECT_TRUE(finish->isEnabled()) << "the stored choice did not pass the check";
        finish->click();
    };
}

inline ConnectionSettings LanChoice(const std::string& serial, const std::string& key = "") {
    ConnectionSettings s;
    s.connection = ConnectionType::Lan;
    s.lanSerial = serial;
    s.lanKey = key;
    return s;
}

} // namespace apptest
