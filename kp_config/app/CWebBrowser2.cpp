#include "CWebBrowser2.h"

#include "KpConfigTexts.h"
#include "WebUiPage.h"

#include <QFileInfo>
#include <QLibraryInfo>

CWebBrowser2::CWebBrowser2(QWidget* parent) : QWebEngineView(parent), page_(new WebUiPage(this)) {
    setObjectName(QStringLiteral("BrowserWnd"));
    setPage(page_);
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                OnRenderProcessTerminated(status);
            });
    // Any page of the web UI replaces the local notice (which is set as data).
    connect(this, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
        if (url.scheme() != QLatin1String("data"))
            rendererGone_ = false;
    });
}

bool CWebBrowser2::EngineAvailable() {
    QString process = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (process.isEmpty())
        process = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) +
                  QStringLiteral("/QtWebEngineProcess");
    const QFileInfo info(process);
    return info.isFile() && info.isExecutable();
}

void CWebBrowser2::OnRenderProcessTerminated(
    QWebEnginePage::RenderProcessTerminationStatus status) {
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    // Never a blank window with no way back: a local page says what happened, and the next
    // navigation starts a new page process.
    setHtml(QString::fromUtf8(kRendererGonePage));
    rendererGone_ = true;
}
