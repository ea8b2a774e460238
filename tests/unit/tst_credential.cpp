// Credential decryption and its codecs, checked against values computed
// outside this code (the derived key with a separate SHA-256 run, cipher
// texts with the openssl command line) and against the sender's side.
#include "CredentialProtection.h"
#include "CredentialSender.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// SHA-256 of the two key-material texts, then 99 rounds of SHA-256 of the
// lowercase hexadecimal text (computed apart from this code).
const char* const kDerivedKeyHex = "a0a87bd7d6ce25d5cb1912cd50dc0866837d8cc6562d605e5a59ba7c0cca5feb";
const char* const kIv = "00112233445566778899aabbccddeeff";

std::string hexOf(const unsigned char* p, size_t n) {
    return toHexText(p, n);
}

// AES-128-CBC of raw bytes (already a whole number of blocks) with the
// derived key, as hexadecimal text.
std::string encryptRaw(const std::string& strBlocks, const std::string& strIvHex) {
    unsigned char key[33];
    deriveCredentialKey(key, sizeof(key));
    unsigned char iv[16];
    hexDecode(strIvHex.data(), strIvHex.size(), iv, sizeof(iv));
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    std::string strOut(strBlocks.size() + 16, '\0');
    int iOut = 0, iFinal = 0;
    EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    EVP_EncryptUpdate(context.get(), reinterpret_cast<unsigned char*>(&strOut[0]), &iOut,
                      reinterpret_cast<const unsigned char*>(strBlocks.data()), static_cast<int>(strBlocks.size()));
    EVP_EncryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(&strOut[0]) + iOut, &iFinal);
    return hexOf(reinterpret_cast<const unsigned char*>(strOut.data()), static_cast<size_t>(iOut + iFinal));
}

// Base64 text followed by zero bytes up to the next whole block.
std::string zeroCompleted(std::string strText) {
    strText.append(16 - strText.size() % 16, '\0');
    return strText;
}

std::string decrypt(const std::string& strProtected, const std::string& strIv = kIv, int iSecurity = 1,
                    bool* pRan = nullptr) {
    std::string strPlain = "left over";
    const bool bRan = decryptCredential(strProtected, iSecurity, strIv, strPlain);
    if (pRan) *pRan = bRan;
    return strPlain;
}

}  // namespace

class TestCredential : public QObject {
    Q_OBJECT
private slots:
    void derivedKey();
    void opensslVectors_data();
    void opensslVectors();
    void refusedInput_data();
    void refusedInput();
    void lenientInput_data();
    void lenientInput();
    void longestAcceptedText();
    void partialLastBlockIsZeroCompleted();
    void senderToolRoundTrip();
    void javascriptSenderMatches();
    void hexDecodeRules_data();
    void hexDecodeRules();
    void base64DecodeRules_data();
    void base64DecodeRules();
};

void TestCredential::derivedKey() {
    unsigned char key[33];
    std::memset(key, 0xAB, sizeof(key));
    deriveCredentialKey(key, sizeof(key));
    QCOMPARE(QString::fromStdString(hexOf(key, 32)), QString::fromLatin1(kDerivedKeyHex));
    QCOMPARE(int(key[32]), 0);

    // The same for every call, and cut when the buffer is smaller.
    unsigned char again[33];
    deriveCredentialKey(again, sizeof(again));
    QVERIFY(std::memcmp(key, again, sizeof(key)) == 0);
    unsigned char shortKey[8];
    deriveCredentialKey(shortKey, sizeof(shortKey));
    QVERIFY(std::memcmp(key, shortKey, sizeof(shortKey)) == 0);
}

void TestCredential::opensslVectors_data() {
    QTest::addColumn<QString>("protectedText");
    QTest::addColumn<QByteArray>("plain");
    // openssl enc -aes-128-cbc -K <first 16 derived key bytes> -iv 0011..eeff -nopad
    // over the Base64 text completed with zero bytes.
    QTest::newRow("partly filled last block")
        << "95c5c9d7590edb273aa4e28d74a4abea886ccc8983ece0c8ff7f51d53d3d4092" << QByteArray("Vector-AK-2026");
    QTest::newRow("whole blocks get a zero block")
        << "44057fe3385b67f175ab42415660419e67e138fd245159117b01f84e66e382ca" << QByteArray("0123456789ab");
    QTest::newRow("zero byte cuts the value")
        << "946912df5ec234e1d2613091d3d61b100eb425febd30d8bd6f259081ce8f9315" << QByteArray("secret");
}

