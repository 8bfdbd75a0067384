#include "CChildView.h"

#include "CConfigSheet.h"
#include "CKpConfigApp.h"
#include "CWebBrowser2.h"
#include "KpConfigTexts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

CChildView::CChildView(CKpConfigApp& app, QWidget* parent) : QWidget(parent), app_(app) {}

CChildView::~CChildView() {
    qApp->removeEventFilter(this);
}

bool CChildView::Create() {
    if (!CWebBrowser2::EngineAvailable()) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppName),
                        QString::fromUtf8(kMsgNoBrowser), QMessageBox::Ok, parentWidget());
        box.exec();
        return false;
    }
    browser_ = new CWebBrowser2(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    setFocusProxy(browser_);
    // Key presses reach the browser's own inner widgets, which come and go with its page
    // process; watching them at the application shows every one that lands inside the view.
    qApp->installEventFilter(this);
    NavigateHome();
    return true;
}

bool CChildView::OnCmdMsg(int id) {
    switch (id) {
    case IdSettings:
        OnSettings();
        return true;
    case IdReloadWebUi:
        NavigateHome();
        return true;
    case IdDevConfig:
        NavigateDeviceConfig();
        return true;
    default:
        return false;
    }
}

void CChildView::Navigate(const char* path) {
    browser_->load(QUrl(QStringLiteral("http://127.0.0.1:%1%2")
                            .arg(app_.webServer.GetPort())
                            .arg(QString::fromUtf8(path))));
}

void CChildView::NavigateHome() {
    Navigate(kHomePath);
}

void CChildView::NavigateDeviceConfig() {
    Navigate(kDevConfigPath);
}

bool CChildView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // A key the receiver ignores travels on to its parents: only its first receiver, the
        // focus widget, counts. The receiver is compared, never cast: it may be one of the
        // browser engine's own widget classes.
        QWidget* focus = QApplication::focusWidget();
        if (key->key() == Qt::Key_F4 && !key->isAutoRepeat() && focus != nullptr &&
            watched == focus && (focus == this || isAncestorOf(focus)))
            NavigateDeviceConfig();
    }
    return false; // the key goes on to the browser as before
}

void CChildView::OnSettings() {
    ConnectionSettings workingCopy = app_.settings;
    CConfigSheet sheet(workingCopy, app_.service, this);
    if (sheet.exec() != QDialog::Accepted)
        return; // Cancel or closing: nothing changes
    app_.StoreSettings(workingCopy);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    app_.service.Stop();
    if (app_.service.Start(app_.settings))
        app_.webServer.UpdateRadlexService(app_.service.GetServiceUrl());
    QApplication::restoreOverrideCursor();
}
