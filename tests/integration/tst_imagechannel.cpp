// The image channel and the port-detection handshake against the real
// binary, spoken over loopback the way a page does: query-form GETs whose
// answers are BMP images, and "detectport" over a WebSocket.
// Ports 27700-27779 belong to this test.
#include "HttpTestClient.h"
#include "ImagePackets.h"
#include "PageSocket.h"
#include "ServiceProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

QList<QByteArray> cut(const QByteArray& packet, int iPieces) {
    QList<QByteArray> pieces;
    const int iLength = (packet.size() + iPieces - 1) / iPieces;
    for (int i = 0; i < packet.size(); i += iLength) pieces << packet.mid(i, iLength);
    return pieces;
}

QByteArray detectQuery(const QByteArray& user, const QByteArray& challenge, int iIterations, int iRandom) {
    return "&sessionID=" + webConnectLoginId(user, challenge, iIterations, iRandom) +
           "&user=" + user.toPercentEncoding() + "&challenge=" + challenge +
           "&iterations=" + QByteArray::number(iIterations) + "&random=" + QByteArray::number(iRandom);
}

bool isConnectReply(const QByteArray& text) {
    const QJsonObject reply = QJsonDocument::fromJson(text).object();
    return reply.size() == 4 && reply.value("errorCode") == QJsonValue(0) &&
           reply.value("errorModule") == QJsonValue(0) && reply.value("version") == QJsonValue("1.0") &&
           reply.value("uuid").toString().size() == 38;
}

}  // namespace

class TestImageChannel : public QObject {
    Q_OBJECT

    ServiceProcess* m_pService = nullptr;
    quint16 m_iPort = 0;

    // One GET on a connection of its own: the text of the answer image, or
    // "(none)" when the service closed the connection without one.
    QByteArray get(const QByteArray& query) {
        HttpTestClient client(m_iPort, "GET /?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        if (!QTest::qWaitFor([&] { return client.hasAnswer() || client.isClosed(); }, 10000)) return "(time-out)";
        if (!client.hasAnswer()) return client.received().isEmpty() ? "(none)" : "(broken)";
        const QByteArray head = client.head().toLower();
        if (!head.contains("content-type: image/bmp") || !head.contains("access-control-allow-origin: *"))
            return "(not an image)";
        return textOfImage(client.body());
    }
    // A request as pieces under one sequence: the texts of every answer.
    QList<QByteArray> sendInPieces(const QByteArray& json, int iPieces, const QByteArray& sequence) {
        QList<QByteArray> texts;
        const QList<QByteArray> pieces = cut(packetFor(json), iPieces);
        for (int i = 0; i < pieces.size(); ++i)
            texts << get("&data=" + pieces[i] + "&sequence=" + sequence +
                         (i == pieces.size() - 1 ? "&isLast=true" : ""));
        return texts;
    }

private slots:
    void initTestCase() {
        m_pService = new ServiceProcess(ServiceProcess::config(27700, "tst_imagechannel"));
        m_iPort = m_pService->startListening();
        QVERIFY2(m_iPort != 0, qPrintable(m_pService->log()));
    }
    void cleanupTestCase() { delete m_pService; }

    // Pieces are answered "continue", the last one with the answer; two
    // requests sent piece by piece in turn each get their own answer.
    void piecesOfInterleavedSequences() {
        const QList<QByteArray> a =
            cut(packetFor("{\"cmd\":\"system.webconnect\",\"pad\":\"aaaaaaaaaaaaaaaaaaaa\"}"), 3);
        const QList<QByteArray> b = cut(packetFor("{\"cmd\":\"system.disconnect\",\"uuid\":\"b\"}"), 3);
        QCOMPARE(get("&data=" + a[0] + "&sequence=A"), QByteArray("continue"));
        QCOMPARE(get("&data=" + b[0] + "&sequence=B"), QByteArray("continue"));
        QCOMPARE(get("&data=" + b[1] + "&sequence=B"), QByteArray("continue"));
        QCOMPARE(get("&data=" + a[1] + "&sequence=A"), QByteArray("continue"));
        QCOMPARE(get("&data=" + b[2] + "&sequence=B&isLast=true"), QByteArray("disconnect"));
        const QByteArray replyA = get("&data=" + a[2] + "&sequence=A&isLast=true");
        QVERIFY2(isConnectReply(replyA), replyA.constData());
    }

    // The login id's own rules are tst_webconnectchallenge's; here: the
    // values found in the query.
    void handshakeOverHttp_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("bPasses");
        const QByteArray good = detectQuery("user@example.com", "5f2c1a", 100, 4242);
        QTest::newRow("pass") << good << true;
        QTest::newRow("pass, user without encoding") << QByteArray(good).replace("%40", "@") << true;
        QTest::newRow("wrong random") << good.left(good.lastIndexOf('=') + 1) + "4243" << false;
        QTest::newRow("nothing at all") << QByteArray() << false;
        // Data placed first without "&" is not found: the query is a
        // handshake, which passes on its own values.
        const QByteArray data = "data=" + packetFor("{\"cmd\":\"system.webconnect\"}") + "&sequence=x&isLast=true";
        QTest::newRow("data first without &, good login") << data + good << true;
        QTest::newRow("data first without &, no login") << data << false;
    }
    void handshakeOverHttp() {
        QFETCH(QByteArray, query);
        QFETCH(bool, bPasses);
        QCOMPARE(get(query), bPasses ? QByteArray("detect") : QByteArray("(none)"));
    }

