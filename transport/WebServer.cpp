#include "WebServer.h"

#include "MessageDispatch.h"
#include "QueryForm.h"
#include "Worker.h"

#include "WebConnectChallenge.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <QTimerEvent>
#include <QUuid>

namespace {
constexpr int kMaxPendingConnections = 1024;
constexpr int kProbeTimeoutMs = 100;
// Stored in the idle-timer table for a client that was given up; raised by
// one with every later poll of any client until it is dropped at -1.
constexpr int kGivenUpMarker = -5;

QString uuidOf(const QByteArray& baMessage) {
    return QJsonDocument::fromJson(baMessage).object().value(QStringLiteral("uuid")).toString();
}
}  // namespace

WebServer::WebServer(QObject* parent) : QTcpServer(parent), m_pDispatch(new MessageDispatch()) {
    setMaxPendingConnections(kMaxPendingConnections);
    connect(m_pDispatch, &MessageDispatch::messageResponse, this, &WebServer::onMessageResponse);
}

WebServer::~WebServer() {
    // Every worker lives on a thread of its own and is deleted there when
    // its thread ends: end them all before the tables go.
    const QList<QThread*> threads = findChildren<QThread*>(QString(), Qt::FindDirectChildrenOnly);
    for (QThread* pThread : threads) pThread->quit();
    for (QThread* pThread : threads) pThread->wait();
    m_mapConnections.clear();
    m_mapPendingPolls.clear();
    m_pDispatch->deleteLater();
}

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
    const QString strId = QUuid::createUuid().toString();
    auto* pWorker = new Worker(strId);
    // Every connection gets a thread of its own; one is started ahead so
    // that a page's request does not wait for a thread to come up.
    QThread* pThread = m_pSpareThread ? m_pSpareThread.data() : startThread();
    m_pSpareThread = nullptr;
    pWorker->moveToThread(pThread);

    // Connected before the thread runs, so that nothing the worker says is
    // lost. connectionClose reaches onConnectClose before the thread's quit:
    // the tables forget the worker before it is deleted.
    connect(pWorker, &Worker::receiveWebsocketMessage, this, &WebServer::onWebsocketMessage);
    connect(pWorker, &Worker::websocketConnect, this, &WebServer::replyWebConnect);
    connect(pWorker, &Worker::receiveHttpMessage, this, &WebServer::onHTTPMessage);
    connect(pWorker, &Worker::receiveHttpImgTmpMessage, this, &WebServer::onHTTPImgMutiPackageMessage);
    connect(pWorker, &Worker::receiveHttpImgDetectMessage, this, &WebServer::onHTTPImgMessageDetect);
    connect(pWorker, &Worker::httpConnect, this, &WebServer::onHttpConnect);
    connect(pWorker, &Worker::httpDisconnect, this, &WebServer::onHttpDisconnect);
    connect(pWorker, &Worker::httpGet, this, &WebServer::onHttpGet);
    connect(pWorker, &Worker::connectionClose, this, &WebServer::onConnectClose);
    connect(pWorker, &Worker::connectionClose, pThread, &QThread::quit);
    connect(pThread, &QThread::finished, pWorker, &QObject::deleteLater);

    registerWorker(strId, pWorker);
    emit pWorker->newConnection(socketDescriptor);
    QMetaObject::invokeMethod(this, &WebServer::prepareSpareThread, Qt::QueuedConnection);
}

QThread* WebServer::startThread() {
    auto* pThread = new QThread(this);
    connect(pThread, &QThread::finished, pThread, &QObject::deleteLater);
    pThread->start(QThread::InheritPriority);
    return pThread;
}

void WebServer::prepareSpareThread() {
    if (!m_pSpareThread) m_pSpareThread = startThread();
}

Worker* WebServer::registered(const QString& strKey) const {
    const auto it = m_mapConnections.constFind(strKey);
    return it == m_mapConnections.constEnd() || it->isEmpty() ? nullptr : it->first();
}

void WebServer::registerWorker(const QString& strKey, Worker* pWorker) {
    m_mapConnections[strKey].append(pWorker);
}

void WebServer::unregisterWorker(const QString& strKey, Worker* pWorker) {
    const auto it = m_mapConnections.find(strKey);
    if (it == m_mapConnections.end()) return;
    it->removeOne(pWorker);
    if (it->isEmpty()) m_mapConnections.erase(it);
}

void WebServer::unregisterFirst(const QString& strKey) {
    const auto it = m_mapConnections.find(strKey);
    if (it == m_mapConnections.end()) return;
    if (!it->isEmpty()) it->removeFirst();
    if (it->isEmpty()) m_mapConnections.erase(it);
}

void WebServer::registerAgain(const QString& szUUID) {
    auto* pWorker = qobject_cast<Worker*>(sender());
    if (!pWorker || pWorker->uuid() != szUUID) return;
    if (!m_mapConnections.value(szUUID).contains(pWorker)) registerWorker(szUUID, pWorker);
}

