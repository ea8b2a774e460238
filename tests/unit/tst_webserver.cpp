// The web server in this process, spoken to over loopback as pages do: HTTP
// requests the parser refuses or serves, keep-alive, 100-continue, the
// WebSocket upgrade, long polls, queued events, idle clients, disconnects,
// answers per uuid and shutdown. Module output is injected on the
// dispatcher's signal. Ports 27300-27399 (27399: a device simulator).
#include "DeviceSimProcess.h"
#include "HttpServerRequest.h"
#include "HttpTestClient.h"
#include "MessageDispatch.h"
#include "PageSocket.h"
#include "WebServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {
constexpr int kWaitMs = 5000;

QByteArray poll(const QString& strUuid) {
    return HttpTestClient::post(QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(strUuid).toUtf8());
}
QByteArray version(const QString& strUuid, const QString& strSequence) {
    return QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"%2"})")
        .arg(strUuid, strSequence)
        .toUtf8();
}
QString eventText(const QString& strUuid, int iNumber) {
    return QStringLiteral(R"({"cmd":"video.onDrawEvent","uuid":"%1","n":%2})").arg(strUuid).arg(iNumber);
}
QString sequenceOf(const QByteArray& baJson) {
    return QJsonDocument::fromJson(baJson).object().value("sequence").toString();
}
}  // namespace

class TestWebServer : public QObject {
    Q_OBJECT

    std::unique_ptr<WebServer> m_pServer;
    quint16 m_port = 0;

    void emitModuleOutput(const QString& strUuid, const QString& strText) {
        emit m_pServer->dispatcher()->messageResponse(strUuid, strText);
    }
    void emitModuleEvent(const QString& strUuid, const QString& strText) {
        emit m_pServer->dispatcher()->sigEvent(strUuid, strText);
    }
    // A poll that the server holds.
    std::unique_ptr<HttpTestClient> waitingPoll(const QString& strUuid) {
        auto pClient = std::make_unique<HttpTestClient>(m_port, poll(strUuid));
        if (!QTest::qWaitFor([&] { return m_pServer->hasPendingPoll(strUuid); }, kWaitMs)) return nullptr;
        return pClient;
    }
    QByteArray answerOf(const QByteArray& baRequest) { return HttpTestClient::answer(m_port, baRequest, kWaitMs); }

private slots:
    void init() {
        m_pServer = std::make_unique<WebServer>(nullptr);
        m_pServer->listenInRange(27300, 27400);
        QVERIFY(m_pServer->isListening());
        QCOMPARE(m_pServer->maxPendingConnections(), 1024);
        m_port = m_pServer->serverPort();
        // Long enough never to end a poll by itself unless a test wants it.
        m_pServer->setPollTimeoutMs(30000);
    }
    void cleanup() { m_pServer.reset(); }

