// The image channel's codecs: answer images, the Base64 reading of packets,
// and packets decoded whole, broken and at their bounds.
#include "Base64.h"
#include "ImageUtil.h"
#include "ImagePackets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

using private_encrypt_space::CBase64;

namespace {
const QByteArray kVersion = "{\"cmd\":\"window.getLocalServiceVersion\",\"sequence\":7,\"uuid\":\"u\"}";

// The 54 header bytes of an answer image with iRows rows of 4 pixels.
QByteArray bmpHeader(int iRows) {
    QByteArray header(54, '\0');
    char* p = header.data();
    const auto put = [p](int iAt, quint32 uValue, int iBytes) {
        for (int i = 0; i < iBytes; ++i) p[iAt + i] = char((uValue >> (8 * i)) & 0xff);
    };
    p[0] = 'B';
    p[1] = 'M';
    put(2, 54 + 12 * iRows, 4);  // file size
    put(10, 54, 4);              // pixel offset
    put(14, 40, 4);              // info header size
    put(18, 4, 4);               // width
    put(22, iRows, 4);           // height: bottom-up
    put(26, 1, 2);               // planes
    put(28, 24, 2);              // bits per pixel
    put(34, 12 * iRows, 4);      // pixel bytes
    return header;
}
}  // namespace

