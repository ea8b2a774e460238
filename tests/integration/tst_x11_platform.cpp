// The X11 window backend on a real X server (Xvfb) with a window manager
// (openbox): test "browser" windows from another X client, the service's own
// Qt widgets embedded in them or floating above them, shapes, foreground,
// monitors, taskbars, and the browser going away in the ways a real browser
// (tst_x11_chromium) cannot be made to: minimised, destroyed at once, or
// faster than our window's escape.
#include "RectRegion.h"
#include "WindowPlatformChoice.h"
#include "X11WindowPlatform.h"
#include "X11TestWindows.h"
#include "XDesktop.h"

#include <QApplication>
#include <QUuid>
#include <QWidget>
#include <QtTest>


using namespace platform;

namespace {
XDesktop* s_pDesktop = nullptr;

WinRect screenRectOf(unsigned long window) {
    int x = 0, y = 0, w = 0, h = 0;
    s_pDesktop->geometry(window, x, y, w, h);
    return WinRect{x, y, x + w, y + h};
}
}  // namespace

class TestX11Platform : public QObject {
    Q_OBJECT

    X11WindowPlatform* m_pPlatform = nullptr;
    QString m_strToken;

    Hwnd findByToken(const QString& strToken) { return findWindowByTitle(*m_pPlatform, strToken); }

    // Embeds our window in the browser, shows it (at rect when given) and
    // waits until X maps it.
    bool showEmbedded(OwnWindow& own, unsigned long browser, const QRect& rect = QRect()) {
        const Hwnd hOwn = own.handle();
        m_pPlatform->setParent(hOwn, browser);
        if (rect.isValid()) own.setGeometry(rect);
        own.show();
        return XDesktop::waitFor([&] { return s_pDesktop->isViewable(hOwn); });
    }

    unsigned long newBrowser(const QString& strName, int x = 100, int y = 80, int iWidth = 640, int iHeight = 480) {
        const QString strTitle = strName + QLatin1Char(' ') + m_strToken + QStringLiteral(" - Test Browser");
        return s_pDesktop->createBrowser(strTitle.toStdString(), "TestBrowser", x, y, iWidth, iHeight);
    }

private slots:
    void initTestCase() {
        m_pPlatform = new X11WindowPlatform;
        QVERIFY(m_pPlatform->isConnected());
    }
    void cleanupTestCase() {
        delete m_pPlatform;
        m_pPlatform = nullptr;
    }
    void init() { m_strToken = QUuid::createUuid().toString(); }

    void xcbChoosesThisBackend() {
        QVERIFY(dynamic_cast<X11WindowPlatform*>(&systemWindowPlatform()));
    }

    void findsBrowserByTitleAndClass() {
        const unsigned long browser = newBrowser(QStringLiteral("Page ünïcode"));
        QVERIFY(browser);
        const Hwnd hFound = findByToken(m_strToken);
        QCOMPARE(hFound, Hwnd(browser));
        QVERIFY(windowText(*m_pPlatform, hFound).find(u"Page ünïcode") == 0);
        QCOMPARE(className(*m_pPlatform, hFound), std::u16string(u"TestBrowser"));
        QCOMPARE(className(*m_pPlatform, hFound, 5), std::u16string(u"Test"));
        QCOMPARE(m_pPlatform->findWindow(u"testbrowser", nullptr) != 0, true);
        QCOMPARE(m_pPlatform->getParent(hFound), Hwnd(0));
        QVERIFY(m_pPlatform->isWindow(hFound));
        QVERIFY(m_pPlatform->isWindowVisible(hFound));

        // The window rectangle holds the manager's frame around the client.
        WinRect rcWindow, rcClient;
        WinPoint origin;
        QVERIFY(m_pPlatform->getWindowRect(hFound, rcWindow));
        QVERIFY(m_pPlatform->getClientRect(hFound, rcClient));
        QVERIFY(m_pPlatform->clientToScreen(hFound, origin));
        QCOMPARE(rcClient, (WinRect{0, 0, 640, 480}));
        QVERIFY(rcWindow.left <= origin.x && rcWindow.top < origin.y);
        QVERIFY(rcWindow.right >= origin.x + 640 && rcWindow.bottom >= origin.y + 480);
        QCOMPARE(screenRectOf(browser).left, origin.x);

        s_pDesktop->destroyAbruptly(browser);
        QVERIFY(XDesktop::waitFor([&] { return findByToken(m_strToken) == 0; }));
        QVERIFY(!m_pPlatform->isWindow(hFound));
    }

