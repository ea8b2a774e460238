// The web server's tables in one process: long polls, queued events, idle
// clients, disconnects, aborted polls, answers per uuid and shutdown. Module
// output is injected on the dispatcher's signal. Ports 27300-27399.
#include "HttpTestClient.h"
#include "MessageDispatch.h"
#include "WebServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace {
constexpr int kFirstPort = 27300;
constexpr int kEndPort = 27400;
constexpr int kWaitMs = 5000;

QByteArray poll(const QString& strUuid) {
    return HttpTestClient::post(QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(strUuid).toUtf8());
}
QByteArray disconnectRequest(const QString& strUuid) {
    return HttpTestClient::post(QStringLiteral(R"({"cmd":"system.disconnect","uuid":"%1"})").arg(strUuid).toUtf8());
}
QString eventText(const QString& strUuid, int iNumber) {
    return QStringLiteral(R"({"cmd":"video.onDrawEvent","uuid":"%1","n":%2})").arg(strUuid).arg(iNumber);
}
}  // namespace

class TestWebServer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<WebServer> m_pServer;
    quint16 m_port = 0;

    void emitModuleOutput(const QString& strUuid, const QString& strText) {
        emit m_pServer->dispatcher()->messageResponse(strUuid, strText);
    }
    // A poll that the server holds.
    std::unique_ptr<HttpTestClient> waitingPoll(const QString& strUuid) {
        auto pClient = std::make_unique<HttpTestClient>(m_port, poll(strUuid));
        if (!QTest::qWaitFor([&] { return m_pServer->hasPendingPoll(strUuid); }, kWaitMs)) return nullptr;
        return pClient;
    }
    QByteArray answerOf(const QByteArray& baRequest) {
        HttpTestClient client(m_port, baRequest);
        QTest::qWaitFor([&] { return client.hasAnswer() || client.isClosed(); }, kWaitMs);
        return client.body();
    }

