// The web UI in a real browser engine: the device page as the embedded browser shows it, and the
// web UI opened from the runtime file's address, as the user's own browser keeps it.
#include "CWebServer.h"
#include "StandInService.h"
#include "StartWebServer.h"
#include "WebTestSupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

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

// A page of the browser engine, driven step by step; every page shares the engine's one cookie
// jar, as the tabs of a browser do.
class Browser {
public:
    // Loads url and waits for it (at most 30 s); false when it did not load.
    bool Load(const QString& url) {
        QEventLoop loop;
        bool loaded = false;
        auto done = QObject::connect(&page_, &QWebEnginePage::loadFinished, [&](bool ok) {
            loaded = ok;
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        page_.load(QUrl(url));
        loop.exec();
        QObject::disconnect(done);
        return loaded;
    }
    // Runs a script in the page and waits for the page it leads to, if any.
    QVariant Run(const QString& script, bool waitForLoad = false) {
        QEventLoop loop;
        QVariant result;
        auto done = QObject::connect(&page_, &QWebEnginePage::loadFinished, &loop, &QEventLoop::quit);
        page_.runJavaScript(script, [&](const QVariant& value) {
            result = value;
            if (!waitForLoad)
                loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(done);
        return result;
    }
    QString Text() {
        QEventLoop loop;
        QString text;
        page_.toPlainText([&](const QString& t) {
            text = t;
            loop.quit();
        });
        loop.exec();
        return text;
    }
    QUrl Url() const { return page_.url(); }

private:
    QApplication& app_ = App(); // before the page
    QWebEnginePage page_;
};

// The text of the rendered page, or empty when it did not load within 30 s.
QString RenderedText(const QString& url) {
    Browser browser;
    return browser.Load(url) ? browser.Text() : QString();
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

namespace {

// The header's colour comes from the web UI's style sheet.
const QString kStyledHeader =
    QStringLiteral("getComputedStyle(document.querySelector('header')).backgroundColor");

// The user opens the runtime file's address in a browser, which keeps the secret as a cookie;
// every page of the web UI works there through its own links. A server of another local user on
// another port of this host, which the same browser then visits, never receives the secret
// (cookies do not tell ports apart, but this one is only for addresses below the mount).
TEST_F(BrowserViewTest, ServerOnAnotherPortNeverReceivesTheSecret) {
    // Another user's server: every answer is a page that sends the browser to the addresses it
    // can think of; everything it receives goes to the test.
    OtherUser other([](int report) {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof sa;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            ::listen(listener, 16) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
            return;
        const std::string port = std::to_string(ntohs(sa.sin_port)) + "\n";
        ::write(report, port.data(), port.size());
        const std::string page = "<html><body><img src=\"/index.htm\"><img src=\"/config/\">"
                                 "<img src=\"/config/devconfig.cgi\"><img src=\"/style.css\">"
                                 "</body></html>";
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                   std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" +
                                   page;
        for (;;) {
            const int c = ::accept(listener, nullptr, nullptr);
            std::string got;
            char buf[4096];
            while (got.find("\r\n\r\n") == std::string::npos) {
                pollfd p{c, POLLIN, 0};
                // The browser also opens spare connections that it leaves silent.
                const ssize_t n = ::poll(&p, 1, 200) > 0 ? ::recv(c, buf, sizeof buf, 0) : 0;
                if (n <= 0)
                    break;
                got.append(buf, static_cast<size_t>(n));
            }
            ::write(report, got.data(), got.size());
            ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    });
    const QString otherPort = QString::fromStdString(other.ReadUntil('\n', 5000));
    ASSERT_FALSE(otherPort.isEmpty());
    ASSERT_TRUE(StartWebServer(server, "", "/tmp/kp-cfg"));
    const QString own = QStringLiteral("http://127.0.0.1:%1").arg(server.GetPort());
    const QString mount = own + "/" + QString::fromStdString(server.GetMount());

    Browser browser;
    ASSERT_TRUE(browser.Load(mount + "/index.htm?token=" + QString::fromStdString(server.GetToken())));
    EXPECT_EQ(browser.Url(), QUrl(mount + "/index.htm")); // the secret has left the address
    EXPECT_TRUE(browser.Text().contains("Willkommen")) << browser.Text().toStdString();
    EXPECT_EQ(browser.Run(kStyledHeader).toString(), "rgb(29, 79, 122)");
    browser.Run("document.querySelector('nav a[href=\"config/devconfig.cgi\"]').click()", true);
    EXPECT_EQ(browser.Url(), QUrl(mount + "/config/devconfig.cgi"));
    EXPECT_TRUE(browser.Text().contains(QString::fromUtf8("Zurzeit läuft kein Funkdienst")))
        << browser.Text().toStdString();
    EXPECT_EQ(browser.Run(kStyledHeader).toString(), "rgb(29, 79, 122)");
    browser.Run("document.querySelector('nav a[href=\"../index.htm\"]').click()", true);
    EXPECT_EQ(browser.Url(), QUrl(mount + "/index.htm"));

    const QString elsewhere = "http://127.0.0.1:" + otherPort;
    for (const char* path : {"/", "/index.htm", "/config/devconfig.cgi"})
        EXPECT_TRUE(browser.Load(elsewhere + path)) << path;
    const std::string received = other.ReadUntil('\0', 1500);
    EXPECT_NE(received.find("GET /config/devconfig.cgi HTTP/1.1"), std::string::npos) << received;
    EXPECT_EQ(received.find(server.GetToken()), std::string::npos) << received;
    EXPECT_EQ(received.find("kp_config_token"), std::string::npos) << received;
}

} // namespace
