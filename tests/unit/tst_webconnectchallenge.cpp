// The port-detection check: login ids computed outside the program, the
// percent-decoded user and the text bounds. (SHA-256 and HMAC themselves are
// OpenSSL's.)
#include "ImagePackets.h"
#include "WebConnectChallenge.h"

#include <QtTest>

class TestWebConnectChallenge : public QObject {
    Q_OBJECT

private slots:
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
        // The passing row with one value changed: refused.
        const auto refused = [&](const char* szName, const QByteArray& loginId, const QByteArray& user,
                                 const QByteArray& challenge, int iIterations, int iRandom) {
            QTest::newRow(szName) << loginId << user << challenge << iIterations << iRandom << -1;
        };
        refused("upper-case login id", admin.toUpper(), "admin", "4b3c9d2e", 1000, 123456);
        refused("wrong random", admin, "admin", "4b3c9d2e", 1000, 123457);
        refused("wrong iterations", admin, "admin", "4b3c9d2e", 999, 123456);
        refused("wrong challenge", admin, "admin", "4b3c9d2f", 1000, 123456);
        refused("wrong user", admin, "Admin", "4b3c9d2e", 1000, 123456);
        refused("login id with extra character", admin + "0", "admin", "4b3c9d2e", 1000, 123456);

        // The caller percent-decodes the user: the decoded at sign passes, the
        // raw form does not.
        const QByteArray mail = "6e538e77ea0436c5308033abe4ed8e62549946161c8801bb23b65e8993cf261b";
        QTest::newRow("decoded at sign, negative random")
            << mail << QByteArray::fromPercentEncoding("user%40example.com") << QByteArray("7f00aa") << 3 << -77 << 0;
        refused("still percent-encoded", mail, "user%40example.com", "7f00aa", 3, -77);

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

    // The login id a page builds, for inputs at and beyond the text bounds.
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
        QCOMPARE(checkWebConnectChallenge(webConnectLoginId(user, challenge, 5, 7), user, challenge, 5, 7), iResult);
    }
};

QTEST_APPLESS_MAIN(TestWebConnectChallenge)
#include "tst_webconnectchallenge.moc"
