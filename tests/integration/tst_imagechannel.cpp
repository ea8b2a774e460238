// The image channel and the port-detection handshake against the real
// binary, spoken over loopback the way a page does: query-form GETs whose
// answers are BMP images, and "detectport" over a WebSocket.
// Ports 27700-27779 belong to this test.
#include "ImagePackets.h"
#include "ServiceProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

#include <zlib.h>

namespace {

QList<QByteArray> cut(const QByteArray& packet, int iPieces) {
    QList<QByteArray> pieces;
    const int iLength = (packet.size() + iPieces - 1) / iPieces;
    for (int i = 0; i < packet.size(); i += iLength) pieces << packet.mid(i, iLength);
    return pieces;
}

struct Login {
    QByteArray sessionID, user, challenge;
    int iIterations = 0;
    int iRandom = 0;
};

Login makeLogin(const QByteArray& user, const QByteArray& challenge, int iIterations, int iRandom) {
    return {webConnectLoginId(user, challenge, iIterations, iRandom), user, challenge, iIterations, iRandom};
}

QByteArray detectQuery(const Login& login) {
    return "&sessionID=" + login.sessionID + "&user=" + login.user.toPercentEncoding() + "&challenge=" +
           login.challenge + "&iterations=" + QByteArray::number(login.iIterations) +
           "&random=" + QByteArray::number(login.iRandom);
}

struct Answer {
    bool bAnswered = false;  // a complete response arrived
    QByteArray headers;      // lower-cased header block
    QByteArray body;
    QByteArray text() const { return textOfImage(body); }
    bool isImage() const {
        return headers.contains("content-type: image/bmp") && headers.contains("access-control-allow-origin: *");
    }
};

// One GET on a connection of its own; waits for the whole response or for
// the service to close the connection.
Answer get(quint16 port, const QByteArray& query, int iTimeoutMs = 10000) {
    Answer answer;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000)) return answer;
    socket.write("GET /?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < iTimeoutMs) {
        const int iHeaderEnd = received.indexOf("\r\n\r\n");
        if (iHeaderEnd >= 0) {
            answer.headers = received.left(iHeaderEnd).toLower();
            const int iAt = answer.headers.indexOf("content-length:");
            if (iAt >= 0) {
                const int iLength = answer.headers.mid(iAt + 15, answer.headers.indexOf('\r', iAt) - iAt - 15).trimmed().toInt();
                if (received.size() >= iHeaderEnd + 4 + iLength) {
                    answer.body = received.mid(iHeaderEnd + 4, iLength);
                    answer.bAnswered = answer.headers.startsWith("http/1.1 200");
                    return answer;
                }
            }
        }
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0) break;
        if (socket.waitForReadyRead(100)) received += socket.readAll();
    }
    received += socket.readAll();
    answer.headers = received.left(qMax(0, received.indexOf("\r\n\r\n"))).toLower();
    return answer;
}

// Sends a request as pieces under one sequence; returns the texts read from
// every answer image (an empty text where no image came).
QList<QByteArray> sendInPieces(quint16 port, const QByteArray& json, int iPieces, const QByteArray& sequence) {
    QList<QByteArray> texts;
    const QList<QByteArray> pieces = cut(packetFor(json), iPieces);
    for (int i = 0; i < pieces.size(); ++i) {
        const bool bLast = i == pieces.size() - 1;
        const Answer answer = get(port, "&data=" + pieces[i] + "&sequence=" + sequence + (bLast ? "&isLast=true" : ""));
        texts << (answer.bAnswered && answer.isImage() ? answer.text() : QByteArray());
    }
    return texts;
}

QJsonObject jsonOf(const QByteArray& text) { return QJsonDocument::fromJson(text).object(); }

bool isConnectReply(const QByteArray& text) {
    const QJsonObject reply = jsonOf(text);
    return reply.size() == 4 && reply.value("errorCode") == QJsonValue(0) && reply.value("errorModule") == QJsonValue(0) &&
           reply.value("version") == QJsonValue("1.0") && reply.value("uuid").toString().size() == 38;
}

}  // namespace

class TestImageChannel : public QObject {
    Q_OBJECT

