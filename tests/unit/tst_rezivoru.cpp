// The network library stand-in on its own: argument checks, the address
// syntax, per-thread errors and talk handles, against the device simulator.
#include "DeviceSimProcess.h"
#include "REZivORU_test.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

constexpr quint16 kSimPort = 27520;

ZBNetLocalConfig configFor(const QByteArray& address) {
    ZBNetLocalConfig config;
    std::memset(&config, 0, sizeof(config));
    std::memcpy(config.szAddress, address.constData(), size_t(qMin(address.size(), 1023)));
    return config;
}

std::atomic<int> g_iCallbackType{0};
std::atomic<int> g_iCallbackHandle{-100};
std::atomic<void*> g_pCallbackUser{nullptr};

void onTalkMessage(int32_t hTalk, int32_t iType, void* pUser) {
    g_iCallbackHandle.store(hTalk);
    g_pCallbackUser.store(pUser);
    g_iCallbackType.store(iType);
}

ZBNetVoiceTalkParam talkParam() {
    ZBNetVoiceTalkParam param;
    std::memset(&param, 0, sizeof(param));
    param.iTalkType = 1;
    param.pfnCallback = &onTalkMessage;
    return param;
}

}  // namespace

class TestREZivORU : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_sim.start(kSimPort)); }
    void init() {
        ZBNetTest_Reset();
        QVERIFY(m_sim.setScript(QJsonObject()));
        m_sim.clearEvents();
        g_iCallbackType.store(0);
    }
    void cleanup() { ZBNetTest_Reset(); }

    void initNeedsBothKeys_data();
    void initNeedsBothKeys();
    void addressSyntax_data();
    void addressSyntax();
    void lastErrorPerThread();
    void requestNeedsAnAddress();
    void requestCarriesHeadersAndBody();
    void talkHandlesCountUpAndStop();
    void finiEndsTalksWithoutCallback();
    void simulatorFlags_data();
    void simulatorFlags();

private:
    DeviceSimProcess m_sim;
};

void TestREZivORU::initNeedsBothKeys_data() {
    QTest::addColumn<QByteArray>("ak");
    QTest::addColumn<QByteArray>("sk");
    QTest::addColumn<bool>("ok");
    QTest::newRow("both") << QByteArray("a") << QByteArray("s") << true;
    QTest::newRow("empty access key") << QByteArray() << QByteArray("s") << false;
    QTest::newRow("empty secret key") << QByteArray("a") << QByteArray() << false;
}

void TestREZivORU::initNeedsBothKeys() {
    QFETCH(QByteArray, ak);
    QFETCH(QByteArray, sk);
    QFETCH(bool, ok);
    QCOMPARE(ZBNet_Init(ak.constData(), sk.constData()), ok);
    QCOMPARE(ZBNetTest_IsInitialized(), ok);
    if (!ok) QCOMPARE(ZBNet_GetLastError(), 8);
    ZBNet_Fini();
    ZBNet_Fini();  // harmless twice
    QVERIFY(!ZBNetTest_IsInitialized());
}

void TestREZivORU::addressSyntax_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<bool>("ok");
    QTest::newRow("ip and port") << QByteArray("127.0.0.1:27520") << true;
    QTest::newRow("name and port") << QByteArray("localhost:1") << true;
    QTest::newRow("highest port") << QByteArray("h:65535") << true;
    QTest::newRow("leading zeros") << QByteArray("h:000080") << true;
    QTest::newRow("port 0") << QByteArray("h:0") << false;
    QTest::newRow("port too big") << QByteArray("h:65536") << false;
    QTest::newRow("no port") << QByteArray("h:") << false;
    QTest::newRow("no host") << QByteArray(":80") << false;
    QTest::newRow("no colon") << QByteArray("localhost") << false;
    QTest::newRow("port with letters") << QByteArray("h:80a") << false;
    QTest::newRow("blank in host") << QByteArray("a b:80") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestREZivORU::addressSyntax() {
    QFETCH(QByteArray, address);
    QFETCH(bool, ok);
    const ZBNetLocalConfig config = configFor(address);
    QCOMPARE(ZBNet_SetLocalConfig(0, &config), ok);
    if (!ok) QCOMPARE(ZBNet_GetLastError(), 9);
    QCOMPARE(QByteArray::fromStdString(ZBNetTest_LastConfigAddress()), address);
    QVERIFY(!ZBNet_SetLocalConfig(1, &config));
    QCOMPARE(ZBNet_GetLastError(), 2);
}

