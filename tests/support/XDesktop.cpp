#include "XDesktop.h"

#include <QElapsedTimer>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

namespace {

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

bool processAlive(int iPid) {
    int iStatus = 0;
    return iPid > 0 && waitpid(iPid, &iStatus, WNOHANG) == 0;
}

// SIGTERM, and SIGKILL when it is still there after 2 s.
void endProcess(int& iPid) {
    if (iPid <= 0) return;
    kill(iPid, SIGTERM);
    int iStatus = 0, iWaited = 0;
    for (int i = 0; i < 200 && (iWaited = waitpid(iPid, &iStatus, WNOHANG)) == 0; ++i) usleep(10000);
    if (iWaited == 0 && kill(iPid, SIGKILL) == 0) waitpid(iPid, &iStatus, 0);
    iPid = 0;
}

// The 32-bit items of a window property (windows, atoms, cardinals), or
// with pText its 8-bit text.
std::vector<unsigned long> property(Display* pDisplay, Window window, const char* szName, Atom type,
                                    std::string* pText = nullptr) {
    Atom actualType = 0;
    int iFormat = 0;
    unsigned long ulCount = 0, ulAfter = 0;
    unsigned char* pData = nullptr;
    std::vector<unsigned long> vecItems;
    if (XGetWindowProperty(pDisplay, window, XInternAtom(pDisplay, szName, False), 0, 4096, False, type, &actualType,
                           &iFormat, &ulCount, &ulAfter, &pData) == Success &&
        pData) {
        if (iFormat == 32)
            vecItems.assign(reinterpret_cast<unsigned long*>(pData), reinterpret_cast<unsigned long*>(pData) + ulCount);
        if (iFormat == 8 && pText) pText->assign(reinterpret_cast<const char*>(pData), ulCount);
    }
    if (pData) XFree(pData);
    return vecItems;
}

// A top-level window that asks the manager for the place given (it would
// otherwise choose one).
Window placedWindow(Display* pDisplay, int x, int y, int iWidth, int iHeight, unsigned long ulColour) {
    const Window window =
        XCreateSimpleWindow(pDisplay, DefaultRootWindow(pDisplay), x, y, static_cast<unsigned>(iWidth),
                            static_cast<unsigned>(iHeight), 0, 0, ulColour);
    XSizeHints* pHints = XAllocSizeHints();
    pHints->flags = USPosition | USSize;
    pHints->x = x;
    pHints->y = y;
    pHints->width = iWidth;
    pHints->height = iHeight;
    XSetWMNormalHints(pDisplay, window, pHints);
    XFree(pHints);
    return window;
}

// The whole screen.
QImage grabScreen(Display* pDisplay) {
    const int iScreen = DefaultScreen(pDisplay);
    const int iWidth = DisplayWidth(pDisplay, iScreen), iHeight = DisplayHeight(pDisplay, iScreen);
    XImage* pImage = XGetImage(pDisplay, DefaultRootWindow(pDisplay), 0, 0, static_cast<unsigned>(iWidth),
                               static_cast<unsigned>(iHeight), AllPlanes, ZPixmap);
    if (!pImage) return QImage();
    QImage image(iWidth, iHeight, QImage::Format_RGB32);
    for (int y = 0; y < iHeight; ++y) {
        auto* pLine = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < iWidth; ++x) pLine[x] = 0xff000000 | (XGetPixel(pImage, x, y) & 0xffffff);
    }
    XDestroyImage(pImage);
    return image;
}

Window supportingWmCheck(Display* pDisplay, Window window) {
    const std::vector<unsigned long> vecItems = property(pDisplay, window, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    return vecItems.size() == 1 ? vecItems[0] : 0;
}

}  // namespace

XDesktop::~XDesktop() {
    stop();
}

void XDesktop::stop() {
    if (m_pDisplay) {
        XCloseDisplay(m_pDisplay);
        m_pDisplay = nullptr;
    }
    // Newest first: the test's programs, the manager, the server.
    for (auto it = m_vecChildren.rbegin(); it != m_vecChildren.rend(); ++it) endProcess(*it);
    m_vecChildren.clear();
    if (!m_strRuntimeDir.empty()) {
        run({"rm", "-rf", m_strRuntimeDir});
        m_strRuntimeDir.clear();
    }
}

unsigned long XDesktop::root() const {
    return DefaultRootWindow(m_pDisplay);
}

