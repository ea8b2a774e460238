#include "X11WindowPlatform.h"

#include "MonitorChoice.h"

#include "RectRegion.h"

#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QX11Info>

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <vector>

// X headers last: they define macros (None, Bool, Status, ...) that clash
// with Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <xcb/xcb.h>

namespace platform {
namespace {

// Requests that fail (a window that has gone) must not end the process:
// Xlib's default handler exits. Errors of our connections are counted.
int s_iErrors = 0;
int recordError(Display*, XErrorEvent*) {
    ++s_iErrors;
    return 0;
}

const char* const kOwnClassName = "Qt5QWindowIcon";

std::u16string toU16(const QString& strText) {
    return std::u16string(reinterpret_cast<const char16_t*>(strText.utf16()), static_cast<size_t>(strText.size()));
}

QString fromU16(const std::u16string& strText) {
    return QString::fromUtf16(strText.data(), static_cast<int>(strText.size()));
}

// QWidget::destroy is protected; the service's widgets know nothing of the
// backend, so it is reached through a derived class.
struct WidgetAccess : QWidget {
    static void destroyNative(QWidget* pWidget) {
        void (QWidget::*pDestroy)(bool, bool) = &WidgetAccess::destroy;
        (pWidget->*pDestroy)(true, true);
    }
};

}  // namespace

struct X11WindowPlatform::Private {
    X11WindowPlatform* q = nullptr;
    Display* m_pDisplay = nullptr;       // requests and queries
    Display* m_pEventDisplay = nullptr;  // only selects and reads events
    ::Window m_root = 0;
    QObject m_context;  // owns the notifier and queued deliveries
    QSocketNotifier* m_pNotifier = nullptr;

    Atom m_atomClientList = 0, m_atomClientListStacking = 0, m_atomWmName = 0, m_atomUtf8 = 0, m_atomWmState = 0,
         m_atomFrameExtents = 0, m_atomActive = 0, m_atomWmStateNet = 0, m_atomAbove = 0, m_atomHidden = 0,
         m_atomRestack = 0, m_atomType = 0, m_atomTypeDock = 0, m_atomWorkArea = 0, m_atomCurrentDesktop = 0;

    RegionTable m_regions;
    std::map<::Window, RectRegion> m_mapShapes;       // windows given a region (absent: none)
    std::map<::Window, ::Window> m_mapAlias;          // old handle -> handle after re-creation
    std::map<::Window, QPointer<QWidget>> m_mapOwn;   // the service's widgets by handle
    std::map<::Window, ::Window> m_mapEmbedded;       // own window -> browser window it sits in
    std::map<::Window, QWindow*> m_mapForeign;        // browser window -> its foreign QWindow
    std::map<::Window, MessageSink> m_mapSinks;
    std::map<::Window, std::uint32_t> m_mapStyleBits;  // style bits set by callers
    std::set<::Window> m_setWatched;                   // windows selected on the event connection
    std::set<::Window> m_setDead;                      // own windows X destroyed
    std::vector<std::pair<::Window, unsigned>> m_vecPending;  // notifications to deliver
    bool m_bDeliveryQueued = false;

    // --- connection ------------------------------------------------------
    ::Window resolve(Hwnd hWnd) const {
        ::Window window = static_cast<::Window>(hWnd);
        for (int i = 0; i < 16; ++i) {
            const auto it = m_mapAlias.find(window);
            if (it == m_mapAlias.end()) break;
            window = it->second;
        }
        return window;
    }

    // Qt buffers its xcb requests: a round trip on its connection makes
    // every window it created (and every change it made) visible to ours.
    void syncQt() {
        xcb_connection_t* pConnection = QX11Info::connection();
        if (!pConnection) return;
        free(xcb_get_input_focus_reply(pConnection, xcb_get_input_focus(pConnection), nullptr));
    }

    void sync() { XSync(m_pDisplay, False); }

    Atom atom(const char* szName) { return XInternAtom(m_pDisplay, szName, False); }

