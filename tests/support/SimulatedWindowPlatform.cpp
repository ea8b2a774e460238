#include "SimulatedWindowPlatform.h"

#include "MonitorChoice.h"

#include <algorithm>
#include <climits>

namespace platform {
namespace {

std::string num(std::uintptr_t uValue) {
    if (uValue == kHwndTopMost) return "TOPMOST";
    if (uValue == kHwndNoTopMost) return "NOTOPMOST";
    return std::to_string(uValue);
}

char16_t lowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool equalsIgnoringAsciiCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

}  // namespace

SimulatedWindowPlatform::SimulatedWindowPlatform() {
    MonitorInfo primary;
    primary.rcMonitor = WinRect{0, 0, 1920, 1080};
    primary.rcWork = primary.rcMonitor;
    primary.dwFlags = kMonitorInfoFPrimary;
    m_vecMonitors.push_back(primary);
}

// --- desktop set-up ---------------------------------------------------------

Hwnd SimulatedWindowPlatform::createWindow(const WindowParams& params) {
    Window window;
    window.hWnd = params.hWnd ? params.hWnd : m_hNext++;
    if (params.hWnd && m_mapWindows.count(params.hWnd)) return 0;
    if (params.hParent && !find(params.hParent)) return 0;
    window.strTitle = params.strTitle;
    window.strClass = params.strClass;
    window.hParent = params.hParent;
    window.rect = params.rect;
    window.rcFrame = params.rcFrame;
    window.bVisible = params.bVisible;
    window.bTopMost = params.hParent == 0 && params.bTopMost;
    window.uStyle = params.uStyle & ~(kWsVisible | kWsChild);
    window.uThreadId = params.uThreadId;
    const Hwnd hWnd = window.hWnd;
    Window& stored = m_mapWindows.emplace(hWnd, std::move(window)).first->second;
    insertAtTop(stored);
    return hWnd;
}

Hwnd SimulatedWindowPlatform::createBrowser(const std::u16string& strTitle, const std::u16string& strClass,
                                            const WinRect& rect) {
    WindowParams params;
    params.strTitle = strTitle;
    params.strClass = strClass;
    params.rect = rect;
    params.rcFrame = WinRect{8, 30, 8, 8};
    return createWindow(params);
}

void SimulatedWindowPlatform::destroyWindow(Hwnd hWnd) {
    if (!find(hWnd)) return;
    notifyDestroy(hWnd, hWnd);
    Window* pWindow = find(hWnd);
    if (!pWindow) return;  // its own sink may have destroyed it
    unlink(*pWindow);
    eraseTree(hWnd);
}

void SimulatedWindowPlatform::notifyDestroy(Hwnd hWnd, Hwnd hRoot) {
    Window* pWindow = find(hWnd);
    if (!pWindow) return;
    const std::vector<Hwnd> vecChildren = pWindow->vecChildren;
    for (Hwnd hChild : vecChildren) {
        // A child that an earlier sink took out of the dying tree is spared.
        if (isInside(hChild, hRoot)) notifyDestroy(hChild, hRoot);
    }
    pWindow = find(hWnd);
    if (pWindow && pWindow->sink && isInside(hWnd, hRoot)) {
        const MessageSink sink = pWindow->sink;
        sink(hWnd, kWmDestroy);
    }
}

bool SimulatedWindowPlatform::isInside(Hwnd hWnd, Hwnd hRoot) const {
    for (const Window* pWindow = find(hWnd); pWindow; pWindow = find(pWindow->hParent)) {
        if (pWindow->hWnd == hRoot) return true;
    }
    return false;
}

void SimulatedWindowPlatform::eraseTree(Hwnd hWnd) {
    Window* pWindow = find(hWnd);
    if (!pWindow) return;
    const std::vector<Hwnd> vecChildren = pWindow->vecChildren;
    for (Hwnd hChild : vecChildren) eraseTree(hChild);
    if (m_hForeground == hWnd) m_hForeground = 0;
    m_mapWindows.erase(hWnd);
}

void SimulatedWindowPlatform::moveWindow(Hwnd hWnd, int x, int y) {
    if (Window* pWindow = find(hWnd)) {
        const int iWidth = pWindow->rect.width();
        const int iHeight = pWindow->rect.height();
        pWindow->rect = WinRect{x, y, x + iWidth, y + iHeight};
    }
}

void SimulatedWindowPlatform::resizeWindow(Hwnd hWnd, int iWidth, int iHeight) {
    if (Window* pWindow = find(hWnd)) {
        pWindow->rect.right = pWindow->rect.left + std::max(0, iWidth);
        pWindow->rect.bottom = pWindow->rect.top + std::max(0, iHeight);
    }
}

void SimulatedWindowPlatform::setTitle(Hwnd hWnd, const std::u16string& strTitle) {
    if (Window* pWindow = find(hWnd)) pWindow->strTitle = strTitle;
}

void SimulatedWindowPlatform::activate(Hwnd hWnd) {
    const Hwnd hTop = topLevelOf(hWnd);
    Window* pWindow = find(hTop);
    if (!pWindow) return;
    unlink(*pWindow);
    insertAtTop(*pWindow);
    m_hForeground = hTop;
}

void SimulatedWindowPlatform::setMonitors(const std::vector<MonitorInfo>& vecMonitors) {
    m_vecMonitors = vecMonitors;
}

void SimulatedWindowPlatform::addTaskbars(int iHeight) {
    for (MonitorInfo& monitor : m_vecMonitors) {
        const bool bPrimary = (monitor.dwFlags & kMonitorInfoFPrimary) != 0;
        WindowParams params;
        params.strClass = bPrimary ? u"Shell_TrayWnd" : u"Shell_SecondaryTrayWnd";
        params.rect = WinRect{monitor.rcMonitor.left, monitor.rcMonitor.bottom - iHeight, monitor.rcMonitor.right,
                            monitor.rcMonitor.bottom};
        params.bTopMost = true;
        params.uThreadId = 3;
        createWindow(params);
        monitor.rcWork = monitor.rcMonitor;
        monitor.rcWork.bottom -= iHeight;
        if (bPrimary) {
            WindowParams button;
            button.strClass = u"Button";
            button.strTitle = u"Start";
            button.rect = WinRect{params.rect.left, params.rect.top, params.rect.left + iHeight, params.rect.bottom};
            button.bTopMost = true;
            button.uThreadId = 3;
            createWindow(button);
        }
    }
}

// --- read-back ----------------------------------------------------------------

std::vector<Hwnd> SimulatedWindowPlatform::topLevelOrder() const {
    return m_vecTopLevel;
}

std::vector<Hwnd> SimulatedWindowPlatform::children(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    return pWindow ? pWindow->vecChildren : std::vector<Hwnd>();
}

bool SimulatedWindowPlatform::exists(Hwnd hWnd) const {
    return find(hWnd) != nullptr;
}

bool SimulatedWindowPlatform::isTopMost(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    return pWindow && pWindow->bTopMost;
}

bool SimulatedWindowPlatform::ownVisible(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    return pWindow && pWindow->bVisible;
}

std::optional<RectRegion> SimulatedWindowPlatform::windowRegion(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    return pWindow ? pWindow->region : std::nullopt;
}

std::uint32_t SimulatedWindowPlatform::style(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return 0;
    std::uint32_t uStyle = pWindow->uStyle;
    if (pWindow->bVisible) uStyle |= kWsVisible;
    if (pWindow->hParent) uStyle |= kWsChild;
    return uStyle;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> SimulatedWindowPlatform::attachedInputs() const {
    return m_vecAttached;
}

// --- internals ----------------------------------------------------------------

SimulatedWindowPlatform::Window* SimulatedWindowPlatform::find(Hwnd hWnd) {
    const auto it = m_mapWindows.find(hWnd);
    return it == m_mapWindows.end() ? nullptr : &it->second;
}

const SimulatedWindowPlatform::Window* SimulatedWindowPlatform::find(Hwnd hWnd) const {
    const auto it = m_mapWindows.find(hWnd);
    return it == m_mapWindows.end() ? nullptr : &it->second;
}

std::vector<Hwnd>& SimulatedWindowPlatform::siblingList(const Window& window) {
    if (window.hParent) return find(window.hParent)->vecChildren;
    return m_vecTopLevel;
}

const std::vector<Hwnd>& SimulatedWindowPlatform::siblingList(const Window& window) const {
    if (window.hParent) return find(window.hParent)->vecChildren;
    return m_vecTopLevel;
}

void SimulatedWindowPlatform::unlink(Window& window) {
    std::vector<Hwnd>& vecList = siblingList(window);
    vecList.erase(std::remove(vecList.begin(), vecList.end(), window.hWnd), vecList.end());
}

void SimulatedWindowPlatform::insertAtTop(Window& window) {
    std::vector<Hwnd>& vecList = siblingList(window);
    auto it = vecList.begin();
    if (!window.hParent && !window.bTopMost) {
        while (it != vecList.end() && find(*it)->bTopMost) ++it;
    }
    vecList.insert(it, window.hWnd);
}

void SimulatedWindowPlatform::insertAtBottom(Window& window) {
    siblingList(window).push_back(window.hWnd);
}

void SimulatedWindowPlatform::insertBelow(Window& window, Hwnd hAfter) {
    std::vector<Hwnd>& vecList = siblingList(window);
    auto it = std::find(vecList.begin(), vecList.end(), hAfter);
    if (it == vecList.end()) {
        insertAtTop(window);
        return;
    }
    it = vecList.insert(it + 1, window.hWnd);
    if (!window.hParent) {
        // Topmost exactly when it now lies above another topmost window.
        const auto itNext = it + 1;
        window.bTopMost = itNext != vecList.end() && find(*itNext)->bTopMost;
    }
}

WinRect SimulatedWindowPlatform::screenRect(const Window& window) const {
    WinRect rect = window.rect;
    if (const Window* pParent = find(window.hParent)) {
        const WinPoint origin = clientOrigin(*pParent);
        rect.left += origin.x;
        rect.right += origin.x;
        rect.top += origin.y;
        rect.bottom += origin.y;
    }
    return rect;
}

WinPoint SimulatedWindowPlatform::clientOrigin(const Window& window) const {
    const WinRect rect = screenRect(window);
    return WinPoint{rect.left + window.rcFrame.left, rect.top + window.rcFrame.top};
}

Hwnd SimulatedWindowPlatform::topLevelOf(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    while (pWindow && pWindow->hParent) pWindow = find(pWindow->hParent);
    return pWindow ? pWindow->hWnd : 0;
}

void SimulatedWindowPlatform::log(std::string strCall) {
    m_vecCalls.push_back(std::move(strCall));
}

int SimulatedWindowPlatform::copyText(const std::u16string& strText, char16_t* pBuffer, int iMaxCount) {
    if (!pBuffer || iMaxCount <= 0) return 0;
    const int iCount = std::min<int>(static_cast<int>(strText.size()), iMaxCount - 1);
    std::copy(strText.begin(), strText.begin() + iCount, pBuffer);
    pBuffer[iCount] = 0;
    return iCount;
}

// --- WindowPlatform -----------------------------------------------------------

bool SimulatedWindowPlatform::enumWindows(const EnumWindowsCallback& callback) {
    const std::vector<Hwnd> vecOrder = m_vecTopLevel;
    for (Hwnd hWnd : vecOrder) {
        if (!find(hWnd)) continue;
        if (!callback(hWnd)) return false;
    }
    return true;
}

int SimulatedWindowPlatform::getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) {
        copyText(std::u16string(), pBuffer, iMaxCount);
        return 0;
    }
    return copyText(pWindow->strTitle, pBuffer, iMaxCount);
}

