// The X11 window backend's calls. Desktop queries and window-manager requests
// are in X11Desktop, the service's own windows (embedding, the browser going
// away, re-creation) in X11OwnWindows, the connections in X11Connection.
#include "X11WindowPlatform.h"

#include "MonitorChoice.h"
#include "X11Connection.h"
#include "X11Desktop.h"
#include "X11OwnWindows.h"

#include <QString>
#include <QWidget>
#include <QWindow>
#include <QX11Info>

#include <algorithm>

// X headers last: their macros (None, Bool, Status, ...) clash with Qt's.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace platform {

using x11::ErrorTrap;
using x11::OwnWindows;
using x11::XWindow;

namespace {

const char16_t* const kOwnClassName = u"Qt5QWindowIcon";

int copyText(const std::u16string& strText, char16_t* pBuffer, int iMaxCount) {
    if (!pBuffer || iMaxCount <= 0) return 0;
    const int iCount = std::min<int>(static_cast<int>(strText.size()), iMaxCount - 1);
    std::copy(strText.begin(), strText.begin() + iCount, pBuffer);
    pBuffer[iCount] = 0;
    return iCount;
}

bool sameIgnoringAsciiCase(const std::u16string& a, const std::u16string& b) {
    return QString::fromUtf16(a.data(), static_cast<int>(a.size()))
               .compare(QString::fromUtf16(b.data(), static_cast<int>(b.size())), Qt::CaseInsensitive) == 0;
}

}  // namespace

struct X11WindowPlatform::Private {
    x11::Connection connection;
    x11::Desktop desktop{connection};
    OwnWindows own{connection, desktop};

    // The native window of a handle. For one of ours, Qt's pending requests
    // reach the server first and *ppOwn is its record.
    XWindow native(Hwnd hWnd, OwnWindows::Record** ppOwn = nullptr) {
        OwnWindows::Record* pOwn = own.find(static_cast<XWindow>(hWnd));
        if (pOwn) x11::Connection::syncQt();
        if (ppOwn) *ppOwn = pOwn;
        return pOwn ? pOwn->current : static_cast<XWindow>(hWnd);
    }

    XWindow parentOf(XWindow window) {
        if (QWindow* pOwn = own.qtWindow(window)) {
            QWindow* pParent = pOwn->parent();
            return pParent ? static_cast<XWindow>(pParent->winId()) : 0;
        }
        return desktop.parentOf(window);
    }

    XWindow topLevelOf(XWindow window) {
        for (int i = 0; i < 64 && window; ++i) {
            const XWindow parent = parentOf(window);
            if (!parent) return window;
            window = parent;
        }
        return window;
    }

    std::vector<XWindow> clientsTopToBottom() {
        std::vector<XWindow> vecClients = desktop.clientsBottomToTop();
        std::reverse(vecClients.begin(), vecClients.end());
        return vecClients;
    }

    bool attributes(XWindow window, XWindowAttributes& attributes) {
        const ErrorTrap trap;
        return XGetWindowAttributes(connection.display(), window, &attributes) && !trap.failed();
    }

    // The X client that created the window: the id bits above the resource
    // mask of Qt's connection.
    std::uint32_t clientOf(XWindow window) {
        xcb_connection_t* pConnection = QX11Info::connection();
        if (!pConnection) return 0;
        return static_cast<std::uint32_t>(window & ~static_cast<XWindow>(xcb_get_setup(pConnection)->resource_id_mask));
    }
};

X11WindowPlatform::X11WindowPlatform() : d(new Private) {
    if (d->connection.open()) d->own.start();
}

X11WindowPlatform::~X11WindowPlatform() {
    shutdown();
}

void X11WindowPlatform::shutdown() {
    d->own.shutdown();
    d->connection.close();
}

bool X11WindowPlatform::isConnected() const {
    return d->connection.isOpen();
}

Hwnd X11WindowPlatform::currentHandle(Hwnd hWnd) const {
    return static_cast<Hwnd>(d->own.resolve(static_cast<XWindow>(hWnd)));
}

void X11WindowPlatform::processEvents() {
    if (isConnected()) d->own.processEvents();
}

// --- top-level windows and texts --------------------------------------------------

bool X11WindowPlatform::enumWindows(const EnumWindowsCallback& callback) {
    if (!isConnected()) return true;
    for (XWindow window : d->clientsTopToBottom()) {
        if (!callback(static_cast<Hwnd>(d->own.outward(window)))) return false;
    }
    return true;
}

int X11WindowPlatform::getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    if (!isConnected()) return copyText(std::u16string(), pBuffer, iMaxCount);
    return copyText(d->desktop.title(d->native(hWnd)), pBuffer, iMaxCount);
}