    bool windowProperty(::Window window, Atom property, Atom type, std::vector<unsigned long>& vecValues) {
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

    bool exists(::Window window) {
        if (!window) return false;
        XWindowAttributes attributes;
        const int iErrors = s_iErrors;
        const Status ok = XGetWindowAttributes(m_pDisplay, window, &attributes);
        return ok != 0 && s_iErrors == iErrors;
    }

    // --- the service's own windows ---------------------------------------
    QWidget* ownWidget(::Window window) {
        const auto it = m_mapOwn.find(window);
        if (it != m_mapOwn.end()) {
            if (it->second) return it->second.data();
            m_mapOwn.erase(it);
        }
        QWidget* pWidget = QWidget::find(static_cast<WId>(window));
        if (pWidget && pWidget->isWindow()) {
            m_mapOwn[window] = pWidget;
            return pWidget;
        }
        return nullptr;
    }

    // Shows one of our widgets, also one that counts as shown while its
    // (re-created) native window is not.
    void showOwn(QWidget* pWidget) {
        QWindow* pHandle = pWidget->windowHandle();
        if (pWidget->isVisible() && pHandle && !pHandle->isVisible()) {
            pHandle->setVisible(true);
        } else {
            pWidget->show();
        }
    }

    QWindow* ownWindow(::Window window) {
        if (QWidget* pWidget = ownWidget(window)) return pWidget->windowHandle();
        for (QWindow* pWindow : QGuiApplication::allWindows()) {
            if (pWindow->handle() && pWindow->winId() == window && pWindow->type() != Qt::ForeignWindow) return pWindow;
        }
        return nullptr;
    }

    // --- top-level windows ------------------------------------------------
    bool isManaged(::Window window) {
        std::vector<unsigned long> vecState;
        return windowProperty(window, m_atomWmState, m_atomWmState, vecState) && !vecState.empty();
    }

    std::vector<::Window> clientsBottomToTop() {
        std::vector<unsigned long> vecList;
        if (windowProperty(m_root, m_atomClientListStacking, XA_WINDOW, vecList) ||
            windowProperty(m_root, m_atomClientList, XA_WINDOW, vecList)) {
            return std::vector<::Window>(vecList.begin(), vecList.end());
        }
        // No EWMH manager: the root's children that carry WM_STATE, or whose
        // child does (a frame).
        std::vector<::Window> vecClients;
        for (::Window child : children(m_root)) {
            if (isManaged(child)) {
                vecClients.push_back(child);
                continue;
            }
            for (::Window grandChild : children(child)) {
                if (isManaged(grandChild)) {
                    vecClients.push_back(grandChild);
                    break;
                }
            }
        }
        return vecClients;
    }

    std::vector<::Window> children(::Window window) {
        ::Window rootReturn = 0, parentReturn = 0;
        ::Window* pChildren = nullptr;
        unsigned int uCount = 0;
        std::vector<::Window> vecChildren;
        if (XQueryTree(m_pDisplay, window, &rootReturn, &parentReturn, &pChildren, &uCount)) {
            vecChildren.assign(pChildren, pChildren + uCount);
        }
        if (pChildren) XFree(pChildren);
        return vecChildren;  // bottom to top
    }

    ::Window xParent(::Window window) {
        ::Window rootReturn = 0, parentReturn = 0;
        ::Window* pChildren = nullptr;
        unsigned int uCount = 0;
        if (!XQueryTree(m_pDisplay, window, &rootReturn, &parentReturn, &pChildren, &uCount)) return 0;
        if (pChildren) XFree(pChildren);
        return parentReturn;
    }

    bool isTopLevel(::Window window) {
        const std::vector<::Window> vecClients = clientsBottomToTop();
        return std::find(vecClients.begin(), vecClients.end(), window) != vecClients.end();
    }

    ::Window parentOf(::Window window) {
        if (QWindow* pOwn = ownWindow(window)) {
            QWindow* pParent = pOwn->parent();
            return pParent ? static_cast<::Window>(pParent->winId()) : 0;
        }
        const ::Window parent = xParent(window);
        if (!parent || parent == m_root) return 0;
        if (isManaged(window) || isTopLevel(window)) return 0;  // the parent is the manager's frame
        return parent;
    }

    ::Window topLevelOf(::Window window) {
        for (int i = 0; i < 64 && window; ++i) {
            const ::Window parent = parentOf(window);
            if (!parent) return window;
            window = parent;
        }
        return window;
    }

    std::u16string title(::Window window) {
        Atom actualType = 0;
        int iFormat = 0;
        unsigned long ulCount = 0, ulAfter = 0;
        unsigned char* pData = nullptr;
        QString strTitle;
        bool bFound = false;
        if (XGetWindowProperty(m_pDisplay, window, m_atomWmName, 0, 65536, False, m_atomUtf8, &actualType, &iFormat,
                               &ulCount, &ulAfter, &pData) == Success && pData && actualType == m_atomUtf8 &&
            iFormat == 8) {
            strTitle = QString::fromUtf8(reinterpret_cast<const char*>(pData), static_cast<int>(ulCount));
            bFound = true;
        }
        if (pData) XFree(pData);
        if (!bFound) {
            XTextProperty text;
            if (XGetWMName(m_pDisplay, window, &text) && text.value) {
                strTitle = QString::fromLatin1(reinterpret_cast<const char*>(text.value), static_cast<int>(text.nitems));
                XFree(text.value);
            }
        }
        return toU16(strTitle);
    }

    std::u16string windowClass(::Window window) {
        if (ownWindow(window)) return toU16(QString::fromLatin1(kOwnClassName));
        XClassHint hint{nullptr, nullptr};
        std::u16string strClass;
        if (XGetClassHint(m_pDisplay, window, &hint)) {
            if (hint.res_class) strClass = toU16(QString::fromLocal8Bit(hint.res_class));
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        }
        return strClass;
    }

    bool frameExtents(::Window window, WinRect& extents) {
        std::vector<unsigned long> vecExtents;
        if (!windowProperty(window, m_atomFrameExtents, XA_CARDINAL, vecExtents) || vecExtents.size() < 4) return false;
        extents = WinRect{static_cast<int>(vecExtents[0]), static_cast<int>(vecExtents[2]),
                          static_cast<int>(vecExtents[1]), static_cast<int>(vecExtents[3])};
        return true;
    }

    bool clientGeometry(::Window window, WinRect& rect) {
        ::Window rootReturn = 0, child = 0;
        int x = 0, y = 0;
        unsigned int uWidth = 0, uHeight = 0, uBorder = 0, uDepth = 0;
        const int iErrors = s_iErrors;
        if (!XGetGeometry(m_pDisplay, window, &rootReturn, &x, &y, &uWidth, &uHeight, &uBorder, &uDepth)) return false;
        int iRootX = 0, iRootY = 0;
        if (!XTranslateCoordinates(m_pDisplay, window, m_root, 0, 0, &iRootX, &iRootY, &child)) return false;
        if (s_iErrors != iErrors) return false;
        rect = WinRect{iRootX, iRootY, iRootX + static_cast<int>(uWidth), iRootY + static_cast<int>(uHeight)};
        return true;
    }

    bool hasState(::Window window, Atom state) {
        std::vector<unsigned long> vecStates;
        if (!windowProperty(window, m_atomWmStateNet, XA_ATOM, vecStates)) return false;
        return std::find(vecStates.begin(), vecStates.end(), state) != vecStates.end();
    }

    bool isDock(::Window window) {
        std::vector<unsigned long> vecTypes;
        if (!windowProperty(window, m_atomType, XA_ATOM, vecTypes)) return false;
        return std::find(vecTypes.begin(), vecTypes.end(), m_atomTypeDock) != vecTypes.end();
    }

    // Dock windows, managed or not, mapped or not.
    std::vector<::Window> docks() {
        std::vector<::Window> vecDocks;
        std::set<::Window> setSeen;
        auto consider = [&](::Window window) {
            if (!setSeen.insert(window).second || !isDock(window)) return;
            // The manager's own dock for dock apps is no taskbar.
            XWindowAttributes attributes;
            if (XGetWindowAttributes(m_pDisplay, window, &attributes) && attributes.override_redirect) return;
            vecDocks.push_back(window);
        };
        std::vector<::Window> vecTop = children(m_root);
        std::reverse(vecTop.begin(), vecTop.end());
        for (::Window window : vecTop) {
            consider(window);
            for (::Window child : children(window)) consider(child);
        }
        return vecDocks;
    }

    // --- monitors ------------------------------------------------------------
    std::vector<MonitorInfo> monitors() {
        std::vector<MonitorInfo> vecMonitors;
        int iCount = 0;
        XRRMonitorInfo* pMonitors = XRRGetMonitors(m_pDisplay, m_root, True, &iCount);
        for (int i = 0; pMonitors && i < iCount; ++i) {
            MonitorInfo info;
            info.rcMonitor = WinRect{pMonitors[i].x, pMonitors[i].y, pMonitors[i].x + pMonitors[i].width,
                                     pMonitors[i].y + pMonitors[i].height};
            info.dwFlags = pMonitors[i].primary ? kMonitorInfoFPrimary : 0;
            vecMonitors.push_back(info);
        }
        if (pMonitors) XRRFreeMonitors(pMonitors);
        if (vecMonitors.empty()) {
            const int iScreen = DefaultScreen(m_pDisplay);
            MonitorInfo info;
            info.rcMonitor = WinRect{0, 0, DisplayWidth(m_pDisplay, iScreen), DisplayHeight(m_pDisplay, iScreen)};
            vecMonitors.push_back(info);
        }
        if (std::none_of(vecMonitors.begin(), vecMonitors.end(),
                         [](const MonitorInfo& info) { return info.dwFlags & kMonitorInfoFPrimary; })) {
            vecMonitors.front().dwFlags |= kMonitorInfoFPrimary;
        }
        // Work area: the manager's work area of the current desktop, within
        // each monitor.
        std::vector<unsigned long> vecDesktop, vecArea;
        size_t iDesktop = 0;
        if (windowProperty(m_root, m_atomCurrentDesktop, XA_CARDINAL, vecDesktop) && !vecDesktop.empty()) {
            iDesktop = vecDesktop[0];
        }
        const bool bArea = windowProperty(m_root, m_atomWorkArea, XA_CARDINAL, vecArea) && vecArea.size() >= 4 * (iDesktop + 1);
        for (MonitorInfo& info : vecMonitors) {
            info.rcWork = info.rcMonitor;
            if (!bArea) continue;
            const int iX = static_cast<int>(vecArea[4 * iDesktop]), iY = static_cast<int>(vecArea[4 * iDesktop + 1]);
            const WinRect area{iX, iY, iX + static_cast<int>(vecArea[4 * iDesktop + 2]),
                               iY + static_cast<int>(vecArea[4 * iDesktop + 3])};
            WinRect work{std::max(area.left, info.rcMonitor.left), std::max(area.top, info.rcMonitor.top),
                         std::min(area.right, info.rcMonitor.right), std::min(area.bottom, info.rcMonitor.bottom)};
            if (work.left < work.right && work.top < work.bottom) info.rcWork = work;
        }
        return vecMonitors;
    }

    // --- messages to the window manager -------------------------------------
    void sendToRoot(::Window window, Atom type, long l0, long l1, long l2, long l3 = 0, long l4 = 0) {
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

    void setAbove(::Window window, bool bAbove) {
        if (QWindow* pOwn = ownWindow(window)) {
            if (pOwn->flags().testFlag(Qt::WindowStaysOnTopHint) != bAbove) {
                pOwn->setFlag(Qt::WindowStaysOnTopHint, bAbove);
            }
            syncQt();
            return;
        }
        sendToRoot(window, m_atomWmStateNet, bAbove ? 1 : 0, static_cast<long>(m_atomAbove), 0, 2);
    }

    // Stacks a window on top (Above), at the bottom (Below), or directly
    // below a sibling (Below with a sibling).
    void restack(::Window window, ::Window sibling, int iDetail) {
        if (isTopLevel(window)) {
            if (!sibling) {
                sendToRoot(window, m_atomRestack, 2, 0, iDetail);
                return;
            }
            // Managers may ignore the sibling of a restack request (openbox
            // does): raise the window, then raise the sibling and every
            // window above it again, in their order. The others keep their
            // order and the window ends up directly below the sibling.
            const std::vector<::Window> vecClients = clientsBottomToTop();
            const auto itSibling = std::find(vecClients.begin(), vecClients.end(), sibling);
            if (itSibling == vecClients.end()) return;
            sendToRoot(window, m_atomRestack, 2, 0, Above);
            for (auto it = itSibling; it != vecClients.end(); ++it) {
                if (*it != window) sendToRoot(*it, m_atomRestack, 2, 0, Above);
            }
            return;
        }
        XWindowChanges changes{};
        changes.stack_mode = iDetail;
        unsigned int uMask = CWStackMode;
        if (sibling && xParent(sibling) == xParent(window)) {
            changes.sibling = sibling;
            uMask |= CWSibling;
        }
        XConfigureWindow(m_pDisplay, window, uMask, &changes);
    }

    // --- watching browser windows ----------------------------------------------
    void watch(::Window window) {
        if (!m_pEventDisplay || !window || m_setWatched.count(window)) return;
        // X reuses ids: read whatever is still queued for an earlier window
        // of this id before selecting on the new one.
        XSync(m_pEventDisplay, False);
        readEvents();
        const int iErrors = s_iErrors;
        XSelectInput(m_pEventDisplay, window, StructureNotifyMask | PropertyChangeMask);
        XSync(m_pEventDisplay, False);
        if (s_iErrors == iErrors) m_setWatched.insert(window);
        readEvents();
    }

    void unwatch(::Window window) {
        if (!m_setWatched.erase(window) || !m_pEventDisplay) return;
        XSelectInput(m_pEventDisplay, window, NoEventMask);
        XFlush(m_pEventDisplay);
    }

    bool isMinimised(::Window window) {
        std::vector<unsigned long> vecState;
        if (windowProperty(window, m_atomWmState, m_atomWmState, vecState) && !vecState.empty() &&
            vecState[0] == IconicState) {
            return true;
        }
        return hasState(window, m_atomHidden);
    }

    void queueForBrowser(::Window browser) {
        for (const auto& entry : m_mapEmbedded) {
            if (entry.second == browser) queue(entry.first);
        }
    }

    static constexpr unsigned kRecreate = 0x10000;  // not a message: make the native window anew

    void queue(::Window window, unsigned uWhat = kWmDestroy) {
        for (const auto& pending : m_vecPending) {
            if (pending.first == window && pending.second == uWhat) return;
        }
        m_vecPending.emplace_back(window, uWhat);
        if (!m_bDeliveryQueued) {
            m_bDeliveryQueued = true;
            QTimer::singleShot(0, &m_context, [this] { deliver(); });
        }
    }

    // Reads the events sitting on the event connection (without delivering).
    void readEvents() {
        while (XPending(m_pEventDisplay) > 0) {
            XEvent event;
            XNextEvent(m_pEventDisplay, &event);
            switch (event.type) {
            case UnmapNotify: {
                const ::Window window = event.xunmap.window;
                if (event.xunmap.event != window) break;
                // Browsers unmap their window before destroying it: take our
                // windows out while they still exist. A minimised browser
                // keeps them.
                if (isEmbeddingParent(window) && !isMinimised(window)) queueForBrowser(window);
                break;
            }
            case DestroyNotify: {
                const ::Window window = event.xdestroywindow.window;
                if (event.xdestroywindow.event != window) break;
                m_setWatched.erase(window);
                QWidget* pWidget = ownWidget(window);
                if (pWidget && pWidget->internalWinId() == static_cast<WId>(window)) {
                    // One of ours went down with its parent: still in it,
                    // the window code hears of it; already taken out (too
                    // late, the parent was faster), it is made anew.
                    m_setDead.insert(window);
                    queue(window, m_mapEmbedded.count(window) ? kWmDestroy : kRecreate);
                }
                if (isEmbeddingParent(window)) queueForBrowser(window);
                break;
            }
            default:
                break;
            }
        }
    }

    bool isEmbeddingParent(::Window window) const {
        for (const auto& entry : m_mapEmbedded) {
            if (entry.second == window) return true;
        }
        return false;
    }

    void deliver() {
        m_bDeliveryQueued = false;
        std::vector<std::pair<::Window, unsigned>> vecPending;
        vecPending.swap(m_vecPending);
        for (const auto& pending : vecPending) {
            const ::Window window = pending.first;
            if (pending.second == kRecreate) {
                QWidget* pWidget = ownWidget(window);
                if (pWidget && m_setDead.count(window) && !m_mapEmbedded.count(window)) recreate(window, pWidget);
                continue;
            }
            if (!m_mapEmbedded.count(window)) continue;  // already detached
            if (!ownWidget(window)) {
                // The widget itself has gone: nothing left to notify.
                m_mapEmbedded.erase(window);
                m_mapSinks.erase(window);
                continue;
            }
            const auto itSink = m_mapSinks.find(window);
            if (itSink != m_mapSinks.end() && itSink->second) {
                const MessageSink sink = itSink->second;
                sink(static_cast<Hwnd>(window), pending.second);
            } else {
                // Nobody handles it: keep the window alive, detached and hidden.
                q->setParent(window, 0);
                if (QWidget* pWidget = ownWidget(resolve(window))) pWidget->hide();
            }
        }
    }

    QWindow* foreignWindow(::Window browser) {
        const auto it = m_mapForeign.find(browser);
        if (it != m_mapForeign.end()) return it->second;
        QWindow* pForeign = QWindow::fromWinId(static_cast<WId>(browser));
        if (pForeign) m_mapForeign[browser] = pForeign;
        return pForeign;
    }

    // Drops the foreign window of a browser once none of ours sits in it.
    void releaseForeign(::Window browser) {
        if (isEmbeddingParent(browser)) return;
        const auto it = m_mapForeign.find(browser);
        if (it == m_mapForeign.end()) return;
        QWindow* pForeign = it->second;
        m_mapForeign.erase(it);
        for (QObject* pChild : pForeign->children()) {
            if (QWindow* pWindow = qobject_cast<QWindow*>(pChild)) pWindow->setParent(nullptr);
        }
        delete pForeign;
        unwatch(browser);
    }

    // Our native window died with its parent: make a new one for the same
    // widget; the old handle stays an alias of the new one.
    ::Window recreate(::Window window, QWidget* pWidget) {
        const ::Window browser = m_mapEmbedded.count(window) ? m_mapEmbedded[window] : 0;
        m_mapEmbedded.erase(window);
        m_setDead.erase(window);
        unwatch(window);
        const bool bWasVisible = pWidget->isVisible();
        WidgetAccess::destroyNative(pWidget);
        if (browser) releaseForeign(browser);
        const ::Window fresh = static_cast<::Window>(pWidget->winId());
        // The widget still counts as shown, but destroy() marked it hidden as
        // well, which would make hide() do nothing. Undo that mark without
        // mapping the new window here (a map request sent now could reach the
        // window manager after the unmap of a hide() that follows): hide()
        // then works, and showOwn() maps it when it is to be seen.
        if (bWasVisible) pWidget->setAttribute(Qt::WA_WState_Hidden, false);
        syncQt();
        if (fresh == window || !fresh) return fresh;
        m_mapAlias[window] = fresh;
        m_mapOwn.erase(window);
        m_mapOwn[fresh] = pWidget;
        for (auto* pMap : {&m_mapSinks}) {
            const auto it = pMap->find(window);
            if (it != pMap->end()) {
                (*pMap)[fresh] = it->second;
                pMap->erase(it);
            }
        }
        const auto itBits = m_mapStyleBits.find(window);
        if (itBits != m_mapStyleBits.end()) {
            m_mapStyleBits[fresh] = itBits->second;
            m_mapStyleBits.erase(itBits);
        }
        const auto itShape = m_mapShapes.find(window);
        if (itShape != m_mapShapes.end()) {
            m_mapShapes[fresh] = itShape->second;
            m_mapShapes.erase(itShape);
            applyShape(fresh);
        }
        return fresh;
    }

    void applyShape(::Window window) {
        const auto it = m_mapShapes.find(window);
        if (it == m_mapShapes.end()) {
            XShapeCombineMask(m_pDisplay, window, ShapeBounding, 0, 0, 0 /* None */, ShapeSet);
        } else {
            const std::vector<WinRect> vecRects = it->second.rects();
            std::vector<XRectangle> vecX;
            vecX.reserve(vecRects.size());
            for (const WinRect& rect : vecRects) {
                vecX.push_back(XRectangle{static_cast<short>(rect.left), static_cast<short>(rect.top),
                                          static_cast<unsigned short>(rect.width()),
                                          static_cast<unsigned short>(rect.height())});
            }
            // Zero rectangles is a real, empty shape: the window shows nothing.
            XShapeCombineRectangles(m_pDisplay, window, ShapeBounding, 0, 0, vecX.data(), static_cast<int>(vecX.size()),
                                    ShapeSet, YXBanded);
        }
        sync();
    }
};

X11WindowPlatform::X11WindowPlatform() : d(new Private) {
    d->q = this;
    if (!QX11Info::isPlatformX11()) return;
    Display* pQtDisplay = QX11Info::display();
    const char* szName = pQtDisplay ? DisplayString(pQtDisplay) : nullptr;
    d->m_pDisplay = XOpenDisplay(szName);
    d->m_pEventDisplay = XOpenDisplay(szName);
    if (!d->m_pDisplay || !d->m_pEventDisplay) {
        if (d->m_pDisplay) XCloseDisplay(d->m_pDisplay);
        if (d->m_pEventDisplay) XCloseDisplay(d->m_pEventDisplay);
        d->m_pDisplay = d->m_pEventDisplay = nullptr;
        return;
    }
    XSetErrorHandler(recordError);
    d->m_root = DefaultRootWindow(d->m_pDisplay);
    d->m_atomClientList = d->atom("_NET_CLIENT_LIST");
    d->m_atomClientListStacking = d->atom("_NET_CLIENT_LIST_STACKING");
    d->m_atomWmName = d->atom("_NET_WM_NAME");
    d->m_atomUtf8 = d->atom("UTF8_STRING");
    d->m_atomWmState = d->atom("WM_STATE");
    d->m_atomFrameExtents = d->atom("_NET_FRAME_EXTENTS");
    d->m_atomActive = d->atom("_NET_ACTIVE_WINDOW");
    d->m_atomWmStateNet = d->atom("_NET_WM_STATE");
    d->m_atomAbove = d->atom("_NET_WM_STATE_ABOVE");
    d->m_atomHidden = d->atom("_NET_WM_STATE_HIDDEN");
    d->m_atomRestack = d->atom("_NET_RESTACK_WINDOW");
    d->m_atomType = d->atom("_NET_WM_WINDOW_TYPE");
    d->m_atomTypeDock = d->atom("_NET_WM_WINDOW_TYPE_DOCK");
    d->m_atomWorkArea = d->atom("_NET_WORKAREA");
    d->m_atomCurrentDesktop = d->atom("_NET_CURRENT_DESKTOP");

    d->m_pNotifier = new QSocketNotifier(ConnectionNumber(d->m_pEventDisplay), QSocketNotifier::Read, &d->m_context);
    QObject::connect(d->m_pNotifier, &QSocketNotifier::activated, &d->m_context, [this] { processEvents(); });
}

X11WindowPlatform::~X11WindowPlatform() {
    shutdown();
}

void X11WindowPlatform::shutdown() {
    delete d->m_pNotifier;
    d->m_pNotifier = nullptr;
    for (auto& entry : d->m_mapForeign) {
        // Ours must not go down with the foreign wrapper.
        for (QObject* pChild : entry.second->children()) {
            if (QWindow* pWindow = qobject_cast<QWindow*>(pChild)) pWindow->setParent(nullptr);
        }
        delete entry.second;
    }
    d->m_mapForeign.clear();
    d->m_mapEmbedded.clear();
    d->m_mapSinks.clear();
    d->m_mapOwn.clear();
    d->m_vecPending.clear();
    if (d->m_pDisplay) XCloseDisplay(d->m_pDisplay);
    if (d->m_pEventDisplay) XCloseDisplay(d->m_pEventDisplay);
    d->m_pDisplay = nullptr;
    d->m_pEventDisplay = nullptr;
}

bool X11WindowPlatform::isConnected() const {
    return d->m_pDisplay != nullptr;
}

Hwnd X11WindowPlatform::currentHandle(Hwnd hWnd) const {
    return d->resolve(hWnd);
}

void X11WindowPlatform::processEvents() {
    if (!d->m_pEventDisplay) return;
    d->readEvents();
}

bool X11WindowPlatform::enumWindows(const EnumWindowsCallback& callback) {
    if (!isConnected()) return true;
    d->syncQt();
    std::vector<::Window> vecClients = d->clientsBottomToTop();
    std::reverse(vecClients.begin(), vecClients.end());
    for (::Window window : vecClients) {
        if (!callback(static_cast<Hwnd>(window))) return false;
    }
    return true;
}

namespace {
int copyText(const std::u16string& strText, char16_t* pBuffer, int iMaxCount) {
    if (!pBuffer || iMaxCount <= 0) return 0;
    const int iCount = std::min<int>(static_cast<int>(strText.size()), iMaxCount - 1);
    std::copy(strText.begin(), strText.begin() + iCount, pBuffer);
    pBuffer[iCount] = 0;
    return iCount;
}
}  // namespace

int X11WindowPlatform::getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    if (!isConnected() || !d->exists(d->resolve(hWnd))) return copyText(std::u16string(), pBuffer, iMaxCount);
    return copyText(d->title(d->resolve(hWnd)), pBuffer, iMaxCount);
}

int X11WindowPlatform::getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    if (!isConnected() || !d->exists(d->resolve(hWnd))) return copyText(std::u16string(), pBuffer, iMaxCount);
    return copyText(d->windowClass(d->resolve(hWnd)), pBuffer, iMaxCount);
}

Hwnd X11WindowPlatform::findWindow(const std::u16string& strClassName, const std::u16string* pTitle) {
    if (!isConnected()) return 0;
    const QString strClass = fromU16(strClassName);
    if (strClass == QLatin1String("Shell_TrayWnd") || strClass == QLatin1String("Shell_SecondaryTrayWnd")) {
        const bool bPrimary = strClass == QLatin1String("Shell_TrayWnd");
        const std::vector<MonitorInfo> vecMonitors = d->monitors();
        for (::Window dock : d->docks()) {
            WinRect rect;
            if (!d->clientGeometry(dock, rect)) continue;
            const MonitorInfo* pBest = nullptr;
            long long llBest = -1;
            for (const MonitorInfo& info : vecMonitors) {
                const long long llArea = overlapArea(rect, info.rcMonitor);
                if (llArea > llBest) {
                    llBest = llArea;
                    pBest = &info;
                }
            }
            const bool bOnPrimary = !pBest || (pBest->dwFlags & kMonitorInfoFPrimary);
            if (bOnPrimary == bPrimary) return static_cast<Hwnd>(dock);
        }
        return 0;
    }
    for (::Window window : [&] {
             std::vector<::Window> vecClients = d->clientsBottomToTop();
             std::reverse(vecClients.begin(), vecClients.end());
             return vecClients;
         }()) {
        if (fromU16(d->windowClass(window)).compare(strClass, Qt::CaseInsensitive) != 0) continue;
        if (pTitle && d->title(window) != *pTitle) continue;
        return static_cast<Hwnd>(window);
    }
    return 0;
}

Hwnd X11WindowPlatform::setParent(Hwnd hWnd, Hwnd hNewParent) {
    if (!isConnected()) return 0;
    d->syncQt();
    ::Window window = d->resolve(hWnd);
    const ::Window parent = d->resolve(hNewParent);
    const ::Window previous = d->m_mapEmbedded.count(window) ? d->m_mapEmbedded[window] : d->parentOf(window);

    QWidget* pWidget = d->ownWidget(window);
    if (!pWidget) {
        // Someone else's window: reparent it as it is.
        if (!d->exists(window) || (parent && !d->exists(parent))) return 0;
        WinRect rect;
        d->clientGeometry(window, rect);
        int x = rect.left, y = rect.top;
        if (parent) {
            ::Window child = 0;
            XTranslateCoordinates(d->m_pDisplay, d->m_root, parent, rect.left, rect.top, &x, &y, &child);
        }
        XReparentWindow(d->m_pDisplay, window, parent ? parent : d->m_root, x, y);
        d->sync();
        return previous;
    }

    if (d->m_setDead.count(window) || !d->exists(window)) {
        window = d->recreate(window, pWidget);
    }
    if (parent) {
        if (!d->exists(parent)) return 0;
        QWindow* pForeign = d->foreignWindow(parent);
        if (!pForeign) return 0;
        pWidget->winId();
        pWidget->windowHandle()->setParent(pForeign);
        const ::Window old = d->m_mapEmbedded.count(window) ? d->m_mapEmbedded[window] : 0;
        d->m_mapEmbedded[window] = parent;
        if (old && old != parent) d->releaseForeign(old);
        d->syncQt();
        d->watch(parent);
        d->watch(window);
    } else {
        const auto it = d->m_mapEmbedded.find(window);
        const ::Window old = it != d->m_mapEmbedded.end() ? it->second : 0;
        if (QWindow* pHandle = pWidget->windowHandle()) {
            if (pHandle->parent()) pHandle->setParent(nullptr);
        }
        if (it != d->m_mapEmbedded.end()) d->m_mapEmbedded.erase(it);
        if (old) d->releaseForeign(old);
        // Still watched: the parent may take it down before the reparent
        // reaches the server.
        d->syncQt();
    }
    return previous;
}

Hwnd X11WindowPlatform::getParent(Hwnd hWnd) {
    if (!isConnected()) return 0;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    if (!d->exists(window)) return 0;
    return static_cast<Hwnd>(d->parentOf(window));
}

Hwnd X11WindowPlatform::getWindow(Hwnd hWnd, unsigned uCmd) {
    if (!isConnected()) return 0;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    if (!d->exists(window)) return 0;
    if (uCmd == kGwChild) {
        const std::vector<::Window> vecChildren = d->children(window);
        return vecChildren.empty() ? 0 : static_cast<Hwnd>(vecChildren.back());
    }
    // Siblings from the top down: top-level windows in the manager's
    // stacking order, children in the X stacking order.
    std::vector<::Window> vecSiblings;
    const ::Window parent = d->parentOf(window);
    if (parent) {
        vecSiblings = d->children(parent);
    } else {
        vecSiblings = d->clientsBottomToTop();
    }
    std::reverse(vecSiblings.begin(), vecSiblings.end());
    const auto it = std::find(vecSiblings.begin(), vecSiblings.end(), window);
    if (it == vecSiblings.end()) return 0;
    switch (uCmd) {
    case kGwHwndFirst: return static_cast<Hwnd>(vecSiblings.front());
    case kGwHwndLast: return static_cast<Hwnd>(vecSiblings.back());
    case kGwHwndNext: return (it + 1) == vecSiblings.end() ? 0 : static_cast<Hwnd>(*(it + 1));
    case kGwHwndPrev: return it == vecSiblings.begin() ? 0 : static_cast<Hwnd>(*(it - 1));
    default: return 0;
    }
}

bool X11WindowPlatform::isWindow(Hwnd hWnd) {
    if (!isConnected()) return false;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    // One of ours that X destroyed lives on in its widget and is made anew,
    // also when the news has not come in on the event connection yet.
    if (d->m_setDead.count(window)) return d->ownWidget(window) != nullptr;
    if (d->exists(window)) return true;
    QWidget* pWidget = d->ownWidget(window);
    if (!pWidget || pWidget->internalWinId() != static_cast<WId>(window)) return false;
    d->m_setDead.insert(window);
    d->queue(window, d->m_mapEmbedded.count(window) ? kWmDestroy : Private::kRecreate);
    return true;
}

bool X11WindowPlatform::isWindowVisible(Hwnd hWnd) {
    if (!isConnected()) return false;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    XWindowAttributes attributes;
    const int iErrors = s_iErrors;
    if (!XGetWindowAttributes(d->m_pDisplay, window, &attributes) || s_iErrors != iErrors) return false;
    return attributes.map_state == IsViewable;
}

bool X11WindowPlatform::showWindow(Hwnd hWnd, int iCmdShow) {
    if (!isConnected()) return false;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    if (QWidget* pWidget = d->ownWidget(window)) {
        const bool bWasVisible = pWidget->isVisible();
        if (iCmdShow == kSwHide) {
            pWidget->hide();
        } else {
            d->showOwn(pWidget);
        }
        d->syncQt();
        return bWasVisible;
    }
    XWindowAttributes attributes;
    const int iErrors = s_iErrors;
    if (!XGetWindowAttributes(d->m_pDisplay, window, &attributes) || s_iErrors != iErrors) return false;
    const bool bWasVisible = attributes.map_state != IsUnmapped;
    if (iCmdShow == kSwHide) {
        if (d->isManaged(window) || !d->parentOf(window)) {
            XWithdrawWindow(d->m_pDisplay, window, DefaultScreen(d->m_pDisplay));
        } else {
            XUnmapWindow(d->m_pDisplay, window);
        }
    } else {
        XMapWindow(d->m_pDisplay, window);
    }
    d->sync();
    return bWasVisible;
}

bool X11WindowPlatform::getWindowRect(Hwnd hWnd, WinRect& rect) {
    if (!isConnected()) return false;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    WinRect client;
    if (!d->clientGeometry(window, client)) return false;
    WinRect extents;
    if (d->frameExtents(window, extents)) {
        client.left -= extents.left;
        client.top -= extents.top;
        client.right += extents.right;
        client.bottom += extents.bottom;
    }
    rect = client;
    return true;
}

bool X11WindowPlatform::getClientRect(Hwnd hWnd, WinRect& rect) {
    if (!isConnected()) return false;
    d->syncQt();
    WinRect client;
    if (!d->clientGeometry(d->resolve(hWnd), client)) return false;
    rect = WinRect{0, 0, client.width(), client.height()};
    return true;
}

bool X11WindowPlatform::clientToScreen(Hwnd hWnd, WinPoint& point) {
    if (!isConnected()) return false;
    d->syncQt();
    ::Window child = 0;
    int x = 0, y = 0;
    const int iErrors = s_iErrors;
    if (!XTranslateCoordinates(d->m_pDisplay, d->resolve(hWnd), d->m_root, point.x, point.y, &x, &y, &child) ||
        s_iErrors != iErrors) {
        return false;
    }
    point = WinPoint{x, y};
    return true;
}

bool X11WindowPlatform::setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) {
    if (!isConnected()) return false;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    if (!d->exists(window)) return false;
    const bool bSpecialAfter = hInsertAfter == kHwndTop || hInsertAfter == kHwndBottom ||
                               hInsertAfter == kHwndTopMost || hInsertAfter == kHwndNoTopMost;
    const ::Window after = bSpecialAfter ? 0 : d->resolve(hInsertAfter);
    if (!(uFlags & kSwpNoZOrder) && !bSpecialAfter && !d->exists(after)) return false;

    QWidget* pWidget = d->ownWidget(window);
    if (pWidget) {
        if (uFlags & kSwpHideWindow) pWidget->hide();
        if (!(uFlags & kSwpNoMove) && !(uFlags & kSwpNoSize)) {
            pWidget->setGeometry(x, y, std::max(0, cx), std::max(0, cy));
        } else if (!(uFlags & kSwpNoMove)) {
            pWidget->move(x, y);
        } else if (!(uFlags & kSwpNoSize)) {
            pWidget->resize(std::max(0, cx), std::max(0, cy));
        }
        if (uFlags & kSwpShowWindow) d->showOwn(pWidget);
        d->syncQt();
    } else {
        if (uFlags & kSwpHideWindow) showWindow(window, kSwHide);
        if (!(uFlags & kSwpNoMove) || !(uFlags & kSwpNoSize)) {
            XWindowChanges changes{};
            unsigned int uMask = 0;
            if (!(uFlags & kSwpNoMove)) {
                changes.x = x;
                changes.y = y;
                uMask |= CWX | CWY;
            }
            if (!(uFlags & kSwpNoSize)) {
                changes.width = std::max(1, cx);
                changes.height = std::max(1, cy);
                uMask |= CWWidth | CWHeight;
            }
            XReconfigureWMWindow(d->m_pDisplay, window, DefaultScreen(d->m_pDisplay), uMask, &changes);
        }
        if (uFlags & kSwpShowWindow) XMapWindow(d->m_pDisplay, window);
        d->sync();
    }

    if (!(uFlags & kSwpNoZOrder)) {
        if (hInsertAfter == kHwndTopMost) {
            d->setAbove(window, true);
            d->restack(window, 0, Above);
        } else if (hInsertAfter == kHwndNoTopMost) {
            d->setAbove(window, false);
        } else if (hInsertAfter == kHwndTop) {
            d->restack(window, 0, Above);
        } else if (hInsertAfter == kHwndBottom) {
            d->setAbove(window, false);
            d->restack(window, 0, Below);
        } else {
            d->setAbove(window, false);
            d->restack(window, after, Below);
        }
        // Without SWP_NOACTIVATE a shown top-level window of ours is activated.
        if (pWidget && !(uFlags & kSwpNoActivate) && d->isTopLevel(window) && pWidget->isVisible()) {
            setForegroundWindow(window);
        }
        d->sync();
    }
    return true;
}

