#include "ClancfgApp.h"

#include "ClancfgDlg.h"

int ClancfgApp::InitInstance() {
    // Sockets need no start-up on this platform, and the widget classes are ready with the
    // application object, so the main dialog runs straight away.
    ClancfgDlg dialog;
    mainDialog = &dialog;
    dialog.exec();
    mainDialog = nullptr;
    return 0;
}
