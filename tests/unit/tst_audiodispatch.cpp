// The audio module driven directly, against the network library stand-in
// and a simulated device in its own process.
#include "AudioMessageDispatch.h"
#include "CredentialSender.h"
#include "DeviceSimProcess.h"
#include "REZivORU_test.h"
#include "TickCount.h"
#include "ZBLog_test.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <deque>
#include <mutex>

namespace {

constexpr quint16 kSimPort = 27500;
constexpr quint16 kStrictSimPort = 27501;  // a device that checks the key pair
constexpr quint16 kClosedPort = 27509;  // nothing listens here
const char* const kIv = "0f1e2d3c4b5a69788796a5b4c3d2e1f0";
const char* const kAccessKey = "plain-access-key";
const char* const kSecretKey = "plain-secret-key";

// Log lines captured from the log library (any thread). A standard mutex,
// so that thread checkers see the lock.
std::mutex g_logMutex;
QStringList g_logLines;

void captureLog(int iLevel, const char* szModule, const char* szMessage) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.append(QStringLiteral("%1 %2 %3").arg(iLevel).arg(QLatin1String(szModule), QString::fromUtf8(szMessage)));
}

QStringList logLines() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logLines;
}

bool logged(const QString& strPattern) {
    return !logLines().filter(QRegularExpression(strPattern)).isEmpty();
}

// Tick counter handing out scripted values, then the last one again.
std::mutex g_tickMutex;
std::deque<std::uint32_t> g_ticks;
std::uint32_t g_lastTick = 0;

std::uint32_t scriptedTicks() {
    std::lock_guard<std::mutex> lock(g_tickMutex);
    if (!g_ticks.empty()) {
        g_lastTick = g_ticks.front();
        g_ticks.pop_front();
    }
    return g_lastTick;
}

void scriptTicks(std::initializer_list<std::uint32_t> ticks) {
    std::lock_guard<std::mutex> lock(g_tickMutex);
    g_ticks.assign(ticks.begin(), ticks.end());
    platform::setTickCountSource(&scriptedTicks);
}

QString protect(const char* szPlain) {
    unsigned char iv[16];
    const QByteArray ivBytes = QByteArray::fromHex(kIv);
    memcpy(iv, ivBytes.constData(), sizeof(iv));
    std::string strProtected;
    protectCredential(szPlain, iv, strProtected);
    return QString::fromStdString(strProtected);
}

QJsonObject startRequest(const QString& strAddress, const QString& strTalkId = QStringLiteral("talk-1")) {
    return QJsonObject{{"cmd", "audio.startTalk"},
                       {"sequence", "7"},
                       {"uuid", "{page-uuid}"},
                       {"talkId", strTalkId},
                       {"ZBCInfo", QJsonObject{{"address", strAddress}, {"AK", protect(kAccessKey)}, {"SK", protect(kSecretKey)}}},
                       {"deviceSerial", "DS-0001"},
                       {"alarmTime", "2026-12-05T21:00:00Z"},
                       {"Security", 1},
                       {"Iv", kIv}};
}

QJsonObject modeScript(const QJsonObject& answer, const QJsonObject& extra = QJsonObject()) {
    QJsonObject mode = extra;
    mode.insert("answer", answer);
    return QJsonObject{{"mode", mode}};
}

}  // namespace

class TestAudioDispatch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noResponse_data();
    void noResponse();
    void startTalkOpensTheTalk();
    void startParameterErrors_data();
    void startParameterErrors();
    void startWhileTalking();
    void timeLeftLessElapsedSeconds_data();
    void timeLeftLessElapsedSeconds();
    void voiceTalkFailures_data();
    void voiceTalkFailures();
    void modeRequestFailures_data();
    void modeRequestFailures();
    void modeRequestTimesOut();
    void credentialMistakesAreRefused_data();
    void credentialMistakesAreRefused();
    void initFailsWithAnEmptySecretKey();
    void addressCutAt64Bytes();
    void badAddress();
    void sameKeysAndAddressAreNotSetAgain();
    void stopWithForeignTalkId();
    void statusAfterStop();
    void stopEndsModeOnlyWhenItSucceeds();
    void changeModel();
    void changeModelWithoutTalk();
    void deviceClosesTheTalk_data();
    void deviceClosesTheTalk();

private:
    QJsonObject send(const QJsonObject& request);
    QJsonObject startTalk(const QJsonObject& request);

    DeviceSimProcess m_sim;
    AudioMessageDispatch* m_pDispatch = nullptr;
};