std::int32_t X11WindowPlatform::getWindowLong(Hwnd hWnd, int iIndex) {
    if (!isConnected() || iIndex != kGwlStyle) return 0;
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    XWindowAttributes attributes;
    const int iErrors = s_iErrors;
    if (!XGetWindowAttributes(d->m_pDisplay, window, &attributes) || s_iErrors != iErrors) return 0;
    // X windows always clip their siblings and children.
    std::uint32_t uStyle = kWsClipSiblings | kWsClipChildren;
    const auto it = d->m_mapStyleBits.find(window);
    if (it != d->m_mapStyleBits.end()) uStyle |= it->second;
    if (attributes.map_state != IsUnmapped) uStyle |= kWsVisible;
    if (d->parentOf(window)) uStyle |= kWsChild;
    return static_cast<std::int32_t>(uStyle);
}

std::int32_t X11WindowPlatform::setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) {
    if (!isConnected() || iIndex != kGwlStyle) return 0;
    const std::int32_t iOld = getWindowLong(hWnd, iIndex);
    const ::Window window = d->resolve(hWnd);
    if (!d->exists(window)) return 0;
    d->m_mapStyleBits[window] = static_cast<std::uint32_t>(iNewLong) & ~(kWsVisible | kWsChild);
    return iOld;
}