    void floatingWindowStaysAboveItsBrowser() {
        const unsigned long browser = newBrowser(QStringLiteral("float"));
        const unsigned long other = newBrowser(QStringLiteral("other app"), 400, 300, 300, 200);
        QVERIFY(browser && other);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        WinPoint origin;
        QVERIFY(m_pPlatform->clientToScreen(browser, origin));
        own.setGeometry(origin.x + 30, origin.y + 40, 160, 90);
        own.show();
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->isWindowVisible(hOwn); }));
        WinRect rect;
        QVERIFY(XDesktop::waitFor([&] {
            return m_pPlatform->getWindowRect(hOwn, rect) && rect.left == origin.x + 30 && rect.top == origin.y + 40;
        }));

        // Topmost while the browser fills its monitor, then back.
        QVERIFY(m_pPlatform->setWindowPos(hOwn, kHwndTopMost, 0, 0, 0, 0, 0x13));
        auto above = [&] {
            const std::vector<std::string> vecState = s_pDesktop->netWmState(hOwn);
            return std::find(vecState.begin(), vecState.end(), "_NET_WM_STATE_ABOVE") != vecState.end();
        };
        QVERIFY(XDesktop::waitFor(above));
        QVERIFY(m_pPlatform->setWindowPos(hOwn, kHwndNoTopMost, 0, 0, 0, 0, 0x13));
        QVERIFY(XDesktop::waitFor([&] { return !above(); }));

        // Another application comes to the front: ours goes directly above
        // its browser, behind that application, which keeps the foreground.
        QVERIFY(m_pPlatform->setForegroundWindow(browser));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->getForegroundWindow() == browser; }));
        QVERIFY(m_pPlatform->setForegroundWindow(other));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->getWindow(browser, kGwHwndPrev) == other; }));
        const Hwnd hPrev = m_pPlatform->getWindow(browser, kGwHwndPrev);
        QVERIFY(m_pPlatform->setWindowPos(hOwn, hPrev, 0, 0, 0, 0, 0x13));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->getWindow(browser, kGwHwndPrev) == hOwn; }));
        QCOMPARE(m_pPlatform->getWindow(hOwn, kGwHwndPrev), Hwnd(other));
        QCOMPARE(m_pPlatform->getForegroundWindow(), Hwnd(other));

        own.hide();
        s_pDesktop->destroyAbruptly(other);
        s_pDesktop->destroyAbruptly(browser);
    }

    void roundedCutAndRepairChangeTheShape() {
        const unsigned long browser = newBrowser(QStringLiteral("shape"));
        QVERIFY(browser);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        QVERIFY(showEmbedded(own, browser, QRect(0, 0, 200, 100)));
        WinPoint origin;
        QVERIFY(m_pPlatform->clientToScreen(browser, origin));
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(origin.x + 35, origin.y + 35) == 0xff0000; }));

        bool bShaped = true;
        s_pDesktop->shapeRects(hOwn, bShaped);
        QVERIFY(!bShaped);

        // Cut a rounded rectangle, the way the window code does.
        const Hrgn hCut = m_pPlatform->createRoundRectRgn(10, 10, 60, 60, 20, 20);
        Hrgn hCurrent = m_pPlatform->createRectRgn(0, 0, 0, 0);
        QCOMPARE(m_pPlatform->getWindowRgn(hOwn, hCurrent), kRgnError);
        QVERIFY(m_pPlatform->deleteObject(hCurrent));
        hCurrent = m_pPlatform->createRectRgn(0, 0, 200, 100);
        QCOMPARE(m_pPlatform->combineRgn(hCut, hCurrent, hCut, kRgnDiff), kComplexRegion);
        QVERIFY(m_pPlatform->setWindowRgn(hOwn, hCut, true));
        QVERIFY(m_pPlatform->deleteObject(hCurrent));

        const RectRegion expected =
            RectRegion::rect(0, 0, 200, 100).subtracted(RectRegion::roundRect(10, 10, 60, 60, 20, 20));
        std::vector<std::vector<int>> vecRects = s_pDesktop->shapeRects(hOwn, bShaped);
        QVERIFY(bShaped);
        RectRegion actual;
        for (const auto& r : vecRects) actual = actual.united(RectRegion::rect(r[0], r[1], r[2], r[3]));
        QVERIFY(actual == expected);
        // The browser shows through the hole; the rounded corner stays ours.
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(origin.x + 35, origin.y + 35) == 0x2050a0; }));
        QCOMPARE(s_pDesktop->pixel(origin.x + 10, origin.y + 10), 0xff0000ul);
        QCOMPARE(s_pDesktop->pixel(origin.x + 5, origin.y + 5), 0xff0000ul);

        // Repair it: the whole rectangle is back.
        hCurrent = m_pPlatform->createRectRgn(0, 0, 0, 0);
        QCOMPARE(m_pPlatform->getWindowRgn(hOwn, hCurrent), kComplexRegion);
        const Hrgn hAdd = m_pPlatform->createRoundRectRgn(10, 10, 60, 60, 20, 20);
        QCOMPARE(m_pPlatform->combineRgn(hAdd, hCurrent, hAdd, kRgnOr), kSimpleRegion);
        QVERIFY(m_pPlatform->setWindowRgn(hOwn, hAdd, true));
        QVERIFY(m_pPlatform->deleteObject(hCurrent));
        vecRects = s_pDesktop->shapeRects(hOwn, bShaped);
        QVERIFY(bShaped);
        QCOMPARE(vecRects, (std::vector<std::vector<int>>{{0, 0, 200, 100}}));
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(origin.x + 35, origin.y + 35) == 0xff0000; }));

        // An emptied shape shows nothing; no region shows everything.
        const Hrgn hEmpty = m_pPlatform->createRectRgn(0, 0, 0, 0);
        QVERIFY(m_pPlatform->setWindowRgn(hOwn, hEmpty, true));
        vecRects = s_pDesktop->shapeRects(hOwn, bShaped);
        QVERIFY(bShaped);
        QVERIFY(vecRects.empty());
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(origin.x + 150, origin.y + 50) == 0x2050a0; }));
        hCurrent = m_pPlatform->createRectRgn(0, 0, 0, 0);
        QCOMPARE(m_pPlatform->getWindowRgn(hOwn, hCurrent), kNullRegion);
        m_pPlatform->deleteObject(hCurrent);
        QVERIFY(m_pPlatform->setWindowRgn(hOwn, 0, true));
        s_pDesktop->shapeRects(hOwn, bShaped);
        QVERIFY(!bShaped);

        m_pPlatform->setParent(hOwn, 0);
        own.hide();
        s_pDesktop->destroyAbruptly(browser);
    }

    void foregroundIsReadAndSet() {
        const unsigned long first = newBrowser(QStringLiteral("first"));
        const unsigned long second = newBrowser(QStringLiteral("second"), 200, 150, 400, 300);
        QVERIFY(first && second);
        QVERIFY(m_pPlatform->setForegroundWindow(first));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->getForegroundWindow() == first; }));
        QVERIFY(m_pPlatform->setForegroundWindow(second));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->getForegroundWindow() == second; }));
        QCOMPARE(m_pPlatform->getWindow(second, kGwHwndPrev) == 0 ||
                     m_pPlatform->getWindow(second, kGwHwndNext) == first,
                 true);

        // Thread input: the browser belongs to another client than ours.
        const std::uint32_t uOwner = m_pPlatform->getWindowThreadProcessId(first);
        QVERIFY(uOwner != 0);
        QVERIFY(uOwner != m_pPlatform->getCurrentThreadId());
        OwnWindow own;
        QCOMPARE(m_pPlatform->getWindowThreadProcessId(own.handle()), m_pPlatform->getCurrentThreadId());
        QVERIFY(m_pPlatform->attachThreadInput(uOwner, m_pPlatform->getCurrentThreadId(), true));

        // A foreground window that has gone is no foreground window.
        s_pDesktop->destroyAbruptly(second);
        s_pDesktop->destroyAbruptly(first);
        QVERIFY(XDesktop::waitFor([&] {
            const Hwnd hForeground = m_pPlatform->getForegroundWindow();
            return hForeground != first && hForeground != second;
        }));
    }

    void monitorsAndTaskbar() {
        const unsigned long browser = newBrowser(QStringLiteral("monitor"));
        QVERIFY(browser);
        MonitorInfo info;
        QVERIFY(m_pPlatform->getMonitorInfo(m_pPlatform->monitorFromWindow(browser, kMonitorDefaultToNearest), info));
        QCOMPARE(info.rcMonitor, (WinRect{0, 0, 1280, 800}));
        QCOMPARE(info.dwFlags, kMonitorInfoFPrimary);
        QCOMPARE(m_pPlatform->monitorFromWindow(0x7fffff0, kMonitorDefaultToNull), Hmonitor(0));

        QCOMPARE(m_pPlatform->findWindow(u"Shell_TrayWnd", nullptr), Hwnd(0));
        const unsigned long dock = s_pDesktop->createDock(32);
        QVERIFY(dock);
        const Hwnd hTray = m_pPlatform->findWindow(u"Shell_TrayWnd", nullptr);
        QCOMPARE(hTray, Hwnd(dock));
        QCOMPARE(m_pPlatform->findWindow(u"Shell_SecondaryTrayWnd", nullptr), Hwnd(0));
        QCOMPARE(m_pPlatform->findWindow(u"Button", nullptr), Hwnd(0));
        QVERIFY(XDesktop::waitFor([&] {
            MonitorInfo current;
            return m_pPlatform->getMonitorInfo(1, current) && current.rcWork.bottom == 800 - 32;
        }));

        QVERIFY(m_pPlatform->isWindowVisible(hTray));
        QVERIFY(m_pPlatform->showWindow(hTray, kSwHide));
        QVERIFY(XDesktop::waitFor([&] { return !m_pPlatform->isWindowVisible(hTray); }));
        QVERIFY(!m_pPlatform->showWindow(hTray, kSwShow));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->isWindowVisible(hTray); }));
        s_pDesktop->destroyAbruptly(dock);
        s_pDesktop->destroyAbruptly(browser);
    }

    void minimisedBrowserKeepsOurWindow() {
        const unsigned long browser = newBrowser(QStringLiteral("minimised"));
        QVERIFY(browser);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        int iHeard = 0;
        m_pPlatform->setMessageSink(hOwn, [&](Hwnd, unsigned) { ++iHeard; });
        QVERIFY(showEmbedded(own, browser));

        QCOMPARE(s_pDesktop->run({"xdotool", "windowminimize", std::to_string(browser)}), 0);
        QVERIFY(XDesktop::waitFor([&] { return !s_pDesktop->isViewable(browser); }));
        QTest::qWait(100);  // let any notification come in
        m_pPlatform->processEvents();
        QTest::qWait(20);
        QCOMPARE(iHeard, 0);
        QCOMPARE(m_pPlatform->getParent(hOwn), Hwnd(browser));

        QVERIFY(m_pPlatform->setForegroundWindow(browser));  // restores it
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->isViewable(hOwn); }));
        QCOMPARE(iHeard, 0);
        m_pPlatform->setMessageSink(hOwn, MessageSink());
        m_pPlatform->setParent(hOwn, 0);
        own.hide();
        s_pDesktop->destroyAbruptly(browser);
    }

    void browserDestroyedAtOnceGivesOurWindowANewNativeWindow() {
        const unsigned long browser = newBrowser(QStringLiteral("crash"));
        QVERIFY(browser);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        int iHeard = 0;
        m_pPlatform->setMessageSink(hOwn, [&](Hwnd hWnd, unsigned) {
            ++iHeard;
            m_pPlatform->setParent(hWnd, 0);
            if (own.isVisible()) own.hide();
        });
        QVERIFY(showEmbedded(own, browser, QRect(20, 20, 100, 80)));

        // Qt may log a BadWindow for the window X destroyed; nothing else breaks.
        s_pDesktop->destroyAbruptly(browser);
        QVERIFY(XDesktop::waitFor([&] { return iHeard == 1; }));
        // The old handle still names our (new) window.
        QVERIFY(m_pPlatform->isWindow(hOwn));
        QVERIFY(!own.isVisible());
        QVERIFY(m_pPlatform->currentHandle(hOwn) == Hwnd(own.winId()));

        // Attached to the next browser and shown, it works as before.
        const unsigned long next = newBrowser(QStringLiteral("next"));
        QVERIFY(next);
        m_pPlatform->setParent(hOwn, next);
        own.show();
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->isWindowVisible(hOwn); }));
        QCOMPARE(m_pPlatform->getParent(hOwn), Hwnd(next));
        WinPoint origin;
        QVERIFY(m_pPlatform->clientToScreen(next, origin));
        WinRect rect;
        QVERIFY(XDesktop::waitFor([&] {
            return m_pPlatform->getWindowRect(hOwn, rect) && rect.left == origin.x + 20 && rect.top == origin.y + 20;
        }));
        m_pPlatform->setMessageSink(hOwn, MessageSink());
        m_pPlatform->setParent(hOwn, 0);
        own.hide();
        s_pDesktop->destroyAbruptly(next);
    }

    void windowMadeAnewCanBeShownWithoutHidingFirst() {
        // Full screen takes the window out of its parent and shows it
        // topmost at once; after a re-creation that must map the new window.
        const unsigned long browser = newBrowser(QStringLiteral("anew"));
        QVERIFY(browser);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        int iHeard = 0;
        m_pPlatform->setMessageSink(hOwn, [&](Hwnd hWnd, unsigned) {
            ++iHeard;
            m_pPlatform->setParent(hWnd, 0);
        });
        QVERIFY(showEmbedded(own, browser, QRect(0, 0, 120, 90)));
        s_pDesktop->destroyAbruptly(browser);
        QVERIFY(XDesktop::waitFor([&] { return iHeard == 1; }));
        QVERIFY(m_pPlatform->currentHandle(hOwn) != hOwn);
        QVERIFY(own.isVisible());

        QVERIFY(m_pPlatform->setWindowPos(hOwn, kHwndTopMost, 0, 0, 0, 0, kSwpNoMove | kSwpNoSize | kSwpShowWindow));
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->isWindowVisible(hOwn); }));
        QVERIFY(m_pPlatform->showWindow(hOwn, kSwHide));
        QVERIFY(XDesktop::waitFor([&] { return !m_pPlatform->isWindowVisible(hOwn); }));
        QVERIFY(!own.isVisible());
        QTest::qWait(50);  // and it stays hidden
        QVERIFY(!m_pPlatform->isWindowVisible(hOwn));
        m_pPlatform->setMessageSink(hOwn, MessageSink());
    }

    void windowLostAfterLeavingItsParentIsMadeAnew() {
        // The browser may take our window down just after the window code
        // took it out: the window is then made anew, hidden as it was.
        const unsigned long browser = newBrowser(QStringLiteral("late"));
        QVERIFY(browser);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        QVERIFY(showEmbedded(own, browser));
        m_pPlatform->setParent(hOwn, 0);
        own.hide();
        s_pDesktop->destroyAbruptly(hOwn);  // as if the dying browser had won the race
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->currentHandle(hOwn) != hOwn; }));
        QCOMPARE(m_pPlatform->currentHandle(hOwn), Hwnd(own.winId()));
        QVERIFY(m_pPlatform->isWindow(hOwn));
        QVERIFY(!m_pPlatform->isWindowVisible(hOwn));
        own.show();
        QVERIFY(XDesktop::waitFor([&] { return m_pPlatform->isWindowVisible(hOwn); }));
        own.hide();
        s_pDesktop->destroyAbruptly(browser);
    }

    // Last: it leaves the screen split in two monitors.
    void secondMonitorAndItsTaskbar() {
        QVERIFY(s_pDesktop->splitMonitors(640));
        const unsigned long left = newBrowser(QStringLiteral("left"), 50, 50, 400, 300);
        const unsigned long right = newBrowser(QStringLiteral("right"), 700, 50, 400, 300);
        QVERIFY(left && right);
        MonitorInfo info;
        QVERIFY(m_pPlatform->getMonitorInfo(m_pPlatform->monitorFromWindow(right, kMonitorDefaultToNearest), info));
        QCOMPARE(info.rcMonitor, (WinRect{640, 0, 1280, 800}));
        QCOMPARE(info.dwFlags, 0u);
        QVERIFY(m_pPlatform->getMonitorInfo(m_pPlatform->monitorFromWindow(left, kMonitorDefaultToNearest), info));
        QCOMPARE(info.rcMonitor, (WinRect{0, 0, 640, 800}));
        QCOMPARE(info.dwFlags, kMonitorInfoFPrimary);

        // A panel on each monitor: the primary taskbar and the secondary one.
        const unsigned long leftDock = s_pDesktop->createDock(30, 0, 640);
        const unsigned long rightDock = s_pDesktop->createDock(30, 640, 1280);
        QVERIFY(leftDock && rightDock);
        QCOMPARE(m_pPlatform->findWindow(u"Shell_TrayWnd", nullptr), Hwnd(leftDock));
        QCOMPARE(m_pPlatform->findWindow(u"Shell_SecondaryTrayWnd", nullptr), Hwnd(rightDock));
        s_pDesktop->destroyAbruptly(rightDock);
        s_pDesktop->destroyAbruptly(leftDock);
        s_pDesktop->destroyAbruptly(right);
        s_pDesktop->destroyAbruptly(left);
    }
};

int main(int argc, char** argv) {
    return XDesktop::runTests(&s_pDesktop, [&] {
        QApplication app(argc, argv);
        app.setQuitOnLastWindowClosed(false);
        TestX11Platform test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "tst_x11_platform.moc"
