// zlib helpers of the image channel.
#ifndef TRANSPORT_ZIPUTIL_H
#define TRANSPORT_ZIPUTIL_H

#include <QByteArray>

namespace ZIPUtil {

// Inflates a zlib-wrapped stream (RFC 1950). *pulDestLen holds the capacity of
// pDest on entry and the number of bytes produced on return. Inflation stops
// at the end of the stream, when the capacity is full or when the source is
// used up; a source that ends early is not an error (the output so far is the
// result). Returns 0 on success, -1 on corrupt data; on failure *pulDestLen
// still tells how many bytes were produced before the fault.
int zdecompress(const unsigned char* pSource, unsigned long ulSourceLen, unsigned char* pDest,
                unsigned long* pulDestLen);

// The same inflation into a buffer that grows as output arrives, up to
// iMaxBytes: *pOut holds everything produced (iMaxBytes bytes when the stream
// had at least that much). Returns 0 on success, -1 on corrupt data.
int zdecompressInto(const unsigned char* pSource, unsigned long ulSourceLen, QByteArray* pOut, int iMaxBytes);

}  // namespace ZIPUtil

#endif  // TRANSPORT_ZIPUTIL_H
