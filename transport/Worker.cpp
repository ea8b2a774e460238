#include "Worker.h"

#include "HttpServerRequest.h"
#include "HttpServerResponse.h"
#include "OriginTrust.h"
#include "QueryForm.h"
#include "WebSocket.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

#include "ImageUtil.h"
#include "PacketAssembly.h"
#include "WebConnectChallenge.h"

namespace {
Worker::MediaRoute& mediaRoute() {
    static Worker::MediaRoute fnRoute;
    return fnRoute;
}
const char* const kAllowedMethods = "GET, POST, OPTIONS";
const char* const kPreflightMaxAgeSeconds = "600";
}  // namespace

Worker::Worker(QString uuid, const AccessPolicy* pPolicy, int iHandshakeDeadlineMs)
    : QObject(nullptr), m_strUuid(std::move(uuid)), m_pPolicy(pPolicy), m_iHandshakeDeadlineMs(iHandshakeDeadlineMs) {
    m_age.start();
}

Worker::~Worker() = default;

void Worker::setMediaRoute(MediaRoute fnRoute) {
    mediaRoute() = std::move(fnRoute);
}

void Worker::start(qintptr socketDescriptor) {
    auto* pSocket = new QTcpSocket(this);
    if (!pSocket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        delete pSocket;
        // Let the server forget this connection.
        onClose();
        return;
    }
    pSocket->setReadBufferSize(kReadBufferBytes);
    pSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_pSocket = pSocket;
    m_pRequest = new HttpServerRequest(pSocket, this, m_iHandshakeDeadlineMs);
    connect(m_pRequest, &HttpServerRequest::handshakeDone, this, [this] {
        m_bHandshaking = false;
        emit sigHandshakeDone(m_strUuid);
    });
    // The request is whole (body included) when ready is emitted.
    connect(m_pRequest, &HttpServerRequest::ready, this, &Worker::onHttpRequest);
    connect(m_pRequest, &HttpServerRequest::upgrade, this, &Worker::onWebsocketConnect);
    connect(m_pRequest, &HttpServerRequest::close, this, &Worker::onClose);
    connect(pSocket, &QTcpSocket::disconnected, m_pRequest, &QObject::deleteLater);
    connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
    // Also when the request no longer reads (an upgrade that was refused).
    connect(pSocket, &QTcpSocket::disconnected, this, &Worker::onClose);
    // A page sends its request right after connecting: read what is already
    // there now rather than on the next turn of the event loop.
    pSocket->waitForReadyRead(0);
}

bool Worker::admitted(HttpServerRequest* pRequest, void (Worker::*fnServe)()) {
    if (!m_pPolicy) return true;
    const QByteArray baHost = m_pPolicy->hostRefusal(*pRequest);
    if (!baHost.isEmpty()) {
        qDebug().noquote() << "request refused:" << QString::fromLatin1(baHost);
        refuse(pRequest, 403, "forbidden");
        return false;
    }
    if (!m_pPolicy->pTrust) return true;
    const RequestOrigin origin = AccessPolicy::attribute(*pRequest);
    const QPointer<HttpServerRequest> pWaiting(pRequest);
    const auto fnDecided = [this, pWaiting, fnServe](bool bTrusted) {
        if (m_bClosed || !pWaiting) return;
        if (bTrusted) {
            (this->*fnServe)();
        } else {
            refuse(pWaiting, 403, "origin not trusted");
        }
    };
    switch (m_pPolicy->pTrust->check(origin, this, fnDecided)) {
    case OriginTrust::Verdict::Trusted: m_baOrigin = origin.baOrigin; return true;
    case OriginTrust::Verdict::Waiting: return false;
    case OriginTrust::Verdict::Busy:
        refuse(pRequest, 503, "too many requests wait for the user's answer");
        return false;
    case OriginTrust::Verdict::Refused: break;
    }
    refuse(pRequest, 403, origin.kind == RequestOrigin::Page ? "origin not trusted" : "no page origin");
    return false;
}

void Worker::refuse(HttpServerRequest* pRequest, int iStatus, const QByteArray& baReason) {
    HttpServerResponse response(pRequest->socket(), pRequest->responseOptions());
    response.writeHead(iStatus);
    response.closeAfterwards();
    response.insertHeader("Content-Type", "text/plain");
    response.end(baReason);
}

