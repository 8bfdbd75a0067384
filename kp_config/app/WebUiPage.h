#pragma once

#include <QUrl>
#include <QWebEnginePage>

#include <functional>
#include <string>

class WebUiRequestInterceptor;

// The page of the browser view, which stays on the program's own web server: every request to
// it carries the server's secret; a link or script that leads elsewhere opens in the desktop's
// browser when it is an http or https address and is dropped otherwise. Links that open a new
// window load in the view when they stay on the server.
class WebUiPage : public QWebEnginePage {
    Q_OBJECT
public:
    using ExternalOpener = std::function<void(const QUrl&)>;

    explicit WebUiPage(QObject* parent);

    // The server the view belongs to; port -1 while none runs.
    void SetServer(int port, const std::string& token);
    bool IsOwnServer(const QUrl& url) const;

    // Where addresses outside the web UI go; by default the desktop's browser.
    void SetExternalOpener(ExternalOpener opener) { openExternal_ = std::move(opener); }

    // Sends a navigation to its place: true when the view itself may load it.
    bool Route(const QUrl& url, bool isMainFrame);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    WebUiRequestInterceptor* interceptor_;
    ExternalOpener openExternal_;
};
