// End to end on X11: the service (test-hooks build) and Chromium on a private
// Xvfb + openbox desktop. A page opens WebSockets, creates an embedded and a
// floating window over two of its elements, and the screen shows them there,
// also after the browser moved; a cut shows the page through the hole; a
// closed WebSocket takes its window, a closed browser window leaves its
// window registered and hidden; a camera plays in the embedded window.
// Ports 27810-27819, the camera on 28051.
#include "CameraSimProcess.h"
#include "HttpTestClient.h"
#include "ServiceProcess.h"
#include "XDesktop.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {
XDesktop* s_pDesktop = nullptr;

constexpr int kWaitMs = 30000;
constexpr unsigned long kBlue = 0x0000ff, kYellow = 0xffff00, kMagenta = 0xff00ff, kCyan = 0x00ffff;

bool near(const std::vector<int>& vecBox, const std::vector<int>& vecExpected) {
    if (vecBox.size() != 4 || vecExpected.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        if (std::abs(vecBox[i] - vecExpected[i]) > 2) return false;
    }
    return true;
}

std::vector<int> moved(std::vector<int> vecBox, int dx, int dy) {
    vecBox[0] += dx;
    vecBox[1] += dy;
    vecBox[2] += dx;
    vecBox[3] += dy;
    return vecBox;
}

QByteArray text(const std::vector<int>& vecBox) {
    QByteArray baText;
    for (int i : vecBox) baText += QByteArray::number(i) + ' ';
    return baText;
}
}  // namespace

class TestX11Chromium : public QObject {
    Q_OBJECT

    std::unique_ptr<ServiceProcess> m_pService;
    quint16 m_port = 0;
    QTemporaryDir m_dir;
    std::vector<int> m_vecBrowserPids;
    unsigned long m_browser = 0;
    QString m_strEmbedded, m_strFloating;  // the page's two connection ids
    std::vector<int> m_vecBlue, m_vecYellow;  // the page's elements on screen

    int startBrowser(const QString& strQuery, const char* szLog) {
        const int iPid = s_pDesktop->spawn(
            {"chromium", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-default-browser-check", "--password-store=basic", "--ozone-platform=x11",
             "--user-data-dir=" + m_dir.filePath(QStringLiteral("profile")).toStdString(), "--new-window",
             "--window-position=60,40", "--window-size=900,650",
             "file://" LOCALSERVICE_PAGE_DIR "/window_page.html?" + strQuery.toStdString()},
            m_dir.filePath(QLatin1String(szLog)).toStdString());
        m_vecBrowserPids.push_back(iPid);
        return iPid;
    }

    bool hook(const QByteArray& baLine) { return m_pService->writeInput(baLine + '\n'); }

    // An event to one of the page's WebSockets, which sends the request.
    bool pageSends(const QString& strUuid, const QJsonObject& request) {
        const QJsonObject event{{"cmd", "test.send"}, {"uuid", strUuid}, {"request", request}};
        return hook("emit " + QJsonDocument(event).toJson(QJsonDocument::Compact));
    }

    QString windowState(const QString& strUuid) {
        return m_pService->ask("window " + strUuid.toUtf8(), QStringLiteral("test hook: window %1 ").arg(strUuid));
    }

    QByteArray post(const QByteArray& baBody) {
        HttpTestClient client(m_port, HttpTestClient::post(baBody));
        (void)QTest::qWaitFor([&] { return client.hasAnswer() || client.isClosed(); }, kWaitMs);
        return client.body();
    }