void Worker::answerPreflight(HttpServerRequest* pRequest, HttpServerResponse* pResponse) {
    pResponse->writeHead(204);
    pResponse->insertHeader("Access-Control-Allow-Origin", m_baAllowOrigin);
    pResponse->insertHeader("Access-Control-Allow-Methods", kAllowedMethods);
    const QByteArray baHeaders = pRequest->header("Access-Control-Request-Headers");
    pResponse->insertHeader("Access-Control-Allow-Headers", baHeaders.isEmpty() ? "Content-Type" : baHeaders);
    pResponse->insertHeader("Access-Control-Allow-Private-Network", "true");
    pResponse->insertHeader("Access-Control-Max-Age", kPreflightMaxAgeSeconds);
    if (m_pPolicy && m_pPolicy->variesByOrigin()) pResponse->insertHeader("Vary", "Origin");
    m_pResponse = nullptr;
    finish(pResponse, QByteArray());
}

void Worker::finish(HttpServerResponse* pResponse, const QByteArray& baBody) {
    pResponse->end(baBody);
    delete pResponse;
    // The next request of a kept-alive connection.
    if (m_pRequest) m_pRequest->resume();
}

void Worker::onHttpRequest() {
    if (m_bClosed || !m_pRequest) return;
    m_iType = HttpConnection;
    HttpServerRequest* pRequest = m_pRequest;
    if (!admitted(pRequest, &Worker::onHttpRequest)) return;
    m_baAllowOrigin = m_pPolicy ? m_pPolicy->allowOrigin(*pRequest) : QByteArrayLiteral("*");

    // Owned by the worker until it ended (finish()).
    auto* pResponse = new HttpServerResponse(pRequest->socket(), pRequest->responseOptions(), this);

    if (pRequest->isPreflight()) {
        answerPreflight(pRequest, pResponse);
        return;
    }
    if (pRequest->header("Expect").trimmed().compare("100-continue", Qt::CaseInsensitive) == 0) {
        pResponse->writeContinue();
    }
    pResponse->writeHead(200);

    const QByteArray baBody = pRequest->readBody();
    m_pResponse = pResponse;

    if (!baBody.isEmpty()) {
        m_bImageAnswer = false;
        dispatchBody(baBody);
    } else {
        m_bImageAnswer = true;
        serveQueryForm(pRequest->url().query());
    }
}

void Worker::dispatchBody(const QByteArray& baBody) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(baBody, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        // No module reads it (invalid UTF-8 included, which a text
        // conversion would turn into another request): closed unanswered.
        m_strRequestUuid.clear();
        emit sigUnreadableRequest(m_strUuid);
        return;
    }
    const QJsonObject request = document.object();
    const QString strCmd = request.value(QStringLiteral("cmd")).toString();
    // Never null: a request without "uuid" is the client "".
    m_strRequestUuid = request.value(QStringLiteral("uuid")).toString();
    if (m_strRequestUuid.isNull()) m_strRequestUuid = QStringLiteral("");
    if (strCmd == QLatin1String("system.webconnect")) {
        emit httpConnect(m_strUuid);
    } else if (strCmd == QLatin1String("system.get")) {
        emit httpGet(m_strUuid);
    } else if (strCmd == QLatin1String("system.disconnect")) {
        emit httpDisconnect(m_strUuid);
    } else {
        emit receiveHttpRequest(m_strUuid, request);
    }
}

void Worker::serveQueryForm(const QString& strQuery) {
    const QString strData = QueryForm::findValue(strQuery, QStringLiteral("&data="));
    if (strData.isEmpty()) {
        // The port-detection handshake; silence when it fails.
        const QByteArray baSession = QueryForm::findValue(strQuery, QStringLiteral("&sessionID=")).toUtf8();
        const QByteArray baUser =
            QueryForm::percentDecode(QueryForm::findValue(strQuery, QStringLiteral("&user="))).toUtf8();
        const QByteArray baChallenge = QueryForm::findValue(strQuery, QStringLiteral("&challenge=")).toUtf8();
        const int iIterations = QueryForm::toInt(QueryForm::findValue(strQuery, QStringLiteral("&iterations=")));
        const int iRandom = QueryForm::toInt(QueryForm::findValue(strQuery, QStringLiteral("&random=")));
        if (checkWebConnectChallenge(baSession, baUser, baChallenge, iIterations, iRandom) != 0) {
            drop();
            return;
        }
        emit receiveHttpImgDetectMessage(m_strUuid);
        answer(QByteArrayLiteral("detect"));
        return;
    }

    const QString strSequence = QueryForm::findValue(strQuery, QStringLiteral("&sequence="));
    if (QueryForm::isLastPiece(strQuery)) {
        bool bOk = false;
        const QString strPacket = PacketAssembly::takePacket(strSequence, strData, &bOk);
        if (!bOk) {
            qDebug() << "image request refused: packet too long, sequence" << strSequence;
            answer(QByteArrayLiteral("invalid"));
            return;
        }
        bool bWithinBounds = true;
        const QString strText = ImageUtil::getImgData(strPacket, &bWithinBounds);
        if (!bWithinBounds) {
            qDebug() << "image request refused: decoded packet too long, sequence" << strSequence;
            answer(QByteArrayLiteral("invalid"));
            return;
        }
        // The packet may carry keys: its length only.
        if (strText.isEmpty()) qDebug() << "image request decodes to nothing:" << strPacket.size() << "characters";
        dispatchBody(strText.toUtf8());
        return;
    }
    if (!PacketAssembly::appendPiece(strSequence, strData)) {
        qDebug() << "image request refused: piece too long, sequence" << strSequence;
        answer(QByteArrayLiteral("invalid"));
        return;
    }
    emit receiveHttpImgTmpMessage(m_strUuid);
    answer(QByteArrayLiteral("continue"));
}

