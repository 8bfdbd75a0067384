#include "ClancfgApp.h"
#include "ProgramTexts.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Answered before the toolkit starts, so that they work without a display.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", kProgramName, VK_PRODUCT_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kProgramName));
    ClancfgApp app;
    return app.InitInstance();
}
