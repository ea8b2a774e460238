// Who may talk to the service: the addresses it listens on, the Host names a
// request may carry (a defence against DNS rebinding) and the page origins it
// serves, plus the answer to CORS preflights.
#ifndef TRANSPORT_ACCESSPOLICY_H
#define TRANSPORT_ACCESSPOLICY_H

#include <QByteArray>
#include <QList>

class HttpServerRequest;

struct AccessPolicy {
    // Listen on every address (and accept any Host) instead of loopback only.
    bool bListenAny = false;
    // Origins allowed to use the service; empty: every origin.
    QList<QByteArray> allowedOrigins;

    // Why the request must be refused ("Host ..." or "Origin ..."), empty
    // when it may be served. A request without Host or Origin is not from a
    // browser page of another site and passes.
    QByteArray refusal(const HttpServerRequest& request) const;

    // The value of "Access-Control-Allow-Origin" for an allowed request: "*"
    // without an origin list, else the request's own Origin.
    QByteArray allowOrigin(const HttpServerRequest& request) const;

    // True for "localhost", 127.x.x.x and [::1], with or without a port.
    static bool isLoopbackHost(const QByteArray& baHost);
};

#endif  // TRANSPORT_ACCESSPOLICY_H
