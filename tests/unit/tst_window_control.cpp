// The window code on the simulated desktop: finding the browser, geometry,
// the slow tick, the browser going away, shapes, covers, stacking, the
// taskbar, and the registry with its event relay to the dispatchers.
// (Following the browser's moves is tst_web_demo's.)
#include "SimulatedWindowPlatform.h"
#include "VideoMessageDispatch.h"
#include "VideoWidget.h"
#include "WebClientComponents.h"
#include "WindowControl.h"
#include "WindowControlManager.h"
#include "WindowMessageDispatch.h"
#include "video_control_test.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace platform;

namespace {

const QString kUuid = QStringLiteral("{7d1c0f3a-0000-4000-8000-00000000cafe}");

std::u16string u16(const QString& strText) {
    return std::u16string(reinterpret_cast<const char16_t*>(strText.utf16()), static_cast<size_t>(strText.size()));
}

Hwnd handleOf(QWidget& widget) {
    return static_cast<Hwnd>(widget.winId());
}

// Counts the resize events a widget receives.
class ResizeCounter : public QObject {
public:
    explicit ResizeCounter(QWidget* pWidget) { pWidget->installEventFilter(this); }
    int m_iCount = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) ++m_iCount;
        return false;
    }
};

}  // namespace

class TestWindowControl : public QObject {
    Q_OBJECT

    std::unique_ptr<SimulatedWindowPlatform> m_pDesktop;

    // A browser at (100, 50), 800 x 600 (client origin 108, 80); with a
    // content child window 60 pixels below the client area's top.
    Hwnd browser(const QString& strTitle = kUuid + QStringLiteral(" - Chromium"),
                 const std::u16string& strClass = u"Chrome_WidgetWin_1", bool bContent = false) {
        const Hwnd hBrowser = m_pDesktop->createBrowser(u16(strTitle), strClass, WinRect{100, 50, 900, 650});
        if (bContent)
            m_pDesktop->createWindow({{}, u"Chrome_RenderWidgetHostHWND", hBrowser, WinRect{0, 60, 784, 562}});
        return hBrowser;
    }

