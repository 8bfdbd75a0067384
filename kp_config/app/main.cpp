#include "CKpConfigApp.h"
#include "KpConfigTexts.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QLoggingCategory>

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// The options every console user tries first; they answer without a display.
bool AnswerConsoleOption(int argc, char* argv[], int& exitCode) {
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: kp_config [--help | --version]\n"
                    "The desktop configuration tool of the Velantrix radio network: a connection\n"
                    "wizard, the local radio service and the configuration web UI in one window.\n"
                    "It needs a graphical display (QT_QPA_PLATFORM=offscreen runs it without).\n");
        exitCode = 0;
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("kp_config %s\n", VK_PRODUCT_VERSION);
        exitCode = 0;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    // From the first moment, SIGTERM and SIGINT end the program through its own shutdown, which
    // removes what it made (the service's temporary files, the runtime file).
    TerminationSignals::Catch();
    int exitCode = 0;
    if (AnswerConsoleOption(argc, argv, exitCode))
        return exitCode;
    // The browser engine refuses to run as root inside its own sandbox.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kAppName));
    QApplication::setOrganizationName(QString::fromUtf8(kRegistryKey));
    // The browser engine's account of its graphics set-up is of no use on the console.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));

    // SIGTERM and SIGINT end the program through the same shutdown as a closed window: exit
    // ends every running event loop, a modal dialog's too, and lets no new one start.
    TerminationSignals termination([] { QApplication::exit(0); });
    CKpConfigApp app;
    if (!app.InitInstance()) {
        const int code = app.ExitInstance();
        // Ended by a signal during start-up: the same end as a signal a moment later.
        return code != 0 ? code : TerminationSignals::Pending() ? 0 : 1;
    }
    const int result = QApplication::exec();
    const int shutdownCode = app.ExitInstance();
    return result != 0 ? result : shutdownCode;
}
