// The simulated desktop's own semantics, the ones the window code leans on:
// enumeration and child order, texts cut to their buffers, parents and
// coordinates, z-order bands, regions, destroy notifications, foreground and
// thread input, monitors and taskbars.
#include "NullWindowPlatform.h"
#include "SimulatedWindowPlatform.h"

#include <QtTest>

using namespace platform;

namespace {
using Params = SimulatedWindowPlatform::WindowParams;

Params childParams(Hwnd hParent, const std::u16string& strClass, const WinRect& rect = WinRect{0, 0, 100, 50}) {
    Params params;
    params.hParent = hParent;
    params.strClass = strClass;
    params.rect = rect;
    return params;
}

std::vector<Hwnd> walkChildren(WindowPlatform& desktop, Hwnd hParent) {
    std::vector<Hwnd> vecChildren;
    for (Hwnd hChild = desktop.getWindow(hParent, kGwChild); hChild; hChild = desktop.getWindow(hChild, kGwHwndNext)) {
        vecChildren.push_back(hChild);
    }
    return vecChildren;
}
}  // namespace

class TestSimulatedDesktop : public QObject {
    Q_OBJECT

private slots:
    void enumerationFromTopToBottom() {
        SimulatedWindowPlatform desktop;
        const Hwnd hFirst = desktop.createBrowser(u"first", u"Chrome_WidgetWin_1", WinRect{0, 0, 800, 600});
        const Hwnd hSecond = desktop.createBrowser(u"second", u"Chrome_WidgetWin_1", WinRect{0, 0, 800, 600});
        const Hwnd hThird = desktop.createBrowser(u"third", u"MozillaWindowClass", WinRect{0, 0, 800, 600});
        std::vector<Hwnd> vecSeen;
        QVERIFY(desktop.enumWindows([&](Hwnd hWnd) {
            vecSeen.push_back(hWnd);
            return true;
        }));
        QCOMPARE(vecSeen, (std::vector<Hwnd>{hThird, hSecond, hFirst}));

        desktop.activate(hFirst);
        vecSeen.clear();
        // Stopping early reports false and visits nothing more.
        QVERIFY(!desktop.enumWindows([&](Hwnd hWnd) {
            vecSeen.push_back(hWnd);
            return hWnd != hThird;
        }));
        QCOMPARE(vecSeen, (std::vector<Hwnd>{hFirst, hThird}));
    }

    void textsAreCutToTheirBuffers_data() {
        QTest::addColumn<int>("iLength");
        QTest::addColumn<int>("iBuffer");
        QTest::addColumn<int>("iExpected");
        QTest::newRow("title fits") << 259 << 260 << 259;
        QTest::newRow("title cut") << 300 << 260 << 259;
        QTest::newRow("class cut at 99") << 120 << 100 << 99;
        QTest::newRow("one-unit buffer") << 10 << 1 << 0;
    }
    void textsAreCutToTheirBuffers() {
        QFETCH(int, iLength);
        QFETCH(int, iBuffer);
        QFETCH(int, iExpected);
        SimulatedWindowPlatform desktop;
        std::u16string strText;
        for (int i = 0; i < iLength; ++i) strText.push_back(static_cast<char16_t>(u'a' + i % 26));
        const Hwnd hWnd = desktop.createBrowser(strText, strText, WinRect{0, 0, 10, 10});
        std::vector<char16_t> vecBuffer(static_cast<size_t>(iBuffer) + 4, u'#');
        QCOMPARE(desktop.getWindowText(hWnd, vecBuffer.data(), iBuffer), iExpected);
        QCOMPARE(vecBuffer[static_cast<size_t>(iExpected)], u'\0');
        QCOMPARE(vecBuffer[static_cast<size_t>(iBuffer)], u'#');  // nothing written past the buffer
        QCOMPARE(className(desktop, hWnd, iBuffer), strText.substr(0, static_cast<size_t>(iExpected)));
        QCOMPARE(windowText(desktop, 0x7777, iBuffer), std::u16string());
    }

