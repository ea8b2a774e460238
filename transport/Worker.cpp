#include "Worker.h"

#include "HttpServerRequest.h"
#include "HttpServerResponse.h"
#include "QueryForm.h"
#include "WebSocket.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include "ImageUtil.h"
#include "PacketAssembly.h"
#include "WebConnectChallenge.h"

namespace {
// After an answer, the connection closes as soon as the thread is idle.
constexpr int kIdleCloseAfterAnswerMs = 1;
}  // namespace

Worker::Worker(QString uuid) : QObject(nullptr), m_strUuid(std::move(uuid)) {
    // The socket is adopted on the worker's own thread, after moveToThread.
    connect(this, &Worker::newConnection, this, &Worker::onNewConnection, Qt::QueuedConnection);
}

Worker::~Worker() = default;

void Worker::postAnswer(const QByteArray& baAnswer) {
    QMetaObject::invokeMethod(this, [this, baAnswer] { answer(baAnswer); }, Qt::QueuedConnection);
}

void Worker::postDrop() {
    QMetaObject::invokeMethod(this, [this] { drop(); }, Qt::QueuedConnection);
}

void Worker::onNewConnection(qintptr socketDescriptor) {
    auto* pSocket = new QTcpSocket(this);
    if (!pSocket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        delete pSocket;
        // Let the server forget this connection and end the thread.
        onClose();
        return;
    }
    m_pSocket = pSocket;
    m_pRequest = new HttpServerRequest(pSocket, this);
    // The request is whole (body included) when ready is emitted.
    connect(m_pRequest, &HttpServerRequest::ready, this, &Worker::onHttpRequest);
    connect(m_pRequest, &HttpServerRequest::upgrade, this, &Worker::onWebsocketConnect);
    connect(m_pRequest, &HttpServerRequest::close, this, &Worker::onClose);
    connect(pSocket, &QTcpSocket::disconnected, m_pRequest, &QObject::deleteLater);
    connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
}

void Worker::onHttpRequest() {
    if (m_bClosed || !m_pRequest) return;
    m_iType.store(HttpConnection, std::memory_order_release);
    HttpServerRequest* pRequest = m_pRequest;

    auto* pResponse = new HttpServerResponse(pRequest->socket(), pRequest->responseOptions(), this);
    connect(pRequest->socket(), &QTcpSocket::disconnected, pResponse, &QObject::deleteLater);
    connect(pResponse, &HttpServerResponse::finished, pResponse, &QObject::deleteLater);
    connect(pResponse, &HttpServerResponse::finished, pRequest, &HttpServerRequest::resume);

    if (pRequest->header("Expect").trimmed().compare("100-continue", Qt::CaseInsensitive) == 0) {
        pResponse->writeContinue();
    }
    pResponse->writeHead(200);

    const QByteArray baBody = pRequest->readBody();
    pRequest->setTimeout(kIdleCloseAfterAnswerMs);
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
    const QJsonDocument document = QJsonDocument::fromJson(baBody);
    const QString strCmd = document.object().value(QStringLiteral("cmd")).toString();
    if (strCmd == QLatin1String("system.webconnect")) {
        emit httpConnect(m_strUuid);
    } else if (strCmd == QLatin1String("system.get")) {
        emit httpGet(m_strUuid, baBody);
    } else if (strCmd == QLatin1String("system.disconnect")) {
        emit httpDisconnect(m_strUuid, baBody);
    } else {
        emit receiveHttpMessage(m_strUuid, baBody);
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
        if (strText.isEmpty()) qDebug() << "image request decodes to nothing:" << strPacket;
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
    if (m_bImageAnswer) {
        pResponse->insertHeader("Content-Type", "image/bmp");
        pResponse->insertHeader("Access-Control-Allow-Origin", "*");
        pResponse->end(ImageUtil::buildImgData(baAnswer.constData()));
        return;
    }
    pResponse->insertHeader("Content-Type", "text/html");
    pResponse->insertHeader("Access-Control-Allow-Origin", "*");
    pResponse->end(baAnswer);
}

void Worker::drop() {
    if (!m_pResponse) return;
    m_pResponse = nullptr;
    if (m_pSocket) m_pSocket->disconnectFromHost();
}

void Worker::onWebsocketConnect() {
    if (m_bClosed || !m_pRequest) return;
    m_iType.store(WebSocketConnection, std::memory_order_release);
    // The socket now belongs to the WebSocket.
    disconnect(m_pSocket, nullptr, m_pRequest, nullptr);
    disconnect(m_pSocket, &QTcpSocket::disconnected, m_pSocket, &QObject::deleteLater);
    disconnect(m_pRequest, nullptr, this, nullptr);

    auto* pWebSocket = new WebSocket(this);
    pWebSocket->setMessagesType(WebSocket::TextMessage);
    connect(pWebSocket, &WebSocket::newMessage, this, &Worker::onNewMessage);
    // The emitting (main) thread waits until the frame is written.
    connect(this, &Worker::sendMessage, pWebSocket, &WebSocket::sendMessage, Qt::BlockingQueuedConnection);
    connect(pWebSocket, &WebSocket::disconnected, this, &Worker::onClose);
    connect(pWebSocket, &WebSocket::disconnected, pWebSocket, &QObject::deleteLater);
    pWebSocket->startServerHandshake(m_pRequest);
    m_pRequest->deleteLater();
}

void Worker::onNewMessage(QByteArray msg) {
    emit receiveWebsocketMessage(msg, m_strUuid);
}

void Worker::onClose() {
    if (m_bClosed) return;
    m_bClosed = true;
    m_pResponse = nullptr;
    emit connectionClose(m_iType.load(std::memory_order_acquire), m_strUuid);
}
