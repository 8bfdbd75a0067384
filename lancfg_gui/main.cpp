#include "ClancfgApp.h"
#include "ProgramTexts.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kProgramName));
    ClancfgApp app;
    return app.InitInstance();
}