    std::unique_ptr<WindowControl> window(const QString& strClass, bool bEmbed, int* pResult = nullptr) {
        auto pWindow = std::make_unique<WindowControl>();
        const int iResult = pWindow->createWnd(kUuid, strClass, bEmbed, QString());
        if (pResult) *pResult = iResult;
        return pWindow;
    }

private slots:
    void init() {
        m_pDesktop = std::make_unique<SimulatedWindowPlatform>();
        setActiveWindowPlatform(m_pDesktop.get());
    }
    void cleanup() {
        setActiveWindowPlatform(nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_pDesktop.reset();
    }

    void matchRule_data() {
        QTest::addColumn<int>("iPrefix");  // title units before the uuid
        QTest::addColumn<QString>("strWindowClass");
        QTest::addColumn<QString>("strClassName");  // as the page names it
        QTest::addColumn<bool>("bMatch");
        QTest::newRow("uuid ends at unit 259") << 221 << "Chrome_WidgetWin_1"
                                               << "" << true;
        QTest::newRow("uuid cut by the 260-unit buffer") << 222 << "Chrome_WidgetWin_1"
                                                         << "" << false;
        QTest::newRow("Chrome by title alone") << 0 << "MozillaWindowClass"
                                               << "Chrome" << true;
        QTest::newRow("class compared exactly") << 0 << "Chrome_WidgetWin_1"
                                                << "Chrome_WidgetWin_1" << true;
        QTest::newRow("class case differs") << 0 << "chrome_widgetwin_1"
                                            << "Chrome_WidgetWin_1" << false;
    }
    void matchRule() {
        QFETCH(int, iPrefix);
        QFETCH(QString, strWindowClass);
        QFETCH(QString, strClassName);
        QFETCH(bool, bMatch);
        const Hwnd hBrowser = browser(QString(iPrefix, QLatin1Char('x')) + kUuid, u16(strWindowClass));
        int iResult = -1;
        auto pWindow = window(strClassName, true, &iResult);
        QCOMPARE(iResult, bMatch ? WindowControl::kCreated : WindowControl::kNoBrowser);
        QCOMPARE(pWindow->parentHwnd(), bMatch ? hBrowser : Hwnd(0));
        QCOMPARE(m_pDesktop->getParent(handleOf(*pWindow)), bMatch ? hBrowser : Hwnd(0));
    }

    void emptyClassTakesTheTopmostTitleMatch() {
        browser();
        const Hwnd hUpper = browser(QStringLiteral("other tab ") + kUuid, u"SomeBrowser");
        auto pWindow = window(QString(), false);
        QCOMPARE(pWindow->parentHwnd(), hUpper);
        QCOMPARE(m_pDesktop->getParent(handleOf(*pWindow)), Hwnd(0));  // floating
    }

    void geometry_data() {
        QTest::addColumn<bool>("bEmbed");
        QTest::addColumn<QString>("strClass");
        QTest::addColumn<bool>("bContent");
        QTest::addColumn<QPoint>("ptExpected");
        // Page rectangle (10, 20); client origin (108, 80); content at
        // client (0, 60).
        QTest::newRow("embedded, content window") << true << "Chrome" << true << QPoint(10, 80);
        QTest::newRow("embedded, no content window") << true << "Chrome" << false << QPoint(10, 20);
        QTest::newRow("embedded, other browser") << true << "Chrome_WidgetWin_1" << true << QPoint(10, 20);
        QTest::newRow("floating, content window") << false << "Chrome" << true << QPoint(118, 160);
        QTest::newRow("floating, no content window") << false << "Chrome" << false << QPoint(118, 100);
        QTest::newRow("floating, other browser") << false << "Chrome_WidgetWin_1" << true << QPoint(110, 70);
    }
    void geometry() {
        QFETCH(bool, bEmbed);
        QFETCH(QString, strClass);
        QFETCH(bool, bContent);
        QFETCH(QPoint, ptExpected);
        browser(kUuid, u"Chrome_WidgetWin_1", bContent);
        auto pWindow = window(strClass, bEmbed);
        pWindow->setWndGeometry(10, 20, 320, 240, true);
        QCOMPARE(pWindow->geometry(), QRect(ptExpected, QSize(320, 240)));
        QCOMPARE(pWindow->wndRect(), QRect(10, 20, 320, 240));
        QCOMPARE(pWindow->component()->videoGeometry(), QRect(0, 0, 320, 240));
    }

    void slowTickGrowsAndShrinksOnceAfterSixStillTicks() {
        const Hwnd hBrowser = browser(kUuid, u"Chrome_WidgetWin_1", true);
        auto pWindow = window(QStringLiteral("Chrome"), true);
        pWindow->setWndGeometry(10, 20, 320, 240, true);
        pWindow->show();
        ResizeCounter resizes(pWindow.get());
        auto tick = [&] {
            pWindow->checkBrowserMove();
            QCoreApplication::processEvents();
        };
        // Twice: the first tick compares with the zero rectangle the window
        // starts with and counts as a move, like the browser's real move.
        for (int iRound = 0; iRound < 2; ++iRound) {
            if (iRound == 1) m_pDesktop->moveWindow(hBrowser, 300, 200);
            tick();
            for (int i = 0; i < 5; ++i) tick();
            QCOMPARE(resizes.m_iCount, 2 * iRound);
            tick();
            QCOMPARE(resizes.m_iCount, 2 * iRound + 2);
            QCOMPARE(pWindow->geometry(), QRect(10, 80, 320, 240));
            for (int i = 0; i < 10; ++i) tick();
            QCOMPARE(resizes.m_iCount, 2 * iRound + 2);
        }
    }

    // The fast tick follows the browser's moves only: a new size of its
    // client area alone leaves the floating window untouched.
    void fastTickIgnoresAResize() {
        const Hwnd hBrowser = browser();
        auto pWindow = window(QStringLiteral("Chrome"), false);
        pWindow->setWndGeometry(10, 20, 320, 240, true);
        pWindow->show();
        pWindow->followBrowser();
        m_pDesktop->setWindowPos(hBrowser, 0, 0, 0, 600, 400, kSwpNoMove | kSwpNoZOrder);
        const int nCalls = m_pDesktop->changeCalls();
        pWindow->followBrowser();
        QCOMPARE(m_pDesktop->changeCalls(), nCalls);
        QCOMPARE(pWindow->geometry(), QRect(118, 100, 320, 240));
        m_pDesktop->moveWindow(hBrowser, 300, 200);
        pWindow->followBrowser();
        QVERIFY(m_pDesktop->changeCalls() > nCalls);
        QCOMPARE(pWindow->geometry(), QRect(318, 250, 320, 240));
    }

    void browserGoingAwayHidesTheWindowUntilReattached() {
        const Hwnd hBrowser = browser();
        auto pWindow = window(QStringLiteral("Chrome"), true);
        const Hwnd hWnd = handleOf(*pWindow);
        pWindow->show();
        m_pDesktop->destroyWindow(hBrowser);
        QVERIFY(m_pDesktop->exists(hWnd));
        QCOMPARE(m_pDesktop->getParent(hWnd), Hwnd(0));
        QVERIFY(!pWindow->isVisible());

        const Hwnd hNext = browser(QStringLiteral("next page"));
        m_pDesktop->activate(hNext);
        pWindow->updateParentWnd();
        QCOMPARE(pWindow->parentHwnd(), hNext);
        QCOMPARE(m_pDesktop->getParent(hWnd), hNext);
        QVERIFY(pWindow->isVisible());
    }

    void cutAndRepairShapes() {
        auto pWindow = window(QString(), true);
        const Hwnd hWnd = handleOf(*pWindow);
        pWindow->setWndGeometry(0, 0, 200, 100, true);
        const RectRegion whole = RectRegion::rect(0, 0, 200, 100);

        pWindow->repairPartWindow(10, 10, 50, 50, 0);
        QVERIFY(!m_pDesktop->windowRegion(hWnd));  // never cut: still no region
        pWindow->cuttingPartWindow(10, 10, 50, 50, 0);
        QCOMPARE(*m_pDesktop->windowRegion(hWnd), whole.subtracted(RectRegion::rect(10, 10, 60, 60)));
        pWindow->repairPartWindow(10, 10, 50, 50, 0);
        QCOMPARE(*m_pDesktop->windowRegion(hWnd), whole);
        pWindow->cuttingPartWindow(20, 20, 60, 40, 16);
        QCOMPARE(*m_pDesktop->windowRegion(hWnd), whole.subtracted(RectRegion::roundRect(20, 20, 80, 60, 16, 16)));
        // Negative values count as 0: this cut takes everything.
        pWindow->cuttingPartWindow(-5, -5, 500, 500, -3);
        QVERIFY(m_pDesktop->windowRegion(hWnd)->isEmpty());
        // A new size brings the whole window back.
        pWindow->setWndGeometry(0, 0, 300, 100, true);
        QCOMPARE(*m_pDesktop->windowRegion(hWnd), RectRegion::rect(0, 0, 300, 100));
        QCOMPARE(m_pDesktop->liveRegionCount(), size_t(0));
    }

    void coversKeepTheVideoInPlace() {
        auto pWindow = window(QString(), true);
        pWindow->setWndGeometry(100, 10, 400, 300, true);
        pWindow->setCover(QStringLiteral("left"), 30);
        QCOMPARE(pWindow->wndRect(), QRect(130, 10, 370, 300));
        QCOMPARE(pWindow->component()->videoGeometry(), QRect(-30, 0, 400, 300));
        // Repeating the cover step (the fast tick) leaves the video alone.
        pWindow->applyCover();
        QCOMPARE(pWindow->component()->videoGeometry(), QRect(-30, 0, 400, 300));
        pWindow->setCover(QStringLiteral("middle"), 5);
        QCOMPARE(pWindow->wndRect(), QRect(130, 10, 370, 300));
        pWindow->setCover(QStringLiteral("left"), 0);
        QCOMPARE(pWindow->wndRect(), QRect(100, 10, 400, 300));
        QCOMPARE(pWindow->component()->videoGeometry(), QRect(0, 0, 400, 300));

        // A page-given parent refuses covers.
        WindowControl fixed;
        fixed.createWnd(kUuid, QString(), true, QStringLiteral("0"));
        fixed.setWndGeometry(100, 10, 400, 300, true);
        QCOMPARE(fixed.wndRect(), QRect(0, 0, 400, 300));
        fixed.setCover(QStringLiteral("top"), 20);
        QCOMPARE(fixed.wndRect(), QRect(0, 0, 400, 300));
    }

    void floatingWindowStepsBehindAnotherApplication() {
        const Hwnd hBrowser = browser();
        auto pWindow = window(QStringLiteral("Chrome"), false);
        const Hwnd hWnd = handleOf(*pWindow);
        pWindow->show();
        const Hwnd hOther = m_pDesktop->createBrowser(u"editor", u"Editor", WinRect{0, 0, 300, 200});
        m_pDesktop->activate(hBrowser);
        m_pDesktop->activate(hOther);
        pWindow->checkForeground();
        std::vector<Hwnd> vecOrder = m_pDesktop->topLevelOrder();
        QCOMPARE(std::vector<Hwnd>(vecOrder.begin(), vecOrder.begin() + 3),
                 (std::vector<Hwnd>{hOther, hWnd, hBrowser}));
        QCOMPARE(m_pDesktop->getForegroundWindow(), hOther);
        const int nCalls = m_pDesktop->changeCalls();
        pWindow->checkForeground();  // already in place
        QCOMPARE(m_pDesktop->changeCalls(), nCalls);
    }

    void taskbarHiddenOnlyForChromeFillingTheMonitor_data() {
        QTest::addColumn<QString>("strClass");
        QTest::addColumn<int>("iWidth");
        QTest::addColumn<bool>("bHidden");
        QTest::newRow("Chrome fills") << "Chrome" << 1920 << true;
        QTest::newRow("other class fills") << "Chrome_WidgetWin_1" << 1920 << false;
        QTest::newRow("Chrome does not fill") << "Chrome" << 1500 << false;
    }
    void taskbarHiddenOnlyForChromeFillingTheMonitor() {
        QFETCH(QString, strClass);
        QFETCH(int, iWidth);
        QFETCH(bool, bHidden);
        m_pDesktop->addTaskbars();
        const Hwnd hTray = m_pDesktop->findWindow(u"Shell_TrayWnd", nullptr);
        const Hwnd hButton = m_pDesktop->findWindow(u"Button", nullptr);
        const WinRect rcFull{0, 0, iWidth, 1040};
        const Hwnd hBrowser = m_pDesktop->createWindow({u16(kUuid), u"Chrome_WidgetWin_1", 0, rcFull});
        m_pDesktop->createWindow({{}, u"Chrome_RenderWidgetHostHWND", hBrowser, rcFull});

        auto pWindow = window(strClass, true);
        pWindow->setWndGeometry(0, 0, 640, 360, true);
        QCOMPARE(!m_pDesktop->isWindowVisible(hTray), bHidden);
        QCOMPARE(!m_pDesktop->isWindowVisible(hButton), bHidden);
        pWindow.reset();
        QVERIFY(m_pDesktop->isWindowVisible(hTray));
        QVERIFY(m_pDesktop->isWindowVisible(hButton));
    }

    void registryCreatesRelaysAndCloses() {
        const Hwnd hBrowser = browser();
        WindowControlManager* pManager = WindowControlManager::instance();
        WindowMessageDispatch dispatch;
        QSignalSpy responses(&dispatch, &WindowMessageDispatch::messageResponse);
        const QString strCreate = QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","className":"Chrome",)"
                                                 R"("rect":{"left":5,"top":6,"width":64,"height":48}})")
                                      .arg(kUuid);
        dispatch.processMessage(strCreate);
        QCOMPARE(responses.count(), 1);
        QCOMPARE(QJsonDocument::fromJson(responses.at(0).at(1).toString().toUtf8()).object().value("errorCode").toInt(),
                 0);
        QPointer<WindowControl> pFirst = pManager->window(kUuid);
        QVERIFY(pFirst && pFirst->isVisible());
        QCOMPARE(m_pDesktop->getParent(handleOf(*pFirst)), hBrowser);

        // A second window for the same client replaces the first.
        dispatch.processMessage(strCreate);
        QPointer<WindowControl> pSecond = pManager->window(kUuid);
        QVERIFY(pSecond && pSecond != pFirst);
        QTRY_VERIFY(!pFirst);

        // The client goes: play stops, the window goes.
        NEVER_USE_ME::MainWindow* pVideo = pSecond->component()->videoWidget();
        dispatch.closeConnection(kUuid);
        QCOMPARE(VC_Test_LastCall(pVideo), QStringLiteral("VC_StopRealPlayAll"));
        QVERIFY(!pManager->window(kUuid));
        QTRY_VERIFY(!pSecond);
    }