    ServiceProcess* m_pService = nullptr;
    quint16 m_iPort = 0;

private slots:
    void initTestCase() {
        m_pService = new ServiceProcess(QJsonObject{
            {"ServicePortStart", 27700},
            {"ServicePortEnd", 27710},
            {"SingleInstance", QStringLiteral("tst_imagechannel-%1").arg(QCoreApplication::applicationPid())}});
        QVERIFY(m_pService->start());
        m_iPort = m_pService->waitForListening();
        QVERIFY2(m_iPort != 0, qPrintable(m_pService->log()));
    }
    void cleanupTestCase() { delete m_pService; }

    void threePiecesGetContinueContinueAnswer() {
        const QList<QByteArray> texts = sendInPieces(m_iPort, "{\"cmd\":\"system.webconnect\"}", 3, "three");
        QCOMPARE(texts.size(), 3);
        QCOMPARE(texts[0], QByteArray("continue"));
        QCOMPARE(texts[1], QByteArray("continue"));
        QVERIFY2(isConnectReply(texts[2]), texts[2].constData());
    }

    void answerImageHeaders() {
        const Answer answer = get(m_iPort, "&data=" + packetFor("{\"cmd\":\"system.webconnect\"}") + "&sequence=h&isLast=true");
        QVERIFY(answer.bAnswered);
        QVERIFY2(answer.isImage(), answer.headers.constData());
        QCOMPARE(answer.body.size(), 54 + 12 * ((answer.text().size() + 11) / 12));
    }

    void interleavedSequencesStayApart() {
        // Two "system.disconnect" requests for different clients, piece by
        // piece in turn: each answer must be the one for its own request.
        const QList<QByteArray> a = cut(packetFor("{\"cmd\":\"system.webconnect\",\"pad\":\"aaaaaaaaaaaaaaaaaaaa\"}"), 3);
        const QList<QByteArray> b = cut(packetFor("{\"cmd\":\"system.disconnect\",\"uuid\":\"b\"}"), 3);
        QCOMPARE(get(m_iPort, "&data=" + a[0] + "&sequence=A").text(), QByteArray("continue"));
        QCOMPARE(get(m_iPort, "&data=" + b[0] + "&sequence=B").text(), QByteArray("continue"));
        QCOMPARE(get(m_iPort, "&data=" + b[1] + "&sequence=B").text(), QByteArray("continue"));
        QCOMPARE(get(m_iPort, "&data=" + a[1] + "&sequence=A").text(), QByteArray("continue"));
        QCOMPARE(get(m_iPort, "&data=" + b[2] + "&sequence=B&isLast=true").text(), QByteArray("disconnect"));
        const QByteArray replyA = get(m_iPort, "&data=" + a[2] + "&sequence=A&isLast=true").text();
        QVERIFY2(isConnectReply(replyA), replyA.constData());
    }