    bool clientOrigin(unsigned long window, int& x, int& y) {
        int iWidth = 0, iHeight = 0;
        return s_pDesktop->geometry(window, x, y, iWidth, iHeight);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_pService = std::make_unique<ServiceProcess>(
            QJsonObject{{"ServicePortStart", 27810},
                        {"ServicePortEnd", 27820},
                        {"SingleInstance", QStringLiteral("tst_x11_chromium-%1").arg(QCoreApplication::applicationPid())}},
            ServiceProcess::testHooksBinaryPath());
        m_pService->setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QVERIFY(m_pService->start());
        m_port = m_pService->waitForListening(kWaitMs);
        QVERIFY(m_port != 0);
        QVERIFY(m_pService->waitForLog("test hook: ready"));

        QVERIFY(startBrowser(QStringLiteral("port=%1").arg(m_port), "chromium.log") > 0);
        std::string strTitle;
        QVERIFY2(XDesktop::waitFor([&] { return (m_browser = s_pDesktop->findTitle("page E={", &strTitle)) != 0; }, 90000),
                 "no Chromium window with the page's connection ids in its title");
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("E=(\\{[^}]+\\}) F=(\\{[^}]+\\})")).match(QString::fromStdString(strTitle));
        QVERIFY(match.hasMatch());
        m_strEmbedded = match.captured(1);
        m_strFloating = match.captured(2);
        QVERIFY(XDesktop::waitFor([&] {
            m_vecBlue = s_pDesktop->colourBox(kBlue);
            m_vecYellow = s_pDesktop->colourBox(kYellow);
            return m_vecBlue.size() == 4 && m_vecYellow.size() == 4;
        }, kWaitMs));
    }

    void cleanupTestCase() {
        for (int iPid : m_vecBrowserPids) ::kill(-iPid, SIGKILL);  // each browser's process group
        if (m_pService) {
            m_pService->terminate();
            QVERIFY(m_pService->waitForFinished(kWaitMs));
            QCOMPARE(m_pService->exitCode(), 0);  // also no sanitizer report on the way out
        }
    }

    void windowsLieOverThePageAndFollowTheBrowser() {
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->activeWindow() == m_browser; }, kWaitMs));
        QVERIFY(pageSends(m_strEmbedded, {{"cmd", "window.createWnd"}, {"className", "Chrome"}, {"rectOf", "embedded"}}));
        QVERIFY(pageSends(m_strFloating, {{"cmd", "window.createWnd"}, {"className", "Chrome"}, {"embed", false},
                                          {"rectOf", "floating"}}));
        QTRY_COMPARE_WITH_TIMEOUT(windowState(m_strEmbedded), QStringLiteral("shown"), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(windowState(m_strFloating), QStringLiteral("shown"), kWaitMs);
        QVERIFY(hook("paint " + m_strEmbedded.toUtf8() + " ff00ff"));
        QVERIFY(hook("paint " + m_strFloating.toUtf8() + " 00ffff"));
        QVERIFY2(XDesktop::waitFor([&] { return near(s_pDesktop->colourBox(kMagenta), m_vecBlue); }, kWaitMs),
                 text(s_pDesktop->colourBox(kMagenta)) + "instead of " + text(m_vecBlue));
        QVERIFY2(XDesktop::waitFor([&] { return near(s_pDesktop->colourBox(kCyan), m_vecYellow); }, kWaitMs),
                 text(s_pDesktop->colourBox(kCyan)) + "instead of " + text(m_vecYellow));

        int x = 0, y = 0, xMoved = 0, yMoved = 0;
        QVERIFY(clientOrigin(m_browser, x, y));
        QCOMPARE(s_pDesktop->run({"xdotool", "windowmove", std::to_string(m_browser), "200", "120"}), 0);
        QVERIFY(XDesktop::waitFor([&] { return clientOrigin(m_browser, xMoved, yMoved) && xMoved != x; }, kWaitMs));
        m_vecBlue = moved(m_vecBlue, xMoved - x, yMoved - y);
        m_vecYellow = moved(m_vecYellow, xMoved - x, yMoved - y);
        QVERIFY2(XDesktop::waitFor([&] { return near(s_pDesktop->colourBox(kMagenta), m_vecBlue); }, kWaitMs),
                 text(s_pDesktop->colourBox(kMagenta)) + "instead of " + text(m_vecBlue));
        QVERIFY2(XDesktop::waitFor([&] { return near(s_pDesktop->colourBox(kCyan), m_vecYellow); }, kWaitMs),
                 text(s_pDesktop->colourBox(kCyan)) + "instead of " + text(m_vecYellow));
        // The page keeps the keyboard: the floating window never took it.
        QCOMPARE(s_pDesktop->activeWindow(), m_browser);
    }

    void cutShowsThePageAndRepairClosesIt() {
        const QJsonObject part{{"left", 20}, {"top", 20}, {"width", 60}, {"height", 40}};
        const int x = m_vecBlue[0] + 50, y = m_vecBlue[1] + 40;
        QVERIFY(pageSends(m_strEmbedded, {{"cmd", "window.cuttingPartWindow"}, {"rect", part}, {"round", 0}}));
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(x, y) == kBlue; }, kWaitMs));
        QCOMPARE(s_pDesktop->pixel(m_vecBlue[0] + 10, m_vecBlue[1] + 10), kMagenta);
        QVERIFY(pageSends(m_strEmbedded, {{"cmd", "window.repairPartWindow"}, {"rect", part}, {"round", 0}}));
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(x, y) == kMagenta; }, kWaitMs));
    }

    // The page plays the test camera in its embedded window: the screen shows
    // the camera's colour bars over the page's element.
    void cameraPlaysInTheEmbeddedWindow() {
        CameraSimProcess camera(CAMERA_SIM_BIN, 28051);
        QVERIFY(camera.start({"--size", "640x360"}));
        QVERIFY(pageSends(m_strEmbedded, {{"cmd", "video.setWndRatioMode"}, {"mode", "stretch"}}));
        QVERIFY(pageSends(m_strEmbedded, {{"cmd", "video.startPlay"}, {"url", camera.url()}}));
        // Left to right at a third of the height: white, yellow, cyan,
        // green, magenta, red, blue.
        const unsigned long kBars[] = {0xffffff, 0xffff00, 0x00ffff, 0x00ff00, 0xff00ff, 0xff0000, 0x0000ff};
        const int iWidth = m_vecBlue[2] - m_vecBlue[0], iHeight = m_vecBlue[3] - m_vecBlue[1];
        const auto showsBar = [&](int iBar) {
            const unsigned long ulPixel =
                s_pDesktop->pixel(m_vecBlue[0] + (2 * iBar + 1) * iWidth / 14, m_vecBlue[1] + iHeight / 3);
            int iDistance = 0;
            for (int iShift : {0, 8, 16})
                iDistance += std::abs(int((ulPixel >> iShift) & 0xff) - int((kBars[iBar] >> iShift) & 0xff));
            return iDistance < 40;
        };
        QVERIFY(XDesktop::waitFor([&] { return showsBar(0) && showsBar(6); }, kWaitMs));
        for (int iBar = 0; iBar < 7; ++iBar) QVERIFY2(showsBar(iBar), QByteArray::number(iBar));
        QVERIFY(pageSends(m_strEmbedded, {{"cmd", "video.stop"}}));
    }

    void closedWebSocketTakesItsWindow() {
        QVERIFY(hook(QStringLiteral(R"(emit {"cmd":"test.close","uuid":"%1"})").arg(m_strFloating).toUtf8()));
        QTRY_COMPARE_WITH_TIMEOUT(windowState(m_strFloating), QStringLiteral("none"), kWaitMs);
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->colourBox(kCyan).empty(); }, kWaitMs));
        QCOMPARE(windowState(m_strEmbedded), QStringLiteral("shown"));
    }

    void closedBrowserWindowLeavesItsWindowHidden() {
        // A second browser window whose page carries a token an HTTP client
        // names its window by.
        const QString strToken = QUuid::createUuid().toString();
        QVERIFY(startBrowser(QStringLiteral("token=") + strToken, "chromium-other.log") > 0);
        unsigned long other = 0;
        QVERIFY(XDesktop::waitFor([&] { return (other = s_pDesktop->findTitle("other " + strToken.toStdString())) != 0; },
                                  kWaitMs));
        const QByteArray baCreate = QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","sequence":"1",)"
                                                   R"("className":"Chrome","rect":{"left":10,"top":150,"width":100,"height":80}})")
                                        .arg(strToken)
                                        .toUtf8();
        QCOMPARE(QJsonDocument::fromJson(post(baCreate)).object().value("errorCode").toInt(-1), 0);
        QCOMPARE(windowState(strToken), QStringLiteral("shown"));

        s_pDesktop->requestClose(other);
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->findTitle("other " + strToken.toStdString()) == 0; }, kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(windowState(strToken), QStringLiteral("hidden"), kWaitMs);
        QCOMPARE(windowState(m_strEmbedded), QStringLiteral("shown"));
        QVERIFY(post(QStringLiteral(R"({"cmd":"window.destroyWnd","uuid":"%1"})").arg(strToken).toUtf8()).contains("\"errorCode\":0"));
        QCOMPARE(windowState(strToken), QStringLiteral("none"));
    }
};

int main(int argc, char** argv) {
    return XDesktop::runTests(&s_pDesktop, [&] {
        QCoreApplication app(argc, argv);
        TestX11Chromium test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "tst_x11_chromium.moc"
