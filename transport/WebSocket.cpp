#include "WebSocket.h"

#include "HttpServerRequest.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_UNIX
// Keeps the connection of a WebSocket that the service closes open for
// reading only, until the page closes its side or kLingerMs pass: a socket
// closed with input still arriving is reset, and the reset can take the
// close frame (code 1009 for a message over the limit) with it. Holds a
// duplicate of the socket's descriptor, so Qt closes its own as usual;
// input is read and thrown away. At most kMaxLingering at once (beyond,
// the connection ends as before). Main thread only.
class LingeringClose : public QObject {
public:
    static constexpr int kLingerMs = 2000;
    static constexpr int kMaxLingering = 64;

    static void start(QTcpSocket* pSocket) {
        if (s_iLingering >= kMaxLingering || !pSocket || pSocket->socketDescriptor() < 0) return;
        const int iFd = ::fcntl(static_cast<int>(pSocket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        if (iFd >= 0) new LingeringClose(iFd, pSocket);
    }

    ~LingeringClose() override {
        delete m_pNotifier;  // before its descriptor goes
        ::close(m_iFd);
        --s_iLingering;
    }

private:
    LingeringClose(int iFd, QTcpSocket* pSocket)
        : QObject(QCoreApplication::instance()),
          m_iFd(iFd),
          m_pNotifier(new QSocketNotifier(iFd, QSocketNotifier::Read)) {
        ++s_iLingering;
        connect(m_pNotifier, &QSocketNotifier::activated, this, &LingeringClose::drain);
        QTimer::singleShot(kLingerMs, this, &QObject::deleteLater);
        // The page sees the end once Qt wrote the close frame and let go of
        // its descriptor (ours keeps the connection).
        connect(pSocket, &QAbstractSocket::disconnected, this, &LingeringClose::endOutput);
        connect(pSocket, &QObject::destroyed, this, &LingeringClose::endOutput);
    }

    void endOutput() { ::shutdown(m_iFd, SHUT_WR); }

    void drain() {
        char buffer[16 * 1024];
        for (;;) {
            const ssize_t iRead = ::recv(m_iFd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (iRead > 0) continue;
            if (iRead < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
            // The page closed its side, or the connection broke.
            m_pNotifier->setEnabled(false);
            deleteLater();
            return;
        }
    }

    const int m_iFd;
    QSocketNotifier* m_pNotifier;
    static int s_iLingering;
};
int LingeringClose::s_iLingering = 0;
#endif
}  // namespace

WebSocket::WebSocket(QObject* parent) : QObject(parent) {}

WebSocket::~WebSocket() = default;

void WebSocket::startServerHandshake(HttpServerRequest* pRequest) {
    m_pSocket = pRequest->socket();
    // Nobody else may read the handshake: the server below re-emits readyRead
    // to every receiver of the socket.
    pRequest->detach();

    m_pHandshakeTimer = new QTimer(this);
    m_pHandshakeTimer->setSingleShot(true);
    connect(m_pHandshakeTimer, &QTimer::timeout, this, &WebSocket::onHandshakeTimeout);
    // The rest of the handshake gets the time its headers had.
    m_pHandshakeTimer->start(HttpServerRequest::kHandshakeDeadlineMs);

    // A server that never listens, only to run the handshake on a socket
    // that was accepted elsewhere. Pages come from device and portal origins:
    // every origin is accepted.
    m_pServer = new QWebSocketServer(QString(), QWebSocketServer::NonSecureMode, this);
    m_pServer->setMaxPendingConnections(1);
    connect(m_pServer, &QWebSocketServer::newConnection, this, &WebSocket::onPendingConnections);
    connect(m_pSocket, &QTcpSocket::disconnected, this, &WebSocket::onSocketGoneBeforeHandshake);
    m_pServer->handleConnection(m_pSocket);
}

void WebSocket::onPendingConnections() {
    // Take everything: the server closes sockets beyond its pending limit.
    while (m_pServer->hasPendingConnections()) {
        QWebSocket* pWebSocket = m_pServer->nextPendingConnection();
        if (m_pWebSocket || !m_pSocket) {
            pWebSocket->abort();
            pWebSocket->deleteLater();
            continue;
        }
        m_pHandshakeTimer->stop();
        m_pHandshakeTimer->deleteLater();
        m_pHandshakeTimer = nullptr;
        // From here on only the QWebSocket's signals count, and the socket
        // lives exactly as long as the QWebSocket (whose destructor still
        // touches it): drop every other link to the socket.
        disconnect(m_pSocket, nullptr, this, nullptr);
        disconnect(m_pSocket, nullptr, m_pServer, nullptr);
        m_pWebSocket = pWebSocket;
        m_pWebSocket->setParent(this);
        m_pSocket->setParent(m_pWebSocket);
        m_pWebSocket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        // A frame over the limit closes the connection as soon as its
        // header is read, before any of it is buffered.
        m_pWebSocket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        connect(m_pWebSocket, &QWebSocket::textMessageReceived, this,
                [this](const QString& strMessage) { emit newMessage(strMessage.toUtf8()); });
        connect(m_pWebSocket, &QWebSocket::binaryMessageReceived, this, &WebSocket::newMessage);
        connect(m_pWebSocket, &QWebSocket::disconnected, this, &WebSocket::onDisconnected);
#ifdef Q_OS_UNIX
        // Emitted once the close frame is written, before the socket closes.
        connect(m_pWebSocket, &QWebSocket::aboutToClose, this, [this] { LingeringClose::start(m_pSocket); });
#endif
        if (m_pWebSocket->state() != QAbstractSocket::ConnectedState) {
            onDisconnected();
        } else {
            emit sigOpened(m_pWebSocket);
        }
    }
    // The handshake is done: the server is needed no more.
    if (m_pWebSocket && m_pServer) {
        m_pServer->deleteLater();
        m_pServer = nullptr;
    }
}

void WebSocket::onSocketGoneBeforeHandshake() {
    if (!m_pWebSocket) onDisconnected();
}

void WebSocket::onHandshakeTimeout() {
    if (m_pWebSocket || !m_pSocket) return;
    qDebug() << "WebSocket handshake not completed in time: connection closed";
    m_pSocket->abort();
    onDisconnected();
}

void WebSocket::onDisconnected() {
    if (m_bDisconnected) return;
    m_bDisconnected = true;
    emit disconnected();
}

void WebSocket::sendMessage(const QString& strText) {
    if (!m_pWebSocket || m_bDisconnected) return;
    if (m_pSocket && m_pSocket->bytesToWrite() > kMaxUnreadBytes) {
        qDebug() << "WebSocket closed: the page left" << m_pSocket->bytesToWrite() << "bytes unread";
        m_pWebSocket->abort();
        onDisconnected();
        return;
    }
    m_pWebSocket->sendTextMessage(strText);
    // Send now rather than on the next turn of the event loop.
    m_pWebSocket->flush();
}

void WebSocket::close(const QString& strReason) {
    if (m_bDisconnected) return;
    if (!m_pWebSocket) {
        if (m_pSocket) m_pSocket->abort();
        onDisconnected();
        return;
    }
    m_pWebSocket->close(QWebSocketProtocol::CloseCodePolicyViolated, strReason);
    QTimer::singleShot(kCloseTimeoutMs, m_pWebSocket, &QWebSocket::abort);
}
