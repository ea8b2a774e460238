#include "WebServer.h"

#include "MessageDispatch.h"
#include "PacketAssembly.h"
#include "QueryForm.h"
#include "WebConnectChallenge.h"
#include "Worker.h"

#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimerEvent>
#include <QUuid>

#include <functional>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
constexpr int kMaxPendingConnections = 1024;
constexpr int kProbeTimeoutMs = 100;
constexpr int kAcceptRetryMs = 100;
// Stored for a client that was given up; raised by one with every later
// poll of any client until it is dropped at -1.
constexpr int kGivenUpMarker = -5;

// Events are the module texts with a top-level "cmd". A text that names no
// "cmd" at all (and escapes nothing) is a response without parsing it.
bool isEvent(const QString& strMessage) {
    if (!strMessage.contains(QLatin1String("cmd")) && !strMessage.contains(QLatin1String("\\u"))) return false;
    const QJsonDocument document = QJsonDocument::fromJson(strMessage.toUtf8());
    return document.isObject() && document.object().contains(QStringLiteral("cmd"));
}

// Keys kept in the tables and on the workers are never null, so that a null
// text can mean "none" (a request without "uuid" is the client "").
QString clientKey(const QString& strUuid) {
    return strUuid.isNull() ? QStringLiteral("") : strUuid;
}

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// A second listening socket (the IPv6 loopback) that hands its connections
// to the server.
class ForwardingListener : public QTcpServer {
public:
    ForwardingListener(WebServer* pServer) : QTcpServer(pServer), m_pServer(pServer) {}

protected:
    void incomingConnection(qintptr socketDescriptor) override { m_pServer->acceptConnection(socketDescriptor); }

private:
    WebServer* m_pServer;
};
}  // namespace

WebServer::WebServer(QObject* parent) : QTcpServer(parent), m_pDispatch(new MessageDispatch()) {
    setMaxPendingConnections(kMaxPendingConnections);
    connect(m_pDispatch, &MessageDispatch::messageResponse, this, &WebServer::onMessageResponse);
    connect(m_pDispatch, &MessageDispatch::sigAnswersSettled, this, &WebServer::onAnswersSettled);
    connect(this, &QTcpServer::acceptError, this, &WebServer::onAcceptError);
    m_sweepTimer.setInterval(kSweepIntervalMs);
    connect(&m_sweepTimer, &QTimer::timeout, this, &WebServer::sweep);
    m_sweepTimer.start();
}

WebServer::~WebServer() {
    // Close every connection before the tables go.
    const QList<Worker*> workers = m_connections.values();
    m_connections.clear();
    m_listHandshaking.clear();
    for (Worker* pWorker : workers) {
        pWorker->disconnect(this);
        delete pWorker;
    }
    m_clients.clear();
    m_pDispatch->deleteLater();
}

void WebServer::listenInRange(int iFirst, int iEnd) {
    for (int iPort = iFirst; iPort < iEnd; ++iPort) {
        auto* pProbe = new QTcpSocket(this);
        pProbe->connectToHost(QHostAddress(QHostAddress::LocalHost), static_cast<quint16>(iPort),
                              QIODevice::ReadWrite);
        const bool bTaken = pProbe->waitForConnected(kProbeTimeoutMs);
        pProbe->close();
        pProbe->deleteLater();
        if (bTaken) continue;  // something already listens here
        if (listenOn(static_cast<quint16>(iPort))) return;
    }
}

bool WebServer::listenOn(quint16 port) {
    if (m_policy.bListenAny) {
        if (listen(QHostAddress::Any, port)) return true;
        qDebug().noquote() << "cannot listen on port" << port << "(all addresses):" << errorString();
        return false;
    }
    if (!listen(QHostAddress::LocalHost, port)) {
        qDebug().noquote() << "cannot listen on 127.0.0.1 port" << port << ":" << errorString();
        return false;
    }
    auto* pIpv6 = new ForwardingListener(this);
    connect(pIpv6, &QTcpServer::acceptError, this, &WebServer::onAcceptError);
    pIpv6->setMaxPendingConnections(kMaxPendingConnections);
    if (pIpv6->listen(QHostAddress::LocalHostIPv6, port)) {
        m_pIpv6Listener = pIpv6;
        return true;
    }
    const bool bTaken = pIpv6->serverError() == QAbstractSocket::AddressInUseError;
    qDebug().noquote() << "cannot listen on ::1 port" << port << ":" << pIpv6->errorString()
                       << (bTaken ? "" : "(serving 127.0.0.1 only)");
    delete pIpv6;
    if (!bTaken) return true;
    close();
    return false;
}