private slots:
    void init() {
        m_pServer = std::make_unique<WebServer>(nullptr);
        m_pServer->listenInRange(kFirstPort, kEndPort);
        QVERIFY(m_pServer->isListening());
        m_port = m_pServer->serverPort();
        // Long enough never to end a poll by itself unless a test wants it.
        m_pServer->setPollTimeoutMs(30000);
    }
    void cleanup() { m_pServer.reset(); }

    void eventWhilePollWaitsEndsItThenIsFetched() {
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        emitModuleOutput("U", eventText("U", 1));
        QTRY_VERIFY_WITH_TIMEOUT(pPoll->hasAnswer(), kWaitMs);
        QCOMPARE(pPoll->body(), QByteArray("timeout"));
        QVERIFY(pPoll->head().contains("Access-Control-Allow-Origin: *"));
        QCOMPARE(answerOf(poll("U")), eventText("U", 1).toUtf8());
        QVERIFY(m_pServer->queuedEvents("U").isEmpty());
    }

    void queuedEventsComeOldestFirstPerClient() {
        emitModuleOutput("U", eventText("U", 1));
        emitModuleOutput("V", eventText("V", 1));
        emitModuleOutput("U", eventText("U", 2));
        emitModuleOutput("U", eventText("U", 3));
        QCOMPARE(answerOf(poll("U")), eventText("U", 1).toUtf8());
        QCOMPARE(answerOf(poll("U")), eventText("U", 2).toUtf8());
        QCOMPARE(answerOf(poll("U")), eventText("U", 3).toUtf8());
        QVERIFY(m_pServer->queuedEvents("U").isEmpty());
        QCOMPARE(m_pServer->queuedEvents("V"), (QStringList() << eventText("V", 1)));
        QCOMPARE(answerOf(poll("V")), eventText("V", 1).toUtf8());
    }

    void eventQueueIsBoundedPerClientAndDroppedWhenItsClientIsGone() {
        for (int i = 0; i < WebServer::kMaxQueuedEvents + 5; ++i) emitModuleOutput("U", eventText("U", i));
        const QStringList events = m_pServer->queuedEvents("U");
        QCOMPARE(events.size(), WebServer::kMaxQueuedEvents);
        QCOMPARE(events.first(), eventText("U", 5));
        // The byte bound: two events of 600 KiB do not fit together.
        const QString strBig = QStringLiteral(R"({"cmd":"video.onDrawEvent","uuid":"V","pad":"%1"})").arg(QString(600 * 1024, 'x'));
        emitModuleOutput("V", strBig);
        emitModuleOutput("V", eventText("V", 1));
        emitModuleOutput("V", strBig);
        QCOMPARE(m_pServer->queuedEvents("V"), (QStringList() << eventText("V", 1) << strBig));
        // Nobody polled for them: swept once the client counts as gone.
        m_pServer->sweep();
        QCOMPARE(m_pServer->queuedEvents("U").size(), WebServer::kMaxQueuedEvents);
        m_pServer->setClientExpiryMs(0);
        m_pServer->sweep();
        QVERIFY(m_pServer->queuedEvents("U").isEmpty());
        QVERIFY(m_pServer->queuedEvents("V").isEmpty());
    }

    void httpCommandTakesTheKeyOverFromAWebSocket() {
        QWebSocket socket;
        QStringList received;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&](const QString& s) { received << s; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(m_port)));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, kWaitMs);
        socket.sendTextMessage(R"({"cmd":"system.webconnect"})");
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, kWaitMs);
        const QString strId = QJsonDocument::fromJson(received[0].toUtf8()).object().value("uuid").toString();
        const QByteArray baAnswer = answerOf(HttpTestClient::post(
            QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"h"})").arg(strId).toUtf8()));
        QCOMPARE(QJsonDocument::fromJson(baAnswer).object().value("sequence").toString(), QStringLiteral("h"));
        QTest::qWait(100);
        QCOMPARE(received.size(), 1);
    }

    void pollTimesOutThenGivenUpClientIsInvalidOnce() {
        m_pServer->setPollTimeoutMs(50);
        m_pServer->setIdleTimeoutMs(100);
        QCOMPARE(answerOf(poll("U")), QByteArray("timeout"));
        // The idle timer fires when the client stays away.
        QTest::qWait(400);
        QCOMPARE(answerOf(poll("U")), QByteArray("invalid"));
        // The marker is used up: the next poll waits like any other.
        m_pServer->setPollTimeoutMs(30000);
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        QVERIFY(!pPoll->hasAnswer());
    }

    void givenUpClientIsInvalidOnlyWithoutAnotherPollBetween() {
        m_pServer->setPollTimeoutMs(30);
        m_pServer->setIdleTimeoutMs(60);
        QCOMPARE(answerOf(poll("A")), QByteArray("timeout"));
        QCOMPARE(answerOf(poll("C")), QByteArray("timeout"));
        QTest::qWait(300);  // both given up
        m_pServer->setPollTimeoutMs(30000);
        // Another client's poll ages the markers: A's no longer counts.
        emitModuleOutput("B", eventText("B", 1));
        QCOMPARE(answerOf(poll("B")), eventText("B", 1).toUtf8());
        auto pPoll = waitingPoll("A");
        QVERIFY(pPoll);
        QVERIFY(!pPoll->hasAnswer());
        // Markers reaching -1 are dropped one per poll: after five polls in
        // all, C polls like a new client.
        for (int i = 2; i <= 4; ++i) {
            emitModuleOutput("B", eventText("B", i));
            QCOMPARE(answerOf(poll("B")), eventText("B", i).toUtf8());
        }
        auto pPollC = waitingPoll("C");
        QVERIFY(pPollC);
        QVERIFY(!pPollC->hasAnswer());
    }

    void pollingAgainInTimeKeepsTheClient() {
        m_pServer->setPollTimeoutMs(50);
        m_pServer->setIdleTimeoutMs(300);
        QCOMPARE(answerOf(poll("U")), QByteArray("timeout"));
        QCOMPARE(answerOf(poll("U")), QByteArray("timeout"));
        QTest::qWait(450);
        // The second poll killed the first idle timer and armed a new one,
        // which fired in the wait above; without polling in between the
        // client is given up only once.
        QCOMPARE(answerOf(poll("U")), QByteArray("invalid"));
        QCOMPARE(answerOf(poll("U")), QByteArray("timeout"));
    }

    void disconnectEndsPollAndDropsEvents() {
        emitModuleOutput("W", eventText("W", 1));
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        QCOMPARE(answerOf(disconnectRequest("U")), QByteArray("disconnect"));
        QTRY_VERIFY_WITH_TIMEOUT(pPoll->hasAnswer(), kWaitMs);
        QCOMPARE(pPoll->body(), QByteArray("timeout"));

        // Events queued for a client are dropped by its disconnect.
        emitModuleOutput("X", eventText("X", 1));
        emitModuleOutput("X", eventText("X", 2));
        QCOMPARE(answerOf(disconnectRequest("X")), QByteArray("disconnect"));
        QVERIFY(m_pServer->queuedEvents("X").isEmpty());
        QCOMPARE(m_pServer->queuedEvents("W"), (QStringList() << eventText("W", 1)));
        // A disconnect without a uuid drops nobody else's events.
        QCOMPARE(answerOf(HttpTestClient::post(R"({"cmd":"system.disconnect"})")), QByteArray("disconnect"));
        QCOMPARE(m_pServer->queuedEvents("W"), (QStringList() << eventText("W", 1)));
    }

    void secondPollReplacesFirstWhichIsAnswered() {
        auto pFirst = waitingPoll("U");
        QVERIFY(pFirst);
        HttpTestClient second(m_port, poll("U"));
        QTRY_VERIFY_WITH_TIMEOUT(pFirst->hasAnswer(), kWaitMs);
        QCOMPARE(pFirst->body(), QByteArray("timeout"));
        QVERIFY(m_pServer->hasPendingPoll("U"));
        emitModuleOutput("U", eventText("U", 1));
        QTRY_VERIFY_WITH_TIMEOUT(second.hasAnswer(), kWaitMs);
        QCOMPARE(second.body(), QByteArray("timeout"));
    }

    void abortedPollIsForgottenAndClientAges() {
        m_pServer->setIdleTimeoutMs(150);
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        pPoll->abort();
        QTRY_VERIFY_WITH_TIMEOUT(!m_pServer->hasPendingPoll("U"), kWaitMs);
        // Output for the departed poll must not reach a deleted worker.
        emitModuleOutput("U", eventText("U", 1));
        emitModuleOutput("U", R"({"uuid":"U","errorCode":0})");
        // The client is idle from the abort on and is given up.
        QTest::qWait(400);
        QCOMPARE(answerOf(poll("U")), QByteArray("invalid"));
        // Its queued event waited for the poll after that.
        QCOMPARE(answerOf(poll("U")), eventText("U", 1).toUtf8());
    }

    void commandsWithTheSameUuidEachGetTheirOwnAnswer() {
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 6; ++i) {
            const QByteArray baBody =
                QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"X","sequence":"%1"})").arg(i).toUtf8();
            clients.push_back(std::make_unique<HttpTestClient>(m_port, HttpTestClient::post(baBody)));
        }
        for (int i = 0; i < 6; ++i) {
            HttpTestClient& client = *clients[static_cast<size_t>(i)];
            QTRY_VERIFY_WITH_TIMEOUT(client.hasAnswer(), kWaitMs);
            QCOMPARE(client.bodies().size(), 1);
            const QJsonObject response = QJsonDocument::fromJson(client.body()).object();
            QCOMPARE(response.value("sequence").toString(), QString::number(i));
        }
    }

    void droppedCommandClosesWithoutAnswerAndDoesNotStealTheNext() {
        HttpTestClient dropped(m_port, HttpTestClient::post(R"({"cmd":"window.noSuchCommand","uuid":"X"})"));
        QTRY_VERIFY_WITH_TIMEOUT(dropped.isClosed(), kWaitMs);
        QVERIFY(!dropped.hasAnswer());
        const QByteArray baAnswer =
            answerOf(HttpTestClient::post(R"({"cmd":"window.getLocalServiceVersion","uuid":"X","sequence":"2"})"));
        QCOMPARE(QJsonDocument::fromJson(baAnswer).object().value("sequence").toString(), QStringLiteral("2"));
    }

    void webSocketGetsEventsLiveAndResponsesClearThem() {
        QWebSocket socket;
        QStringList received;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&](const QString& s) { received << s; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(m_port)));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, kWaitMs);
        socket.sendTextMessage(R"({"cmd":"system.webconnect"})");
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, kWaitMs);
        const QString strId = QJsonDocument::fromJson(received[0].toUtf8()).object().value("uuid").toString();
        QCOMPARE(strId.size(), 38);

        emitModuleOutput(strId, eventText(strId, 1));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, kWaitMs);
        QCOMPARE(received[1], eventText(strId, 1));
        QCOMPARE(m_pServer->queuedEvents(strId).size(), 1);

        socket.sendTextMessage(
            QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"1"})").arg(strId));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 3, kWaitMs);
        QVERIFY(received[2].contains("localServiceVersion"));
        QVERIFY(m_pServer->queuedEvents(strId).isEmpty());
    }

    void keptAliveConnectionIsServedAgain() {
        const QByteArray baVersion = HttpTestClient::post(R"({"cmd":"window.getLocalServiceVersion","uuid":"K","sequence":"a"})");
        HttpTestClient client(m_port, HttpTestClient::post(R"({"cmd":"system.webconnect"})") + baVersion + poll("K"));
        QTRY_VERIFY_WITH_TIMEOUT(m_pServer->hasPendingPoll("K"), kWaitMs);
        emitModuleOutput("K", eventText("K", 1));
        QTRY_COMPARE_WITH_TIMEOUT(client.bodies().size(), 3, kWaitMs);
        const QList<QByteArray> bodies = client.bodies();
        QVERIFY(bodies[0].contains(R"("version":"1.0")"));
        QVERIFY(bodies[1].contains(R"("sequence":"a")"));
        QCOMPARE(bodies[2], QByteArray("timeout"));
    }

    void shutdownWithOpenConnectionsEndsEveryThread() {
        QWebSocket socket;
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(m_port)));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, kWaitMs);
        auto pPoll = waitingPoll("U");
        QVERIFY(pPoll);
        HttpTestClient idle(m_port, QByteArray());
        HttpTestClient partial(m_port, "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
        QTest::qWait(100);
        m_pServer.reset();
        QTRY_VERIFY_WITH_TIMEOUT(pPoll->isClosed(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(idle.isClosed() && partial.isClosed(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    }
};

QTEST_MAIN(TestWebServer)
#include "tst_webserver.moc"