void TestAudioDispatch::initTestCase() {
    QVERIFY2(m_sim.start(kSimPort), "device simulator did not start");
    ZBLogTest_SetSink(&captureLog);
}

void TestAudioDispatch::init() {
    ZBNetTest_Reset();
    platform::setTickCountSource(nullptr);
    QVERIFY(m_sim.setScript(QJsonObject()));
    m_sim.clearEvents();
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logLines.clear();
    }
    m_pDispatch = new AudioMessageDispatch;
}

void TestAudioDispatch::cleanup() {
    delete m_pDispatch;
    m_pDispatch = nullptr;
    ZBNetTest_Reset();
    platform::setTickCountSource(nullptr);
}

QJsonObject TestAudioDispatch::send(const QJsonObject& request) {
    QSignalSpy spy(m_pDispatch, &AudioMessageDispatch::messageResponse);
    m_pDispatch->processMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    if (spy.count() != 1) {
        qWarning("expected one response, got %d", spy.count());
        return QJsonObject();
    }
    const QString strText = spy.at(0).at(1).toString();
    // Compact JSON; the signal's first argument is the request's "uuid".
    if (strText.contains('\n')) qWarning("response is not compact");
    if (spy.at(0).at(0).toString() != request.value("uuid").toString()) qWarning("response uuid mismatch");
    return QJsonDocument::fromJson(strText.toUtf8()).object();
}

QJsonObject TestAudioDispatch::startTalk(const QJsonObject& request) {
    return send(request);
}

void TestAudioDispatch::noResponse_data() {
    QTest::addColumn<QString>("message");
    QTest::newRow("not JSON") << "{\"cmd\":\"audio.startTalk\"";
    QTest::newRow("unknown command") << "{\"cmd\":\"audio.startTalking\",\"uuid\":\"u\"}";
    QTest::newRow("wrong case") << "{\"cmd\":\"audio.StartTalk\",\"uuid\":\"u\"}";
    QTest::newRow("no command") << "{\"cmd\":\"audio\",\"uuid\":\"u\"}";
    QTest::newRow("no cmd") << "{\"uuid\":\"u\"}";
}

void TestAudioDispatch::noResponse() {
    QFETCH(QString, message);
    QSignalSpy spy(m_pDispatch, &AudioMessageDispatch::messageResponse);
    m_pDispatch->processMessage(message);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);
}

void TestAudioDispatch::startTalkOpensTheTalk() {
    QVERIFY(m_sim.setScript(modeScript({{"audioTimeLeft", 45}})));
    scriptTicks({1000, 1400});
    const QJsonObject response = startTalk(startRequest(m_sim.address()));
    QCOMPARE(response.value("errorCode").toInt(-1), 0);
    QCOMPARE(response.value("errorModule").toInt(), 9);
    QCOMPARE(response.value("sequence").toString(), QString("7"));
    QCOMPARE(response.value("uuid").toString(), QString("{page-uuid}"));
    QCOMPARE(response.value("talkId").toString(), QString("talk-1"));
    QCOMPARE(response.value("audioTimeLeft").toInt(), 45);
    QVERIFY(response.value("handle").toInt(-1) >= 0);
    QCOMPARE(response.keys().size(), 7);

    const QJsonObject mode = m_sim.waitForEvent("mode");
    QCOMPARE(mode.value("method").toString(), QString("PUT"));
    QCOMPARE(mode.value("path").toString(), QString("/OKAPI/SecurityCP/TwoWayAudio/mode?format=json"));
    QCOMPARE(mode.value("serial").toString(), QString("DS-0001"));
    QCOMPARE(mode.value("accessKey").toString(), QString(kAccessKey));
    QCOMPARE(mode.value("body").toString(), QString("{\"mode\":\"start\", \"alarmTime\":\"2026-12-05T21:00:00Z\"}"));
    QCOMPARE(m_sim.waitForEvent("talk").value("serial").toString(), QString("DS-0001"));
    QCOMPARE(ZBNetTest_InitCount(), 1);
    QCOMPARE(ZBNetTest_OpenTalkCount(), 1);

    const QJsonObject status =
        send({{"cmd", "audio.getTalkStatus"}, {"sequence", "8"}, {"uuid", "{page-uuid}"}, {"handle", response.value("handle")}});
    QCOMPARE(status.value("talkStatus").toInt(-2), 0);
    QCOMPARE(status.value("errorCode").toInt(-1), 0);
    QCOMPARE(status.value("sequence").toString(), QString("8"));

    // Progress lines name the method and the line, with the module tag.
    const QStringList lines = logLines();
    QVERIFY(!lines.isEmpty());
    QVERIFY2(QRegularExpression("^2 KOTS \\[AudioMessageDispatch::startREZivORUTalk\\(\\d+\\)\\] startREZivORUTalk!$")
                 .match(lines.first())
                 .hasMatch(),
             qPrintable(lines.first()));
    QVERIFY(logged("itime\\[45\\] start talk time\\[0\\]$"));

    const QJsonObject stop = send({{"cmd", "audio.stopTalk"}, {"sequence", "9"}, {"uuid", "{page-uuid}"},
                                   {"talkId", "talk-1"}, {"handle", response.value("handle")}});
    QCOMPARE(stop.value("errorCode").toInt(-1), 0);
    QCOMPARE(stop.value("talkId").toString(), QString("talk-1"));
    QCOMPARE(ZBNetTest_StopVoiceTalkCount(), 1);
    QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("end"));
    QCOMPARE(m_sim.waitForEvent("talk-closed").value("by").toString(), QString("client"));
    QVERIFY(!ZBNetTest_IsInitialized());
}

