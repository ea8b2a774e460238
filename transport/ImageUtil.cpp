#include "ImageUtil.h"

#include "Base64.h"
#include "ZIPUtil.h"

#include <QDebug>
#include <QFile>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace ImageUtil {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;
constexpr int kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr int kRowBytes = 12;  // 4 pixels of 3 bytes, no padding needed
constexpr int kWidthPixels = 4;

const char kAnswerFile[] = "res.bmp";

// Every connection thread writes the same file; the copy is written whole
// under this lock so the file always holds one complete image.
std::mutex g_fileMutex;

void putLe16(char* p, int iValue) {
    p[0] = static_cast<char>(iValue & 0xff);
    p[1] = static_cast<char>((iValue >> 8) & 0xff);
}

void putLe32(char* p, quint32 uValue) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((uValue >> (8 * i)) & 0xff);
}

std::unique_ptr<unsigned char[]> zeroedBuffer(size_t uSize) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[uSize]());
}

}  // namespace

QByteArray encodeImage(const char* text) {
    if (text == nullptr) return QByteArray();

    const size_t uLength = std::strlen(text);
    const size_t uRows = (uLength + kRowBytes - 1) / kRowBytes;
    // QByteArray holds at most INT_MAX bytes.
    if (uRows > static_cast<size_t>((INT_MAX - kHeaderBytes) / kRowBytes)) return QByteArray();
    const int iPixelBytes = static_cast<int>(uRows) * kRowBytes;
    const int iFileBytes = kHeaderBytes + iPixelBytes;

    QByteArray image(iFileBytes, '\0');
    char* p = image.data();
    // File header.
    p[0] = 'B';
    p[1] = 'M';
    putLe32(p + 2, static_cast<quint32>(iFileBytes));
    putLe32(p + 10, kHeaderBytes);
    // Info header; resolutions and colour counts stay 0.
    putLe32(p + 14, kInfoHeaderBytes);
    putLe32(p + 18, kWidthPixels);
    putLe32(p + 22, static_cast<quint32>(uRows));  // positive: rows bottom-up
    putLe16(p + 26, 1);                            // planes
    putLe16(p + 28, 24);                           // bits per pixel
    putLe32(p + 34, static_cast<quint32>(iPixelBytes));

    // Each group of three text bytes (a, b, c) becomes one pixel stored as
    // (c, b, a); the first text bytes land in the bottom row.
    char* pPixels = p + kHeaderBytes;
    for (size_t i = 0; i < uLength; ++i) {
        size_t uAt = i;
        switch (i % 3) {
            case 0: uAt = i + 2; break;
            case 2: uAt = i - 2; break;
            default: break;
        }
        pPixels[uAt] = text[i];
    }
    return image;
}

QByteArray buildImgData(const char* text) {
    const QByteArray image = encodeImage(text);
    if (image.isEmpty()) return image;

    // The answer itself never comes back from the file: the file is only a
    // copy of the last image, for people who look at it.
    std::lock_guard<std::mutex> locker(g_fileMutex);
    QFile file(QString::fromLatin1(kAnswerFile));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug().noquote() << "file can not open!";
        return QByteArray();
    }
    if (file.write(image) != image.size()) {
        qDebug().noquote() << "file can not open!";
        return QByteArray();
    }
    return image;
}

QString getImgData(const QString& packet) {
    return getImgData(packet, nullptr);
}

QString getImgData(const QString& packet, bool* pbWithinBounds) {
    if (pbWithinBounds != nullptr) *pbWithinBounds = true;
    auto refuse = [pbWithinBounds]() {
        if (pbWithinBounds != nullptr) *pbWithinBounds = false;
        return QString();
    };

    const QByteArray base64 = packet.toUtf8();

    // 1-2. Base64 into a zero-filled buffer; the decoded text must stay
    // shorter than kMaxPacketBytes, and its last byte stays the terminator.
    QByteArray compressed;
    {
        std::unique_ptr<unsigned char[]> pDecoded = zeroedBuffer(kMaxPacketBytes);
        if (!pDecoded) return QString();
        const int iDecoded = private_encrypt_space::CBase64::Decode(
            pDecoded.get(), base64.constData(), base64.size(), kMaxPacketBytes - 1);
        if (iDecoded < 0) {
            qDebug().noquote() << "image packet refused: decoded text reaches" << kMaxPacketBytes << "bytes";
            return refuse();
        }

        // 3. The decoded text up to its first zero is decimal byte values
        // joined by ","; each value keeps its low 8 bits.
        const char* szText = reinterpret_cast<const char*>(pDecoded.get());
        const size_t uTextLength = std::strlen(szText);
        if (uTextLength > 0) {
            compressed.reserve(static_cast<int>(uTextLength / 2 + 1));
            const char* pPiece = szText;
            for (;;) {
                // strtol stops at the "," (or at anything else that is not part
                // of a number), like atoi; errno is left aside on purpose.
                const long lValue = std::strtol(pPiece, nullptr, 10);
                compressed.append(static_cast<char>(static_cast<unsigned long>(lValue) & 0xffu));
                const char* pComma = std::strchr(pPiece, ',');
                if (pComma == nullptr) break;
                pPiece = pComma + 1;
            }
        }
    }  // 4. The first buffer is released here.

    std::unique_ptr<unsigned char[]> pJson = zeroedBuffer(kMaxPacketBytes);
    if (!pJson) return QString();

    // 5. Inflate; a fault keeps what was produced so far.
    unsigned long ulProduced = kMaxPacketBytes;
    const int iInflate = ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(compressed.constData()),
                                              static_cast<unsigned long>(compressed.size()), pJson.get(),
                                              &ulProduced);
    if (ulProduced >= static_cast<unsigned long>(kMaxPacketBytes)) {
        qDebug().noquote() << "image packet refused: inflated JSON reaches" << kMaxPacketBytes << "bytes";
        return refuse();
    }
    if (iInflate != 0) qDebug().noquote() << "image packet: zlib data corrupt after" << ulProduced << "bytes";

    // 6. The output up to its first zero, as UTF-8.
    return QString::fromUtf8(reinterpret_cast<const char*>(pJson.get()));
}

}  // namespace ImageUtil
