// The page's side of the image channel, for tests: how a request is packed
// into the URL, how an answer is read back out of its image, and the login
// id of the port-detection handshake.
#ifndef TESTS_IMAGEPACKETS_H
#define TESTS_IMAGEPACKETS_H

#include <QByteArray>

// One zlib stream of the bytes (empty on failure).
QByteArray zlibCompress(const QByteArray& data);

// Bytes written as decimal values joined by ",".
QByteArray decimalComma(const QByteArray& bytes);

// What a page sends for a request: Base64 of the decimal-comma zlib bytes.
QByteArray packetFor(const QByteArray& json);

// The text of an answer image as a page reads it: pixel by pixel from the
// bottom row, red, green, blue, up to the first zero. A marker text in angle
// brackets when the bytes are no such image.
QByteArray textOfImage(const QByteArray& image);

// The login id a device gives a page for these values (the hex HMAC-SHA-256
// of the request line under the hex SHA-256 of the key material), computed
// with Qt's own primitives.
QByteArray webConnectLoginId(const QByteArray& user, const QByteArray& challenge, int iIterations, int iRandom);

#endif  // TESTS_IMAGEPACKETS_H