int X11WindowPlatform::getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    if (!isConnected()) return copyText(std::u16string(), pBuffer, iMaxCount);
    const XWindow window = d->native(hWnd);
    if (d->own.qtWindow(window)) return copyText(kOwnClassName, pBuffer, iMaxCount);
    return copyText(d->desktop.windowClass(window), pBuffer, iMaxCount);
}

Hwnd X11WindowPlatform::findWindow(const std::u16string& strClassName, const std::u16string* pTitle) {
    if (!isConnected()) return 0;
    if (strClassName == u"Shell_TrayWnd") return static_cast<Hwnd>(d->desktop.taskbar(true));
    if (strClassName == u"Shell_SecondaryTrayWnd") return static_cast<Hwnd>(d->desktop.taskbar(false));
    for (XWindow window : d->clientsTopToBottom()) {
        if (!sameIgnoringAsciiCase(d->desktop.windowClass(window), strClassName)) continue;
        if (pTitle && d->desktop.title(window) != *pTitle) continue;
        return static_cast<Hwnd>(d->own.outward(window));
    }
    return 0;
}

// --- parents and siblings ---------------------------------------------------------------

Hwnd X11WindowPlatform::setParent(Hwnd hWnd, Hwnd hNewParent) {
    if (!isConnected()) return 0;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    const XWindow parent = d->own.resolve(static_cast<XWindow>(hNewParent));
    if (pOwn) {
        const XWindow previous = pOwn->embeddedIn;
        return d->own.setParent(*pOwn, parent) ? static_cast<Hwnd>(previous) : 0;
    }
    // Someone else's window: reparent it as it is.
    x11::Connection& connection = d->connection;
    if (!connection.exists(window) || (parent && !connection.exists(parent))) return 0;
    const XWindow previous = d->parentOf(window);
    WinRect rect;
    connection.screenRect(window, rect);
    int x = rect.left, y = rect.top;
    if (parent) {
        ::Window child = 0;
        XTranslateCoordinates(connection.display(), connection.root(), parent, rect.left, rect.top, &x, &y, &child);
    }
    XReparentWindow(connection.display(), window, parent ? parent : connection.root(), x, y);
    connection.sync();
    return static_cast<Hwnd>(previous);
}

Hwnd X11WindowPlatform::getParent(Hwnd hWnd) {
    if (!isConnected()) return 0;
    const XWindow window = d->native(hWnd);
    if (!d->connection.exists(window)) return 0;
    return static_cast<Hwnd>(d->own.outward(d->parentOf(window)));
}

Hwnd X11WindowPlatform::getWindow(Hwnd hWnd, unsigned uCmd) {
    if (!isConnected()) return 0;
    // The answer may name windows of ours that Qt just changed.
    x11::Connection::syncQt();
    const XWindow window = d->native(hWnd);
    if (!d->connection.exists(window)) return 0;
    std::vector<XWindow> vecOrder;  // top to bottom
    if (uCmd == kGwChild) {
        vecOrder = d->connection.children(window);
        return vecOrder.empty() ? 0 : static_cast<Hwnd>(d->own.outward(vecOrder.back()));
    }
    // Siblings: top-level windows in the manager's stacking order, children
    // in the X stacking order.
    const XWindow parent = d->parentOf(window);
    if (parent) {
        vecOrder = d->connection.children(parent);
        std::reverse(vecOrder.begin(), vecOrder.end());
    } else {
        vecOrder = d->clientsTopToBottom();
    }
    const auto it = std::find(vecOrder.begin(), vecOrder.end(), window);
    if (it == vecOrder.end()) return 0;
    XWindow found = 0;
    switch (uCmd) {
    case kGwHwndFirst: found = vecOrder.front(); break;
    case kGwHwndLast: found = vecOrder.back(); break;
    case kGwHwndNext: found = (it + 1) == vecOrder.end() ? 0 : *(it + 1); break;
    case kGwHwndPrev: found = it == vecOrder.begin() ? 0 : *(it - 1); break;
    default: break;
    }
    return static_cast<Hwnd>(d->own.outward(found));
}

// --- existence, visibility, rectangles ------------------------------------------------------

bool X11WindowPlatform::isWindow(Hwnd hWnd) {
    if (!isConnected()) return false;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    // One of ours that X destroyed lives on in its widget and is made anew,
    // also when the news has not come in on the event connection yet.
    if (pOwn && pOwn->bDead) return true;
    if (d->connection.exists(window)) return true;
    if (!pOwn || pOwn->pWidget->internalWinId() != static_cast<WId>(window)) return false;
    d->own.noteLost(*pOwn);
    return true;
}

bool X11WindowPlatform::isWindowVisible(Hwnd hWnd) {
    if (!isConnected()) return false;
    XWindowAttributes attributes;
    return d->attributes(d->native(hWnd), attributes) && attributes.map_state == IsViewable;
}

