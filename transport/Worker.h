// Serves one accepted TCP connection: HTTP requests (body form, query form,
// CORS preflights) and, after an upgrade, a WebSocket. Everything it receives
// leaves as a signal for the WebServer; answers come back through
// postAnswer or the sendMessage signal.
//
// A connection is in its handshake from its start until the headers of its
// first request are whole (a WebSocket upgrade's included); one that is
// still in it after the handshake deadline is closed.
//
// Thread rules: a worker lives on the WebServer's thread (the main thread),
// like every object it creates. Its signals reach the server directly;
// connectionClose also reaches it queued, so that a connection that breaks
// while an answer is being written never changes the server's tables
// under its feet (only its counts change at once).
#ifndef TRANSPORT_WORKER_H
#define TRANSPORT_WORKER_H

#include "AccessPolicy.h"
#include "HttpServerRequest.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

class HttpServerResponse;
class WebSocket;

class Worker : public QObject {
    Q_OBJECT
public:
    enum ConnectionType { WebSocketConnection = 0, HttpConnection = 1 };

    // Largest amount of unread input a connection buffers; the socket is
    // not read further until it is taken.
    static constexpr qint64 kReadBufferBytes = 128 * 1024;

    // pPolicy (may be null: everything allowed) must outlive the worker.
    explicit Worker(QString uuid, const AccessPolicy* pPolicy = nullptr,
                    int iHandshakeDeadlineMs = HttpServerRequest::kHandshakeDeadlineMs);
    ~Worker() override;

    // Id of the timer that bounds the current poll.
    int pollTimerId() const { return m_iPollTimerId; }
    void setPollTimerId(int iTimerId) { m_iPollTimerId = iTimerId; }

    // The client uuid under which the server routes answers to this worker,
    // and the one whose "system.get" it carries (empty when none): kept here
    // so that a closing connection is found in the tables at once.
    QString routeKey() const { return m_strRouteKey; }
    void setRouteKey(const QString& strKey) { m_strRouteKey = strKey; }
    QString pollKey() const { return m_strPollKey; }
    void setPollKey(const QString& strKey) { m_strPollKey = strKey; }

    // The "uuid" named in the body of the HTTP request being served (empty
    // when there is none or the body is not JSON).
    QString requestUuid() const { return m_strRequestUuid; }

    // 1 once an HTTP request was served, 0 for a WebSocket.
    int connectionType() const { return m_iType; }
    bool isClosed() const { return m_bClosed; }
    bool isHandshaking() const { return m_bHandshaking && !m_bClosed; }
    // Milliseconds since the worker took its connection.
    qint64 ageMs() const { return m_age.elapsed(); }
    // Makes room: reads what already waits in the socket (a client whose
    // headers are there is not half-open) and closes the connection, at
    // once and without an answer, if it is still in its handshake then.
    // True when it closed it.
    bool giveWayInHandshake();

    // Sends the answer to the HTTP request this worker waits on; an answer
    // with nothing waiting for it is dropped.
    void postAnswer(const QByteArray& baAnswer);
    // The request this worker waits on gets no answer: the connection is
    // closed instead.
    void postDrop();

signals:
    void newConnection(qintptr socketDescriptor);
    void receiveWebsocketMessage(QByteArray msg, QString szUUID);
    void websocketConnect(QString szUUID);
    void receiveHttpImgTmpMessage(QString szUUID);
    void receiveHttpMessage(QString szUUID, QByteArray msg);
    void httpConnect(QString szUUID);
    void httpGet(QString szUUID, QByteArray msg);
    void receiveHttpImgDetectMessage(QString szUUID);
    void connectionClose(int iType, QString szUUID);
    void sendMessage(QByteArray& msg);
    void httpDisconnect(QString szUUID, QByteArray msg);
    // The handshake is over (not emitted when the connection closes in it).
    void sigHandshakeDone(QString szUUID);

public slots:
    void onHttpRequest();
    void onWebsocketConnect();
    void onNewMessage(QByteArray msg);
    void onNewConnection(qintptr socketDescriptor);
    void onClose();

private:
    // Answers 403 and closes when the policy refuses the request.
    bool refuse(HttpServerRequest* pRequest);
    void answerPreflight(HttpServerRequest* pRequest, HttpServerResponse* pResponse);
    void dispatchBody(const QByteArray& baBody);
    void serveQueryForm(const QString& strQuery);
    void answer(const QByteArray& baAnswer);
    // Ends the response with the body, releases it and goes on with the
    // next request.
    void finish(HttpServerResponse* pResponse, const QByteArray& baBody);
    void drop();

    const QString m_strUuid;
    const AccessPolicy* m_pPolicy;
    const int m_iHandshakeDeadlineMs;
    int m_iPollTimerId = 0;
    int m_iType = WebSocketConnection;
    QString m_strRouteKey;
    QString m_strPollKey;
    QString m_strRequestUuid;

    QPointer<QTcpSocket> m_pSocket;
    QPointer<HttpServerRequest> m_pRequest;
    QPointer<HttpServerResponse> m_pResponse;  // the answer being waited for
    QByteArray m_baAllowOrigin;                // of the request being answered
    bool m_bImageAnswer = false;
    bool m_bClosed = false;
    bool m_bHandshaking = true;
    QElapsedTimer m_age;
};

#endif  // TRANSPORT_WORKER_H
