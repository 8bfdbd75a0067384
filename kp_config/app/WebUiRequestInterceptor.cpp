#include "WebUiRequestInterceptor.h"

#include <QWebEngineUrlRequestInfo>

namespace {

bool IsWebScheme(const QString& scheme) {
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ws") || scheme == QLatin1String("wss");
}

} // namespace

WebUiRequestInterceptor::WebUiRequestInterceptor(QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent) {}

void WebUiRequestInterceptor::SetServer(int port, const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_ = port;
    authorization_ = QByteArrayLiteral("token ") + QByteArray::fromStdString(token);
}

bool WebUiRequestInterceptor::IsOwnServer(const QUrl& url) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_ > 0 && url.scheme() == QLatin1String("http") &&
           url.host() == QLatin1String("127.0.0.1") && url.port(80) == port_;
}

void WebUiRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const QUrl url = info.requestUrl();
    if (IsOwnServer(url)) {
        QByteArray authorization;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            authorization = authorization_;
        }
        info.setHttpHeader(QByteArrayLiteral("Authorization"), authorization);
    } else if (IsWebScheme(url.scheme())) {
        info.block(true);
    }
}
