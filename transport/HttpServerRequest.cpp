#include "HttpServerRequest.h"

#include <QTcpSocket>
#include <QTimer>

#include <http_parser.h>

namespace {
// Bytes a client may queue behind a request that is still being answered.
constexpr qint64 kMaxBufferedWhileBusy = HTTP_MAX_HEADER_SIZE + HttpServerRequest::kMaxBodyBytes;

bool equalsNoCase(const QByteArray& a, const QByteArray& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}
}  // namespace

// The parser's callbacks; parser->data points at the request.
struct HttpParserCallbacks {
    static HttpServerRequest* self(http_parser* p) { return static_cast<HttpServerRequest*>(p->data); }

    static int onUrl(http_parser* p, const char* at, size_t length) {
        self(p)->m_baUrl.append(at, static_cast<int>(length));
        return 0;
    }
    static int onHeaderField(http_parser* p, const char* at, size_t length) {
        HttpServerRequest* r = self(p);
        if (r->m_bLastWasValue || r->m_headers.isEmpty()) r->m_headers.append({QByteArray(), QByteArray()});
        r->m_headers.last().first.append(at, static_cast<int>(length));
        r->m_bLastWasValue = false;
        return 0;
    }
    static int onHeaderValue(http_parser* p, const char* at, size_t length) {
        HttpServerRequest* r = self(p);
        if (r->m_headers.isEmpty()) return 1;
        r->m_headers.last().second.append(at, static_cast<int>(length));
        r->m_bLastWasValue = true;
        return 0;
    }
    static int onHeadersComplete(http_parser* p) {
        HttpServerRequest* r = self(p);
        r->m_bHeadersComplete = true;
        r->m_baMethod = http_method_str(static_cast<http_method>(p->method));
        r->m_options.bHttp10 = p->http_major == 1 && p->http_minor == 0;
        r->m_options.bKeepAlive = http_should_keep_alive(p) != 0;
        if (p->upgrade) {
            // "h2c" and other protocols set the flag too: only a WebSocket
            // upgrade leaves HTTP; anything else is served as a plain request.
            if (p->method != HTTP_CONNECT && equalsNoCase(r->header("Upgrade").trimmed(), "websocket")) {
                r->m_bWebSocketUpgrade = true;
            } else {
                p->upgrade = 0;
            }
        }
        if (!r->m_bWebSocketUpgrade && p->content_length != ULLONG_MAX &&
            p->content_length > static_cast<uint64_t>(HttpServerRequest::kMaxBodyBytes)) {
            r->m_bTooLarge = true;
            return -1;
        }
        return 0;
    }
    static int onBody(http_parser* p, const char* at, size_t length) {
        HttpServerRequest* r = self(p);
        if (static_cast<size_t>(r->m_baBody.size()) + length > static_cast<size_t>(HttpServerRequest::kMaxBodyBytes)) {
            r->m_bTooLarge = true;
            return -1;
        }
        r->m_baBody.append(at, static_cast<int>(length));
        return 0;
    }
    static int onMessageComplete(http_parser* p) {
        self(p)->m_bMessageComplete = true;
        // One message at a time: the next one is parsed after the answer.
        http_parser_pause(p, 1);
        return 0;
    }

    static const http_parser_settings& settings() {
        static const http_parser_settings s = [] {
            http_parser_settings t;
            http_parser_settings_init(&t);
            t.on_url = onUrl;
            t.on_header_field = onHeaderField;
            t.on_header_value = onHeaderValue;
            t.on_headers_complete = onHeadersComplete;
            t.on_body = onBody;
            t.on_message_complete = onMessageComplete;
            return t;
        }();
        return s;
    }
};

quint64 HttpServerRequest::s_iParsedBytes = 0;

HttpServerRequest::HttpServerRequest(QTcpSocket* pSocket, QObject* parent, int iHandshakeDeadlineMs)
    : QObject(parent), m_pSocket(pSocket), m_pTimer(new QTimer(this)), m_pParser(std::make_unique<http_parser>()) {
    m_pTimer->setSingleShot(true);
    connect(m_pTimer, &QTimer::timeout, this, &HttpServerRequest::onTimeout);
    connect(m_pSocket, &QTcpSocket::readyRead, this, &HttpServerRequest::onReadyRead);
    connect(m_pSocket, &QTcpSocket::bytesWritten, this, &HttpServerRequest::onBytesWritten);
    connect(m_pSocket, &QTcpSocket::disconnected, this, &HttpServerRequest::onDisconnected);
    resetMessage();
    startIdleClock(iHandshakeDeadlineMs);
    // Bytes that arrived before this object existed get no readyRead.
    if (m_pSocket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &HttpServerRequest::onReadyRead, Qt::QueuedConnection);
}

HttpServerRequest::~HttpServerRequest() = default;

QUrl HttpServerRequest::url() const {
    return QUrl(QString::fromUtf8(m_baUrl));
}

QByteArray HttpServerRequest::header(const QByteArray& baName) const {
    for (const auto& header : m_headers) {
        if (equalsNoCase(header.first, baName)) return header.second;
    }
    return QByteArray();
}

