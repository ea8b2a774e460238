#include "HttpTestClient.h"

#include <QHostAddress>
#include <QTest>

HttpTestClient::HttpTestClient(quint16 port, const QByteArray& baRaw, QObject* parent) : QObject(parent) {
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] { m_baReceived += m_socket.readAll(); });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] { m_bClosed = true; });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { m_bClosed = true; });
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    if (!baRaw.isEmpty()) m_socket.write(baRaw);
}

QByteArray HttpTestClient::post(const QByteArray& baBody, const QByteArray& baExtraHeaders) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain;charset=UTF-8\r\n" + baExtraHeaders +
           "Content-Length: " + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

QByteArray HttpTestClient::answer(quint16 port, const QByteArray& baRaw, int iTimeoutMs) {
    HttpTestClient client(port, baRaw);
    if (!QTest::qWaitFor([&] { return client.hasAnswer() || client.isClosed(); }, iTimeoutMs)) return "(none)";
    return client.hasAnswer() ? client.body() : QByteArray("(closed)");
}

namespace {
// Splits one response off the front of baData; false if incomplete.
bool takeResponse(QByteArray& baData, QByteArray& baHead, QByteArray& baBody) {
    const int iHeadEnd = baData.indexOf("\r\n\r\n");
    if (iHeadEnd < 0) return false;
    baHead = baData.left(iHeadEnd);
    int iLength = 0;
    for (const QByteArray& line : baHead.split('\n')) {
        if (line.toLower().startsWith("content-length:")) iLength = line.mid(15).trimmed().toInt();
    }
    if (baData.size() < iHeadEnd + 4 + iLength) return false;
    baBody = baData.mid(iHeadEnd + 4, iLength);
    baData.remove(0, iHeadEnd + 4 + iLength);
    return true;
}
}  // namespace

QList<QByteArray> HttpTestClient::bodies() const {
    QList<QByteArray> list;
    QByteArray baData = m_baReceived, baHead, baBody;
    while (takeResponse(baData, baHead, baBody)) {
        if (!baHead.startsWith("HTTP/1.1 1")) list.append(baBody);
    }
    return list;
}

QByteArray HttpTestClient::head() const {
    QByteArray baData = m_baReceived, baHead, baBody;
    while (takeResponse(baData, baHead, baBody)) {
        if (!baHead.startsWith("HTTP/1.1 1")) return baHead;
    }
    return QByteArray();
}
