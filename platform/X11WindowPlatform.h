// Window backend for X11 desktops with an EWMH window manager, for a service
// whose own windows are Qt widgets on Qt's xcb platform.
//
// - Top-level windows are the manager's clients (_NET_CLIENT_LIST_STACKING),
//   handles are client window ids; titles come from _NET_WM_NAME or WM_NAME,
//   class names from WM_CLASS (the class part). The service's own Qt windows
//   report "Qt5QWindowIcon".
// - Window rectangles include the manager's frame (_NET_FRAME_EXTENTS).
// - The service's own windows are embedded and detached through Qt (a
//   foreign QWindow for the browser), so Qt keeps track of them. The browser
//   window is watched: when it is unmapped (not minimised) or destroyed, the
//   embedded windows hear kWmDestroy. A window that X destroyed together
//   with the browser is created anew by the next setParent(hWnd, 0); its
//   first handle keeps working for every call, and the backend reports it
//   by that handle.
// - Regions are applied with the shape extension; "no region" and "empty
//   region" stay apart.
// - Foreground: _NET_ACTIVE_WINDOW. Monitors: RandR monitors. Taskbars:
//   "Shell_TrayWnd" and "Shell_SecondaryTrayWnd" are dock windows
//   (_NET_WM_WINDOW_TYPE_DOCK) on the primary and another monitor; there is
//   no start button ("Button" finds nothing).
// - X has no per-thread input queues: the "thread" of a window is its X
//   client, and attaching thread input has no effect. Like the desktop's own
//   foreground lock, a window of ours placed without kSwpNoActivate becomes
//   active only while one of ours already is: the service never takes the
//   keyboard away from the browser by re-stacking.
// - Calls on other windows make no round trip on Qt's connection; calls on
//   our own windows first let Qt's requests reach the server.
#ifndef PLATFORM_X11WINDOWPLATFORM_H
#define PLATFORM_X11WINDOWPLATFORM_H

#include "RegionKeepingPlatform.h"

#include <memory>

namespace platform {

class X11WindowPlatform final : public RegionKeepingPlatform {
public:
    // Opens its own connections to the display Qt runs on. Needs the
    // application object on Qt's xcb platform.
    X11WindowPlatform();
    ~X11WindowPlatform() override;

    X11WindowPlatform(const X11WindowPlatform&) = delete;
    X11WindowPlatform& operator=(const X11WindowPlatform&) = delete;

    bool isConnected() const;
    // Lets go of the service's windows and closes the connections while Qt
    // still runs (the application object's destruction calls it for the
    // backend chosen at start-up). Every call fails harmlessly afterwards.
    void shutdown();
    // The handle a window of the service has now (differs from hWnd after
    // the window was created anew).
    Hwnd currentHandle(Hwnd hWnd) const;

    bool enumWindows(const EnumWindowsCallback& callback) override;
    int getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) override;
    int getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) override;
    Hwnd findWindow(const std::u16string& strClassName, const std::u16string* pTitle) override;
    Hwnd setParent(Hwnd hWnd, Hwnd hNewParent) override;
    Hwnd getParent(Hwnd hWnd) override;
    Hwnd getWindow(Hwnd hWnd, unsigned uCmd) override;
    bool isWindow(Hwnd hWnd) override;
    bool isWindowVisible(Hwnd hWnd) override;
    bool showWindow(Hwnd hWnd, int iCmdShow) override;
    bool getWindowRect(Hwnd hWnd, WinRect& rect) override;
    bool getClientRect(Hwnd hWnd, WinRect& rect) override;
    bool clientToScreen(Hwnd hWnd, WinPoint& point) override;
    bool setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) override;
    std::int32_t getWindowLong(Hwnd hWnd, int iIndex) override;
    std::int32_t setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) override;
    Hwnd getForegroundWindow() override;
    bool setForegroundWindow(Hwnd hWnd) override;
    std::uint32_t getWindowThreadProcessId(Hwnd hWnd) override;
    std::uint32_t getCurrentThreadId() override;
    bool attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool bAttach) override;
    Hmonitor monitorFromWindow(Hwnd hWnd, unsigned uFlags) override;
    bool getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) override;
    void setMessageSink(Hwnd hWnd, MessageSink sink) override;

    // Reads the pending events of the watched windows and delivers the
    // notifications they cause (normally done by the event loop).
    void processEvents();

protected:
    std::optional<RectRegion> windowShape(Hwnd hWnd) override;
    bool applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool bRedraw) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace platform

#endif  // PLATFORM_X11WINDOWPLATFORM_H