void TestAudioDispatch::startParameterErrors_data() {
    QTest::addColumn<QString>("path");  // "key" or "ZBCInfo/key"
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<bool>("echoesEnvelope");
    QTest::newRow("sequence missing") << "sequence" << QJsonValue(QJsonValue::Undefined) << false;
    QTest::newRow("sequence a number") << "sequence" << QJsonValue(7) << false;
    QTest::newRow("talkId missing") << "talkId" << QJsonValue(QJsonValue::Undefined) << false;
    QTest::newRow("uuid a number") << "uuid" << QJsonValue(3) << false;
    QTest::newRow("ZBCInfo a text") << "ZBCInfo" << QJsonValue("x") << false;
    QTest::newRow("address missing") << "ZBCInfo/address" << QJsonValue(QJsonValue::Undefined) << true;
    QTest::newRow("AK a number") << "ZBCInfo/AK" << QJsonValue(1) << true;
    QTest::newRow("SK missing") << "ZBCInfo/SK" << QJsonValue(QJsonValue::Undefined) << true;
    QTest::newRow("deviceSerial a number") << "deviceSerial" << QJsonValue(5) << true;
    QTest::newRow("alarmTime missing") << "alarmTime" << QJsonValue(QJsonValue::Undefined) << true;
    QTest::newRow("Security a text") << "Security" << QJsonValue("1") << true;
    QTest::newRow("Iv missing") << "Iv" << QJsonValue(QJsonValue::Undefined) << true;
}

void TestAudioDispatch::startParameterErrors() {
    QFETCH(QString, path);
    QFETCH(QJsonValue, value);
    QFETCH(bool, echoesEnvelope);
    QJsonObject request = startRequest(m_sim.address());
    if (path.startsWith("ZBCInfo/")) {
        QJsonObject info = request.value("ZBCInfo").toObject();
        if (value.isUndefined())
            info.remove(path.mid(8));
        else
            info.insert(path.mid(8), value);
        request.insert("ZBCInfo", info);
    } else if (value.isUndefined()) {
        request.remove(path);
    } else {
        request.insert(path, value);
    }
    const int iFiniBefore = ZBNetTest_FiniCount();
    QSignalSpy spy(m_pDispatch, &AudioMessageDispatch::messageResponse);
    m_pDispatch->processMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    QCOMPARE(spy.count(), 1);
    const QJsonObject response = QJsonDocument::fromJson(spy.at(0).at(1).toString().toUtf8()).object();
    QCOMPARE(response.value("errorCode").toInt(), 1);
    QCOMPARE(response.value("errorModule").toInt(), 9);
    QCOMPARE(response.value("handle").toInt(), -1);
    QCOMPARE(response.value("audioTimeLeft").toInt(-1), 0);
    // The envelope values are read only once the first checks passed.
    QCOMPARE(response.value("sequence").toString(), echoesEnvelope ? QString("7") : QString());
    QCOMPARE(response.value("talkId").toString(), echoesEnvelope ? QString("talk-1") : QString());
    QCOMPARE(ZBNetTest_FiniCount(), iFiniBefore + 1);
    QCOMPARE(ZBNetTest_InitCount(), 0);
    QVERIFY(logged("^5 KOTS .*startREZivORUTalk error param \\[\\{"));
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);
}

