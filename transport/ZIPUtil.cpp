#include "ZIPUtil.h"

#include <zlib.h>

#include <climits>

namespace ZIPUtil {

int zdecompress(const unsigned char* pSource, unsigned long ulSourceLen, unsigned char* pDest,
                unsigned long* pulDestLen) {
    if (pulDestLen == nullptr) return -1;
    const unsigned long ulCapacity = *pulDestLen;
    *pulDestLen = 0;
    if ((pSource == nullptr && ulSourceLen > 0) || (pDest == nullptr && ulCapacity > 0)) return -1;
    // zlib counts in 32-bit units; nothing the channel handles comes near.
    if (ulSourceLen > UINT_MAX || ulCapacity > UINT_MAX) return -1;

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return -1;

    int iResult = 0;
    if (ulSourceLen > 0 && ulCapacity > 0) {
        stream.next_in = const_cast<Bytef*>(pSource);
        stream.avail_in = static_cast<uInt>(ulSourceLen);
        stream.next_out = pDest;
        stream.avail_out = static_cast<uInt>(ulCapacity);
        // One call takes everything: it returns at the stream end, when the
        // output is full or when the input is used up. Output produced before
        // a fault is counted in total_out.
        const int iInflate = inflate(&stream, Z_NO_FLUSH);
        if (iInflate != Z_OK && iInflate != Z_STREAM_END) iResult = -1;
    }
    *pulDestLen = stream.total_out;
    if (inflateEnd(&stream) != Z_OK) iResult = -1;
    return iResult;
}

int zdecompressInto(const unsigned char* pSource, unsigned long ulSourceLen, QByteArray* pOut, int iMaxBytes) {
    if (pOut == nullptr) return -1;
    pOut->clear();
    if ((pSource == nullptr && ulSourceLen > 0) || iMaxBytes < 0 || ulSourceLen > UINT_MAX) return -1;

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return -1;
    stream.next_in = const_cast<Bytef*>(pSource);
    stream.avail_in = static_cast<uInt>(ulSourceLen);

    // Start near what the input suggests (text rarely inflates more than
    // fourfold) and grow by doubling.
    const qint64 iFirstChunk = qMax<qint64>(64 * 1024, 4 * static_cast<qint64>(ulSourceLen));
    int iResult = 0;
    int iProduced = 0;
    while (stream.avail_in > 0 && iProduced < iMaxBytes) {
        if (iProduced == pOut->size()) {
            const qint64 iGrown = qMax<qint64>(iFirstChunk, 2 * static_cast<qint64>(pOut->size()));
            pOut->resize(static_cast<int>(qMin<qint64>(iGrown, iMaxBytes)));
        }
        stream.next_out = reinterpret_cast<Bytef*>(pOut->data() + iProduced);
        stream.avail_out = static_cast<uInt>(pOut->size() - iProduced);
        const int iInflate = inflate(&stream, Z_NO_FLUSH);
        iProduced = static_cast<int>(stream.total_out);
        if (iInflate == Z_STREAM_END) break;
        if (iInflate != Z_OK) {
            iResult = -1;
            break;
        }
    }
    pOut->resize(iProduced);
    if (inflateEnd(&stream) != Z_OK) iResult = -1;
    return iResult;
}

}  // namespace ZIPUtil
