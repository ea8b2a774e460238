// The whole road in a real browser: the demonstration page (tools/web/,
// served by serve.mjs) in a windowed Chromium on a private Xvfb + openbox
// desktop, the service (test-hooks build), camera-sim and device-sim. The
// test drives the page through the browser's remote debugging protocol and
// X input, and reads the screen. The steps run in order, each from where the
// last left the page. Ports 28150-28199.
#include "CameraSimProcess.h"
#include "DevTools.h"
#include "DeviceSimProcess.h"
#include "HttpTestClient.h"
#include "ServiceProcess.h"
#include "Version.h"
#include "XDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>

namespace {
XDesktop* s_pDesktop = nullptr;

constexpr int kWaitMs = 30000;
constexpr int kServicePort = 28150, kCameraPort = 28160, kDevicePort = 28161, kPagePort = 28162, kDebugPort = 28163;
// Colours of the demonstration page: its background, the wall element, the
// drop-down menu; and the one the floating window is painted.
constexpr unsigned long kPage = 0xf6f7f9, kWall = 0x27384a, kMenu = 0xc8641e, kFloating = 0x20c0a0;
// The example page's video element.
constexpr unsigned long kExampleVideo = 0x203040;

int distance(unsigned long ulA, unsigned long ulB) {
    int iDistance = 0;
    for (int iShift : {0, 8, 16}) iDistance += std::abs(int((ulA >> iShift) & 0xff) - int((ulB >> iShift) & 0xff));
    return iDistance;
}

// {left, top, right, bottom}, right and bottom exclusive.
std::vector<int> moved(const std::vector<int>& vecBox, int dy, int dx = 0) {
    return {vecBox[0] + dx, vecBox[1] + dy, vecBox[2] + dx, vecBox[3] + dy};
}

bool near(const std::vector<int>& vecBox, const std::vector<int>& vecExpected) {
    if (vecBox.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        if (vecBox[i] == -1 || std::abs(vecBox[i] - vecExpected[i]) > 2) return false;
    }
    return true;
}

QByteArray text(const std::vector<int>& vecBox) {
    QByteArray baText;
    for (int i : vecBox) baText += QByteArray::number(i) + ' ';
    return baText;
}

// The edges of the camera's test picture (colour bars) expected at
// vecExpected, each searched from outside inwards within 8 pixels along a
// line through one colour of the picture: the left edge along the blue strip
// under the white bar, the right one along the blue bar, the top down the
// yellow bar, the bottom up the purple block. -1 where none is found.
std::vector<int> pictureBox(const std::vector<int>& vecExpected) {
    const int iLeft = vecExpected[0], iTop = vecExpected[1], iRight = vecExpected[2], iBottom = vecExpected[3];
    const int iWidth = iRight - iLeft, iHeight = iBottom - iTop;
    const auto is = [](int x, int y, unsigned long ulColour) {
        return distance(s_pDesktop->pixel(x, y), ulColour) < 90;
    };
    std::vector<int> vecBox(4, -1);
    for (int x = iLeft - 6; x <= iLeft + 8 && vecBox[0] < 0; ++x)
        if (is(x, iTop + iHeight * 7 / 10, 0x0000ff)) vecBox[0] = x;
    for (int y = iTop - 6; y <= iTop + 8 && vecBox[1] < 0; ++y)
        if (is(iLeft + iWidth * 3 / 14, y, 0xffff00)) vecBox[1] = y;
    for (int x = iRight + 5; x >= iRight - 9 && vecBox[2] < 0; --x)
        if (is(x, iTop + iHeight / 3, 0x0000ff)) vecBox[2] = x + 1;
    for (int y = iBottom + 5; y >= iBottom - 9 && vecBox[3] < 0; --y)
        if (is(iLeft + iWidth * 5 / 12, y, 0x6e00d6)) vecBox[3] = y + 1;
    return vecBox;
}
}  // namespace

