#include "WebServer.h"

#include "MessageDispatch.h"
#include "OriginTrust.h"
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

#include <algorithm>
#include <functional>
#include <tuple>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
constexpr int kMaxPendingConnections = 1024;
constexpr int kProbeTimeoutMs = 100;
constexpr int kAcceptRetryMs = 100;
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
    connect(m_pDispatch, &MessageDispatch::sigEvent, this, &WebServer::onEvent);
    connect(m_pDispatch, &MessageDispatch::sigAnswerDropped, this,
            [this](const QString& strUuid) { deliverResponse(strUuid, QString(), false); });
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

void WebServer::setAccessPolicy(const AccessPolicy& policy) {
    if (m_policy.pTrust) disconnect(m_policy.pTrust, nullptr, this, nullptr);
    m_policy = policy;
    if (m_policy.pTrust) connect(m_policy.pTrust, &OriginTrust::sigRevoked, this, &WebServer::closeOrigin);
}

void WebServer::listenInRange(int iFirst, int iEnd) {
    for (int iPort = iFirst; iPort < iEnd; ++iPort) {
        auto* pProbe = new QTcpSocket(this);
        pProbe->connectToHost(QHostAddress(QHostAddress::LocalHost), static_cast<quint16>(iPort), QIODevice::ReadWrite);
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
    connect(pWorker, &Worker::receiveHttpRequest, this, &WebServer::onHttpRequest);
    connect(pWorker, &Worker::sigUnreadableRequest, this, &WebServer::onUnreadableRequest);
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
    pWorker->start(socketDescriptor);
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
    touch(strUuid).listRoute.append(Route{pWorker, false});
    pWorker->setWaiting(Worker::Waiting::Answer, strUuid);
}

void WebServer::unroute(Worker* pWorker, bool bAbandoned) {
    if (pWorker->waiting() != Worker::Waiting::Answer) return;
    const QString strKey = pWorker->waitingClient();
    pWorker->setWaiting(Worker::Waiting::Nothing);
    const auto it = m_clients.find(strKey);
    if (it == m_clients.end()) return;
    for (int i = 0; i < it->listRoute.size(); ++i) {
        if (it->listRoute.at(i).pWorker != pWorker) continue;
        if (bAbandoned) {
            it->listRoute[i] = Route{nullptr, true};
        } else {
            it->listRoute.removeAt(i);
        }
        break;
    }
    if (it->isEmpty()) m_clients.erase(it);
}

void WebServer::endPoll(Client& client, const QByteArray& baAnswer) {
    Worker* pPoll = client.pPoll;
    client.pPoll = nullptr;
    pPoll->setWaiting(Worker::Waiting::Nothing);
    stopTimer(client.iPollTimer);
    client.iPollTimer = 0;
    pPoll->answer(baAnswer);
}

void WebServer::stopTimer(int iTimerId) {
    if (!iTimerId) return;
    killTimer(iTimerId);
    m_timerClients.remove(iTimerId);
}

int WebServer::startClientTimer(const QString& strUuid, int iMs) {
    const int iTimerId = startTimer(iMs, Qt::CoarseTimer);
    m_timerClients.insert(iTimerId, strUuid);
    return iTimerId;
}

void WebServer::setGivenUp(Client& client, bool bGivenUp) {
    if (client.bGivenUp == bGivenUp) return;
    client.bGivenUp = bGivenUp;
    client.iPollsSinceGivenUp = 0;
    m_iGivenUp += bGivenUp ? 1 : -1;
}

void WebServer::startIdleTimer(const QString& strUuid) {
    Client& client = m_clients[strUuid];
    stopTimer(client.iIdleTimer);
    client.iIdleTimer = startClientTimer(strUuid, m_iIdleTimeoutMs);
    setGivenUp(client, false);
}

void WebServer::idleAfterAnswer(const QString& strUuid) {
    // A WebSocket's id: its window goes with its connection.
    if (strUuid.isEmpty() || m_connections.contains(strUuid)) return;
    Client& client = m_clients[strUuid];
    if (!client.listRoute.isEmpty() || client.pPoll || client.iIdleTimer) return;
    // Unlike a poll's time-out, an answer leaves a given-up marker in place.
    client.iIdleTimer = startClientTimer(strUuid, m_iIdleTimeoutMs);
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

int WebServer::requestsWaiting(const QString& strUuid) const {
    const auto it = m_clients.constFind(strUuid);
    if (it == m_clients.constEnd()) return 0;
    return static_cast<int>(std::count_if(it->listRoute.cbegin(), it->listRoute.cend(), [](const Route& route) {
        return route.bAbandoned || route.pWorker->connectionType() == Worker::HttpConnection;
    }));
}

void WebServer::onWebsocketMessage(QByteArray strMessage, QString szUUID) {
    // Parsed once here; the modules take the parsed request.
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
    m_pDispatch->processRequest(object, strCmd);
}

void WebServer::replyWebConnect(QString uuid) {
    if (Worker* pWorker = m_connections.value(uuid)) pWorker->send(m_pDispatch->buildConnectReply(uuid));
}

void WebServer::onHttpConnect(QString szUUID) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    pWorker->answer(m_pDispatch->buildConnectReply(szUUID).toUtf8());
}

void WebServer::onHttpDisconnect(QString szUUID) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    const QString strClient = pWorker->requestUuid();
    pWorker->answer(QByteArrayLiteral("disconnect"));
    m_pDispatch->closeConnection(strClient);
    m_mapClientOrigin.remove(strClient);
    const auto it = m_clients.find(strClient);
    if (it == m_clients.end()) return;
    if (it->pPoll) endPoll(*it, QByteArrayLiteral("timeout"));
    clearEvents(strClient);
}

