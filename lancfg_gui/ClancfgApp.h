#pragma once

class ClancfgDlg;

// The application object: runs the main dialog modally; the program ends with it.
class ClancfgApp {
public:
    int InitInstance();

    ClancfgDlg* mainDialog = nullptr; // while the dialog runs
};
