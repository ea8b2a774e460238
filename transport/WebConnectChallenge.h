// The port-detection handshake: the service proves it is itself by
// recomputing a page's login id from its user, challenge, iterations and
// random number.
#ifndef TRANSPORT_WEBCONNECTCHALLENGE_H
#define TRANSPORT_WEBCONNECTCHALLENGE_H

#include <QByteArray>

#include <cstddef>

// Returns 0 when strLoginId is the lowercase hex HMAC-SHA-256 of the request
// line under the hex SHA-256 of the key material, -1 otherwise. strUser must
// already be percent-decoded.
int checkWebConnectChallenge(const QByteArray& strLoginId, const QByteArray& strUser, const QByteArray& strChallenge,
                             int iIterations, int iRandom);

// The longest request line and key material the check builds; longer inputs
// fail the check.
constexpr int kMaxChallengeRequestLine = 127;
constexpr int kMaxChallengeKeyMaterial = 1023;

// Writes the SHA-256 digest of iLength bytes at pData into szOut as 64
// lowercase hexadecimal characters and a terminating zero (65 bytes).
void sha256ToText(const unsigned char* pData, size_t iLength, char* szOut);

// HMAC-SHA-256 of the message under the key into the 32 bytes at pOut.
void hmacSha256(const unsigned char* pKey, size_t iKeyLength, const unsigned char* pMessage, size_t iMessageLength,
                unsigned char* pOut);

#endif  // TRANSPORT_WEBCONNECTCHALLENGE_H