void WebServer::onAcceptError(QAbstractSocket::SocketError error) {
    // Qt stops accepting after a resource error (no descriptors left, for
    // example); try again shortly.
    auto* pListener = qobject_cast<QTcpServer*>(sender());
    if (!pListener) return;
    qDebug().noquote() << "accepting a connection failed (" << error << "):" << pListener->errorString();
    QTimer::singleShot(kAcceptRetryMs, pListener, [pListener] { pListener->resumeAccepting(); });
}

void WebServer::incomingConnection(qintptr socketDescriptor) {
    const int iHandshakeShare = qMax(1, m_iMaxConnections / kHandshakeShareDivisor);
    const int iGraceMs = m_iHandshakeDeadlineMs / kHandshakeGraceDivisor;
    const auto crowded = [&] {
        return m_listHandshaking.size() >= iHandshakeShare || m_iLiveConnections >= m_iMaxConnections;
    };
    // The oldest handshakes first, a few per connection: each either has
    // its headers waiting (and leaves its handshake) or gives way.
    for (int i = 0; i < kMaxHandshakesSettled && crowded() && !m_listHandshaking.isEmpty() &&
                    m_listHandshaking.first()->ageMs() >= iGraceMs;
         ++i) {
        Worker* pOldest = m_listHandshaking.first();
        if (pOldest->giveWayInHandshake() && !m_bEvicting) {
            qDebug() << "handshakes over their share of" << iHandshakeShare << "connections: the oldest are closed";
            m_bEvicting = true;
        }
        m_listHandshaking.removeOne(pOldest);
    }
    if (m_bEvicting && m_listHandshaking.size() < iHandshakeShare / 2) m_bEvicting = false;
    if (m_iLiveConnections >= m_iMaxConnections) {
        if (!m_bRefusing) {
            qDebug() << "connections refused: limit of" << m_iMaxConnections << "open connections reached";
            m_bRefusing = true;
        }
        QTcpSocket refused;
        if (refused.setSocketDescriptor(socketDescriptor)) refused.abort();
        return;
    }
    if (m_bRefusing) {
        qDebug() << "accepting connections again";
        m_bRefusing = false;
    }
    const QString strId = QUuid::createUuid().toString();
    auto* pWorker = new Worker(strId, &m_policy, m_iHandshakeDeadlineMs);
    connect(pWorker, &Worker::receiveWebsocketMessage, this, &WebServer::onWebsocketMessage);
    connect(pWorker, &Worker::websocketConnect, this, &WebServer::replyWebConnect);
    connect(pWorker, &Worker::receiveHttpMessage, this, &WebServer::onHTTPMessage);
    connect(pWorker, &Worker::receiveHttpImgTmpMessage, this, &WebServer::onHTTPImgMutiPackageMessage);
    connect(pWorker, &Worker::receiveHttpImgDetectMessage, this, &WebServer::onHTTPImgMessageDetect);
    connect(pWorker, &Worker::httpConnect, this, &WebServer::onHttpConnect);
    connect(pWorker, &Worker::httpDisconnect, this, &WebServer::onHttpDisconnect);
    connect(pWorker, &Worker::httpGet, this, &WebServer::onHttpGet);
    connect(pWorker, &Worker::sigHandshakeDone, this, [this, pWorker] { onHandshakeDone(pWorker); });
    // The counts at once; the tables queued: a connection may break while
    // an answer is being written.
    connect(pWorker, &Worker::connectionClose, this, [this, pWorker] { onConnectionEnded(pWorker); });
    connect(pWorker, &Worker::connectionClose, this, &WebServer::onConnectClose, Qt::QueuedConnection);

    ++m_iLiveConnections;
    m_listHandshaking.append(pWorker);
    m_connections.insert(strId, pWorker);
    route(strId, pWorker);
    emit pWorker->newConnection(socketDescriptor);
}

void WebServer::onConnectionEnded(Worker* pWorker) {
    --m_iLiveConnections;
    m_listHandshaking.removeOne(pWorker);
}

void WebServer::onHandshakeDone(Worker* pWorker) {
    m_listHandshaking.removeOne(pWorker);
}

WebServer::Client& WebServer::touch(const QString& strUuid) {
    Client& client = m_clients[strUuid];
    client.iLastSeenMs = nowMs();
    return client;
}

void WebServer::tidy(const QString& strUuid) {
    const auto it = m_clients.find(strUuid);
    if (it != m_clients.end() && it->isEmpty()) m_clients.erase(it);
}

void WebServer::route(const QString& strUuid, Worker* pWorker) {
    touch(strUuid).listRoute.append(pWorker);
    pWorker->setRouteKey(clientKey(strUuid));
}

