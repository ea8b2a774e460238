// The WebSocket side of a connection that asked for an upgrade: performs the
// server handshake on the untouched socket and then carries messages.
#ifndef TRANSPORT_WEBSOCKET_H
#define TRANSPORT_WEBSOCKET_H

#include <QByteArray>
#include <QObject>
#include <QPointer>

class HttpServerRequest;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

class WebSocket : public QObject {
    Q_OBJECT
public:
    // Largest message accepted from a page.
    static constexpr int kMaxMessageBytes = 2 * 1024 * 1024;
    // Bytes sent but not yet taken by the page above which the connection
    // is closed: a page that does not read must not make the service grow.
    static constexpr qint64 kMaxUnreadBytes = 16 * 1024 * 1024;
    static constexpr int kCloseTimeoutMs = 1000;

    explicit WebSocket(QObject* parent = nullptr);
    ~WebSocket() override;

    // Answers the upgrade request whose bytes are still unread in its
    // socket. The socket then belongs to this object (the request must no
    // longer read from it). Must run on the thread that owns the socket.
    void startServerHandshake(HttpServerRequest* pRequest);

signals:
    void newMessage(QByteArray msg);
    // The handshake is done; pWebSocket lives until disconnected().
    void sigOpened(QWebSocket* pWebSocket);
    // The connection is gone (also when the handshake failed). Emitted once.
    void disconnected();

public slots:
    // Sends one text message, at once.
    void sendMessage(const QString& strText);
    // Closes with code 1008 (policy violation) and the reason; a page that
    // does not answer the close within kCloseTimeoutMs is cut off.
    void close(const QString& strReason);

private slots:
    void onPendingConnections();
    void onSocketGoneBeforeHandshake();
    void onHandshakeTimeout();
    void onDisconnected();

private:
    QWebSocketServer* m_pServer = nullptr;
    QPointer<QTcpSocket> m_pSocket;
    QWebSocket* m_pWebSocket = nullptr;
    QTimer* m_pHandshakeTimer = nullptr;
    bool m_bDisconnected = false;
};

#endif  // TRANSPORT_WEBSOCKET_H
