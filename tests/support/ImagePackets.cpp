#include "ImagePackets.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QtEndian>

#include <zlib.h>

QByteArray zlibCompress(const QByteArray& data) {
    uLongf ulSize = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<int>(ulSize), '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &ulSize, reinterpret_cast<const Bytef*>(data.constData()),
                  static_cast<uLong>(data.size()), 9) != Z_OK)
        return QByteArray();
    out.resize(static_cast<int>(ulSize));
    return out;
}

QByteArray decimalComma(const QByteArray& bytes) {
    QByteArray text;
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0) text.append(',');
        text.append(QByteArray::number(static_cast<uchar>(bytes[i])));
    }
    return text;
}

QByteArray packetFor(const QByteArray& json) {
    return decimalComma(zlibCompress(json)).toBase64();
}

QByteArray textOfImage(const QByteArray& image) {
    if (image.size() < 54 || !image.startsWith("BM")) return "<not an image>";
    const int iRows = qFromLittleEndian<qint32>(image.constData() + 22);
    if (iRows < 0 || image.size() != 54 + 12 * iRows) return "<bad size>";
    QByteArray text;
    for (int iRow = 0; iRow < iRows; ++iRow) {
        for (int iPixel = 0; iPixel < 4; ++iPixel) {
            const char* p = image.constData() + 54 + iRow * 12 + iPixel * 3;
            for (int iChannel = 2; iChannel >= 0; --iChannel) {
                if (p[iChannel] == '\0') return text;
                text.append(p[iChannel]);
            }
        }
    }
    return text;
}

QByteArray webConnectLoginId(const QByteArray& user, const QByteArray& challenge, int iIterations, int iRandom) {
    const QByteArray key =
        QCryptographicHash::hash(user + QByteArray::number(iIterations) + challenge, QCryptographicHash::Sha256)
            .toHex();
    const QByteArray line = "GET/OKAPI/Security/sessionLogin/capabilities" + user + QByteArray::number(iRandom);
    return QMessageAuthenticationCode::hash(line, key, QCryptographicHash::Sha256).toHex();
}
