// The window and video commands through the service binary (test-hooks
// build, Qt's offscreen platform: no browser window is ever found), as pages
// reach it over WebSocket and HTTP: response envelopes, empty answers,
// scripted library results, library events reaching the page that owns the
// window, windows going with their clients, and pages kept to their own
// transfers and the media folders (the requests pass to the library as they
// came: its path checks are tst_video_control's). Ports 27900-27909; the
// media folders are temporary ones.
#include "HttpTestClient.h"
#include "PageSocket.h"
#include "ServiceProcess.h"
#include "Version.h"
#include "VideoCommand.h"
#include "video_control.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <QSet>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace {
constexpr int kWaitMs = 10000;
const QByteArray kHttpUuid = "http-page";

QJsonObject json(const QByteArray& baText) {
    return QJsonDocument::fromJson(baText).object();
}
QString indented(const QByteArray& baJson) {
    return QString::fromUtf8(QJsonDocument(json(baJson)).toJson());
}

QByteArray createWnd(const QString& strUuid) {
    return QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","sequence":"1",)"
                          R"("rect":{"left":0,"top":0,"width":320,"height":240},"className":"Chrome"})")
        .arg(strUuid)
        .toUtf8();
}

// The window module's answer (on the offscreen platform a missing browser
// window is one the service can never see).
QByteArray windowResponse(const char* szUuid, const char* szSequence, int iCode = 0) {
    return QStringLiteral(R"({"errorCode":%1,"errorModule":%2,%3"sequence":"%4","uuid":"%5"})")
        .arg(iCode)
        .arg(iCode ? 5 : 0)
        .arg(iCode == 5001 ? QLatin1String(R"("nativeWindows":false,)") : QLatin1String(""))
        .arg(QLatin1String(szSequence), QLatin1String(szUuid))
        .toUtf8();
}
}  // namespace

