// Draws the main dialog off screen into a PNG file, for the documentation.
// Usage: lancfg_gui_screenshot OUTPUT.png [FIRMWARE_DIRECTORY]
// It discovers devices like the program does, so run it inside a private network namespace
// beside simulated devices (scripts/screenshot-lancfg-gui.sh does both).

#include "ClancfgDlg.h"
#include "ControlIds.h"

#include <QApplication>
#include <QPixmap>
#include <QTableWidget>
#include <QTemporaryFile>

#include <cstdio>

int main(int argc, char* argv[]) {
    // The plain offscreen platform has an 800 x 600 screen, on which the dialog would shrink to
    // fit: the picture is drawn on a screen of a usual desktop's size instead.
    QTemporaryFile screens;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform.isEmpty() || platform == "offscreen") && screens.open()) {
        screens.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920,)"
                      R"( "height": 1200, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    }
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lancfg_gui_screenshot OUTPUT.png [FIRMWARE_DIRECTORY]\n");
        return 2;
    }
    ClancfgDlg dialog(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    dialog.show();
    // As a keyboard user sees it: the list has the focus, the first row is selected.
    QApplication::setActiveWindow(&dialog);
    auto* list = FindControl<QTableWidget>(dialog, IdDeviceList);
    list->setFocus(Qt::TabFocusReason);
    if (list->rowCount() > 0)
        list->selectRow(0);
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "lancfg_gui_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
