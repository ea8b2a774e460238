// Whose requests the real binary serves: every request (body form, image
// channel, WebSocket handshake) attributed to a page origin, by its Origin or
// the Referer of a request the browser marks as a page's, and the policies
// "ask", "list" and "any" deciding on it; the user's answers come through
// the prompt of the test hooks. Also: one question per origin, the bound on
// open questions, remembered decisions and revoking. Ports 28870-28919
// belong to this test.
#include "HttpTestClient.h"
#include "ImagePackets.h"
#include "PageSocket.h"
#include "ServiceProcess.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

namespace {
constexpr int kWaitMs = 10000;
const QByteArray kAdmin = "https://admin.example";
const QByteArray kVersion = R"({"cmd":"window.getLocalServiceVersion","uuid":"u","sequence":"1"})";

QByteArray post(const QByteArray& baHeaders, const QByteArray& baBody = kVersion) {
    return HttpTestClient::post(baBody, baHeaders);
}

// An image-channel request in one piece, as an <img> of a page sends it.
QByteArray image(const QByteArray& baHeaders, const QByteArray& baJson) {
    return "GET /?&data=" + packetFor(baJson) + "&sequence=s1&isLast=true HTTP/1.1\r\nHost: 127.0.0.1\r\n" + baHeaders +
           "\r\n";
}

QByteArray upgrade(const QByteArray& baHeaders) {
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + baHeaders +
           "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           "Sec-WebSocket-Version: 13\r\n\r\n";
}

// The request a stranger's page gets a browser to send with an <img>: a
// download over the user's startup file.
QByteArray attackerDownload() {
    return image(
        "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: no-cors\r\nSec-Fetch-Dest: image\r\n"
        "Referer: https://attacker.example/\r\n",
        R"({"cmd":"video.downloadFile","uuid":"x","sequence":"1","url":"http://127.0.0.1:9/x.sh",)"
        R"("path":"/nonexistent/.bashrc"})");
}

bool answered(const HttpTestClient& client) {
    return client.isClosed() || client.hasAnswer() || client.received().startsWith("HTTP/1.1 101");
}
}  // namespace

class TestTrust : public QObject {
    Q_OBJECT

private:
    // By policy: "default" (no configuration, no display: nobody to ask),
    // "ask" (with the prompt and the administrator's origin), "list" (the
    // same origin) and "any".
    std::map<QString, std::unique_ptr<ServiceProcess>> m_services;
    std::map<QString, quint16> m_ports;

    bool startService(const QString& strName, int iStart, const QJsonObject& extra) {
        auto pService = std::make_unique<ServiceProcess>(ServiceProcess::config(iStart, "tst_trust-" + strName, extra),
                                                         ServiceProcess::testHooksBinaryPath());
        const quint16 port = pService->startListening();
        if (!port || !pService->waitForLog(QStringLiteral("test hook: ready"))) return false;
        m_ports[strName] = port;
        m_services[strName] = std::move(pService);
        return true;
    }

    // Makes the hooks answer for the user, waiting iMs for each answer.
    static bool prompt(ServiceProcess& service, int iMs) {
        return service.ask("prompt " + QByteArray::number(iMs), "test hook: prompt ") == QString::number(iMs);
    }
    // (With the event loop running: the clients of the test send meanwhile.)
    static bool waitForQuestion(ServiceProcess& service, const QByteArray& baOrigin) {
        const QString strLine = "test hook: asked " + QString::fromUtf8(baOrigin) + '\n';
        return QTest::qWaitFor([&] { return service.log().contains(strLine); }, kWaitMs);
    }

private slots:
    void initTestCase() {
        const QJsonArray admin{QString::fromUtf8(kAdmin)};
        QVERIFY(startService("default", 28870, {}));
        QVERIFY(startService("ask", 28880, {{"AllowedOrigins", admin}}));
        QVERIFY(startService("list", 28890, {{"TrustPolicy", "list"}, {"AllowedOrigins", admin}}));
        QVERIFY(startService("any", 28900, {{"TrustPolicy", "any"}}));
        QVERIFY(prompt(*m_services["ask"], 20000));
    }