bool X11WindowPlatform::showWindow(Hwnd hWnd, int iCmdShow) {
    if (!isConnected()) return false;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    if (pOwn) {
        const bool bWasVisible = pOwn->pWidget->isVisible();
        if (iCmdShow == kSwHide) {
            pOwn->pWidget->hide();
        } else {
            d->own.show(*pOwn);
        }
        x11::Connection::syncQt();
        return bWasVisible;
    }
    XWindowAttributes attributes;
    if (!d->attributes(window, attributes)) return false;
    Display* pDisplay = d->connection.display();
    if (iCmdShow != kSwHide) {
        XMapWindow(pDisplay, window);
    } else if (d->desktop.isManaged(window) || !d->parentOf(window)) {
        XWithdrawWindow(pDisplay, window, DefaultScreen(pDisplay));
    } else {
        XUnmapWindow(pDisplay, window);
    }
    d->connection.sync();
    return attributes.map_state != IsUnmapped;
}

bool X11WindowPlatform::getWindowRect(Hwnd hWnd, WinRect& rect) {
    return isConnected() && d->desktop.frameRect(d->native(hWnd), rect);
}

bool X11WindowPlatform::getClientRect(Hwnd hWnd, WinRect& rect) {
    WinRect client;
    if (!isConnected() || !d->connection.screenRect(d->native(hWnd), client)) return false;
    rect = WinRect{0, 0, client.width(), client.height()};
    return true;
}

bool X11WindowPlatform::clientToScreen(Hwnd hWnd, WinPoint& point) {
    if (!isConnected()) return false;
    const XWindow window = d->native(hWnd);
    ::Window child = 0;
    int x = 0, y = 0;
    const ErrorTrap trap;
    if (!XTranslateCoordinates(d->connection.display(), window, d->connection.root(), point.x, point.y, &x, &y,
                               &child) ||
        trap.failed()) {
        return false;
    }
    point = WinPoint{x, y};
    return true;
}

// --- placing and stacking ------------------------------------------------------------------

bool X11WindowPlatform::setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) {
    if (!isConnected()) return false;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    x11::Connection& connection = d->connection;
    if (!connection.exists(window)) return false;
    const bool bSpecialAfter = hInsertAfter == kHwndTop || hInsertAfter == kHwndBottom ||
                               hInsertAfter == kHwndTopMost || hInsertAfter == kHwndNoTopMost;
    const XWindow after = bSpecialAfter ? 0 : d->own.resolve(static_cast<XWindow>(hInsertAfter));
    if (!(uFlags & kSwpNoZOrder) && !bSpecialAfter && !connection.exists(after)) return false;

    const bool bMove = !(uFlags & kSwpNoMove), bSize = !(uFlags & kSwpNoSize);
    if (pOwn) {
        QWidget* pWidget = pOwn->pWidget;
        if (uFlags & kSwpHideWindow) pWidget->hide();
        if (bMove && bSize) {
            pWidget->setGeometry(x, y, std::max(0, cx), std::max(0, cy));
        } else if (bMove) {
            pWidget->move(x, y);
        } else if (bSize) {
            pWidget->resize(std::max(0, cx), std::max(0, cy));
        }
        if (uFlags & kSwpShowWindow) d->own.show(*pOwn);
        x11::Connection::syncQt();
    } else {
        if (uFlags & kSwpHideWindow) showWindow(hWnd, kSwHide);
        if (bMove || bSize) {
            XWindowChanges changes{};
            unsigned int uMask = 0;
            if (bMove) {
                changes.x = x;
                changes.y = y;
                uMask |= CWX | CWY;
            }
            if (bSize) {
                changes.width = std::max(1, cx);
                changes.height = std::max(1, cy);
                uMask |= CWWidth | CWHeight;
            }
            XReconfigureWMWindow(connection.display(), window, DefaultScreen(connection.display()), uMask, &changes);
        }
        if (uFlags & kSwpShowWindow) XMapWindow(connection.display(), window);
        connection.sync();
    }
    if (uFlags & kSwpNoZOrder) return true;

    auto setAbove = [&](bool bAbove) {
        if (pOwn) {
            d->own.setAbove(window, bAbove);
        } else {
            d->desktop.setAbove(window, bAbove);
        }
    };
    if (hInsertAfter == kHwndTopMost) {
        setAbove(true);
        d->desktop.restack(window, 0, Above);
    } else if (hInsertAfter == kHwndNoTopMost) {
        setAbove(false);
    } else if (hInsertAfter == kHwndTop) {
        d->desktop.restack(window, 0, Above);
    } else if (hInsertAfter == kHwndBottom) {
        setAbove(false);
        d->desktop.restack(window, 0, Below);
    } else {
        setAbove(false);
        d->desktop.restack(window, after, Below);
    }
    // Without SWP_NOACTIVATE a shown top-level window of ours becomes active,
    // but only while the service holds the foreground already.
    if (pOwn && !(uFlags & kSwpNoActivate) && pOwn->pWidget->isVisible() && d->desktop.isClient(window)) {
        const XWindow active = d->desktop.activeWindow();
        if (active && d->clientOf(active) == getCurrentThreadId()) d->desktop.activate(window);
    }
    connection.sync();
    return true;
}