void TestAudioDispatch::startWhileTalking() {
    const QJsonObject first = startTalk(startRequest(m_sim.address()));
    QCOMPARE(first.value("errorCode").toInt(-1), 0);
    const int hFirst = first.value("handle").toInt(-1);
    QVERIFY(ZBNetTest_IsInitialized());
    m_sim.clearEvents();

    const QJsonObject second = startTalk(startRequest(m_sim.address(), "talk-2"));
    QCOMPARE(second.value("errorCode").toInt(), 8000);
    QCOMPARE(second.value("handle").toInt(), -1);
    QCOMPARE(second.value("audioTimeLeft").toInt(-1), 0);
    QCOMPARE(second.value("talkId").toString(), QString("talk-2"));
    QVERIFY(!ZBNetTest_IsInitialized());  // finalised
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);
    QVERIFY(logged(QString("In talking handle param \\[%1\\]!$").arg(hFirst)));

    // The running handle is kept: a status query with it leaves the status
    // alone, and a mode change on it is tried (and fails: the library was
    // finalised, which also ended the talk on the device's side).
    QCOMPARE(send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", hFirst}}).value("talkStatus").toInt(9), 0);
    QCOMPARE(send({{"cmd", "audio.changeModel"}, {"uuid", "u"}, {"handle", hFirst}, {"model", "start"}})
                 .value("errorCode").toInt(-1), 8008);
    QCOMPARE(m_sim.waitForEvent("talk-closed").value("by").toString(), QString("client"));
    // The keys were forgotten: after the stop the next start initialises again.
    send({{"cmd", "audio.stopTalk"}, {"sequence", "2"}, {"uuid", "u"}, {"talkId", "talk-1"}, {"handle", hFirst}});
    QCOMPARE(ZBNetTest_StopVoiceTalkCount(), 1);
    const int iInits = ZBNetTest_InitCount();
    QCOMPARE(startTalk(startRequest(m_sim.address(), "talk-3")).value("errorCode").toInt(-1), 0);
    QCOMPARE(ZBNetTest_InitCount(), iInits + 1);
}

void TestAudioDispatch::timeLeftLessElapsedSeconds_data() {
    QTest::addColumn<int>("timeLeft");
    QTest::addColumn<uint>("t0");
    QTest::addColumn<uint>("t1");
    QTest::addColumn<int>("expected");
    QTest::newRow("30 s, 2.5 s to open") << 30 << 100000u << 102500u << 28;
    QTest::newRow("1 s, 1.2 s to open") << 1 << 5000u << 6200u << 1;
    QTest::newRow("counter wraps") << 30 << 0xFFFFFF00u << 2244u << 28;
    QTest::newRow("0.999 s counts as 0") << 10 << 0u << 999u << 10;
    QTest::newRow("longer than the time left") << 5 << 0u << 9000u << 1;
    QTest::newRow("device gives 0") << 0 << 0u << 0u << 1;
}

void TestAudioDispatch::timeLeftLessElapsedSeconds() {
    QFETCH(int, timeLeft);
    QFETCH(uint, t0);
    QFETCH(uint, t1);
    QFETCH(int, expected);
    QVERIFY(m_sim.setScript(modeScript({{"audioTimeLeft", timeLeft}})));
    scriptTicks({t0, t1});
    const QJsonObject response = startTalk(startRequest(m_sim.address()));
    QCOMPARE(response.value("errorCode").toInt(-1), 0);
    QCOMPARE(response.value("audioTimeLeft").toInt(), expected);
}

void TestAudioDispatch::voiceTalkFailures_data() {
    QTest::addColumn<QString>("talkAnswer");
    QTest::addColumn<int>("expected");
    QTest::newRow("ERR 0") << "ERR 0" << 0;
    QTest::newRow("ERR 8") << "ERR 8" << 8006;
    QTest::newRow("ERR 9") << "ERR 9" << 8001;
    for (int i = 16; i <= 21; ++i) QTest::addRow("ERR %d", i) << QString("ERR %1").arg(i) << 8004;
    for (int i : {302, 303, 306, 307, 315}) QTest::addRow("ERR %d", i) << QString("ERR %1").arg(i) << 1;
    for (int i : {1, 15, 22, 304, 305, 308, 314, 999}) QTest::addRow("ERR %d", i) << QString("ERR %1").arg(i) << 8005;
    QTest::newRow("garbled answer") << "MAYBE" << 8004;  // protocol error 19
}