int SimulatedWindowPlatform::getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return 0;
    return copyText(pWindow->strClass, pBuffer, iMaxCount);
}

Hwnd SimulatedWindowPlatform::findWindow(const std::u16string& strClassName, const std::u16string* pTitle) {
    for (Hwnd hWnd : m_vecTopLevel) {
        const Window* pWindow = find(hWnd);
        if (!equalsIgnoringAsciiCase(pWindow->strClass, strClassName)) continue;
        if (pTitle && pWindow->strTitle != *pTitle) continue;
        return hWnd;
    }
    return 0;
}

Hwnd SimulatedWindowPlatform::setParent(Hwnd hWnd, Hwnd hNewParent) {
    log("SetParent(" + num(hWnd) + "," + num(hNewParent) + ")");
    Window* pWindow = find(hWnd);
    if (!pWindow) return 0;
    if (hNewParent && (!find(hNewParent) || isInside(hNewParent, hWnd))) return 0;
    const Hwnd hOld = pWindow->hParent;
    unlink(*pWindow);
    pWindow->hParent = hNewParent;
    if (hNewParent) pWindow->bTopMost = false;
    // The position values are kept; they now count from the new parent.
    insertAtTop(*pWindow);
    return hOld;
}

Hwnd SimulatedWindowPlatform::getParent(Hwnd hWnd) {
    const Window* pWindow = find(hWnd);
    return pWindow ? pWindow->hParent : 0;
}