void WebServer::answer(Worker* pWorker, const QByteArray& baAnswer) {
    pWorker->postAnswer(baAnswer);
}

void WebServer::startIdleTimer(const QString& strUuid) {
    const int iOld = m_mapIdleTimers.value(strUuid, 0);
    if (iOld > 0) killTimer(iOld);
    m_mapIdleTimers.insert(strUuid, startTimer(m_iIdleTimeoutMs, Qt::CoarseTimer));
}

void WebServer::removeEventsMentioning(const QString& strUuid) {
    if (strUuid.isEmpty()) return;
    for (auto it = m_listEvents.begin(); it != m_listEvents.end();) {
        if (it->contains(strUuid)) {
            it = m_listEvents.erase(it);
        } else {
            ++it;
        }
    }
}

void WebServer::onWebsocketMessage(QByteArray strMessage, QString szUUID) {
    // The upgrade may have come after HTTP requests on the same connection.
    registerAgain(szUUID);
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
        if (Worker* pWorker = registered(szUUID)) {
            QByteArray baReply = m_pDispatch->buildConnectReply(szUUID).toUtf8();
            emit pWorker->sendMessage(baReply);
        }
        return;
    }
    if (strCmd == QLatin1String("system.webconnect")) {
        replyWebConnect(szUUID);
        return;
    }
    m_pDispatch->processMessage(QString::fromUtf8(strMessage));
}

void WebServer::replyWebConnect(QString uuid) {
    Worker* pWorker = registered(uuid);
    if (!pWorker) return;
    QByteArray baReply = m_pDispatch->buildConnectReply(uuid).toUtf8();
    emit pWorker->sendMessage(baReply);
}

void WebServer::onHttpConnect(QString szUUID) {
    registerAgain(szUUID);
    Worker* pWorker = registered(szUUID);
    if (!pWorker) return;
    answer(pWorker, m_pDispatch->buildConnectReply(szUUID).toUtf8());
    unregisterWorker(szUUID, pWorker);
}

void WebServer::onHttpDisconnect(QString szUUID, QByteArray strMessage) {
    registerAgain(szUUID);
    Worker* pWorker = registered(szUUID);
    if (!pWorker) return;
    answer(pWorker, QByteArrayLiteral("disconnect"));
    const QString strClient = uuidOf(strMessage);
    m_pDispatch->closeConnection(strClient);
    if (Worker* pPoll = m_mapPendingPolls.value(strClient)) {
        answer(pPoll, QByteArrayLiteral("timeout"));
        killTimer(pPoll->pollTimerId());
        pPoll->setPollTimerId(0);
    }
    m_mapPendingPolls.remove(strClient);
    removeEventsMentioning(strClient);
    unregisterWorker(szUUID, pWorker);
}

void WebServer::onHttpGet(QString szUUID, QByteArray strMessage) {
    registerAgain(szUUID);
    Worker* pWorker = registered(szUUID);
    if (!pWorker) return;
    const QString strClient = uuidOf(strMessage);
    const int iPollTimer = startTimer(m_iPollTimeoutMs, Qt::CoarseTimer);
    pWorker->setPollTimerId(iPollTimer);

    bool bAnswered = false;
    const auto itIdle = m_mapIdleTimers.find(strClient);
    if (itIdle != m_mapIdleTimers.end()) {
        if (*itIdle == kGivenUpMarker) {
            answer(pWorker, QByteArrayLiteral("invalid"));
            killTimer(iPollTimer);
            pWorker->setPollTimerId(0);
            bAnswered = true;
        } else if (*itIdle > 0) {
            killTimer(*itIdle);
        }
        m_mapIdleTimers.erase(itIdle);
    }

    // Age the markers of clients that were given up.
    for (auto it = m_mapIdleTimers.begin(); it != m_mapIdleTimers.end(); ++it) {
        if (*it == -1) {
            m_mapIdleTimers.erase(it);
            break;
        }
        if (*it < 0) ++*it;
    }

    if (!bAnswered) {
        // A poll that is replaced still gets its answer.
        Worker* pReplaced = m_mapPendingPolls.value(strClient);
        if (pReplaced && pReplaced != pWorker) {
            killTimer(pReplaced->pollTimerId());
            pReplaced->setPollTimerId(0);
            answer(pReplaced, QByteArrayLiteral("timeout"));
        }
        m_mapPendingPolls.insert(strClient, pWorker);
    }
    unregisterWorker(szUUID, pWorker);
    if (bAnswered) return;

    for (auto it = m_listEvents.begin(); it != m_listEvents.end(); ++it) {
        if (uuidOf(it->toUtf8()) != strClient) continue;
        answer(pWorker, it->toUtf8());
        killTimer(pWorker->pollTimerId());
        pWorker->setPollTimerId(0);
        m_mapPendingPolls.remove(strClient);
        m_listEvents.erase(it);
        break;
    }
}

