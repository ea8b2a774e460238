#include "HttpServerResponse.h"

#include <QPointer>
#include <QTcpSocket>

namespace {
QByteArray reasonPhrase(int iStatus) {
    switch (iStatus) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 403: return "Forbidden";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}
}  // namespace

HttpServerResponse::HttpServerResponse(QTcpSocket* pSocket, const HttpResponseOptions& options, QObject* parent)
    : QObject(parent), m_pSocket(pSocket), m_options(options) {}

HttpServerResponse::~HttpServerResponse() = default;

void HttpServerResponse::writeContinue() {
    if (m_bFinished || m_options.bContinueSent || m_options.bHttp10 || !m_pSocket) return;
    m_options.bContinueSent = true;
    m_pSocket->write("HTTP/1.1 100 Continue\r\n\r\n");
}

bool HttpServerResponse::writeHead(int iStatus) {
    if (m_bFinished) return false;
    m_iStatus = iStatus;
    return true;
}

void HttpServerResponse::insertHeader(const QByteArray& baName, const QByteArray& baValue) {
    for (auto& header : m_headers) {
        if (header.first.compare(baName, Qt::CaseInsensitive) == 0) {
            header.second = baValue;
            return;
        }
    }
    m_headers.append({baName, baValue});
}

bool HttpServerResponse::end(const QByteArray& baBody) {
    if (m_bFinished) return false;
    m_bFinished = true;
    QByteArray baOut;
    baOut.reserve(160 + baBody.size());
    baOut += m_options.bHttp10 ? "HTTP/1.0 " : "HTTP/1.1 ";
    baOut += QByteArray::number(m_iStatus) + ' ' + reasonPhrase(m_iStatus) + "\r\n";
    for (const auto& header : m_headers) baOut += header.first + ": " + header.second + "\r\n";
    // A 204 carries no body and no length.
    if (m_iStatus != 204) baOut += "Content-Length: " + QByteArray::number(baBody.size()) + "\r\n";
    baOut += m_options.bKeepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    baOut += baBody;
    if (m_pSocket && m_pSocket->state() == QAbstractSocket::ConnectedState) {
        m_pSocket->write(baOut);
        // Send now rather than on the next turn of the event loop.
        m_pSocket->flush();
    }
    const QPointer<QTcpSocket> pSocket = m_pSocket;
    const bool bKeepAlive = m_options.bKeepAlive;
    emit finished();
    if (pSocket && !bKeepAlive) pSocket->disconnectFromHost();
    return true;
}
