// The answer to one HTTP request: status, headers and body go out together
// when the answer ends.
#ifndef TRANSPORT_HTTPSERVERRESPONSE_H
#define TRANSPORT_HTTPSERVERRESPONSE_H

#include "HttpServerRequest.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>

class HttpServerResponse : public QObject {
    Q_OBJECT
public:
    HttpServerResponse(QTcpSocket* pSocket, const HttpResponseOptions& options, QObject* parent = nullptr);
    ~HttpServerResponse() override;

    // Sends the interim "100 Continue" (once; HTTP/1.1 only).
    void writeContinue();
    // Sets the status; false when the answer already ended.
    bool writeHead(int iStatus);
    // Headers sent with the answer; Content-Length and Connection are added.
    HttpHeaders& headers() { return m_headers; }
    void insertHeader(const QByteArray& baName, const QByteArray& baValue);
    // Writes the answer with this body; closes the connection afterwards
    // unless it is kept alive. False when the answer already ended.
    bool end(const QByteArray& baBody = QByteArray());

    // Sends "Connection: close" and closes after this answer.
    void closeAfterwards() { m_options.bKeepAlive = false; }

    bool isFinished() const { return m_bFinished; }

signals:
    void finished();

private:
    QPointer<QTcpSocket> m_pSocket;
    HttpResponseOptions m_options;
    HttpHeaders m_headers;
    int m_iStatus = 200;
    bool m_bFinished = false;
};

#endif  // TRANSPORT_HTTPSERVERRESPONSE_H
