// Credential decryption in one table: cipher texts made outside this code
// (the openssl command line), refused inputs, and chosen Base64 texts
// encrypted here with OpenSSL and the derived key, which show the lenient
// decoding rules. Then the senders (the tool and the page's script) against
// the decryption.
#include "CredentialProtection.h"
#include "CredentialSender.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <openssl/evp.h>

#include <memory>
#include <string>

namespace {

const char* const kIv = "00112233445566778899aabbccddeeff";
// openssl enc -aes-128-cbc -K <first 16 derived key bytes> -iv 0011..eeff
// -nopad over the Base64 text of "Vector-AK-2026" completed with zero bytes.
const QString kVector = "95c5c9d7590edb273aa4e28d74a4abea886ccc8983ece0c8ff7f51d53d3d4092";

// AES-128-CBC with the derived key, as hexadecimal text, of the text
// followed by zero bytes up to the next whole block (a whole block more when
// bComplete and it is whole already).
QString encrypted(std::string strText, const std::string& strIvHex = kIv, bool bComplete = true) {
    if (bComplete) strText.append(16 - strText.size() % 16, '\0');
    unsigned char key[33];
    deriveCredentialKey(key, sizeof(key));
    unsigned char iv[16];
    hexDecode(strIvHex.data(), strIvHex.size(), iv, sizeof(iv));
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    std::string strOut(strText.size(), '\0');
    int iOut = 0;
    EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    EVP_EncryptUpdate(context.get(), reinterpret_cast<unsigned char*>(&strOut[0]), &iOut,
                      reinterpret_cast<const unsigned char*>(strText.data()), static_cast<int>(strText.size()));
    return QString::fromStdString(toHexText(reinterpret_cast<const unsigned char*>(strOut.data()), strOut.size()));
}

QByteArray decrypt(const QString& strProtected, const QString& strIv = kIv, int iSecurity = 1, bool* pRan = nullptr) {
    std::string strPlain = "left over";
    const bool bRan = decryptCredential(strProtected.toStdString(), iSecurity, strIv.toStdString(), strPlain);
    if (pRan) *pRan = bRan;
    return QByteArray::fromStdString(strPlain);
}

}  // namespace

class TestCredential : public QObject {
    Q_OBJECT

    // Runs a sender; its standard output, empty when it failed.
    static QByteArray run(const QString& strProgram, const QStringList& arguments) {
        QProcess process;
        process.start(strProgram, arguments);
        if (!process.waitForFinished(20000) || process.exitCode() != 0) return QByteArray();
        return process.readAllStandardOutput();
    }

private slots:
    void decryption_data() {
        QTest::addColumn<QString>("protectedText");
        QTest::addColumn<QString>("iv");
        QTest::addColumn<int>("security");
        QTest::addColumn<bool>("bRan");
        QTest::addColumn<QByteArray>("plain");
        const auto row = [](const char* szName, const QString& strText, const QByteArray& plain,
                            const QString& strIv = kIv) {
            QTest::newRow(szName) << strText << strIv << 1 << true << plain;
        };
        const auto refused = [](const char* szName, const QString& strText, const QString& strIv, int iSecurity = 1) {
            QTest::newRow(szName) << strText << strIv << iSecurity << false << QByteArray();
        };
        row("openssl: partly filled last block", kVector, "Vector-AK-2026");
        row("openssl: whole blocks get a zero block",
            "44057fe3385b67f175ab42415660419e67e138fd245159117b01f84e66e382ca", "0123456789ab");
        row("openssl: zero byte cuts the value", "946912df5ec234e1d2613091d3d61b100eb425febd30d8bd6f259081ce8f9315",
            "secret");

        refused("scheme 0", kVector, kIv, 0);
        refused("scheme 2", kVector, kIv, 2);
        refused("vector of 31", kVector, QString(kIv).left(31));
        refused("vector of 33", kVector, QString(kIv) + "0");
        refused("empty vector", kVector, QString());
        refused("empty text", QString(), kIv);
        refused("text of 2048", kVector.repeated(32), kIv);

        // Characters of the vector that are not hexadecimal digits count as 0.
        row("non-hex digits in the vector", encrypted("QUJD", "00112233445566778899aabbccdd0e0f"), "ABC",
            "00112233445566778899aabbccddxexz");
        row("upper-case hex", kVector.toUpper(), "Vector-AK-2026", QString(kIv).toUpper());
        row("Base64 with line breaks, blanks and inner padding", encrypted("VmVj\r\ndG9y LUFL\n\tLTIw=MjY=\n"),
            "Vector-AK-2026");
        row("missing Base64 characters count as A", encrypted("TWFuTQ"), "ManM");
        row("a single Base64 character", encrypted("T"), "L");
        row("plus and slash", encrypted("+/+/"), "\xfb\xff\xbf");
        row("only dropped characters", encrypted("=!\n -"), "");
        // A last partial block is completed with zero bytes: 40 hex digits
        // decrypt as the same 40 followed by 24 zeros.
        const QString strThreeBlocks = encrypted("VmVjdG9yLUFLLTIwMjYgcGFydGlhbA==");
        row("partial last block", strThreeBlocks.left(40), decrypt(strThreeBlocks.left(40) + QString(24, '0')));
        // 1024 characters of Base64 text fill 64 blocks ("QQQQ" is 0x41 0x04
        // 0x10). A cipher text whose last hex digit is 0 keeps its bytes when
        // that digit is dropped, so the 2047-digit text gives the whole value.
        QString strLongest, strIv;
        for (int iTry = 0; iTry < 1000 && !strLongest.endsWith('0'); ++iTry) {
            strIv = QString("%1").arg(iTry, 32, 16, QLatin1Char('0'));
            strLongest = encrypted(std::string(1024, 'Q'), strIv.toStdString(), false);
        }
        row("longest text", strLongest.left(2047), QByteArray("\x41\x04\x10").repeated(256), strIv);
    }
    void decryption() {
        QFETCH(QString, protectedText);
        QFETCH(QString, iv);
        QFETCH(int, security);
        QFETCH(bool, bRan);
        QFETCH(QByteArray, plain);
        bool bRanNow = !bRan;
        QCOMPARE(decrypt(protectedText, iv, security, &bRanNow).toHex(), plain.toHex());
        QCOMPARE(bRanNow, bRan);
        // The sender's side makes the cipher texts of the openssl command.
        std::string strProtected;
        const QByteArray ivBytes = QByteArray::fromHex(iv.toLatin1());
        if (QByteArray(QTest::currentDataTag()).startsWith("openssl") && !plain.contains("secret")) {
            QVERIFY(protectCredential(plain.toStdString(), reinterpret_cast<const unsigned char*>(ivBytes.data()),
                                      strProtected));
            QCOMPARE(QString::fromStdString(strProtected), protectedText);
        }
    }

