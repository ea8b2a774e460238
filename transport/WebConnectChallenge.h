// The port-detection handshake: the service proves it is itself by
// recomputing a page's login id from its user, challenge, iterations and
// random number.
#ifndef TRANSPORT_WEBCONNECTCHALLENGE_H
#define TRANSPORT_WEBCONNECTCHALLENGE_H

#include <QByteArray>

// Returns 0 when strLoginId is the lowercase hex HMAC-SHA-256 of the request
// line under the hex SHA-256 of the key material, -1 otherwise. strUser must
// already be percent-decoded.
int checkWebConnectChallenge(const QByteArray& strLoginId, const QByteArray& strUser,
                             const QByteArray& strChallenge, int iIterations, int iRandom);

#endif  // TRANSPORT_WEBCONNECTCHALLENGE_H
