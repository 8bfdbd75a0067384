#pragma once

#include <QDialog>
#include <QString>

class CKpConfigApp;

// The About box: icon, product name, version and copyright. F9 fills in, once, the addresses of
// the web UI and of the radio service.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(CKpConfigApp& app, QWidget* parent = nullptr);

    QString serviceAddress; // control 1015
    QString webAddress;     // control 1016
    QString infoText;       // control 1018, lines joined by CR LF

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowTexts();

    CKpConfigApp& app_;
};
