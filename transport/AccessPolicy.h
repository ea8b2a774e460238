// Who may talk to the service: the addresses it listens on, the Host names a
// request may carry (a defence against DNS rebinding), the page a request
// comes from, plus the answer to CORS preflights.
#ifndef TRANSPORT_ACCESSPOLICY_H
#define TRANSPORT_ACCESSPOLICY_H

#include <QByteArray>
#include <QList>

class HttpServerRequest;
class OriginTrust;

// The sender of a request, told by its headers alone.
struct RequestOrigin {
    enum Kind {
        // No "Origin" and no "Sec-Fetch-*": a program of the user's own, not
        // a browser page.
        LocalProgram,
        // A page; baOrigin is its origin ("https://portal.example").
        Page,
        // A browser request that names no page ("Sec-Fetch-*" without an
        // "Origin" or a usable "Referer").
        Unattributed,
    };
    Kind kind = LocalProgram;
    QByteArray baOrigin;
    bool bFromReferer = false;  // baOrigin was read from the "Referer"
};

struct AccessPolicy {
    // Longest origin taken from a request; a longer one is refused.
    static constexpr int kMaxOriginBytes = 200;

    // Listen on every address (and accept any Host) instead of loopback only.
    bool bListenAny = false;
    // Origins the administrator allows ("AllowedOrigins").
    QList<QByteArray> allowedOrigins;
    // Decides which page origins are served (allowedOrigins among them); not
    // owned, must outlive every worker. Null: every origin is served.
    OriginTrust* pTrust = nullptr;

    // "Host ..." when the request names a Host it must not, else empty.
    QByteArray hostRefusal(const HttpServerRequest& request) const;

    // The value of "Access-Control-Allow-Origin" for an allowed request:
    // the request's own Origin when origins are checked, else "*".
    QByteArray allowOrigin(const HttpServerRequest& request) const;
    // Whether answers depend on the Origin ("Vary: Origin").
    bool variesByOrigin() const;

    // The page a request comes from: its "Origin"; without one, for a
    // request the browser marks as a page's ("Sec-Fetch-Site" "cross-site"
    // or "same-site", or any "Sec-Fetch-Mode"), the origin of its "Referer".
    static RequestOrigin attribute(const HttpServerRequest& request);
    // "scheme://host[:port]" of an http or https URL (a default port left
    // out, as browsers write origins); empty for anything else.
    static QByteArray originOfUrl(const QByteArray& baUrl);

    // True for "localhost", 127.x.x.x and [::1], with or without a port.
    static bool isLoopbackHost(const QByteArray& baHost);
};

#endif  // TRANSPORT_ACCESSPOLICY_H
