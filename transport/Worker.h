// Serves one accepted TCP connection on a thread of its own: HTTP requests
// (body form and query form) and, after an upgrade, a WebSocket. Everything
// it receives leaves as a signal for the server on the main thread; answers
// come back through postAnswer or the sendMessage signal.
#ifndef TRANSPORT_WORKER_H
#define TRANSPORT_WORKER_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>

class HttpServerRequest;
class HttpServerResponse;
#include <QTcpSocket>
class WebSocket;

class Worker : public QObject {
    Q_OBJECT
public:
    enum ConnectionType { WebSocketConnection = 0, HttpConnection = 1 };

    explicit Worker(QString uuid);
    ~Worker() override;

    QString uuid() const { return m_strUuid; }

    // Id of the timer that bounds the current poll. Main thread only.
    int pollTimerId() const { return m_iPollTimerId; }
    void setPollTimerId(int iTimerId) { m_iPollTimerId = iTimerId; }

    // 1 once an HTTP request was served, 0 for a WebSocket. Any thread.
    int connectionType() const { return m_iType.load(std::memory_order_acquire); }

    // Hands over the answer to the HTTP request this worker waits on. Safe
    // from any thread: the bytes travel by value into the worker's thread,
    // which sends them as soon as it runs. An answer with nothing waiting
    // for it is dropped.
    void postAnswer(const QByteArray& baAnswer);
    // The request this worker waits on gets no answer: the connection is
    // closed instead. Safe from any thread.
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

public slots:
    void onHttpRequest();
    void onWebsocketConnect();
    void onNewMessage(QByteArray msg);
    void onNewConnection(qintptr socketDescriptor);
    void onClose();

private:
    void dispatchBody(const QByteArray& baBody);
    void serveQueryForm(const QString& strQuery);
    void answer(const QByteArray& baAnswer);
    void drop();
    void endWithImage(const QByteArray& baText);

    const QString m_strUuid;
    int m_iPollTimerId = 0;
    std::atomic<int> m_iType{WebSocketConnection};

    QPointer<QTcpSocket> m_pSocket;
    QPointer<HttpServerRequest> m_pRequest;
    QPointer<HttpServerResponse> m_pResponse;  // the answer being waited for
    bool m_bImageAnswer = false;
    bool m_bClosed = false;
};

#endif  // TRANSPORT_WORKER_H
