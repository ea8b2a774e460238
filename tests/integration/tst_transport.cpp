// The real service binary as pages reach it: WebSocket and HTTP on one port,
// the connect reply, routing, malformed requests and many clients at once.
// Ports 27200-27299 belong to this test.
#include "HttpTestClient.h"
#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
constexpr int kWaitMs = 10000;

QJsonObject config(int iStart, const char* szKey) {
    return QJsonObject{{"ServicePortStart", iStart},
                       {"ServicePortEnd", iStart + 10},
                       {"SingleInstance", QStringLiteral("tst_transport-%1-%2")
                                              .arg(QCoreApplication::applicationPid())
                                              .arg(QLatin1String(szKey))}};
}

QJsonObject json(const QByteArray& baText) {
    return QJsonDocument::fromJson(baText).object();
}

QByteArray version(const QString& strUuid, const QString& strSequence) {
    return QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"%2"})")
        .arg(strUuid, strSequence)
        .toUtf8();
}

// A page's WebSocket.
class PageSocket : public QObject {
public:
    explicit PageSocket(quint16 port) {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& s) { m_listReceived << s; });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    }
    bool waitConnected() {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kWaitMs);
    }
    void send(const QByteArray& baText) { m_socket.sendTextMessage(QString::fromUtf8(baText)); }
    bool waitFor(int iCount) {
        return QTest::qWaitFor([&] { return m_listReceived.size() >= iCount; }, kWaitMs);
    }
    // Sends "system.webconnect" and returns the connection id.
    QString connectReplyUuid() {
        const int iBefore = m_listReceived.size();
        send(R"({"cmd":"system.webconnect"})");
        if (!waitFor(iBefore + 1)) return QString();
        return json(m_listReceived[iBefore].toUtf8()).value("uuid").toString();
    }
    QStringList m_listReceived;
    QWebSocket m_socket;
};
}  // namespace

