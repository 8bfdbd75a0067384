// Draws the main dialog off screen into a PNG file, for the documentation.
// Usage: lancfg_gui_screenshot OUTPUT.png [FIRMWARE_DIRECTORY]
// It discovers devices like the program does, so run it inside a private network namespace
// beside simulated devices (scripts/screenshot-lancfg-gui.sh does both).

#include "ClancfgDlg.h"
#include "ControlIds.h"

#include <QApplication>
#include <QPixmap>
#include <QTableWidget>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lancfg_gui_screenshot OUTPUT.png [FIRMWARE_DIRECTORY]\n");
        return 2;
    }
    ClancfgDlg dialog(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    dialog.show();
    if (auto* list = FindControl<QTableWidget>(dialog, IdDeviceList); list->rowCount() > 0)
        list->selectRow(0);
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "lancfg_gui_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
