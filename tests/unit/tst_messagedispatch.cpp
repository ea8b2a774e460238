// Routing by module, the answer writer against Qt's, the connect reply (the
// window module's answers are tst_video_service's), a slow audio device
// against the other modules, and audio admission. Ports 28350-28351 (device
// simulators).
#include "CompactJson.h"
#include "DeviceSimProcess.h"
#include "MessageDispatch.h"
#include "WindowControlManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

class TestMessageDispatch : public QObject {
    Q_OBJECT

private slots:
    // Members in the order of their inserts: {key, value}; a QByteArray
    // value is inserted as Latin-1 text.
    void compactJsonIsQtsText_data() {
        QTest::addColumn<QVariantList>("members");
        const auto member = [](const char* szKey, const QVariant& value) { return QVariantList{szKey, value}; };
        QString strAscii;
        for (ushort u = 0x20; u < 0x7f; ++u) strAscii += QChar(u);
        QTest::newRow("empty") << QVariantList();
        QTest::newRow("envelope") << QVariantList{member("sequence", "42"),       member("uuid", "{0f8fad5b-d9cb}"),
                                                  member("errorModule", 5),       member("errorCode", 5001),
                                                  member("nativeWindows", false), member("done", true)};
        QTest::newRow("printable ASCII") << QVariantList{member("t", strAscii), member("e", QString())};
        QTest::newRow("control characters") << QVariantList{member("t", QStringLiteral("a\b\f\n\r\t\x01\x1f\x7f\"z"))};
        QTest::newRow("beyond ASCII") << QVariantList{
            member("t", QStringLiteral("\u00e9\u6f22\U0001F600")), member("lone", QString(QChar(0xd800)) + "x"),
            member("latin1", QByteArray("caf\xe9")), member("ascii latin1", QByteArray("v\"1.0"))};
        QTest::newRow("numbers") << QVariantList{member("zero", 0), member("min", INT_MIN), member("max", INT_MAX),
                                                 member("minus", -1)};
        QTest::newRow("key order") << QVariantList{member("b", 1),  member("B", 2),  member("a", 3), member("_", 4),
                                                   member("aa", 5), member("A1", 6), member("", 7),  member("a\"", 8)};
        QTest::newRow("key again: last value") << QVariantList{member("a", "1"), member("b", 2), member("a", 3)};
        QTest::newRow("undefined: key goes") << QVariantList{
            member("a", 1), member("b", 2), member("a", QVariant::fromValue(QJsonValue(QJsonValue::Undefined)))};
        QTest::newRow("other values") << QVariantList{
            member("d", QVariant::fromValue(QJsonValue(1.5))), member("big", QVariant::fromValue(QJsonValue(1e300))),
            member("n", QVariant::fromValue(QJsonValue())), member("s", QVariant::fromValue(QJsonValue("x\ny"))),
            member("o", QVariant::fromValue(QJsonValue(QJsonObject{{"k", QJsonArray{1, "\u00e9"}}})))};
    }
    void compactJsonIsQtsText() {
        QFETCH(QVariantList, members);
        CompactJson json;
        QJsonObject object;
        QByteArrayList listKeys;  // the writer keeps the keys, not copies
        for (const QVariant& item : members) {
            listKeys.append(item.toList().at(0).toByteArray());
            const QLatin1String key(listKeys.last().constData(), listKeys.last().size());
            const QVariant value = item.toList().at(1);
            switch (static_cast<int>(value.type())) {
            case QMetaType::QString: json.insert(key, value.toString()); break;
            case QMetaType::QByteArray: json.insert(key, QLatin1String(value.toByteArray())); break;
            case QMetaType::Int: json.insert(key, value.toInt()); break;
            case QMetaType::Bool: json.insert(key, value.toBool()); break;
            default: json.insert(key, value.value<QJsonValue>()); break;
            }
            object.insert(QString(key),
                          value.type() == QVariant::ByteArray ? QJsonValue(QString::fromLatin1(value.toByteArray()))
                          : value.userType() == qMetaTypeId<QJsonValue>() ? value.value<QJsonValue>()
                                                                          : QJsonValue::fromVariant(value));
        }
        QCOMPARE(json.toJson(), QJsonDocument(object).toJson(QJsonDocument::Compact));
        QCOMPARE(json.toString(), QString::fromUtf8(json.toJson()));
    }

