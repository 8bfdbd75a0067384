#include "WebUiPage.h"

#include "WebUiRequestInterceptor.h"

#include <QDesktopServices>
#include <QWebEngineSettings>

namespace {

// Catches the first address of a window that the web UI asks to open and hands it back to the
// view's page; the window itself never shows.
class NewWindowCatcher : public QWebEnginePage {
public:
    NewWindowCatcher(WebUiPage& owner) : QWebEnginePage(owner.profile(), &owner), owner_(owner) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (!isMainFrame)
            return false;
        if (owner_.Route(url, true))
            owner_.load(url);
        deleteLater();
        return false;
    }

private:
    WebUiPage& owner_;
};

} // namespace

WebUiPage::WebUiPage(QObject* parent)
    : QWebEnginePage(parent), interceptor_(new WebUiRequestInterceptor(this)),
      openExternal_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setUrlRequestInterceptor(interceptor_);
    // Addresses of other schemes (mail, other programs) are dropped, never handed on.
    settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
}

void WebUiPage::SetServer(int port, const std::string& token) {
    interceptor_->SetServer(port, token);
}

bool WebUiPage::IsOwnServer(const QUrl& url) const {
    return interceptor_->IsOwnServer(url);
}

bool WebUiPage::Route(const QUrl& url, bool isMainFrame) {
    if (IsOwnServer(url))
        return true;
    // The program's own local pages (the notice of an ended page process, of a web server that
    // did not start) are set as data; a blank page is harmless.
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("data") || url == QUrl(QStringLiteral("about:blank")))
        return true;
    if (isMainFrame && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        openExternal_)
        openExternal_(url);
    return false;
}

bool WebUiPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
    return Route(url, isMainFrame);
}

QWebEnginePage* WebUiPage::createWindow(WebWindowType) {
    return new NewWindowCatcher(*this);
}
