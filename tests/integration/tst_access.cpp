// Who the real binary serves and how much it takes: Host and Origin checks
// (tst_trust has the trust policies), CORS preflights, the connection cap
// and the WebSocket message limits (idle clients: tst_webserver and
// tst_video_service). Ports 28300-28349 belong to this test.
#include "HttpTestClient.h"
#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
const QByteArray kVersion = R"({"cmd":"window.getLocalServiceVersion","uuid":"u","sequence":"1"})";

QByteArray request(const QByteArray& baHeaders, const QByteArray& baBody = kVersion) {
    return "POST / HTTP/1.1\r\n" + baHeaders + "Content-Length: " + QByteArray::number(baBody.size()) + "\r\n\r\n" +
           baBody;
}

QByteArray upgrade(const QByteArray& baHeaders) {
    return "GET / HTTP/1.1\r\n" + baHeaders +
           "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           "Sec-WebSocket-Version: 13\r\n\r\n";
}

// Everything the service sent until it closed or the answer is there.
QByteArray exchange(quint16 port, const QByteArray& baRaw) {
    HttpTestClient client(port, baRaw);
    static_cast<void>(
        QTest::qWaitFor([&] { return client.isClosed() || client.received().contains("\r\n\r\n"); }, kWaitMs));
    // A 101 or a 403 may carry more after its head: take what follows at once.
    static_cast<void>(QTest::qWaitFor([&] { return client.isClosed() || client.hasAnswer(); }, 200));
    return client.received();
}
}  // namespace

class TestAccess : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ServiceProcess> m_pService;
    quint16 m_port = 0;

    std::unique_ptr<ServiceProcess> startService(int iStart, const char* szName, const QJsonObject& extra,
                                                 quint16* pPort) {
        auto pService = std::make_unique<ServiceProcess>(
            ServiceProcess::config(iStart, QStringLiteral("tst_access-") + szName, extra));
        *pPort = pService->startListening();
        return *pPort ? std::move(pService) : nullptr;
    }