void WebServer::unroute(Worker* pWorker) {
    const QString strKey = pWorker->routeKey();
    if (strKey.isNull()) return;
    pWorker->setRouteKey(QString());
    const auto it = m_clients.find(strKey);
    if (it == m_clients.end()) return;
    it->listRoute.removeOne(pWorker);
    if (it->isEmpty()) m_clients.erase(it);
}

Worker* WebServer::routed(const QString& strUuid) {
    const auto it = m_clients.find(strUuid);
    if (it == m_clients.end()) return nullptr;
    for (Worker* pWorker : it->listRoute) {
        if (!pWorker->isClosed()) return pWorker;
    }
    return nullptr;
}

void WebServer::endPoll(Client& client, const QByteArray& baAnswer) {
    Worker* pPoll = client.pPoll;
    client.pPoll = nullptr;
    pPoll->setPollKey(QString());
    stopTimer(pPoll->pollTimerId());
    pPoll->setPollTimerId(0);
    pPoll->postAnswer(baAnswer);
}

void WebServer::stopTimer(int iTimerId) {
    if (!iTimerId) return;
    killTimer(iTimerId);
    m_timerClients.remove(iTimerId);
}

void WebServer::startIdleTimer(const QString& strUuid) {
    Client& client = m_clients[strUuid];
    stopTimer(client.iIdleTimer);
    client.iIdleTimer = startTimer(m_iIdleTimeoutMs, Qt::CoarseTimer);
    m_timerClients.insert(client.iIdleTimer, clientKey(strUuid));
    m_mapGivenUp.remove(strUuid);
}

void WebServer::idleAfterAnswer(const QString& strUuid) {
    // A WebSocket's id: its window goes with its connection.
    if (strUuid.isEmpty() || m_connections.contains(strUuid)) return;
    Client& client = m_clients[strUuid];
    if (!client.listRoute.isEmpty() || client.pPoll || client.iIdleTimer) return;
    // Unlike a poll's time-out, an answer leaves a given-up marker in place.
    client.iIdleTimer = startTimer(m_iIdleTimeoutMs, Qt::CoarseTimer);
    m_timerClients.insert(client.iIdleTimer, strUuid);
}

void WebServer::queueEvent(const QString& strUuid, const QString& strEvent) {
    Client& client = m_clients[strUuid];
    // The clock of a client known by its events alone starts with the first.
    if (!client.iLastSeenMs) client.iLastSeenMs = nowMs();
    client.events.push_back(strEvent);
    client.iEventBytes += strEvent.size();
    int iDropped = 0;
    while (client.events.size() > static_cast<size_t>(kMaxQueuedEvents) || client.iEventBytes > kMaxQueuedEventBytes) {
        client.iEventBytes -= client.events.front().size();
        client.events.pop_front();
        ++iDropped;
    }
    if (iDropped && !client.bDroppingEvents) {
        qDebug().noquote() << "event queue of" << strUuid << "full: oldest events dropped";
        client.bDroppingEvents = true;
    } else if (!iDropped) {
        client.bDroppingEvents = false;
    }
}

void WebServer::clearEvents(const QString& strUuid) {
    const auto it = m_clients.find(strUuid);
    if (it == m_clients.end()) return;
    it->events.clear();
    it->iEventBytes = 0;
    if (it->isEmpty()) m_clients.erase(it);
}

QStringList WebServer::queuedEvents(const QString& strUuid) const {
    const auto it = m_clients.constFind(strUuid);
    return it == m_clients.constEnd() ? QStringList() : QStringList(it->events.begin(), it->events.end());
}

bool WebServer::hasPendingPoll(const QString& strUuid) const {
    const auto it = m_clients.constFind(strUuid);
    return it != m_clients.constEnd() && it->pPoll;
}