    void senderToolRoundTrip() {
        const QString strLong(753, QLatin1Char('x'));
        const QJsonObject output = QJsonDocument::fromJson(run(PROTECT_CREDENTIAL_BIN, {"--json", "AK-plain-value",
                                                                                        "SK with blanks/+=", strLong}))
                                       .object();
        const QString strIv = output.value("Iv").toString();
        const QJsonArray values = output.value("values").toArray();
        QCOMPARE(strIv.size(), 32);
        QCOMPARE(values.size(), 3);
        QCOMPARE(decrypt(values.at(0).toString(), strIv), QByteArray("AK-plain-value"));
        QCOMPARE(decrypt(values.at(1).toString(), strIv), QByteArray("SK with blanks/+="));
        QCOMPARE(decrypt(values.at(2).toString(), strIv), strLong.toLatin1());
        // A fresh vector on every run; a value too long to protect is refused.
        QVERIFY(QJsonDocument::fromJson(run(PROTECT_CREDENTIAL_BIN, {"--json", "x"})).object().value("Iv").toString() !=
                strIv);
        QVERIFY(run(PROTECT_CREDENTIAL_BIN, {strLong + 'x'}).isEmpty());
    }

    void javascriptSenderMatches() {
        const QString strNode = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (strNode.isEmpty()) QSKIP("node is not installed (scripts/install-deps installs it)");
        const QString strScript = QStringLiteral(
            "const crypto = globalThis.crypto ?? (await import('node:crypto')).webcrypto;\n"
            "const m = await import(process.argv[1]);\n"
            "const iv = new Uint8Array(16).map((_, i) => i * 17);\n"
            "const fixed = [];\n"
            "for (const v of JSON.parse(process.argv[2])) fixed.push(await m.protectCredential(v, iv, crypto));\n"
            "const fresh = await m.protectCredentials(['fresh-ak', 'fresh-sk'], crypto);\n"
            "let refused = false;\n"
            "try { await m.protectCredential('x'.repeat(754), iv, crypto); } catch (e) { refused = true; }\n"
            "console.log(JSON.stringify({ fixed, fresh, refused }));\n");
        const QStringList plains = {"Vector-AK-2026", "0123456789ab",
                                    QString::fromUtf8("Schl\xc3\xbcssel \xe2\x82\xac"), QString(753, 'x'), QString()};
        const QJsonObject output =
            QJsonDocument::fromJson(
                run(strNode, {"--input-type=module", "-e", strScript, PROTECT_CREDENTIAL_JS,
                              QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(plains)).toJson())}))
                .object();

        unsigned char iv[16];
        for (int i = 0; i < 16; ++i) iv[i] = static_cast<unsigned char>(i * 17);
        const QJsonArray fixed = output.value("fixed").toArray();
        QCOMPARE(fixed.size(), plains.size());
        for (int i = 0; i < plains.size(); ++i) {
            std::string strExpected;
            QVERIFY(protectCredential(plains.at(i).toStdString(), iv, strExpected));
            QCOMPARE(fixed.at(i).toString(), QString::fromStdString(strExpected));
            QCOMPARE(decrypt(fixed.at(i).toString(), QString::fromStdString(toHexText(iv, 16))), plains.at(i).toUtf8());
        }
        const QJsonObject fresh = output.value("fresh").toObject();
        QCOMPARE(decrypt(fresh.value("values").toArray().at(1).toString(), fresh.value("Iv").toString()),
                 QByteArray("fresh-sk"));
        QVERIFY(output.value("refused").toBool());
    }
};

QTEST_GUILESS_MAIN(TestCredential)
#include "tst_credential.moc"
