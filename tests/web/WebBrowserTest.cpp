// The device page as the embedded browser shows it: a real browser engine renders the page the
// gateway delivers, and the test reads the rendered text.
#include "CWebServer.h"
#include "StandInService.h"
#include "StartWebServer.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Headless, and as root without the engine's sandbox; set here because the test registration
// carries only one value of each kind.
QApplication& App() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    static int argc = 1;
    static char name[] = "web_browser_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// The text of the rendered page, or empty when it did not load within 30 s.
QString RenderedText(const QString& url) {
    App();
    QWebEnginePage page;
    QEventLoop loop;
    QString text;
    bool loaded = false;
    QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool ok) {
        loaded = ok;
        page.toPlainText([&](const QString& t) {
            text = t;
            loop.quit();
        });
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    page.load(QUrl(url));
    loop.exec();
    return loaded ? text : QString();
}

class BrowserViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* flag = std::getenv("VK_IN_NETNS");
        if (!flag || std::string(flag) != "1")
            GTEST_SKIP() << "runs only inside its private network namespace";
    }
    CWebServer server;

    QString DevicePage() {
        // The secret in the address, as the program's own view may bring it.
        return RenderedText(QString("http://127.0.0.1:%1/config/devconfig.cgi?token=%2")
                                .arg(server.GetPort())
                                .arg(QString::fromStdString(server.GetToken())));
    }
};

TEST_F(BrowserViewTest, ShowsConnectedInterface) {
    StandInService service(StandInService::Connected);
    ASSERT_TRUE(StartWebServer(server, service.Url(), "/tmp/kp-cfg"));
    QString text = DevicePage();
    EXPECT_TRUE(text.contains(QString::fromUtf8("Gerätekonfiguration"))) << text.toStdString();
    EXPECT_TRUE(text.contains("0123456789\tverbunden")) << text.toStdString();
    EXPECT_TRUE(text.contains("<b>98&76</b>")) << text.toStdString();
}

TEST_F(BrowserViewTest, ShowsInterfaceNotConnected) {
    StandInService service(StandInService::Disconnected);
    ASSERT_TRUE(StartWebServer(server, service.Url(), "/tmp/kp-cfg"));
    QString text = DevicePage();
    EXPECT_TRUE(text.contains("0123456789\tnicht verbunden")) << text.toStdString();
}

TEST_F(BrowserViewTest, ShowsTextOfAPrettyPrintedAnswerAsWritten) {
    RawAnswerService service(kPrettyAnswer, false);
    ASSERT_TRUE(
        StartWebServer(server, "bin://127.0.0.1:" + std::to_string(service.port), "/tmp/kp-cfg"));
    QString text = DevicePage();
    EXPECT_TRUE(text.contains(QString::fromUtf8("K\xC3\xBC"
                                                "che-\xCE\xA9<1>\tverbunden")))
        << text.toStdString();
}

TEST_F(BrowserViewTest, SaysSoWhenNoServiceIsSet) {
    ASSERT_TRUE(StartWebServer(server, "", "/tmp/kp-cfg"));
    QString text = DevicePage();
    EXPECT_TRUE(text.contains(QString::fromUtf8("Zurzeit läuft kein Funkdienst")))
        << text.toStdString();
}

} // namespace