void WebServer::ageGivenUpMarkers() {
    if (!m_iGivenUp) return;
    QStringList listGivenUp;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->bGivenUp) listGivenUp.append(it.key());
    }
    std::sort(listGivenUp.begin(), listGivenUp.end());
    for (const QString& strClient : qAsConst(listGivenUp)) {
        const auto it = m_clients.find(strClient);
        if (it->iPollsSinceGivenUp == kGivenUpPolls) {
            setGivenUp(*it, false);
            if (it->isEmpty()) m_clients.erase(it);
            return;
        }
        ++it->iPollsSinceGivenUp;
    }
}

void WebServer::onHttpGet(QString szUUID) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    const QString strClient = pWorker->requestUuid();
    noteOrigin(strClient, pWorker);
    bool bGivenUp = false;
    {
        Client& client = touch(strClient);
        stopTimer(client.iIdleTimer);
        client.iIdleTimer = 0;
        bGivenUp = client.bGivenUp && client.iPollsSinceGivenUp == 0;
        setGivenUp(client, false);
    }
    ageGivenUpMarkers();
    Client& client = m_clients[strClient];

    if (bGivenUp) {
        pWorker->answer(QByteArrayLiteral("invalid"));
        tidy(strClient);
        return;
    }
    // A poll that is replaced still gets its answer.
    if (client.pPoll && client.pPoll != pWorker) endPoll(client, QByteArrayLiteral("timeout"));
    client.pPoll = pWorker;
    pWorker->setWaiting(Worker::Waiting::Poll, strClient);
    client.iPollTimer = startClientTimer(strClient, m_iPollTimeoutMs);

    if (!client.events.empty()) {
        const QString strEvent = client.events.front();
        client.events.pop_front();
        client.iEventBytes -= strEvent.size();
        endPoll(client, strEvent.toUtf8());
        idleAfterAnswer(strClient);
    }
    tidy(strClient);
}

void WebServer::onUnreadableRequest(QString szUUID) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    pWorker->drop();
}

void WebServer::onHttpRequest(QString szUUID, QJsonObject request) {
    Worker* pWorker = m_connections.value(szUUID);
    if (!pWorker) return;
    unroute(pWorker);
    // The module's response carries the request's "uuid": wait under it. The
    // request takes the key over from a WebSocket registered under it.
    const QString strClient = pWorker->requestUuid();
    const auto it = m_clients.find(strClient);
    if (it != m_clients.end()) {
        for (const Route& route : QList<Route>(it->listRoute)) {
            if (route.pWorker && route.pWorker->connectionType() == Worker::WebSocketConnection) unroute(route.pWorker);
        }
    }
    route(strClient, pWorker);
    // A request: the client is not idle.
    Client& client = m_clients[strClient];
    stopTimer(client.iIdleTimer);
    client.iIdleTimer = 0;
    noteOrigin(strClient, pWorker);
    m_pDispatch->processRequest(request);
    // A request that no module answers (unknown module or command) is
    // closed rather than left waiting; it must not stay in line for an
    // answer that belongs to another request of the same client.
    if (pWorker->waiting() == Worker::Waiting::Answer && !pWorker->isClosed() && !m_pDispatch->lastRequestAnswered()) {
        unroute(pWorker);
        pWorker->drop();
        idleAfterAnswer(strClient);
    }
}

