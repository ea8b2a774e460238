#include "WebServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {
constexpr int kMaxPendingConnections = 1024;
constexpr int kProbeTimeoutMs = 100;
}  // namespace

WebServer::WebServer(QObject* parent) : QTcpServer(parent) {
    setMaxPendingConnections(kMaxPendingConnections);
}

WebServer::~WebServer() = default;

void WebServer::listenInRange(int iFirst, int iEnd) {
    for (int iPort = iFirst; iPort < iEnd; ++iPort) {
        auto* pProbe = new QTcpSocket(this);
        pProbe->connectToHost(QHostAddress(QHostAddress::LocalHost), static_cast<quint16>(iPort),
                              QIODevice::ReadWrite);
        if (pProbe->waitForConnected(kProbeTimeoutMs)) {
            // Something already listens here.
            pProbe->close();
            pProbe->deleteLater();
            continue;
        }
        pProbe->deleteLater();
        listen(QHostAddress::Any, static_cast<quint16>(iPort));
        return;
    }
}

void WebServer::incomingConnection(qintptr socketDescriptor) {
    // Connections are not served yet: accept and close.
    QTcpSocket socket;
    if (socket.setSocketDescriptor(socketDescriptor)) socket.close();
}
