// The request side of one HTTP/1.1 connection: parses the bytes of the socket
// into requests, one at a time, and says when a request is complete, when it
// asks for a WebSocket upgrade and when the connection is gone.
#ifndef TRANSPORT_HTTPSERVERREQUEST_H
#define TRANSPORT_HTTPSERVERREQUEST_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <memory>

class QTcpSocket;
class QTimer;
struct http_parser;

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// What the response to the current request must know about it.
struct HttpResponseOptions {
    bool bHttp10 = false;        // answer as HTTP/1.0
    bool bKeepAlive = true;      // keep the connection open after the answer
    bool bContinueSent = false;  // "100 Continue" already went out
};

class HttpServerRequest : public QObject {
    Q_OBJECT
public:
    // Largest body accepted; a longer one closes the connection.
    static constexpr int kMaxBodyBytes = 2 * 1024 * 1024;
    // Time allowed for a request to arrive whole, from its first byte: a
    // deadline that further bytes do not move.
    static constexpr int kRequestDeadlineMs = 30000;
    // Time from the connection's start until the headers of its first
    // request (a WebSocket upgrade's included) must be whole: a connection
    // that is still in its handshake by then is closed.
    static constexpr int kHandshakeDeadlineMs = 5000;
    // Time a connection may stay silent between requests once an answer
    // ended (keep-alive).
    static constexpr int kKeepAliveIdleMs = 5000;
    // Answer bytes the client has not read yet above which the next
    // pipelined request waits.
    static constexpr qint64 kMaxUnreadAnswerBytes = 4 * 1024 * 1024;

    // Reads from pSocket, which must stay alive as long as this object.
    HttpServerRequest(QTcpSocket* pSocket, QObject* parent = nullptr, int iHandshakeDeadlineMs = kHandshakeDeadlineMs);
    ~HttpServerRequest() override;

    QTcpSocket* socket() const { return m_pSocket; }
    HttpResponseOptions responseOptions() const { return m_options; }

    QByteArray method() const { return m_baMethod; }
    QByteArray rawUrl() const { return m_baUrl; }
    QUrl url() const;
    const HttpHeaders& headers() const { return m_headers; }
    // First value of a header, name compared without case; empty if absent.
    QByteArray header(const QByteArray& baName) const;
    QByteArray readBody() const { return m_baBody; }

    // An OPTIONS request: a browser's CORS preflight.
    bool isPreflight() const { return m_baMethod == "OPTIONS"; }

    // Bytes handed to the HTTP parser by every request of this process
    // (main thread), for tests: each byte of a request is parsed once.
    static quint64 parsedBytes() { return s_iParsedBytes; }

    // Stops reading from the socket for good (its bytes stay untouched),
    // for a hand-over to another protocol.
    void detach();

signals:
    // The headers of the connection's first request are whole: its
    // handshake is over. Emitted once, before ready() or upgrade().
    void handshakeDone();
    // A whole request (headers and body) is here; nothing more is read
    // until resume().
    void ready();
    // The request asks for "Upgrade: websocket". Its bytes are still unread
    // in the socket.
    void upgrade();
    // The connection closed. Emitted once.
    void close();

public slots:
    // The answer to the current request ended: go on with the next one.
    void resume();

private slots:
    void onReadyRead();
    void onBytesWritten();
    void onDisconnected();
    void onTimeout();

private:
    friend struct HttpParserCallbacks;

    void resetMessage();
    // Feeds bytes to the parser; false when they are not HTTP.
    bool parse(const QByteArray& baData, size_t* pParsed);
    void fail();
    void startIdleClock(int iMs);

    QTcpSocket* m_pSocket;
    QTimer* m_pTimer;
    std::unique_ptr<http_parser> m_pParser;

    // Current message.
    QByteArray m_baMethod;
    QByteArray m_baUrl;
    HttpHeaders m_headers;
    QByteArray m_baBody;
    HttpResponseOptions m_options;
    bool m_bLastWasValue = false;
    bool m_bHeadersComplete = false;
    bool m_bMessageComplete = false;
    bool m_bWebSocketUpgrade = false;
    bool m_bTooLarge = false;

    // Bytes of the current message's unfinished headers already parsed;
    // they stay in the socket (read inside a transaction) until the
    // headers are whole, so that an upgrade leaves them to the WebSocket.
    qint64 m_iHeadParsed = 0;
    bool m_bHandshaking = true;  // the first request's headers are not whole yet
    bool m_bBusy = false;        // a complete request waits for its answer
    bool m_bStarted = false;     // bytes of the next request arrived: its deadline runs
    bool m_bWaitingForOutput = false;
    bool m_bDetached = false;
    bool m_bClosed = false;

    static quint64 s_iParsedBytes;
};

#endif  // TRANSPORT_HTTPSERVERREQUEST_H
