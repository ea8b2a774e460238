// Two-way audio through the real service binary, as a page drives it over a
// WebSocket, against the device simulator. Ports 27600-27649 (service) and
// 27650-27659 (simulator) belong to this test.
#include "CredentialSender.h"
#include "DeviceSimProcess.h"
#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 10000;
constexpr quint16 kServicePort = 27600;
constexpr quint16 kSimPort = 27650;

QJsonObject json(const QString& strText) {
    return QJsonDocument::fromJson(strText.toUtf8()).object();
}

// A page's WebSocket with its connection id.
class Page : public QObject {
public:
    explicit Page(quint16 port) {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& s) { m_received << s; });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    }
    bool open() {
        if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kWaitMs))
            return false;
        m_socket.sendTextMessage(QStringLiteral(R"({"cmd":"system.webconnect"})"));
        if (!QTest::qWaitFor([this] { return !m_received.isEmpty(); }, kWaitMs)) return false;
        m_strUuid = json(m_received.takeFirst()).value("uuid").toString();
        return !m_strUuid.isEmpty();
    }
    // Sends the request with this page's "uuid" and returns the next answer.
    QJsonObject call(QJsonObject request) {
        request.insert("uuid", m_strUuid);
        send(request);
        if (!QTest::qWaitFor([this] { return !m_received.isEmpty(); }, kWaitMs)) return QJsonObject();
        return json(m_received.takeFirst());
    }
    void send(const QJsonObject& request) {
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    }
    void sendText(const QString& strText) { m_socket.sendTextMessage(strText); }

    QWebSocket m_socket;
    QStringList m_received;
    QString m_strUuid;
};

QJsonObject startRequest(const QString& strAddress, const QString& strTalkId) {
    unsigned char iv[16];
    makeCredentialIv(iv);
    std::string strAK, strSK;
    protectCredential("service-ak", iv, strAK);
    protectCredential("service-sk", iv, strSK);
    return QJsonObject{{"cmd", "audio.startTalk"},
                       {"sequence", "11"},
                       {"talkId", strTalkId},
                       {"ZBCInfo", QJsonObject{{"address", strAddress},
                                               {"AK", QString::fromStdString(strAK)},
                                               {"SK", QString::fromStdString(strSK)}}},
                       {"deviceSerial", "DS-E2E"},
                       {"alarmTime", "2026-12-05T22:00:00Z"},
                       {"Security", 1},
                       {"Iv", QString::fromStdString(toHexText(iv, sizeof(iv)))}};
}

}  // namespace

class TestAudioService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void startStatusStop();
    void deviceHangsUp();
    void unansweredMessages();

private:
    std::unique_ptr<ServiceProcess> m_pService;
    quint16 m_port = 0;
    DeviceSimProcess m_sim;
};

void TestAudioService::initTestCase() {
    QVERIFY(m_sim.start(kSimPort));
    m_pService = std::make_unique<ServiceProcess>(QJsonObject{
        {"ServicePortStart", kServicePort},
        {"ServicePortEnd", kServicePort + 10},
        {"SingleInstance", QStringLiteral("tst_audio_service-%1").arg(QCoreApplication::applicationPid())}});
    QVERIFY(m_pService->start());
    m_port = m_pService->waitForListening();
    QVERIFY(m_port != 0);
}

void TestAudioService::cleanupTestCase() {
    if (!m_pService) return;
    QVERIFY(m_pService->isRunning());
    m_pService->terminate();
    QVERIFY(m_pService->waitForFinished());
    QCOMPARE(m_pService->exitCode(), 0);
}

void TestAudioService::init() {
    QVERIFY(m_sim.setScript(QJsonObject{{"mode", QJsonObject{{"answer", QJsonObject{{"audioTimeLeft", 30}}}}},
                                        {"modes", QJsonObject{{"end", QJsonObject{{"answer", QJsonObject{{"statusString", "OK"}}}}}}}}));
    m_sim.clearEvents();
}

void TestAudioService::startStatusStop() {
    Page page(m_port);
    QVERIFY(page.open());

    const QJsonObject start = page.call(startRequest(m_sim.address(), "e2e-1"));
    QCOMPARE(start.value("errorCode").toInt(-1), 0);
    QCOMPARE(start.value("errorModule").toInt(), 9);
    QCOMPARE(start.value("uuid").toString(), page.m_strUuid);
    QCOMPARE(start.value("sequence").toString(), QString("11"));
    QCOMPARE(start.value("talkId").toString(), QString("e2e-1"));
    QCOMPARE(start.value("audioTimeLeft").toInt(), 30);
    const int hTalk = start.value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    const QJsonObject mode = m_sim.waitForEvent("mode");
    QCOMPARE(mode.value("accessKey").toString(), QString("service-ak"));
    QCOMPARE(mode.value("serial").toString(), QString("DS-E2E"));
    QVERIFY(!m_sim.waitForEvent("talk").isEmpty());

    const QJsonObject status = page.call({{"cmd", "audio.getTalkStatus"}, {"sequence", "12"}, {"handle", hTalk}});
    QCOMPARE(status.value("talkStatus").toInt(9), 0);
    QCOMPARE(status.value("sequence").toString(), QString("12"));

    const QJsonObject stop = page.call({{"cmd", "audio.stopTalk"}, {"sequence", "13"}, {"talkId", "e2e-1"}, {"handle", hTalk}});
    QCOMPARE(stop.value("errorCode").toInt(-1), 0);
    QCOMPARE(stop.value("talkId").toString(), QString("e2e-1"));
    QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("end"));
    QCOMPARE(m_sim.waitForEvent("talk-closed").value("by").toString(), QString("client"));

    QVERIFY(m_pService->waitForLog("KOTS: [AudioMessageDispatch::stopREZivORUTalk("));
}

void TestAudioService::deviceHangsUp() {
    QVERIFY(m_sim.setScript(QJsonObject{{"talk", QJsonObject{{"closeAfterMs", 100}}}}));
    Page page(m_port);
    QVERIFY(page.open());
    const int hTalk = page.call(startRequest(m_sim.address(), "e2e-2")).value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    QVERIFY(!m_sim.waitForEvent("talk-closed").isEmpty());
    QVERIFY(m_pService->waitForLog(QStringLiteral("talk error handle[%1]!").arg(hTalk)));
    // The status is stored right after that log line.
    QTRY_COMPARE(page.call({{"cmd", "audio.getTalkStatus"}, {"handle", hTalk}}).value("talkStatus").toInt(9), -1);
    QCOMPARE(page.call({{"cmd", "audio.stopTalk"}, {"talkId", "e2e-2"}}).value("errorCode").toInt(-1), 0);
}

void TestAudioService::unansweredMessages() {
    Page page(m_port);
    QVERIFY(page.open());
    page.send({{"cmd", "audio.startTalking"}, {"uuid", page.m_strUuid}});
    page.sendText(QStringLiteral("{\"cmd\":\"audio.getTalkStatus\","));
    // The next answer is the one to this status query: the two above got none.
    const QJsonObject status = page.call({{"cmd", "audio.getTalkStatus"}, {"sequence", "s"}, {"handle", -1}});
    QCOMPARE(status.value("sequence").toString(), QString("s"));
    QCOMPARE(status.keys(), QStringList({"errorCode", "errorModule", "sequence", "talkStatus", "uuid"}));
    QTest::qWait(100);
    QVERIFY(page.m_received.isEmpty());
}

QTEST_MAIN(TestAudioService)
#include "tst_audio_service.moc"
