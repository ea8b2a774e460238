// Routing by module, the connect reply, the window module's version answer,
// and a slow audio device against the other modules. Port 28350 (device
// simulator).
#include "CredentialSender.h"
#include "DeviceSimProcess.h"
#include "MessageDispatch.h"
#include "Version.h"
#include "WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

class TestMessageDispatch : public QObject {
    Q_OBJECT

private slots:
    void connectReplyIsCompactAndSorted() {
        QCOMPARE(MessageDispatch::buildConnectReply("{0f8fad5b-d9cb-469f-a165-70867728950e}"),
                 QStringLiteral(R"({"errorCode":0,"errorModule":0,"uuid":"{0f8fad5b-d9cb-469f-a165-70867728950e}","version":"1.0"})"));
    }

    void routing_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("answered");
        QTest::newRow("window") << R"({"cmd":"window.getLocalServiceVersion","uuid":"u","sequence":"1"})" << true;
        QTest::newRow("capital module") << R"({"cmd":"Window.getLocalServiceVersion","uuid":"u"})" << false;
        QTest::newRow("capital command") << R"({"cmd":"window.GetLocalServiceVersion","uuid":"u"})" << false;
        QTest::newRow("unknown window command") << R"({"cmd":"window.noSuchCommand","uuid":"u"})" << false;
        QTest::newRow("system module") << R"({"cmd":"system.get","uuid":"u"})" << false;
        QTest::newRow("no cmd") << R"({"uuid":"u"})" << false;
        QTest::newRow("cmd not text") << R"({"cmd":5,"uuid":"u"})" << false;
        QTest::newRow("not json") << "window.getLocalServiceVersion" << false;
        for (const char* szCmd : {"video", "video.", "video.StartPlay", "video..startPlay"})
            QTest::addRow("%s", szCmd) << QStringLiteral(R"({"cmd":"%1","uuid":"u"})").arg(QLatin1String(szCmd)) << false;
        QTest::newRow("audio") << R"({"cmd":"audio.noSuchCommand","uuid":"u"})" << false;
    }
    void routing() {
        QFETCH(QString, request);
        QFETCH(bool, answered);
        MessageDispatch dispatch;
        QSignalSpy spy(&dispatch, &MessageDispatch::messageResponse);
        dispatch.processMessage(request);
        QCOMPARE(spy.count(), answered ? 1 : 0);
        QCOMPARE(dispatch.lastRequestAnswered(), answered);
        // The module's output leaves as it is, for the request's uuid.
        if (answered) QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("u"));
        if (answered) QVERIFY(spy.at(0).at(1).toString().startsWith(R"({"errorCode":0,"errorModule":0,"localServiceVersion")"));
    }

    void versionResponse_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("response");
        QTest::newRow("text sequence") << R"({"cmd":"window.getLocalServiceVersion","uuid":"u1","sequence":"42"})"
                                       << QString(R"({"errorCode":0,"errorModule":0,"localServiceVersion":"%1","sequence":"42","uuid":"u1"})").arg(LOCALSERVICE_VERSION);
        QTest::newRow("number sequence reads as empty text")
            << R"({"cmd":"window.getLocalServiceVersion","uuid":"u1","sequence":42})"
            << QString(R"({"errorCode":0,"errorModule":0,"localServiceVersion":"%1","sequence":"","uuid":"u1"})").arg(LOCALSERVICE_VERSION);
        QTest::newRow("unparsable request still carries the version")
            << "{" << QString(R"({"errorCode":1,"errorModule":5,"localServiceVersion":"%1","sequence":"","uuid":""})").arg(LOCALSERVICE_VERSION);
    }
    void versionResponse() {
        QFETCH(QString, request);
        QFETCH(QString, response);
        QCOMPARE(WindowControlManager::instance()->getLocalServiceVersion(request), response);
    }

    // A talk start against a device that answers late holds up neither
    // another page's window command nor the module thread's order: the
    // same page's window answer waits behind its own audio answer.
    void slowDeviceDelaysOnlyItsOwnPage() {
        DeviceSimProcess device;
        QVERIFY(device.start(28350, {"--delay", "1500"}));
        unsigned char iv[16] = {1};
        std::string strAk, strSk;
        QVERIFY(protectCredential("ak", iv, strAk) && protectCredential("sk", iv, strSk));
        const QJsonObject start{{"cmd", "audio.startTalk"}, {"uuid", "A"}, {"sequence", "1"}, {"talkId", "t"},
                                {"ZBCInfo", QJsonObject{{"address", device.address()}, {"AK", QString::fromStdString(strAk)},
                                                        {"SK", QString::fromStdString(strSk)}}},
                                {"deviceSerial", "D"}, {"alarmTime", "x"}, {"Security", 1},
                                {"Iv", QString::fromStdString(toHexText(iv, 16))}};

        MessageDispatch dispatch;
        QStringList answers;  // "uuid sequence"
        connect(&dispatch, &MessageDispatch::messageResponse, this, [&](const QString& strUuid, const QString& strText) {
            answers << strUuid + ' ' + QJsonDocument::fromJson(strText.toUtf8()).object().value("sequence").toString();
        });
        QElapsedTimer timer;
        timer.start();
        dispatch.processMessage(QString::fromUtf8(QJsonDocument(start).toJson(QJsonDocument::Compact)));
        QVERIFY(dispatch.lastRequestAnswered());
        dispatch.processMessage(R"({"cmd":"window.getLocalServiceVersion","uuid":"A","sequence":"2"})");
        QVERIFY(dispatch.lastRequestAnswered());
        // Nobody answers this one: the transport must not keep it in line
        // for A's answers still to come.
        dispatch.processMessage(R"({"cmd":"window.noSuchCommand","uuid":"A","sequence":"4"})");
        QVERIFY(!dispatch.lastRequestAnswered());
        dispatch.processMessage(R"({"cmd":"window.getLocalServiceVersion","uuid":"B","sequence":"3"})");
        QCOMPARE(answers, QStringList{"B 3"});
        QVERIFY(timer.elapsed() < 1000);
        QTRY_COMPARE_WITH_TIMEOUT(answers, (QStringList{"B 3", "A 1", "A 2"}), 10000);
    }
};

QTEST_GUILESS_MAIN(TestMessageDispatch)
#include "tst_messagedispatch.moc"