void TestCredential::opensslVectors() {
    QFETCH(QString, protectedText);
    QFETCH(QByteArray, plain);
    bool bRan = false;
    QCOMPARE(QByteArray::fromStdString(decrypt(protectedText.toStdString(), kIv, 1, &bRan)), plain);
    QVERIFY(bRan);
    // The sender's side makes the same cipher text from the same vector.
    if (!plain.contains("secret")) {
        unsigned char iv[16];
        hexDecode(kIv, 32, iv, sizeof(iv));
        std::string strProtected;
        QVERIFY(protectCredential(plain.toStdString(), iv, strProtected));
        QCOMPARE(QString::fromStdString(strProtected), protectedText);
    }
}

void TestCredential::refusedInput_data() {
    QTest::addColumn<QString>("protectedText");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("iv");
    const QString good = "95c5c9d7590edb273aa4e28d74a4abea886ccc8983ece0c8ff7f51d53d3d4092";
    QTest::newRow("scheme 0") << good << 0 << kIv;
    QTest::newRow("scheme 2") << good << 2 << kIv;
    QTest::newRow("scheme -1") << good << -1 << kIv;
    QTest::newRow("iv of 31") << good << 1 << QString(kIv).left(31);
    QTest::newRow("iv of 33") << good << 1 << QString(kIv) + "0";
    QTest::newRow("empty iv") << good << 1 << QString();
    QTest::newRow("empty text") << QString() << 1 << kIv;
    QTest::newRow("text of 2048") << good.repeated(32) << 1 << kIv;
}

void TestCredential::refusedInput() {
    QFETCH(QString, protectedText);
    QFETCH(int, security);
    QFETCH(QString, iv);
    bool bRan = true;
    const std::string strPlain = decrypt(protectedText.toStdString(), iv.toStdString(), security, &bRan);
    QVERIFY(!bRan);
    QVERIFY(strPlain.empty());  // the earlier content is gone too
}

void TestCredential::lenientInput_data() {
    QTest::addColumn<QString>("protectedText");
    QTest::addColumn<QString>("iv");
    QTest::addColumn<QString>("plain");
    // Characters of the vector that are not hexadecimal digits count as 0.
    QTest::newRow("non-hex digits in the vector")
        << QString::fromStdString(encryptRaw(zeroCompleted("QUJD"), "00112233445566778899aabbccdd0e0f"))
        << "00112233445566778899aabbccddxexz" << "ABC";
    QTest::newRow("upper-case hex") << QString("95c5c9d7590edb273aa4e28d74a4abea886ccc8983ece0c8ff7f51d53d3d4092").toUpper()
                                    << QString(kIv).toUpper() << "Vector-AK-2026";
    QTest::newRow("Base64 with line breaks and blanks")
        << QString::fromStdString(encryptRaw(zeroCompleted("VmVj\r\ndG9y LUFL\n\tLTIw=MjY=\n"), kIv)) << kIv
        << "Vector-AK-2026";
}

void TestCredential::lenientInput() {
    QFETCH(QString, protectedText);
    QFETCH(QString, iv);
    QFETCH(QString, plain);
    bool bRan = false;
    QCOMPARE(QString::fromStdString(decrypt(protectedText.toStdString(), iv.toStdString(), 1, &bRan)), plain);
    QVERIFY(bRan);
}

