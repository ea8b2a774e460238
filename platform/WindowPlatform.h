// Native window calls of the window module and the full-screen switch, in the
// terms of the desktop's user and graphics interfaces: window handles,
// enumeration, parents, rectangles, z-order, regions, foreground window and
// thread input, monitors and the taskbar.
//
// Handles are plain integers and 0 is none. No Qt type appears here, so the
// Win32 backend builds without Qt; callers convert at their own edge.
#ifndef PLATFORM_WINDOWPLATFORM_H
#define PLATFORM_WINDOWPLATFORM_H

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

using Hwnd = std::uintptr_t;      // window handle
using Hrgn = std::uintptr_t;      // region handle
using Hmonitor = std::uintptr_t;  // monitor handle

struct WinRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }
    bool operator==(const WinRect& other) const {
        return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
    }
    bool operator!=(const WinRect& other) const { return !(*this == other); }
};

struct WinPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct MonitorInfo {
    WinRect rcMonitor;          // the monitor in screen coordinates
    WinRect rcWork;             // the monitor less the taskbars
    std::uint32_t dwFlags = 0;  // kMonitorInfoFPrimary for the primary one
};

// Insert-after values of setWindowPos besides a real window.
constexpr Hwnd kHwndTop = 0;
constexpr Hwnd kHwndBottom = 1;
constexpr Hwnd kHwndTopMost = static_cast<Hwnd>(-1);
constexpr Hwnd kHwndNoTopMost = static_cast<Hwnd>(-2);

// setWindowPos flag bits.
constexpr unsigned kSwpNoSize = 0x0001;
constexpr unsigned kSwpNoMove = 0x0002;
constexpr unsigned kSwpNoZOrder = 0x0004;
constexpr unsigned kSwpNoActivate = 0x0010;
constexpr unsigned kSwpShowWindow = 0x0040;
constexpr unsigned kSwpHideWindow = 0x0080;

// getWindow relations.
constexpr unsigned kGwHwndFirst = 0;
constexpr unsigned kGwHwndLast = 1;
constexpr unsigned kGwHwndNext = 2;  // the sibling below
constexpr unsigned kGwHwndPrev = 3;  // the sibling above
constexpr unsigned kGwChild = 5;     // the topmost child

// showWindow commands.
constexpr int kSwHide = 0;
constexpr int kSwShowNormal = 1;
constexpr int kSwShowNoActivate = 4;
constexpr int kSwShow = 5;

// Window long index and style bits.
constexpr int kGwlStyle = -16;
constexpr std::uint32_t kWsClipSiblings = 0x04000000;
constexpr std::uint32_t kWsClipChildren = 0x02000000;
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsChild = 0x40000000;
constexpr std::uint32_t kWsPopup = 0x80000000;

// combineRgn modes and region results.
constexpr int kRgnAnd = 1;
constexpr int kRgnOr = 2;
constexpr int kRgnXor = 3;
constexpr int kRgnDiff = 4;
constexpr int kRgnCopy = 5;
constexpr int kRgnError = 0;  // also: the window has no region
constexpr int kNullRegion = 1;
constexpr int kSimpleRegion = 2;
constexpr int kComplexRegion = 3;

// monitorFromWindow fall-backs and the primary flag.
constexpr unsigned kMonitorDefaultToNull = 0;
constexpr unsigned kMonitorDefaultToPrimary = 1;
constexpr unsigned kMonitorDefaultToNearest = 2;
constexpr std::uint32_t kMonitorInfoFPrimary = 1;

// Native messages delivered to a window's message sink.
constexpr unsigned kWmDestroy = 0x0002;

// Receives native messages for one window (the window's own message handling).
// kWmDestroy arrives when the window is being destroyed together with its
// parent, while it still exists: a sink that detaches the window with
// setParent(hWnd, 0) keeps it alive.
using MessageSink = std::function<void(Hwnd hWnd, unsigned uMsg)>;

// Callback of enumWindows: return false to stop the enumeration.
using EnumWindowsCallback = std::function<bool(Hwnd hWnd)>;

class WindowPlatform {
public:
    virtual ~WindowPlatform() = default;

    // Top-level windows from the top of the z-order down. Returns false when
    // the callback stopped the enumeration.
    virtual bool enumWindows(const EnumWindowsCallback& callback) = 0;
    // False for a desktop whose other windows this backend can never see
    // (no browser window will ever be found).
    virtual bool seesWindows() const { return true; }

