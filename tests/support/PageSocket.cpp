#include "PageSocket.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

PageSocket::PageSocket(quint16 port, const QString& strOrigin, QObject* parent) : QObject(parent), m_socket(strOrigin) {
    connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& s) { m_listReceived << s; });
    m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
}

bool PageSocket::open(int iTimeoutMs) {
    if (!QTest::qWaitFor([this] { return isConnected(); }, iTimeoutMs)) return false;
    send(R"({"cmd":"system.webconnect"})");
    if (!waitFor(1, iTimeoutMs)) return false;
    m_strUuid = QJsonDocument::fromJson(m_listReceived.takeFirst().toUtf8()).object().value("uuid").toString();
    return !m_strUuid.isEmpty();
}

bool PageSocket::waitFor(int iCount, int iTimeoutMs) {
    return QTest::qWaitFor([&] { return m_listReceived.size() >= iCount; }, iTimeoutMs);
}