void TestREZivORU::lastErrorPerThread() {
    QVERIFY(!ZBNet_Init("", ""));
    QCOMPARE(ZBNet_GetLastError(), 8);
    int iOtherBefore = -1;
    int iOtherAfter = -1;
    std::thread other([&] {
        iOtherBefore = ZBNet_GetLastError();
        const ZBNetLocalConfig config = configFor("bad");
        ZBNet_SetLocalConfig(0, &config);
        iOtherAfter = ZBNet_GetLastError();
    });
    other.join();
    QCOMPARE(iOtherBefore, 0);
    QCOMPARE(iOtherAfter, 9);
    QCOMPARE(ZBNet_GetLastError(), 8);
}

void TestREZivORU::requestNeedsAnAddress() {
    char* pBuffer = reinterpret_cast<char*>(1);
    int32_t iLength = -1;
    QVERIFY(!ZBNet_CmdWI("S", "/p", "PUT", "{}", &pBuffer, &iLength));
    QCOMPARE(ZBNet_GetLastError(), 9);
    const ZBNetLocalConfig config = configFor(m_sim.address().toLatin1());
    QVERIFY(ZBNet_SetLocalConfig(0, &config));
    // Header injection through the serial is refused.
    QVERIFY(!ZBNet_CmdWI("S\r\nX-Evil: 1", "/p", "PUT", "{}", &pBuffer, &iLength));
    QCOMPARE(ZBNet_GetLastError(), 2);
    QCOMPARE(m_sim.takeEvents("mode").size(), 0);
}

void TestREZivORU::requestCarriesHeadersAndBody() {
    QVERIFY(ZBNet_Init("the-ak", "the-sk"));
    const ZBNetLocalConfig config = configFor(m_sim.address().toLatin1());
    QVERIFY(ZBNet_SetLocalConfig(0, &config));
    QVERIFY(m_sim.setScript(QJsonObject{{"mode", QJsonObject{{"body", "raw answer"}}}}));
    char* pBuffer = nullptr;
    int32_t iLength = 0;
    QVERIFY(ZBNet_CmdWI("SER-9", "/OKAPI/SecurityCP/TwoWayAudio/mode?format=json", "PUT", "{\"mode\":\"x\"}", &pBuffer,
                        &iLength));
    QCOMPARE(QByteArray(pBuffer), QByteArray("raw answer"));
    QCOMPARE(iLength, 10);
    ZBNet_FreeBuf(pBuffer);
    const QJsonObject seen = m_sim.waitForEvent("mode");
    QCOMPARE(seen.value("serial").toString(), QString("SER-9"));
    QCOMPARE(seen.value("accessKey").toString(), QString("the-ak"));
    QCOMPARE(seen.value("body").toString(), QString("{\"mode\":\"x\"}"));

    // Another path: the device answers 404, the library 302.
    QVERIFY(!ZBNet_CmdWI("SER-9", "/other", "PUT", "", &pBuffer, &iLength));
    QCOMPARE(ZBNet_GetLastError(), 302);
}

void TestREZivORU::talkHandlesCountUpAndStop() {
    const ZBNetLocalConfig config = configFor(m_sim.address().toLatin1());
    QVERIFY(ZBNet_SetLocalConfig(0, &config));
    const ZBNetVoiceTalkParam param = talkParam();
    const int32_t hFirst = ZBNet_StartVoiceTalk("S1", &param, this);
    const int32_t hSecond = ZBNet_StartVoiceTalk("S2", &param, this);
    QVERIFY(hFirst >= 0);
    QCOMPARE(hSecond, hFirst + 1);
    QCOMPARE(ZBNetTest_OpenTalkCount(), 2);

    QVERIFY(ZBNet_StopVoiceTalk(hFirst));
    QVERIFY(!ZBNet_StopVoiceTalk(hFirst));
    QCOMPARE(ZBNet_GetLastError(), 2);
    QCOMPARE(m_sim.waitForEvent("talk-closed").value("serial").toString(), QString("S1"));
    QCOMPARE(g_iCallbackType.load(), 0);  // a stop is not reported

    QVERIFY(m_sim.setScript(QJsonObject{{"talk", QJsonObject{{"closeAfterMs", 50}}}}));
    const int32_t hThird = ZBNet_StartVoiceTalk("S3", &param, this);
    QVERIFY(hThird > hSecond);
    QTRY_COMPARE(g_iCallbackType.load(), 17);
    QCOMPARE(g_iCallbackHandle.load(), hThird);
    QCOMPARE(g_pCallbackUser.load(), static_cast<void*>(this));
}