std::int32_t X11WindowPlatform::getWindowLong(Hwnd hWnd, int iIndex) {
    if (!isConnected() || iIndex != kGwlStyle) return 0;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    XWindowAttributes attributes;
    if (!d->attributes(window, attributes)) return 0;
    // X windows always clip their siblings and children.
    std::uint32_t uStyle = kWsClipSiblings | kWsClipChildren;
    if (pOwn) uStyle |= pOwn->uStyleBits;
    if (attributes.map_state != IsUnmapped) uStyle |= kWsVisible;
    if (d->parentOf(window)) uStyle |= kWsChild;
    return static_cast<std::int32_t>(uStyle);
}

std::int32_t X11WindowPlatform::setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) {
    if (!isConnected() || iIndex != kGwlStyle) return 0;
    const std::int32_t iOld = getWindowLong(hWnd, iIndex);
    // Only our own windows keep extra bits; others clip their siblings anyway.
    if (OwnWindows::Record* pOwn = d->own.find(static_cast<XWindow>(hWnd))) {
        pOwn->uStyleBits = static_cast<std::uint32_t>(iNewLong) & ~(kWsVisible | kWsChild);
    }
    return iOld;
}

// --- regions ----------------------------------------------------------------------------------

std::optional<RectRegion> X11WindowPlatform::windowShape(Hwnd hWnd) {
    if (!isConnected()) return std::nullopt;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    return pOwn ? pOwn->shape : d->desktop.shape(window);
}

bool X11WindowPlatform::applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool) {
    if (!isConnected()) return false;
    OwnWindows::Record* pOwn = nullptr;
    const XWindow window = d->native(hWnd, &pOwn);
    if (!d->connection.exists(window)) return false;
    if (pOwn) {
        d->own.setShape(*pOwn, pRegion ? std::optional<RectRegion>(*pRegion) : std::nullopt);
    } else {
        d->desktop.setShape(window, pRegion);
    }
    return true;
}

// --- foreground and thread input ------------------------------------------------------------

Hwnd X11WindowPlatform::getForegroundWindow() {
    if (!isConnected()) return 0;
    return static_cast<Hwnd>(d->own.outward(d->desktop.activeWindow()));
}

bool X11WindowPlatform::setForegroundWindow(Hwnd hWnd) {
    if (!isConnected()) return false;
    const XWindow window = d->topLevelOf(d->native(hWnd));
    if (!d->connection.exists(window)) return false;
    d->desktop.activate(window);
    d->connection.sync();
    return true;
}

std::uint32_t X11WindowPlatform::getWindowThreadProcessId(Hwnd hWnd) {
    if (!isConnected()) return 0;
    const XWindow window = d->own.resolve(static_cast<XWindow>(hWnd));
    return d->connection.exists(window) ? d->clientOf(window) : 0;
}

std::uint32_t X11WindowPlatform::getCurrentThreadId() {
    xcb_connection_t* pConnection = QX11Info::connection();
    return pConnection ? xcb_get_setup(pConnection)->resource_id_base : 0;
}

bool X11WindowPlatform::attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool) {
    // X keeps no input state per client to share.
    return idAttach != 0 && idAttachTo != 0 && idAttach != idAttachTo;
}

// --- monitors and the windows' own messages ---------------------------------------------------

Hmonitor X11WindowPlatform::monitorFromWindow(Hwnd hWnd, unsigned uFlags) {
    if (!isConnected()) return 0;
    const std::vector<MonitorInfo> vecMonitors = d->desktop.monitors();
    WinRect rect;
    return chooseMonitor(vecMonitors, getWindowRect(hWnd, rect) ? &rect : nullptr, uFlags);
}

bool X11WindowPlatform::getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) {
    if (!isConnected()) return false;
    const std::vector<MonitorInfo> vecMonitors = d->desktop.monitors();
    if (hMonitor == 0 || hMonitor > vecMonitors.size()) return false;
    info = vecMonitors[hMonitor - 1];
    return true;
}

void X11WindowPlatform::setMessageSink(Hwnd hWnd, MessageSink sink) {
    d->own.setSink(static_cast<XWindow>(hWnd), std::move(sink));
}

}  // namespace platform
