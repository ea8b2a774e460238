// Fuzz target: the image channel's packet decoding. The first byte picks the
// form of the rest: as the packet text itself, or as zlib bytes that are
// first put into the decimal-comma Base64 form a page sends (so the fuzzer
// reaches the inflation with data of its own).
#include "ImageUtil.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
    if (uSize == 0) return 0;
    const QByteArray input(reinterpret_cast<const char*>(pData + 1), static_cast<int>(uSize - 1));

    QString strPacket;
    if (pData[0] & 1) {
        QByteArray decimal;
        for (int i = 0; i < input.size(); ++i) {
            if (i > 0) decimal.append(',');
            decimal.append(QByteArray::number(static_cast<uchar>(input[i])));
        }
        strPacket = QString::fromLatin1(decimal.toBase64());
    } else {
        strPacket = QString::fromLatin1(input);
    }

    bool bWithinBounds = false;
    const QString strJson = ImageUtil::getImgData(strPacket, &bWithinBounds);
    // Nothing decoded may reach the bound, and a refusal gives nothing.
    if (strJson.toUtf8().size() >= ImageUtil::kMaxPacketBytes) std::abort();
    if (!bWithinBounds && !strJson.isEmpty()) std::abort();
    return 0;
}
