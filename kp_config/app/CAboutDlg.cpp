#include "CAboutDlg.h"

#include "AppIcon.h"
#include "CKpConfigApp.h"
#include "DialogTemplate.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {

enum : int {
    IdServiceAddress = 1015,
    IdWebAddress = 1016,
    IdInfoText = 1018,
    IdAboutIcon = 2001,
};

const ControlTemplate kControls[] = {
    {IdAboutIcon, ControlKind::StaticText, "", 11, 10, 21, 20},
    {IdInfoText, ControlKind::StaticText, "Velantrix Konfigurator, Version 1.0", 40, 10, 150, 26},
    {IdOk, ControlKind::DefaultPushButton, "OK", 200, 10, 50, 14},
    {IdWebAddress, ControlKind::StaticText, "", 7, 48, 243, 8},
    {IdServiceAddress, ControlKind::StaticText, "", 7, 60, 243, 8},
};

const DialogTemplate kTemplate{"Info über Velantrix Konfigurator", 257, 74, kControls};

QString Shown(const QString& text) {
    return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

CAboutDlg::CAboutDlg(CKpConfigApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    BuildDialog(*this, kTemplate);
    setWindowIcon(AppIcon());
    FindControl<QLabel>(*this, IdAboutIcon)->setPixmap(AppIcon().pixmap(32, 32));
    connect(FindControl<QPushButton>(*this, IdOk), &QPushButton::clicked, this, &QDialog::accept);
    // Product name, version and copyright are compiled into the program.
    infoText = QStringLiteral("%1\r\nV %2\r\n%3")
                   .arg(QStringLiteral(VK_PRODUCT_NAME), QStringLiteral(VK_PRODUCT_VERSION),
                        QStringLiteral(VK_COPYRIGHT));
    ShowTexts();
}

void CAboutDlg::ShowTexts() {
    FindControl<QLabel>(*this, IdInfoText)->setText(Shown(infoText));
    FindControl<QLabel>(*this, IdWebAddress)->setText(webAddress);
    FindControl<QLabel>(*this, IdServiceAddress)->setText(serviceAddress);
}

void CAboutDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F9 && webAddress.isEmpty()) {
        webAddress = QStringLiteral("http://127.0.0.1:%1").arg(app_.webServer.GetPort());
        serviceAddress = QString::fromStdString(app_.service.GetServiceUrl());
        ShowTexts();
    }
    QDialog::keyPressEvent(event);
}