void TestAudioDispatch::voiceTalkFailures() {
    QFETCH(QString, talkAnswer);
    QFETCH(int, expected);
    QJsonObject script = modeScript({{"audioTimeLeft", 30}});
    script.insert("modes", QJsonObject{{"end", QJsonObject{{"answer", QJsonObject{{"statusString", "OK"}}}}}});
    script.insert("talk", QJsonObject{{"answer", talkAnswer}});
    QVERIFY(m_sim.setScript(script));

    const QJsonObject response = startTalk(startRequest(m_sim.address()));
    QCOMPARE(response.value("errorCode").toInt(-1), expected);
    QCOMPARE(response.value("handle").toInt(), -1);
    // The device was switched back: "end" answered "OK" sets the time left to 0.
    QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("start"));
    QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("end"));
    QCOMPARE(response.value("audioTimeLeft").toInt(-1), 0);
    // Only a non-zero code finalises the library.
    QCOMPARE(ZBNetTest_IsInitialized(), expected == 0);
    QCOMPARE(ZBNetTest_OpenTalkCount(), 0);

    // No talk runs: a status query for -1 reports the failed status.
    QCOMPARE(send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", -1}}).value("talkStatus").toInt(0), -1);
}

void TestAudioDispatch::modeRequestFailures_data() {
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<int>("expected");
    const auto errorAnswer = [](qint64 iCode) {
        return modeScript({{"errorCode", iCode}, {"audioTimeLeft", 30}});
    };
    QTest::newRow("device errorCode 1 is no error") << errorAnswer(1) << 0;
    QTest::newRow("0x40008085") << errorAnswer(1073774725) << 8010;
    QTest::newRow("0x40008086") << errorAnswer(1073774726) << 8011;
    QTest::newRow("0x40008087") << errorAnswer(1073774727) << 8014;
    QTest::newRow("0x30008003") << errorAnswer(805339139) << 8012;
    QTest::newRow("0x30008004") << errorAnswer(805339140) << 8013;
    QTest::newRow("0x30008005") << errorAnswer(805339141) << 8015;
    QTest::newRow("0x30008006") << errorAnswer(805339142) << 8016;
    QTest::newRow("other device error") << errorAnswer(0x30008007) << 8000;
    QTest::newRow("device error 0") << errorAnswer(0) << 8000;
    QTest::newRow("errorCode 1 without time left") << modeScript({{"errorCode", 1}}) << 8000;
    QTest::newRow("start answered OK without time left") << modeScript({{"statusString", "OK"}}) << 8000;
    QTest::newRow("not JSON") << QJsonObject{{"mode", QJsonObject{{"body", "<html>"}}}} << 8000;
    QTest::newRow("status 500") << QJsonObject{{"mode", QJsonObject{{"status", 500}}}} << 1;
    QTest::newRow("status 404 with library error 9")
        << QJsonObject{{"mode", QJsonObject{{"status", 404}, {"libraryError", 9}}}} << 8001;
    QTest::newRow("status 500 with library error 8")
        << QJsonObject{{"mode", QJsonObject{{"status", 500}, {"libraryError", 8}}}} << 8006;
    QTest::newRow("status 500 with library error 20")
        << QJsonObject{{"mode", QJsonObject{{"status", 500}, {"libraryError", 20}}}} << 8004;
    QTest::newRow("status 500 with library error 315")
        << QJsonObject{{"mode", QJsonObject{{"status", 500}, {"libraryError", 315}}}} << 1;
    QTest::newRow("status 500 with library error 310")
        << QJsonObject{{"mode", QJsonObject{{"status", 500}, {"libraryError", 310}}}} << 8005;
}

void TestAudioDispatch::modeRequestFailures() {
    QFETCH(QJsonObject, script);
    QFETCH(int, expected);
    QVERIFY(m_sim.setScript(script));
    const QJsonObject response = startTalk(startRequest(m_sim.address()));
    QCOMPARE(response.value("errorCode").toInt(-1), expected);
    QCOMPARE(m_sim.takeEvents("talk").size(), expected == 0 ? 1 : 0);
    if (expected != 0) {
        QCOMPARE(response.value("handle").toInt(), -1);
        QVERIFY(!ZBNetTest_IsInitialized());
        QVERIFY(logged("changeTalk  start error!$"));
    }
}

void TestAudioDispatch::modeRequestTimesOut() {
    ZBNetTest_SetTimeoutMs(300);
    QVERIFY(m_sim.setScript(QJsonObject{{"mode", QJsonObject{{"delayMs", 2000}}}}));
    QCOMPARE(startTalk(startRequest(m_sim.address())).value("errorCode").toInt(-1), 8004);
    QVERIFY(logged("ZBNet_CmdWI error\\[17\\]!$"));

    // Nothing listening: refused.
    QCOMPARE(startTalk(startRequest(QStringLiteral("127.0.0.1:%1").arg(kClosedPort))).value("errorCode").toInt(-1), 8004);
    QVERIFY(logged("ZBNet_CmdWI error\\[16\\]!$"));

    // The talk answer comes too late.
    QVERIFY(m_sim.setScript(QJsonObject{{"talk", QJsonObject{{"delayMs", 2000}}}}));
    QCOMPARE(startTalk(startRequest(m_sim.address())).value("errorCode").toInt(-1), 8004);
    QVERIFY(logged("startVoiceTalk error code\\[17\\]!$"));
}

