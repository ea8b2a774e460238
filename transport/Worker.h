// Serves one accepted TCP connection: HTTP requests (body form, query form,
// CORS preflights) and, after an upgrade, a WebSocket. Every request is
// parsed here once and leaves as a signal for the WebServer; answers come
// back through answer() and send().
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
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include <functional>

class HttpServerResponse;
class QWebSocket;
class WebSocket;

class Worker : public QObject {
    Q_OBJECT
public:
    enum ConnectionType { WebSocketConnection = 0, HttpConnection = 1 };

    // Largest amount of unread input a connection buffers; the socket is
    // not read further until it is taken.
    static constexpr qint64 kReadBufferBytes = 128 * 1024;

    // Takes a WebSocket opened on a path under kMediaPath (after the same
    // checks as every other request); false closes it. The socket stays the
    // connection's: it lives until its disconnected signal.
    using MediaRoute = std::function<bool(const QString& strPath, QWebSocket* pSocket)>;
    static constexpr const char* kMediaPath = "/media/";
    // Set once at start-up, before any connection is accepted.
    static void setMediaRoute(MediaRoute fnRoute);

    // pPolicy (may be null: everything allowed) must outlive the worker.
    explicit Worker(QString uuid, const AccessPolicy* pPolicy = nullptr,
                    int iHandshakeDeadlineMs = HttpServerRequest::kHandshakeDeadlineMs);
    ~Worker() override;

    // What the connection waits for in the server's client records: the
    // answers of a client (a WebSocket, or an HTTP request), a client's
    // events (its "system.get"), or nothing. Set by the server only, so that
    // a closing connection is found in its records at once.
    enum class Waiting { Nothing, Answer, Poll };
    Waiting waiting() const { return m_eWaiting; }
    // The client uuid it waits under ("" for a request without one);
    // meaningless while it waits for nothing.
    const QString& waitingClient() const { return m_strWaitingClient; }
    void setWaiting(Waiting eWaiting, const QString& strClient = QString()) {
        m_eWaiting = eWaiting;
        m_strWaitingClient = strClient;
    }

    // The "uuid" named in the body of the HTTP request being served (empty
    // when there is none or the body is not JSON).
    QString requestUuid() const { return m_strRequestUuid; }

    // The page origin of the requests admitted on this connection (empty
    // for a local program's).
    QByteArray origin() const { return m_baOrigin; }

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

    // Takes the connection (once, right after the worker is made).
    void start(qintptr socketDescriptor);
    // Sends the answer to the HTTP request this worker waits on; an answer
    // with nothing waiting for it is dropped.
    void answer(const QByteArray& baAnswer);
    // The request this worker waits on gets no answer: the connection is
    // closed instead.
    void drop();
    // Sends one text message on the WebSocket (dropped when there is none).
    void send(const QString& strText);
    // Ends the connection at once: a WebSocket with a close that gives the
    // reason, HTTP without an answer.
    void shut(const QString& strReason);

signals:
    void receiveWebsocketMessage(QByteArray msg, QString szUUID);
    void receiveHttpImgTmpMessage(QString szUUID);
    // A request in an HTTP body or image packet, parsed; its "uuid" is
    // requestUuid().
    void receiveHttpRequest(QString szUUID, QJsonObject request);
    // A body or image packet that is no JSON object: closed unanswered.
    void sigUnreadableRequest(QString szUUID);
    void httpConnect(QString szUUID);
    void httpGet(QString szUUID);
    void receiveHttpImgDetectMessage(QString szUUID);
    void connectionClose(int iType, QString szUUID);
    void httpDisconnect(QString szUUID);
    // The handshake is over (not emitted when the connection closes in it).
    void sigHandshakeDone(QString szUUID);

public slots:
    void onHttpRequest();
    void onWebsocketConnect();
    void onNewMessage(QByteArray msg);
    void onClose();

private:
    // Whether the policy lets the request through now. A refused request is
    // answered (403, or 503 when too many wait for the user) and closed; a
    // request of an origin the user is being asked about waits, and fnServe
    // runs again once the answer is in.
    bool admitted(HttpServerRequest* pRequest, void (Worker::*fnServe)());
    void refuse(HttpServerRequest* pRequest, int iStatus, const QByteArray& baReason);
    void answerPreflight(HttpServerRequest* pRequest, HttpServerResponse* pResponse);
    void dispatchBody(const QByteArray& baBody);
    void serveQueryForm(const QString& strQuery);
    // Ends the response with the body, releases it and goes on with the
    // next request.
    void finish(HttpServerResponse* pResponse, const QByteArray& baBody);

    const QString m_strUuid;
    const AccessPolicy* m_pPolicy;
    const int m_iHandshakeDeadlineMs;
    int m_iType = WebSocketConnection;
    Waiting m_eWaiting = Waiting::Nothing;
    QString m_strWaitingClient;
    QString m_strRequestUuid;

    QByteArray m_baOrigin;
    QPointer<QTcpSocket> m_pSocket;
    QPointer<WebSocket> m_pWebSocket;
    QPointer<HttpServerRequest> m_pRequest;
    QPointer<HttpServerResponse> m_pResponse;  // the answer being waited for
    QByteArray m_baAllowOrigin;                // of the request being answered
    bool m_bImageAnswer = false;
    bool m_bMediaStream = false;  // a WebSocket under kMediaPath
    bool m_bClosed = false;
    bool m_bHandshaking = true;
    QElapsedTimer m_age;
};

#endif  // TRANSPORT_WORKER_H
