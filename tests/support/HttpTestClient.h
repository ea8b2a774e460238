// A page's HTTP request over a raw socket, driven by the event loop (so that
// a server in the same process keeps running): collects everything the
// server sends and notices when it closes.
#ifndef TESTS_HTTPTESTCLIENT_H
#define TESTS_HTTPTESTCLIENT_H

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

class HttpTestClient : public QObject {
    Q_OBJECT
public:
    // Connects and sends baRaw as it is.
    HttpTestClient(quint16 port, const QByteArray& baRaw, QObject* parent = nullptr);

    // A POST of baBody to "/" with the headers a page's fetch sends.
    static QByteArray post(const QByteArray& baBody, const QByteArray& baExtraHeaders = QByteArray());
    // Sends baRaw on a connection of its own and waits: the body of the
    // answer, "(closed)" when the server closed the connection without one,
    // "(none)" when nothing came in time.
    static QByteArray answer(quint16 port, const QByteArray& baRaw, int iTimeoutMs = 10000);

    void send(const QByteArray& baRaw) { m_socket.write(baRaw); }
    void abort() { m_socket.abort(); }

    QByteArray received() const { return m_baReceived; }
    bool isClosed() const { return m_bClosed; }
    // Bodies of the complete final (non-1xx) responses received so far.
    QList<QByteArray> bodies() const;
    bool hasAnswer() const { return !bodies().isEmpty(); }
    QByteArray body() const {
        const auto list = bodies();
        return list.isEmpty() ? QByteArray() : list.first();
    }
    // Header block of the first final response.
    QByteArray head() const;

private:
    QTcpSocket m_socket;
    QByteArray m_baReceived;
    bool m_bClosed = false;
};

#endif  // TESTS_HTTPTESTCLIENT_H