private slots:
    void initTestCase() {
        // Host checks and limits, with page origins not in the way.
        m_pService = startService(28300, "main", {{"TrustPolicy", "any"}}, &m_port);
        QVERIFY(m_pService);
    }

    // The status line of the answer and headers it must carry.
    void hostOriginAndPreflight_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArrayList>("headers");
        const QByteArrayList allowAll{"Access-Control-Allow-Origin: *\r\n"};
        const QByteArray ok = "HTTP/1.1 200 OK", refused = "HTTP/1.1 403 Forbidden";
        QTest::newRow("loopback name") << request("Host: localhost:1\r\nOrigin: https://portal.example\r\n") << ok
                                       << allowAll;
        QTest::newRow("loopback address") << request("Host: 127.0.0.1\r\n") << ok << allowAll;
        QTest::newRow("IPv6 loopback") << request("Host: [::1]:33686\r\n") << ok << allowAll;
        QTest::newRow("no Host") << request(QByteArray()) << ok << allowAll;
        QTest::newRow("rebound name") << request("Host: attacker.example:33686\r\n") << refused << QByteArrayList();
        QTest::newRow("name ending in localhost") << request("Host: evil-localhost\r\n") << refused << QByteArrayList();
        QTest::newRow("WebSocket from a rebound name")
            << upgrade("Host: attacker.example\r\n") << refused << QByteArrayList();
        QTest::newRow("WebSocket from loopback")
            << upgrade("Host: localhost\r\n") << QByteArray("HTTP/1.1 101") << QByteArrayList();
        QTest::newRow("preflight")
            << QByteArray(
                   "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: https://portal.example\r\n"
                   "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: content-type\r\n\r\n")
            << QByteArray("HTTP/1.1 204 No Content\r\n")
            << (allowAll + QByteArrayList{"Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n",
                                          "Access-Control-Allow-Headers: content-type\r\n",
                                          "Access-Control-Allow-Private-Network: true\r\n"});
    }
    void hostOriginAndPreflight() {
        QFETCH(QByteArray, raw);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArrayList, headers);
        const QByteArray baAnswer = exchange(m_port, raw);
        QVERIFY2(baAnswer.startsWith(statusLine), baAnswer.constData());
        for (const QByteArray& header : headers) QVERIFY2(baAnswer.contains(header), header.constData());
        if (statusLine.contains("204")) QVERIFY(!baAnswer.contains("Content-Length"));
    }

    void listeningOnAnyAddressServesAnyHost() {
        quint16 port = 0;
        auto pService = startService(28330, "any", {{"ListenAddress", "any"}}, &port);
        QVERIFY(pService);
        QVERIFY(exchange(port, request("Host: desktop.lan:28330\r\n")).startsWith("HTTP/1.1 200 OK"));
        // The default service is reached on loopback only.
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol) continue;
            QTcpSocket socket;
            socket.connectToHost(address, m_port);
            QVERIFY(!socket.waitForConnected(1000));
            QTcpSocket other;
            other.connectToHost(address, port);
            QVERIFY(other.waitForConnected(kWaitMs));
            break;
        }
    }

    void connectionsOverTheCapAreClosedAtOnce() {
        quint16 port = 0;
        auto pService = startService(28340, "cap", {{"MaxConnections", 2}}, &port);
        QVERIFY(pService);
        // Open WebSockets (connections still in their handshake would give
        // way to new ones).
        std::vector<std::unique_ptr<HttpTestClient>> held;
        for (int i = 0; i < 2; ++i) {
            held.push_back(std::make_unique<HttpTestClient>(port, upgrade("Host: localhost\r\n")));
            QTRY_VERIFY_WITH_TIMEOUT(held.back()->received().startsWith("HTTP/1.1 101"), kWaitMs);
        }
        HttpTestClient refused(port, request("Host: localhost\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(refused.isClosed(), kWaitMs);
        QVERIFY(refused.received().isEmpty());
        QVERIFY(pService->waitForLog("connections refused: limit of 2 open connections reached"));
        held.pop_back();
        // (Not QTRY: it evaluates its expression once more after success, and
        // each exchange opens a connection of its own.)
        QVERIFY(QTest::qWaitFor(
            [&] { return exchange(port, request("Host: localhost\r\n")).startsWith("HTTP/1.1 200 OK"); }, kWaitMs));
        QVERIFY(pService->isRunning());
    }

    // A message over 2 MiB gets close code 1009 (message too big): a single
    // frame that announces 1 GiB at its header, or fragments that pass the
    // bound; what the page still sends is taken, and the connection ends
    // without a reset. (Blocking calls on a plain socket: they tell a reset
    // from an end.)
    void webSocketMessageOverTheLimitClosesWith1009_data() {
        QTest::addColumn<QByteArray>("frames");  // after the upgrade, masked with a zero key
        QTest::newRow("one frame of 1 GiB, its first KiB sent")
            << QByteArray::fromHex("81ff000000004000000000000000") + QByteArray(1024, 'a');
        QByteArray baFragments;  // 54 fragments of 60,000 bytes
        for (int i = 0; i < 54; ++i) {
            baFragments += char((i == 53 ? 0x80 : 0x00) | (i == 0 ? 0x1 : 0x0));
            baFragments += QByteArray::fromHex("feea6000000000") + QByteArray(60000, 'a');
        }
        QTest::newRow("fragments past 2 MiB") << baFragments;
    }
    void webSocketMessageOverTheLimitClosesWith1009() {
        QFETCH(QByteArray, frames);
        const int iFd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(iFd >= 0);
        const auto closeFd = qScopeGuard([iFd] { ::close(iFd); });
        const timeval timeout{kWaitMs / 1000, 0};
        ::setsockopt(iFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(iFd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::connect(iFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        const QByteArray baOut = upgrade("Host: localhost\r\n") + frames;
        qint64 iSent = 0;
        while (iSent < baOut.size()) {
            const ssize_t iChunk = ::send(iFd, baOut.constData() + iSent, size_t(baOut.size() - iSent), MSG_NOSIGNAL);
            if (iChunk <= 0) break;
            iSent += iChunk;
        }
        QByteArray baIn;
        char buffer[4096];
        ssize_t iRead = 0;
        while ((iRead = ::recv(iFd, buffer, sizeof buffer, 0)) > 0) baIn.append(buffer, int(iRead));
        QVERIFY2(iRead == 0, "the connection was reset");
        QCOMPARE(iSent, qint64(baOut.size()));
        const int iAt = baIn.indexOf("\r\n\r\n") + 4;
        QVERIFY(baIn.startsWith("HTTP/1.1 101"));
        QCOMPARE(baIn.mid(iAt, 1), QByteArray::fromHex("88"));
        QCOMPARE(baIn.mid(iAt + 2, 2), QByteArray::fromHex("03f1"));
    }

    void cleanupTestCase() { QVERIFY(m_pService->stop()); }
};

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