void TestCredential::longestAcceptedText() {
    // 1024 bytes of Base64 text fill 64 blocks. A cipher text whose last hex
    // digit is 0 keeps its bytes when that digit is dropped (an odd last
    // character gives the high bits of a byte with low bits 0), so the
    // 2047-character text must give the whole value back.
    const std::string strText(1024, 'Q');  // "QQQQ" decodes to 0x41 0x04 0x10
    std::string strProtected;
    std::string strIv;
    for (int iTry = 0; iTry < 1000; ++iTry) {
        strIv = QString("%1").arg(iTry, 32, 16, QLatin1Char('0')).toStdString();
        strProtected = encryptRaw(strText, strIv);
        if (strProtected.back() == '0') break;
    }
    QCOMPARE(strProtected.size(), size_t(2048));
    QCOMPARE(strProtected.back(), '0');

    bool bRan = false;
    const std::string strPlain = decrypt(strProtected.substr(0, 2047), strIv, 1, &bRan);
    QVERIFY(bRan);
    // Every 4 characters give 3 bytes; the first 0x04 ends nothing (no zero).
    QCOMPARE(strPlain.size(), size_t(768));
    QCOMPARE(strPlain.substr(765), std::string("\x41\x04\x10"));

    decrypt(strProtected, strIv, 1, &bRan);
    QVERIFY(!bRan);
}

void TestCredential::partialLastBlockIsZeroCompleted() {
    const std::string strWhole = encryptRaw(zeroCompleted("VmVjdG9yLUFLLTIwMjYgcGFydGlhbA=="), kIv);
    QCOMPARE(strWhole.size(), size_t(96));  // 3 blocks
    // 40 hex characters: one block and 4 bytes of a second one.
    const std::string strPartial = strWhole.substr(0, 40);
    const std::string strCompleted = strPartial + std::string(24, '0');
    const std::string strOneBlock = strWhole.substr(0, 32);

    const std::string strFromPartial = decrypt(strPartial);
    QCOMPARE(strFromPartial, decrypt(strCompleted));
    // Dropping the partial block instead would give another value.
    QVERIFY(strFromPartial != decrypt(strOneBlock));
    // The first block is intact either way: "VmVjdG9yLUFLLTIw" is "Vector-AK-20".
    QCOMPARE(QByteArray::fromStdString(strFromPartial).left(12), QByteArray("Vector-AK-20"));
}

void TestCredential::senderToolRoundTrip() {
    const QString strTool = QStringLiteral(PROTECT_CREDENTIAL_BIN);
    QProcess tool;
    tool.start(strTool, {"--json", "AK-plain-value", "SK with blanks/+=", QString(753, QLatin1Char('x'))});
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 0);
    const QJsonObject output = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    const std::string strIv = output.value("Iv").toString().toStdString();
    const QJsonArray values = output.value("values").toArray();
    QCOMPARE(strIv.size(), size_t(32));
    QCOMPARE(values.size(), 3);
    QCOMPARE(QString::fromStdString(decrypt(values.at(0).toString().toStdString(), strIv)), QString("AK-plain-value"));
    QCOMPARE(QString::fromStdString(decrypt(values.at(1).toString().toStdString(), strIv)),
             QString("SK with blanks/+="));
    QCOMPARE(QString::fromStdString(decrypt(values.at(2).toString().toStdString(), strIv)), QString(753, 'x'));

    // A fresh vector on every run.
    QProcess second;
    second.start(strTool, {"--json", "AK-plain-value"});
    QVERIFY(second.waitForFinished(10000));
    QVERIFY(QJsonDocument::fromJson(second.readAllStandardOutput()).object().value("Iv").toString() !=
            QString::fromStdString(strIv));

    QProcess tooLong;
    tooLong.start(strTool, {QString(754, QLatin1Char('x'))});
    QVERIFY(tooLong.waitForFinished(10000));
    QVERIFY(tooLong.exitCode() != 0);
}

