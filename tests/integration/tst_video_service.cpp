// The video module through the service binary (test-hooks build), as pages
// reach it over WebSocket and HTTP: response envelopes, empty answers,
// scripted library results, and library events reaching the page that owns
// the window. Ports 27900-27909 belong to this test.
#include "HttpTestClient.h"
#include "PageSocket.h"
#include "ServiceProcess.h"
#include "VideoCommand.h"
#include "video_control.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <QSet>

#include <functional>
#include <memory>

namespace {
constexpr int kWaitMs = 10000;
const QByteArray kHttpUuid = "http-page";

QJsonObject json(const QByteArray& baText) { return QJsonDocument::fromJson(baText).object(); }
QString indented(const QByteArray& baJson) { return QString::fromUtf8(QJsonDocument(json(baJson)).toJson()); }

QByteArray createWnd(const QString& strUuid) {
    return QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","sequence":"1",)"
                          R"("rect":{"left":0,"top":0,"width":320,"height":240},"className":"Chrome"})")
        .arg(strUuid)
        .toUtf8();
}
}  // namespace

class TestVideoService : public QObject {
    Q_OBJECT

private:
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

    QByteArray httpAnswer(const QByteArray& baBody) { return HttpTestClient::answer(m_port, HttpTestClient::post(baBody)); }
    // Sends a request and returns the page's next text.
    QString wsAnswer(PageSocket& page, const QByteArray& baText) {
        const int iBefore = page.m_listReceived.size();
        page.send(baText);
        return page.waitFor(iBefore + 1) ? page.m_listReceived.takeAt(iBefore) : QStringLiteral("(none)");
    }
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

private slots:
    void initTestCase() {
        m_pService = std::make_unique<ServiceProcess>(ServiceProcess::config(27900, "tst_video_service"),
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
            QCOMPARE(json(wsAnswer(*pPage, createWnd(pPage->uuid())).toUtf8()).value("errorCode").toInt(), 5001);
        }
        QCOMPARE(json(httpAnswer(createWnd(kHttpUuid))).value("errorCode").toInt(), 5001);
    }

    void cleanupTestCase() {
        m_pFirst.reset();
        m_pSecond.reset();
        m_pWindowless.reset();
        if (!m_pService) return;
        QVERIFY(m_pService->isRunning());
        m_pService->terminate();
        QVERIFY(m_pService->waitForFinished());
        QCOMPARE(m_pService->exitCode(), 0);
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
            QTest::newRow("window-bound, no window" + over)
                << bHttp << false << QByteArray(R"({"cmd":"video.startPlay","uuid":"%1","sequence":"2"})")
                << QByteArray() << QByteArray();
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
        QTest::newRow("answers empty with a window")
            << false << true << QByteArray(R"({"cmd":"video.setPlayMode","uuid":"%1","sequence":1})") << QByteArray()
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

        QCOMPARE(strAnswer, expected.isEmpty() ? QString() : indented(QString::fromUtf8(expected).arg(strUuid).toUtf8()));
    }

    void unknownCommandsGetNoAnswer() {
        const QString strUuid = m_pFirst->uuid();
        for (const char* szCmd : {"video", "video.", "video.StartPlay", "video..startPlay"}) {
            m_pFirst->send(QStringLiteral(R"({"cmd":"%1","uuid":"%2"})").arg(QLatin1String(szCmd), strUuid).toUtf8());
        }
        QCOMPARE(drain(*m_pFirst), QStringList());
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
        const QJsonObject polled = json(httpAnswer(QJsonDocument({{"cmd", "system.get"}, {"uuid", QString(kHttpUuid)}}).toJson()));
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
        VC_WIDGET_REQUEST_FUNCTIONS(LIST_FUNCTION) VC_WIDGET_FUNCTIONS(LIST_FUNCTION)
        VC_REQUEST_FUNCTIONS(LIST_FUNCTION) VC_NO_ARGUMENT_FUNCTIONS(LIST_FUNCTION)
#undef LIST_FUNCTION
        // All lines at once; the last acknowledgement follows the others.
        const auto scriptAll = [&](const std::function<QByteArray(const QByteArray&)>& fnResult) {
            QByteArray baLines;
            for (const QByteArray& baFunction : listFunctions) baLines += "vc-result " + baFunction + " " + fnResult(baFunction) + "\n";
            baLines.chop(1);
            return hook(baLines, "test hook: vc-result " + listFunctions.last());
        };
        QVERIFY(scriptAll([](const QByteArray& baFunction) { return "{\"fn\":\"" + baFunction + "\"}"; }));

        // Answers come in the order of the requests: all requests at once.
        const int iCount = int(video::videoCommandsEnd() - video::videoCommandsBegin());
        QStringList listAnswers[2];  // with a window, without one
        for (PageSocket* pPage : {m_pFirst.get(), m_pWindowless.get()}) {
            for (auto it = video::videoCommandsBegin(); it != video::videoCommandsEnd(); ++it) {
                const QJsonObject request{{"cmd", "video." + QLatin1String(it->szName)}, {"uuid", pPage->uuid()},
                                          {"sequence", it->szName}, {"full", false}};
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
        QCOMPARE(setCalled.size(), 90 + 1);  // 90 library functions, and none for the others

        QVERIFY(scriptAll([](const QByteArray&) { return QByteArray("{}"); }));
    }
};

QTEST_MAIN(TestVideoService)
#include "tst_video_service.moc"
