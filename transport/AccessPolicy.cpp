#include "AccessPolicy.h"

#include "HttpServerRequest.h"
#include "OriginTrust.h"

#include <QHostAddress>
#include <QUrl>

bool AccessPolicy::isLoopbackHost(const QByteArray& baHost) {
    QByteArray baName = baHost.trimmed().toLower();
    if (baName.startsWith('[')) {
        const int iClose = baName.indexOf(']');
        if (iClose < 0) return false;
        const QByteArray baPort = baName.mid(iClose + 1);
        if (!baPort.isEmpty() && !baPort.startsWith(':')) return false;
        baName = baName.mid(1, iClose - 1);
    } else if (baName.count(':') == 1) {
        baName.truncate(baName.indexOf(':'));
    }
    if (baName.endsWith('.')) baName.chop(1);
    if (baName == "localhost") return true;
    const QHostAddress address(QString::fromLatin1(baName));
    return !address.isNull() && address.isLoopback();
}

QByteArray AccessPolicy::hostRefusal(const HttpServerRequest& request) const {
    const QByteArray baHost = request.header("Host");
    if (!bListenAny && !baHost.isEmpty() && !isLoopbackHost(baHost)) return "Host " + baHost.left(kMaxOriginBytes);
    return QByteArray();
}

bool AccessPolicy::variesByOrigin() const {
    return !allowedOrigins.isEmpty() || (pTrust && pTrust->policy() != OriginTrust::Policy::Any);
}

QByteArray AccessPolicy::allowOrigin(const HttpServerRequest& request) const {
    const QByteArray baOrigin = request.header("Origin").trimmed();
    return !variesByOrigin() || baOrigin.isEmpty() ? QByteArrayLiteral("*") : baOrigin;
}

QByteArray AccessPolicy::originOfUrl(const QByteArray& baUrl) {
    QUrl url(QString::fromLatin1(baUrl.trimmed()), QUrl::StrictMode);
    const QString strScheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()) return QByteArray();
    if (strScheme != QLatin1String("http") && strScheme != QLatin1String("https")) return QByteArray();
    if (url.port() == (strScheme == QLatin1String("http") ? 80 : 443)) url.setPort(-1);
    url.setScheme(strScheme);
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toEncoded();
}

RequestOrigin AccessPolicy::attribute(const HttpServerRequest& request) {
    RequestOrigin origin;
    const QByteArray baOrigin = request.header("Origin").trimmed();
    if (!baOrigin.isEmpty()) {
        origin.kind = RequestOrigin::Page;
        origin.baOrigin = baOrigin;
        return origin;
    }
    bool bFetchHeaders = false;
    for (const auto& header : request.headers()) {
        if (header.first.toLower().startsWith("sec-fetch-")) bFetchHeaders = true;
    }
    if (!bFetchHeaders) return origin;
    const QByteArray baSite = request.header("Sec-Fetch-Site").trimmed().toLower();
    const bool bPages = baSite == "cross-site" || baSite == "same-site" || !request.header("Sec-Fetch-Mode").isEmpty();
    origin.baOrigin = bPages ? originOfUrl(request.header("Referer")) : QByteArray();
    origin.kind = origin.baOrigin.isEmpty() ? RequestOrigin::Unattributed : RequestOrigin::Page;
    origin.bFromReferer = bPages;
    return origin;
}