void TestREZivORU::finiEndsTalksWithoutCallback() {
    const ZBNetLocalConfig config = configFor(m_sim.address().toLatin1());
    QVERIFY(ZBNet_SetLocalConfig(0, &config));
    const ZBNetVoiceTalkParam param = talkParam();
    QVERIFY(ZBNet_StartVoiceTalk("S1", &param, this) >= 0);
    ZBNet_Fini();
    QCOMPARE(ZBNetTest_OpenTalkCount(), 0);
    QCOMPARE(m_sim.waitForEvent("talk-closed").value("by").toString(), QString("client"));
    QCOMPARE(g_iCallbackType.load(), 0);
    // The address is gone with it.
    QCOMPARE(ZBNet_StartVoiceTalk("S1", &param, this), -1);
    QCOMPARE(ZBNet_GetLastError(), 9);
}

void TestREZivORU::simulatorFlags_data() {
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<bool>("talk");           // open a talk instead of a mode request
    QTest::addColumn<int>("error");           // expected library error, 0 for success
    QTest::addColumn<QString>("body");        // text the answer must contain
    QTest::addColumn<int>("callbackType");    // expected talk callback, 0 for none
    QTest::newRow("time left") << QStringList{"--time-left", "7"} << false << 0 << "\"audioTimeLeft\":7" << 0;
    QTest::newRow("device error")
        << QStringList{"--error-code", "1073774725"} << false << 0 << "\"errorCode\":1073774725" << 0;
    QTest::newRow("status string") << QStringList{"--status-string", "Busy"} << false << 0 << "\"statusString\":\"Busy\"" << 0;
    QTest::newRow("not JSON") << QStringList{"--not-json"} << false << 0 << "this is not JSON" << 0;
    QTest::newRow("status 500") << QStringList{"--status", "500"} << false << 302 << QString() << 0;
    QTest::newRow("library error")
        << QStringList{"--status", "500", "--library-error", "315"} << false << 315 << QString() << 0;
    QTest::newRow("delay") << QStringList{"--delay", "1500"} << false << 17 << QString() << 0;
    QTest::newRow("talk refused") << QStringList{"--talk-err", "5"} << true << 5 << QString() << 0;
    QTest::newRow("talk late") << QStringList{"--talk-delay", "1500"} << true << 17 << QString() << 0;
    QTest::newRow("talk closed") << QStringList{"--talk-close-after", "50"} << true << 0 << QString() << 17;
    QTest::newRow("talk reset") << QStringList{"--talk-reset-after", "50"} << true << 0 << QString() << 18;
}

void TestREZivORU::simulatorFlags() {
    QFETCH(QStringList, flags);
    QFETCH(bool, talk);
    QFETCH(int, error);
    QFETCH(QString, body);
    QFETCH(int, callbackType);
    ZBNetTest_SetTimeoutMs(300);
    DeviceSimProcess sim;
    QVERIFY(sim.start(kSimPort + 1, flags));
    const ZBNetLocalConfig config = configFor(sim.address().toLatin1());
    QVERIFY(ZBNet_SetLocalConfig(0, &config));

    if (talk) {
        const ZBNetVoiceTalkParam param = talkParam();
        const int32_t hTalk = ZBNet_StartVoiceTalk("S", &param, nullptr);
        QCOMPARE(hTalk >= 0, error == 0);
        if (error) QCOMPARE(ZBNet_GetLastError(), error);
        if (callbackType) QTRY_COMPARE(g_iCallbackType.load(), callbackType);
        return;
    }
    char* pBuffer = nullptr;
    int32_t iLength = 0;
    const bool bOk = ZBNet_CmdWI("S", "/OKAPI/SecurityCP/TwoWayAudio/mode?format=json", "PUT",
                                 "{\"mode\":\"start\", \"alarmTime\":\"t\"}", &pBuffer, &iLength);
    QCOMPARE(bOk, error == 0);
    if (!bOk) {
        QCOMPARE(ZBNet_GetLastError(), error);
        return;
    }
    const QString strAnswer = QString::fromUtf8(pBuffer);
    ZBNet_FreeBuf(pBuffer);
    QVERIFY2(strAnswer.contains(body), qPrintable(strAnswer));
}

QTEST_GUILESS_MAIN(TestREZivORU)
#include "tst_rezivoru.moc"
