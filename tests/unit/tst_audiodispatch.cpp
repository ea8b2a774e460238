// The audio module driven directly, against the network library stand-in
// and simulated devices in processes of their own.
#include "AudioMessageDispatch.h"
#include "CredentialSender.h"
#include "DeviceSimProcess.h"
#include "REZivORU_test.h"
#include "TickCount.h"
#include "ZBLog_test.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <deque>
#include <mutex>

namespace {

constexpr quint16 kSimPort = 27500;
constexpr quint16 kStrictSimPort = 27501;  // a device that checks the key pair
const char* const kIv = "0f1e2d3c4b5a69788796a5b4c3d2e1f0";
const char* const kAccessKey = "plain-access-key";
const char* const kSecretKey = "plain-secret-key";

// Log lines captured from the log library (any thread), under a standard
// mutex so that thread checkers see the lock.
std::mutex g_logMutex;
QStringList g_logLines;

void captureLog(int iLevel, const char* szModule, const char* szMessage) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.append(
        QStringLiteral("%1 %2 %3").arg(iLevel).arg(QLatin1String(szModule), QString::fromUtf8(szMessage)));
}

QStringList logLines(const QString& strPattern = QString()) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logLines.filter(QRegularExpression(strPattern));
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
    {
        std::lock_guard<std::mutex> lock(g_tickMutex);
        g_ticks.assign(ticks.begin(), ticks.end());
    }
    platform::setTickCountSource(&scriptedTicks);
}

QString protect(const char* szPlain) {
    const QByteArray iv = QByteArray::fromHex(kIv);
    std::string strProtected;
    protectCredential(szPlain, reinterpret_cast<const unsigned char*>(iv.constData()), strProtected);
    return QString::fromStdString(strProtected);
}

QJsonObject startRequest(const QString& strAddress, const QString& strTalkId = QStringLiteral("talk-1")) {
    return QJsonObject{
        {"cmd", "audio.startTalk"},
        {"sequence", "7"},
        {"uuid", "{page-uuid}"},
        {"talkId", strTalkId},
        {"ZBCInfo", QJsonObject{{"address", strAddress}, {"AK", protect(kAccessKey)}, {"SK", protect(kSecretKey)}}},
        {"deviceSerial", "DS-0001"},
        {"alarmTime", "2026-12-05T21:00:00Z"},
        {"Security", 1},
        {"Iv", kIv}};
}

// The request with the values of change at "key" or "ZBCInfo/key" (null:
// removed).
QJsonObject changed(QJsonObject request, const QJsonObject& change) {
    QJsonObject info = request.value("ZBCInfo").toObject();
    for (auto it = change.begin(); it != change.end(); ++it) {
        QJsonObject& target = it.key().startsWith("ZBCInfo/") ? info : request;
        const QString strKey = it.key().section('/', -1);
        if (it.value().isNull())
            target.remove(strKey);
        else
            target.insert(strKey, it.value());
        if (&target == &info) request.insert("ZBCInfo", info);
    }
    return request;
}

// A command other than the start, for the client "u".
QJsonObject command(const char* szCommand, QJsonObject fields) {
    fields.insert("cmd", QStringLiteral("audio.") + QLatin1String(szCommand));
    fields.insert("uuid", "u");
    return fields;
}

QJsonObject modeScript(const QJsonObject& answer) {
    return QJsonObject{{"mode", QJsonObject{{"answer", answer}}}};
}

}  // namespace

class TestAudioDispatch : public QObject {
    Q_OBJECT

    DeviceSimProcess m_sim;
    DeviceSimProcess m_strict;
    AudioMessageDispatch* m_pDispatch = nullptr;

    int code(const QJsonObject& request) { return send(request).value("errorCode").toInt(-1); }

