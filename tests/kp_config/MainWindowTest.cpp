// The main window's commands and keys: the device page on F4 and Ctrl+F4, the home page again
// on "WebUI neu laden", the About box with its hidden addresses, and a way back after the
// browser's page process ends.

#include "AppFixture.h"
#include "KpConfigTexts.h"

#include <QAction>
#include <QLabel>
#include <QTest>

#include <signal.h>

using namespace apptest;

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
    EXPECT_TRUE(WaitForPage("/config/devconfig.cgi", "Funkdienst: bin://127.0.0.1:9"));

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
        QTest::keyClick(&about, Qt::Key_F9); // a second F9 changes nothing
        EXPECT_EQ(text(1016), web);
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
