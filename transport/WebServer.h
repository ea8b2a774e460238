#ifndef TRANSPORT_WEBSERVER_H
#define TRANSPORT_WEBSERVER_H

#include "AccessPolicy.h"
#include "HttpServerRequest.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <deque>

class MessageDispatch;
class Worker;

// The listening side of the local transport: picks the first free port of a
// range, gives every accepted connection a Worker, and decides which
// connection waits for which answer, which HTTP poll is pending, which
// events wait for which client and when an idle HTTP client counts as gone.
//
// Thread rules: the server, its workers and their sockets all live on the
// thread that created the server (the main thread); no table is shared with
// another thread. Answers of modules that work on threads of their own
// arrive here as queued signals.
//
// Limits: at most setMaxConnections() connections at once, counted from
// their accept to the moment they end (more are closed as soon as they are
// accepted). Connections still in their handshake may hold a quarter of the
// cap (kHandshakeShareDivisor): a new connection beyond that share, or at
// the cap, first closes the oldest one still in its handshake, provided it
// has had a tenth of the handshake deadline (kHandshakeGraceDivisor, 500 ms)
// to send its headers and none wait in its socket; younger ones (a burst of
// new clients) stay. Per client uuid at most kMaxQueuedEvents
// events or kMaxQueuedEventBytes bytes wait for a poll (the oldest go
// first); the events of a client nobody polls, connects or answers for are
// dropped setClientExpiryMs() after it was last seen; the page origins of at
// most kMaxClientOrigins HTTP client uuids are kept for closeOrigin().
//
// Idle clients: an HTTP client (by its "uuid") that waits for nothing
// (no request, no poll, no WebSocket under its uuid) after an answer, be it
// a poll's or any other request's, and makes no request within
// setIdleTimeoutMs() (60 s) is given up: its window goes as for a closed
// WebSocket and its next poll answers "invalid".
//
// Answers of one client leave the modules in the order of its requests; an
// HTTP request whose connection closes before its answer came keeps its
// place, so that the answer is dropped rather than given to a later request
// of the same client.
class WebServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kDefaultPollTimeoutMs = 15000;
    static constexpr int kDefaultIdleTimeoutMs = 60000;
    static constexpr int kDefaultMaxConnections = 512;
    static constexpr int kDefaultClientExpiryMs = 5 * 60 * 1000;
    static constexpr int kMaxQueuedEvents = 1000;
    static constexpr qint64 kMaxQueuedEventBytes = 1024 * 1024;
    static constexpr int kSweepIntervalMs = 10000;
    static constexpr int kHandshakeShareDivisor = 4;
    static constexpr int kHandshakeGraceDivisor = 10;
    static constexpr int kMaxHandshakesSettled = 8;  // looked at per new connection
    static constexpr int kMaxClientOrigins = 4096;

    explicit WebServer(QObject* parent = nullptr);
    ~WebServer() override;

    // A page connected now: its origin, "websocket" or "http", and how many
    // connections it holds.
    struct PageConnection {
        QByteArray baOrigin;
        QString strTransport;
        int iConnections = 0;
    };

    // Where to listen and whom to serve; set before listenInRange. The
    // policy's OriginTrust (if any) cuts off the pages it revokes.
    void setAccessPolicy(const AccessPolicy& policy);
    void setMaxConnections(int iMax) { m_iMaxConnections = qMax(1, iMax); }
    // Time a new connection has for the headers of its first request.
    void setHandshakeDeadlineMs(int iMs) { m_iHandshakeDeadlineMs = iMs; }

    // Listens at the first port of [iFirst, iEnd) on which nothing answers a
    // connect from 127.0.0.1 within 100 ms and which can be taken: on
    // 127.0.0.1 and ::1, or on every address when the policy says so. Logs
    // why a port was passed over; silent when nothing answers.
    void listenInRange(int iFirst, int iEnd);

    MessageDispatch* dispatcher() const { return m_pDispatch; }

    // How long a "system.get" waits, and how long a client whose poll timed
    // out may stay away before it is given up.
    void setPollTimeoutMs(int iMs) { m_iPollTimeoutMs = iMs; }
    void setIdleTimeoutMs(int iMs) { m_iIdleTimeoutMs = iMs; }
    void setClientExpiryMs(int iMs) { m_iClientExpiryMs = iMs; }

    // Events kept for this client, oldest first.
    QStringList queuedEvents(const QString& strUuid) const;
    // True while a "system.get" of this client waits.
    bool hasPendingPoll(const QString& strUuid) const;
    // HTTP requests of this client in line for an answer, those given up
    // by the page while their answer is still to come included.
    int requestsWaiting(const QString& strUuid) const;
    // The pages connected now, by origin and transport.
    QList<PageConnection> pages() const;

    void replyWebConnect(QString uuid);
    void completePoll(QString uuid, bool armIdleTimer);
    // Drops expired image sequences and the events of departed clients, and
    // hands freed memory back; runs every kSweepIntervalMs.
    void sweep();
    // Accepts a connection handed over by another listener of this server.
    void acceptConnection(qintptr socketDescriptor) { incomingConnection(socketDescriptor); }