class TestWebDemo : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_pService;
    std::unique_ptr<CameraSimProcess> m_pCamera;
    DeviceSimProcess m_device;
    QProcess m_pages;
    int m_iBrowserPid = 0;
    DevTools m_devTools{kDebugPort};
    QString m_strTab;
    quint16 m_port = 0;
    unsigned long m_browser = 0;  // the browser's X window
    std::vector<int> m_vecWall;   // the wall element on screen
    int m_iWallCssLeft = 0;       // and its place in the page's viewport
    int m_iWallCssTop = 0;

    bool startService() {
        m_pService = std::make_unique<ServiceProcess>(
            QJsonObject{{"ServicePortStart", kServicePort},
                        {"ServicePortEnd", kServicePort + 6},
                        // The default policy asks the user about any other origin.
                        {"AllowedOrigins", QJsonArray{QStringLiteral("http://127.0.0.1:%1").arg(kPagePort)}},
                        {"SingleInstance", QStringLiteral("tst_web_demo-%1").arg(QCoreApplication::applicationPid())}},
            ServiceProcess::testHooksBinaryPath());
        m_pService->setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return m_pService->start() && (m_port = m_pService->waitForListening(kWaitMs)) != 0 &&
               m_pService->waitForLog(QStringLiteral("origin trust policy: ask")) &&
               m_pService->waitForLog(QStringLiteral("test hook: ready"));
    }

    QJsonValue js(const QString& strExpression) { return m_devTools.evaluate(strExpression); }
    // An element's box on screen, from its place in the viewport and the wall's.
    std::vector<int> screenBox(const QString& strId) {
        const QJsonObject box =
            js("document.getElementById('" + strId + "').getBoundingClientRect().toJSON()").toObject();
        const int dx = m_vecWall[0] - m_iWallCssLeft, dy = m_vecWall[1] - m_iWallCssTop;
        return {dx + qRound(box.value("left").toDouble()), dy + qRound(box.value("top").toDouble()),
                dx + qRound(box.value("right").toDouble()), dy + qRound(box.value("bottom").toDouble())};
    }
    // Both say what they found instead when they fail.
    static bool shown(const std::function<std::vector<int>()>& fnFind, const std::vector<int>& vecExpected) {
        if (XDesktop::waitFor([&] { return near(fnFind(), vecExpected); }, kWaitMs)) return true;
        qWarning("found %sinstead of %s", text(fnFind()).constData(), text(vecExpected).constData());
        return false;
    }
    bool showsBoxAt(unsigned long ulColour, const std::vector<int>& vecExpected) {
        return shown([&] { return s_pDesktop->colourBox(ulColour); }, vecExpected);
    }

    // The page's event log has a line starting with strStart.
    bool pageLogged(const QString& strStart) {
        const QString strQuoted = QString::fromUtf8(QJsonDocument(QJsonArray{strStart}).toJson(QJsonDocument::Compact));
        return js(QStringLiteral("demo.events.some((e) => e.startsWith(%1[0]))").arg(strQuoted)).toBool();
    }

    QString windowState(const QString& strUuid) { return m_pService->windowState(strUuid); }

    bool showsPictureAt(const std::vector<int>& vecExpected) {
        return shown([&] { return pictureBox(vecExpected); }, vecExpected);
    }

    bool doubleClickOnTheWall() {
        return s_pDesktop->run({"xdotool", "mousemove", std::to_string((m_vecWall[0] + m_vecWall[2]) / 2),
                                std::to_string((m_vecWall[1] + m_vecWall[3]) / 2), "click", "--repeat", "2", "--delay",
                                "80", "1"}) == 0;
    }
    void screenshot(const char* szName) {
        const QString strShot =
            QCoreApplication::applicationDirPath() + QStringLiteral("/tst_web_demo-%1.png").arg(szName);
        QVERIFY(s_pDesktop->saveScreenshot(strShot.toStdString()));
        qInfo("screenshot: %s", qPrintable(strShot));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(startService());
        m_pCamera = std::make_unique<CameraSimProcess>(CAMERA_SIM_BIN, kCameraPort);
        QVERIFY(m_pCamera->start({"--size", "640x360"}));
        QVERIFY(m_device.start(kDevicePort));
        m_pages.setProcessChannelMode(QProcess::MergedChannels);
        m_pages.start(NODE_EXECUTABLE, {LOCALSERVICE_WEB_DIR "/serve.mjs", "--port", QString::number(kPagePort)});
        QVERIFY(m_pages.waitForReadyRead(kWaitMs));

        const QString strUrl =
            QStringLiteral("http://127.0.0.1:%1/index.html?autostart=0&portStart=%2&portEnd=%3&cameras=%4&device=%5")
                .arg(kPagePort)
                .arg(kServicePort)
                .arg(kServicePort + 6)
                .arg(m_pCamera->url(), m_device.address());
        m_iBrowserPid =
            s_pDesktop->spawn({"chromium", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update", "--disable-sync",
                               "--no-default-browser-check", "--password-store=basic", "--ozone-platform=x11",
                               "--disable-popup-blocking", "--remote-debugging-port=" + std::to_string(kDebugPort),
                               "--user-data-dir=" + m_dir.filePath(QStringLiteral("profile")).toStdString(),
                               "--window-position=40,30", "--window-size=1000,800", strUrl.toStdString()},
                              m_dir.filePath(QStringLiteral("chromium.log")).toStdString());
        QVERIFY(m_iBrowserPid > 0);
        QVERIFY(XDesktop::waitFor([&] { return !(m_strTab = m_devTools.findTab("/index.html")).isEmpty(); }, 90000));
        QVERIFY(m_devTools.attach(m_strTab));
        QVERIFY(XDesktop::waitFor([&] { return (m_browser = s_pDesktop->findTitle("LocalService video wall")) != 0; },
                                  kWaitMs));

        // The wall element before a window lies over it.
        QVERIFY2(XDesktop::waitFor(
                     [&] {
                         m_vecWall = s_pDesktop->colourBox(kWall);
                         return m_vecWall.size() == 4 && m_vecWall[2] - m_vecWall[0] == 640 &&
                                m_vecWall[3] - m_vecWall[1] == 360;
                     },
                     kWaitMs),
                 text(m_vecWall));
        QCOMPARE(js("devicePixelRatio").toDouble(), 1.0);
        const QJsonObject wall = js("document.getElementById('wall').getBoundingClientRect().toJSON()").toObject();
        m_iWallCssLeft = qRound(wall.value("left").toDouble());
        m_iWallCssTop = qRound(wall.value("top").toDouble());
        js("document.getElementById('start').click()");
    }

    void cleanupTestCase() {
        if (m_iBrowserPid > 0) ::kill(-m_iBrowserPid, SIGKILL);  // the browser's process group
        m_pages.kill();
        m_pages.waitForFinished(kWaitMs);
        if (m_pService) {
            QVERIFY(m_pService->stop());
            // Every request of the page was its listed origin's.
            QVERIFY2(!m_pService->log().contains("origin refused"), qPrintable(m_pService->log()));
        }
    }

    void cameraPlaysOverTheElement() {
        QVERIFY(showsPictureAt(m_vecWall));
        QVERIFY(s_pDesktop->colourBox(kWall).empty());
        QVERIFY(pageLogged("1 picture playing"));
        screenshot("wall");
    }

    // The page client's plain-script form, as a page without modules loads
    // it: over the image channel (the request in pieces of 40 characters)
    // and over a WebSocket, each with the handshake and a Base64 challenge;
    // a wrong (upper-case) login id finds no service.
    void plainScriptReachesTheServiceOverBothChannels() {
        QFile script(LOCALSERVICE_WEB_BUILD_DIR "/localservice.global.js");
        QVERIFY(script.open(QIODevice::ReadOnly));
        js(QString::fromUtf8(script.readAll()));
        const QJsonObject report = js(QStringLiteral(R"((async () => {
            const range = { portStart: %1, portEnd: %2, pieceLength: 40, reconnect: false };
            const login = await LocalService.makeLogin("page+1@example.com", "q+8/Zw==", 100);
            const wrong = { ...login, sessionID: login.sessionID.toUpperCase() };
            const report = {};
            for (const kind of ["image", "websocket"]) {
              const connection = await LocalService.connect({ ...range, transports: [kind], login });
              report[kind] = { kind: connection.kind, uuid: connection.uuid,
                               answer: await connection.request("window.getLocalServiceVersion") };
              connection.close();
              report[kind + "Wrong"] = await LocalService.connect({ ...range, transports: [kind], login: wrong })
                .then(() => "connected", (e) => e.kind);
            }
            return report;
          })())")
                                          .arg(m_port)
                                          .arg(m_port + 1))
                                       .toObject();
        const QByteArray baReport = QJsonDocument(report).toJson();
        QStringList uuids;
        for (const QString& strKind : {QStringLiteral("image"), QStringLiteral("websocket")}) {
            const QJsonObject result = report.value(strKind).toObject();
            QVERIFY2(result.value("kind").toString() == strKind, baReport.constData());
            uuids << result.value("uuid").toString();
            QCOMPARE(uuids.last().size(), 38);
            QCOMPARE(result.value("answer").toObject().value("localServiceVersion").toString(),
                     QStringLiteral(LOCALSERVICE_VERSION));
            QCOMPARE(result.value("answer").toObject().value("uuid").toString(), uuids.last());
            QCOMPARE(report.value(strKind + "Wrong").toString(), QStringLiteral("not-found"));
        }
        QVERIFY(uuids[0] != uuids[1]);
    }

    // A floating window over the status line: at its place without taking
    // the keyboard from the page; both windows follow the browser's move;
    // closing its WebSocket takes it away.
    void floatingWindowAndTheBrowserMove() {
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->activeWindow() == m_browser; }, kWaitMs));
        const QString strUuid = js("demo.service.attach(document.getElementById('status'), { embed: false }).then((w) "
                                   "=> (demo.floating = w).uuid)")
                                    .toString();
        QVERIFY(!strUuid.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strUuid), QStringLiteral("shown"), kWaitMs);
        QVERIFY(m_pService->writeInput("paint " + strUuid.toUtf8() + " 20c0a0\n"));
        std::vector<int> vecStatus = screenBox("status");
        QVERIFY(showsBoxAt(kFloating, vecStatus));
        QCOMPARE(s_pDesktop->activeWindow(), m_browser);

        int x = 0, y = 0, xMoved = 0, yMoved = 0, iWidth = 0, iHeight = 0;
        QVERIFY(s_pDesktop->geometry(m_browser, x, y, iWidth, iHeight));
        QCOMPARE(s_pDesktop->run({"xdotool", "windowmove", std::to_string(m_browser), "130", "10"}), 0);
        QVERIFY(XDesktop::waitFor(
            [&] { return s_pDesktop->geometry(m_browser, xMoved, yMoved, iWidth, iHeight) && xMoved != x; }, kWaitMs));
        m_vecWall = moved(m_vecWall, yMoved - y, xMoved - x);
        vecStatus = moved(vecStatus, yMoved - y, xMoved - x);
        QVERIFY(showsPictureAt(m_vecWall));
        QVERIFY(showsBoxAt(kFloating, vecStatus));

        js("demo.floating.connection.close()");
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strUuid), QStringLiteral("none"), kWaitMs);
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->colourBox(kFloating).empty(); }, kWaitMs));
    }

    // Scrolling moves the window with the element; the part scrolled under
    // the browser's toolbar is cut off, the toolbar stays as it was.
    void scrollingMovesTheWindow() {
        js("window.scrollTo(0, 50)");
        QVERIFY(showsPictureAt(moved(m_vecWall, -50)));

        const int iViewportTop = m_vecWall[1] - m_iWallCssTop, iMiddle = (m_vecWall[0] + m_vecWall[2]) / 2;
        const unsigned long ulToolbar = s_pDesktop->pixel(iMiddle, iViewportTop - 4);
        const int iScroll = m_iWallCssTop + 60;
        js(QStringLiteral("window.scrollTo(0, %1)").arg(iScroll));
        const std::vector<int> vecHalf = moved(m_vecWall, -iScroll);
        QVERIFY2(XDesktop::waitFor(
                     [&] {
                         const std::vector<int> vecBox = pictureBox(vecHalf);
                         return std::abs(vecBox[3] - vecHalf[3]) <= 2 && std::abs(vecBox[0] - vecHalf[0]) <= 2 &&
                                std::abs(vecBox[2] - vecHalf[2]) <= 2 &&
                                distance(s_pDesktop->pixel(iMiddle, iViewportTop + 2), kPage) > 60 &&
                                s_pDesktop->pixel(iMiddle, iViewportTop - 4) == ulToolbar;
                     },
                     kWaitMs),
                 text(pictureBox(vecHalf)));

        js("window.scrollTo(0, 0)");
        QVERIFY(showsPictureAt(m_vecWall));
    }

    // The drop-down opens over the video: its colour shows on screen there,
    // and the video comes back when it closes.
    void menuShowsThroughTheVideo() {
        js("document.getElementById('layoutButton').click()");
        const QJsonObject menu =
            js("document.getElementById('layoutMenu').getBoundingClientRect().toJSON()").toObject();
        const int x = m_vecWall[0] - m_iWallCssLeft + qRound(menu.value("left").toDouble()) + 10;
        const int y = m_vecWall[1] - m_iWallCssTop + qRound(menu.value("bottom").toDouble()) - 10;
        QVERIFY2(y > m_vecWall[1] + 20, "the menu reaches over the wall");
        QVERIFY2(XDesktop::waitFor([&] { return s_pDesktop->pixel(x, y) == kMenu; }, kWaitMs),
                 QByteArray::number(qulonglong(s_pDesktop->pixel(x, y)), 16));
        // Only the menu's part is cut: the blue bar at the right still shows.
        QVERIFY(distance(s_pDesktop->pixel(m_vecWall[2] - 20, (2 * m_vecWall[1] + m_vecWall[3]) / 3), 0x0000ff) < 90);
        screenshot("menu");

        js("document.getElementById('layoutButton').click()");
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->colourBox(kMenu).empty(); }, kWaitMs));
        QVERIFY(showsPictureAt(m_vecWall));
    }

    // The service reports leaving full screen only; the page client makes a
    // double click on a playing picture the full-screen event.
    void doubleClickIsTheFullScreenEvent() {
        QVERIFY(doubleClickOnTheWall());
        QVERIFY(XDesktop::waitFor([&] { return pageLogged("full screen on (doubleClick)"); }, kWaitMs));
        int x = 0, y = 0, iWidth = 0, iHeight = 0;
        QVERIFY(s_pDesktop->geometry(s_pDesktop->root(), x, y, iWidth, iHeight));
        // The picture fills the screen's width: white bar left, blue bar right.
        QVERIFY(XDesktop::waitFor(
            [&] {
                return distance(s_pDesktop->pixel(iWidth / 14, iHeight / 2), 0xffffff) < 60 &&
                       distance(s_pDesktop->pixel(iWidth * 13 / 14, iHeight / 2), 0x0000ff) < 60;
            },
            kWaitMs));

        QVERIFY(doubleClickOnTheWall());
        QVERIFY(XDesktop::waitFor([&] { return pageLogged("full screen off"); }, kWaitMs));
        QVERIFY(showsPictureAt(m_vecWall));
    }

    void talkReachesTheDevice() {
        js("document.getElementById('talk').click()");
        QVERIFY(!m_device.waitForEvent(QStringLiteral("talk"), kWaitMs).isEmpty());
        QVERIFY(XDesktop::waitFor([&] { return pageLogged("talking (handle"); }, kWaitMs));
        js("document.getElementById('talk').click()");
        QVERIFY(XDesktop::waitFor([&] { return pageLogged("talk ended"); }, kWaitMs));
    }

    // A new service: the page finds it over WebSocket again (the page's
    // connection and the wall's) within the documented 6 s or so, makes
    // its window again and plays.
    void wallComesBackAfterAServiceRestart() {
        const QString strOld = js("demo.wall.uuid").toString();
        QVERIFY(m_pService->stop());
        // An outage of some seconds, in which the page looks for the
        // service again and again (a browser holds back new WebSockets
        // after failed ones).
        QTest::qWait(8000);
        QVERIFY(startService());
        QElapsedTimer back;
        back.start();
        const QString strKinds = "[demo.service.kind, demo.wall.connection.kind, demo.wall.uuid !== " +
                                 QString::fromUtf8(QJsonDocument(QJsonArray{strOld}).toJson(QJsonDocument::Compact)) +
                                 "[0]].join(' ')";
        QVERIFY2(XDesktop::waitFor(
                     [&] { return js(strKinds).toString() == QStringLiteral("websocket websocket true"); }, 8000),
                 QJsonDocument(QJsonArray{js(strKinds)}).toJson().constData());
        qInfo("both connections back over WebSocket %lld ms after the service listened", back.elapsed());
        QVERIFY(XDesktop::waitFor([&] { return pageLogged("the wall is back"); }, kWaitMs));
        qInfo("the wall restored %lld ms after the service listened", back.elapsed());
        QVERIFY(showsPictureAt(m_vecWall));
    }

    // The example page in a tab of its own: its one button plays the camera
    // over the element; play until the first frame rejects with the
    // stream's error for a camera that is not there, and as a bad url for
    // what is no url.
    void examplePagePlaysUntilTheFirstFrame() {
        const QString strTab = m_devTools.openTab(QStringLiteral("about:blank"));
        QVERIFY(!strTab.isEmpty());
        QVERIFY(m_devTools.attach(strTab));
        const QString strUrl = QStringLiteral("http://127.0.0.1:%1/example.html?portStart=%2&portEnd=%3&camera=%4")
                                   .arg(kPagePort)
                                   .arg(kServicePort)
                                   .arg(kServicePort + 6)
                                   .arg(m_pCamera->url());
        js("location.href = " + QString::fromUtf8(QJsonDocument(QJsonArray{strUrl}).toJson(QJsonDocument::Compact)) +
           "[0]");
        QVERIFY(XDesktop::waitFor([&] { return js("document.readyState === 'complete' && !!window.example").toBool(); },
                                  kWaitMs));
        // The element before the window lies over it (this tab has no bar
        // about command-line flags: its viewport is not the wall's).
        std::vector<int> vecVideo;
        QVERIFY2(XDesktop::waitFor(
                     [&] {
                         vecVideo = s_pDesktop->colourBox(kExampleVideo);
                         return vecVideo.size() == 4 && vecVideo[2] - vecVideo[0] == 480 &&
                                vecVideo[3] - vecVideo[1] == 270;
                     },
                     kWaitMs),
                 text(vecVideo));
        js("document.getElementById('play').click()");
        const auto status = [&] { return js("document.getElementById('status').textContent").toString(); };
        QVERIFY2(XDesktop::waitFor([&] { return status() == QStringLiteral("playing over websocket"); }, kWaitMs),
                 qPrintable(status()));
        QVERIFY(showsPictureAt(vecVideo));

        const QJsonObject report =
            m_devTools
                .evaluate(QStringLiteral(R"((async () => {
            const video = example.wall.video;
            const outcome = (promise) => promise.then(() => "resolved", (e) => `${e.kind} ${e.code}: ${e.message}`);
            return { dead: await outcome(video.play("%2", { until: "firstFrame" })),
                     notAUrl: await outcome(video.play("not a url", { until: "firstFrame" })),
                     camera: await outcome(video.play("%1", { until: "firstFrame" })) };
          })())")
                              .arg(m_pCamera->url(), QStringLiteral("rtsp://127.0.0.1:28199/nothing")),
                          kWaitMs)
                .toObject();
        const QByteArray baReport = QJsonDocument(report).toJson();
        QVERIFY2(report.value("dead").toString().startsWith("failed 3006: "), baReport.constData());
        QVERIFY2(report.value("notAUrl").toString().startsWith("failed 3002: "), baReport.constData());
        QCOMPARE(report.value("camera").toString(), QStringLiteral("resolved"));
        QVERIFY(showsPictureAt(vecVideo));

        QVERIFY(m_devTools.closeTab(strTab));
        QVERIFY(m_devTools.attach(m_strTab));
        QVERIFY(m_devTools.activateTab(m_strTab));
    }

    // A browser window closed by its user: the window an HTTP client made
    // there stays registered, hidden, until the client destroys it.
    void closedBrowserWindowLeavesItsWindowHidden() {
        const QString strToken = QUuid::createUuid().toString();
        js("window.open('', '', 'popup,left=900,top=480,width=320,height=240').document.title = 'other " + strToken +
           "'");
        unsigned long other = 0;
        QVERIFY(XDesktop::waitFor(
            [&] { return (other = s_pDesktop->findTitle("other " + strToken.toStdString())) != 0; }, kWaitMs));
        const QByteArray baCreate = QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","className":"Chrome",)"
                                                   R"("rect":{"left":10,"top":40,"width":100,"height":80}})")
                                        .arg(strToken)
                                        .toUtf8();
        QCOMPARE(HttpTestClient::answer(m_port, HttpTestClient::post(baCreate)),
                 R"({"errorCode":0,"errorModule":0,"sequence":"","uuid":")" + strToken.toUtf8() + R"("})");
        QCOMPARE(windowState(strToken), QStringLiteral("shown"));

        s_pDesktop->requestClose(other);
        QVERIFY(
            XDesktop::waitFor([&] { return s_pDesktop->findTitle("other " + strToken.toStdString()) == 0; }, kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strToken), QStringLiteral("hidden"), kWaitMs);
        QCOMPARE(windowState(js("demo.wall.uuid").toString()), QStringLiteral("shown"));
        const QByteArray baDestroy =
            QStringLiteral(R"({"cmd":"window.destroyWnd","uuid":"%1"})").arg(strToken).toUtf8();
        QVERIFY(HttpTestClient::answer(m_port, HttpTestClient::post(baDestroy)).contains(R"("errorCode":0)"));
        QCOMPARE(windowState(strToken), QStringLiteral("none"));
    }

    // Another tab in front hides the window, the tab back shows it, closing
    // the tab takes it away.
    void closingTheTabRemovesTheWindow() {
        const QString strUuid = js("demo.wall.uuid").toString();
        QCOMPARE(windowState(strUuid), QStringLiteral("shown"));
        QVERIFY(!m_devTools.openTab(QStringLiteral("about:blank")).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strUuid), QStringLiteral("hidden"), kWaitMs);
        QVERIFY(m_devTools.activateTab(m_strTab));
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strUuid), QStringLiteral("shown"), kWaitMs);
        QVERIFY(showsPictureAt(m_vecWall));

        QVERIFY(m_devTools.closeTab(m_strTab));
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strUuid), QStringLiteral("none"), kWaitMs);
        QVERIFY(XDesktop::waitFor([&] { return !near(pictureBox(m_vecWall), m_vecWall); }, kWaitMs));
    }
};

int main(int argc, char** argv) {
    return XDesktop::runTests(&s_pDesktop, [&] {
        QCoreApplication app(argc, argv);
        TestWebDemo test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "tst_web_demo.moc"