void WebServer::onWebsocketMessage(QByteArray strMessage, QString szUUID) {
    // Only the two transport commands are read here; any other text goes to
    // the modules as it is (a text that names neither cannot be one).
    if (!strMessage.contains("detectport") && !strMessage.contains("system.webconnect") && !strMessage.contains("\\u")) {
        m_pDispatch->processMessage(QString::fromUtf8(strMessage));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(strMessage, &error);
    if (error.error != QJsonParseError::NoError) return;
    const QJsonObject object = document.object();
    const QString strCmd = object.value(QStringLiteral("cmd")).toString();

    if (strCmd == QLatin1String("detectport")) {
        const QByteArray baSession = object.value(QStringLiteral("sessionID")).toString().toUtf8();
        const QByteArray baUser = QueryForm::percentDecode(object.value(QStringLiteral("user")).toString()).toUtf8();
        const QByteArray baChallenge = object.value(QStringLiteral("challenge")).toString().toUtf8();
        const int iIterations = object.value(QStringLiteral("iterations")).toInt();
        const int iRandom = QueryForm::toInt(object.value(QStringLiteral("random")).toString());
        if (checkWebConnectChallenge(baSession, baUser, baChallenge, iIterations, iRandom) != 0) return;
        replyWebConnect(szUUID);
        return;
    }
    if (strCmd == QLatin1String("system.webconnect")) {
        replyWebConnect(szUUID);
        return;
    }
    m_pDispatch->processMessage(QString::fromUtf8(strMessage));
}

void WebServer::replyWebConnect(QString uuid) {
    Worker* pWorker = m_connections.value(uuid);
    if (!pWorker) return;
    QByteArray baReply = m_pDispatch->buildConnectReply(uuid).toUtf8();
    emit pWorker->sendMessage(baReply);
}

void WebServer::onHttpConnect(QString szUUID) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    pWorker->postAnswer(m_pDispatch->buildConnectReply(szUUID).toUtf8());
}

void WebServer::onHttpDisconnect(QString szUUID, QByteArray strMessage) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    Q_UNUSED(strMessage);  // the worker read its "uuid"
    const QString strClient = pWorker->requestUuid();
    pWorker->postAnswer(QByteArrayLiteral("disconnect"));
    m_pDispatch->closeConnection(strClient);
    const auto it = m_clients.find(strClient);
    if (it == m_clients.end()) return;
    if (it->pPoll) endPoll(*it, QByteArrayLiteral("timeout"));
    clearEvents(strClient);
}

void WebServer::ageGivenUpMarkers() {
    for (auto it = m_mapGivenUp.begin(); it != m_mapGivenUp.end(); ++it) {
        if (*it == -1) {
            m_mapGivenUp.erase(it);
            return;
        }
        ++*it;
    }
}

void WebServer::onHttpGet(QString szUUID, QByteArray strMessage) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    Q_UNUSED(strMessage);  // the worker read its "uuid"
    const QString strClient = pWorker->requestUuid();
    Client& client = touch(strClient);
    stopTimer(client.iIdleTimer);
    client.iIdleTimer = 0;
    const auto itMarker = m_mapGivenUp.find(strClient);
    const bool bGivenUp = itMarker != m_mapGivenUp.end() && *itMarker == kGivenUpMarker;
    if (itMarker != m_mapGivenUp.end()) m_mapGivenUp.erase(itMarker);
    ageGivenUpMarkers();

    if (bGivenUp) {
        pWorker->postAnswer(QByteArrayLiteral("invalid"));
        tidy(strClient);
        return;
    }
    // A poll that is replaced still gets its answer.
    if (client.pPoll && client.pPoll != pWorker) endPoll(client, QByteArrayLiteral("timeout"));
    client.pPoll = pWorker;
    pWorker->setPollKey(clientKey(strClient));
    const int iPollTimer = startTimer(m_iPollTimeoutMs, Qt::CoarseTimer);
    pWorker->setPollTimerId(iPollTimer);
    m_timerClients.insert(iPollTimer, clientKey(strClient));

    if (!client.events.empty()) {
        const QString strEvent = client.events.front();
        client.events.pop_front();
        client.iEventBytes -= strEvent.size();
        endPoll(client, strEvent.toUtf8());
        idleAfterAnswer(strClient);
    }
    tidy(strClient);
}

void WebServer::onHTTPMessage(QString szUUID, QByteArray strMessage) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) {
        if (!strMessage.isEmpty()) m_pDispatch->processMessage(QString::fromUtf8(strMessage));
        return;
    }
    unroute(pWorker);
    if (strMessage.isEmpty()) {
        pWorker->postDrop();
        return;
    }
    // The module's response carries the request's "uuid": wait under it. The
    // request takes the key over from a WebSocket registered under it.
    const QString strClient = pWorker->requestUuid();
    const auto it = m_clients.find(strClient);
    if (it != m_clients.end()) {
        for (Worker* pHolder : QList<Worker*>(it->listRoute)) {
            if (pHolder->connectionType() == Worker::WebSocketConnection) unroute(pHolder);
        }
    }
    route(strClient, pWorker);
    // A request: the client is not idle.
    Client& client = m_clients[strClient];
    stopTimer(client.iIdleTimer);
    client.iIdleTimer = 0;
    m_pDispatch->processMessage(QString::fromUtf8(strMessage));
    // A request that no module answers (not JSON, unknown module or command)
    // is closed rather than left waiting; it must not stay in line for an
    // answer that belongs to another request of the same client.
    if (pWorker->routeKey() == strClient && !pWorker->isClosed() && !m_pDispatch->lastRequestAnswered()) {
        unroute(pWorker);
        pWorker->postDrop();
        idleAfterAnswer(strClient);
    }
}

