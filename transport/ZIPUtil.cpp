#include "ZIPUtil.h"

#include <zlib.h>

#include <climits>

namespace ZIPUtil {

int zdecompress(const unsigned char* pSource, unsigned long ulSourceLen, QByteArray* pOut, int iMaxBytes) {
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