class TestImageUtil : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_dir.path())); }

    // Three text bytes per pixel, stored as (c, b, a), four pixels a row,
    // the first bytes in the bottom row; a page reads them back.
    void image_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("pixels");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("cba" + QByteArray(9, '\0'));
        QTest::newRow("abcd") << QByteArray("abcd") << (QByteArray("cba\0\0d", 6) + QByteArray(6, '\0'));
        QTest::newRow("ab") << QByteArray("ab") << (QByteArray("\0ba", 3) + QByteArray(9, '\0'));
        QTest::newRow("12 bytes fill one row") << QByteArray("abcdefghijkl") << QByteArray("cbafedihglkj");
        QTest::newRow("13 bytes start a second row")
            << QByteArray("abcdefghijklm") << (QByteArray("cbafedihglkj\0\0m", 15) + QByteArray(9, '\0'));
        QTest::newRow("empty") << QByteArray("") << QByteArray();
        QTest::newRow("up to the first zero")
            << QByteArray("ab\0cdefghijklmnop", 17) << (QByteArray("\0ba", 3) + QByteArray(9, '\0'));
    }
    void image() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, pixels);
        const QByteArray image = ImageUtil::buildImgData(text.constData());
        QCOMPARE(image.left(54).toHex(), bmpHeader(pixels.size() / 12).toHex());
        QCOMPARE(image.mid(54), pixels);
        QCOMPARE(textOfImage(image), text.left(text.indexOf('\0') < 0 ? text.size() : text.indexOf('\0')));
        QVERIFY(ImageUtil::buildImgData(nullptr).isEmpty());
    }

    // A copy of the last image goes to "res.bmp", readable by the user alone
    // (answers may hold decrypted texts), also where an older copy was
    // readable by others; where that file cannot be written the answer is
    // empty (the image alone is still made).
    void answerFile() {
        QFile file(QStringLiteral("res.bmp"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(file.permissions() | QFile::ReadGroup | QFile::ReadOther));
        file.close();
        const QByteArray image = ImageUtil::buildImgData("continue");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), image);
        QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());

        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("res.bmp")));  // a folder in the file's place
        QVERIFY(QDir::setCurrent(dir.path()));
        const QByteArray refused = ImageUtil::buildImgData("detect");
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY(refused.isEmpty());
        QCOMPARE(ImageUtil::encodeImage("detect").size(), 66);
    }

    void base64Reading_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("no padding, short tail") << QByteArray("YWJjZA") << QByteArray("abcd");
        QTest::newRow("line breaks and spaces skipped") << QByteArray("YW\r\nJj Z\tGVm\n") << QByteArray("abcdef");
        QTest::newRow("percent signs skipped") << QByteArray("YW%Jj") << QByteArray("abc");
        QTest::newRow("padding ends decoding") << QByteArray("YQ==YWJj") << QByteArray("a");
        QTest::newRow("padding in third place") << QByteArray("YW=Jj") << QByteArray("a");
        QTest::newRow("padding in first place skipped") << QByteArray("=YWJj") << QByteArray("abc");
        QTest::newRow("lone character dropped") << QByteArray("YWJjZ") << QByteArray("abc");
        QTest::newRow("url-safe characters are not in the alphabet") << QByteArray("-_YWJj") << QByteArray("abc");
        QTest::newRow("all byte values") << QByteArray("AP8Q7w==") << QByteArray("\x00\xff\x10\xef", 4);
    }
    void base64Reading() {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, decoded);
        unsigned char aOut[64];
        const int iWritten = CBase64::Decode(aOut, source.constData(), source.size(), sizeof(aOut));
        QCOMPARE(iWritten, decoded.size());
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aOut), qMax(iWritten, 0)), decoded);
    }

    void roundTrip_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("version") << kVersion;
        QTest::newRow("utf-8") << QByteArray("{\"name\":\"K\xc3\xa4mera \xe2\x82\xac\"}");
        QTest::newRow("large") << ("{\"pad\":\"" + QByteArray(300000, 'x') + "\"}");
    }
    void roundTrip() {
        QFETCH(QByteArray, json);
        const QString strPacket = packetFor(json);
        bool bOk = false;
        QCOMPARE(ImageUtil::getImgData(strPacket, &bOk), QString::fromUtf8(json));
        QVERIFY(bOk);
        // Line breaks every 76 characters, as some encoders write them.
        QString strWrapped;
        for (int i = 0; i < strPacket.size(); i += 76) strWrapped += strPacket.mid(i, 76) + QStringLiteral("\r\n");
        QCOMPARE(ImageUtil::getImgData(strWrapped), QString::fromUtf8(json));
    }

    // Each value is read as glibc's atoi reads it, then cut to 8 bits.
    void decimalValues_data() {
        QTest::addColumn<QByteArray>("piece");
        // One row per piece, split at '|'.
        const QByteArray baPieces =
            "120|00120|376|-136| \t\n120|+120|120abc||abc|-|+-1|255|256|-1|2147483647|2147483648|-2147483649|"
            "9223372036854775807|9223372036854775808|99999999999999999999999|-9223372036854775808|"
            "-9223372036854775809|-99999999999999999999999|1 2|٣";
        for (const QByteArray& baPiece : baPieces.split('|')) QTest::newRow(baPiece.constData()) << baPiece;
    }
    void decimalValues() {
        QFETCH(QByteArray, piece);
        const long lReference = std::strtol(piece.constData(), nullptr, 10);  // what atoi computes
        QCOMPARE(int(ImageUtil::decimalLowByte(piece.constData(), piece.constData() + piece.size())),
                 int(static_cast<unsigned long>(lReference) & 0xffu));
    }

    // Broken, but within the bounds: what could be decoded, often nothing.
    void brokenPackets_data() {
        const QByteArray z = zlibCompress(kVersion);
        QByteArray corrupt = z;
        corrupt[4] = char(corrupt[4] ^ 0xff);
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<bool>("bPrefix");  // the answer is a (maybe empty) prefix of the JSON
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("not Base64 at all") << QByteArray("!!!***") << true;
        QTest::newRow("Base64 of letters") << QByteArray("hello,world").toBase64() << true;
        QTest::newRow("truncated zlib") << decimalComma(z.left(z.size() / 2)).toBase64() << true;
        QTest::newRow("corrupt zlib") << decimalComma(corrupt).toBase64() << false;
        QTest::newRow("only commas") << QByteArray(",,,,,,,,,,,,").toBase64() << true;
        QTest::newRow("empty values between the bytes") << ("120,,,156,," + decimalComma(z.mid(2))).toBase64() << false;
        QTest::newRow("zero byte inside decoded text")
            << (decimalComma(z.left(2)) + QByteArray(1, '\0') + "," + decimalComma(z.mid(2))).toBase64() << true;
    }
    void brokenPackets() {
        QFETCH(QByteArray, packet);
        QFETCH(bool, bPrefix);
        bool bOk = false;
        const QString strJson = ImageUtil::getImgData(QString::fromLatin1(packet), &bOk);
        QVERIFY(bOk);
        QVERIFY(strJson != QString::fromLatin1(kVersion));
        if (bPrefix) QVERIFY2(QString::fromLatin1(kVersion).startsWith(strJson), qPrintable(strJson));
    }

    // The decoded text and the inflated JSON must stay below 2 MiB. The
    // decoded text is padded with zeros in front of its first value.
    void bounds_data() {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QByteArray>("json");  // empty: refused
        const QByteArray small = "{\"cmd\":\"window.getLocalServiceVersion\"}";
        const QByteArray tail = decimalComma(zlibCompress(small));
        const int iMax = ImageUtil::kMaxPacketBytes;
        for (const int iBytes : {iMax - 1, iMax, iMax + 2}) {
            QTest::addRow("decoded text of 2 MiB %+d", iBytes - iMax)
                << (QByteArray(iBytes - tail.size(), '0') + tail).toBase64() << (iBytes < iMax ? small : QByteArray());
        }
        for (const int iBytes : {iMax - 1, iMax, 4 * iMax}) {
            const QByteArray json = "{\"pad\":\"" + QByteArray(iBytes - 10, 'x') + "\"}";
            QTest::addRow("JSON of 2 MiB %+d", iBytes - iMax)
                << packetFor(json) << (iBytes < iMax ? json : QByteArray());
        }
    }
    void bounds() {
        QFETCH(QByteArray, packet);
        QFETCH(QByteArray, json);
        bool bOk = json.isEmpty();
        const QString strJson = ImageUtil::getImgData(QString::fromLatin1(packet), &bOk);
        QCOMPARE(bOk, !json.isEmpty());
        QVERIFY(strJson.toUtf8() == json);
    }
};

QTEST_APPLESS_MAIN(TestImageUtil)
#include "tst_imageutil.moc"
