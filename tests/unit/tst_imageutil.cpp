#include "Base64.h"
#include "ImageUtil.h"
#include "ZIPUtil.h"
#include "ImagePackets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include <cstdlib>

using private_encrypt_space::CBase64;

class TestImageUtil : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_strOldDir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_strOldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(m_strOldDir); }

    // ---- image encoding ----

    void pixelBytes_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("pixels");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("cba" + QByteArray(9, '\0'));
        QTest::newRow("abcd") << QByteArray("abcd") << (QByteArray("cba\0\0d", 6) + QByteArray(6, '\0'));
        QTest::newRow("ab") << QByteArray("ab") << (QByteArray("\0ba", 3) + QByteArray(9, '\0'));
        QTest::newRow("12 bytes fill one row") << QByteArray("abcdefghijkl") << QByteArray("cbafedihglkj");
        QTest::newRow("13 bytes start a second row")
            << QByteArray("abcdefghijklm") << (QByteArray("cbafedihglkj\0\0m", 15) + QByteArray(9, '\0'));
        QTest::newRow("empty") << QByteArray("") << QByteArray();
    }
    void pixelBytes() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, pixels);
        const QByteArray image = ImageUtil::buildImgData(text.constData());
        QCOMPARE(image.size(), 54 + pixels.size());
        QCOMPARE(image.mid(54), pixels);
        QCOMPARE(textOfImage(image), text);
    }

    void headers_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("iRows");
        QTest::newRow("empty") << QByteArray("") << 0;
        QTest::newRow("continue") << QByteArray("continue") << 1;
        QTest::newRow("detect") << QByteArray("detect") << 1;
        QTest::newRow("25 bytes") << QByteArray(25, 'x') << 3;
        QTest::newRow("24 bytes") << QByteArray(24, 'x') << 2;
        QTest::newRow("stops at the first zero") << QByteArray("ab\0cdefghijklmnop", 17) << 1;
    }
    void headers() {
        QFETCH(QByteArray, text);
        QFETCH(int, iRows);
        const QByteArray image = ImageUtil::buildImgData(text.constData());
        const char* p = image.constData();
        QCOMPARE(image.size(), 54 + 12 * iRows);
        QCOMPARE(image.left(2), QByteArray("BM"));
        QCOMPARE(qFromLittleEndian<quint32>(p + 2), quint32(54 + 12 * iRows));
        QCOMPARE(qFromLittleEndian<quint16>(p + 6), quint16(0));
        QCOMPARE(qFromLittleEndian<quint16>(p + 8), quint16(0));
        QCOMPARE(qFromLittleEndian<quint32>(p + 10), quint32(54));
        QCOMPARE(qFromLittleEndian<quint32>(p + 14), quint32(40));
        QCOMPARE(qFromLittleEndian<qint32>(p + 18), 4);
        QCOMPARE(qFromLittleEndian<qint32>(p + 22), iRows);
        QCOMPARE(qFromLittleEndian<quint16>(p + 26), quint16(1));
        QCOMPARE(qFromLittleEndian<quint16>(p + 28), quint16(24));
        QCOMPARE(qFromLittleEndian<quint32>(p + 30), quint32(0));
        QCOMPARE(qFromLittleEndian<quint32>(p + 34), quint32(12 * iRows));
        for (int iOffset = 38; iOffset < 54; iOffset += 4) QCOMPARE(qFromLittleEndian<quint32>(p + iOffset), quint32(0));
    }

    void nullTextGivesNothing() { QVERIFY(ImageUtil::buildImgData(nullptr).isEmpty()); }

    void fileHoldsACopyOfTheLastImage() {
        const QByteArray image = ImageUtil::buildImgData("continue");
        QFile file(QStringLiteral("res.bmp"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), image);
    }

    void unwritableFileGivesAnEmptyAnswer() {
        // A folder in the file's place cannot be opened for writing.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("res.bmp")));
        const QString strOld = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QByteArray image = ImageUtil::buildImgData("detect");
        QDir::setCurrent(strOld);
        QVERIFY(image.isEmpty());
        QCOMPARE(ImageUtil::encodeImage("detect").size(), 66);
    }

    void base64Decoding_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("plain") << QByteArray("YWJjZGVm") << QByteArray("abcdef");
        QTest::newRow("padding two") << QByteArray("YQ==") << QByteArray("a");
        QTest::newRow("padding one") << QByteArray("YWI=") << QByteArray("ab");
        QTest::newRow("no padding, short tail") << QByteArray("YWJjZA") << QByteArray("abcd");
        QTest::newRow("line breaks and spaces skipped") << QByteArray("YW\r\nJj Z\tGVm\n") << QByteArray("abcdef");
        QTest::newRow("percent signs skipped") << QByteArray("YW%Jj") << QByteArray("abc");
        QTest::newRow("padding ends decoding") << QByteArray("YQ==YWJj") << QByteArray("a");
        QTest::newRow("padding in third place") << QByteArray("YW=Jj") << QByteArray("a");
        QTest::newRow("padding in first place skipped") << QByteArray("=YWJj") << QByteArray("abc");
        QTest::newRow("lone character dropped") << QByteArray("YWJjZ") << QByteArray("abc");
        QTest::newRow("url-safe characters are not in the alphabet") << QByteArray("-_YWJj") << QByteArray("abc");
        QTest::newRow("all byte values") << QByteArray("AP8Q7w==") << QByteArray("\x00\xff\x10\xef", 4);
        QTest::newRow("empty") << QByteArray("") << QByteArray();
    }
    void base64Decoding() {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, decoded);
        unsigned char aOut[64];
        const int iWritten = CBase64::Decode(aOut, source.constData(), source.size(), sizeof(aOut));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aOut), qMax(iWritten, 0)), decoded);
        QCOMPARE(iWritten, decoded.size());
    }

    // ---- zlib ----

    void inflateCases() {
        const QByteArray json = "{\"cmd\":\"window.getLocalServiceVersion\",\"sequence\":1}";
        const QByteArray z = zlibCompress(json);
        unsigned char aOut[256];

        unsigned long ulLen = sizeof(aOut);
        QCOMPARE(ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(z.constData()), z.size(), aOut, &ulLen), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aOut), int(ulLen)), json);

        // Truncated: what was produced so far, no failure.
        ulLen = sizeof(aOut);
        QCOMPARE(ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(z.constData()), z.size() - 6, aOut, &ulLen), 0);
        QVERIFY(json.startsWith(QByteArray(reinterpret_cast<char*>(aOut), int(ulLen))));
        QVERIFY(int(ulLen) < json.size());

        // Capacity smaller than the output: stops there.
        ulLen = 10;
        QCOMPARE(ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(z.constData()), z.size(), aOut, &ulLen), 0);
        QCOMPARE(ulLen, 10ul);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aOut), 10), json.left(10));

        // Not a zlib header at all.
        const QByteArray garbage = "this is not zlib";
        ulLen = sizeof(aOut);
        QCOMPARE(ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(garbage.constData()), garbage.size(), aOut, &ulLen), -1);
        QCOMPARE(ulLen, 0ul);

        // A damaged checksum fails after the whole text was produced.
        QByteArray badSum = z;
        badSum[badSum.size() - 1] = char(badSum[badSum.size() - 1] ^ 0x55);
        ulLen = sizeof(aOut);
        QCOMPARE(ZIPUtil::zdecompress(reinterpret_cast<const unsigned char*>(badSum.constData()), badSum.size(), aOut, &ulLen), -1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aOut), int(ulLen)), json);

        // Empty source: nothing, no failure.
        ulLen = sizeof(aOut);
        QCOMPARE(ZIPUtil::zdecompress(aOut, 0, aOut, &ulLen), 0);
        QCOMPARE(ulLen, 0ul);
    }

    // ---- packet decoding ----

    void roundTrip_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("version") << QByteArray("{\"cmd\":\"window.getLocalServiceVersion\",\"sequence\":7,\"uuid\":\"u\"}");
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
        for (const char* sz : {"120", "00120", "376", "-136", " \t\n120", "+120", "120abc", "", "abc", "-", "+-1",
                               "255", "256", "-1", "2147483647", "2147483648", "-2147483649", "9223372036854775807",
                               "9223372036854775808", "99999999999999999999999", "-9223372036854775808",
                               "-9223372036854775809", "-99999999999999999999999", "1 2", "٣"})
            QTest::newRow(sz) << QByteArray(sz);
    }
    void decimalValues() {
        QFETCH(QByteArray, piece);
        const long lReference = std::strtol(piece.constData(), nullptr, 10);  // what atoi computes
        QCOMPARE(int(ImageUtil::decimalLowByte(piece.constData(), piece.constData() + piece.size())),
                 int(static_cast<unsigned long>(lReference) & 0xffu));
    }

    void brokenPackets_data() {
        const QByteArray json = "{\"cmd\":\"window.getLocalServiceVersion\",\"sequence\":7,\"uuid\":\"u\"}";
        const QByteArray z = zlibCompress(json);
        QByteArray corrupt = z;
        corrupt[4] = char(corrupt[4] ^ 0xff);
        QTest::addColumn<QString>("packet");
        QTest::addColumn<bool>("bPrefix");  // the answer is a (maybe empty) prefix of the JSON
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("not Base64 at all") << QStringLiteral("!!!***") << true;
        QTest::newRow("Base64 of letters") << QString::fromLatin1(QByteArray("hello,world").toBase64()) << true;
        QTest::newRow("truncated zlib") << QString::fromLatin1(decimalComma(z.left(z.size() / 2)).toBase64()) << true;
        QTest::newRow("corrupt zlib") << QString::fromLatin1(decimalComma(corrupt).toBase64()) << false;
        QTest::newRow("only commas") << QString::fromLatin1(QByteArray(",,,,,,,,,,,,").toBase64()) << true;
        QTest::newRow("empty values between the bytes")
            << QString::fromLatin1(("120,,,156,," + decimalComma(z.mid(2))).toBase64()) << false;
        QTest::newRow("zero byte inside decoded text")
            << QString::fromLatin1((decimalComma(z.left(2)) + QByteArray(1, '\0') + "," + decimalComma(z.mid(2))).toBase64())
            << true;
    }
    void brokenPackets() {
        QFETCH(QString, packet);
        QFETCH(bool, bPrefix);
        bool bOk = false;
        const QString strJson = ImageUtil::getImgData(packet, &bOk);
        QVERIFY(bOk);  // broken, but not over a bound
        const QString strFull = QStringLiteral("{\"cmd\":\"window.getLocalServiceVersion\",\"sequence\":7,\"uuid\":\"u\"}");
        QVERIFY(strJson != strFull);
        if (bPrefix) QVERIFY2(strFull.startsWith(strJson), qPrintable(strJson));
    }

    // The decoded text must stay below 2 MiB: padding the first value with
    // zeros to exactly 2 MiB - 1 bytes still decodes, one more is refused.
    void decodedTextLimit_data() {
        QTest::addColumn<int>("iDecodedBytes");
        QTest::addColumn<bool>("bAccepted");
        QTest::newRow("2 MiB - 1") << ImageUtil::kMaxPacketBytes - 1 << true;
        QTest::newRow("2 MiB") << ImageUtil::kMaxPacketBytes << false;
        QTest::newRow("2 MiB + 2") << ImageUtil::kMaxPacketBytes + 2 << false;
    }
    void decodedTextLimit() {
        QFETCH(int, iDecodedBytes);
        QFETCH(bool, bAccepted);
        const QByteArray json = "{\"cmd\":\"window.getLocalServiceVersion\"}";
        const QByteArray tail = decimalComma(zlibCompress(json));
        const QByteArray text = QByteArray(iDecodedBytes - tail.size(), '0') + tail;
        QCOMPARE(text.size(), iDecodedBytes);
        bool bOk = !bAccepted;
        const QString strJson = ImageUtil::getImgData(QString::fromLatin1(text.toBase64()), &bOk);
        QCOMPARE(bOk, bAccepted);
        QCOMPARE(strJson, bAccepted ? QString::fromUtf8(json) : QString());
    }

    void inflatedJsonLimit_data() {
        QTest::addColumn<int>("iJsonBytes");
        QTest::addColumn<bool>("bAccepted");
        QTest::newRow("2 MiB - 1") << ImageUtil::kMaxPacketBytes - 1 << true;
        QTest::newRow("2 MiB") << ImageUtil::kMaxPacketBytes << false;
        QTest::newRow("8 MiB") << 4 * ImageUtil::kMaxPacketBytes << false;
    }
    void inflatedJsonLimit() {
        QFETCH(int, iJsonBytes);
        QFETCH(bool, bAccepted);
        const QByteArray json = "{\"pad\":\"" + QByteArray(iJsonBytes - 10, 'x') + "\"}";
        QCOMPARE(json.size(), iJsonBytes);
        bool bOk = !bAccepted;
        const QString strJson = ImageUtil::getImgData(packetFor(json), &bOk);
        QCOMPARE(bOk, bAccepted);
        QCOMPARE(strJson.size(), bAccepted ? iJsonBytes : 0);
        if (bAccepted) QCOMPARE(strJson.toUtf8(), json);
    }
};

QTEST_APPLESS_MAIN(TestImageUtil)
#include "tst_imageutil.moc"