    void handshakeOverHttp_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("bPasses");
        const Login good = makeLogin("user@example.com", "5f2c1a", 100, 4242);
        Login upper = good;
        upper.sessionID = good.sessionID.toUpper();
        Login wrongRandom = good;
        wrongRandom.iRandom = 4243;
        QTest::newRow("pass") << detectQuery(good) << true;
        QTest::newRow("pass, user without encoding") << QByteArray(detectQuery(good)).replace("%40", "@") << true;
        QTest::newRow("upper-case login id") << detectQuery(upper) << false;
        QTest::newRow("wrong random") << detectQuery(wrongRandom) << false;
        QTest::newRow("nothing at all") << QByteArray() << false;
        // Data placed first without "&" is not found: the query is a
        // handshake, which passes on its own values.
        QTest::newRow("data first without &, good login")
            << ("data=" + packetFor("{\"cmd\":\"system.webconnect\"}") + "&sequence=x&isLast=true" + detectQuery(good))
            << true;
        QTest::newRow("data first without &, no login")
            << ("data=" + packetFor("{\"cmd\":\"system.webconnect\"}") + "&sequence=x&isLast=true") << false;
        const Login longUser = makeLogin(QByteArray(100, 'u'), "c", 1, 1);  // request line over 127
        QTest::newRow("over-long user") << detectQuery(longUser) << false;
    }
    void handshakeOverHttp() {
        QFETCH(QByteArray, query);
        QFETCH(bool, bPasses);
        const Answer answer = get(m_iPort, query, 3000);
        if (bPasses) {
            QVERIFY2(answer.bAnswered && answer.isImage(), answer.headers.constData());
            QCOMPARE(answer.text(), QByteArray("detect"));
        } else {
            QVERIFY2(answer.body.isEmpty() && !answer.headers.contains("image/bmp"), answer.headers.constData());
        }
    }

    void handshakeOverWebSocket_data() {
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<bool>("bPasses");
        const Login good = makeLogin("user@example.com", "ab12", 7, -99);
        const QJsonObject pass{{"cmd", "detectport"},
                               {"sessionID", QString::fromLatin1(good.sessionID)},
                               {"user", QStringLiteral("user%40example.com")},
                               {"challenge", "ab12"},
                               {"iterations", 7},
                               {"random", "-99"}};
        QTest::newRow("pass") << pass << true;
        QJsonObject upper = pass;
        upper["sessionID"] = QString::fromLatin1(good.sessionID.toUpper());
        QTest::newRow("upper-case login id") << upper << false;
        QJsonObject wrong = pass;
        wrong["iterations"] = 8;
        QTest::newRow("wrong iterations") << wrong << false;
    }
    void handshakeOverWebSocket() {
        QFETCH(QJsonObject, request);
        QFETCH(bool, bPasses);
        QWebSocket socket;
        QSignalSpy connected(&socket, &QWebSocket::connected);
        QSignalSpy received(&socket, &QWebSocket::textMessageReceived);
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(m_iPort)));
        QVERIFY(connected.wait(5000));
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        if (bPasses) {
            QVERIFY(received.wait(5000));
            QVERIFY2(isConnectReply(received.at(0).at(0).toString().toUtf8()), qPrintable(received.at(0).at(0).toString()));
        } else {
            // Silence; the same socket still answers a proper request.
            QVERIFY(!received.wait(500));
            socket.sendTextMessage(QStringLiteral("{\"cmd\":\"system.webconnect\"}"));
            QVERIFY(received.wait(5000));
            QVERIFY(isConnectReply(received.at(0).at(0).toString().toUtf8()));
        }
    }

    // Many connections at once, each with a request of its own: every one
    // must read its own answer (here its own connect reply, whose uuid no
    // other connection gets).
    void overBoundRequestsGetInvalid() {
        // Inflates to 2 MiB: refused although the packet itself is small.
        const QByteArray huge = "{\"cmd\":\"system.webconnect\",\"pad\":\"" + QByteArray(2 * 1024 * 1024, 'x') + "\"}";
        QCOMPARE(sendInPieces(m_iPort, huge, 3, "big").last(), QByteArray("invalid"));

        // A sequence that grows past what a 2 MiB request can need: the
        // piece that crosses the bound and the rest get "invalid".
        const QByteArray piece(60000, 'A');
        int iContinues = 0;
        QByteArray first;
        for (int i = 0; i < 60 && first.isEmpty(); ++i) {
            const QByteArray text = get(m_iPort, "&data=" + piece + "&sequence=long").text();
            if (text == "continue") ++iContinues; else first = text;
        }
        QCOMPARE(iContinues, 2796204 / 60000);
        QCOMPARE(first, QByteArray("invalid"));
        QCOMPARE(get(m_iPort, "&data=AAAA&sequence=long&isLast=true").text(), QByteArray("invalid"));

        // The service is still fine.
        QVERIFY(isConnectReply(sendInPieces(m_iPort, "{\"cmd\":\"system.webconnect\"}", 2, "after").last()));
    }

    void brokenPacketIsDispatchedEmpty() {
        // Not a bound: a packet that decodes to nothing is dispatched as the
        // empty text, which no module answers; a fresh request still works.
        const Answer answer = get(m_iPort, "&data=" + QByteArray("bm90IHpsaWI=") + "&sequence=broken&isLast=true", 1500);
        QVERIFY(answer.body.isEmpty());
        QVERIFY(isConnectReply(sendInPieces(m_iPort, "{\"cmd\":\"system.webconnect\"}", 1, "fine").last()));
    }
};

QTEST_GUILESS_MAIN(TestImageChannel)
#include "tst_imagechannel.moc"