void TestCredential::javascriptSenderMatches() {
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
    const QStringList plains = {"Vector-AK-2026", "0123456789ab", QString::fromUtf8("Schl\xc3\xbcssel \xe2\x82\xac"),
                                QString(753, 'x'), QString()};
    QProcess node;
    node.start(strNode, {"--input-type=module", "-e", strScript, QStringLiteral(PROTECT_CREDENTIAL_JS),
                         QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(plains)).toJson())});
    QVERIFY(node.waitForFinished(20000));
    QVERIFY2(node.exitCode() == 0, node.readAllStandardError().constData());
    const QJsonObject output = QJsonDocument::fromJson(node.readAllStandardOutput()).object();

    unsigned char iv[16];
    for (int i = 0; i < 16; ++i) iv[i] = static_cast<unsigned char>(i * 17);
    const std::string strIv = hexOf(iv, 16);
    const QJsonArray fixed = output.value("fixed").toArray();
    QCOMPARE(fixed.size(), plains.size());
    for (int i = 0; i < plains.size(); ++i) {
        std::string strExpected;
        QVERIFY(protectCredential(plains.at(i).toStdString(), iv, strExpected));
        QCOMPARE(fixed.at(i).toString(), QString::fromStdString(strExpected));
        QCOMPARE(QString::fromStdString(decrypt(fixed.at(i).toString().toStdString(), strIv)), plains.at(i));
    }
    const QJsonObject fresh = output.value("fresh").toObject();
    const std::string strFreshIv = fresh.value("Iv").toString().toStdString();
    QVERIFY(strFreshIv != strIv && strFreshIv.size() == 32);
    QCOMPARE(QString::fromStdString(decrypt(fresh.value("values").toArray().at(1).toString().toStdString(), strFreshIv)),
             QString("fresh-sk"));
    QVERIFY(output.value("refused").toBool());
}

void TestCredential::hexDecodeRules_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("lowercase") << QByteArray("00ff7a") << 4 << QByteArray::fromHex("00ff7a00");
    QTest::newRow("uppercase") << QByteArray("00FF7A") << 4 << QByteArray::fromHex("00ff7a00");
    QTest::newRow("odd count") << QByteArray("abc") << 3 << QByteArray::fromHex("abc000");
    QTest::newRow("non-hex count as 0") << QByteArray("g1zz") << 2 << QByteArray::fromHex("0100");
    QTest::newRow("exactly twice") << QByteArray("0102") << 2 << QByteArray::fromHex("0102");
    QTest::newRow("over-long") << QByteArray("010203") << 1 << QByteArray(1, '\0');
    QTest::newRow("odd over-long") << QByteArray("01020") << 2 << QByteArray(2, '\0');
}

void TestCredential::hexDecodeRules() {
    QFETCH(QByteArray, input);
    QFETCH(int, capacity);
    QFETCH(QByteArray, expected);
    QByteArray out(capacity, 'z');
    hexDecode(input.constData(), size_t(input.size()), reinterpret_cast<unsigned char*>(out.data()), size_t(capacity));
    QCOMPARE(out.toHex(), expected.toHex());
}

void TestCredential::base64DecodeRules_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << QByteArray() << 16 << QByteArray();
    QTest::newRow("one group") << QByteArray("TWFu") << 16 << QByteArray("Man");
    QTest::newRow("padding gives zero bytes") << QByteArray("TWE=") << 16 << QByteArray("Ma\0", 3);
    QTest::newRow("missing characters count as A") << QByteArray("TQ") << 16 << QByteArray("M\0\0", 3);
    QTest::newRow("single character") << QByteArray("T") << 16 << QByteArray::fromHex("4c0000");
    QTest::newRow("blanks and line breaks dropped") << QByteArray(" T W\r\nF u\t") << 16 << QByteArray("Man");
    QTest::newRow("only dropped characters") << QByteArray("=!\n -") << 16 << QByteArray();
    QTest::newRow("two groups") << QByteArray("TWFuTQ==") << 16 << QByteArray("ManM\0\0", 6);
    QTest::newRow("plus and slash") << QByteArray("+/+/") << 16 << QByteArray::fromHex("fbffbf");
    QTest::newRow("capacity cuts") << QByteArray("TWFuTWFu") << 4 << QByteArray("ManM");
    QTest::newRow("padding inside is dropped") << QByteArray("TW=Fu") << 16 << QByteArray("Man");
}

void TestCredential::base64DecodeRules() {
    QFETCH(QByteArray, text);
    QFETCH(int, capacity);
    QFETCH(QByteArray, expected);
    QByteArray out(capacity + 4, 'z');
    const size_t nWritten = base64Decode(text.constData(), reinterpret_cast<unsigned char*>(out.data()), size_t(capacity));
    QCOMPARE(out.left(int(nWritten)).toHex(), expected.toHex());
    QCOMPARE(out.mid(capacity), QByteArray(4, 'z'));  // nothing past the capacity
}

QTEST_GUILESS_MAIN(TestCredential)
#include "tst_credential.moc"