    // The service a row talks to, the request, the origin the user is asked
    // about (empty: nobody is asked), the user's answer ("allow", "deny",
    // "none": no answer in time) and the status of the answer.
    void attribution_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("status");
        const auto row = [](const char* szName, const char* szService, const QByteArray& baRaw,
                            const QByteArray& baStatus, const QByteArray& baAsked = QByteArray(),
                            const char* szAnswer = "") {
            QTest::newRow(szName) << QString(szService) << baRaw << baAsked << QString(szAnswer) << baStatus;
        };
        const QByteArray crossSite = "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: no-cors\r\n";
        const QByteArray webConnect = R"({"cmd":"system.webconnect"})";
        const QByteArray other = "Origin: https://other.example\r\n", listed = "Origin: " + kAdmin + "\r\n";

        row("local program", "default", post(""), "200");
        row("local program naming a Referer", "list", post("Referer: https://other.example/\r\n"), "200");
        row("local program's WebSocket", "default", upgrade(""), "101");
        row("local program's image request", "list", image("", webConnect), "200");
        row("Origin, nobody to ask", "default", post("Origin: https://portal.example\r\n"), "403");
        row("Origin listed, ask", "ask", post(listed), "200");
        row("Origin not listed, list", "list", post(other), "403");
        row("Origin not listed, any", "any", post(other), "200");
        row("connect reply, Origin not listed", "list", post(other, webConnect), "403");
        row("long poll, Origin not listed", "list", post(other, R"({"cmd":"system.get","uuid":"p"})"), "403");
        row("Origin the user allows", "ask", post("Origin: https://allowed.example\r\n"), "200",
            "https://allowed.example", "allow");
        row("Origin the user denies", "ask", post("Origin: https://denied.example\r\n"), "403",
            "https://denied.example", "deny");
        row("Origin without an answer in time", "ask", post("Origin: https://late.example\r\n"), "403",
            "https://late.example", "none");
        row("opaque origin is never asked about", "ask", post("Origin: null\r\n"), "403");
        row("preflight of an Origin not listed", "list",
            "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: https://other.example\r\n"
            "Access-Control-Request-Method: POST\r\n\r\n",
            "403");
        row("cross-site Referer the user allows", "ask", post(crossSite + "Referer: https://viaref.example/a/b?c\r\n"),
            "200", "https://viaref.example", "allow");
        row("same-site Referer listed", "list", post("Sec-Fetch-Site: same-site\r\nReferer: " + kAdmin + "/page\r\n"),
            "200");
        row("Referer with the default port, listed", "list",
            post("Sec-Fetch-Mode: cors\r\nReferer: https://admin.example:443/page\r\n"), "200");
        row("Referer of a request not marked as a page's", "list",
            post("Sec-Fetch-Site: same-origin\r\nReferer: " + kAdmin + "/page\r\n"), "403");
        row("browser request naming no page, ask", "ask", post("Sec-Fetch-Mode: cors\r\n"), "403");
        row("browser request naming no page, any", "any", post("Sec-Fetch-Mode: cors\r\n"), "200");
        row("image channel, cross-site Referer not listed", "list",
            image(crossSite + "Referer: https://other.example/\r\n", webConnect), "403");
        row("image channel, cross-site Referer listed", "list",
            image(crossSite + "Referer: " + kAdmin + "/\r\n", webConnect), "200");
        row("image channel, Referer the user allows", "ask",
            image(crossSite + "Referer: https://img.example/x\r\n", webConnect), "200", "https://img.example", "allow");
        row("WebSocket, Origin listed", "ask", upgrade(listed), "101");
        row("WebSocket, Origin the user allows", "ask", upgrade("Origin: https://ws-allowed.example\r\n"), "101",
            "https://ws-allowed.example", "allow");
        row("WebSocket, Origin the user denies", "ask", upgrade("Origin: https://ws-denied.example\r\n"), "403",
            "https://ws-denied.example", "deny");
        row("WebSocket, nobody to ask", "default", upgrade("Origin: https://portal.example\r\n"), "403");
        row("attacker's image-channel download, default configuration", "default", attackerDownload(), "403");
        row("attacker's image-channel download, origins listed", "list", attackerDownload(), "403");
        row("attacker's image-channel download, user denies", "ask", attackerDownload(), "403",
            "https://attacker.example", "deny");
    }
    void attribution() {
        QFETCH(QString, service);
        QFETCH(QByteArray, raw);
        QFETCH(QByteArray, asked);
        QFETCH(QString, answer);
        QFETCH(QByteArray, status);
        ServiceProcess& process = *m_services[service];
        if (answer == "none") QVERIFY(prompt(process, 300));
        const int iLogFrom = process.log().size();
        HttpTestClient client(m_ports[service], raw);
        if (!asked.isEmpty()) {
            QVERIFY(waitForQuestion(process, asked));
            if (answer != "none") QVERIFY(process.writeInput("answer " + asked + ' ' + answer.toUtf8() + '\n'));
        }
        QVERIFY(QTest::qWaitFor([&] { return answered(client); }, kWaitMs));
        QVERIFY2(client.received().startsWith("HTTP/1.1 " + status), client.received().left(200).constData());
        if (asked.isEmpty()) QVERIFY(!process.log().mid(iLogFrom).contains("test hook: asked"));
        if (answer == "none") {
            QVERIFY(process.log().contains("test hook: withdrawn " + asked));
            QVERIFY(prompt(process, 20000));
        }
    }

    // A refused origin is named in the log once.
    void refusalLoggedOnce() {
        QCOMPARE(m_services["default"]->log().count("origin refused: https://portal.example\n"), 1);
        QCOMPARE(m_services["list"]->log().count("origin refused: https://other.example\n"), 1);
    }

    // Answers to a listed origin name it, not "*".
    void listedOriginServedAndEchoed() {
        HttpTestClient client(m_ports["list"], post("Origin: " + kAdmin + "\r\n"));
        QVERIFY(QTest::qWaitFor([&] { return client.hasAnswer(); }, kWaitMs));
        QVERIFY(client.head().contains("Access-Control-Allow-Origin: " + kAdmin + "\r\n"));
        QVERIFY(client.head().contains("Vary: Origin"));
    }

    // Requests of one origin share its question; other origins go on being
    // served meanwhile.
    void oneQuestionPerOrigin() {
        ServiceProcess& process = *m_services["ask"];
        const QByteArray baOrigin = "https://shared.example";
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 3; ++i)
            clients.push_back(std::make_unique<HttpTestClient>(m_ports["ask"], post("Origin: " + baOrigin + "\r\n")));
        QVERIFY(QTest::qWaitFor([&] { return process.ask("waiting", "test hook: waiting ") == "3"; }, kWaitMs));
        QCOMPARE(HttpTestClient::answer(m_ports["ask"], post("")).isEmpty(), false);  // a local program meanwhile
        QVERIFY(process.writeInput("answer " + baOrigin + " allow\n"));
        for (const auto& pClient : clients) {
            QVERIFY(QTest::qWaitFor([&] { return answered(*pClient); }, kWaitMs));
            QVERIFY(pClient->received().startsWith("HTTP/1.1 200"));
        }
        QCOMPARE(process.log().count("test hook: asked " + baOrigin + '\n'), 1);
    }

    // Questions open at once are bounded: one more origin is refused at once.
    void openQuestionsBounded() {
        ServiceProcess& process = *m_services["ask"];
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 4; ++i) {
            const QByteArray baOrigin = "https://q" + QByteArray::number(i) + ".example";
            clients.push_back(std::make_unique<HttpTestClient>(m_ports["ask"], post("Origin: " + baOrigin + "\r\n")));
            QVERIFY(waitForQuestion(process, baOrigin));
        }
        HttpTestClient refused(m_ports["ask"], post("Origin: https://q4.example\r\n"));
        QVERIFY(QTest::qWaitFor([&] { return answered(refused); }, kWaitMs));
        QVERIFY2(refused.received().startsWith("HTTP/1.1 503"), refused.received().constData());
        for (int i = 0; i < 4; ++i)
            QVERIFY(process.writeInput("answer https://q" + QByteArray::number(i) + ".example deny\n"));
        for (const auto& pClient : clients) QVERIFY(QTest::qWaitFor([&] { return answered(*pClient); }, kWaitMs));
        QVERIFY(!process.log().contains("test hook: asked https://q4.example"));
    }

    // Revoking closes the origin's WebSocket (with a reason), its waiting
    // long poll and its windows; its next request is refused unasked.
    void revokeCutsOff() {
        ServiceProcess& process = *m_services["ask"];
        const quint16 port = m_ports["ask"];
        const QByteArray baOrigin = "https://revoked.example";
        PageSocket page(port, QString::fromUtf8(baOrigin));
        QVERIFY(waitForQuestion(process, baOrigin));
        QVERIFY(process.writeInput("answer " + baOrigin + " allow\n"));
        QVERIFY(page.open());
        page.send(QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","sequence":"1",)"
                                 R"("rect":{"left":0,"top":0,"width":320,"height":240},"className":"Chrome"})")
                      .arg(page.uuid())
                      .toUtf8());
        QVERIFY(page.waitFor(1));
        QVERIFY(process.windowState(page.uuid()) != "none");
        HttpTestClient poll(port,
                            post("Origin: " + baOrigin + "\r\n", R"({"cmd":"system.get","uuid":"revoked-poll"})"));
        QVERIFY(QTest::qWaitFor(
            [&] { return process.ask("pages", "test hook: pages ").contains(baOrigin + " http 1"); }, kWaitMs));
        QVERIFY(process.ask("pages", "test hook: pages ").contains(baOrigin + " websocket 1"));
        QVERIFY(process.ask("trusted", "test hook: trusted ").split(' ').contains(baOrigin));

        QVERIFY(process.writeInput("revoke " + baOrigin + '\n'));
        QVERIFY(QTest::qWaitFor([&] { return page.isClosed() && poll.isClosed(); }, kWaitMs));
        QCOMPARE(page.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QCOMPARE(page.closeReason(), QStringLiteral("origin no longer trusted"));
        QVERIFY(!poll.hasAnswer());
        QCOMPARE(process.windowState(page.uuid()), QString("none"));
        QVERIFY(!process.ask("pages", "test hook: pages ").contains(baOrigin));
        QVERIFY(!process.ask("trusted", "test hook: trusted ").split(' ').contains(baOrigin));
        const int iLogFrom = process.log().size();
        QVERIFY(HttpTestClient::answer(port, post("Origin: " + baOrigin + "\r\n")).contains("origin not trusted"));
        QVERIFY(!process.log().mid(iLogFrom).contains("test hook: asked"));
    }

    // Decisions the user asked to remember hold in the next run, from a
    // file of the user's alone; revoking forgets them.
    void rememberedDecisions() {
        QTemporaryDir config;
        const auto start = [&](quint16* pPort) {
            auto pService = std::make_unique<ServiceProcess>(ServiceProcess::config(28910, "tst_trust-remember"),
                                                             ServiceProcess::testHooksBinaryPath());
            pService->setEnvironment("XDG_CONFIG_HOME", config.path());
            *pPort = pService->startListening();
            return *pPort && pService->waitForLog("test hook: ready") && prompt(*pService, 20000) ? std::move(pService)
                                                                                                  : nullptr;
        };
        quint16 port = 0;
        auto pFirst = start(&port);
        QVERIFY(pFirst);
        for (const char* szAnswer : {"allow", "deny"}) {
            const QByteArray baOrigin = QByteArray("https://") + szAnswer + ".kept.example";
            HttpTestClient client(port, post("Origin: " + baOrigin + "\r\n"));
            QVERIFY(waitForQuestion(*pFirst, baOrigin));
            QVERIFY(pFirst->writeInput("answer " + baOrigin + ' ' + szAnswer + " remember\n"));
            QVERIFY(QTest::qWaitFor([&] { return answered(client); }, kWaitMs));
        }
        pFirst.reset();
        const QFileInfo file(config.filePath("localservice/trusted-origins.json"));
        QVERIFY(file.exists());
        QCOMPARE(file.permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());

        auto pSecond = start(&port);
        QVERIFY(pSecond);
        QVERIFY(
            HttpTestClient::answer(port, post("Origin: https://allow.kept.example\r\n")).contains("\"errorCode\":0"));
        QVERIFY(
            HttpTestClient::answer(port, post("Origin: https://deny.kept.example\r\n")).contains("origin not trusted"));
        QVERIFY(!pSecond->log().contains("test hook: asked"));
        QVERIFY(pSecond->writeInput("revoke https://allow.kept.example\n"));
        QVERIFY(pSecond->waitForLog("trust revoked for origin https://allow.kept.example"));
        QFile stored(file.filePath());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray baStored = stored.readAll();
        QVERIFY(!baStored.contains("allow.kept.example"));
        QVERIFY(baStored.contains("deny.kept.example"));
    }

    void cleanupTestCase() {
        for (auto& [strName, pService] : m_services) {
            QVERIFY(pService->stop());
        }
    }
};

QTEST_MAIN(TestTrust)
#include "tst_trust.moc"
