#ifndef TRANSPORT_WEBSERVER_H
#define TRANSPORT_WEBSERVER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class MessageDispatch;
class QThread;
class Worker;

// The listening side of the local transport: picks the first free port of a
// range, gives every accepted connection a Worker on a thread of its own, and
// decides on the main thread which connection waits for which answer, which
// HTTP poll is pending, which events wait for which client and when an idle
// HTTP client counts as gone.
class WebServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kDefaultPollTimeoutMs = 15000;
    static constexpr int kDefaultIdleTimeoutMs = 60000;

    explicit WebServer(QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on all local addresses at the first port of [iFirst, iEnd) on
    // which nothing answers a connect from 127.0.0.1 within 100 ms. Silent
    // when every port answers.
    void listenInRange(int iFirst, int iEnd);

    MessageDispatch* dispatcher() const { return m_pDispatch; }

    // How long a "system.get" waits, and how long a client whose poll timed
    // out may stay away before it is given up.
    void setPollTimeoutMs(int iMs) { m_iPollTimeoutMs = iMs; }
    void setIdleTimeoutMs(int iMs) { m_iIdleTimeoutMs = iMs; }

    // Events kept for HTTP clients, oldest first.
    QStringList queuedEvents() const { return m_listEvents; }
    // True while a "system.get" of this client waits.
    bool hasPendingPoll(const QString& strUuid) const { return m_mapPendingPolls.contains(strUuid); }

    void replyWebConnect(QString uuid);
    void completePoll(QString uuid, bool armIdleTimer);

public slots:
    void onWebsocketMessage(QByteArray strMessage, QString szUUID);
    void onHttpConnect(QString szUUID);
    void onHttpDisconnect(QString szUUID, QByteArray strMessage);
    void onHttpGet(QString szUUID, QByteArray strMessage);
    void onHTTPMessage(QString szUUID, QByteArray strMessage);
    void onConnectClose(int iType, QString strUUID);
    void onHTTPImgMutiPackageMessage(QString strUUID);
    void onHTTPImgMessageDetect(QString strUUID);
    void onMessageResponse(QString strUUID, QString message);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QThread* startThread();
    void prepareSpareThread();
    // First worker registered under the key, or null.
    Worker* registered(const QString& strKey) const;
    void registerWorker(const QString& strKey, Worker* pWorker);
    void unregisterWorker(const QString& strKey, Worker* pWorker);
    void unregisterFirst(const QString& strKey);
    // A request on a kept-alive connection whose entry went away with the
    // previous answer is registered again under its connection id.
    void registerAgain(const QString& szUUID);
    void answer(Worker* pWorker, const QByteArray& baAnswer);
    void startIdleTimer(const QString& strUuid);
    void removeEventsMentioning(const QString& strUuid);

    // Connections waiting for an answer (HTTP) or holding a WebSocket, in
    // arrival order per key.
    QMap<QString, QList<Worker*>> m_mapConnections;
    QMap<QString, Worker*> m_mapPendingPolls;
    QMap<QString, int> m_mapIdleTimers;
    QStringList m_listEvents;
    MessageDispatch* m_pDispatch;
    QPointer<QThread> m_pSpareThread;
    int m_iPollTimeoutMs = kDefaultPollTimeoutMs;
    int m_iIdleTimeoutMs = kDefaultIdleTimeoutMs;
};

#endif  // TRANSPORT_WEBSERVER_H