void WebServer::onAnswersSettled(QString strUUID) {
    const auto it = m_clients.find(strUUID);
    if (it == m_clients.end()) return;
    // Nothing more comes: requests still in line are closed, the places of
    // abandoned ones go.
    QList<Worker*> listDropped;
    for (auto itRoute = it->listRoute.begin(); itRoute != it->listRoute.end();) {
        if (itRoute->bAbandoned) {
            itRoute = it->listRoute.erase(itRoute);
        } else {
            if (itRoute->pWorker->connectionType() == Worker::HttpConnection) listDropped.append(itRoute->pWorker);
            ++itRoute;
        }
    }
    for (Worker* pWorker : qAsConst(listDropped)) {
        unroute(pWorker);
        pWorker->drop();
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
    const QString strClient = pWorker->waitingClient();
    switch (pWorker->waiting()) {
    case Worker::Waiting::Answer:
        // A request given up by its client: the client waits for it no
        // more, but its answer is still to come and must not go to a
        // later request of the client.
        if (iType == Worker::HttpConnection) {
            unroute(pWorker, true);
            if (strClient != strUUID) idleAfterAnswer(strClient);
        } else {
            unroute(pWorker);
        }
        break;
    case Worker::Waiting::Poll: {
        // An aborted poll: the client counts as idle from now on.
        pWorker->setWaiting(Worker::Waiting::Nothing);
        const auto it = m_clients.find(strClient);
        if (it != m_clients.end() && it->pPoll == pWorker) {
            it->pPoll = nullptr;
            stopTimer(it->iPollTimer);
            it->iPollTimer = 0;
            startIdleTimer(strClient);
        }
        break;
    }
    case Worker::Waiting::Nothing: break;
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
    deliverResponse(strUUID, message, true);
}

void WebServer::onEvent(QString strUUID, QString message) {
    const auto it = m_clients.constFind(strUUID);
    if (it != m_clients.constEnd()) {
        for (const Route& route : it->listRoute) {
            if (!route.pWorker || route.pWorker->isClosed()) continue;
            if (route.pWorker->connectionType() == Worker::WebSocketConnection) route.pWorker->send(message);
            break;
        }
    }
    queueEvent(strUUID, message);
    if (hasPendingPoll(strUUID)) {
        completePoll(strUUID, false);
        idleAfterAnswer(strUUID);
    }
}

void WebServer::deliverResponse(const QString& strUuid, const QString& strMessage, bool bSend) {
    const auto it = m_clients.find(strUuid);
    if (it == m_clients.end()) return;
    for (int i = 0; i < it->listRoute.size(); ++i) {
        const Route route = it->listRoute.at(i);
        if (route.bAbandoned ||
            (route.pWorker->isClosed() && route.pWorker->connectionType() == Worker::HttpConnection)) {
            // The answer of a request its client gave up (its close may
            // still be on its way): it goes nowhere.
            if (route.bAbandoned) {
                it->listRoute.removeAt(i);
                if (it->isEmpty()) m_clients.erase(it);
            } else {
                unroute(route.pWorker);
            }
            idleAfterAnswer(strUuid);
            return;
        }
        if (route.pWorker->isClosed()) continue;
        if (route.pWorker->connectionType() == Worker::WebSocketConnection) {
            if (!bSend) return;
            // Its events went to the socket as they came: the copies kept
            // for polls go (the record stays: the socket's route is in it).
            it->events.clear();
            it->iEventBytes = 0;
            route.pWorker->send(strMessage);
        } else {
            unroute(route.pWorker);
            if (!bSend) {
                route.pWorker->drop();
            } else {
                route.pWorker->answer(strMessage.toUtf8());
            }
            idleAfterAnswer(strUuid);
        }
        return;
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
    const auto itTimer = m_timerClients.find(iTimerId);
    if (itTimer == m_timerClients.end()) return;
    const QString strClient = itTimer.value();
    m_timerClients.erase(itTimer);
    const auto it = m_clients.find(strClient);
    if (it == m_clients.end()) return;
    if (it->pPoll && it->iPollTimer == iTimerId) {
        it->iPollTimer = 0;
        completePoll(strClient, true);
        return;
    }
    if (it->iIdleTimer != iTimerId) return;
    qDebug() << "timerEvent get timeout";
    it->iIdleTimer = 0;
    // Its queued events stay for its next polls.
    setGivenUp(*it, true);
    it->iPollsSinceGivenUp = 0;
    m_pDispatch->closeConnection(strClient);
    m_mapClientOrigin.remove(strClient);
    tidy(strClient);
}

void WebServer::sweep() {
    PacketAssembly::sweepExpired();
    const qint64 iNow = nowMs();
    int iDropped = 0;
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (!it->listRoute.isEmpty() || it->pPoll || it->iIdleTimer || iNow - it->iLastSeenMs < m_iClientExpiryMs) {
            ++it;
            continue;
        }
        iDropped += static_cast<int>(it->events.size());
        if (it->bGivenUp) {
            // The marker stays until polls age it.
            it->events.clear();
            it->iEventBytes = 0;
            ++it;
        } else {
            it = m_clients.erase(it);
        }
    }
    if (iDropped) qDebug() << iDropped << "events of departed clients dropped";
#ifdef __GLIBC__
    // Give memory freed after a burst back to the system.
    malloc_trim(0);
#endif
}

void WebServer::noteOrigin(const QString& strUuid, const Worker* pWorker) {
    if (pWorker->origin().isEmpty()) return;
    if (m_mapClientOrigin.size() >= kMaxClientOrigins) {
        // Clients the server keeps nothing for any more are forgotten first.
        for (auto it = m_mapClientOrigin.begin(); it != m_mapClientOrigin.end();) {
            it = m_clients.contains(it.key()) ? std::next(it) : m_mapClientOrigin.erase(it);
        }
    }
    if (m_mapClientOrigin.size() < kMaxClientOrigins) m_mapClientOrigin.insert(strUuid, pWorker->origin());
}

QList<WebServer::PageConnection> WebServer::pages() const {
    QList<PageConnection> list;
    for (const Worker* pWorker : m_connections) {
        if (pWorker->origin().isEmpty() || pWorker->isClosed()) continue;
        const QString strTransport = pWorker->connectionType() == Worker::WebSocketConnection
                                         ? QStringLiteral("websocket")
                                         : QStringLiteral("http");
        auto it = std::find_if(list.begin(), list.end(), [&](const PageConnection& page) {
            return page.baOrigin == pWorker->origin() && page.strTransport == strTransport;
        });
        if (it == list.end()) it = list.insert(list.end(), PageConnection{pWorker->origin(), strTransport, 0});
        ++it->iConnections;
    }
    std::sort(list.begin(), list.end(), [](const PageConnection& a, const PageConnection& b) {
        return std::tie(a.baOrigin, a.strTransport) < std::tie(b.baOrigin, b.strTransport);
    });
    return list;
}

void WebServer::closeOrigin(QByteArray baOrigin) {
    int iClosed = 0;
    for (Worker* pWorker : QList<Worker*>(m_connections.values())) {
        if (pWorker->origin() != baOrigin || pWorker->isClosed()) continue;
        pWorker->shut(QStringLiteral("origin no longer trusted"));
        ++iClosed;
    }
    QStringList listClients;
    for (auto it = m_mapClientOrigin.begin(); it != m_mapClientOrigin.end();) {
        if (it.value() != baOrigin) {
            ++it;
            continue;
        }
        listClients.append(it.key());
        it = m_mapClientOrigin.erase(it);
    }
    for (const QString& strClient : listClients) {
        m_pDispatch->closeConnection(strClient);
        clearEvents(strClient);
    }
    qDebug().noquote() << "origin" << QString::fromUtf8(baOrigin) << "cut off:" << iClosed << "connections,"
                       << listClients.size() << "clients";
}
