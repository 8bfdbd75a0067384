#include "CChildView.h"

#include "CConfigSheet.h"
#include "CKpConfigApp.h"
#include "CWebBrowser2.h"
#include "KpConfigTexts.h"
#include "UserMessage.h"
#include "WebUiPage.h"

#include <QApplication>
#include <QKeyEvent>
#include <QUrl>
#include <QVBoxLayout>

CChildView::CChildView(CKpConfigApp& app, QWidget* parent) : QWidget(parent), app_(app) {}

CChildView::~CChildView() {
    qApp->removeEventFilter(this);
}

bool CChildView::Create() {
    if (!CWebBrowser2::EngineAvailable()) {
        ShowUserMessage(parentWidget(), QString::fromUtf8(kMsgNoBrowser));
        return false;
    }
    browser_ = new CWebBrowser2(this);
    // Every request to the web server carries its secret of this run.
    browser_->Page()->SetServer(app_.webServer.GetPort(), app_.webServer.GetToken());
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
    const int port = app_.webServer.GetPort();
    if (port <= 0) {
        // No address to go to: a local page says why instead of the browser's error page.
        const QString why = app_.webServerError.empty()
                                ? QString::fromUtf8(kWebServerNoStart)
                                : QString::fromStdString(app_.webServerError);
        browser_->setHtml(QString::fromUtf8(kWebServerDownPage).arg(why.toHtmlEscaped()));
        return;
    }
    browser_->load(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QString::fromUtf8(path))));
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
    std::string why;
    if (!app_.StoreSettings(workingCopy, why)) {
        // Nothing changes: the next start would be back on the stored choice otherwise.
        ShowUserMessage(this, QString::fromUtf8(kMsgSettingsNotStored)
                                  .arg(QString::fromStdString(app_.SettingsPath()),
                                       QString::fromStdString(why)));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    app_.service.Stop();
    if (app_.service.Start(app_.settings))
        app_.webServer.UpdateRadlexService(app_.service.GetServiceUrl());
    QApplication::restoreOverrideCursor();
}
