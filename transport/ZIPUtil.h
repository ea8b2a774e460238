// zlib helpers of the image channel.
#ifndef TRANSPORT_ZIPUTIL_H
#define TRANSPORT_ZIPUTIL_H

#include <QByteArray>

namespace ZIPUtil {

// Inflates a zlib-wrapped stream (RFC 1950) into *pOut, which grows as
// output arrives, up to iMaxBytes (then *pOut holds exactly iMaxBytes bytes).
// Inflation stops at the end of the stream, at iMaxBytes or when the source
// is used up; a source that ends early is not an error (the output so far is
// the result). Returns 0 on success, -1 on corrupt data; *pOut then still
// holds what was produced before the fault.
int zdecompress(const unsigned char* pSource, unsigned long ulSourceLen, QByteArray* pOut, int iMaxBytes);

}  // namespace ZIPUtil

#endif  // TRANSPORT_ZIPUTIL_H
