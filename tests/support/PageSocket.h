// A page's WebSocket to the service, driven by the event loop: connects,
// asks for its connection id with "system.webconnect", and collects every
// text the service sends, in order.
#ifndef TESTS_PAGESOCKET_H
#define TESTS_PAGESOCKET_H

#include <QObject>
#include <QStringList>
#include <QWebSocket>

class PageSocket : public QObject {
public:
    // strOrigin: the page origin its handshake names (none when empty).
    explicit PageSocket(quint16 port, const QString& strOrigin = QString(), QObject* parent = nullptr);

    // Waits for the connection and the connect reply; the reply is taken
    // off the received texts and its "uuid" kept as uuid().
    bool open(int iTimeoutMs = 10000);
    QString uuid() const { return m_strUuid; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool isClosed() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    // The close the service sent.
    QWebSocketProtocol::CloseCode closeCode() const { return m_socket.closeCode(); }
    QString closeReason() const { return m_socket.closeReason(); }

    void send(const QByteArray& baText) { m_socket.sendTextMessage(QString::fromUtf8(baText)); }
    // Waits until at least iCount texts have arrived.
    bool waitFor(int iCount, int iTimeoutMs = 10000);

    QStringList m_listReceived;

private:
    QWebSocket m_socket;
    QString m_strUuid;
};

#endif  // TESTS_PAGESOCKET_H
