// An in-memory desktop for tests: windows with title, class, parent, child
// order, rectangles, visibility, style, stacking order, region and owning
// thread; monitors; taskbars; a foreground window. Tests build the desktop
// through the "desktop" calls below, drive the code under test through the
// WindowPlatform calls, and read back what it did. The service's own windows
// (Qt's, unknown to this desktop) join it when they install their message
// sink: top-level, hidden, class "Qt5QWindowIcon", owned by kServiceThread;
// they leave when the sink is removed.
//
// Coordinates follow the desktop's rules: a top-level window's position is in
// screen coordinates, a child's is relative to its parent's client area, and
// a child moves with its parent. Each window has a frame: the client area is
// the window rectangle less the frame margins.
#ifndef TESTS_SIMULATEDWINDOWPLATFORM_H
#define TESTS_SIMULATEDWINDOWPLATFORM_H

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
        WinRect rect;             // screen (top-level) or parent-client coordinates
        WinRect rcFrame;          // frame margins: left, top, right, bottom widths
        bool bVisible = true;
        bool bTopMost = false;
        std::uint32_t uStyle = 0;  // extra style bits (visibility and child bits are kept apart)
        std::uint32_t uThreadId = kBrowserThread;
        Hwnd hWnd = 0;            // 0: pick a fresh handle
    };

    static constexpr std::uint32_t kServiceThread = 1;  // getCurrentThreadId()
    static constexpr std::uint32_t kBrowserThread = 2;

    SimulatedWindowPlatform();

    // --- desktop set-up and changes made by "the user" -------------------
    Hwnd createWindow(const WindowParams& params);
    // A browser top-level window with an 8-pixel frame and a 30-pixel caption.
    Hwnd createBrowser(const std::u16string& strTitle, const std::u16string& strClass, const WinRect& rect);
    // Destroys a window and all its descendants. Every window with a message
    // sink hears kWmDestroy first, children before their parents, while all
    // of them still exist; a window that leaves the tree in its sink (a new
    // parent, or none) survives.
    void destroyWindow(Hwnd hWnd);
    void moveWindow(Hwnd hWnd, int x, int y);
    void resizeWindow(Hwnd hWnd, int iWidth, int iHeight);
    void setTitle(Hwnd hWnd, const std::u16string& strTitle);
    // The user brings a window to the front: it becomes the foreground window
    // and goes to the top of its band.
    void activate(Hwnd hWnd);

    // Monitors: replaced as a whole; the first primary one is index 0 of
    // monitorFromWindow's fall-back.
    void setMonitors(const std::vector<MonitorInfo>& vecMonitors);
    // The taskbar ("Shell_TrayWnd") along the bottom of the primary monitor
    // with its start button ("Button"); with a second monitor also its
    // taskbar ("Shell_SecondaryTrayWnd"). All topmost.
    void addTaskbars(int iHeight = 40);

    // --- read-back ---------------------------------------------------------
    std::vector<Hwnd> topLevelOrder() const;     // top to bottom
    std::vector<Hwnd> children(Hwnd hWnd) const;  // top to bottom
    bool exists(Hwnd hWnd) const;
    bool isTopMost(Hwnd hWnd) const;
    bool ownVisible(Hwnd hWnd) const;  // the window's own visibility bit
    std::optional<RectRegion> windowRegion(Hwnd hWnd) const;
    std::uint32_t style(Hwnd hWnd) const;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> attachedInputs() const;  // current attachments
    // Every WindowPlatform call that changes something, in order, as text
    // (for example "SetParent(5,2)", "ShowWindow(3,0)").
    const std::vector<std::string>& calls() const { return m_vecCalls; }
    void clearCalls() { m_vecCalls.clear(); }

    // --- WindowPlatform ----------------------------------------------------
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

protected:
    std::optional<RectRegion> windowShape(Hwnd hWnd) override;
    bool applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool bRedraw) override;

private:
    struct Window {
        Hwnd hWnd = 0;
        std::u16string strTitle;
        std::u16string strClass;
        Hwnd hParent = 0;
        std::vector<Hwnd> vecChildren;  // top to bottom
        WinRect rect;                   // screen or parent-client coordinates
        WinRect rcFrame;
        bool bVisible = true;
        bool bTopMost = false;
        std::uint32_t uStyle = 0;
        std::optional<RectRegion> region;
        std::uint32_t uThreadId = 0;
        MessageSink sink;
        bool bAdopted = false;  // one of the service's own windows
    };

    Window* find(Hwnd hWnd);
    const Window* find(Hwnd hWnd) const;
    std::vector<Hwnd>& siblingList(const Window& window);
    const std::vector<Hwnd>& siblingList(const Window& window) const;
    void unlink(Window& window);
    // Puts the window into its sibling list (its parent's children or the
    // top-level order) at the top of its band, or directly below hAfter.
    void insertAtTop(Window& window);
    void insertBelow(Window& window, Hwnd hAfter);
    void insertAtBottom(Window& window);
    WinPoint clientOrigin(const Window& window) const;  // client area top-left on screen
    WinRect screenRect(const Window& window) const;
    Hwnd topLevelOf(Hwnd hWnd) const;
    void notifyDestroy(Hwnd hWnd, Hwnd hRoot);
    bool isInside(Hwnd hWnd, Hwnd hRoot) const;
    void eraseTree(Hwnd hWnd);
    void log(std::string strCall);
    int copyText(const std::u16string& strText, char16_t* pBuffer, int iMaxCount);

    std::map<Hwnd, Window> m_mapWindows;
    std::vector<Hwnd> m_vecTopLevel;  // top to bottom; topmost windows first
    Hwnd m_hNext = 0x100;
    Hwnd m_hForeground = 0;
    std::vector<MonitorInfo> m_vecMonitors;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_vecAttached;
    std::vector<std::string> m_vecCalls;
};

}  // namespace platform

#endif  // TESTS_SIMULATEDWINDOWPLATFORM_H