    // The response; empty unless exactly one compact response came for the
    // request's "uuid".
    QJsonObject send(const QJsonObject& request) {
        QSignalSpy spy(m_pDispatch, &AudioMessageDispatch::messageResponse);
        m_pDispatch->processMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        if (spy.count() != 1 || spy.at(0).at(1).toString().contains('\n') ||
            spy.at(0).at(0).toString() != request.value("uuid").toString()) {
            qWarning("not one compact response for the uuid: %d", spy.count());
            return QJsonObject();
        }
        return QJsonDocument::fromJson(spy.at(0).at(1).toString().toUtf8()).object();
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_sim.start(kSimPort), "device simulator did not start");
        QVERIFY(m_strict.start(kStrictSimPort, {"--access-key", kAccessKey, "--secret-key", kSecretKey}));
        ZBLogTest_SetSink(&captureLog);
    }

    void init() {
        ZBNetTest_Reset();
        QVERIFY(m_sim.setScript(QJsonObject()));
        m_sim.clearEvents();
        m_strict.clearEvents();
        {
            std::lock_guard<std::mutex> lock(g_logMutex);
            g_logLines.clear();
        }
        m_pDispatch = new AudioMessageDispatch;
    }

    void cleanup() {
        delete m_pDispatch;
        m_pDispatch = nullptr;
        ZBNetTest_Reset();
        platform::setTickCountSource(nullptr);
    }

    void ignoredMessages_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("not JSON") << "{\"cmd\":\"audio.startTalk\"";
        QTest::newRow("unknown command") << "{\"cmd\":\"audio.startTalking\",\"uuid\":\"u\"}";
        QTest::newRow("wrong case") << "{\"cmd\":\"audio.StartTalk\",\"uuid\":\"u\"}";
        QTest::newRow("no command") << "{\"cmd\":\"audio\",\"uuid\":\"u\"}";
    }

    void ignoredMessages() {
        QFETCH(QString, message);
        QSignalSpy spy(m_pDispatch, &AudioMessageDispatch::messageResponse);
        m_pDispatch->processMessage(message);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(m_sim.takeEvents("mode").size(), 0);
    }

    void startTalkOpensTheTalk() {
        QVERIFY(m_sim.setScript(modeScript({{"audioTimeLeft", 45}})));
        scriptTicks({1000, 1400});
        // The library gets the first 64 bytes of the address: leading zeros pad
        // the port so that whatever follows would spoil it.
        const QString strPort = QString::number(kSimPort);
        const QString strAddress = "127.0.0.1:" + QString(54 - strPort.size(), '0') + strPort;
        const QJsonObject response = send(startRequest(strAddress + "9junk-after-the-cut"));
        QCOMPARE(QString::fromStdString(ZBNetTest_LastConfigAddress()), strAddress);
        const int hTalk = response.value("handle").toInt(-1);
        QVERIFY(hTalk >= 0);
        QCOMPARE(response, (QJsonObject{{"errorCode", 0},
                                        {"errorModule", 9},
                                        {"sequence", "7"},
                                        {"uuid", "{page-uuid}"},
                                        {"talkId", "talk-1"},
                                        {"audioTimeLeft", 45},
                                        {"handle", hTalk}}));

        const QJsonObject mode = m_sim.waitForEvent("mode");
        QCOMPARE(mode.value("method").toString(), QString("PUT"));
        QCOMPARE(mode.value("path").toString(), QString("/OKAPI/SecurityCP/TwoWayAudio/mode?format=json"));
        QCOMPARE(mode.value("serial").toString(), QString("DS-0001"));
        QCOMPARE(mode.value("accessKey").toString(), QString(kAccessKey));
        QCOMPARE(mode.value("body").toString(),
                 QString("{\"mode\":\"start\", \"alarmTime\":\"2026-12-05T21:00:00Z\"}"));
        QCOMPARE(m_sim.waitForEvent("talk").value("serial").toString(), QString("DS-0001"));
        QCOMPARE(ZBNetTest_InitCount(), 1);
        QCOMPARE(ZBNetTest_OpenTalkCount(), 1);

        QCOMPARE(
            send(command("getTalkStatus", {{"sequence", "8"}, {"handle", hTalk}})),
            (QJsonObject{{"errorCode", 0}, {"errorModule", 9}, {"sequence", "8"}, {"uuid", "u"}, {"talkStatus", 0}}));

        // Progress lines name the method and the line, with the module tag.
        QVERIFY2(
            QRegularExpression("^2 KOTS \\[AudioMessageDispatch::startREZivORUTalk\\(\\d+\\)\\] startREZivORUTalk!$")
                .match(logLines().value(0))
                .hasMatch(),
            qPrintable(logLines().value(0)));
        QCOMPARE(logLines("itime\\[45\\] start talk time\\[0\\]$").size(), 1);

        QCOMPARE(send(command("stopTalk", {{"sequence", "9"}, {"talkId", "talk-1"}, {"handle", hTalk}})),
                 (QJsonObject{
                     {"errorCode", 0}, {"errorModule", 9}, {"sequence", "9"}, {"uuid", "u"}, {"talkId", "talk-1"}}));
        QCOMPARE(ZBNetTest_StopVoiceTalkCount(), 1);
        QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("end"));
        QCOMPARE(m_sim.waitForEvent("talk-closed").value("by").toString(), QString("client"));
        QVERIFY(!ZBNetTest_IsInitialized());
    }

    // Starts that open no talk: the device's "script" or a request with one
    // value changed ("key" or "ZBCInfo/key", null: removed), the response
    // code, and the log line that tells why. The log names keys, never a
    // value of the request's keys.
    void failedStarts_data() {
        QTest::addColumn<QJsonObject>("change");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("log");
        const auto row = [](const char* szName, const QJsonObject& change, int iExpected, const char* szLog = "") {
            QTest::newRow(szName) << change << iExpected << QString(szLog);
        };
        const auto talk = [](const QJsonObject& talk) { return QJsonObject{{"script", QJsonObject{{"talk", talk}}}}; };
        const auto mode = [](const QJsonObject& mode) { return QJsonObject{{"script", QJsonObject{{"mode", mode}}}}; };
        const auto device = [&](qint64 iCode) {
            return mode({{"answer", QJsonObject{{"errorCode", iCode}, {"audioTimeLeft", 30}}}});
        };

        // Request values refused with 1 before anything else; the envelope
        // values are read only once the first checks passed ("envelope":
        // false, the answer has none).
        const auto param = [&](const char* szName, const QJsonObject& change, bool bEnvelope = true) {
            QJsonObject rowChange = change;
            if (!bEnvelope) rowChange.insert("envelope", false);
            row(szName, rowChange, 1,
                qPrintable("^5 KOTS .*startREZivORUTalk error param \\[" + change.keys().value(0).section('/', -1) +
                           "\\]!$"));
        };
        param("sequence a number", {{"sequence", 7}}, false);
        param("talkId missing", {{"talkId", QJsonValue()}}, false);
        param("uuid a number", {{"uuid", 3}}, false);
        param("ZBCInfo a text", {{"ZBCInfo", "x"}}, false);
        param("address missing", {{"ZBCInfo/address", QJsonValue()}});
        param("AK a number", {{"ZBCInfo/AK", 1}});
        param("SK missing", {{"ZBCInfo/SK", QJsonValue()}});
        param("deviceSerial a number", {{"deviceSerial", 5}});
        param("alarmTime missing", {{"alarmTime", QJsonValue()}});
        param("Security a text", {{"Security", "1"}});
        param("Iv missing", {{"Iv", QJsonValue()}});

        // The talk refused after the mode request: library errors.
        row("ERR 0 is no error", talk({{"answer", "ERR 0"}}), 0, "startVoiceTalk error code\\[0\\]!$");
        const std::pair<std::vector<int>, int> errors[] = {{{8}, 8006},
                                                           {{9}, 8001},
                                                           {{16, 17, 18, 19, 20, 21}, 8004},
                                                           {{302, 303, 306, 307, 315}, 1},
                                                           {{1, 15, 22, 304, 305, 308, 314, 999}, 8005}};
        for (const auto& error : errors) {
            for (int i : error.first) {
                const QByteArray name = "ERR " + QByteArray::number(i);
                row(name.constData(), talk({{"answer", QString::fromLatin1(name)}}), error.second);
            }
        }
        row("garbled talk answer", talk({{"answer", "MAYBE"}}), 8004);  // protocol error 19
        row("talk answer too late", talk({{"delayMs", 3000}}), 8004, "startVoiceTalk error code\\[17\\]!$");

        // The mode request's answer: device errors, then library errors.
        row("0x40008085", device(0x40008085), 8010, "changeTalk  start error!$");
        const std::pair<qint64, int> deviceErrors[] = {{0x40008086, 8011}, {0x40008087, 8014}, {0x30008003, 8012},
                                                       {0x30008004, 8013}, {0x30008005, 8015}, {0x30008006, 8016},
                                                       {0x30008007, 8000}, {0, 8000}};
        for (const auto& error : deviceErrors)
            row(("device error 0x" + QByteArray::number(error.first, 16)).constData(), device(error.first),
                error.second);
        row("errorCode 1 without time left", mode({{"answer", QJsonObject{{"errorCode", 1}}}}), 8000);
        row("OK without time left", mode({{"answer", QJsonObject{{"statusString", "OK"}}}}), 8000);
        row("not JSON", mode({{"body", "<html>"}}), 8000);
        row("status 500", mode({{"status", 500}}), 1);
        // The library's error wins over the status (its mapping: the talk rows above).
        row("404, library error 9", mode({{"status", 404}, {"libraryError", 9}}), 8001);
        row("mode answer too late", mode({{"delayMs", 3000}}), 8004, "ZBNet_CmdWI error\\[17\\]!$");
        row("nothing listens", {{"ZBCInfo/address", "127.0.0.1:27509"}}, 8004, "ZBNet_CmdWI error\\[16\\]!$");

        // Before the device is reached.
        row("empty secret key", {{"ZBCInfo/SK", protect("")}}, 8006, "ZBNet_Init error\\[8\\]!$");
        row("address without port", {{"ZBCInfo/address", "no-port-here"}}, 8005, "ZBNet_SetLocalConfig error\\[9\\]!$");
        // Equal to the remembered (empty) address: never set, so the device
        // cannot be reached.
        row("empty address", {{"ZBCInfo/address", ""}}, 8001);
    }
    void failedStarts() {
        QFETCH(QJsonObject, change);
        QFETCH(int, expected);
        QFETCH(QString, log);
        ZBNetTest_SetTimeoutMs(1000);
        const QJsonObject script = change.take("script").toObject();
        const bool bEnvelope = change.take("envelope").toBool(true);
        if (!script.isEmpty()) QVERIFY(m_sim.setScript(script));
        const int iFini = ZBNetTest_FiniCount();
        const QJsonObject request = changed(startRequest(m_sim.address()), change);
        const QJsonObject response = send(request);
        QCOMPARE(response.value("errorCode").toInt(-1), expected);
        QCOMPARE(response.value("errorModule").toInt(), 9);
        QCOMPARE(response.value("handle").toInt(), -1);
        QCOMPARE(response.value("audioTimeLeft").toInt(-1), 0);
        QCOMPARE(response.value("sequence").toString(), bEnvelope ? request.value("sequence").toString() : QString());
        QCOMPARE(response.value("talkId").toString(), bEnvelope ? QString("talk-1") : QString());
        QCOMPARE(ZBNetTest_OpenTalkCount(), 0);
        // Only a non-zero code finalises the library.
        QCOMPARE(ZBNetTest_IsInitialized(), expected == 0);
        if (!log.isEmpty()) QVERIFY2(!logLines(log).isEmpty(), qPrintable(logLines().join('\n')));
        const QJsonObject info = startRequest(m_sim.address()).value("ZBCInfo").toObject();
        for (const QString& strSecret : {info.value("AK").toString(), info.value("SK").toString(), QString(kIv)})
            QVERIFY(logLines(QRegularExpression::escape(strSecret)).isEmpty());
        // Refused before the library: finalised once, nothing reached the device.
        if (expected == 1 && script.isEmpty()) {
            QCOMPARE(ZBNetTest_FiniCount(), iFini + 1);
            QCOMPARE(ZBNetTest_InitCount(), 0);
            QCOMPARE(m_sim.takeEvents("mode").size(), 0);
        }
        if (script.value("talk").toObject().contains("answer")) {
            // The device was switched back; no talk runs, so the status of
            // -1 is the failed one.
            QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("start"));
            QCOMPARE(m_sim.waitForEvent("mode").value("mode").toString(), QString("end"));
            QCOMPARE(send(command("getTalkStatus", {{"handle", -1}})).value("talkStatus").toInt(0), -1);
        }
    }

    void credentialMistakesAreRefused_data() {
        QTest::addColumn<QJsonObject>("change");
        QTest::addColumn<int>("expected");     // -1: any error
        QTest::addColumn<QString>("refusal");  // what the device refused, empty: nothing reached it
        QTest::newRow("right keys") << QJsonObject() << 0 << "";
        QTest::newRow("wrong Iv") << QJsonObject{{"Iv", "00112233445566778899aabbccddeeff"}} << -1 << "";
        QTest::newRow("wrong secret key")
            << QJsonObject{{"ZBCInfo/SK", protect("another-secret")}} << 8000 << "signature";
        // Keys that decrypt to nothing: ZBNet_Init is never called and the
        // library refuses the device request as not initialised (error 8).
        QTest::newRow("scheme 2") << QJsonObject{{"Security", 2}} << 8006 << "";
    }
    void credentialMistakesAreRefused() {
        QFETCH(QJsonObject, change);
        QFETCH(int, expected);
        QFETCH(QString, refusal);
        const QJsonObject response = send(changed(startRequest(m_strict.address()), change));
        const int iCode = response.value("errorCode").toInt(-1);
        if (expected >= 0) QCOMPARE(iCode, expected);
        if (expected != 0) {
            QVERIFY2(iCode > 0, "a credential mistake must not open a talk");
            QCOMPARE(response.value("handle").toInt(), -1);
            QCOMPARE(m_strict.takeEvents("talk").size(), 0);
        }
        if (expected == 8006) QVERIFY(!logLines("ZBNet_CmdWI error\\[8\\]!$").isEmpty());
        if (!refusal.isEmpty()) QCOMPARE(m_strict.waitForEvent("refused").value("reason").toString(), refusal);
    }

    void timeLeftLessElapsedSeconds_data() {
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

    void timeLeftLessElapsedSeconds() {
        QFETCH(int, timeLeft);
        QFETCH(uint, t0);
        QFETCH(uint, t1);
        QFETCH(int, expected);
        QVERIFY(m_sim.setScript(modeScript({{"audioTimeLeft", timeLeft}})));
        scriptTicks({t0, t1});
        const QJsonObject response = send(startRequest(m_sim.address()));
        QCOMPARE(response.value("errorCode").toInt(-1), 0);
        QCOMPARE(response.value("audioTimeLeft").toInt(), expected);
    }

    // Talks from start to stop, as steps:
    //   start:<talkId>=<code>        a start (talk-1 when no id is given); the
    //                                handle of the talk it opens is "h"
    //   stop:<talkId>@<handle>=<code>, model:<model>@<handle>=<code> (* any),
    //   status@<handle>=<talkStatus> ("~" for "=": becomes so in time), where
    //                                a handle is h, h+1 or -1, none when left out
    //   device:<script>              what the device answers from now on
    //   closed                       the device saw the talk closed
    //   mode:<mode>                  the device's next mode request, for DS-0001
    //   #modes #inits #stops #up     mode requests since the last count, the
    //                                library's Init and StopVoiceTalk calls, and
    //                                whether it is initialised
    //   log:<pattern>=<n>, log~<pattern>  lines of the log (\s a blank, <h> the
    //                                handle), n of them or one in time
    void talks_data() {
        QTest::addColumn<QString>("steps");
        QTest::newRow("start while talking")
            << R"(start=0 #modes=1 start:talk-2=8000 #up=0 #modes=0 log:In\stalking\shandle\sparam\s\[<h>\]!$=1 status@h=0 )"
               R"(model:start@h=8008 closed stop@h=8006 #stops=1 start:talk-3=0 #inits=2)";
        // A talk refused with library error 0 ends the start with code 0: the
        // keys, the address and the device stay remembered, no talk runs.
        QTest::newRow("start without a talk")
            << R"(device:err0 start=0 #modes=2 device:ok model:start@-1=0 mode:start start=0 #inits=1 log:setZBCAddress!=1)";
        // The handle is kept: a mode change on it is tried, and fails because
        // the library was finalised.
        QTest::newRow("stop with a foreign talk id")
            << R"(start=0 #modes=1 stop:someone-else@h=0 #stops=0 #up=0 model:start@h=8008 #modes=0 )"
               R"(log:ZBNet_CmdWI\serror\[8\]!$=1 log:changeTalk\serror\[start\]!$=1)";
        // Still in talk mode, the next stop tries "end" again (the library is
        // finalised by then); a new start and a stop answered "OK" clear it.
        QTest::newRow("stop ends the mode only when it succeeds")
            << R"(device:busy-end start=0 #modes=1 stop@h=8000 #modes=1 device:ok stop=8006 start:talk-4=0 stop:talk-4=0 )"
               R"(stop:talk-4=0 log:changeTalk!\smodle\s\[end\]\.=3)";
        QTest::newRow("model changes, status after the stop")
            << R"(start=0 #modes=1 model:pause@h=0 mode:pause device:error model:pause@h=8008 model:end@h+1=1 )"
               R"(log:changeTalk\siTalkHandle\[<h+1>\]\sm_hTalk\[<h>\]!$=1 stop@h=* status@-1=0 status@h=-1 status@-1=-1)";
        // The callback logs first and then stores the status; the handle stays
        // until the page stops the talk.
        for (const char* szHow : {"closes", "resets"}) {
            QTest::addRow("the device %s the talk", szHow)
                << QStringLiteral(R"(device:%1 start=0 status@h=0 closed log~^5\sKOTS\s.*talk\serror\shandle\[<h>\]!$ )"
                                  R"(status@h~-1 model:x@h=0 stop=0)")
                       .arg(QLatin1String(szHow));
        }
    }
    void talks() {
        QFETCH(QString, steps);
        const QMap<QString, QJsonObject> scripts{
            {"ok", {}},
            {"busy-end",
             {{"modes", QJsonObject{{"end", QJsonObject{{"answer", QJsonObject{{"statusString", "Busy"}}}}}}}}},
            {"error", modeScript({{"errorCode", 1073774725}})},
            {"err0", {{"talk", QJsonObject{{"answer", "ERR 0"}}}}},
            {"closes", {{"talk", QJsonObject{{"closeAfterMs", 100}}}}},
            {"resets", {{"talk", QJsonObject{{"resetAfterMs", 100}}}}}};
        int hTalk = -1;
        for (const QString& strStep : steps.split(' ')) {
            const QStringList parts = strStep.split(QRegularExpression("[=~]"));
            const QString strName = parts[0].section(QRegularExpression("[:@]"), 0, 0);
            const QString strArgument = parts[0].section('@', 0, 0).section(':', 1);
            const QString strHandle = parts[0].section('@', 1);
            const QString strExpected = parts.value(1);
            const bool bInTime = strStep.contains('~');
            QJsonObject fields{{"sequence", "s"}};
            if (!strHandle.isEmpty()) fields.insert("handle", strHandle == "-1" ? -1 : hTalk + (strHandle == "h+1"));
            const QString strPattern = QString(strArgument)
                                           .replace("\\s", " ")
                                           .replace("<h>", QString::number(hTalk))
                                           .replace("<h+1>", QString::number(hTalk + 1));
            if (strName == "start") {
                const QJsonObject response =
                    send(startRequest(m_sim.address(), strArgument.isEmpty() ? "talk-1" : strArgument));
                QVERIFY2(response.value("errorCode").toInt(-1) == strExpected.toInt(), qPrintable(strStep));
                if (response.value("handle").toInt(-1) >= 0) hTalk = response.value("handle").toInt();
            } else if (strName == "stop" || strName == "model" || strName == "status") {
                const char* szCommand = strName == "stop"    ? "stopTalk"
                                        : strName == "model" ? "changeModel"
                                                             : "getTalkStatus";
                fields.insert(strName == "stop" ? "talkId" : "model", strArgument.isEmpty() ? "talk-1" : strArgument);
                if (strName == "status") fields.remove("model");
                const QJsonObject request = command(szCommand, fields);
                const auto result = [&] {
                    const QJsonObject response = send(request);
                    return response.value(strName == "status" ? "talkStatus" : "errorCode").toInt(-9);
                };
                if (bInTime)
                    QTRY_COMPARE(result(), strExpected.toInt());
                else if (strExpected != "*")
                    QVERIFY2(result() == strExpected.toInt(), qPrintable(strStep));
                else
                    result();
            } else if (strName == "device") {
                QVERIFY(m_sim.setScript(scripts.value(strArgument)));
            } else if (strName == "closed") {
                QCOMPARE(m_sim.waitForEvent("talk-closed").isEmpty(), false);
            } else if (strName == "mode") {
                const QJsonObject mode = m_sim.waitForEvent("mode");
                QCOMPARE(mode.value("serial").toString(), QString("DS-0001"));
                QCOMPARE(mode.value("body").toString(),
                         QStringLiteral(R"({"mode":"%1", "alarmTime":"2026-12-05T21:00:00Z"})").arg(strArgument));
            } else if (strName == "log") {
                if (bInTime)
                    QTRY_VERIFY2(!logLines(strPattern).isEmpty(), qPrintable(strStep));
                else
                    QVERIFY2(logLines(strPattern).size() == strExpected.toInt(), qPrintable(strStep));
            } else {
                const int iActual = strName == "#modes"   ? m_sim.takeEvents("mode").size()
                                    : strName == "#inits" ? ZBNetTest_InitCount()
                                    : strName == "#stops" ? ZBNetTest_StopVoiceTalkCount()
                                                          : int(ZBNetTest_IsInitialized());
                QVERIFY2(iActual == strExpected.toInt(), qPrintable(strStep + " is " + QString::number(iActual)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestAudioDispatch)
#include "tst_audiodispatch.moc"