bool XDesktop::start(std::string& strError) {
    for (int iDisplay = 90; iDisplay <= 99 && m_strDisplay.empty(); ++iDisplay) {
        const std::string strLock = "/tmp/.X" + std::to_string(iDisplay) + "-lock";
        const std::string strSocket = "/tmp/.X11-unix/X" + std::to_string(iDisplay);
        if (access(strLock.c_str(), F_OK) == 0 || access(strSocket.c_str(), F_OK) == 0) continue;
        int fds[2];
        if (pipe(fds) != 0) break;
        const std::string strName = ":" + std::to_string(iDisplay);
        const int iPid = spawn({"Xvfb", strName, "-nolisten", "tcp", "-screen", "0", "1280x800x24", "+extension",
                                "RANDR", "-displayfd", std::to_string(fds[1])});
        close(fds[1]);
        // Ready when it writes the display number; gone when the lock was taken.
        std::string strAnswer;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000 && strAnswer.find('\n') == std::string::npos) {
            pollfd pfd{fds[0], POLLIN, 0};
            if (poll(&pfd, 1, 50) > 0) {
                char szBuffer[32];
                const ssize_t iRead = read(fds[0], szBuffer, sizeof szBuffer);
                if (iRead <= 0) break;
                strAnswer.append(szBuffer, static_cast<size_t>(iRead));
            }
            if (!processAlive(iPid)) break;
        }
        close(fds[0]);
        if (strAnswer.find('\n') != std::string::npos && processAlive(iPid)) {
            m_strDisplay = strName;
        } else if (iPid > 0) {
            endProcess(m_vecChildren.back());
            m_vecChildren.pop_back();
        }
    }
    if (m_strDisplay.empty()) {
        strError = "no free X display in :90 to :99 (or Xvfb missing)";
        return false;
    }
    setenv("DISPLAY", m_strDisplay.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    char szRuntime[] = "/tmp/localservice-xdg-XXXXXX";
    if (mkdtemp(szRuntime)) {
        m_strRuntimeDir = szRuntime;
        chmod(szRuntime, 0700);
        setenv("XDG_RUNTIME_DIR", szRuntime, 1);
        // Programs started here (the browser) want a home folder.
        if (!getenv("HOME")) setenv("HOME", szRuntime, 1);
    }

    m_pDisplay = XOpenDisplay(m_strDisplay.c_str());
    if (!m_pDisplay) {
        strError = "cannot open " + m_strDisplay;
        return false;
    }
    XSetErrorHandler(ignoreErrors);

    spawn({"openbox", "--sm-disable"});
    // The manager is up when the root names a check window that names itself.
    const bool bWm = waitFor(
        [&] {
            const Window check = supportingWmCheck(m_pDisplay, root());
            if (!check || supportingWmCheck(m_pDisplay, check) != check) return false;
            // ... and it has taken the root's redirection, so new windows
            // are managed.
            XWindowAttributes attributes;
            return XGetWindowAttributes(m_pDisplay, root(), &attributes) &&
                   (attributes.all_event_masks & SubstructureRedirectMask);
        },
        10000);
    if (!bWm) {
        strError = "openbox did not start";
        return false;
    }
    return true;
}

bool XDesktop::waitFor(const std::function<bool()>& condition, int iTimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > iTimeoutMs) return condition();
        if (QCoreApplication::instance()) {
            QTest::qWait(10);
        } else {
            usleep(10000);
        }
    }
    return true;
}

