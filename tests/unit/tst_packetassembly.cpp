#include "PacketAssembly.h"

#include <QtTest>

class TestPacketAssembly : public QObject {
    Q_OBJECT

    qint64 m_iNowMs = 1000000;

private slots:
    void init() {
        m_iNowMs = 1000000;
        PacketAssembly::setClockForTesting([this]() { return m_iNowMs; });
        PacketAssembly::clearForTesting();
    }
    void cleanupTestCase() { PacketAssembly::setClockForTesting({}); }

    void sequenceBound_data() {
        QTest::addColumn<int>("iHeld");
        QTest::addColumn<int>("iLast");
        QTest::addColumn<bool>("bAccepted");
        // The bound is the Base64 text of a decoded text just under 2 MiB.
        const int iMax = QByteArray(2 * 1024 * 1024 - 1, 'x').toBase64().size();
        QTest::newRow("exactly the bound") << iMax - 4 << 4 << true;
        QTest::newRow("one over with the last piece") << iMax - 4 << 5 << false;
        QTest::newRow("last piece alone over") << 0 << iMax + 1 << false;
    }
    void sequenceBound() {
        QFETCH(int, iHeld);
        QFETCH(int, iLast);
        QFETCH(bool, bAccepted);
        if (iHeld > 0) QVERIFY(PacketAssembly::appendPiece(QStringLiteral("s"), QString(iHeld, QLatin1Char('A'))));
        bool bOk = !bAccepted;
        const QString strPacket =
            PacketAssembly::takePacket(QStringLiteral("s"), QString(iLast, QLatin1Char('B')), &bOk);
        QCOMPARE(bOk, bAccepted);
        QCOMPARE(strPacket.size(), bAccepted ? iHeld + iLast : 0);
        QCOMPARE(PacketAssembly::sequenceCount(), 0);
    }

    // Once a piece was refused the request cannot be whole any more: later
    // pieces and the last one are refused too, and nothing stays held.
    void refusedSequenceStaysRefused() {
        const int iMax = PacketAssembly::kMaxSequenceChars;
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("s"), QString(iMax - 10, QLatin1Char('A'))));
        QVERIFY(!PacketAssembly::appendPiece(QStringLiteral("s"), QString(11, QLatin1Char('A'))));
        QCOMPARE(PacketAssembly::heldChars(), 1);  // only the key
        QVERIFY(!PacketAssembly::appendPiece(QStringLiteral("s"), QStringLiteral("A")));
        bool bOk = true;
        QCOMPARE(PacketAssembly::takePacket(QStringLiteral("s"), QStringLiteral("A"), &bOk), QString());
        QVERIFY(!bOk);
        QCOMPARE(PacketAssembly::sequenceCount(), 0);
        // The sequence value can be used again afterwards.
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("s"), QStringLiteral("A")));
    }

    void tableBound() {
        const QString strPiece(PacketAssembly::kMaxSequenceChars / 2, QLatin1Char('A'));
        int iAccepted = 0;
        for (int i = 0; i < 200; ++i) {
            if (PacketAssembly::appendPiece(QString::number(i), strPiece)) ++iAccepted;
        }
        QVERIFY(PacketAssembly::heldChars() <= PacketAssembly::kMaxTableChars);
        QCOMPARE(iAccepted, int(PacketAssembly::kMaxTableChars / (strPiece.size() + 2)));
        // Completing a request frees room for another.
        QCOMPARE(PacketAssembly::takePacket(QStringLiteral("0"), QString()).size(), strPiece.size());
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("new"), strPiece));
    }

    void expiry() {
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("old"), QStringLiteral("AAAA")));
        m_iNowMs += 30000;
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("young"), QStringLiteral("BBBB")));
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("old"), QStringLiteral("CCCC")));

        m_iNowMs += 29999;  // "old" is 59.999 s old
        QCOMPARE(PacketAssembly::takePacket(QStringLiteral("old"), QStringLiteral("D")), QStringLiteral("AAAACCCCD"));
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("old"), QStringLiteral("EEEE")));

        m_iNowMs += 30001;  // "young" is 60.000 s old: dropped, the last piece stands alone
        QCOMPARE(PacketAssembly::takePacket(QStringLiteral("young"), QStringLiteral("F")), QStringLiteral("F"));

        // Expired sequences are swept even when nobody asks for them, and
        // by the sweep timer when nobody sends anything at all.
        m_iNowMs += 60000;
        QVERIFY(PacketAssembly::appendPiece(QStringLiteral("other"), QStringLiteral("G")));
        QCOMPARE(PacketAssembly::sequenceCount(), 1);
        QCOMPARE(PacketAssembly::heldChars(), 6);
        m_iNowMs += 60000;
        PacketAssembly::sweepExpired();
        QCOMPARE(PacketAssembly::sequenceCount(), 0);
    }
};

QTEST_APPLESS_MAIN(TestPacketAssembly)
#include "tst_packetassembly.moc"
