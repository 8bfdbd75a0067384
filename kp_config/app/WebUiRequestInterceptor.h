#pragma once

#include <QByteArray>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <mutex>
#include <string>

// Sees every request of the browser view before it leaves: a request to the program's own web
// server (http://127.0.0.1:<port>) carries the server's per-run secret as the header
// "Authorization: token <secret>"; a web request anywhere else is blocked, so neither the secret
// nor the address of a web UI page (the Referer) ever reaches another host.
class WebUiRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    explicit WebUiRequestInterceptor(QObject* parent = nullptr);

    // The server the view belongs to; port -1 while none runs.
    void SetServer(int port, const std::string& token);
    // Whether url is on the view's own server.
    bool IsOwnServer(const QUrl& url) const;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    mutable std::mutex mutex_; // the engine may call from a thread of its own
    int port_ = -1;
    QByteArray authorization_;
};
