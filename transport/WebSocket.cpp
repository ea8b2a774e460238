#include "WebSocket.h"

#include "HttpServerRequest.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

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
    m_pHandshakeTimer->start(kHandshakeTimeoutMs);

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

void WebSocket::sendMessage(const QByteArray& msg) {
    if (!m_pWebSocket || m_bDisconnected) return;
    if (m_pSocket && m_pSocket->bytesToWrite() > kMaxUnreadBytes) {
        qDebug() << "WebSocket closed: the page left" << m_pSocket->bytesToWrite() << "bytes unread";
        m_pWebSocket->abort();
        onDisconnected();
        return;
    }
    m_pWebSocket->sendTextMessage(QString::fromUtf8(msg));
    // Send now rather than on the next turn of the event loop.
    m_pWebSocket->flush();
}