int XDesktop::run(const std::vector<std::string>& vecArgs) {
    const int iPid = spawn(vecArgs);
    m_vecChildren.erase(std::remove(m_vecChildren.begin(), m_vecChildren.end(), iPid), m_vecChildren.end());
    int iStatus = 0;
    if (iPid <= 0 || waitpid(iPid, &iStatus, 0) != iPid) return -1;
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

int XDesktop::spawn(const std::vector<std::string>& vecArgs, const std::string& strLogFile) {
    std::vector<char*> vecArgv;
    for (const std::string& strArg : vecArgs) vecArgv.push_back(const_cast<char*>(strArg.c_str()));
    vecArgv.push_back(nullptr);
    const int iPid = fork();
    if (iPid == 0) {
        setpgid(0, 0);
        const int iNull = open("/dev/null", O_RDWR);
        const int iLog = open(strLogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(iNull, 0);
        dup2(iLog >= 0 ? iLog : iNull, 1);
        dup2(iLog >= 0 ? iLog : iNull, 2);
        execvp(vecArgv[0], vecArgv.data());
        _exit(127);
    }
    if (iPid > 0) m_vecChildren.push_back(iPid);
    return iPid;
}

unsigned long XDesktop::createBrowser(const std::string& strTitle, const std::string& strClass, int x, int y,
                                      int iWidth, int iHeight, unsigned long ulColour) {
    Display* pDisplay = m_pDisplay;
    const Window window = placedWindow(pDisplay, x, y, iWidth, iHeight, ulColour);
    XStoreName(pDisplay, window, strTitle.c_str());
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "_NET_WM_NAME", False),
                    XInternAtom(pDisplay, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(strTitle.data()), static_cast<int>(strTitle.size()));
    std::string strName = "testbrowser";
    XClassHint hint{&strName[0], const_cast<char*>(strClass.c_str())};
    XSetClassHint(pDisplay, window, &hint);
    // A manager that is still starting may drop the map request: ask again.
    for (int iAttempt = 0; iAttempt < 5; ++iAttempt) {
        XUnmapWindow(pDisplay, window);
        XMapWindow(pDisplay, window);
        XSync(pDisplay, False);
        const auto managed = [&] {
            return !property(pDisplay, window, "WM_STATE", XInternAtom(pDisplay, "WM_STATE", False)).empty();
        };
        if (waitFor([&] { return managed() && isViewable(window); }, 1000)) return window;
    }
    return 0;
}

unsigned long XDesktop::createDock(int iHeight, int iLeft, int iRight) {
    Display* pDisplay = m_pDisplay;
    const int iScreen = DefaultScreen(pDisplay);
    if (iRight < 0) iRight = DisplayWidth(pDisplay, iScreen);
    const Window window =
        placedWindow(pDisplay, iLeft, DisplayHeight(pDisplay, iScreen) - iHeight, iRight - iLeft, iHeight, 0x303030);
    const Atom dock = XInternAtom(pDisplay, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dock), 1);
    long struts[12] = {0, 0, 0, iHeight, 0, 0, 0, 0, 0, 0, iLeft, iRight - 1};
    XChangeProperty(pDisplay, window, XInternAtom(pDisplay, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(struts), 12);
    XStoreName(pDisplay, window, "panel");
    XMapWindow(pDisplay, window);
    XSync(pDisplay, False);
    return waitFor([&] { return isViewable(window); }, 5000) ? window : 0;
}

void XDesktop::requestClose(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_pDisplay, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_pDisplay, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_pDisplay, window, False, NoEventMask, &event);
    XSync(m_pDisplay, False);
}

void XDesktop::destroyAbruptly(unsigned long window) {
    XDestroyWindow(m_pDisplay, window);
    XSync(m_pDisplay, False);
}

bool XDesktop::isViewable(unsigned long window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(m_pDisplay, window, &attributes) && attributes.map_state == IsViewable;
}

std::vector<std::vector<int>> XDesktop::shapeRects(unsigned long window, bool& bShaped) {
    std::vector<std::vector<int>> vecRects;
    Bool bBounding = False, bClip = False;
    int iX = 0, iY = 0, iXc = 0, iYc = 0;
    unsigned int uW = 0, uH = 0, uWc = 0, uHc = 0;
    XSync(m_pDisplay, False);
    bShaped = XShapeQueryExtents(m_pDisplay, window, &bBounding, &iX, &iY, &uW, &uH, &bClip, &iXc, &iYc, &uWc, &uHc) &&
              bBounding;
    if (!bShaped) return vecRects;
    int iCount = 0, iOrdering = 0;
    XRectangle* pRects = XShapeGetRectangles(m_pDisplay, window, ShapeBounding, &iCount, &iOrdering);
    for (int i = 0; pRects && i < iCount; ++i) {
        vecRects.push_back({pRects[i].x, pRects[i].y, pRects[i].x + pRects[i].width, pRects[i].y + pRects[i].height});
    }
    if (pRects) XFree(pRects);
    return vecRects;
}

unsigned long XDesktop::pixel(int x, int y) {
    XImage* pImage = XGetImage(m_pDisplay, root(), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!pImage) return 0xffffffff;
    const unsigned long ulPixel = XGetPixel(pImage, 0, 0) & 0xffffff;
    XDestroyImage(pImage);
    return ulPixel;
}

std::vector<std::string> XDesktop::netWmState(unsigned long window) {
    std::vector<std::string> vecNames;
    for (unsigned long atom : property(m_pDisplay, window, "_NET_WM_STATE", XA_ATOM)) {
        char* szName = XGetAtomName(m_pDisplay, atom);
        if (szName) vecNames.emplace_back(szName);
        if (szName) XFree(szName);
    }
    return vecNames;
}