void Worker::answer(const QByteArray& baAnswer) {
    if (!m_pResponse) return;
    HttpServerResponse* pResponse = m_pResponse;
    m_pResponse = nullptr;
    pResponse->insertHeader("Content-Type", m_bImageAnswer ? "image/bmp" : "text/html");
    pResponse->insertHeader("Access-Control-Allow-Origin", m_baAllowOrigin);
    if (m_pPolicy && m_pPolicy->variesByOrigin()) pResponse->insertHeader("Vary", "Origin");
    finish(pResponse, m_bImageAnswer ? ImageUtil::buildImgData(baAnswer.constData()) : baAnswer);
}

void Worker::drop() {
    if (!m_pResponse) return;
    delete m_pResponse.data();
    m_pResponse = nullptr;
    if (m_pSocket) m_pSocket->disconnectFromHost();
}

void Worker::shut(const QString& strReason) {
    if (m_pWebSocket) {
        m_pWebSocket->close(strReason);
    } else if (m_pSocket) {
        m_pResponse = nullptr;
        m_pSocket->abort();
    }
}

void Worker::onWebsocketConnect() {
    if (m_bClosed || !m_pRequest) return;
    if (!admitted(m_pRequest, &Worker::onWebsocketConnect)) return;
    m_iType = WebSocketConnection;
    // The socket now belongs to the WebSocket.
    disconnect(m_pSocket, nullptr, m_pRequest, nullptr);
    disconnect(m_pSocket, &QTcpSocket::disconnected, m_pSocket, &QObject::deleteLater);
    disconnect(m_pRequest, nullptr, this, nullptr);

    auto* pWebSocket = new WebSocket(this);
    m_pWebSocket = pWebSocket;
    const QString strPath = m_pRequest->url().path();
    if (strPath.startsWith(QLatin1String(kMediaPath))) {
        // A media stream: nothing the page sends on it is a command.
        m_bMediaStream = true;
        connect(pWebSocket, &WebSocket::sigOpened, this, [strPath](QWebSocket* pSocket) {
            if (!mediaRoute() || !mediaRoute()(strPath, pSocket)) pSocket->abort();
        });
    } else {
        connect(pWebSocket, &WebSocket::newMessage, this, &Worker::onNewMessage);
    }
    connect(pWebSocket, &WebSocket::disconnected, this, &Worker::onClose);
    connect(pWebSocket, &WebSocket::disconnected, pWebSocket, &QObject::deleteLater);
    pWebSocket->startServerHandshake(m_pRequest);
    m_pRequest->deleteLater();
}

void Worker::send(const QString& strText) {
    if (m_pWebSocket && !m_bMediaStream) m_pWebSocket->sendMessage(strText);
}

bool Worker::giveWayInHandshake() {
    if (isHandshaking() && m_pSocket) m_pSocket->waitForReadyRead(0);
    if (!isHandshaking()) return false;
    if (m_pSocket) m_pSocket->abort();
    onClose();
    return true;
}

void Worker::onNewMessage(QByteArray msg) {
    emit receiveWebsocketMessage(msg, m_strUuid);
}

void Worker::onClose() {
    if (m_bClosed) return;
    m_bClosed = true;
    m_pResponse = nullptr;
    emit connectionClose(m_iType, m_strUuid);
}