    void handshakeOverWebSocket_data() {
        QTest::addColumn<int>("iIterations");
        QTest::addColumn<bool>("bPasses");
        QTest::newRow("pass") << 7 << true;
        QTest::newRow("wrong iterations") << 8 << false;
    }
    void handshakeOverWebSocket() {
        QFETCH(int, iIterations);
        QFETCH(bool, bPasses);
        PageSocket page(m_iPort);
        QVERIFY(page.open());
        page.send(QJsonDocument(QJsonObject{{"cmd", "detectport"},
                                            {"sessionID", QString::fromLatin1(
                                                              webConnectLoginId("user@example.com", "ab12", 7, -99))},
                                            {"user", "user%40example.com"},
                                            {"challenge", "ab12"},
                                            {"iterations", iIterations},
                                            {"random", "-99"}})
                      .toJson());
        // A pass is answered with the connect reply, a failure with silence.
        QCOMPARE(page.waitFor(1, bPasses ? 10000 : 500), bPasses);
        if (bPasses) QVERIFY2(isConnectReply(page.m_listReceived[0].toUtf8()), qPrintable(page.m_listReceived[0]));
    }

    void overBoundRequestsGetInvalid() {
        // Inflates to 2 MiB: refused although the packet itself is small.
        const QByteArray huge = "{\"cmd\":\"system.webconnect\",\"pad\":\"" + QByteArray(2 * 1024 * 1024, 'x') + "\"}";
        QCOMPARE(sendInPieces(huge, 3, "big").last(), QByteArray("invalid"));

        // A sequence that grows past what a 2 MiB request can need: the
        // piece that crosses the bound and the rest get "invalid".
        const QByteArray piece(60000, 'A');
        int iContinues = 0;
        QByteArray first;
        for (int i = 0; i < 60 && first.isEmpty(); ++i) {
            const QByteArray text = get("&data=" + piece + "&sequence=long");
            if (text == "continue")
                ++iContinues;
            else
                first = text;
        }
        QCOMPARE(iContinues, 2796204 / 60000);
        QCOMPARE(first, QByteArray("invalid"));
        QCOMPARE(get("&data=AAAA&sequence=long&isLast=true"), QByteArray("invalid"));

        // Not a bound: a packet that decodes to nothing is dispatched as the
        // empty text, which no module answers. The service still serves.
        QCOMPARE(get("&data=bm90IHpsaWI=&sequence=broken&isLast=true"), QByteArray("(none)"));
        QVERIFY(isConnectReply(sendInPieces("{\"cmd\":\"system.webconnect\"}", 2, "after").last()));
    }
};

QTEST_GUILESS_MAIN(TestImageChannel)
#include "tst_imagechannel.moc"