public slots:
    void onWebsocketMessage(QByteArray strMessage, QString szUUID);
    void onHttpConnect(QString szUUID);
    void onHttpDisconnect(QString szUUID);
    void onHttpGet(QString szUUID);
    void onHttpRequest(QString szUUID, QJsonObject request);
    void onUnreadableRequest(QString szUUID);
    void onConnectClose(int iType, QString strUUID);
    void onHTTPImgMutiPackageMessage(QString strUUID);
    void onHTTPImgMessageDetect(QString strUUID);
    // An answer for the client strUUID: to the request it answers.
    void onMessageResponse(QString strUUID, QString message);
    // An event for the client strUUID: to its WebSocket at once, and kept
    // for its HTTP polls.
    void onEvent(QString strUUID, QString message);
    // No answer is on its way any more for this client: HTTP requests still
    // waiting for one are closed.
    void onAnswersSettled(QString strUUID);
    // Closes every connection of the origin and the windows of its clients.
    void closeOrigin(QByteArray baOrigin);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // Polls of any client after which a given-up marker is forgotten.
    static constexpr int kGivenUpPolls = 4;

    // One place in a client's line for answers.
    struct Route {
        Worker* pWorker = nullptr;
        // An HTTP request whose connection closed before its answer came:
        // pWorker is null, and the answer is dropped when it comes.
        bool bAbandoned = false;
    };
    // Everything kept per client uuid (a WebSocket's is its connection id).
    struct Client {
        // The client's WebSocket, or its HTTP requests waiting for their
        // answers, oldest first.
        QList<Route> listRoute;
        Worker* pPoll = nullptr;  // its waiting "system.get", with its timer
        int iPollTimer = 0;
        int iIdleTimer = 0;
        // Given up for idleness: a poll before any other client polled
        // answers "invalid". Forgotten after kGivenUpPolls more polls of any
        // clients (one marker per poll, in key order).
        bool bGivenUp = false;
        int iPollsSinceGivenUp = 0;
        std::deque<QString> events;  // for its polls, oldest first
        qint64 iEventBytes = 0;
        bool bDroppingEvents = false;
        qint64 iLastSeenMs = 0;
        bool isEmpty() const { return listRoute.isEmpty() && !pPoll && !iIdleTimer && !bGivenUp && events.empty(); }
    };

    bool listenOn(quint16 port);
    void onAcceptError(QAbstractSocket::SocketError error);
    // Reached directly when a connection ends or leaves its handshake.
    void onConnectionEnded(Worker* pWorker);
    void onHandshakeDone(Worker* pWorker);
    // Arms the idle timer of a client that waits for nothing any more.
    void idleAfterAnswer(const QString& strUuid);
    Client& touch(const QString& strUuid);
    void tidy(const QString& strUuid);
    void route(const QString& strUuid, Worker* pWorker);
    // Takes the worker out of the client's line; bAbandoned keeps the
    // place of an HTTP request whose answer is still to come.
    void unroute(Worker* pWorker, bool bAbandoned = false);
    void endPoll(Client& client, const QByteArray& baAnswer);
    // Kills a poll or idle timer and forgets its client; 0 is no timer.
    void stopTimer(int iTimerId);
    int startClientTimer(const QString& strUuid, int iMs);
    void startIdleTimer(const QString& strUuid);
    void setGivenUp(Client& client, bool bGivenUp);
    void queueEvent(const QString& strUuid, const QString& strEvent);
    void clearEvents(const QString& strUuid);
    void ageGivenUpMarkers();
    // A response of a module: to the client's WebSocket, or to its oldest
    // request still waiting. Without bSend there is nothing to send: that
    // request is closed unanswered.
    void deliverResponse(const QString& strUuid, const QString& strMessage, bool bSend);
    // Notes the page origin that uses a client uuid.
    void noteOrigin(const QString& strUuid, const Worker* pWorker);

    AccessPolicy m_policy;
    int m_iMaxConnections = kDefaultMaxConnections;
    int m_iHandshakeDeadlineMs = HttpServerRequest::kHandshakeDeadlineMs;
    // Connections accepted and not ended yet.
    int m_iLiveConnections = 0;
    // Those still in their handshake, oldest first (each taken out when it
    // leaves its handshake or ends).
    QList<Worker*> m_listHandshaking;
    bool m_bRefusing = false;
    bool m_bEvicting = false;
    QPointer<QTcpServer> m_pIpv6Listener;
    // Every open connection by its connection id.
    QHash<QString, Worker*> m_connections;
    QHash<QString, Client> m_clients;
    // The page origin of each HTTP client uuid (WebSocket clients: their
    // worker's), for closing an origin's windows; until the client
    // disconnects or is given up, at most kMaxClientOrigins.
    QHash<QString, QByteArray> m_mapClientOrigin;
    // Clients with bGivenUp set.
    int m_iGivenUp = 0;
    // Index of the poll and idle timers of the client records: the client
    // each belongs to.
    QHash<int, QString> m_timerClients;
    QTimer m_sweepTimer;
    MessageDispatch* m_pDispatch;
    int m_iPollTimeoutMs = kDefaultPollTimeoutMs;
    int m_iIdleTimeoutMs = kDefaultIdleTimeoutMs;
    int m_iClientExpiryMs = kDefaultClientExpiryMs;
};

#endif  // TRANSPORT_WEBSERVER_H
