// Console probe of the Win32 window backend on real windows: a "browser"
// window with a token in its title and one of our windows are created, then
// found, parented, measured, shaped and destroyed through the backend.
// Prints one line per check and exits with the number of failed checks.
#include "ProcessPlatform.h"
#include "RectRegion.h"
#include "Win32WindowPlatform.h"

#include <windows.h>

#include <cstdio>
#include <string>

using namespace platform;

namespace {

int s_iFailures = 0;

void check(bool bOk, const char* szWhat) {
    std::printf("%s %s\n", bOk ? "PASS" : "FAIL", szWhat);
    if (!bOk) ++s_iFailures;
}

HWND createWindow(const wchar_t* wszClass, const wchar_t* wszTitle, DWORD dwStyle, HWND hParent, int x, int y, int w,
                  int h) {
    return CreateWindowExW(0, wszClass, wszTitle, dwStyle, x, y, w, h, hParent, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

int main() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"LsProbeBrowser";
    RegisterClassW(&wc);
    wc.lpszClassName = L"LsProbeOwn";
    RegisterClassW(&wc);

    Win32WindowPlatform platform;
    const std::wstring wstrTitle = L"probe page {7d1c0f3a-token} - Browser";
    const HWND hBrowser = createWindow(L"LsProbeBrowser", wstrTitle.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr,
                                       100, 80, 640, 480);
    const HWND hOwn = createWindow(L"LsProbeOwn", L"own", WS_POPUP, nullptr, 0, 0, 200, 100);
    check(hBrowser && hOwn, "windows created");
    pump();

    // Enumeration and texts.
    Hwnd hFound = 0;
    platform.enumWindows([&](Hwnd hWnd) {
        if (windowText(platform, hWnd).find(u"{7d1c0f3a-token}") != std::u16string::npos) {
            hFound = hWnd;
            return false;
        }
        return true;
    });
    check(hFound == reinterpret_cast<Hwnd>(hBrowser), "browser found by title");
    check(className(platform, hFound) == u"LsProbeBrowser", "class name read");
    check(className(platform, hFound, 5) == u"LsPr", "class name cut to the buffer");
    check(platform.findWindow(u"LsProbeBrowser", nullptr) == hFound, "findWindow by class");

    // Parenting and the child walk. A popup taken into another window is
    // in its child list, but getParent names a popup's owner (none here);
    // a WS_CHILD window names its parent.
    const Hwnd hOwnId = reinterpret_cast<Hwnd>(hOwn);
    platform.setParent(hOwnId, hFound);
    check(platform.getWindow(hFound, kGwChild) == hOwnId, "GW_CHILD finds the window put into the browser");
    check(platform.getParent(hOwnId) == 0, "getParent of a popup names no owner");
    const HWND hChild = createWindow(L"LsProbeOwn", L"child", WS_CHILD, hBrowser, 0, 0, 10, 10);
    check(platform.getParent(reinterpret_cast<Hwnd>(hChild)) == hFound, "getParent of a child window");
    check(platform.getWindow(reinterpret_cast<Hwnd>(hChild), kGwHwndNext) == hOwnId ||
              platform.getWindow(hOwnId, kGwHwndNext) == reinterpret_cast<Hwnd>(hChild),
          "GW_HWNDNEXT walks the siblings");

    // Rectangles.
    WinRect rcWindow, rcClient;
    WinPoint origin;
    check(platform.getWindowRect(hFound, rcWindow) && rcWindow.left == 100 && rcWindow.width() == 640,
          "window rectangle");
    check(platform.getClientRect(hFound, rcClient) && rcClient.left == 0 && rcClient.width() > 0 &&
              rcClient.width() <= 640,
          "client rectangle");
    check(platform.clientToScreen(hFound, origin) && origin.x >= 100 && origin.y >= 80, "client origin on screen");
    platform.setWindowPos(hOwnId, kHwndTop, 10, 20, 200, 100, kSwpNoActivate | kSwpShowWindow);
    WinRect rcOwn;
    check(platform.getWindowRect(hOwnId, rcOwn) && rcOwn.left == origin.x + 10 && rcOwn.top == origin.y + 20,
          "child placed in client coordinates");

    // Regions: no region answers ERROR; a cut and its repair.
    const Hrgn hProbe = platform.createRectRgn(0, 0, 0, 0);
    check(platform.getWindowRgn(hOwnId, hProbe) == kRgnError, "GetWindowRgn ERROR without a region");
    const Hrgn hCut = platform.createRoundRectRgn(10, 10, 60, 60, 0, 0);
    const Hrgn hFull = platform.createRectRgn(0, 0, 200, 100);
    check(platform.combineRgn(hCut, hFull, hCut, kRgnDiff) == kComplexRegion, "RGN_DIFF result");
    check(platform.setWindowRgn(hOwnId, hCut, true), "SetWindowRgn");
    check(platform.getWindowRgn(hOwnId, hProbe) == kComplexRegion, "GetWindowRgn after a cut");
    const Hrgn hAdd = platform.createRectRgn(10, 10, 60, 60);
    check(platform.combineRgn(hAdd, hProbe, hAdd, kRgnOr) == kSimpleRegion, "RGN_OR repairs the cut");
    WinRect rcBox;
    check(platform.getRgnBox(hAdd, rcBox) == kSimpleRegion && rcBox == (WinRect{0, 0, 200, 100}), "repaired box");
    platform.deleteObject(hProbe);
    platform.deleteObject(hFull);
    platform.deleteObject(hAdd);

    // Style, foreground, monitors, thread input.
    const std::int32_t iStyle = platform.getWindowLong(hOwnId, kGwlStyle);
    platform.setWindowLong(hOwnId, kGwlStyle, iStyle | static_cast<std::int32_t>(kWsClipSiblings));
    check((platform.getWindowLong(hOwnId, kGwlStyle) & kWsClipSiblings) != 0, "WS_CLIPSIBLINGS set");
    MonitorInfo info;
    check(platform.getMonitorInfo(platform.monitorFromWindow(hFound, kMonitorDefaultToNearest), info) &&
              info.rcMonitor.width() > 0,
          "monitor of the browser");
    check(platform.getWindowThreadProcessId(hFound) == platform.getCurrentThreadId(), "owning thread");

    // The parent's destruction reaches our window while it can still leave.
    bool bHeard = false;
    platform.setMessageSink(hOwnId, [&](Hwnd hWnd, unsigned uMsg) {
        if (uMsg == kWmDestroy) {
            bHeard = true;
            platform.setParent(hWnd, 0);
        }
    });
    DestroyWindow(hBrowser);
    pump();
    check(bHeard, "WM_DESTROY heard from the dying parent");
    check(!platform.isWindow(hFound), "browser gone");
    platform.setMessageSink(hOwnId, MessageSink());
    DestroyWindow(hOwn);

    std::string strPath;
    check(systemProcessPlatform().moduleFileName(strPath) && !strPath.empty(), "module file name");

    std::printf("%d failure(s)\n", s_iFailures);
    return s_iFailures;
}