void WebServer::onHTTPMessage(QString szUUID, QByteArray strMessage) {
    registerAgain(szUUID);
    Worker* pWorker = registered(szUUID);
    if (!pWorker) {
        if (!strMessage.isEmpty()) m_pDispatch->processMessage(QString::fromUtf8(strMessage));
        return;
    }
    unregisterWorker(szUUID, pWorker);
    if (strMessage.isEmpty()) {
        pWorker->postDrop();
        return;
    }
    // The module's response carries the request's "uuid": wait under it.
    const QString strClient = uuidOf(strMessage);
    registerWorker(strClient, pWorker);
    m_pDispatch->processMessage(QString::fromUtf8(strMessage));
    // Modules answer inside processMessage. A request they drop (not JSON,
    // unknown module or command) gets no answer: its connection is closed
    // rather than left waiting, and never receives a later client's answer.
    if (m_mapConnections.value(strClient).contains(pWorker)) {
        unregisterWorker(strClient, pWorker);
        pWorker->postDrop();
    }
}

void WebServer::onConnectClose(int iType, QString strUUID) {
    if (iType == Worker::WebSocketConnection) {
        m_pDispatch->closeConnection(strUUID);
        removeEventsMentioning(strUUID);
    }
    // Nothing may name the worker once its thread ends.
    for (auto it = m_mapConnections.begin(); it != m_mapConnections.end();) {
        it->erase(std::remove_if(it->begin(), it->end(), [&](Worker* p) { return p->uuid() == strUUID; }),
                  it->end());
        it = it->isEmpty() ? m_mapConnections.erase(it) : std::next(it);
    }
    for (auto it = m_mapPendingPolls.begin(); it != m_mapPendingPolls.end();) {
        if (it.value() && it.value()->uuid() == strUUID) {
            // An aborted poll: the client counts as idle from now on.
            killTimer(it.value()->pollTimerId());
            const QString strClient = it.key();
            it = m_mapPendingPolls.erase(it);
            startIdleTimer(strClient);
        } else {
            ++it;
        }
    }
}

void WebServer::onHTTPImgMutiPackageMessage(QString strUUID) {
    registerAgain(strUUID);
    if (Worker* pWorker = registered(strUUID)) unregisterWorker(strUUID, pWorker);
}

void WebServer::onHTTPImgMessageDetect(QString strUUID) {
    registerAgain(strUUID);
    if (Worker* pWorker = registered(strUUID)) unregisterWorker(strUUID, pWorker);
}

void WebServer::onMessageResponse(QString strUUID, QString message) {
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    const bool bEvent = document.isObject() && document.object().contains(QStringLiteral("cmd"));
    Worker* pWorker = registered(strUUID);
    if (bEvent) {
        if (pWorker) {
            QByteArray baEvent = message.toUtf8();
            emit pWorker->sendMessage(baEvent);
        }
        m_listEvents.append(message);
        completePoll(strUUID, false);
        return;
    }
    if (!pWorker) return;
    if (pWorker->connectionType() == Worker::WebSocketConnection) {
        QByteArray baResponse = message.toUtf8();
        emit pWorker->sendMessage(baResponse);
        removeEventsMentioning(strUUID);
    } else {
        answer(pWorker, message.toUtf8());
        unregisterFirst(strUUID);
    }
}

void WebServer::completePoll(QString uuid, bool armIdleTimer) {
    const auto it = m_mapPendingPolls.find(uuid);
    if (it == m_mapPendingPolls.end()) return;
    Worker* pWorker = it.value();
    m_mapPendingPolls.erase(it);
    if (!pWorker) return;
    answer(pWorker, QByteArrayLiteral("timeout"));
    if (armIdleTimer) startIdleTimer(uuid);
    killTimer(pWorker->pollTimerId());
    pWorker->setPollTimerId(0);
}

void WebServer::timerEvent(QTimerEvent* event) {
    const int iTimerId = event->timerId();
    for (auto it = m_mapPendingPolls.cbegin(); it != m_mapPendingPolls.cend(); ++it) {
        if (it.value() && it.value()->pollTimerId() == iTimerId) {
            completePoll(it.key(), true);
            return;
        }
    }
    for (auto it = m_mapIdleTimers.begin(); it != m_mapIdleTimers.end(); ++it) {
        if (it.value() != iTimerId) continue;
        qDebug() << "timerEvent get timeout";
        const QString strClient = it.key();
        killTimer(iTimerId);
        *it = kGivenUpMarker;
        m_pDispatch->closeConnection(strClient);
        removeEventsMentioning(strClient);
        return;
    }
    // A timer nobody claims any more.
    killTimer(iTimerId);
}
