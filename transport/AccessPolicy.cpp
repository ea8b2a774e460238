#include "AccessPolicy.h"

#include "HttpServerRequest.h"

#include <QHostAddress>

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

QByteArray AccessPolicy::refusal(const HttpServerRequest& request) const {
    const QByteArray baHost = request.header("Host");
    if (!bListenAny && !baHost.isEmpty() && !isLoopbackHost(baHost)) return "Host " + baHost.left(200);
    const QByteArray baOrigin = request.header("Origin");
    if (!allowedOrigins.isEmpty() && !baOrigin.isEmpty() && !allowedOrigins.contains(baOrigin))
        return "Origin " + baOrigin.left(200);
    return QByteArray();
}

QByteArray AccessPolicy::allowOrigin(const HttpServerRequest& request) const {
    const QByteArray baOrigin = request.header("Origin");
    return allowedOrigins.isEmpty() || baOrigin.isEmpty() ? QByteArrayLiteral("*") : baOrigin;
}