class TestVideoService : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;  // the media folders
    std::unique_ptr<ServiceProcess> m_pService;
    quint16 m_port = 0;
    std::unique_ptr<PageSocket> m_pFirst, m_pSecond, m_pWindowless;
    int m_iMarker = 0;

    // Writes a test-hook line and waits for one more acknowledgement.
    bool hook(const QByteArray& baLine, const QString& strAck) {
        const int iBefore = m_pService->log().count(strAck);
        return m_pService->writeInput(baLine + "\n") &&
               QTest::qWaitFor([&] { return m_pService->log().count(strAck) > iBefore; }, kWaitMs);
    }
    bool scriptResult(const QByteArray& baFunction, const QByteArray& baResult) {
        return hook("vc-result " + baFunction + " " + baResult, "test hook: vc-result " + baFunction);
    }
    bool fireEvent(int iType, const QString& strUuid, const QByteArray& baData) {
        return hook("vc-event " + QByteArray::number(iType) + " " + strUuid.toUtf8() + " " + baData,
                    QStringLiteral("test hook: vc-event %1 %2").arg(iType).arg(strUuid));
    }

    QByteArray httpAnswer(const QByteArray& baBody) {
        return HttpTestClient::answer(m_port, HttpTestClient::post(baBody));
    }
    QString windowState(const QString& strUuid) { return m_pService->windowState(strUuid); }
    // Everything the page received before the answer to a request sent now,
    // taken off its list: what earlier requests and events sent it.
    QStringList drain(PageSocket& page) {
        const QString strMarker = QStringLiteral("marker-%1").arg(++m_iMarker);
        page.send(QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"%2"})")
                      .arg(page.uuid(), strMarker)
                      .toUtf8());
        QStringList listBefore;
        if (!QTest::qWaitFor([&] { return page.m_listReceived.filter(strMarker).size() == 1; }, kWaitMs))
            return {"(no marker)"};
        while (!page.m_listReceived.first().contains(strMarker)) listBefore << page.m_listReceived.takeFirst();
        page.m_listReceived.removeFirst();
        return listBefore;
    }

    // The answer to a request of the first page (it has a window).
    QJsonObject answerOfFirst(const QString& strRequest) {
        m_pFirst->send(QString(strRequest).replace("%1", m_pFirst->uuid()).toUtf8());
        const QStringList listReceived = drain(*m_pFirst);
        return listReceived.size() == 1 ? json(listReceived[0].toUtf8()) : QJsonObject();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_folder.isValid());
        const QJsonObject folders{{"SnapshotFolder", m_folder.filePath("snapshots")},
                                  {"RecordingFolder", m_folder.filePath("recordings")},
                                  {"DownloadFolder", m_folder.filePath("downloads")}};
        m_pService = std::make_unique<ServiceProcess>(ServiceProcess::config(27900, "tst_video_service", folders),
                                                      ServiceProcess::testHooksBinaryPath());
        m_port = m_pService->startListening();
        QVERIFY(m_port != 0);
        QVERIFY(m_pService->waitForLog("test hook: ready"));

        // Two pages over WebSocket and one over HTTP, each with a window. On
        // the offscreen platform no browser window is found: the window stays
        // registered and hidden, with its video component.
        m_pFirst = std::make_unique<PageSocket>(m_port);
        m_pSecond = std::make_unique<PageSocket>(m_port);
        m_pWindowless = std::make_unique<PageSocket>(m_port);
        QVERIFY(m_pWindowless->open());
        for (PageSocket* pPage : {m_pFirst.get(), m_pSecond.get()}) {
            QVERIFY(pPage->open());
            pPage->send(createWnd(pPage->uuid()));
            QCOMPARE(drain(*pPage), QStringList{windowResponse(qPrintable(pPage->uuid()), "1", 5001)});
        }
        QCOMPARE(json(httpAnswer(createWnd(kHttpUuid))).value("errorCode").toInt(), 5001);
    }

    void cleanupTestCase() {
        m_pFirst.reset();
        m_pSecond.reset();
        m_pWindowless.reset();
        if (!m_pService) return;
        QVERIFY(m_pService->isRunning());
        QVERIFY(m_pService->stop());
    }

    // "%1" stands for the client's uuid: a client with a window (bWindow) or
    // one without. An empty expectation is the empty text.
    void responses_data() {
        QTest::addColumn<bool>("bHttp");
        QTest::addColumn<bool>("bWindow");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("scripted");  // "<function> <result>", or empty
        QTest::addColumn<QByteArray>("expected");
        const QByteArray envelope = R"("uuid":"%1","errorCode":0,"errorModule":"")";
        for (const bool bHttp : {false, true}) {
            const QByteArray over = bHttp ? " over HTTP" : " over WebSocket";
            QTest::newRow("global, no window at all" + over)
                << bHttp << false << QByteArray(R"({"cmd":"video.setLocalConfig","uuid":"%1","sequence":5})")
                << QByteArray() << R"({"sequence":5,)" + envelope + "}";
            QTest::newRow("library result replaces" + over)
                << bHttp << true << QByteArray(R"({"cmd":"video.capture","uuid":"%1","sequence":"3"})")
                << QByteArray(R"(VC_Snapshot {"errorCode":7,"uuid":"library","path":"/p.png"})")
                << QByteArray(R"({"sequence":"3","uuid":"library","errorCode":7,"errorModule":"","path":"/p.png"})");
        }
        QTest::newRow("no sequence") << false << true << QByteArray(R"({"cmd":"video.stopAll","uuid":"%1"})")
                                     << QByteArray() << "{" + envelope + "}";
        QTest::newRow("text sequence, third dot part")
            << true << false << QByteArray(R"({"cmd":"video.setLocalConfig.x","uuid":"%1","sequence":"7"})")
            << QByteArray() << R"({"sequence":"7",)" + envelope + "}";
        // The empty answers over WebSocket are everyCommand's.
        QTest::newRow("window-bound, no window over HTTP")
            << true << false << QByteArray(R"({"cmd":"video.startPlay","uuid":"%1","sequence":"2"})") << QByteArray()
            << QByteArray();
        QTest::newRow("talk without the component")
            << true << true << QByteArray(R"({"cmd":"video.startTalk","uuid":"%1","sequence":[1]})")
            << QByteArray(R"(VC_StartVoiceTalk {"talk":1})") << R"({"sequence":[1],"talk":1,)" + envelope + "}";
    }
    void responses() {
        QFETCH(bool, bHttp);
        QFETCH(bool, bWindow);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, scripted);
        QFETCH(QByteArray, expected);
        PageSocket& page = bWindow ? *m_pFirst : *m_pWindowless;
        const QString strUuid = bHttp ? QString::fromUtf8(bWindow ? kHttpUuid : "http-no-window") : page.uuid();
        const QByteArray baFunction = scripted.left(scripted.indexOf(' '));
        if (!scripted.isEmpty()) QVERIFY(scriptResult(baFunction, scripted.mid(baFunction.size() + 1)));

        const QByteArray baRequest = QString::fromUtf8(request).arg(strUuid).toUtf8();
        QString strAnswer;
        if (bHttp) {
            strAnswer = QString::fromUtf8(httpAnswer(baRequest));
        } else {
            page.send(baRequest);
            const QStringList listReceived = drain(page);
            QCOMPARE(listReceived.size(), 1);
            strAnswer = listReceived[0];
        }
        if (!scripted.isEmpty()) QVERIFY(scriptResult(baFunction, "{}"));

        QCOMPARE(strAnswer,
                 expected.isEmpty() ? QString() : indented(QString::fromUtf8(expected).arg(strUuid).toUtf8()));
    }

    // Each event reaches only the page that owns the window the library
    // named: live over WebSocket, through the long poll over HTTP. (The
    // texts of every type are tst_videocomponent's.)
    void eventsReachTheOwningPage_data() {
        QTest::addColumn<int>("iType");
        QTest::addColumn<QString>("cmd");
        QTest::addColumn<int>("iErrorCode");
        QTest::newRow("0 window selected") << 0 << "window.onGetSelectWndInfo" << 5;
        QTest::newRow("2 draw callback") << 2 << "video.onDrawCallback" << 0;
        QTest::newRow("5 mouse") << 5 << "window.onMouseEvent" << 0;
    }
    void eventsReachTheOwningPage() {
        QFETCH(int, iType);
        QFETCH(QString, cmd);
        QFETCH(int, iErrorCode);
        const QString strSecond = m_pSecond->uuid();
        QVERIFY(fireEvent(iType, strSecond, R"({"errorCode":5,"wndIndex":0})"));
        QVERIFY(fireEvent(iType, QString::fromUtf8(kHttpUuid), R"({"errorCode":5,"wndIndex":0})"));

        const QStringList listSecond = drain(*m_pSecond);
        QCOMPARE(listSecond.size(), 1);
        const QJsonObject event = json(listSecond[0].toUtf8());
        QCOMPARE(event.value("cmd").toString(), cmd);
        QCOMPARE(event.value("uuid").toString(), strSecond);
        QCOMPARE(event.value("errorCode").toInt(), iErrorCode);
        QCOMPARE(drain(*m_pFirst), QStringList());
        const QJsonObject polled =
            json(httpAnswer(QJsonDocument({{"cmd", "system.get"}, {"uuid", QString(kHttpUuid)}}).toJson()));
        QCOMPARE(polled.value("cmd").toString(), cmd);
        QCOMPARE(polled.value("uuid").toString(), QString::fromUtf8(kHttpUuid));
    }

    // Every command of the table, from a page with a window and from one
    // without: the window-bound ones answer the empty text without a window;
    // every library function answers what was scripted for it, so each
    // command shows which one it called, and no two call the same.
    void everyCommand() {
        QList<QByteArray> listFunctions;
#define LIST_FUNCTION(name) listFunctions << #name;
        VC_WIDGET_REQUEST_FUNCTIONS(LIST_FUNCTION)
        VC_WIDGET_FUNCTIONS(LIST_FUNCTION)
        VC_REQUEST_FUNCTIONS(LIST_FUNCTION) VC_NO_ARGUMENT_FUNCTIONS(LIST_FUNCTION) LIST_FUNCTION(VC_OpenFileBrowser)
#undef LIST_FUNCTION
            // All lines at once; the last acknowledgement follows the others.
            const auto scriptAll = [&](const std::function<QByteArray(const QByteArray&)>& fnResult) {
                QByteArray baLines;
                for (const QByteArray& baFunction : listFunctions)
                    baLines += "vc-result " + baFunction + " " + fnResult(baFunction) + "\n";
                baLines.chop(1);
                return hook(baLines, "test hook: vc-result " + listFunctions.last());
            };
        QVERIFY(scriptAll([](const QByteArray& baFunction) { return "{\"fn\":\"" + baFunction + "\"}"; }));

        // Answers come in the order of the requests: all requests at once.
        const int iCount = int(video::videoCommandsEnd() - video::videoCommandsBegin());
        QStringList listAnswers[2];  // with a window, without one
        for (PageSocket* pPage : {m_pFirst.get(), m_pWindowless.get()}) {
            for (auto it = video::videoCommandsBegin(); it != video::videoCommandsEnd(); ++it) {
                const QJsonObject request{{"cmd", "video." + QLatin1String(it->szName)},
                                          {"uuid", pPage->uuid()},
                                          {"sequence", it->szName},
                                          {"full", false}};
                pPage->send(QJsonDocument(request).toJson());
            }
            listAnswers[pPage == m_pWindowless.get()] = drain(*pPage);
        }
        QCOMPARE(listAnswers[0].size(), iCount);
        QCOMPARE(listAnswers[1].size(), iCount);
        // Without a window only the 26 global commands answer, but "getLastError".
        QCOMPARE(iCount - listAnswers[1].count(QString()), 25);

        QSet<QString> setCalled;
        for (int i = 0; i < iCount; ++i) {
            const video::VideoCommand& command = video::videoCommandsBegin()[i];
            const bool bWindowBound = command.has(video::kWindowBound);
            QVERIFY2(listAnswers[0][i].isEmpty() == command.answersEmpty(), command.szName);
            QVERIFY2(listAnswers[1][i].isEmpty() == (command.answersEmpty() || bWindowBound), command.szName);
            const QString strCalled = json(listAnswers[0][i].toUtf8()).value("fn").toString();
            QVERIFY2(strCalled.isEmpty() ==
                         (command.answersEmpty() || std::holds_alternative<video::ComponentFn>(command.call)),
                     command.szName);
            QVERIFY2(strCalled.isEmpty() || !setCalled.contains(strCalled), command.szName);
            setCalled << strCalled;
            if (!bWindowBound) QCOMPARE(json(listAnswers[1][i].toUtf8()).value("fn").toString(), strCalled);
        }
        QCOMPARE(setCalled.size(), 91 + 1);  // 91 library functions, and none for the others

        QVERIFY(scriptAll([](const QByteArray&) { return QByteArray("{}"); }));
    }

    // getLocalConfig tells the media folders and nothing else of the user's;
    // a page does not see, read or stop another page's transfers.
    void pagesSeeTheirOwnTransfersAndOnlyTheMediaFolders() {
        const QJsonObject config = answerOfFirst(R"({"cmd":"video.getLocalConfig","uuid":"%1","sequence":"c"})");
        for (const char* szKey : {"snapshotPath", "recordPath", "downloadPath"})
            QVERIFY2(config.value(szKey).toString().startsWith(m_folder.path() + '/'), szKey);
        QVERIFY(!config.contains("configFile"));

        const QJsonObject started = answerOfFirst(
            "{\"cmd\":\"video.startAsyncDownload\",\"uuid\":\"%1\",\"sequence\":\"d\",\"url\":\"http://192.0.2.1/"
            "x.mp4\"}");
        QCOMPARE(started.value("downloadId").toInt(), 1);
        for (const char* szCommand : {"getDownloadStatus", "stopAsyncDownload"}) {
            m_pSecond->send(QStringLiteral(R"({"cmd":"video.%1","uuid":"%2","sequence":"e","downloadId":1})")
                                .arg(QLatin1String(szCommand), m_pSecond->uuid())
                                .toUtf8());
            const QStringList listReceived = drain(*m_pSecond);
            QCOMPARE(listReceived.size(), 1);
            QCOMPARE(json(listReceived[0].toUtf8()).value("errorCode").toInt(), 3020);
        }
        const QJsonObject status =
            answerOfFirst(R"({"cmd":"video.getDownloadStatus","uuid":"%1","sequence":"f","downloadId":1})");
        QCOMPARE(status.value("downloadId").toInt(), 1);  // its own
        answerOfFirst(R"({"cmd":"video.stopAsyncDownload","uuid":"%1","sequence":"g","downloadId":1})");
    }

    void everyWindowCommandAnswers_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        // "W" has a window (created first, without a browser); "N" has none.
        QTest::newRow("createWnd without browser")
            << QByteArray(R"({"cmd":"window.createWnd","uuid":"W","sequence":"1","className":"Chrome",)"
                          R"("rect":{"left":10,"top":20,"width":320,"height":240}})")
            << windowResponse("W", "1", 5001);
        const char* const aszCommands[] = {"showWnd",           "hideWnd",          "setWndGeometry",
                                           "setWndZOrder",      "setWndCover",      "updateParentWnd",
                                           "cuttingPartWindow", "repairPartWindow", "setWindowSelected"};
        for (const char* szCommand : aszCommands) {
            for (const char* szUuid : {"W", "N"}) {
                QTest::addRow("%s %s", szCommand, szUuid)
                    << QStringLiteral(R"({"cmd":"window.%1","uuid":"%2","sequence":"s","flag":1,"position":"left",)"
                                      R"("size":30,"round":8,"rect":{"left":1,"top":2,"width":30,"height":40}})")
                           .arg(QLatin1String(szCommand), QLatin1String(szUuid))
                           .toUtf8()
                    << windowResponse(szUuid, "s");
            }
        }
        QTest::newRow("version")
            << QByteArray(R"({"cmd":"window.getLocalServiceVersion","uuid":"N","sequence":"7"})")
            << QString(R"({"errorCode":0,"errorModule":0,"localServiceVersion":"%1","sequence":"7","uuid":"N"})")
                   .arg(LOCALSERVICE_VERSION)
                   .toUtf8();
        QTest::newRow("number sequence") << QByteArray(R"({"cmd":"window.showWnd","uuid":"W","sequence":3})")
                                         << windowResponse("W", "");
        QTest::newRow("parentWnd 0") << QByteArray(R"({"cmd":"window.createWnd","uuid":"P0","parentWnd":"0"})")
                                     << windowResponse("P0", "", 5001);
        QTest::newRow("parentWnd not a number")
            << QByteArray(R"({"cmd":"window.createWnd","uuid":"Pabc","sequence":"2","parentWnd":"abc","embed":false})")
            << windowResponse("Pabc", "2", 5001);
        QTest::newRow("destroyWnd none") << QByteArray(R"({"cmd":"window.destroyWnd","uuid":"N","sequence":"d"})")
                                         << windowResponse("N", "d");
        QTest::newRow("third field ignored")
            << QByteArray(R"({"cmd":"window.hideWnd.extra","uuid":"W","sequence":"x"})") << windowResponse("W", "x");
    }
    void everyWindowCommandAnswers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QCOMPARE(httpAnswer(request), expected);
    }

    // A page asks for a file dialog and leaves before the user closes it:
    // another page's request meanwhile is refused as busy (3027), and the
    // answer for the page that left goes nowhere while the service lives on.
    void clientGoneDuringTheDialog_data() {
        QTest::addColumn<bool>("bWebSocket");
        QTest::newRow("HTTP") << false;
        QTest::newRow("WebSocket") << true;
    }
    void clientGoneDuringTheDialog() {
        QFETCH(bool, bWebSocket);
        const QString strRequest = R"({"cmd":"video.browseFilePath","uuid":"%1","sequence":"d","mode":"open"})";
        const auto answerDialog = [this] {
            return m_pService->ask("vc-dialog /tmp/chosen.mp4", "test hook: vc-dialog ");
        };
        auto pPage = std::make_unique<PageSocket>(m_port);
        std::unique_ptr<HttpTestClient> pHttp;
        if (bWebSocket) {
            QVERIFY(pPage->open());
            pPage->send(strRequest.arg(pPage->uuid()).toUtf8());
        } else {
            pHttp = std::make_unique<HttpTestClient>(m_port, HttpTestClient::post(strRequest.arg("G").toUtf8()));
        }
        QVERIFY(QTest::qWaitFor(
            [&] { return m_pService->ask("vc-dialog", "test hook: vc-dialog ") == QLatin1String("open"); }, kWaitMs));
        // One dialog at a time: another page is refused while it is open.
        QCOMPARE(json(HttpTestClient::answer(m_port, HttpTestClient::post(strRequest.arg("B").toUtf8())))
                     .value("errorCode")
                     .toInt(),
                 3027);

        // The page leaves; two round trips make sure the service saw it.
        pPage.reset();
        pHttp.reset();
        QCOMPARE(windowState("N"), QStringLiteral("none"));
        QCOMPARE(windowState("N"), QStringLiteral("none"));
        QCOMPARE(answerDialog(), QStringLiteral("answered"));
        QVERIFY(m_pService->isRunning());

        // The next dialog opens again and answers its page.
        m_pWindowless->send(strRequest.arg(m_pWindowless->uuid()).toUtf8());
        QVERIFY(QTest::qWaitFor([&] { return answerDialog() == QLatin1String("answered"); }, kWaitMs));
        QVERIFY(m_pWindowless->waitFor(1));
        QCOMPARE(json(m_pWindowless->m_listReceived.takeFirst().toUtf8()).value("path").toString(),
                 QStringLiteral("/tmp/chosen.mp4"));
    }

    void windowWithoutBrowserStaysRegisteredAndHidden() {
        QCOMPARE(windowState("W"), QStringLiteral("hidden"));  // showWnd finds no foreground window either
        QCOMPARE(windowState("P0"), QStringLiteral("hidden"));
        QCOMPARE(windowState("N"), QStringLiteral("none"));
        QCOMPARE(httpAnswer(R"({"cmd":"window.destroyWnd","uuid":"P0","sequence":"1"})"), windowResponse("P0", "1"));
        QCOMPARE(windowState("P0"), QStringLiteral("none"));
    }

    void webSocketClosedTakesItsWindow() {
        const QString strId = m_pSecond->uuid();
        QCOMPARE(windowState(strId), QStringLiteral("hidden"));
        m_pSecond.reset();
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strId), QStringLiteral("none"), kWaitMs);
        QCOMPARE(windowState(m_pFirst->uuid()), QStringLiteral("hidden"));
    }

    // Last: it shortens the poll and idle times for a while.
    void httpClientGoneTakesItsWindow() {
        QCOMPARE(httpAnswer(R"({"cmd":"window.createWnd","uuid":"D"})"), windowResponse("D", "", 5001));
        QCOMPARE(httpAnswer(R"({"cmd":"system.disconnect","uuid":"D"})"), QByteArray("disconnect"));
        QCOMPARE(windowState("D"), QStringLiteral("none"));

        // A client that stops polling expires with its window.
        QVERIFY(hook("poll 100\nidle 200", "test hook: idle 200"));
        QCOMPARE(httpAnswer(R"({"cmd":"window.createWnd","uuid":"I"})"), windowResponse("I", "", 5001));
        QCOMPARE(httpAnswer(R"({"cmd":"system.get","uuid":"I"})"), QByteArray("timeout"));
        QTRY_COMPARE_WITH_TIMEOUT(windowState("I"), QStringLiteral("none"), kWaitMs);
        QCOMPARE(windowState("Pabc"), QStringLiteral("hidden"));  // other clients keep theirs
        QVERIFY(hook("poll 15000\nidle 60000", "test hook: idle 60000"));
    }
};

QTEST_MAIN(TestVideoService)
#include "tst_video_service.moc"