    void childWalkAndParents() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome_WidgetWin_1", WinRect{100, 50, 900, 650});
        const Hwnd hRender = desktop.createWindow(childParams(hBrowser, u"Chrome_RenderWidgetHostHWND"));
        const Hwnd hD3D = desktop.createWindow(childParams(hBrowser, u"D3D Window"));
        const Hwnd hOwn = desktop.createWindow(childParams(0, u"Qt5QWindowIcon", WinRect{0, 0, 320, 240}));

        QCOMPARE(walkChildren(desktop, hBrowser), (std::vector<Hwnd>{hD3D, hRender}));
        QCOMPARE(desktop.getWindow(hRender, kGwHwndPrev), hD3D);
        QCOMPARE(desktop.getWindow(hD3D, kGwHwndPrev), Hwnd(0));
        QCOMPARE(desktop.getParent(hOwn), Hwnd(0));

        QCOMPARE(desktop.setParent(hOwn, hBrowser), Hwnd(0));
        QCOMPARE(desktop.getParent(hOwn), hBrowser);
        QCOMPARE(walkChildren(desktop, hBrowser), (std::vector<Hwnd>{hOwn, hD3D, hRender}));
        QVERIFY((desktop.getWindowLong(hOwn, kGwlStyle) & kWsChild) != 0);
        // No cycles: a window cannot go into its own child.
        QCOMPARE(desktop.setParent(hBrowser, hOwn), Hwnd(0));
        QCOMPARE(desktop.getParent(hBrowser), Hwnd(0));

