#include "CKpConfigApp.h"
#include "KpConfigTexts.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QLoggingCategory>

#include <unistd.h>

int main(int argc, char* argv[]) {
    // The browser engine refuses to run as root inside its own sandbox.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kAppName));
    QApplication::setOrganizationName(QString::fromUtf8(kRegistryKey));
    // The browser engine's account of its graphics set-up is of no use on the console.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));

    CKpConfigApp app;
    // SIGTERM and SIGINT end the program through the same shutdown as a closed window: exit
    // ends every running event loop, a modal dialog's too, and lets no new one start.
    TerminationSignals termination([] { QApplication::exit(0); });
    if (!app.InitInstance()) {
        const int code = app.ExitInstance();
        return code != 0 ? code : 1;
    }
    const int result = QApplication::exec();
    const int exitCode = app.ExitInstance();
    return result != 0 ? result : exitCode;
}