void TestAudioDispatch::credentialMistakesAreRefused_data() {
    QTest::addColumn<QString>("key");  // request key changed, "ZBCInfo/SK" for the secret key
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("refusal");  // what the device refused, empty: nothing reached it
    QTest::newRow("right keys") << "" << QJsonValue() << 0 << "";
    QTest::newRow("wrong Iv") << "Iv" << QJsonValue("00112233445566778899aabbccddeeff") << -1 << "";
    QTest::newRow("wrong secret key") << "ZBCInfo/SK" << QJsonValue(protect("another-secret")) << 8000 << "signature";
    // Keys that decrypt to nothing: ZBNet_Init is never called and the
    // library refuses the device request as not initialised (error 8).
    QTest::newRow("scheme 2") << "Security" << QJsonValue(2) << 8006 << "";
}

void TestAudioDispatch::credentialMistakesAreRefused() {
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(int, expected);
    QFETCH(QString, refusal);
    DeviceSimProcess strict;
    QVERIFY(strict.start(kStrictSimPort, {"--access-key", kAccessKey, "--secret-key", kSecretKey}));
    QJsonObject request = startRequest(strict.address());
    if (key.startsWith("ZBCInfo/")) {
        QJsonObject info = request.value("ZBCInfo").toObject();
        info.insert(key.mid(8), value);
        request.insert("ZBCInfo", info);
    } else if (!key.isEmpty()) {
        request.insert(key, value);
    }
    const QJsonObject response = startTalk(request);
    const int iCode = response.value("errorCode").toInt(-1);
    if (expected >= 0) QCOMPARE(iCode, expected);
    if (expected != 0) {
        QVERIFY2(iCode > 0, "a credential mistake must not open a talk");
        QCOMPARE(response.value("handle").toInt(), -1);
        QCOMPARE(strict.takeEvents("talk").size(), 0);
    }
    if (expected == 8006) QVERIFY(logged("ZBNet_CmdWI error\\[8\\]!$"));
    if (!refusal.isEmpty()) QCOMPARE(strict.waitForEvent("refused").value("reason").toString(), refusal);
}

void TestAudioDispatch::initFailsWithAnEmptySecretKey() {
    QJsonObject request = startRequest(m_sim.address());
    QJsonObject info = request.value("ZBCInfo").toObject();
    info.insert("SK", protect(""));
    request.insert("ZBCInfo", info);
    const QJsonObject response = startTalk(request);
    QCOMPARE(response.value("errorCode").toInt(-1), 8006);
    QCOMPARE(response.value("handle").toInt(), -1);
    QCOMPARE(ZBNetTest_InitCount(), 1);
    QVERIFY(logged("ZBNet_Init error\\[8\\]!$"));
    QVERIFY(logged("startREZivORUTalk  initREZivORU error!$"));
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);
}

void TestAudioDispatch::addressCutAt64Bytes() {
    // Leading zeros pad the port so that the first 64 bytes are a valid
    // address and whatever follows would spoil it.
    QString strAddress = QStringLiteral("127.0.0.1:");
    const QString strPort = QString::number(kSimPort);
    strAddress += QString(64 - strAddress.size() - strPort.size(), '0') + strPort;
    QCOMPARE(strAddress.size(), 64);
    const QJsonObject response = startTalk(startRequest(strAddress + "9junk-after-the-cut"));
    QCOMPARE(response.value("errorCode").toInt(-1), 0);
    QCOMPARE(QString::fromStdString(ZBNetTest_LastConfigAddress()), strAddress);
}

void TestAudioDispatch::badAddress() {
    const QJsonObject response = startTalk(startRequest(QStringLiteral("no-port-here")));
    QCOMPARE(response.value("errorCode").toInt(-1), 8005);
    QVERIFY(logged("ZBNet_SetLocalConfig error\\[9\\]!$"));
    QVERIFY(logged("startREZivORUTalk  setZBCAddress error!$"));
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);

    // Keys, but an address equal to the remembered (empty) one: never set,
    // so the device cannot be reached (library error 9).
    QCOMPARE(startTalk(startRequest(QString())).value("errorCode").toInt(-1), 8001);
}

