// An in-memory desktop for tests: windows with title, class, parent, child
// order, rectangle, frame, visibility, region and owning thread (no styles); one
// 1920 x 1080 monitor; a taskbar; a foreground window. Tests build the
// desktop through the calls below, drive the code under test through the
// WindowPlatform calls, and read back what it did. The service's own windows
// (Qt's, unknown to this desktop) join it when they install their message
// sink, top-level, hidden, class "Qt5QWindowIcon", owned by kServiceThread;
// they leave when the sink is removed.
//
// A top-level window's position is in screen coordinates, a child's is
// relative to its parent's client area (the rectangle less the frame), and a
// child moves with its parent. Stacking knows no topmost band: "topmost"
// goes to the top, "not topmost" stays where it is.
#ifndef PLATFORM_SIMULATEDWINDOWPLATFORM_H
#define PLATFORM_SIMULATEDWINDOWPLATFORM_H

#include "RegionKeepingPlatform.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class SimulatedWindowPlatform final : public RegionKeepingPlatform {
public:
    struct WindowParams {
        std::u16string strTitle;
        std::u16string strClass;
        Hwnd hParent = 0;
        WinRect rect;       // screen (top-level) or parent-client coordinates
        WinRect rcFrame{};  // frame widths: left, top, right, bottom
        bool bVisible = true;
        std::uint32_t uThreadId = kBrowserThread;
        Hwnd hWnd = 0;  // 0: a fresh handle
    };

    static constexpr std::uint32_t kServiceThread = 1;  // getCurrentThreadId()
    static constexpr std::uint32_t kBrowserThread = 2;

    // --- the desktop and what "the user" does to it -----------------------
    Hwnd createWindow(const WindowParams& params);
    // A browser top-level window with an 8-pixel frame and a 30-pixel caption.
    Hwnd createBrowser(const std::u16string& strTitle, const std::u16string& strClass, const WinRect& rect);
    // Destroys a window and its descendants. Every one with a message sink
    // hears kWmDestroy first, children before parents, while all still
    // exist; a window that leaves the tree in its sink survives.
    void destroyWindow(Hwnd hWnd);
    void moveWindow(Hwnd hWnd, int x, int y);
    // Brings the window's top-level window to the front as the foreground.
    void activate(Hwnd hWnd);
    // The taskbar ("Shell_TrayWnd", 40 pixels along the bottom) and its
    // start button ("Button").
    void addTaskbars();

    // --- read-back -----------------------------------------------------------
    std::vector<Hwnd> topLevelOrder() const { return m_vecTopLevel; }  // top to bottom
    bool exists(Hwnd hWnd) const { return m_mapWindows.count(hWnd) != 0; }
    std::optional<RectRegion> windowRegion(Hwnd hWnd) const;
    // How many calls so far changed (or tried to) parents, visibility,
    // stacking, the foreground or thread input.
    int changeCalls() const { return m_nChangeCalls; }

    // --- WindowPlatform --------------------------------------------------------
    bool enumWindows(const EnumWindowsCallback& callback) override;
    int getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) override;
    int getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) override;
    Hwnd findWindow(const std::u16string& strClassName, const std::u16string* pTitle) override;
    Hwnd setParent(Hwnd hWnd, Hwnd hNewParent) override;
    Hwnd getParent(Hwnd hWnd) override;
    Hwnd getWindow(Hwnd hWnd, unsigned uCmd) override;
    bool isWindow(Hwnd hWnd) override { return exists(hWnd); }
    bool isWindowVisible(Hwnd hWnd) override;
    bool showWindow(Hwnd hWnd, int iCmdShow) override;
    bool getWindowRect(Hwnd hWnd, WinRect& rect) override;
    bool getClientRect(Hwnd hWnd, WinRect& rect) override;
    bool clientToScreen(Hwnd hWnd, WinPoint& point) override;
    bool setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) override;
    // Styles are not kept.
    std::int32_t getWindowLong(Hwnd, int) override { return 0; }
    std::int32_t setWindowLong(Hwnd, int, std::int32_t) override { return 0; }
    Hwnd getForegroundWindow() override { return m_hForeground; }
    bool setForegroundWindow(Hwnd hWnd) override;
    std::uint32_t getWindowThreadProcessId(Hwnd hWnd) override;
    std::uint32_t getCurrentThreadId() override { return kServiceThread; }
    bool attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool bAttach) override;
    Hmonitor monitorFromWindow(Hwnd hWnd, unsigned uFlags) override;
    bool getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) override;
    void setMessageSink(Hwnd hWnd, MessageSink sink) override;

protected:
    std::optional<RectRegion> windowShape(Hwnd hWnd) override { return windowRegion(hWnd); }
    bool applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool bRedraw) override;

private:
    struct Window : WindowParams {
        std::vector<Hwnd> vecChildren;  // top to bottom
        std::optional<RectRegion> region;
        MessageSink sink;
        bool bAdopted = false;  // one of the service's own windows
    };

    const Window* find(Hwnd hWnd) const;
    Window* find(Hwnd hWnd) {
        return const_cast<Window*>(static_cast<const SimulatedWindowPlatform*>(this)->find(hWnd));
    }
    std::vector<Hwnd>& siblings(const Window& window);
    void unlink(const Window& window);
    WinPoint clientOrigin(const Window& window) const;
    bool isInside(Hwnd hWnd, Hwnd hRoot) const;
    void notifyDestroy(Hwnd hWnd, Hwnd hRoot);
    void eraseTree(Hwnd hWnd);

    std::map<Hwnd, Window> m_mapWindows;
    std::vector<Hwnd> m_vecTopLevel;  // top to bottom
    Hwnd m_hNext = 0x100;
    Hwnd m_hForeground = 0;
    int m_nChangeCalls = 0;
};

}  // namespace platform

#endif  // PLATFORM_SIMULATEDWINDOWPLATFORM_H
