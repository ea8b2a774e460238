#ifndef TRANSPORT_WEBSERVER_H
#define TRANSPORT_WEBSERVER_H

#include <QTcpServer>

// The listening side of the local transport: picks the first free port of a
// range and accepts the pages' connections.
class WebServer : public QTcpServer {
    Q_OBJECT
public:
    explicit WebServer(QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on all local addresses at the first port of [iFirst, iEnd) on
    // which nothing answers a connect from 127.0.0.1 within 100 ms. Silent
    // when every port answers.
    void listenInRange(int iFirst, int iEnd);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

#endif  // TRANSPORT_WEBSERVER_H
