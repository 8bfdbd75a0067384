// Draws kp_config's windows into PNG files, for the documentation and the demo: the main window
// once the web UI is shown and the service reports its interface, the device page, the About
// box, then each page of the connection wizard as the user steps through it with the stored
// choice.
// Usage: kp_config_screenshot OUTPUT_DIRECTORY
// It starts the radio service and checks the connection like the program does: run it inside a
// private network namespace beside simulated devices (scripts/demo.sh does both).

#include "CAboutDlg.h"
#include "CChildView.h"
#include "CConfigSheet.h"
#include "CKpConfigApp.h"
#include "CMainFrame.h"
#include "CWebBrowser2.h"
#include "KpConfigTexts.h"
#include "ProppageConfigFinish.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <unistd.h>

#include <cstdio>
#include <functional>

namespace {

// Runs the event loop until condition holds or ms milliseconds have passed.
bool WaitUntil(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return condition();
}

// The window as the screen shows it (the browser draws outside the widget tree), or as the
// widgets draw themselves where the platform cannot read the screen back.
bool Save(QWidget& window, const QString& path) {
    WaitUntil([] { return false; }, 300);
    QPixmap pixmap;
    if (QScreen* screen = window.screen();
        screen != nullptr && QGuiApplication::platformName() != "offscreen")
        pixmap = screen->grabWindow(window.winId());
    if (pixmap.isNull())
        pixmap = window.grab();
    const bool saved = pixmap.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char* argv[]) {
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kp_config_screenshot OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    CKpConfigApp app;
    if (!app.InitInstance()) {
        app.ExitInstance();
        return 1;
    }
    CMainFrame& frame = *app.MainFrame();
    bool loaded = false;
    QObject::connect(frame.View()->Browser(), &QWebEngineView::loadFinished,
                     [&](bool ok) { loaded = ok; });
    WaitUntil([&] { return loaded; }, 30000);
    WaitUntil([&] { return frame.ConnectionPane()->text().startsWith("Verbunden mit"); }, 15000);
    std::printf("status bar: %s\n", qPrintable(frame.ConnectionPane()->text()));
    bool ok = Save(frame, out.filePath("kp_config.png"));

    // The device page (F4), and the About box with its addresses (F9).
    loaded = false;
    frame.View()->NavigateDeviceConfig();
    WaitUntil([&] { return loaded; }, 30000);
    ok = Save(frame, out.filePath("kp_config-devices.png")) && ok;
    {
        CAboutDlg about(app, &frame);
        about.show();
        QKeyEvent f9(QEvent::KeyPress, Qt::Key_F9, Qt::NoModifier);
        QApplication::sendEvent(&about, &f9);
        ok = Save(about, out.filePath("about.png")) && ok;
    }

    ConnectionSettings workingCopy = app.settings;
    // The sheet belongs to the view, as when the program runs it; it goes before the window.
    auto* owned = new CConfigSheet(workingCopy, app.service, frame.View());
    CConfigSheet& sheet = *owned;
    sheet.show();
    const char* names[] = {"wizard-start.png", "wizard-lanif.png", "wizard-service.png",
                           "wizard-finish.png"};
    // The stored choice's way through the wizard, page by page, the check included.
    for (;;) {
        if (sheet.currentId() == PageLanif)
            if (auto* search = sheet.currentPage()->findChild<QAbstractButton*>("1016"))
                search->click(); // the picture shows what the search finds
        ok = Save(sheet, out.filePath(QString::fromUtf8(names[sheet.currentId()]))) && ok;
        if (sheet.currentId() == PageFinish) {
            std::printf("the wizard's check: %s\n",
                        sheet.FinishPage()->resultText.substr(0, 80).c_str());
            break;
        }
        sheet.next();
    }
    // The remote service page, off the stored choice's way.
    if (!sheet.hasVisitedPage(PageService)) {
        sheet.restart();
        if (auto* remote = sheet.currentPage()->findChild<QAbstractButton*>("1006"))
            remote->setChecked(true);
        sheet.next();
        ok = Save(sheet, out.filePath(QString::fromUtf8(names[PageService]))) && ok;
    }
    sheet.reject();
    delete owned;
    app.ExitInstance();
    return ok ? 0 : 1;
}
