// The image channel: pages without WebSocket send a request as URL pieces and
// read each answer out of the pixels of a small BMP image. The web server's
// thread only: buildImgData rewrites one copy file ("res.bmp") each time.
#ifndef TRANSPORT_IMAGEUTIL_H
#define TRANSPORT_IMAGEUTIL_H

#include <QByteArray>
#include <QString>

namespace ImageUtil {

// Texts (decoded packet, inflated JSON) must stay below this many bytes.
constexpr int kMaxPacketBytes = 2 * 1024 * 1024;

// Decodes an assembled request: Base64 of the decimal, comma-separated bytes
// of a zlib stream of the JSON. Returns the JSON text, or the empty text on
// any failure (over-long input included).
QString getImgData(const QString& packet);

// The same; *pbWithinBounds (if given) is false when the packet was refused
// because its decoded text or its inflated JSON reached kMaxPacketBytes. A
// packet that is merely corrupt stays within bounds and decodes to what could
// be inflated (often nothing).
QString getImgData(const QString& packet, bool* pbWithinBounds);

// One value of the decimal-comma text in [p, pEnd) as a byte: read as atoi
// reads it (leading blanks, a sign, digits; anything after them is ignored;
// no digits give 0; values beyond the long range stick at its ends, as glibc
// does) and cut to its low 8 bits.
unsigned char decimalLowByte(const char* p, const char* pEnd);

// Encodes an answer text (up to its first zero byte) as a 4-pixel-wide 24-bit
// BMP. Empty for a null text. Also leaves a copy in "res.bmp" in the working
// directory.
QByteArray buildImgData(const char* text);

// The image bytes alone, without touching "res.bmp".
QByteArray encodeImage(const char* text);

}  // namespace ImageUtil

#endif  // TRANSPORT_IMAGEUTIL_H