Hwnd SimulatedWindowPlatform::getWindow(Hwnd hWnd, unsigned uCmd) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return 0;
    if (uCmd == kGwChild) return pWindow->vecChildren.empty() ? 0 : pWindow->vecChildren.front();
    const std::vector<Hwnd>& vecList = siblingList(*pWindow);
    const auto it = std::find(vecList.begin(), vecList.end(), hWnd);
    switch (uCmd) {
    case kGwHwndFirst: return vecList.front();
    case kGwHwndLast: return vecList.back();
    case kGwHwndNext: return (it + 1) == vecList.end() ? 0 : *(it + 1);
    case kGwHwndPrev: return it == vecList.begin() ? 0 : *(it - 1);
    default: return 0;
    }
}

bool SimulatedWindowPlatform::isWindow(Hwnd hWnd) {
    return find(hWnd) != nullptr;
}

bool SimulatedWindowPlatform::isWindowVisible(Hwnd hWnd) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    for (; pWindow; pWindow = find(pWindow->hParent)) {
        if (!pWindow->bVisible) return false;
    }
    return true;
}

bool SimulatedWindowPlatform::showWindow(Hwnd hWnd, int iCmdShow) {
    log("ShowWindow(" + num(hWnd) + "," + std::to_string(iCmdShow) + ")");
    Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    const bool bWasVisible = pWindow->bVisible;
    pWindow->bVisible = iCmdShow != kSwHide;
    return bWasVisible;
}