    // What the parser serves (the start of everything received) and what
    // closes the connection without any answer (empty); either way the next
    // request with the same uuid gets its own answer.
    void rawRequests_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray body = version("X", "1");
        QTest::newRow("h2c upgrade served as plain HTTP")
            << "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade, HTTP2-Settings\r\nUpgrade: h2c\r\n"
               "HTTP2-Settings: AAMAAABkAAQAAP__\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body
            << QByteArray("HTTP/1.1 200 OK\r\n");
        QTest::newRow("100-continue sent with its body")
            << HttpTestClient::post(body, "Expect: 100-continue\r\n")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n");
        QTest::newRow("body not JSON") << HttpTestClient::post("not json at all") << QByteArray();
        QTest::newRow("uuid not UTF-8")
            << HttpTestClient::post(
                   "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"\xff\xfe\",\"sequence\":\"1\"}")
            << QByteArray();
        QTest::newRow("unknown command") << HttpTestClient::post(R"({"cmd":"window.noSuchCommand","uuid":"X"})")
                                         << QByteArray();
        QTest::newRow("bad header") << QByteArray("POST / HTTP/1.1\r\nBad Header: x\r\nContent-Length: 2\r\n\r\n{}")
                                    << QByteArray();
        QTest::newRow("not HTTP") << QByteArray("HELLO\r\n\r\n") << QByteArray();
        QTest::newRow("content-length with chunked")
            << QByteArray(
                   "POST / HTTP/1.1\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n")
            << QByteArray();
        QTest::newRow("headers over 80 KiB") << "GET / HTTP/1.1\r\nX-Big: " + QByteArray(81 * 1024, 'a') + "\r\n\r\n"
                                             << QByteArray();
        QTest::newRow("body over 2 MiB announced")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2097153\r\n\r\n{") << QByteArray();
        QTest::newRow("chunked body over 2 MiB") << "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n200001\r\n" +
                                                        QByteArray(0x200001, 'a') + "\r\n0\r\n\r\n"
                                                 << QByteArray();
    }
    void rawRequests() {
        QFETCH(QByteArray, raw);
        QFETCH(QByteArray, answer);
        HttpTestClient client(m_port, raw);
        QTRY_VERIFY_WITH_TIMEOUT(answer.isEmpty() ? client.isClosed() : client.hasAnswer(), kWaitMs);
        QVERIFY2(answer.isEmpty() ? client.received().isEmpty() : client.received().startsWith(answer),
                 client.received().left(200));
        if (!answer.isEmpty()) QCOMPARE(sequenceOf(client.body()), QStringLiteral("1"));
        QCOMPARE(sequenceOf(answerOf(HttpTestClient::post(version("X", "2")))), QStringLiteral("2"));
    }