void TestAudioDispatch::sameKeysAndAddressAreNotSetAgain() {
    // A voice talk refused with library error 0 ends the start with code 0:
    // the keys and the address stay remembered.
    QVERIFY(m_sim.setScript(QJsonObject{{"talk", QJsonObject{{"answer", "ERR 0"}}}}));
    QCOMPARE(startTalk(startRequest(m_sim.address())).value("errorCode").toInt(-1), 0);
    QCOMPARE(ZBNetTest_InitCount(), 1);
    const int iSetAddress = logLines().filter("setZBCAddress!").size();
    QCOMPARE(iSetAddress, 1);

    QVERIFY(m_sim.setScript(QJsonObject()));
    QCOMPARE(startTalk(startRequest(m_sim.address())).value("errorCode").toInt(-1), 0);
    QCOMPARE(ZBNetTest_InitCount(), 1);
    QCOMPARE(logLines().filter("setZBCAddress!").size(), 1);
}

void TestAudioDispatch::stopWithForeignTalkId() {
    const QJsonObject start = startTalk(startRequest(m_sim.address()));
    const int hTalk = start.value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    m_sim.clearEvents();
    const int iFini = ZBNetTest_FiniCount();

    const QJsonObject stop =
        send({{"cmd", "audio.stopTalk"}, {"sequence", "3"}, {"uuid", "u"}, {"talkId", "someone-else"}, {"handle", hTalk}});
    QCOMPARE(stop.value("errorCode").toInt(-1), 0);
    QCOMPARE(stop.value("talkId").toString(), QString("someone-else"));
    QCOMPARE(ZBNetTest_StopVoiceTalkCount(), 0);
    QCOMPARE(ZBNetTest_FiniCount(), iFini + 1);
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);

    // The handle is kept: a mode change on it is tried (not refused with 1),
    // and fails because the library was finalised.
    QCOMPARE(send({{"cmd", "audio.changeModel"}, {"uuid", "u"}, {"handle", hTalk}, {"model", "start"}})
                 .value("errorCode").toInt(-1), 8008);
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);
    QVERIFY(logged("ZBNet_CmdWI error\\[8\\]!$"));
    QVERIFY(logged("changeTalk error\\[start\\]!$"));
}