    void connectReplyIsCompactAndSorted() {
        QCOMPARE(
            MessageDispatch::buildConnectReply("{0f8fad5b-d9cb-469f-a165-70867728950e}"),
            QStringLiteral(
                R"({"errorCode":0,"errorModule":0,"uuid":"{0f8fad5b-d9cb-469f-a165-70867728950e}","version":"1.0"})"));
    }

    void routing_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("answered");
        QTest::newRow("window") << R"({"cmd":"window.getLocalServiceVersion","uuid":"u","sequence":"1"})" << true;
        QTest::newRow("capital module") << R"({"cmd":"Window.getLocalServiceVersion","uuid":"u"})" << false;
        QTest::newRow("capital command") << R"({"cmd":"window.GetLocalServiceVersion","uuid":"u"})" << false;
        QTest::newRow("unknown window command") << R"({"cmd":"window.noSuchCommand","uuid":"u"})" << false;
        QTest::newRow("command then more") << R"({"cmd":"window.getLocalServiceVersion.x","uuid":"u"})" << true;
        for (const char* szCmd : {"window", "window.", "window..getLocalServiceVersion", "getLocalServiceVersion"})
            QTest::addRow("%s", szCmd) << QStringLiteral(R"({"cmd":"%1","uuid":"u"})").arg(QLatin1String(szCmd))
                                       << false;
        QTest::newRow("system module") << R"({"cmd":"system.get","uuid":"u"})" << false;
        QTest::newRow("no cmd") << R"({"uuid":"u"})" << false;
        QTest::newRow("cmd not text") << R"({"cmd":5,"uuid":"u"})" << false;
        QTest::newRow("not json") << "window.getLocalServiceVersion" << false;
        for (const char* szCmd : {"video", "video.", "video.StartPlay", "video..startPlay"})
            QTest::addRow("%s", szCmd) << QStringLiteral(R"({"cmd":"%1","uuid":"u"})").arg(QLatin1String(szCmd))
                                       << false;
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
        if (answered)
            QVERIFY(spy.at(0).at(1).toString().startsWith(R"({"errorCode":0,"errorModule":0,"localServiceVersion")"));
    }

    // A talk start against a device that answers late holds up neither
    // another page's window command nor the module thread's order: the
    // same page's window answer and window event wait behind its own audio
    // answer, and the event still leaves as an event.
    void slowDeviceDelaysOnlyItsOwnPage() {
        DeviceSimProcess device;
        QVERIFY(device.start(28350, {"--delay", "1500"}));
        const QJsonObject start = device.talkRequest("startTalk", "A", "1");

        MessageDispatch dispatch;
        QStringList answers;  // "uuid sequence"
        connect(&dispatch, &MessageDispatch::messageResponse, this,
                [&](const QString& strUuid, const QString& strText) {
                    answers << strUuid + ' ' +
                                   QJsonDocument::fromJson(strText.toUtf8()).object().value("sequence").toString();
                });
        connect(&dispatch, &MessageDispatch::sigEvent, this,
                [&](const QString& strUuid, const QString&) { answers << strUuid + " event"; });
        QElapsedTimer timer;
        timer.start();
        dispatch.processMessage(QString::fromUtf8(QJsonDocument(start).toJson(QJsonDocument::Compact)));
        QVERIFY(dispatch.lastRequestAnswered());
        dispatch.processMessage(R"({"cmd":"window.getLocalServiceVersion","uuid":"A","sequence":"2"})");
        QVERIFY(dispatch.lastRequestAnswered());
        emit WindowControlManager::instance()->sigWindowSelected(
            "A", R"({"cmd":"window.onGetSelectWndInfo","uuid":"A","wndIndex":0})");
        // Nobody answers this one: the transport must not keep it in line
        // for A's answers still to come.
        dispatch.processMessage(R"({"cmd":"window.noSuchCommand","uuid":"A","sequence":"4"})");
        QVERIFY(!dispatch.lastRequestAnswered());
        dispatch.processMessage(R"({"cmd":"window.getLocalServiceVersion","uuid":"B","sequence":"3"})");
        QCOMPARE(answers, QStringList{"B 3"});
        QVERIFY(timer.elapsed() < 1000);
        QTRY_COMPARE_WITH_TIMEOUT(answers, (QStringList{"B 3", "A 1", "A 2", "A event"}), 10000);
    }

    // Audio admission with a device that answers the start in 1.5 s: rows
    // of "uuid command" sent at once ("uuid gone": that client closes); the
    // answers ("uuid sequence code", sequence = row position) in the order
    // they come. 8017 is busy. iThreads narrows the audio pool, so that a
    // command can wait in its queue behind a slow one.
    void audioAdmission_data() {
        QTest::addColumn<QStringList>("listRequests");
        QTest::addColumn<QStringList>("listExpected");
        QTest::addColumn<QStringList>("listOrElse");  // another outcome as good, if any
        QTest::addColumn<int>("iThreads");
        const int iThreads = MessageDispatch::kAudioThreads;
        QTest::newRow("second command of a page while its first runs")
            << QStringList{"A startTalk", "A getTalkStatus"} << QStringList{"A 0 0", "A 1 8017"} << QStringList()
            << iThreads;
        // A and C start on two pool threads at once: whichever takes the
        // talk first holds it, the other is busy; B is answered at once.
        QTest::newRow("slow device holds up only its own page")
            << QStringList{"A startTalk", "B getTalkStatus", "C startTalk"} << QStringList{"B 1 0", "C 2 8017", "A 0 0"}
            << QStringList{"B 1 0", "A 0 8017", "C 2 0"} << iThreads;
        QStringList listMany, listAnswered;
        for (int i = 0; i < MessageDispatch::kMaxAudioPending + 2; ++i) {
            listMany << QStringLiteral("P%1 getTalkStatus").arg(i);
            if (i >= MessageDispatch::kMaxAudioPending) listAnswered << QStringLiteral("P%1 %1 8017").arg(i);
        }
        QTest::newRow("queue bound") << listMany << listAnswered << QStringList() << iThreads;
        // B's command waits behind A's slow start on the one thread; B
        // leaves before its turn: it never runs, the next in line does.
        QTest::newRow("gone client's queued command dropped")
            << QStringList{"A startTalk", "B getTalkStatus", "B gone", "C getTalkStatus"}
            << QStringList{"A 0 0", "C 3 0"} << QStringList() << 1;
    }
    void audioAdmission() {
        QFETCH(QStringList, listRequests);
        QFETCH(QStringList, listExpected);
        QFETCH(QStringList, listOrElse);
        QFETCH(int, iThreads);
        DeviceSimProcess device;
        QVERIFY(device.start(28351, {"--delay", "1500"}));
        MessageDispatch dispatch;
        auto* pPool = dispatch.findChild<QThreadPool*>();
        QVERIFY(pPool);
        pPool->setMaxThreadCount(iThreads);
        QStringList answers;
        connect(&dispatch, &MessageDispatch::messageResponse, this,
                [&](const QString& strUuid, const QString& strText) {
                    const QJsonObject answer = QJsonDocument::fromJson(strText.toUtf8()).object();
                    answers << strUuid + ' ' + answer.value("sequence").toString() + ' ' +
                                   QString::number(answer.value("errorCode").toInt());
                });
        for (int i = 0; i < listRequests.size(); ++i) {
            const QStringList listParts = listRequests[i].split(' ');
            if (listParts[1] == QLatin1String("gone")) {
                dispatch.closeConnection(listParts[0]);
                continue;
            }
            const QJsonObject request = device.talkRequest(listParts[1], listParts[0], QString::number(i));
            dispatch.processMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
            QVERIFY(dispatch.lastRequestAnswered());
        }
        // The queue bound: those over it are refused before any answer came.
        if (listRequests.size() > MessageDispatch::kMaxAudioPending) {
            QCOMPARE(answers, listExpected);
            QTRY_COMPARE_WITH_TIMEOUT(answers.size(), listRequests.size(), 10000);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), listExpected.size(), 10000);
        if (listOrElse.isEmpty()) {
            QCOMPARE(answers, listExpected);
            return;
        }
        // The answers given at once may come in either order; the slow
        // start's comes last.
        QCOMPARE(answers.last(), listOrElse.last() == answers.last() ? listOrElse.last() : listExpected.last());
        const auto sorted = [](QStringList list) {
            list.sort();
            return list;
        };
        QVERIFY2(sorted(answers) == sorted(listExpected) || sorted(answers) == sorted(listOrElse),
                 qPrintable(answers.join(", ")));
    }
};

QTEST_GUILESS_MAIN(TestMessageDispatch)
#include "tst_messagedispatch.moc"
