#include "ImageUtil.h"

#include "Base64.h"
#include "ZIPUtil.h"

#include <QDebug>
#include <QFile>

#include <climits>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ImageUtil {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;
constexpr int kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr int kRowBytes = 12;  // 4 pixels of 3 bytes, no padding needed
constexpr int kWidthPixels = 4;

const char kAnswerFile[] = "res.bmp";

void putLe16(char* p, int iValue) {
    p[0] = static_cast<char>(iValue & 0xff);
    p[1] = static_cast<char>((iValue >> 8) & 0xff);
}

void putLe32(char* p, quint32 uValue) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((uValue >> (8 * i)) & 0xff);
}

// Opens the answer copy for writing, readable by the user alone from its
// first byte on: answers may hold decrypted texts. A copy that others could
// read (left by an older version) is replaced, so that a descriptor opened
// on it before learns nothing new.
bool openPrivately(QFile& file) {
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(kAnswerFile, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 077)) ::unlink(kAnswerFile);
    const int iFd = ::open(kAnswerFile, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (iFd < 0) return false;
    if (::fchmod(iFd, 0600) != 0 || !file.open(iFd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        ::close(iFd);
        return false;
    }
    return true;
#else
    return file.open(QIODevice::ReadWrite);
#endif
}

}  // namespace

unsigned char decimalLowByte(const char* p, const char* pEnd) {
    while (p < pEnd && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        ++p;
    }
    // Magnitudes up to LONG_MAX + 1 (the size of LONG_MIN) are exact.
    const unsigned long long uLimit = static_cast<unsigned long long>(LONG_MAX) + 1u;
    unsigned long long uValue = 0;
    bool bClamped = false;
    for (; p < pEnd && *p >= '0' && *p <= '9'; ++p) {
        if (!bClamped) {
            uValue = uValue * 10u + static_cast<unsigned>(*p - '0');
            if (uValue > uLimit) bClamped = true;
        }
    }
    if (bClamped || (!bNegative && uValue == uLimit)) return bNegative ? 0x00 : 0xff;  // LONG_MIN, LONG_MAX
    return static_cast<unsigned char>((bNegative ? 0u - uValue : uValue) & 0xffu);
}

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
    QFile file(QString::fromLatin1(kAnswerFile));
    // Overwritten in place and then cut to length rather than truncated to
    // zero first: some file systems flush a file to disk when it is
    // truncated to zero and rewritten, which costs more than the answer.
    if (!openPrivately(file)) {
        qDebug().noquote() << "file can not open!";
        return QByteArray();
    }
    if (file.write(image) != image.size() || !file.resize(image.size())) {
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

    // Base64 first. The decoded text must stay shorter than kMaxPacketBytes;
    // the buffer is only as large as this packet can need (every four
    // characters give at most three bytes).
    QByteArray compressed;
    {
        const int iCapacity =
            static_cast<int>(qMin<qint64>(kMaxPacketBytes - 1, static_cast<qint64>(packet.size()) / 4 * 3 + 3));
        QByteArray decoded(iCapacity, Qt::Uninitialized);
        // Straight from the UTF-16 text: characters outside the Base64
        // alphabet are skipped either way, so this equals decoding its UTF-8.
        const int iDecoded = private_encrypt_space::CBase64::Decode(reinterpret_cast<unsigned char*>(decoded.data()),
                                                                    reinterpret_cast<const char16_t*>(packet.utf16()),
                                                                    packet.size(), iCapacity);
        if (iDecoded < 0) {
            qDebug().noquote() << "image packet refused: decoded text reaches" << kMaxPacketBytes << "bytes";
            return refuse();
        }
        // The decoded text ends at its first zero byte.
        const char* pText = decoded.constData();
        const char* pZero = static_cast<const char*>(std::memchr(pText, '\0', static_cast<size_t>(iDecoded)));
        const char* pEnd = pZero != nullptr ? pZero : pText + iDecoded;
        if (pEnd == pText) return QString();  // nothing to inflate

        // Decimal byte values joined by ","; each keeps its low 8 bits. A
        // piece is read like atoi reads it: blanks, a sign, digits, and
        // anything after that up to the "," is ignored.
        // One value per "," plus one; values may be empty (",,").
        compressed.resize(static_cast<int>(pEnd - pText) + 1);
        char* pOut = compressed.data();
        const char* p = pText;
        for (;;) {
            const char* pComma = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(pEnd - p)));
            const char* pPieceEnd = pComma != nullptr ? pComma : pEnd;
            *pOut++ = static_cast<char>(decimalLowByte(p, pPieceEnd));
            if (pComma == nullptr) break;
            p = pComma + 1;
        }
        compressed.resize(static_cast<int>(pOut - compressed.constData()));
    }

    // Inflate; a fault keeps what was produced so far.
    QByteArray json;
    const int iInflate = ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(compressed.constData()),
                                              static_cast<unsigned long>(compressed.size()), &json, kMaxPacketBytes);
    if (json.size() >= kMaxPacketBytes) {
        qDebug().noquote() << "image packet refused: inflated JSON reaches" << kMaxPacketBytes << "bytes";
        return refuse();
    }
    if (iInflate != 0) qDebug().noquote() << "image packet: zlib data corrupt after" << json.size() << "bytes";

    // The output up to its first zero, as UTF-8.
    const int iZero = json.indexOf('\0');
    return QString::fromUtf8(json.constData(), iZero < 0 ? json.size() : iZero);
}

}  // namespace ImageUtil
