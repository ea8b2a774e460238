#include "X11Desktop.h"

#include "MonitorChoice.h"

#include <QString>

#include <algorithm>
#include <set>

// X headers last: their macros (None, Bool, Status, ...) clash with Qt's.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

namespace platform {
namespace x11 {
namespace {

std::u16string toU16(const QString& strText) {
    return std::u16string(reinterpret_cast<const char16_t*>(strText.utf16()), static_cast<size_t>(strText.size()));
}

}  // namespace

std::vector<XWindow> Desktop::clientsBottomToTop() {
    std::vector<unsigned long> vecList;
    const Atoms& atoms = m_connection.atoms();
    if (m_connection.property32(m_connection.root(), atoms.clientListStacking, XA_WINDOW, vecList) ||
        m_connection.property32(m_connection.root(), atoms.clientList, XA_WINDOW, vecList)) {
        return std::vector<XWindow>(vecList.begin(), vecList.end());
    }
    std::vector<XWindow> vecClients;
    for (XWindow child : m_connection.children(m_connection.root())) {
        if (isManaged(child)) {
            vecClients.push_back(child);
            continue;
        }
        for (XWindow grandChild : m_connection.children(child)) {
            if (isManaged(grandChild)) {
                vecClients.push_back(grandChild);
                break;
            }
        }
    }
    return vecClients;
}

bool Desktop::isClient(XWindow window) {
    const std::vector<XWindow> vecClients = clientsBottomToTop();
    return std::find(vecClients.begin(), vecClients.end(), window) != vecClients.end();
}

bool Desktop::isManaged(XWindow window) {
    std::vector<unsigned long> vecState;
    const XAtom wmState = m_connection.atoms().wmState;
    return m_connection.property32(window, wmState, wmState, vecState) && !vecState.empty();
}

XWindow Desktop::parentOf(XWindow window) {
    const XWindow parent = m_connection.xParent(window);
    if (!parent || parent == m_connection.root()) return 0;
    if (isManaged(window) || isClient(window)) return 0;
    return parent;
}

std::u16string Desktop::title(XWindow window) {
    Display* pDisplay = m_connection.display();
    const Atoms& atoms = m_connection.atoms();
    Atom actualType = 0;
    int iFormat = 0;
    unsigned long ulCount = 0, ulAfter = 0;
    unsigned char* pData = nullptr;
    QString strTitle;
    const ErrorTrap trap;
    const bool bUtf8 = XGetWindowProperty(pDisplay, window, atoms.wmName, 0, 65536, False, atoms.utf8, &actualType,
                                          &iFormat, &ulCount, &ulAfter, &pData) == Success &&
                       pData && actualType == atoms.utf8 && iFormat == 8;
    if (bUtf8) strTitle = QString::fromUtf8(reinterpret_cast<const char*>(pData), static_cast<int>(ulCount));
    if (pData) XFree(pData);
    if (!bUtf8 && !trap.failed()) {
        XTextProperty text;
        if (XGetWMName(pDisplay, window, &text) && text.value) {
            strTitle = QString::fromLatin1(reinterpret_cast<const char*>(text.value), static_cast<int>(text.nitems));
            XFree(text.value);
        }
    }
    return toU16(strTitle);
}

std::u16string Desktop::windowClass(XWindow window) {
    XClassHint hint{nullptr, nullptr};
    std::u16string strClass;
    const ErrorTrap trap;
    if (XGetClassHint(m_connection.display(), window, &hint)) {
        if (hint.res_class) strClass = toU16(QString::fromLocal8Bit(hint.res_class));
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
    }
    return strClass;
}

bool Desktop::frameRect(XWindow window, WinRect& rect) {
    if (!m_connection.screenRect(window, rect)) return false;
    std::vector<unsigned long> vecExtents;
    if (m_connection.property32(window, m_connection.atoms().frameExtents, XA_CARDINAL, vecExtents) &&
        vecExtents.size() >= 4) {
        // left, right, top, bottom
        rect.left -= static_cast<int>(vecExtents[0]);
        rect.right += static_cast<int>(vecExtents[1]);
        rect.top -= static_cast<int>(vecExtents[2]);
        rect.bottom += static_cast<int>(vecExtents[3]);
    }
    return true;
}

bool Desktop::hasState(XWindow window, XAtom state) {
    std::vector<unsigned long> vecStates;
    if (!m_connection.property32(window, m_connection.atoms().netWmState, XA_ATOM, vecStates)) return false;
    return std::find(vecStates.begin(), vecStates.end(), state) != vecStates.end();
}

bool Desktop::isMinimised(XWindow window) {
    std::vector<unsigned long> vecState;
    const XAtom wmState = m_connection.atoms().wmState;
    if (m_connection.property32(window, wmState, wmState, vecState) && !vecState.empty() &&
        vecState[0] == IconicState) {
        return true;
    }
    return hasState(window, m_connection.atoms().hidden);
}

bool Desktop::isDock(XWindow window) {
    std::vector<unsigned long> vecTypes;
    if (!m_connection.property32(window, m_connection.atoms().type, XA_ATOM, vecTypes)) return false;
    return std::find(vecTypes.begin(), vecTypes.end(), m_connection.atoms().typeDock) != vecTypes.end();
}

std::vector<XWindow> Desktop::docks() {
    std::vector<XWindow> vecDocks;
    std::set<XWindow> setSeen;
    auto consider = [&](XWindow window) {
        if (!setSeen.insert(window).second || !isDock(window)) return;
        // The manager's own dock for dock apps is no taskbar.
        XWindowAttributes attributes;
        const ErrorTrap trap;
        if (XGetWindowAttributes(m_connection.display(), window, &attributes) && !trap.failed() &&
            attributes.override_redirect) {
            return;
        }
        vecDocks.push_back(window);
    };
    std::vector<XWindow> vecTop = m_connection.children(m_connection.root());
    std::reverse(vecTop.begin(), vecTop.end());
    for (XWindow window : vecTop) {
        consider(window);
        for (XWindow child : m_connection.children(window)) consider(child);
    }
    return vecDocks;
}

XWindow Desktop::taskbar(bool bPrimary) {
    const std::vector<MonitorInfo> vecMonitors = monitors();
    for (XWindow dock : docks()) {
        WinRect rect;
        if (!m_connection.screenRect(dock, rect)) continue;
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
        if (bOnPrimary == bPrimary) return dock;
    }
    return 0;
}

std::vector<MonitorInfo> Desktop::monitors() {
    Display* pDisplay = m_connection.display();
    std::vector<MonitorInfo> vecMonitors;
    int iCount = 0;
    XRRMonitorInfo* pMonitors = XRRGetMonitors(pDisplay, m_connection.root(), True, &iCount);
    for (int i = 0; pMonitors && i < iCount; ++i) {
        MonitorInfo info;
        info.rcMonitor = WinRect{pMonitors[i].x, pMonitors[i].y, pMonitors[i].x + pMonitors[i].width,
                                 pMonitors[i].y + pMonitors[i].height};
        info.dwFlags = pMonitors[i].primary ? kMonitorInfoFPrimary : 0;
        vecMonitors.push_back(info);
    }
    if (pMonitors) XRRFreeMonitors(pMonitors);
    if (vecMonitors.empty()) {
        const int iScreen = DefaultScreen(pDisplay);
        MonitorInfo info;
        info.rcMonitor = WinRect{0, 0, DisplayWidth(pDisplay, iScreen), DisplayHeight(pDisplay, iScreen)};
        vecMonitors.push_back(info);
    }
    if (std::none_of(vecMonitors.begin(), vecMonitors.end(),
                     [](const MonitorInfo& info) { return info.dwFlags & kMonitorInfoFPrimary; })) {
        vecMonitors.front().dwFlags |= kMonitorInfoFPrimary;
    }
    // Work area: the manager's work area of the current desktop, within each
    // monitor.
    const Atoms& atoms = m_connection.atoms();
    std::vector<unsigned long> vecDesktop, vecArea;
    size_t iDesktop = 0;
    if (m_connection.property32(m_connection.root(), atoms.currentDesktop, XA_CARDINAL, vecDesktop) &&
        !vecDesktop.empty()) {
        iDesktop = vecDesktop[0];
    }
    const bool bArea = m_connection.property32(m_connection.root(), atoms.workArea, XA_CARDINAL, vecArea) &&
                       vecArea.size() >= 4 * (iDesktop + 1);
    for (MonitorInfo& info : vecMonitors) {
        info.rcWork = info.rcMonitor;
        if (!bArea) continue;
        const int iX = static_cast<int>(vecArea[4 * iDesktop]), iY = static_cast<int>(vecArea[4 * iDesktop + 1]);
        const WinRect area{iX, iY, iX + static_cast<int>(vecArea[4 * iDesktop + 2]),
                           iY + static_cast<int>(vecArea[4 * iDesktop + 3])};
        const WinRect work{std::max(area.left, info.rcMonitor.left), std::max(area.top, info.rcMonitor.top),
                           std::min(area.right, info.rcMonitor.right), std::min(area.bottom, info.rcMonitor.bottom)};
        if (work.left < work.right && work.top < work.bottom) info.rcWork = work;
    }
    return vecMonitors;
}

XWindow Desktop::activeWindow() {
    std::vector<unsigned long> vecActive;
    if (!m_connection.property32(m_connection.root(), m_connection.atoms().active, XA_WINDOW, vecActive) ||
        vecActive.empty()) {
        return 0;
    }
    // The manager may still name a window that has gone.
    const XWindow window = vecActive[0];
    return m_connection.exists(window) ? window : 0;
}

void Desktop::activate(XWindow window) {
    // Source 2: a pager, which the manager obeys at once.
    m_connection.sendToRoot(window, m_connection.atoms().active, 2, CurrentTime, static_cast<long>(activeWindow()));
}

void Desktop::setAbove(XWindow window, bool bAbove) {
    m_connection.sendToRoot(window, m_connection.atoms().netWmState, bAbove ? 1 : 0,
                            static_cast<long>(m_connection.atoms().above), 0, 2);
}

void Desktop::restack(XWindow window, XWindow sibling, int iDetail) {
    const XAtom restackAtom = m_connection.atoms().restack;
    if (isClient(window)) {
        if (!sibling) {
            m_connection.sendToRoot(window, restackAtom, 2, 0, iDetail);
            return;
        }
        // Managers may ignore the sibling of a restack request (openbox
        // does): raise the window, then raise the sibling and every window
        // above it again, in their order. The others keep their order and
        // the window ends up directly below the sibling.
        const std::vector<XWindow> vecClients = clientsBottomToTop();
        const auto itSibling = std::find(vecClients.begin(), vecClients.end(), sibling);
        if (itSibling == vecClients.end()) return;
        m_connection.sendToRoot(window, restackAtom, 2, 0, Above);
        for (auto it = itSibling; it != vecClients.end(); ++it) {
            if (*it != window) m_connection.sendToRoot(*it, restackAtom, 2, 0, Above);
        }
        return;
    }
    XWindowChanges changes{};
    changes.stack_mode = iDetail;
    unsigned int uMask = CWStackMode;
    if (sibling && m_connection.xParent(sibling) == m_connection.xParent(window)) {
        changes.sibling = sibling;
        uMask |= CWSibling;
    }
    XConfigureWindow(m_connection.display(), window, uMask, &changes);
}

std::optional<RectRegion> Desktop::shape(XWindow window) {
    Display* pDisplay = m_connection.display();
    Bool bBoundingShaped = False, bClipShaped = False;
    int iX = 0, iY = 0, iXc = 0, iYc = 0;
    unsigned int uW = 0, uH = 0, uWc = 0, uHc = 0;
    const ErrorTrap trap;
    if (!XShapeQueryExtents(pDisplay, window, &bBoundingShaped, &iX, &iY, &uW, &uH, &bClipShaped, &iXc, &iYc, &uWc,
                            &uHc) ||
        trap.failed() || !bBoundingShaped) {
        return std::nullopt;
    }
    int iCount = 0, iOrdering = 0;
    XRectangle* pRects = XShapeGetRectangles(pDisplay, window, ShapeBounding, &iCount, &iOrdering);
    RectRegion region;
    for (int i = 0; pRects && i < iCount; ++i) {
        region = region.united(
            RectRegion::rect(pRects[i].x, pRects[i].y, pRects[i].x + pRects[i].width, pRects[i].y + pRects[i].height));
    }
    if (pRects) XFree(pRects);
    return region;
}

void Desktop::setShape(XWindow window, const RectRegion* pRegion) {
    Display* pDisplay = m_connection.display();
    if (!pRegion) {
        XShapeCombineMask(pDisplay, window, ShapeBounding, 0, 0, 0 /* None */, ShapeSet);
    } else {
        std::vector<XRectangle> vecX;
        for (const WinRect& rect : pRegion->rects()) {
            vecX.push_back(XRectangle{static_cast<short>(rect.left), static_cast<short>(rect.top),
                                      static_cast<unsigned short>(rect.width()),
                                      static_cast<unsigned short>(rect.height())});
        }
        XShapeCombineRectangles(pDisplay, window, ShapeBounding, 0, 0, vecX.data(), static_cast<int>(vecX.size()),
                                ShapeSet, YXBanded);
    }
    m_connection.sync();
}

}  // namespace x11
}  // namespace platform
