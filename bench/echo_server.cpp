// Reference for the WebSocket round trip: a bare single-threaded
// QWebSocketServer that sends every text message straight back.
// Usage: echo_server <port>
#include <QCoreApplication>
#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    QWebSocketServer server(QStringLiteral("echo"), QWebSocketServer::NonSecureMode);
    if (!server.listen(QHostAddress::LocalHost, static_cast<quint16>(QByteArray(argv[1]).toUInt()))) return 1;
    QObject::connect(&server, &QWebSocketServer::newConnection, [&server] {
        while (QWebSocket* pSocket = server.nextPendingConnection()) {
            QObject::connect(pSocket, &QWebSocket::textMessageReceived, pSocket,
                             [pSocket](const QString& strText) { pSocket->sendTextMessage(strText); });
            QObject::connect(pSocket, &QWebSocket::disconnected, pSocket, &QObject::deleteLater);
        }
    });
    std::printf("echo listening\n");
    std::fflush(stdout);
    return app.exec();
}