Hrgn X11WindowPlatform::createRectRgn(int iLeft, int iTop, int iRight, int iBottom) {
    return d->m_regions.create(RectRegion::rect(iLeft, iTop, iRight, iBottom));
}

Hrgn X11WindowPlatform::createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                                           int iHeightEllipse) {
    return d->m_regions.create(RectRegion::roundRect(iLeft, iTop, iRight, iBottom, iWidthEllipse, iHeightEllipse));
}

int X11WindowPlatform::combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) {
    return d->m_regions.combine(hDest, hSrc1, hSrc2, iMode);
}

int X11WindowPlatform::getWindowRgn(Hwnd hWnd, Hrgn hRgn) {
    RectRegion* pRegion = d->m_regions.find(hRgn);
    if (!isConnected() || !pRegion) return kRgnError;
    const ::Window window = d->resolve(hWnd);
    const auto it = d->m_mapShapes.find(window);
    if (it != d->m_mapShapes.end()) {
        *pRegion = it->second;
        return pRegion->kind();
    }
    if (d->ownWidget(window)) return kRgnError;
    // Someone else's window: its bounding shape, when it has one.
    Bool bBoundingShaped = False, bClipShaped = False;
    int iX = 0, iY = 0, iXc = 0, iYc = 0;
    unsigned int uW = 0, uH = 0, uWc = 0, uHc = 0;
    const int iErrors = s_iErrors;
    if (!XShapeQueryExtents(d->m_pDisplay, window, &bBoundingShaped, &iX, &iY, &uW, &uH, &bClipShaped, &iXc, &iYc, &uWc,
                            &uHc) ||
        s_iErrors != iErrors || !bBoundingShaped) {
        return kRgnError;
    }
    int iCount = 0, iOrdering = 0;
    XRectangle* pRects = XShapeGetRectangles(d->m_pDisplay, window, ShapeBounding, &iCount, &iOrdering);
    RectRegion region;
    for (int i = 0; pRects && i < iCount; ++i) {
        region = region.united(RectRegion::rect(pRects[i].x, pRects[i].y, pRects[i].x + pRects[i].width,
                                                pRects[i].y + pRects[i].height));
    }
    if (pRects) XFree(pRects);
    *pRegion = region;
    return pRegion->kind();
}