void WebServer::onAnswersSettled(QString strUUID) {
    const auto it = m_clients.find(strUUID);
    if (it == m_clients.end()) return;
    for (Worker* pWorker : QList<Worker*>(it->listRoute)) {
        if (pWorker->connectionType() != Worker::HttpConnection) continue;
        unroute(pWorker);
        pWorker->postDrop();
    }
    idleAfterAnswer(strUUID);
}

void WebServer::onConnectClose(int iType, QString strUUID) {
    Worker* pWorker = m_connections.take(strUUID);
    if (!pWorker) return;
    if (iType == Worker::WebSocketConnection) {
        m_pDispatch->closeConnection(strUUID);
        clearEvents(strUUID);
    }
    const QString strRouteKey = pWorker->routeKey();
    unroute(pWorker);
    // A request given up by its client: the client waits for it no more.
    if (iType == Worker::HttpConnection && !strRouteKey.isNull() && strRouteKey != strUUID) idleAfterAnswer(strRouteKey);
    const QString strPollKey = pWorker->pollKey();
    const auto it = m_clients.find(strPollKey);
    if (!strPollKey.isNull() && it != m_clients.end() && it->pPoll == pWorker) {
        // An aborted poll: the client counts as idle from now on.
        it->pPoll = nullptr;
        stopTimer(pWorker->pollTimerId());
        startIdleTimer(strPollKey);
    }
    pWorker->deleteLater();
}

void WebServer::onHTTPImgMutiPackageMessage(QString strUUID) {
    if (Worker* pWorker = m_connections.value(strUUID)) unroute(pWorker);
}

void WebServer::onHTTPImgMessageDetect(QString strUUID) {
    if (Worker* pWorker = m_connections.value(strUUID)) unroute(pWorker);
}

void WebServer::onMessageResponse(QString strUUID, QString message) {
    Worker* pWorker = routed(strUUID);
    if (isEvent(message)) {
        if (pWorker && pWorker->connectionType() == Worker::WebSocketConnection) {
            QByteArray baEvent = message.toUtf8();
            emit pWorker->sendMessage(baEvent);
        }
        queueEvent(strUUID, message);
        if (hasPendingPoll(strUUID)) {
            completePoll(strUUID, false);
            idleAfterAnswer(strUUID);
        }
        return;
    }
    if (!pWorker) return;
    if (pWorker->connectionType() == Worker::WebSocketConnection) {
        QByteArray baResponse = message.toUtf8();
        emit pWorker->sendMessage(baResponse);
        clearEvents(strUUID);
    } else {
        unroute(pWorker);
        pWorker->postAnswer(message.toUtf8());
        idleAfterAnswer(strUUID);
    }
}

void WebServer::completePoll(QString uuid, bool armIdleTimer) {
    const auto it = m_clients.find(uuid);
    if (it == m_clients.end() || !it->pPoll) return;
    endPoll(*it, QByteArrayLiteral("timeout"));
    if (armIdleTimer) startIdleTimer(uuid);
}

void WebServer::timerEvent(QTimerEvent* event) {
    const int iTimerId = event->timerId();
    killTimer(iTimerId);
    const QString strClient = m_timerClients.take(iTimerId);
    const auto it = m_clients.find(strClient);
    if (strClient.isNull() || it == m_clients.end()) return;
    if (it->pPoll && it->pPoll->pollTimerId() == iTimerId) {
        it->pPoll->setPollTimerId(0);
        completePoll(strClient, true);
        return;
    }
    if (it->iIdleTimer != iTimerId) return;
    qDebug() << "timerEvent get timeout";
    it->iIdleTimer = 0;
    // Its queued events stay for its next polls.
    m_mapGivenUp.insert(strClient, kGivenUpMarker);
    m_pDispatch->closeConnection(strClient);
    tidy(strClient);
}

void WebServer::sweep() {
    PacketAssembly::sweepExpired();
    const qint64 iNow = nowMs();
    int iDropped = 0;
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (it->listRoute.isEmpty() && !it->pPoll && !it->iIdleTimer && iNow - it->iLastSeenMs >= m_iClientExpiryMs) {
            iDropped += static_cast<int>(it->events.size());
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
    if (iDropped) qDebug() << iDropped << "events of departed clients dropped";
#ifdef __GLIBC__
    // Give memory freed after a burst back to the system.
    malloc_trim(0);
#endif
}