void TestAudioDispatch::statusAfterStop() {
    const QJsonObject start = startTalk(startRequest(m_sim.address()));
    const int hTalk = start.value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    send({{"cmd", "audio.stopTalk"}, {"uuid", "u"}, {"talkId", "talk-1"}, {"handle", hTalk}});

    QCOMPARE(send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", -1}}).value("talkStatus").toInt(9), 0);
    const QJsonObject other = send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", hTalk}});
    QCOMPARE(other.value("talkStatus").toInt(9), -1);
    QCOMPARE(other.value("errorCode").toInt(9), 0);
    // The failed status stays.
    QCOMPARE(send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", -1}}).value("talkStatus").toInt(9), -1);
}

void TestAudioDispatch::stopEndsModeOnlyWhenItSucceeds() {
    QJsonObject script = modeScript({{"audioTimeLeft", 30}});
    script.insert("modes", QJsonObject{{"end", QJsonObject{{"answer", QJsonObject{{"statusString", "Busy"}}}}}});
    QVERIFY(m_sim.setScript(script));
    const int hTalk = startTalk(startRequest(m_sim.address())).value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    m_sim.clearEvents();

    const QJsonObject stop = send({{"cmd", "audio.stopTalk"}, {"uuid", "u"}, {"talkId", "talk-1"}, {"handle", hTalk}});
    QCOMPARE(stop.value("errorCode").toInt(-1), 8000);
    QCOMPARE(m_sim.takeEvents("mode").size(), 1);

    // The device is still in talk mode: the next stop tries "end" again (the
    // library is finalised by then, so it fails to reach the device).
    QVERIFY(m_sim.setScript(QJsonObject{{"modes", QJsonObject{{"end", QJsonObject{{"answer", QJsonObject{{"statusString", "OK"}}}}}}}}));
    QCOMPARE(send({{"cmd", "audio.stopTalk"}, {"uuid", "u"}, {"talkId", "talk-1"}}).value("errorCode").toInt(-1), 8006);

    // A new start and a stop whose "end" is answered "OK" clear it: the
    // stop after that sends no "end".
    QCOMPARE(startTalk(startRequest(m_sim.address(), "talk-4")).value("errorCode").toInt(-1), 0);
    QCOMPARE(send({{"cmd", "audio.stopTalk"}, {"uuid", "u"}, {"talkId", "talk-4"}}).value("errorCode").toInt(-1), 0);
    m_sim.clearEvents();
    QCOMPARE(send({{"cmd", "audio.stopTalk"}, {"uuid", "u"}, {"talkId", "talk-4"}}).value("errorCode").toInt(-1), 0);
    QCOMPARE(logLines().filter("changeTalk! modle [end].").size(), 3);
}

void TestAudioDispatch::changeModel() {
    const int hTalk = startTalk(startRequest(m_sim.address())).value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    m_sim.clearEvents();

    const QJsonObject change = send({{"cmd", "audio.changeModel"}, {"sequence", "4"}, {"uuid", "u"},
                                     {"handle", hTalk}, {"model", "pause"}});
    QCOMPARE(change.value("errorCode").toInt(-1), 0);
    QCOMPARE(change.value("sequence").toString(), QString("4"));
    QCOMPARE(change.keys(), QStringList({"errorCode", "errorModule", "sequence", "uuid"}));
    QCOMPARE(m_sim.waitForEvent("mode").value("body").toString(),
             QString("{\"mode\":\"pause\", \"alarmTime\":\"2026-12-05T21:00:00Z\"}"));

    QVERIFY(m_sim.setScript(modeScript({{"errorCode", 1073774725}})));
    QCOMPARE(send({{"cmd", "audio.changeModel"}, {"uuid", "u"}, {"handle", hTalk}, {"model", "pause"}})
                 .value("errorCode").toInt(-1), 8008);

    const QJsonObject wrong = send({{"cmd", "audio.changeModel"}, {"uuid", "u"}, {"handle", hTalk + 1}, {"model", "end"}});
    QCOMPARE(wrong.value("errorCode").toInt(-1), 1);
    QVERIFY(logged(QString("changeTalk iTalkHandle\\[%1\\] m_hTalk\\[%2\\]!$").arg(hTalk + 1).arg(hTalk)));
}

void TestAudioDispatch::changeModelWithoutTalk() {
    // A start whose talk was refused with library error 0 leaves the library
    // ready and no talk running.
    QVERIFY(m_sim.setScript(QJsonObject{{"talk", QJsonObject{{"answer", "ERR 0"}}}}));
    QJsonObject request = startRequest(m_sim.address());
    request.insert("deviceSerial", "DS-LAST");
    request.insert("alarmTime", "alarm-last");
    QCOMPARE(startTalk(request).value("errorCode").toInt(-1), 0);
    m_sim.clearEvents();

    const QJsonObject change = send({{"cmd", "audio.changeModel"}, {"uuid", "u"}, {"handle", -1}, {"model", "start"}});
    QCOMPARE(change.value("errorCode").toInt(-1), 0);
    const QJsonObject mode = m_sim.waitForEvent("mode");
    QCOMPARE(mode.value("serial").toString(), QString("DS-LAST"));
    QCOMPARE(mode.value("body").toString(), QString("{\"mode\":\"start\", \"alarmTime\":\"alarm-last\"}"));
}

void TestAudioDispatch::deviceClosesTheTalk_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("closed") << "closeAfterMs";
    QTest::newRow("reset") << "resetAfterMs";
}

void TestAudioDispatch::deviceClosesTheTalk() {
    QFETCH(QString, how);
    QVERIFY(m_sim.setScript(QJsonObject{{"talk", QJsonObject{{how, 100}}}}));
    const int hTalk = startTalk(startRequest(m_sim.address())).value("handle").toInt(-1);
    QVERIFY(hTalk >= 0);
    QCOMPARE(send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", hTalk}}).value("talkStatus").toInt(9), 0);

    QVERIFY(!m_sim.waitForEvent("talk-closed").isEmpty());
    // The callback logs first and then stores the status.
    QTRY_VERIFY(logged(QString("^5 KOTS .*talk error handle\\[%1\\]!$").arg(hTalk)));
    QTRY_COMPARE(send({{"cmd", "audio.getTalkStatus"}, {"uuid", "u"}, {"handle", hTalk}}).value("talkStatus").toInt(9), -1);

    // The handle stays until the page stops the talk.
    QCOMPARE(send({{"cmd", "audio.changeModel"}, {"uuid", "u"}, {"handle", hTalk}, {"model", "x"}}).value("errorCode").toInt(-1), 0);
    QCOMPARE(send({{"cmd", "audio.stopTalk"}, {"uuid", "u"}, {"talkId", "talk-1"}}).value("errorCode").toInt(-1), 0);
}

QTEST_GUILESS_MAIN(TestAudioDispatch)
#include "tst_audiodispatch.moc"
