// A private X desktop for tests: Xvfb on a free display of :90 to :99 with
// openbox as window manager, and plain Xlib test windows that play the
// browser. Start it before the QApplication exists; the test then runs Qt on
// that display (xcb).
#ifndef TESTS_XDESKTOP_H
#define TESTS_XDESKTOP_H

#include <functional>
#include <string>
#include <vector>

struct _XDisplay;

class XDesktop {
public:
    XDesktop() = default;
    ~XDesktop();
    XDesktop(const XDesktop&) = delete;
    XDesktop& operator=(const XDesktop&) = delete;

    // The main() of a test program on a private desktop: starts one, points
    // *ppDesktop at it and returns what run() returns (run makes the
    // application object and runs the tests); 1 when the desktop does not
    // start.
    static int runTests(XDesktop** ppDesktop, const std::function<int()>& run);

    // Starts the server and the window manager, sets DISPLAY,
    // QT_QPA_PLATFORM=xcb and XDG_RUNTIME_DIR. False with strError set when
    // that fails.
    bool start(std::string& strError);
    // The test's own connection (for reading back what the code did).
    _XDisplay* connection() const { return m_pDisplay; }
    unsigned long root() const;
    // The X server's process id (0 before start).
    int serverPid() const { return m_vecChildren.empty() ? 0 : m_vecChildren.front(); }

    // Polls (every 10 ms, up to iTimeoutMs) until the condition holds,
    // reading pending events of the test connection meanwhile.
    static bool waitFor(const std::function<bool()>& condition, int iTimeoutMs = 5000);

    // Runs a program with DISPLAY set; returns its exit code (-1 if it could
    // not run).
    int run(const std::vector<std::string>& vecArgs);
    // Starts a program in the background with DISPLAY set; returns its pid.
    int spawn(const std::vector<std::string>& vecArgs, const std::string& strLogFile = "/dev/null");

    // --- test windows ("browsers") on the test connection -----------------------
    // A top-level window with the title (UTF-8) and class, mapped and
    // managed; 0 on failure. Its background is filled with colour.
    unsigned long createBrowser(const std::string& strTitle, const std::string& strClass, int x, int y, int iWidth,
                                int iHeight, unsigned long ulColour = 0x2050a0);
    // A dock window (a taskbar) along the bottom of the screen, or of the
    // part of it from iLeft to iRight.
    unsigned long createDock(int iHeight, int iLeft = 0, int iRight = -1);
    // Splits the screen into two RandR monitors side by side at iSplitX: the
    // left one primary. False when the server refuses.
    bool splitMonitors(int iSplitX);
    // Asks the window's client to close it (WM_DELETE_WINDOW), as the
    // close button does.
    void requestClose(unsigned long window);
    // The window and all its children go at once.
    void destroyAbruptly(unsigned long window);
    bool isViewable(unsigned long window);
    // Rectangles of the window's bounding shape; bShaped false when it has
    // none (the whole window shows).
    std::vector<std::vector<int>> shapeRects(unsigned long window, bool& bShaped);
    // Colour of a screen pixel (0xRRGGBB).
    unsigned long pixel(int x, int y);
    // The _NET_WM_STATE atoms of a window, by name.
    std::vector<std::string> netWmState(unsigned long window);
    // Screen position of a window's top-left corner, and its size.
    bool geometry(unsigned long window, int& x, int& y, int& iWidth, int& iHeight);
    // The first client whose title (UTF-8) contains strText, or 0.
    unsigned long findTitle(const std::string& strText);
    // The manager's active window (_NET_ACTIVE_WINDOW), or 0.
    unsigned long activeWindow();
    // Bounding box {left, top, right, bottom} of the screen pixels of one
    // colour (0xRRGGBB); empty when there are none.
    std::vector<int> colourBox(unsigned long ulColour);
    // The whole screen as a PNG file.
    bool saveScreenshot(const std::string& strPath);

private:
    void stop();

    std::vector<int> m_vecChildren;  // oldest first: the server, the manager, ...
    std::string m_strDisplay;
    std::string m_strRuntimeDir;
    _XDisplay* m_pDisplay = nullptr;
};

#endif  // TESTS_XDESKTOP_H
