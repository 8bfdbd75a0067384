// The main window's commands and keys: the device page on F4 and Ctrl+F4, the home page again
// on "WebUI neu laden", the About box with its hidden addresses, a way back after the browser's
// page process ends, a view that carries the web server's secret and stays on its server, and
// the status bar of a service that stays unreachable.

#include "AppFixture.h"
#include "KpConfigTexts.h"
#include "WebUiPage.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <signal.h>

#include <map>

using namespace apptest;

namespace {

// A web server on 127.0.0.1 that answers only requests carrying "Authorization: token
// <secret>" (401 otherwise) and keeps the head of every request it got.
class GatedServer {
public:
    GatedServer(QByteArray secret, std::map<QByteArray, QByteArray> pages)
        : secret_(std::move(secret)), pages_(std::move(pages)) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection()) {
                QObject::connect(client, &QTcpSocket::readyRead, [this, client] { Serve(client); });
                QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            }
        });
    }

    int Port() const { return server_.serverPort(); }
    QString Url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
    }

    QList<QByteArray> heads;

private:
    void Serve(QTcpSocket* client) {
        QByteArray& buffer = buffers_[client];
        buffer += client->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray head = buffer.left(buffer.indexOf("\r\n\r\n")).toLower();
        buffers_.erase(client);
        heads << head;
        const QByteArray path = head.split(' ').value(1);
        QByteArray status = "200 OK", body;
        if (!head.contains("\r\nauthorization: token " + secret_.toLower()))
            status = "401 Unauthorized";
        else if (pages_.count(path) != 0)
            body = pages_[path];
        else
            status = "404 Not Found";
        client->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\n" +
                      "Content-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        client->disconnectFromHost();
    }

    QTcpServer server_;
    QByteArray secret_;
    std::map<QByteArray, QByteArray> pages_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

} // namespace

class MainWindow : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        // A remote service keeps these tests free of local processes and devices.
        Store({{"Connection", 2}, {"ServiceHost", "127.0.0.1"}, {"ServicePort", 9}});
        Launch();
        ASSERT_TRUE(WaitForPage("/index.htm", "Willkommen"));
    }

    QAction& Command(int id) { return *Frame().findChild<QAction*>(QString::number(id)); }
};

TEST_F(MainWindow, KeysAndCommandsLandOnTheirPages) {
    // F4 where the focus is: inside the browser's own widget.
    Browser().setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Browser().focusProxy() != nullptr; }, 5000));
    QWidget* inner = QApplication::focusWidget();
    ASSERT_NE(inner, nullptr);
    QTest::keyClick(inner, Qt::Key_F4);
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Funkdienst auf 127.0.0.1, Port 9"));

    Command(IdReloadWebUi).trigger(); // "WebUI neu laden" goes home from any page
    EXPECT_TRUE(WaitForPage("/index.htm", "Willkommen"));

    QTest::keyClick(&Frame(), Qt::Key_F4, Qt::ControlModifier); // the accelerator
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Funkdienst"));
}

TEST_F(MainWindow, AboutBoxShowsVersionAndOnF9TheAddressesOnce) {
    modals.Expect([&](QDialog& about) {
        EXPECT_EQ(about.windowTitle(), "Info über Velantrix Konfigurator");
        auto text = [&](int id) { return about.findChild<QLabel*>(QString::number(id))->text(); };
        EXPECT_EQ(text(1018), QStringLiteral("Velantrix Konfigurator\nV " VK_PRODUCT_VERSION
                                             "\n" VK_COPYRIGHT));
        EXPECT_EQ(text(1016), "");
        QTest::keyClick(&about, Qt::Key_F9);
        const QString web = QStringLiteral("http://127.0.0.1:%1").arg(app->webServer.GetPort());
        EXPECT_EQ(text(1016), web);
        EXPECT_EQ(text(1015), "bin://127.0.0.1:9");
        // The service's address changes; a second F9 leaves the lines as they are.
        EXPECT_TRUE(app->service.Start(servicetest::Remote("127.0.0.1", 10)));
        ASSERT_EQ(app->service.GetServiceUrl(), "bin://127.0.0.1:10");
        QTest::keyClick(&about, Qt::Key_F9);
        EXPECT_EQ(text(1016), web);
        EXPECT_EQ(text(1015), "bin://127.0.0.1:9");
        Accept()(about);
    });
    Command(IdAppAbout).trigger();
    EXPECT_EQ(modals.Pending(), 0u);
}