class TestTransport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ServiceProcess> m_pService;
    quint16 m_port = 0;

    QByteArray answerOf(const QByteArray& baRequest) {
        HttpTestClient client(m_port, baRequest);
        static_cast<void>(QTest::qWaitFor([&] { return client.hasAnswer() || client.isClosed(); }, kWaitMs));
        return client.body();
    }
    // Sends a raw request and reports whether the server closed the
    // connection without any answer.
    bool closedWithoutAnswer(const QByteArray& baRaw) {
        HttpTestClient client(m_port, baRaw);
        if (!QTest::qWaitFor([&] { return client.isClosed(); }, kWaitMs)) return false;
        return client.received().isEmpty();
    }

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(ServiceProcess::binaryPath()));
        m_pService = std::make_unique<ServiceProcess>(config(27200, "main"));
        QVERIFY(m_pService->start());
        m_port = m_pService->waitForListening();
        QVERIFY(m_port != 0);
    }

    void cleanupTestCase() {
        QVERIFY(m_pService->isRunning());
        m_pService->terminate();
        QVERIFY(m_pService->waitForFinished());
        QCOMPARE(m_pService->exitCode(), 0);
    }

    void twoWebSocketClientsGetDifferentIds() {
        PageSocket first(m_port), second(m_port);
        QVERIFY(first.waitConnected() && second.waitConnected());
        const QString strFirst = first.connectReplyUuid();
        const QString strSecond = second.connectReplyUuid();
        QCOMPARE(strFirst.size(), 38);
        QVERIFY(strFirst.startsWith('{') && strFirst.endsWith('}'));
        QVERIFY(strFirst != strSecond);
        QCOMPARE(first.m_listReceived[0],
                 QStringLiteral(R"({"errorCode":0,"errorModule":0,"uuid":"%1","version":"1.0"})").arg(strFirst));
    }

    void webSocketCommandsAndWhatIsDropped() {
        PageSocket page(m_port);
        QVERIFY(page.waitConnected());
        const QString strId = page.connectReplyUuid();
        // Dropped without an answer: not JSON, capital module, "system"
        // command other than the connect, unknown command.
        page.send("this is not json");
        page.send(version(strId, "capital").replace("\"window.", "\"Window."));
        page.send(QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(strId).toUtf8());
        page.send(QStringLiteral(R"({"cmd":"window.noSuchCommand","uuid":"%1"})").arg(strId).toUtf8());
        page.send(version(strId, "last"));
        QVERIFY(page.waitFor(2));
        QTest::qWait(100);
        QCOMPARE(page.m_listReceived.size(), 2);
        const QJsonObject response = json(page.m_listReceived[1].toUtf8());
        QCOMPARE(response.value("sequence").toString(), QStringLiteral("last"));
        QCOMPARE(response.value("uuid").toString(), strId);
        QCOMPARE(response.value("localServiceVersion").toString(), QStringLiteral("1.0.3"));
    }

    void httpConnectReplyAndCommand() {
        HttpTestClient client(m_port, HttpTestClient::post(R"({"cmd":"system.webconnect"})"));
        QTRY_VERIFY_WITH_TIMEOUT(client.hasAnswer(), kWaitMs);
        QVERIFY(client.head().startsWith("HTTP/1.1 200 OK"));
        QVERIFY(client.head().contains("Content-Type: text/html"));
        QVERIFY(client.head().contains("Access-Control-Allow-Origin: *"));
        QCOMPARE(json(client.body()).value("version").toString(), QStringLiteral("1.0"));
        QVERIFY(client.head().contains("Connection: keep-alive"));

        const QJsonObject response = json(answerOf(HttpTestClient::post(version("page-7", "12"))));
        QCOMPARE(response.value("uuid").toString(), QStringLiteral("page-7"));
        QCOMPARE(response.value("sequence").toString(), QStringLiteral("12"));
    }

    void expectContinueGetsTheInterimResponse() {
        const QByteArray baBody = version("c", "1");
        HttpTestClient client(m_port, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: " +
                                          QByteArray::number(baBody.size()) + "\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(client.received().startsWith("HTTP/1.1 100 Continue\r\n\r\n"), kWaitMs);
        QVERIFY(!client.hasAnswer());
        client.send(baBody);
        QTRY_VERIFY_WITH_TIMEOUT(client.hasAnswer(), kWaitMs);
        QCOMPARE(json(client.body()).value("sequence").toString(), QStringLiteral("1"));
        // Sent at once with its body, the request still gets it first.
        HttpTestClient eager(m_port, HttpTestClient::post(baBody, "Expect: 100-continue\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(eager.hasAnswer(), kWaitMs);
        QVERIFY(eager.received().startsWith("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK"));
    }

    void pipelinedRequestsOnOneConnectionAreAllAnswered() {
        HttpTestClient client(m_port, HttpTestClient::post(version("k", "1")) + HttpTestClient::post(version("k", "2")) +
                                          HttpTestClient::post(R"({"cmd":"system.webconnect"})"));
        QTRY_COMPARE_WITH_TIMEOUT(client.bodies().size(), 3, kWaitMs);
        QCOMPARE(json(client.bodies()[0]).value("sequence").toString(), QStringLiteral("1"));
        QCOMPARE(json(client.bodies()[1]).value("sequence").toString(), QStringLiteral("2"));
        QCOMPARE(json(client.bodies()[2]).value("version").toString(), QStringLiteral("1.0"));
    }

    void upgradeAfterAnHttpRequestOnTheSameConnection() {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket.waitForConnected(kWaitMs));
        socket.write(HttpTestClient::post(version("w", "1")) +
                     "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QByteArray baData;
        const auto readUntil = [&](const QByteArray& baText) {
            return QTest::qWaitFor([&] {
                baData += socket.readAll();
                return baData.contains(baText) || socket.state() != QAbstractSocket::ConnectedState;
            }, kWaitMs);
        };
        QVERIFY(readUntil("HTTP/1.1 101"));
        QVERIFY(baData.contains(R"("sequence":"1")"));
        QVERIFY(readUntil("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="));
        QVERIFY(QTest::qWaitFor([&] {
            baData += socket.readAll();
            return baData.indexOf("\r\n\r\n", baData.indexOf("HTTP/1.1 101")) > 0;
        }, kWaitMs));
        // One masked text frame with the connect command.
        const QByteArray baText = R"({"cmd":"system.webconnect"})";
        const QByteArray baMask("\x01\x02\x03\x04", 4);
        QByteArray baFrame("\x81");
        baFrame += static_cast<char>(0x80 | baText.size());
        baFrame += baMask;
        for (int i = 0; i < baText.size(); ++i) baFrame += static_cast<char>(baText[i] ^ baMask[i % 4]);
        baData.clear();
        socket.write(baFrame);
        QVERIFY(readUntil(R"("version":"1.0"})"));
        QCOMPARE(static_cast<uchar>(baData[0]), uchar(0x81));
    }

    void unanswerableRequestsCloseTheConnection_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("body not JSON") << HttpTestClient::post("not json at all");
        QTest::newRow("unknown module") << HttpTestClient::post(R"({"cmd":"Window.getLocalServiceVersion","uuid":"u"})");
        QTest::newRow("bad header") << QByteArray("POST / HTTP/1.1\r\nBad Header: x\r\nContent-Length: 2\r\n\r\n{}");
        QTest::newRow("not HTTP") << QByteArray("HELLO\r\n\r\n");
        QTest::newRow("content-length with chunked")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n");
        QTest::newRow("headers over 80 KiB")
            << "GET / HTTP/1.1\r\nX-Big: " + QByteArray(81 * 1024, 'a') + "\r\n\r\n";
        QTest::newRow("body over 2 MiB announced") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2097153\r\n\r\n{");
        QTest::newRow("chunked body over 2 MiB")
            << "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n200001\r\n" + QByteArray(0x200001, 'a') + "\r\n0\r\n\r\n";
    }
    void unanswerableRequestsCloseTheConnection() {
        QFETCH(QByteArray, raw);
        QVERIFY(closedWithoutAnswer(raw));
        // The service still serves.
        QCOMPARE(json(answerOf(HttpTestClient::post(version("after", "1")))).value("sequence").toString(),
                 QStringLiteral("1"));
    }

    void h2cUpgradeIsServedAsPlainHttp() {
        const QByteArray baBody = version("h", "1");
        HttpTestClient client(m_port, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade, HTTP2-Settings\r\n"
                                      "Upgrade: h2c\r\nHTTP2-Settings: AAMAAABkAAQAAP__\r\nContent-Length: " +
                                          QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody);
        QTRY_VERIFY_WITH_TIMEOUT(client.hasAnswer(), kWaitMs);
        QCOMPARE(json(client.body()).value("uuid").toString(), QStringLiteral("h"));
    }

    void aHundredClientsAtOnce() {
        std::vector<std::unique_ptr<PageSocket>> pages;
        std::vector<std::unique_ptr<HttpTestClient>> https;
        for (int i = 0; i < 100; ++i) {
            pages.push_back(std::make_unique<PageSocket>(m_port));
            https.push_back(std::make_unique<HttpTestClient>(m_port, HttpTestClient::post(version(QString::number(i), "s"))));
        }
        QSet<QString> ids;
        for (auto& pPage : pages) {
            QVERIFY(pPage->waitConnected());
            pPage->send(R"({"cmd":"system.webconnect"})");
        }
        for (auto& pPage : pages) {
            QVERIFY(pPage->waitFor(1));
            ids.insert(json(pPage->m_listReceived[0].toUtf8()).value("uuid").toString());
        }
        QCOMPARE(ids.size(), 100);
        for (int i = 0; i < 100; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(https[static_cast<size_t>(i)]->hasAnswer(), kWaitMs);
            QCOMPARE(json(https[static_cast<size_t>(i)]->body()).value("uuid").toString(), QString::number(i));
        }
    }

};

QTEST_MAIN(TestTransport)
#include "tst_transport.moc"