    // Each event of a window's video widget reaches one dispatcher, through
    // the component, the window and the registry, for the window's client;
    // "page": a window drawn by the page reports its selection.
    void eventRelay_data() {
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QString>("dispatcher");
        QTest::newRow("sigWindowSelected") << QByteArray("sigWindowSelected") << "window";
        QTest::newRow("sigDrawEnd") << QByteArray("sigDrawEnd") << "video";
        QTest::newRow("sigNetStreamEvent") << QByteArray("sigNetStreamEvent") << "video";
        QTest::newRow("sigFisheyePTZEvent") << QByteArray("sigFisheyePTZEvent") << "video";
        QTest::newRow("sigMouseEvent") << QByteArray("sigMouseEvent") << "video";
        QTest::newRow("sigFullScreenChange") << QByteArray("sigFullScreenChange") << "video";
        QTest::newRow("page") << QByteArray() << "video";
    }
    void eventRelay() {
        QFETCH(QByteArray, signal);
        QFETCH(QString, dispatcher);
        browser();
        WindowMessageDispatch windows;
        VideoMessageDispatch video;
        const QStringList listClients{QStringLiteral("{other}"), kUuid};
        const auto closeAll = qScopeGuard([&] {
            for (const QString& strUuid : listClients) windows.closeConnection(strUuid);
        });
        for (const QString& strUuid : listClients)
            windows.processMessage(QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","className":"Chrome",%2)"
                                                  R"("rect":{"left":5,"top":6,"width":64,"height":48}})")
                                       .arg(strUuid, signal.isEmpty() ? R"("render":"page",)" : ""));
        QSignalSpy windowEvents(&windows, &WindowMessageDispatch::sigEvent);
        QSignalSpy videoEvents(&video, &VideoMessageDispatch::sigEvent);