bool X11WindowPlatform::setWindowRgn(Hwnd hWnd, Hrgn hRgn, bool) {
    if (!isConnected()) {
        d->m_regions.remove(hRgn);
        return false;
    }
    d->syncQt();
    const ::Window window = d->resolve(hWnd);
    if (!d->exists(window)) return false;
    if (hRgn == 0) {
        d->m_mapShapes.erase(window);
    } else {
        RectRegion region;
        if (!d->m_regions.take(hRgn, region)) return false;
        d->m_mapShapes[window] = std::move(region);
    }
    d->applyShape(window);
    return true;
}

bool X11WindowPlatform::deleteObject(Hrgn hRgn) {
    return d->m_regions.remove(hRgn);
}

int X11WindowPlatform::getRgnBox(Hrgn hRgn, WinRect& rect) {
    const RectRegion* pRegion = d->m_regions.find(hRgn);
    if (!pRegion) return kRgnError;
    rect = pRegion->boundingRect();
    return pRegion->kind();
}

Hwnd X11WindowPlatform::getForegroundWindow() {
    if (!isConnected()) return 0;
    std::vector<unsigned long> vecActive;
    if (!d->windowProperty(d->m_root, d->m_atomActive, XA_WINDOW, vecActive) || vecActive.empty()) return 0;
    const ::Window window = vecActive[0];
    // The manager may still name a window that has gone.
    if (!window || !d->exists(window)) return 0;
    return static_cast<Hwnd>(window);
}