    // Connections that reach the server in one turn of its loop, in order:
    // "dead" a request that is not HTTP (closed on arrival), "half" an
    // upgrade whose headers never end, "req" a whole request; "~300" lets
    // the server run for 300 ms in between. Each ends "answered" or
    // "closed" (unanswered).
    void admission_data() {
        QTest::addColumn<int>("iCap");
        QTest::addColumn<int>("iHandshakeMs");
        QTest::addColumn<QString>("clients");
        QTest::addColumn<QString>("outcomes");
        QTest::newRow("a connection that ended leaves the count at once") << 1 << 30000 << "dead req"
                                                                          << "closed answered";
        // Young handshakes stay (a burst of new clients), older ones give way.
        QTest::newRow("handshakes past a tenth of their deadline give way")
            << 4 << 1000 << "half half half half ~300 req"
            << "closed closed closed closed answered";
        QTest::newRow("handshake deadline") << 8 << 300 << "half req"
                                            << "closed answered";
    }
    void admission() {
        QFETCH(int, iCap);
        QFETCH(int, iHandshakeMs);
        QFETCH(QString, clients);
        QFETCH(QString, outcomes);
        m_pServer->setMaxConnections(iCap);
        m_pServer->setHandshakeDeadlineMs(iHandshakeMs);
        const QHash<QString, QByteArray> kinds{
            {"dead", "HELLO\r\n\r\n"},
            {"half", "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"},
            {"req", HttpTestClient::post(version("A", "1"))}};
        // Blocking calls: the server's loop does not run until all are sent.
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (const QString& strKind : clients.split(' ')) {
            if (strKind.startsWith('~')) {
                QTest::qWait(strKind.mid(1).toInt());
                continue;
            }
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, m_port);
            QVERIFY(sockets.back()->waitForConnected(kWaitMs));
            sockets.back()->write(kinds.value(strKind));
            QVERIFY(sockets.back()->waitForBytesWritten(kWaitMs));
        }
        QStringList listOutcomes;
        for (auto& pSocket : sockets) {
            QByteArray baReceived;
            const bool bEnded = QTest::qWaitFor(
                [&] {
                    baReceived += pSocket->readAll();
                    return baReceived.contains("\r\n\r\n") || pSocket->state() == QAbstractSocket::UnconnectedState;
                },
                kWaitMs);
            listOutcomes << (!bEnded ? "open" : baReceived.startsWith("HTTP/1.1 200") ? "answered" : "closed");
        }
        QCOMPARE(listOutcomes.join(' '), outcomes);
    }

    // Headers that arrive in small pieces are parsed piece by piece, each
    // byte once, and come out whole.
    void headersInPiecesAreParsedOnce() {
        const QByteArray baRequest =
            "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + QByteArray(40 * 1024, 'p') +
            "\r\nAccess-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: content-type, x-split\r\n\r\n";
        const quint64 iBefore = HttpServerRequest::parsedBytes();
        HttpTestClient client(m_port, QByteArray());
        for (int iAt = 0; iAt < baRequest.size(); iAt += 1000) {
            const quint64 iParsed = HttpServerRequest::parsedBytes();
            client.send(baRequest.mid(iAt, 1000));
            QVERIFY(QTest::qWaitFor([&] { return HttpServerRequest::parsedBytes() > iParsed; }, kWaitMs));
        }
        QTRY_VERIFY_WITH_TIMEOUT(client.received().contains("\r\n\r\n"), kWaitMs);
        QVERIFY2(client.received().contains("Access-Control-Allow-Headers: content-type, x-split\r\n"),
                 client.received().constData());
        QCOMPARE(HttpServerRequest::parsedBytes() - iBefore, quint64(baRequest.size()));
    }

    void continueIsSentBeforeTheBody() {
        const QByteArray body = version("c", "1");
        HttpTestClient client(m_port, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: " +
                                          QByteArray::number(body.size()) + "\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(client.received(), QByteArray("HTTP/1.1 100 Continue\r\n\r\n"), kWaitMs);
        client.send(body);
        QTRY_VERIFY_WITH_TIMEOUT(client.hasAnswer(), kWaitMs);
        QCOMPARE(sequenceOf(client.body()), QStringLiteral("1"));
    }

    // Requests sent at once on one connection are all answered in order,
    // and the connection stays open for more.
    void keptAliveConnectionIsServedAgain() {
        HttpTestClient client(m_port, HttpTestClient::post(R"({"cmd":"system.webconnect"})") +
                                          HttpTestClient::post(version("K", "a")) + poll("K"));
        QTRY_VERIFY_WITH_TIMEOUT(m_pServer->hasPendingPoll("K"), kWaitMs);
        emitModuleEvent("K", eventText("K", 1));
        QTRY_COMPARE_WITH_TIMEOUT(client.bodies().size(), 3, kWaitMs);
        QCOMPARE(QJsonDocument::fromJson(client.bodies()[0]).object().value("version").toString(),
                 QStringLiteral("1.0"));
        for (const char* szHeader : {"HTTP/1.1 200 OK\r\n", "Content-Type: text/html", "Access-Control-Allow-Origin: *",
                                     "Connection: keep-alive"})
            QVERIFY2(client.head().contains(szHeader), szHeader);
        QCOMPARE(sequenceOf(client.bodies()[1]), QStringLiteral("a"));
        QCOMPARE(client.bodies()[2], QByteArray("timeout"));
        client.send(HttpTestClient::post(version("K", "b")));
        QTRY_COMPARE_WITH_TIMEOUT(client.bodies().size(), 4, kWaitMs);
        QCOMPARE(sequenceOf(client.bodies()[3]), QStringLiteral("b"));
    }

    // An upgrade after an answered request on the same connection; the page
    // then speaks WebSocket frames on it.
    void upgradeAfterAnHttpRequest() {
        HttpTestClient client(m_port,
                              HttpTestClient::post(version("w", "1")) +
                                  "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        const QByteArray accept = "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n";
        const auto handshakeDone = [&] {
            const int iAt = client.received().indexOf(accept);
            return iAt > 0 && client.received().indexOf("\r\n\r\n", iAt) > 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(handshakeDone(), kWaitMs);
        QCOMPARE(sequenceOf(client.body()), QStringLiteral("1"));
        QVERIFY(client.received().contains("HTTP/1.1 101"));
        // One masked text frame with the connect command.
        const QByteArray text = R"({"cmd":"system.webconnect"})";
        QByteArray frame = "\x81" + QByteArray(1, char(0x80 | text.size())) + "\x01\x02\x03\x04";
        for (int i = 0; i < text.size(); ++i) frame += char(text[i] ^ (i % 4 + 1));
        const int iFrameAt = client.received().size();
        client.send(frame);
        QTRY_VERIFY_WITH_TIMEOUT(client.received().endsWith(R"("version":"1.0"})"), kWaitMs);
        QCOMPARE(uchar(client.received()[iFrameAt]), uchar(0x81));
    }

    // Many pages at once, each over WebSocket with an id of its own and over
    // HTTP with the same uuid: each reads its own answer.
    void manyClientsEachGetTheirOwnAnswers() {
        // The clients share the server's loop: all 200 may still be in
        // their handshake after its grace (a slow build), beyond the share
        // of the default cap.
        m_pServer->setMaxConnections(1000);
        std::vector<std::unique_ptr<PageSocket>> pages;
        std::vector<std::unique_ptr<HttpTestClient>> https;
        for (int i = 0; i < 100; ++i) {
            pages.push_back(std::make_unique<PageSocket>(m_port));
            https.push_back(
                std::make_unique<HttpTestClient>(m_port, HttpTestClient::post(version("X", QString::number(i)))));
        }
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::all_of(pages.begin(), pages.end(), [](const auto& pPage) { return pPage->isConnected(); });
            },
            kWaitMs));
        for (auto& pPage : pages) pPage->send(R"({"cmd":"system.webconnect"})");
        QSet<QString> ids;
        for (auto& pPage : pages) {
            QVERIFY(pPage->waitFor(1));
            ids.insert(QJsonDocument::fromJson(pPage->m_listReceived[0].toUtf8()).object().value("uuid").toString());
        }
        QCOMPARE(ids.size(), 100);
        for (int i = 0; i < 100; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(https[size_t(i)]->hasAnswer(), kWaitMs);
            QCOMPARE(https[size_t(i)]->bodies().size(), 1);
            QCOMPARE(sequenceOf(https[size_t(i)]->body()), QString::number(i));
        }
    }

    // Over WebSocket: the connection id; events arrive live (and
    // stay queued for a poll until a response goes to the page); the
    // transport's own commands other than the connect, and whatever no module
    // answers, are dropped.
    void webSocketPage() {
        PageSocket page(m_port);
        QVERIFY(page.open());
        const QString strId = page.uuid();
        QVERIFY(strId.size() == 38 && strId.startsWith('{') && strId.endsWith('}'));

        emitModuleEvent(strId, eventText(strId, 1));
        QVERIFY(page.waitFor(1));
        QCOMPARE(page.m_listReceived[0], eventText(strId, 1));
        QCOMPARE(m_pServer->queuedEvents(strId).size(), 1);

        page.send("this is not json");
        page.send(version(strId, "capital").replace("\"window.", "\"Window."));
        page.send(QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(strId).toUtf8());
        page.send(QStringLiteral(R"({"cmd":"window.noSuchCommand","uuid":"%1"})").arg(strId).toUtf8());
        page.send(version(strId, "last"));
        QVERIFY(page.waitFor(2));
        QCOMPARE(page.m_listReceived.size(), 2);
        QCOMPARE(sequenceOf(page.m_listReceived[1].toUtf8()), QStringLiteral("last"));
        QVERIFY(m_pServer->queuedEvents(strId).isEmpty());
    }

    void httpCommandTakesTheKeyOverFromAWebSocket() {
        PageSocket page(m_port);
        QVERIFY(page.open());
        QCOMPARE(sequenceOf(answerOf(HttpTestClient::post(version(page.uuid(), "h")))), QStringLiteral("h"));
        QVERIFY(!page.waitFor(1, 100));
    }

    void eventQueueIsBoundedPerClientAndDroppedWhenItsClientIsGone() {
        for (int i = 0; i < WebServer::kMaxQueuedEvents + 5; ++i) emitModuleEvent("U", eventText("U", i));
        const QStringList events = m_pServer->queuedEvents("U");
        QCOMPARE(events.size(), WebServer::kMaxQueuedEvents);
        QCOMPARE(events.first(), eventText("U", 5));
        // The byte bound: two events of 600 KiB do not fit together.
        const QString strBig =
            QStringLiteral(R"({"cmd":"video.onDrawEvent","uuid":"V","pad":"%1"})").arg(QString(600 * 1024, 'x'));
        emitModuleEvent("V", strBig);
        emitModuleEvent("V", eventText("V", 1));
        emitModuleEvent("V", strBig);
        QCOMPARE(m_pServer->queuedEvents("V"), (QStringList() << eventText("V", 1) << strBig));
        // Nobody polled for them: swept once the client counts as gone.
        m_pServer->sweep();
        QCOMPARE(m_pServer->queuedEvents("U").size(), WebServer::kMaxQueuedEvents);
        m_pServer->setClientExpiryMs(0);
        m_pServer->sweep();
        QVERIFY(m_pServer->queuedEvents("U").isEmpty());
        QVERIFY(m_pServer->queuedEvents("V").isEmpty());
    }

    // Long polls and queued events, as steps: "U=timeout" a poll of U and
    // its answer ("=1": event 1), "U#1" a command of U answered with its
    // sequence 1, "B:1" an event for B ("B:r" an answer for B), "~300" a
    // wait of 300 ms; "U?" a poll of U the server holds, "?=timeout" the
    // answer of the oldest held poll, "?!" aborts it (the server lets go). A client whose poll timed out, or whose other requests
    // were answered, and that stays away longer than the idle time is given
    // up: its next poll is answered "invalid", once.
    void polls_data() {
        QTest::addColumn<int>("iPollMs");
        QTest::addColumn<int>("iIdleMs");
        QTest::addColumn<QString>("steps");
        QTest::newRow("an event ends a held poll, the next fetches it") << 30000 << 30000 << "U? U:1 ?=timeout U=1";
        QTest::newRow("queued events come oldest first per client")
            << 30000 << 30000 << "U:0 V:0 U:1 U:2 U=0 U=1 U=2 V=0";
        QTest::newRow("a second poll replaces the first, which is answered")
            << 30000 << 30000 << "U? U? ?=timeout U:1 ?=timeout";
        QTest::newRow("given up: invalid once") << 50 << 100 << "U=timeout ~400 U=invalid U=timeout";
        QTest::newRow("given up: a client that only sends commands") << 50 << 100 << "U#1 ~400 U=invalid U=timeout";
        QTest::newRow("polling again in time re-arms the idle timer")
            << 50 << 300 << "U=timeout U=timeout ~450 U=invalid U=timeout";
        // Every poll ages the markers; one that reached -1 is dropped per
        // poll: after five polls in all, C polls like a new client.
        QTest::newRow("another client's polls age the markers")
            << 30 << 1000 << "A=timeout C=timeout ~1500 B:1 B=1 A=timeout B:2 B=2 B:3 B=3 B:4 B=4 C=timeout";
        // Output for an aborted poll must not reach a deleted worker; the
        // client is idle from the abort on and given up, its queued event
        // waits for the poll after that.
        QTest::newRow("an aborted poll is forgotten and its client ages")
            << 30000 << 150 << "U? ?! U:1 U:r ~400 U=invalid U=1";
    }
    void polls() {
        QFETCH(int, iPollMs);
        QFETCH(int, iIdleMs);
        QFETCH(QString, steps);
        m_pServer->setPollTimeoutMs(iPollMs);
        m_pServer->setIdleTimeoutMs(iIdleMs);
        std::vector<std::pair<QString, std::unique_ptr<HttpTestClient>>> held;
        for (const QString& strStep : steps.split(' ')) {
            const QString strClient = strStep.left(1);
            if (strStep.startsWith('~')) {
                QTest::qWait(strStep.mid(1).toInt());
            } else if (strStep.endsWith('?')) {
                held.emplace_back(strClient, std::make_unique<HttpTestClient>(m_port, poll(strClient)));
                QTRY_VERIFY_WITH_TIMEOUT(m_pServer->hasPendingPoll(strClient), kWaitMs);
            } else if (strStep == "?!") {
                held.front().second->abort();
                QTRY_VERIFY_WITH_TIMEOUT(!m_pServer->hasPendingPoll(held.front().first), kWaitMs);
                held.erase(held.begin());
            } else if (strStep.startsWith('?')) {
                QTRY_VERIFY_WITH_TIMEOUT(held.front().second->hasAnswer(), kWaitMs);
                QCOMPARE(QString::fromUtf8(held.front().second->body()), strStep.mid(2));
                held.erase(held.begin());
            } else if (strStep.endsWith(":r")) {
                emitModuleOutput(strClient, QStringLiteral(R"({"uuid":"%1","errorCode":0})").arg(strClient));
            } else if (strStep.contains('#')) {
                QCOMPARE(sequenceOf(answerOf(HttpTestClient::post(version(strClient, strStep.mid(2))))),
                         strStep.mid(2));
            } else if (strStep.contains(':')) {
                emitModuleEvent(strClient, eventText(strClient, strStep.mid(2).toInt()));
            } else {
                const QString strAnswer = strStep.mid(2);
                QCOMPARE(QString::fromUtf8(answerOf(poll(strClient))),
                         strAnswer.at(0).isDigit() ? eventText(strClient, strAnswer.toInt()) : strAnswer);
            }
        }
    }

    void disconnectEndsPollAndDropsEvents() {
        const auto disconnect = [](const QString& strUuid) {
            return HttpTestClient::post(
                QStringLiteral(R"({"cmd":"system.disconnect","uuid":"%1"})").arg(strUuid).toUtf8());
        };
        emitModuleEvent("W", eventText("W", 1));
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        QCOMPARE(answerOf(disconnect("U")), QByteArray("disconnect"));
        QTRY_VERIFY_WITH_TIMEOUT(pPoll->hasAnswer(), kWaitMs);
        QCOMPARE(pPoll->body(), QByteArray("timeout"));
        // Events queued for a client are dropped by its disconnect, and only
        // those: a disconnect without a uuid drops nobody else's.
        emitModuleEvent("X", eventText("X", 1));
        QCOMPARE(answerOf(disconnect("X")), QByteArray("disconnect"));
        QVERIFY(m_pServer->queuedEvents("X").isEmpty());
        QCOMPARE(answerOf(HttpTestClient::post(R"({"cmd":"system.disconnect"})")), QByteArray("disconnect"));
        QCOMPARE(m_pServer->queuedEvents("W"), (QStringList() << eventText("W", 1)));
    }

    // A request given up by its page while its answer is still to come (a
    // talk start against a device that answers in 1 s), then another
    // request of the same page: the late answer goes nowhere, never to the
    // second request, which gets its own.
    void lateAnswerOfAnAbandonedRequestGoesNowhere() {
        DeviceSimProcess device;
        QVERIFY(device.start(27399, {"--delay", "1000"}));
        const QJsonObject start = device.talkRequest("startTalk", "U", "1");
        auto pFirst = std::make_unique<HttpTestClient>(m_port, HttpTestClient::post(QJsonDocument(start).toJson()));
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->requestsWaiting("U"), 1, kWaitMs);
        pFirst->abort();
        QCOMPARE(sequenceOf(answerOf(HttpTestClient::post(version("U", "2")))), QStringLiteral("2"));
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->requestsWaiting("U"), 0, kWaitMs);
    }

    void shutdownWithOpenConnectionsClosesThemAll() {
        PageSocket page(m_port);
        QVERIFY(page.open());
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        HttpTestClient idle(m_port, QByteArray());
        HttpTestClient partial(m_port, "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
        QTest::qWait(100);
        m_pServer.reset();
        QTRY_VERIFY_WITH_TIMEOUT(pPoll->isClosed() && idle.isClosed() && partial.isClosed(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!page.isConnected(), kWaitMs);
    }
};

QTEST_MAIN(TestWebServer)
#include "tst_webserver.moc"