        QString strEvent;
        if (signal.isEmpty()) {
            QSignalSpy answers(&windows, &WindowMessageDispatch::messageResponse);
            windows.processMessage(
                QStringLiteral(R"({"cmd":"window.setWindowSelected","uuid":"%1","wndIndex":0})").arg(kUuid));
            QCOMPARE(answers.count(), 1);  // the command's answer, no event
            QCOMPARE(windowEvents.count(), 0);
            QCOMPARE(videoEvents.count(), 1);
            strEvent = videoEvents.at(0).at(1).toString();
            QVERIFY(strEvent.contains("window.onGetSelectWndInfo"));
        } else {
            strEvent = QStringLiteral(R"({"cmd":"%1"})").arg(QString::fromLatin1(signal));
            NEVER_USE_ME::MainWindow* pWidget =
                WindowControlManager::instance()->window(kUuid)->component()->videoWidget();
            QVERIFY(QMetaObject::invokeMethod(pWidget, signal, Q_ARG(QString, pWidget->objectName()),
                                              Q_ARG(QString, strEvent)));
        }
        QCOMPARE(windowEvents.count(), dispatcher == "window" ? 1 : 0);
        QCOMPARE(videoEvents.count(), dispatcher == "video" ? 1 : 0);
        const QSignalSpy& events = dispatcher == "window" ? windowEvents : videoEvents;
        QCOMPARE(events.at(0), (QList<QVariant>{kUuid, strEvent}));
    }

    // A window the desktop closes (Alt+F4 on a floating window) ends and
    // leaves the registry: the page's next command is answered as for an
    // unknown uuid instead of reaching a deleted window. The follow timers
    // run only while a window is registered.
    void windowClosedByTheDesktop_data() {
        QTest::addColumn<QString>("strCommand");
        QTest::addColumn<QString>("strAnswer");  // null: the window module's success
        QTest::newRow("window.showWnd") << "window.showWnd" << QString();
        QTest::newRow("window.setWndGeometry") << "window.setWndGeometry" << QString();
        QTest::newRow("video.stop") << "video.stop" << QStringLiteral("");
    }
    void windowClosedByTheDesktop() {
        QFETCH(QString, strCommand);
        QFETCH(QString, strAnswer);
        browser();
        WindowMessageDispatch dispatch;
        VideoMessageDispatch video;
        QSignalSpy answers(&dispatch, &WindowMessageDispatch::messageResponse);
        QSignalSpy videoAnswers(&video, &VideoMessageDispatch::messageResponse);
        dispatch.processMessage(QStringLiteral(R"({"cmd":"window.createWnd","uuid":"%1","className":"Chrome",)"
                                               R"("embed":false,"rect":{"left":5,"top":6,"width":64,"height":48}})")
                                    .arg(kUuid));
        QPointer<WindowControl> pWindow = WindowControlManager::instance()->window(kUuid);
        QVERIFY(pWindow && pWindow->isVisible());
        const auto timers = [] {
            return QAbstractEventDispatcher::instance()->registeredTimers(WindowControlManager::instance()).size();
        };
        QCOMPARE(timers(), 2);
        pWindow->activateWindow();
        QVERIFY(pWindow->windowHandle()->close());  // as the window manager's close request does
        QTRY_VERIFY(!pWindow);
        QVERIFY(!WindowControlManager::instance()->window(kUuid));
        QTRY_COMPARE(timers(), 0);

        const QString strRequest = QStringLiteral(R"({"cmd":"%1","uuid":"%2","sequence":"7",)"
                                                  R"("rect":{"left":1,"top":2,"width":30,"height":20}})")
                                       .arg(strCommand, kUuid);
        if (strAnswer.isNull()) {
            dispatch.processMessage(strRequest);
            QCOMPARE(answers.count(), 2);
            QCOMPARE(answers.last().at(1).toString(),
                     QStringLiteral(R"({"errorCode":0,"errorModule":0,"sequence":"7","uuid":"%1"})").arg(kUuid));
        } else {
            video.processMessage(strRequest);
            QCOMPARE(videoAnswers.count(), 1);
            QCOMPARE(videoAnswers.last().at(1).toString(), strAnswer);
        }
        QVERIFY(!WindowControlManager::instance()->window(kUuid));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestWindowControl test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_control.moc"