bool X11WindowPlatform::setForegroundWindow(Hwnd hWnd) {
    if (!isConnected()) return false;
    d->syncQt();
    const ::Window window = d->topLevelOf(d->resolve(hWnd));
    if (!d->exists(window)) return false;
    const Hwnd hCurrent = getForegroundWindow();
    d->sendToRoot(window, d->m_atomActive, 2, CurrentTime, static_cast<long>(hCurrent));
    d->sync();
    return true;
}

std::uint32_t X11WindowPlatform::getWindowThreadProcessId(Hwnd hWnd) {
    xcb_connection_t* pConnection = QX11Info::connection();
    if (!isConnected() || !pConnection) return 0;
    const ::Window window = d->resolve(hWnd);
    if (!d->exists(window)) return 0;
    // The X client that created the window: the id bits above the resource mask.
    const xcb_setup_t* pSetup = xcb_get_setup(pConnection);
    return static_cast<std::uint32_t>(window & ~static_cast<::Window>(pSetup->resource_id_mask));
}

std::uint32_t X11WindowPlatform::getCurrentThreadId() {
    xcb_connection_t* pConnection = QX11Info::connection();
    if (!pConnection) return 0;
    return xcb_get_setup(pConnection)->resource_id_base;
}

bool X11WindowPlatform::attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool) {
    // X keeps no input state per client to share.
    return idAttach != 0 && idAttachTo != 0 && idAttach != idAttachTo;
}

Hmonitor X11WindowPlatform::monitorFromWindow(Hwnd hWnd, unsigned uFlags) {
    if (!isConnected()) return 0;
    const std::vector<MonitorInfo> vecMonitors = d->monitors();
    WinRect rect;
    if (!getWindowRect(hWnd, rect)) return chooseMonitor(vecMonitors, nullptr, uFlags);
    return chooseMonitor(vecMonitors, &rect, uFlags);
}

bool X11WindowPlatform::getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) {
    if (!isConnected()) return false;
    const std::vector<MonitorInfo> vecMonitors = d->monitors();
    if (hMonitor == 0 || hMonitor > vecMonitors.size()) return false;
    info = vecMonitors[hMonitor - 1];
    return true;
}

void X11WindowPlatform::setMessageSink(Hwnd hWnd, MessageSink sink) {
    const ::Window window = d->resolve(hWnd);
    if (sink) {
        d->m_mapSinks[window] = std::move(sink);
        d->ownWidget(window);  // remember the widget while its handle is known
    } else {
        d->m_mapSinks.erase(window);
    }
}

}  // namespace platform