void HttpServerRequest::detach() {
    m_bDetached = true;
    m_pTimer->stop();
    disconnect(m_pSocket, nullptr, this, nullptr);
}

void HttpServerRequest::resetMessage() {
    http_parser_init(m_pParser.get(), HTTP_REQUEST);
    m_pParser->data = this;
    m_baMethod.clear();
    m_baUrl.clear();
    m_headers.clear();
    m_baBody.clear();
    m_options = HttpResponseOptions();
    m_bLastWasValue = false;
    m_bHeadersComplete = false;
    m_bMessageComplete = false;
    m_bWebSocketUpgrade = false;
    m_bTooLarge = false;
    m_iHeadParsed = 0;
}

bool HttpServerRequest::parse(const QByteArray& baData, size_t* pParsed) {
    s_iParsedBytes += static_cast<quint64>(baData.size());
    *pParsed = http_parser_execute(m_pParser.get(), &HttpParserCallbacks::settings(), baData.constData(),
                                   static_cast<size_t>(baData.size()));
    const http_errno err = HTTP_PARSER_ERRNO(m_pParser.get());
    return err == HPE_OK || err == HPE_PAUSED;
}

void HttpServerRequest::startIdleClock(int iMs) {
    if (!m_bDetached && !m_bClosed) m_pTimer->start(iMs);
}

void HttpServerRequest::resume() {
    if (!m_bBusy || m_bDetached) return;
    m_bBusy = false;
    m_bStarted = false;
    resetMessage();
    startIdleClock(kKeepAliveIdleMs);
    // Pipelined requests may already sit in the buffer; they bring no new
    // readyRead. (Not read from here: the answer is still being ended.)
    if (m_pSocket->bytesAvailable() > 0) {
        QMetaObject::invokeMethod(this, &HttpServerRequest::onReadyRead, Qt::QueuedConnection);
    }
}

void HttpServerRequest::fail() {
    // A malformed or oversized request: drop the connection.
    m_pTimer->stop();
    m_pSocket->abort();
    onDisconnected();
}

void HttpServerRequest::onReadyRead() {
    if (m_bDetached || m_bClosed) return;
    if (m_bBusy) {
        if (m_pSocket->bytesAvailable() > kMaxBufferedWhileBusy) fail();
        return;
    }
    // A client that does not read its answers gets no more of them.
    m_bWaitingForOutput = m_pSocket->bytesToWrite() > kMaxUnreadAnswerBytes;
    if (m_bWaitingForOutput) return;
    if (!m_bStarted && m_pSocket->bytesAvailable() > 0) {
        m_bStarted = true;
        // The first request's headers keep the handshake's deadline.
        if (!m_bHandshaking) m_pTimer->start(kRequestDeadlineMs);
    }
    while (!m_bBusy && !m_bClosed && m_pSocket->bytesAvailable() > 0) {
        size_t nParsed = 0;
        if (!m_bHeadersComplete) {
            // Unfinished headers are read inside a transaction, so that they
            // stay in the socket, and each byte is parsed once: the parser
            // goes on where it stopped.
            if (!m_pSocket->isTransactionStarted()) m_pSocket->startTransaction();
            if (!parse(m_pSocket->read(m_pSocket->bytesAvailable()), &nParsed)) return fail();
            m_iHeadParsed += static_cast<qint64>(nParsed);
            if (!m_bHeadersComplete) {
                // http_parser refuses headers over its limit by itself; the
                // deadline keeps running while the headers trickle in.
                return;
            }
            m_pSocket->rollbackTransaction();
            if (m_bHandshaking) {
                m_bHandshaking = false;
                if (!m_bMessageComplete) m_pTimer->start(kRequestDeadlineMs);
                emit handshakeDone();
                if (m_bClosed || m_bDetached) return;
            }
            if (m_bWebSocketUpgrade) {
                // The upgrade's bytes stay in the socket for the WebSocket.
                detach();
                emit upgrade();
                return;
            }
            m_pSocket->skip(m_iHeadParsed);
            if (!m_bMessageComplete && !m_options.bHttp10 && equalsNoCase(header("Expect").trimmed(), "100-continue")) {
                // The client waits for this before it sends the body.
                m_options.bContinueSent = true;
                m_pSocket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
        } else {
            if (!parse(m_pSocket->peek(m_pSocket->bytesAvailable()), &nParsed)) return fail();
            m_pSocket->skip(static_cast<qint64>(nParsed));
        }
        if (m_bMessageComplete) {
            m_bBusy = true;
            m_pTimer->stop();
            emit ready();
            return;
        }
    }
}

void HttpServerRequest::onBytesWritten() {
    if (m_bWaitingForOutput && m_pSocket->bytesToWrite() <= kMaxUnreadAnswerBytes) onReadyRead();
}

void HttpServerRequest::onDisconnected() {
    if (m_bClosed || m_bDetached) return;
    m_bClosed = true;
    m_pTimer->stop();
    emit close();
}

void HttpServerRequest::onTimeout() {
    if (m_bBusy || m_bDetached || m_bClosed) return;
    m_pSocket->disconnectFromHost();
    if (m_pSocket->state() == QAbstractSocket::UnconnectedState) onDisconnected();
}
