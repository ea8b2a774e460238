#include "X11Connection.h"

#include <QX11Info>

#include <cstdlib>

// X headers last: their macros (None, Bool, Status, ...) clash with Qt's.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace platform {
namespace x11 {
namespace {

int s_iErrors = 0;

int countError(Display*, XErrorEvent*) {
    ++s_iErrors;
    return 0;
}

}  // namespace

ErrorTrap::ErrorTrap() : m_iErrorsBefore(s_iErrors) {}

bool ErrorTrap::failed() const {
    return s_iErrors != m_iErrorsBefore;
}

Connection::~Connection() {
    close();
}

bool Connection::open() {
    if (!QX11Info::isPlatformX11()) return false;
    Display* pQtDisplay = QX11Info::display();
    const char* szName = pQtDisplay ? DisplayString(pQtDisplay) : nullptr;
    m_pDisplay = XOpenDisplay(szName);
    m_pEventDisplay = XOpenDisplay(szName);
    if (!m_pDisplay || !m_pEventDisplay) {
        close();
        return false;
    }
    // Process-wide; Qt's own handler ignores errors, this one counts them.
    XSetErrorHandler(countError);
    m_root = DefaultRootWindow(m_pDisplay);
    auto atom = [this](const char* szName) { return XInternAtom(m_pDisplay, szName, False); };
    m_atoms.clientList = atom("_NET_CLIENT_LIST");
    m_atoms.clientListStacking = atom("_NET_CLIENT_LIST_STACKING");
    m_atoms.wmName = atom("_NET_WM_NAME");
    m_atoms.utf8 = atom("UTF8_STRING");
    m_atoms.wmState = atom("WM_STATE");
    m_atoms.frameExtents = atom("_NET_FRAME_EXTENTS");
    m_atoms.active = atom("_NET_ACTIVE_WINDOW");
    m_atoms.netWmState = atom("_NET_WM_STATE");
    m_atoms.above = atom("_NET_WM_STATE_ABOVE");
    m_atoms.hidden = atom("_NET_WM_STATE_HIDDEN");
    m_atoms.restack = atom("_NET_RESTACK_WINDOW");
    m_atoms.type = atom("_NET_WM_WINDOW_TYPE");
    m_atoms.typeDock = atom("_NET_WM_WINDOW_TYPE_DOCK");
    m_atoms.workArea = atom("_NET_WORKAREA");
    m_atoms.currentDesktop = atom("_NET_CURRENT_DESKTOP");
    return true;
}

void Connection::close() {
    if (m_pDisplay) XCloseDisplay(m_pDisplay);
    if (m_pEventDisplay) XCloseDisplay(m_pEventDisplay);
    m_pDisplay = nullptr;
    m_pEventDisplay = nullptr;
}

bool Connection::property32(XWindow window, XAtom property, XAtom type, std::vector<unsigned long>& vecValues) {
    Atom actualType = 0;
    int iFormat = 0;
    unsigned long ulCount = 0, ulAfter = 0;
    unsigned char* pData = nullptr;
    vecValues.clear();
    if (XGetWindowProperty(m_pDisplay, window, property, 0, 4096, False, type, &actualType, &iFormat, &ulCount,
                           &ulAfter, &pData) != Success) {
        return false;
    }
    const bool bOk = pData && iFormat == 32 && actualType == type;
    if (bOk) {
        const unsigned long* pValues = reinterpret_cast<const unsigned long*>(pData);
        vecValues.assign(pValues, pValues + ulCount);
    }
    if (pData) XFree(pData);
    return bOk;
}

bool Connection::exists(XWindow window) {
    if (!window) return false;
    XWindowAttributes attributes;
    const ErrorTrap trap;
    return XGetWindowAttributes(m_pDisplay, window, &attributes) != 0 && !trap.failed();
}

std::vector<XWindow> Connection::children(XWindow window) {
    ::Window rootReturn = 0, parentReturn = 0;
    ::Window* pChildren = nullptr;
    unsigned int uCount = 0;
    std::vector<XWindow> vecChildren;
    const ErrorTrap trap;
    if (XQueryTree(m_pDisplay, window, &rootReturn, &parentReturn, &pChildren, &uCount) && !trap.failed()) {
        vecChildren.assign(pChildren, pChildren + uCount);
    }
    if (pChildren) XFree(pChildren);
    return vecChildren;
}

XWindow Connection::xParent(XWindow window) {
    ::Window rootReturn = 0, parentReturn = 0;
    ::Window* pChildren = nullptr;
    unsigned int uCount = 0;
    const ErrorTrap trap;
    if (!XQueryTree(m_pDisplay, window, &rootReturn, &parentReturn, &pChildren, &uCount) || trap.failed()) return 0;
    if (pChildren) XFree(pChildren);
    return parentReturn;
}

bool Connection::screenRect(XWindow window, WinRect& rect) {
    ::Window rootReturn = 0, child = 0;
    int x = 0, y = 0;
    unsigned int uWidth = 0, uHeight = 0, uBorder = 0, uDepth = 0;
    const ErrorTrap trap;
    if (!XGetGeometry(m_pDisplay, window, &rootReturn, &x, &y, &uWidth, &uHeight, &uBorder, &uDepth)) return false;
    int iRootX = 0, iRootY = 0;
    if (!XTranslateCoordinates(m_pDisplay, window, m_root, 0, 0, &iRootX, &iRootY, &child) || trap.failed()) {
        return false;
    }
    rect = WinRect{iRootX, iRootY, iRootX + static_cast<int>(uWidth), iRootY + static_cast<int>(uHeight)};
    return true;
}

void Connection::sendToRoot(XWindow window, XAtom type, long l0, long l1, long l2, long l3, long l4) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(m_pDisplay, m_root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void Connection::sync() {
    XSync(m_pDisplay, False);
}

void Connection::syncQt() {
    xcb_connection_t* pConnection = QX11Info::connection();
    if (!pConnection) return;
    std::free(xcb_get_input_focus_reply(pConnection, xcb_get_input_focus(pConnection), nullptr));
}

}  // namespace x11
}  // namespace platform