bool SimulatedWindowPlatform::getWindowRect(Hwnd hWnd, WinRect& rect) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    rect = screenRect(*pWindow);
    return true;
}

bool SimulatedWindowPlatform::getClientRect(Hwnd hWnd, WinRect& rect) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    const int iWidth = pWindow->rect.width() - pWindow->rcFrame.left - pWindow->rcFrame.right;
    const int iHeight = pWindow->rect.height() - pWindow->rcFrame.top - pWindow->rcFrame.bottom;
    rect = WinRect{0, 0, std::max(0, iWidth), std::max(0, iHeight)};
    return true;
}

bool SimulatedWindowPlatform::clientToScreen(Hwnd hWnd, WinPoint& point) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    const WinPoint origin = clientOrigin(*pWindow);
    point.x += origin.x;
    point.y += origin.y;
    return true;
}

bool SimulatedWindowPlatform::setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy,
                                           unsigned uFlags) {
    log("SetWindowPos(" + num(hWnd) + "," + num(hInsertAfter) + "," + std::to_string(x) + "," + std::to_string(y) +
        "," + std::to_string(cx) + "," + std::to_string(cy) + ",0x" +
        [&] {
            char szFlags[16];
            snprintf(szFlags, sizeof szFlags, "%x", uFlags);
            return std::string(szFlags);
        }() + ")");
    Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    if (hInsertAfter != kHwndTop && hInsertAfter != kHwndBottom && hInsertAfter != kHwndTopMost &&
        hInsertAfter != kHwndNoTopMost && !(uFlags & kSwpNoZOrder)) {
        const Window* pAfter = find(hInsertAfter);
        if (!pAfter || pAfter->hParent != pWindow->hParent || hInsertAfter == hWnd) return false;
    }

    if (uFlags & kSwpShowWindow) pWindow->bVisible = true;
    if (uFlags & kSwpHideWindow) pWindow->bVisible = false;
    if (!(uFlags & kSwpNoMove)) {
        const int iWidth = pWindow->rect.width();
        const int iHeight = pWindow->rect.height();
        pWindow->rect = WinRect{x, y, x + iWidth, y + iHeight};
    }
    if (!(uFlags & kSwpNoSize)) {
        pWindow->rect.right = pWindow->rect.left + std::max(0, cx);
        pWindow->rect.bottom = pWindow->rect.top + std::max(0, cy);
    }
    if (!(uFlags & kSwpNoZOrder)) {
        const bool bTopLevel = pWindow->hParent == 0;
        if (hInsertAfter == kHwndTopMost) {
            unlink(*pWindow);
            pWindow->bTopMost = bTopLevel;
            insertAtTop(*pWindow);
        } else if (hInsertAfter == kHwndNoTopMost) {
            if (pWindow->bTopMost) {
                unlink(*pWindow);
                pWindow->bTopMost = false;
                insertAtTop(*pWindow);
            }
        } else if (hInsertAfter == kHwndTop) {
            unlink(*pWindow);
            insertAtTop(*pWindow);
        } else if (hInsertAfter == kHwndBottom) {
            unlink(*pWindow);
            pWindow->bTopMost = false;
            insertAtBottom(*pWindow);
        } else {
            unlink(*pWindow);
            insertBelow(*pWindow, hInsertAfter);
        }
        // Without SWP_NOACTIVATE a shown top-level window is activated.
        if (!(uFlags & kSwpNoActivate) && bTopLevel && pWindow->bVisible) m_hForeground = hWnd;
    }
    return true;
}