bool XDesktop::geometry(unsigned long window, int& x, int& y, int& iWidth, int& iHeight) {
    Window rootReturn = 0, child = 0;
    int iX = 0, iY = 0;
    unsigned int uW = 0, uH = 0, uB = 0, uD = 0;
    if (!XGetGeometry(m_pDisplay, window, &rootReturn, &iX, &iY, &uW, &uH, &uB, &uD)) return false;
    if (!XTranslateCoordinates(m_pDisplay, window, root(), 0, 0, &x, &y, &child)) return false;
    iWidth = static_cast<int>(uW);
    iHeight = static_cast<int>(uH);
    return true;
}

unsigned long XDesktop::findTitle(const std::string& strText) {
    const Atom utf8 = XInternAtom(m_pDisplay, "UTF8_STRING", False);
    for (unsigned long window : property(m_pDisplay, root(), "_NET_CLIENT_LIST_STACKING", XA_WINDOW)) {
        std::string strTitle;
        property(m_pDisplay, window, "_NET_WM_NAME", utf8, &strTitle);
        if (strTitle.find(strText) != std::string::npos) return window;
    }
    return 0;
}

unsigned long XDesktop::activeWindow() {
    const std::vector<unsigned long> vecItems = property(m_pDisplay, root(), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return vecItems.size() == 1 ? vecItems[0] : 0;
}

std::vector<int> XDesktop::colourBox(unsigned long ulColour) {
    const QImage image = grabScreen(m_pDisplay);
    int iLeft = image.width(), iTop = image.height(), iRight = -1, iBottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* pLine = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((pLine[x] & 0xffffff) != ulColour) continue;
            iLeft = std::min(iLeft, x);
            iTop = std::min(iTop, y);
            iRight = std::max(iRight, x + 1);
            iBottom = std::max(iBottom, y + 1);
        }
    }
    if (iRight < 0) return {};
    return {iLeft, iTop, iRight, iBottom};
}

int XDesktop::runTests(XDesktop** ppDesktop, const std::function<int()>& run) {
    XDesktop desktop;
    std::string strError;
    if (!desktop.start(strError)) {
        std::fprintf(stderr, "cannot start the X desktop: %s\n", strError.c_str());
        return 1;
    }
    *ppDesktop = &desktop;
    const int iResult = run();
    *ppDesktop = nullptr;
    return iResult;
}

bool XDesktop::saveScreenshot(const std::string& strPath) {
    const QImage image = grabScreen(m_pDisplay);
    return !image.isNull() && image.save(QString::fromStdString(strPath), "PNG");
}

bool XDesktop::splitMonitors(int iSplitX) {
    Display* pDisplay = m_pDisplay;
    const int iScreen = DefaultScreen(pDisplay);
    const int iWidth = DisplayWidth(pDisplay, iScreen);
    const int iHeight = DisplayHeight(pDisplay, iScreen);
    XRRScreenResources* pResources = XRRGetScreenResources(pDisplay, root());
    if (!pResources || pResources->noutput < 1) {
        if (pResources) XRRFreeScreenResources(pResources);
        return false;
    }
    // The existing output goes to the first monitor; the second has none.
    const auto setMonitor = [&](const char* szName, int x, int iMonitorWidth, bool bPrimary) {
        XRRMonitorInfo* pMonitor = XRRAllocateMonitor(pDisplay, bPrimary ? 1 : 0);
        pMonitor->name = XInternAtom(pDisplay, szName, False);
        pMonitor->primary = bPrimary;
        pMonitor->x = x;
        pMonitor->width = iMonitorWidth;
        pMonitor->height = iHeight;
        pMonitor->mwidth = iMonitorWidth / 4;
        pMonitor->mheight = iHeight / 4;
        if (bPrimary) pMonitor->outputs[0] = pResources->outputs[0];
        XRRSetMonitor(pDisplay, root(), pMonitor);
        XRRFreeMonitors(pMonitor);
    };
    setMonitor("LEFT", 0, iSplitX, true);
    setMonitor("RIGHT", iSplitX, iWidth - iSplitX, false);
    XSync(pDisplay, False);
    XRRFreeScreenResources(pResources);
    int iCount = 0;
    XRRMonitorInfo* pMonitors = XRRGetMonitors(pDisplay, root(), True, &iCount);
    if (pMonitors) XRRFreeMonitors(pMonitors);
    return iCount == 2;
}