    // Copies at most iMaxCount - 1 UTF-16 units of the title (or class name)
    // and a terminating 0 into pBuffer; returns the units copied, 0 on error.
    virtual int getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) = 0;
    virtual int getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) = 0;

    // First top-level window whose class name is strClassName (and whose title
    // is pTitle when that is not null).
    virtual Hwnd findWindow(const std::u16string& strClassName, const std::u16string* pTitle) = 0;

    // Makes hWnd a child of hNewParent (0: a top-level window again). The
    // position values are kept and now count from the new parent's client
    // area. Returns the previous parent (for a window that was top-level: 0,
    // or the desktop window on Windows), 0 on failure.
    virtual Hwnd setParent(Hwnd hWnd, Hwnd hNewParent) = 0;
    virtual Hwnd getParent(Hwnd hWnd) = 0;
    virtual Hwnd getWindow(Hwnd hWnd, unsigned uCmd) = 0;

    virtual bool isWindow(Hwnd hWnd) = 0;
    // The window and all its ancestors are shown.
    virtual bool isWindowVisible(Hwnd hWnd) = 0;
    // Returns whether the window was visible before.
    virtual bool showWindow(Hwnd hWnd, int iCmdShow) = 0;

    // Screen coordinates of the whole window (frame included).
    virtual bool getWindowRect(Hwnd hWnd, WinRect& rect) = 0;
    // The client area in its own coordinates: left and top are 0.
    virtual bool getClientRect(Hwnd hWnd, WinRect& rect) = 0;
    virtual bool clientToScreen(Hwnd hWnd, WinPoint& point) = 0;

    // hInsertAfter: kHwndTop, kHwndBottom, kHwndTopMost, kHwndNoTopMost or
    // the window that hWnd goes directly below.
    virtual bool setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) = 0;

    // Only kGwlStyle is supported. setWindowLong returns the previous value.
    virtual std::int32_t getWindowLong(Hwnd hWnd, int iIndex) = 0;
    virtual std::int32_t setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) = 0;

    // Regions in window coordinates. A rounded rectangle's ellipse is
    // iWidthEllipse x iHeightEllipse.
    virtual Hrgn createRectRgn(int iLeft, int iTop, int iRight, int iBottom) = 0;
    virtual Hrgn createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                                    int iHeightEllipse) = 0;
    // hDest := hSrc1 <iMode> hSrc2; returns the region kind or kRgnError.
    virtual int combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) = 0;
    // Copies the window's region into hRgn; kRgnError when the window has
    // none (it then shows its whole rectangle).
    virtual int getWindowRgn(Hwnd hWnd, Hrgn hRgn) = 0;
    // The window takes hRgn over (the caller must not use or delete it any
    // more); 0 removes the region.
    virtual bool setWindowRgn(Hwnd hWnd, Hrgn hRgn, bool bRedraw) = 0;
    virtual bool deleteObject(Hrgn hRgn) = 0;
    // Bounding box of a region (for read-back); kRgnError for a bad handle.
    virtual int getRgnBox(Hrgn hRgn, WinRect& rect) = 0;

    virtual Hwnd getForegroundWindow() = 0;
    virtual bool setForegroundWindow(Hwnd hWnd) = 0;

    // Thread input: the thread that owns a window, the calling thread, and
    // attaching one's input state to the other's.
    virtual std::uint32_t getWindowThreadProcessId(Hwnd hWnd) = 0;
    virtual std::uint32_t getCurrentThreadId() = 0;
    virtual bool attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool bAttach) = 0;

    virtual Hmonitor monitorFromWindow(Hwnd hWnd, unsigned uFlags) = 0;
    virtual bool getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) = 0;

    // Installs (or with an empty sink removes) the message sink of one of the
    // service's own windows.
    virtual void setMessageSink(Hwnd hWnd, MessageSink sink) = 0;
};

// The backend that the window module and the video widget's full-screen
// switch use. The service sets it once at start-up (systemWindowPlatform());
// tests set a simulated desktop. Until one is set, a backend that sees no
// windows answers. GUI thread only; the caller keeps the backend alive.
WindowPlatform& activeWindowPlatform();
void setActiveWindowPlatform(WindowPlatform* pPlatform);

// Text helpers over the fixed-size buffers, as the window module reads them.
std::u16string windowText(WindowPlatform& platform, Hwnd hWnd, int iMaxCount = 260);
std::u16string className(WindowPlatform& platform, Hwnd hWnd, int iMaxCount = 260);

}  // namespace platform

#endif  // PLATFORM_WINDOWPLATFORM_H