std::int32_t SimulatedWindowPlatform::getWindowLong(Hwnd hWnd, int iIndex) {
    if (iIndex != kGwlStyle || !find(hWnd)) return 0;
    return static_cast<std::int32_t>(style(hWnd));
}

std::int32_t SimulatedWindowPlatform::setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) {
    char szValue[16];
    snprintf(szValue, sizeof szValue, "%x", static_cast<unsigned>(iNewLong));
    log("SetWindowLong(" + num(hWnd) + "," + std::to_string(iIndex) + ",0x" + szValue + ")");
    Window* pWindow = find(hWnd);
    if (iIndex != kGwlStyle || !pWindow) return 0;
    const std::int32_t iOld = static_cast<std::int32_t>(style(hWnd));
    const std::uint32_t uNew = static_cast<std::uint32_t>(iNewLong);
    pWindow->uStyle = uNew & ~(kWsVisible | kWsChild);
    pWindow->bVisible = (uNew & kWsVisible) != 0;
    return iOld;
}

std::optional<RectRegion> SimulatedWindowPlatform::windowShape(Hwnd hWnd) {
    return windowRegion(hWnd);
}

bool SimulatedWindowPlatform::applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool bRedraw) {
    log("SetWindowRgn(" + num(hWnd) + "," + (pRegion ? "rgn" : "0") + "," + (bRedraw ? "1" : "0") + ")");
    Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    if (pRegion) {
        pWindow->region = *pRegion;
    } else {
        pWindow->region.reset();
    }
    return true;
}

Hwnd SimulatedWindowPlatform::getForegroundWindow() {
    return m_hForeground;
}

bool SimulatedWindowPlatform::setForegroundWindow(Hwnd hWnd) {
    log("SetForegroundWindow(" + num(hWnd) + ")");
    if (!find(hWnd)) return false;
    activate(hWnd);
    return true;
}

std::uint32_t SimulatedWindowPlatform::getWindowThreadProcessId(Hwnd hWnd) {
    const Window* pWindow = find(hWnd);
    return pWindow ? pWindow->uThreadId : 0;
}

std::uint32_t SimulatedWindowPlatform::getCurrentThreadId() {
    return kServiceThread;
}

bool SimulatedWindowPlatform::attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool bAttach) {
    log("AttachThreadInput(" + std::to_string(idAttach) + "," + std::to_string(idAttachTo) + "," +
        (bAttach ? "1" : "0") + ")");
    if (idAttach == 0 || idAttachTo == 0 || idAttach == idAttachTo) return false;
    const auto pair = std::make_pair(idAttach, idAttachTo);
    const auto it = std::find(m_vecAttached.begin(), m_vecAttached.end(), pair);
    if (bAttach) {
        if (it == m_vecAttached.end()) m_vecAttached.push_back(pair);
        return true;
    }
    if (it == m_vecAttached.end()) return false;
    m_vecAttached.erase(it);
    return true;
}

Hmonitor SimulatedWindowPlatform::monitorFromWindow(Hwnd hWnd, unsigned uFlags) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return chooseMonitor(m_vecMonitors, nullptr, uFlags);
    const WinRect rect = screenRect(*pWindow);
    return chooseMonitor(m_vecMonitors, &rect, uFlags);
}

bool SimulatedWindowPlatform::getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) {
    if (hMonitor == 0 || hMonitor > m_vecMonitors.size()) return false;
    info = m_vecMonitors[hMonitor - 1];
    return true;
}

void SimulatedWindowPlatform::setMessageSink(Hwnd hWnd, MessageSink sink) {
    Window* pWindow = find(hWnd);
    if (!pWindow && sink && hWnd) {
        // One of the service's own windows: it joins the desktop, hidden.
        WindowParams params;
        params.strClass = u"Qt5QWindowIcon";
        params.bVisible = false;
        params.uThreadId = kServiceThread;
        params.hWnd = hWnd;
        createWindow(params);
        pWindow = find(hWnd);
        pWindow->bAdopted = true;
    }
    if (!pWindow) return;
    if (!sink && pWindow->bAdopted) {
        pWindow->sink = MessageSink();
        destroyWindow(hWnd);
        return;
    }
    pWindow->sink = std::move(sink);
}

}  // namespace platform
