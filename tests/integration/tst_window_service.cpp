// The window commands through the service binary (test-hooks build, Qt's
// offscreen platform: no browser window is ever found) over HTTP and
// WebSocket, and windows going with their clients. Ports 27800-27809.
#include "HttpTestClient.h"
#include "PageSocket.h"
#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {
constexpr int kWaitMs = 10000;

QByteArray response(const char* szUuid, const char* szSequence, int iCode = 0) {
    return QStringLiteral(R"({"errorCode":%1,"errorModule":%2,"sequence":"%3","uuid":"%4"})")
        .arg(iCode)
        .arg(iCode ? 5 : 0)
        .arg(QLatin1String(szSequence), QLatin1String(szUuid))
        .toUtf8();
}
}  // namespace

class TestWindowService : public QObject {
    Q_OBJECT

    std::unique_ptr<ServiceProcess> m_pService;
    quint16 m_port = 0;

    QByteArray post(const QByteArray& baBody) { return HttpTestClient::answer(m_port, HttpTestClient::post(baBody)); }

    // "shown", "hidden" or "none": the window registered under strUuid.
    QString windowState(const QString& strUuid) {
        return m_pService->ask("window " + strUuid.toUtf8(), QStringLiteral("test hook: window %1 ").arg(strUuid));
    }

private slots:
    void initTestCase() {
        m_pService = std::make_unique<ServiceProcess>(ServiceProcess::config(27800, "tst_window_service"),
                                                      ServiceProcess::testHooksBinaryPath());
        m_port = m_pService->startListening();
        QVERIFY(m_port != 0);
        QVERIFY(m_pService->waitForLog("test hook: ready"));
    }

    void cleanupTestCase() {
        m_pService->terminate();
        QVERIFY(m_pService->waitForFinished());
        QCOMPARE(m_pService->exitCode(), 0);
    }

    void everyCommandAnswers_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        // "W" has a window (created first, without a browser); "N" has none.
        QTest::newRow("createWnd without browser")
            << QByteArray(R"({"cmd":"window.createWnd","uuid":"W","sequence":"1","className":"Chrome",)"
                          R"("rect":{"left":10,"top":20,"width":320,"height":240}})")
            << response("W", "1", 5001);
        const char* const aszCommands[] = {"showWnd", "hideWnd", "setWndGeometry", "setWndZOrder", "setWndCover",
                                           "updateParentWnd", "cuttingPartWindow", "repairPartWindow",
                                           "setWindowSelected"};
        for (const char* szCommand : aszCommands) {
            for (const char* szUuid : {"W", "N"}) {
                QTest::addRow("%s %s", szCommand, szUuid)
                    << QStringLiteral(R"({"cmd":"window.%1","uuid":"%2","sequence":"s","flag":1,"position":"left",)"
                                      R"("size":30,"round":8,"rect":{"left":1,"top":2,"width":30,"height":40}})")
                           .arg(QLatin1String(szCommand), QLatin1String(szUuid))
                           .toUtf8()
                    << response(szUuid, "s");
            }
        }
        QTest::newRow("version") << QByteArray(R"({"cmd":"window.getLocalServiceVersion","uuid":"N","sequence":"7"})")
                                 << QByteArray(R"({"errorCode":0,"errorModule":0,"localServiceVersion":"1.0.3","sequence":"7","uuid":"N"})");
        QTest::newRow("number sequence") << QByteArray(R"({"cmd":"window.showWnd","uuid":"W","sequence":3})")
                                         << response("W", "");
        QTest::newRow("parentWnd 0") << QByteArray(R"({"cmd":"window.createWnd","uuid":"P0","parentWnd":"0"})")
                                     << response("P0", "", 5001);
        QTest::newRow("parentWnd not a number")
            << QByteArray(R"({"cmd":"window.createWnd","uuid":"Pabc","sequence":"2","parentWnd":"abc","embed":false})")
            << response("Pabc", "2", 5001);
        QTest::newRow("destroyWnd none") << QByteArray(R"({"cmd":"window.destroyWnd","uuid":"N","sequence":"d"})")
                                         << response("N", "d");
        QTest::newRow("unknown command") << QByteArray(R"({"cmd":"window.createwnd","uuid":"W"})") << QByteArray("(closed)");
        QTest::newRow("third field ignored") << QByteArray(R"({"cmd":"window.hideWnd.extra","uuid":"W","sequence":"x"})")
                                             << response("W", "x");
    }
    void everyCommandAnswers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QCOMPARE(post(request), expected);
    }

    void windowWithoutBrowserStaysRegisteredAndHidden() {
        QCOMPARE(windowState("W"), QStringLiteral("hidden"));  // showWnd finds no foreground window either
        QCOMPARE(windowState("P0"), QStringLiteral("hidden"));
        QCOMPARE(windowState("N"), QStringLiteral("none"));
        QCOMPARE(post(R"({"cmd":"window.destroyWnd","uuid":"P0","sequence":"1"})"), response("P0", "1"));
        QCOMPARE(windowState("P0"), QStringLiteral("none"));
    }

    void httpClientGoneTakesItsWindow() {
        QCOMPARE(post(R"({"cmd":"window.createWnd","uuid":"D"})"), response("D", "", 5001));
        QCOMPARE(post(R"({"cmd":"system.disconnect","uuid":"D"})"), QByteArray("disconnect"));
        QCOMPARE(windowState("D"), QStringLiteral("none"));

        // A client that stops polling expires with its window.
        QVERIFY(m_pService->writeInput("poll 100\nidle 200\n"));
        QVERIFY(m_pService->waitForLog("test hook: idle 200"));
        QCOMPARE(post(R"({"cmd":"window.createWnd","uuid":"I"})"), response("I", "", 5001));
        QCOMPARE(post(R"({"cmd":"system.get","uuid":"I"})"), QByteArray("timeout"));
        QTRY_COMPARE_WITH_TIMEOUT(windowState("I"), QStringLiteral("none"), kWaitMs);
        QCOMPARE(windowState("Pabc"), QStringLiteral("hidden"));  // other clients keep theirs
        QVERIFY(m_pService->writeInput("poll 15000\nidle 60000\n"));
        QVERIFY(m_pService->waitForLog("test hook: idle 60000"));
    }

    void webSocketClosedTakesItsWindow() {
        auto pPage = std::make_unique<PageSocket>(m_port);
        QVERIFY(pPage->open());
        const QString strId = pPage->uuid();
        pPage->send(QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","sequence":"1","embed":false})").arg(strId).toUtf8());
        QVERIFY(pPage->waitFor(1));
        QCOMPARE(pPage->m_listReceived[0].toUtf8(), response(strId.toUtf8().constData(), "1", 5001));
        QCOMPARE(windowState(strId), QStringLiteral("hidden"));
        pPage.reset();
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strId), QStringLiteral("none"), kWaitMs);
    }
};

QTEST_MAIN(TestWindowService)
#include "tst_window_service.moc"