TEST_F(MainWindow, EndedPageProcessShowsAWayBack) {
    const qint64 pid = Browser().page()->renderProcessPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return Browser().ShowsRendererGonePage(); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return RenderedText().contains("unerwartet beendet"); }, 10000));

    Command(IdReloadWebUi).trigger();
    EXPECT_TRUE(WaitForPage("/index.htm", "Willkommen"));
    QTest::keyClick(&Frame(), Qt::Key_F4, Qt::ControlModifier);
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Funkdienst"));
}

TEST_F(MainWindow, ViewCarriesTheSecretAndStaysOnItsServer) {
    GatedServer elsewhere("other", {});
    const QByteArray start =
        "<html><body><h1>Startseite</h1><a id='inside' href='/second'>weiter</a>"
        "<a id='out' href='" +
        elsewhere.Url("/page").toUtf8() +
        "'>hinaus</a>"
        "<a id='window' target='_blank' href='" +
        elsewhere.Url("/window").toUtf8() +
        "'>Fenster</a>"
        "<a id='mail' href='mailto:someone@example.invalid'>Post</a>"
        "<img src='" +
        elsewhere.Url("/pixel.png").toUtf8() + "'></body></html>";
    const QByteArray secret = "00112233445566778899aabbccddeeff";
    GatedServer own(secret, {{"/", start}, {"/second", "<html><body>Zweite Seite</body></html>"}});
    QList<QUrl> opened;
    WebUiPage& page = *Browser().Page();
    page.SetServer(own.Port(), secret.toStdString());
    page.SetExternalOpener([&](const QUrl& url) { opened << url; });
    auto click = [&](const char* id) {
        page.runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(id));
    };

    Browser().load(QUrl(own.Url("/")));
    ASSERT_TRUE(WaitForPage("/", "Startseite")) << own.heads.join("\n").toStdString();
    click("inside"); // links inside the web UI keep working
    EXPECT_TRUE(WaitForPage("/second", "Zweite Seite"));
    Browser().load(QUrl(own.Url("/")));
    ASSERT_TRUE(WaitForPage("/", "Startseite"));

    click("out");
    EXPECT_TRUE(WaitUntil([&] { return opened.size() == 1; }, 5000));
    click("window");
    EXPECT_TRUE(WaitUntil([&] { return opened.size() == 2; }, 5000));
    click("mail");
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(opened, QList<QUrl>({QUrl(elsewhere.Url("/page")), QUrl(elsewhere.Url("/window"))}));
    EXPECT_EQ(Browser().url(), QUrl(own.Url("/")));
    EXPECT_TRUE(RenderedText().contains("Startseite"));
    EXPECT_TRUE(elsewhere.heads.isEmpty()) << elsewhere.heads.join("\n").toStdString();
}

TEST_F(MainWindow, ServiceStillUnreachableAfterFiveSecondsOpensNoWizard) {
    QElapsedTimer clock;
    clock.start();
    // A name that comes from the stored settings is shown as it is, never as markup.
    ASSERT_TRUE(app->service.Start(servicetest::Remote("<b>nowhere</b>", 9)));
    EXPECT_TRUE(WaitUntil(
        [&] { return Pane() == "Verbindung mit xmlrpc://<b>nowhere</b>:9 wird hergestellt"; },
        2000))
        << Pane().toStdString();
    EXPECT_EQ(Frame().ConnectionPane()->textFormat(), Qt::PlainText);
    WaitUntil([] { return false; }, CMainFrame::StartupCheckMs + 1000 - int(clock.elapsed()));
    EXPECT_EQ(app->service.GetState(), ServiceState::Unreachable);
    EXPECT_TRUE(modals.seen.isEmpty()) << modals.seen.join(", ").toStdString();
}

TEST_F(MainWindow, WebServerThatDoesNotRunIsExplainedInTheView) {
    app->webServer.Stop();
    Frame().View()->NavigateHome();
    EXPECT_TRUE(WaitUntil(
        [&] { return RenderedText().contains("Die Weboberfläche konnte nicht gestartet werden."); },
        10000))
        << RenderedText().toStdString();
    EXPECT_NE(Browser().url().scheme(), "http");
}