        QCOMPARE(desktop.setParent(hOwn, 0), hBrowser);
        QCOMPARE(walkChildren(desktop, hBrowser), (std::vector<Hwnd>{hD3D, hRender}));
        QCOMPARE(desktop.topLevelOrder().front(), hOwn);
    }

    void childCoordinatesFollowTheParent() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{100, 50, 900, 650});
        WinRect rect;
        QVERIFY(desktop.getClientRect(hBrowser, rect));
        QCOMPARE(rect, (WinRect{0, 0, 800 - 16, 600 - 38}));
        WinPoint origin;
        QVERIFY(desktop.clientToScreen(hBrowser, origin));
        QCOMPARE(origin.x, 108);
        QCOMPARE(origin.y, 80);

        const Hwnd hOwn = desktop.createWindow(childParams(0, u"Qt5QWindowIcon"));
        desktop.setParent(hOwn, hBrowser);
        QVERIFY(desktop.setWindowPos(hOwn, kHwndTop, 10, 20, 320, 240, kSwpNoActivate));
        QVERIFY(desktop.getWindowRect(hOwn, rect));
        QCOMPARE(rect, (WinRect{118, 100, 438, 340}));

        desktop.moveWindow(hBrowser, 300, 200);
        QVERIFY(desktop.getWindowRect(hOwn, rect));
        QCOMPARE(rect, (WinRect{318, 250, 638, 490}));
    }

    void visibilityNeedsEveryAncestor() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 400, 300});
        const Hwnd hChild = desktop.createWindow(childParams(hBrowser, u"child"));
        QVERIFY(desktop.isWindowVisible(hChild));
        QVERIFY(desktop.showWindow(hBrowser, kSwHide));
        QVERIFY(!desktop.isWindowVisible(hChild));
        QVERIFY(desktop.ownVisible(hChild));
        QVERIFY(!desktop.showWindow(hBrowser, kSwShow));
        QVERIFY(desktop.isWindowVisible(hChild));
        QVERIFY(desktop.setWindowPos(hChild, 0, 0, 0, 0, 0, 0x93));  // hide, no move, no size
        QVERIFY(!desktop.isWindowVisible(hChild));
        QVERIFY(desktop.setWindowPos(hChild, 0, 0, 0, 0, 0, 0x53));
        QVERIFY(desktop.isWindowVisible(hChild));
    }

    void zOrderBands() {
        SimulatedWindowPlatform desktop;
        desktop.addTaskbars();
        const Hwnd hTray = desktop.findWindow(u"Shell_TrayWnd", nullptr);
        const Hwnd hButton = desktop.findWindow(u"Button", nullptr);
        QVERIFY(hTray && hButton);
        QCOMPARE(desktop.findWindow(u"shell_traywnd", nullptr), hTray);  // class names ignore case
        QCOMPARE(desktop.findWindow(u"Shell_SecondaryTrayWnd", nullptr), Hwnd(0));
        const std::u16string strStart = u"Start";
        QCOMPARE(desktop.findWindow(u"Button", &strStart), hButton);

        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 800, 600});
        const Hwnd hFloat = desktop.createWindow(childParams(0, u"Qt5QWindowIcon"));
        // New windows open at the top of the normal band, below the taskbar.
        QCOMPARE(desktop.topLevelOrder(), (std::vector<Hwnd>{hButton, hTray, hFloat, hBrowser}));

        QVERIFY(desktop.setWindowPos(hFloat, kHwndTopMost, 0, 0, 0, 0, 0x13));
        QVERIFY(desktop.isTopMost(hFloat));
        QCOMPARE(desktop.topLevelOrder().front(), hFloat);
        QCOMPARE(desktop.getForegroundWindow(), Hwnd(0));  // SWP_NOACTIVATE

        QVERIFY(desktop.setWindowPos(hFloat, kHwndNoTopMost, 0, 0, 0, 0, 0x13));
        QVERIFY(!desktop.isTopMost(hFloat));
        QCOMPARE(desktop.topLevelOrder(), (std::vector<Hwnd>{hButton, hTray, hFloat, hBrowser}));

        // Directly behind the taskbar, with activation allowed.
        QVERIFY(desktop.setWindowPos(hFloat, hTray, 0, 0, 0, 0, 3));
        QVERIFY(!desktop.isTopMost(hFloat));
        QCOMPARE(desktop.getWindow(hFloat, kGwHwndPrev), hTray);
        QCOMPARE(desktop.getForegroundWindow(), hFloat);

        // Another application comes to the front; the float goes back
        // directly above its browser, behind that application, which keeps
        // the foreground.
        const Hwnd hOther = desktop.createBrowser(u"editor", u"Notepad", WinRect{0, 0, 300, 300});
        desktop.activate(hBrowser);
        desktop.activate(hOther);
        QCOMPARE(desktop.topLevelOrder(), (std::vector<Hwnd>{hButton, hTray, hOther, hBrowser, hFloat}));
        const Hwnd hPrev = desktop.getWindow(hBrowser, kGwHwndPrev);
        QCOMPARE(hPrev, hOther);
        QVERIFY(desktop.setWindowPos(hFloat, hPrev, 0, 0, 0, 0, 0x13));
        QCOMPARE(desktop.topLevelOrder(), (std::vector<Hwnd>{hButton, hTray, hOther, hFloat, hBrowser}));
        QCOMPARE(desktop.getWindow(hBrowser, kGwHwndPrev), hFloat);
        QCOMPARE(desktop.getForegroundWindow(), hOther);

        QVERIFY(!desktop.setWindowPos(hFloat, 0x5555, 0, 0, 0, 0, 0x13));  // no such window
    }

    void regionsThroughHandles() {
        SimulatedWindowPlatform desktop;
        const Hwnd hOwn = desktop.createWindow(childParams(0, u"Qt5QWindowIcon", WinRect{0, 0, 200, 100}));

        // A window without a region answers ERROR.
        Hrgn hCurrent = desktop.createRectRgn(0, 0, 0, 0);
        QCOMPARE(desktop.getWindowRgn(hOwn, hCurrent), kRgnError);
        QVERIFY(desktop.deleteObject(hCurrent));

        // Cut: the full rectangle minus the square.
        const Hrgn hCut = desktop.createRoundRectRgn(10, 10, 60, 60, 0, 0);
        const Hrgn hFull = desktop.createRectRgn(0, 0, 200, 100);
        QCOMPARE(desktop.combineRgn(hCut, hFull, hCut, kRgnDiff), kComplexRegion);
        QVERIFY(desktop.setWindowRgn(hOwn, hCut, true));
        QVERIFY(desktop.deleteObject(hFull));
        QVERIFY(!desktop.deleteObject(hCut));  // the window owns it now
        QVERIFY(desktop.windowRegion(hOwn)->subtracted(RectRegion::rect(0, 0, 200, 100)).isEmpty());
        QCOMPARE(desktop.windowRegion(hOwn)->area(), 200LL * 100 - 2500);

        // Repair: OR the same square back in.
        hCurrent = desktop.createRectRgn(0, 0, 0, 0);
        QCOMPARE(desktop.getWindowRgn(hOwn, hCurrent), kComplexRegion);
        const Hrgn hAdd = desktop.createRoundRectRgn(10, 10, 60, 60, 0, 0);
        QCOMPARE(desktop.combineRgn(hAdd, hCurrent, hAdd, kRgnOr), kSimpleRegion);
        QVERIFY(desktop.setWindowRgn(hOwn, hAdd, true));
        QVERIFY(desktop.deleteObject(hCurrent));
        QVERIFY(*desktop.windowRegion(hOwn) == RectRegion::rect(0, 0, 200, 100));

        // A cut larger than the window empties the shape: a region, but empty.
        const Hrgn hAll = desktop.createRectRgn(-10, -10, 500, 500);
        hCurrent = desktop.createRectRgn(0, 0, 0, 0);
        desktop.getWindowRgn(hOwn, hCurrent);
        QCOMPARE(desktop.combineRgn(hAll, hCurrent, hAll, kRgnDiff), kNullRegion);
        QVERIFY(desktop.setWindowRgn(hOwn, hAll, true));
        desktop.deleteObject(hCurrent);
        QVERIFY(desktop.windowRegion(hOwn).has_value());
        QVERIFY(desktop.windowRegion(hOwn)->isEmpty());
        hCurrent = desktop.createRectRgn(0, 0, 0, 0);
        QCOMPARE(desktop.getWindowRgn(hOwn, hCurrent), kNullRegion);
        desktop.deleteObject(hCurrent);

        // Region 0 removes it: no region again.
        QVERIFY(desktop.setWindowRgn(hOwn, 0, true));
        QVERIFY(!desktop.windowRegion(hOwn).has_value());
        QCOMPARE(desktop.liveRegionCount(), size_t(0));
    }

    void destroyReachesChildrenFirst() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 800, 600});
        const Hwnd hRender = desktop.createWindow(childParams(hBrowser, u"Chrome_RenderWidgetHostHWND"));
        const Hwnd hOwn = desktop.createWindow(childParams(0, u"Qt5QWindowIcon"));
        const Hwnd hOwnChild = desktop.createWindow(childParams(hOwn, u"video"));
        desktop.setParent(hOwn, hBrowser);

        std::vector<Hwnd> vecHeard;
        auto record = [&](Hwnd hWnd, unsigned uMsg) {
            QCOMPARE(uMsg, kWmDestroy);
            QVERIFY(desktop.isWindow(hBrowser));  // everything still exists
            vecHeard.push_back(hWnd);
        };
        desktop.setMessageSink(hBrowser, record);
        desktop.setMessageSink(hRender, record);
        desktop.setMessageSink(hOwnChild, record);
        // Our window leaves the dying browser and hides, as the window code does.
        desktop.setMessageSink(hOwn, [&](Hwnd hWnd, unsigned uMsg) {
            record(hWnd, uMsg);
            desktop.setParent(hWnd, 0);
            desktop.showWindow(hWnd, kSwHide);
        });

        desktop.destroyWindow(hBrowser);
        QCOMPARE(vecHeard, (std::vector<Hwnd>{hOwnChild, hOwn, hRender, hBrowser}));
        QVERIFY(!desktop.isWindow(hBrowser));
        QVERIFY(!desktop.isWindow(hRender));
        QVERIFY(desktop.isWindow(hOwn));
        QVERIFY(desktop.isWindow(hOwnChild));
        QVERIFY(!desktop.isWindowVisible(hOwn));
        QCOMPARE(desktop.getParent(hOwn), Hwnd(0));
    }

    void windowWithoutEscapeDiesWithItsParent() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 800, 600});
        const Hwnd hOwn = desktop.createWindow(childParams(hBrowser, u"Qt5QWindowIcon"));
        int iHeard = 0;
        desktop.setMessageSink(hOwn, [&](Hwnd, unsigned) { ++iHeard; });
        desktop.activate(hBrowser);
        desktop.destroyWindow(hBrowser);
        QCOMPARE(iHeard, 1);
        QVERIFY(!desktop.isWindow(hOwn));
        QCOMPARE(desktop.getForegroundWindow(), Hwnd(0));
        QVERIFY(desktop.topLevelOrder().empty());
    }

    void foregroundAndThreadInput() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 800, 600});
        const Hwnd hRender = desktop.createWindow(childParams(hBrowser, u"render"));
        const Hwnd hOther = desktop.createBrowser(u"other", u"Notepad", WinRect{0, 0, 300, 300});
        QCOMPARE(desktop.getForegroundWindow(), Hwnd(0));

        desktop.activate(hBrowser);
        QCOMPARE(desktop.getForegroundWindow(), hBrowser);
        QCOMPARE(desktop.topLevelOrder().front(), hBrowser);

        // Setting a child brings its top-level window to the front.
        QVERIFY(desktop.setForegroundWindow(hOther));
        QCOMPARE(desktop.getForegroundWindow(), hOther);
        QVERIFY(desktop.setForegroundWindow(hRender));
        QCOMPARE(desktop.getForegroundWindow(), hBrowser);
        QVERIFY(!desktop.setForegroundWindow(0x4242));
        QCOMPARE(desktop.getForegroundWindow(), hBrowser);

        const std::uint32_t uOwner = desktop.getWindowThreadProcessId(hBrowser);
        QCOMPARE(uOwner, SimulatedWindowPlatform::kBrowserThread);
        QCOMPARE(desktop.getWindowThreadProcessId(0x4242), 0u);
        QVERIFY(desktop.attachThreadInput(uOwner, desktop.getCurrentThreadId(), true));
        QCOMPARE(desktop.attachedInputs().size(), size_t(1));
        QVERIFY(desktop.attachThreadInput(uOwner, desktop.getCurrentThreadId(), false));
        QVERIFY(desktop.attachedInputs().empty());
        QVERIFY(!desktop.attachThreadInput(uOwner, uOwner, true));
        QVERIFY(!desktop.attachThreadInput(uOwner, desktop.getCurrentThreadId(), false));
    }

    void monitorsAndTaskbars() {
        SimulatedWindowPlatform desktop;
        MonitorInfo primary, second;
        primary.rcMonitor = WinRect{0, 0, 1920, 1080};
        primary.dwFlags = kMonitorInfoFPrimary;
        second.rcMonitor = WinRect{1920, 0, 3200, 1024};
        desktop.setMonitors({primary, second});
        desktop.addTaskbars(40);
        QVERIFY(desktop.findWindow(u"Shell_SecondaryTrayWnd", nullptr) != 0);

        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 1920, 1040});
        MonitorInfo info;
        QVERIFY(desktop.getMonitorInfo(desktop.monitorFromWindow(hBrowser, kMonitorDefaultToNearest), info));
        QCOMPARE(info.rcMonitor, primary.rcMonitor);
        QCOMPARE(info.rcWork, (WinRect{0, 0, 1920, 1040}));
        QCOMPARE(info.dwFlags, kMonitorInfoFPrimary);

        // Mostly on the second monitor.
        desktop.moveWindow(hBrowser, 1500, 0);
        QVERIFY(desktop.getMonitorInfo(desktop.monitorFromWindow(hBrowser, kMonitorDefaultToNearest), info));
        QCOMPARE(info.rcMonitor, second.rcMonitor);
        QCOMPARE(info.dwFlags, 0u);

        // Off every monitor: the nearest one, or none when asked so.
        desktop.moveWindow(hBrowser, 5000, 0);
        QVERIFY(desktop.getMonitorInfo(desktop.monitorFromWindow(hBrowser, kMonitorDefaultToNearest), info));
        QCOMPARE(info.rcMonitor, second.rcMonitor);
        QCOMPARE(desktop.monitorFromWindow(hBrowser, kMonitorDefaultToNull), Hmonitor(0));
        QVERIFY(!desktop.getMonitorInfo(0, info));

        // Hiding the taskbar and its button, as full screen does.
        const Hwnd hTray = desktop.findWindow(u"Shell_TrayWnd", nullptr);
        desktop.clearCalls();
        desktop.showWindow(hTray, kSwHide);
        desktop.showWindow(desktop.findWindow(u"Button", nullptr), kSwHide);
        QVERIFY(!desktop.isWindowVisible(hTray));
        QCOMPARE(desktop.calls().size(), size_t(2));
        QCOMPARE(desktop.calls().front(), "ShowWindow(" + std::to_string(hTray) + ",0)");
    }

    void styleBitsAndCallLog() {
        SimulatedWindowPlatform desktop;
        const Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", WinRect{0, 0, 800, 600});
        const Hwnd hD3D = desktop.createWindow(childParams(hBrowser, u"D3D Window"));
        desktop.clearCalls();
        const std::int32_t iStyle = desktop.getWindowLong(hD3D, kGwlStyle);
        QCOMPARE(static_cast<std::uint32_t>(iStyle), kWsVisible | kWsChild);
        QCOMPARE(desktop.setWindowLong(hD3D, kGwlStyle, iStyle | static_cast<std::int32_t>(kWsClipSiblings)), iStyle);
        QCOMPARE(desktop.style(hD3D), kWsVisible | kWsChild | kWsClipSiblings);
        QCOMPARE(desktop.calls(), (std::vector<std::string>{"SetWindowLong(" + std::to_string(hD3D) + ",-16,0x54000000)"}));
        QCOMPARE(desktop.getWindowLong(hD3D, -20), 0);  // only the style is kept
    }

    void nullDesktopSeesNothing() {
        NullWindowPlatform desktop;
        int iSeen = 0;
        QVERIFY(desktop.enumWindows([&](Hwnd) {
            ++iSeen;
            return true;
        }));
        QCOMPARE(iSeen, 0);
        QCOMPARE(desktop.getForegroundWindow(), Hwnd(0));
        QCOMPARE(desktop.findWindow(u"Shell_TrayWnd", nullptr), Hwnd(0));
        WinRect rect{1, 2, 3, 4};
        QVERIFY(!desktop.getWindowRect(0x1234, rect));
        QCOMPARE(rect, WinRect());
        QCOMPARE(windowText(desktop, 0x1234), std::u16string());
        // Shapes are still built; a region handed over is not leaked.
        const Hrgn hCut = desktop.createRoundRectRgn(0, 0, 50, 50, 10, 10);
        const Hrgn hCurrent = desktop.createRectRgn(0, 0, 0, 0);
        QCOMPARE(desktop.getWindowRgn(0x1234, hCurrent), kRgnError);
        QVERIFY(desktop.deleteObject(hCurrent));
        desktop.setWindowRgn(0x1234, hCut, true);
        QCOMPARE(desktop.liveRegionCount(), size_t(0));
    }
};

QTEST_APPLESS_MAIN(TestSimulatedDesktop)
#include "tst_simulated_desktop.moc"
