#include "WebConnectChallenge.h"

#include <QtTest>

namespace {

QByteArray sha256Text(const QByteArray& data) {
    char szOut[65];
    sha256ToText(reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()), szOut);
    return QByteArray(szOut);
}

}  // namespace

class TestWebConnectChallenge : public QObject {
    Q_OBJECT

private slots:
    void sha256Digests_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("empty") << QByteArray("")
                               << QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        QTest::newRow("abc") << QByteArray("abc")
                             << QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("55 bytes (one block)")
            << QByteArray(55, 'a') << QByteArray("9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
        QTest::newRow("56 bytes (two blocks)")
            << QByteArray(56, 'a') << QByteArray("b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
        QTest::newRow("56 bytes, FIPS 180-2 example")
            << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
            << QByteArray("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        QTest::newRow("63 bytes")
            << QByteArray(63, 'a') << QByteArray("7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34");
        QTest::newRow("64 bytes")
            << QByteArray(64, 'a') << QByteArray("ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    }
    void sha256Digests() {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, digest);
        QCOMPARE(sha256Text(message), digest);
    }

    // RFC 4231 test case 2 and a key longer than the block (test case 6).
    void hmacVectors() {
        unsigned char aMac[32];
        const QByteArray key = "Jefe";
        const QByteArray message = "what do ya want for nothing?";
        hmacSha256(reinterpret_cast<const unsigned char*>(key.constData()), key.size(),
                   reinterpret_cast<const unsigned char*>(message.constData()), message.size(), aMac);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aMac), 32).toHex(),
                 QByteArray("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));

        const QByteArray longKey(131, '\xaa');
        const QByteArray longMessage = "Test Using Larger Than Block-Size Key - Hash Key First";
        hmacSha256(reinterpret_cast<const unsigned char*>(longKey.constData()), longKey.size(),
                   reinterpret_cast<const unsigned char*>(longMessage.constData()), longMessage.size(), aMac);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(aMac), 32).toHex(),
                 QByteArray("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"));
    }

    // Expected login ids were computed outside the program with sha256sum and
    // openssl's HMAC over the request line and key material.
    void check_data() {
        QTest::addColumn<QByteArray>("loginId");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<int>("iIterations");
        QTest::addColumn<int>("iRandom");
        QTest::addColumn<int>("iResult");

        const QByteArray admin = "70c3d8fb9b43141a42211656ec196fb3591d52b8b5d62071f15535ec437f5ad7";
        QTest::newRow("pass") << admin << QByteArray("admin") << QByteArray("4b3c9d2e") << 1000 << 123456 << 0;
        QTest::newRow("upper-case login id") << admin.toUpper() << QByteArray("admin") << QByteArray("4b3c9d2e")
                                             << 1000 << 123456 << -1;
        QTest::newRow("wrong random") << admin << QByteArray("admin") << QByteArray("4b3c9d2e") << 1000 << 123457 << -1;
        QTest::newRow("wrong iterations") << admin << QByteArray("admin") << QByteArray("4b3c9d2e") << 999 << 123456 << -1;
        QTest::newRow("wrong challenge") << admin << QByteArray("admin") << QByteArray("4b3c9d2f") << 1000 << 123456 << -1;
        QTest::newRow("wrong user") << admin << QByteArray("Admin") << QByteArray("4b3c9d2e") << 1000 << 123456 << -1;
        QTest::newRow("login id with extra character") << admin + "0" << QByteArray("admin") << QByteArray("4b3c9d2e")
                                                       << 1000 << 123456 << -1;
        QTest::newRow("login id cut short") << admin.left(63) << QByteArray("admin") << QByteArray("4b3c9d2e") << 1000
                                            << 123456 << -1;
        QTest::newRow("empty login id") << QByteArray() << QByteArray("admin") << QByteArray("4b3c9d2e") << 1000
                                        << 123456 << -1;

        // The caller percent-decodes the user: the decoded at sign passes, the
        // raw form does not.
        const QByteArray mail = "6e538e77ea0436c5308033abe4ed8e62549946161c8801bb23b65e8993cf261b";
        QTest::newRow("decoded at sign, negative random")
            << mail << QByteArray::fromPercentEncoding("user%40example.com") << QByteArray("7f00aa") << 3 << -77 << 0;
        QTest::newRow("still percent-encoded")
            << mail << QByteArray("user%40example.com") << QByteArray("7f00aa") << 3 << -77 << -1;

        QTest::newRow("all empty") << QByteArray("e93b30ef0c624ce7a112e5b44f1a79abd8239abe3924d18d4571a4f2bb98a38a")
                                   << QByteArray() << QByteArray() << 0 << 0 << 0;
    }
    void check() {
        QFETCH(QByteArray, loginId);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, challenge);
        QFETCH(int, iIterations);
        QFETCH(int, iRandom);
        QFETCH(int, iResult);
        QCOMPARE(checkWebConnectChallenge(loginId, user, challenge, iIterations, iRandom), iResult);
    }

    // Builds the login id the way a page does, for inputs at and beyond the
    // text bounds.
    void bounds_data() {
        QTest::addColumn<int>("iUserLength");
        QTest::addColumn<int>("iChallengeLength");
        QTest::addColumn<int>("iResult");
        // Request line: 44 prefix characters + user + "7" (random).
        QTest::newRow("request line 127") << 82 << 10 << 0;
        QTest::newRow("request line 128") << 83 << 10 << -1;
        // Key material: user + "5" (iterations) + challenge.
        QTest::newRow("key material 1023") << 10 << 1012 << 0;
        QTest::newRow("key material 1024") << 10 << 1013 << -1;
        QTest::newRow("huge challenge") << 10 << 100000 << -1;
    }
    void bounds() {
        QFETCH(int, iUserLength);
        QFETCH(int, iChallengeLength);
        QFETCH(int, iResult);
        const QByteArray user(iUserLength, 'u');
        const QByteArray challenge(iChallengeLength, 'c');
        const QByteArray key = QCryptographicHash::hash(user + "5" + challenge, QCryptographicHash::Sha256).toHex();
        const QByteArray loginId = QMessageAuthenticationCode::hash(
            "GET/OKAPI/Security/sessionLogin/capabilities" + user + "7", key, QCryptographicHash::Sha256).toHex();
        QCOMPARE(checkWebConnectChallenge(loginId, user, challenge, 5, 7), iResult);
    }
};

QTEST_APPLESS_MAIN(TestWebConnectChallenge)
#include "tst_webconnectchallenge.moc"
