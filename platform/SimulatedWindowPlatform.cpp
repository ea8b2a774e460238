#include "SimulatedWindowPlatform.h"

#include <algorithm>

namespace platform {

namespace {
const WinRect kMonitor{0, 0, 1920, 1080};

// At most iMaxCount - 1 units and a 0, as the desktop copies texts.
int copyText(const std::u16string& strText, char16_t* pBuffer, int iMaxCount) {
    const size_t nCopied = pBuffer && iMaxCount > 0 ? strText.copy(pBuffer, static_cast<size_t>(iMaxCount - 1)) : 0;
    if (pBuffer && iMaxCount > 0) pBuffer[nCopied] = 0;
    return static_cast<int>(nCopied);
}
}  // namespace

// --- the desktop ------------------------------------------------------------------

Hwnd SimulatedWindowPlatform::createWindow(const WindowParams& params) {
    const Hwnd hWnd = params.hWnd ? params.hWnd : m_hNext++;
    if (exists(hWnd) || (params.hParent && !exists(params.hParent))) return 0;
    Window& window = m_mapWindows[hWnd];
    static_cast<WindowParams&>(window) = params;
    window.hWnd = hWnd;
    siblings(window).insert(siblings(window).begin(), hWnd);
    return hWnd;
}

Hwnd SimulatedWindowPlatform::createBrowser(const std::u16string& strTitle, const std::u16string& strClass,
                                            const WinRect& rect) {
    return createWindow({strTitle, strClass, 0, rect, WinRect{8, 30, 8, 8}});
}

void SimulatedWindowPlatform::destroyWindow(Hwnd hWnd) {
    notifyDestroy(hWnd, hWnd);
    if (const Window* pWindow = find(hWnd)) {  // its own sink may have destroyed it
        unlink(*pWindow);
        eraseTree(hWnd);
    }
}

void SimulatedWindowPlatform::notifyDestroy(Hwnd hWnd, Hwnd hRoot) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return;
    for (Hwnd hChild : std::vector<Hwnd>(pWindow->vecChildren)) {
        // A child that an earlier sink took out of the dying tree is spared.
        if (isInside(hChild, hRoot)) notifyDestroy(hChild, hRoot);
    }
    pWindow = find(hWnd);
    if (pWindow && pWindow->sink && isInside(hWnd, hRoot)) {
        const MessageSink sink = pWindow->sink;
        sink(hWnd, kWmDestroy);
    }
}

void SimulatedWindowPlatform::eraseTree(Hwnd hWnd) {
    for (Hwnd hChild : std::vector<Hwnd>(find(hWnd)->vecChildren)) eraseTree(hChild);
    if (m_hForeground == hWnd) m_hForeground = 0;
    m_mapWindows.erase(hWnd);
}

void SimulatedWindowPlatform::moveWindow(Hwnd hWnd, int x, int y) {
    if (Window* pWindow = find(hWnd))
        pWindow->rect = WinRect{x, y, x + pWindow->rect.width(), y + pWindow->rect.height()};
}

void SimulatedWindowPlatform::activate(Hwnd hWnd) {
    const Window* pWindow = find(hWnd);
    while (pWindow && pWindow->hParent) pWindow = find(pWindow->hParent);
    if (!pWindow) return;
    unlink(*pWindow);
    m_vecTopLevel.insert(m_vecTopLevel.begin(), pWindow->hWnd);
    m_hForeground = pWindow->hWnd;
}

void SimulatedWindowPlatform::addTaskbars() {
    const int iTop = kMonitor.bottom - 40;
    createWindow({{}, u"Shell_TrayWnd", 0, WinRect{0, iTop, kMonitor.right, kMonitor.bottom}, {}, true, 3});
    createWindow({{}, u"Button", 0, WinRect{0, iTop, 40, kMonitor.bottom}, {}, true, 3});
}

std::optional<RectRegion> SimulatedWindowPlatform::windowRegion(Hwnd hWnd) const {
    const Window* pWindow = find(hWnd);
    return pWindow ? pWindow->region : std::nullopt;
}

// --- internals ----------------------------------------------------------------------

const SimulatedWindowPlatform::Window* SimulatedWindowPlatform::find(Hwnd hWnd) const {
    const auto it = m_mapWindows.find(hWnd);
    return it == m_mapWindows.end() ? nullptr : &it->second;
}

std::vector<Hwnd>& SimulatedWindowPlatform::siblings(const Window& window) {
    return window.hParent ? find(window.hParent)->vecChildren : m_vecTopLevel;
}

void SimulatedWindowPlatform::unlink(const Window& window) {
    std::vector<Hwnd>& vecList = siblings(window);
    vecList.erase(std::remove(vecList.begin(), vecList.end(), window.hWnd), vecList.end());
}

WinPoint SimulatedWindowPlatform::clientOrigin(const Window& window) const {
    WinPoint origin{window.rect.left + window.rcFrame.left, window.rect.top + window.rcFrame.top};
    if (const Window* pParent = find(window.hParent)) {
        const WinPoint parent = clientOrigin(*pParent);
        origin.x += parent.x;
        origin.y += parent.y;
    }
    return origin;
}

bool SimulatedWindowPlatform::isInside(Hwnd hWnd, Hwnd hRoot) const {
    for (const Window* pWindow = find(hWnd); pWindow; pWindow = find(pWindow->hParent)) {
        if (pWindow->hWnd == hRoot) return true;
    }
    return false;
}

// --- WindowPlatform -----------------------------------------------------------------------

bool SimulatedWindowPlatform::enumWindows(const EnumWindowsCallback& callback) {
    for (Hwnd hWnd : std::vector<Hwnd>(m_vecTopLevel)) {
        if (exists(hWnd) && !callback(hWnd)) return false;
    }
    return true;
}

int SimulatedWindowPlatform::getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    const Window* pWindow = find(hWnd);
    return copyText(pWindow ? pWindow->strTitle : std::u16string(), pBuffer, iMaxCount);
}

int SimulatedWindowPlatform::getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    const Window* pWindow = find(hWnd);
    return pWindow ? copyText(pWindow->strClass, pBuffer, iMaxCount) : 0;
}

Hwnd SimulatedWindowPlatform::findWindow(const std::u16string& strClassName, const std::u16string* pTitle) {
    for (Hwnd hWnd : m_vecTopLevel) {
        const Window* pWindow = find(hWnd);
        if (pWindow->strClass == strClassName && (!pTitle || pWindow->strTitle == *pTitle)) return hWnd;
    }
    return 0;
}

Hwnd SimulatedWindowPlatform::setParent(Hwnd hWnd, Hwnd hNewParent) {
    ++m_nChangeCalls;
    Window* pWindow = find(hWnd);
    if (!pWindow || (hNewParent && (!exists(hNewParent) || isInside(hNewParent, hWnd)))) return 0;
    const Hwnd hOld = pWindow->hParent;
    unlink(*pWindow);
    pWindow->hParent = hNewParent;  // the position values now count from the new parent
    siblings(*pWindow).insert(siblings(*pWindow).begin(), hWnd);
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
    const std::vector<Hwnd>& vecList = siblings(*pWindow);
    const auto it = std::find(vecList.begin(), vecList.end(), hWnd);
    if (uCmd == kGwHwndNext) return it + 1 == vecList.end() ? 0 : *(it + 1);
    if (uCmd == kGwHwndPrev) return it == vecList.begin() ? 0 : *(it - 1);
    return 0;
}

bool SimulatedWindowPlatform::isWindowVisible(Hwnd hWnd) {
    const Window* pWindow = find(hWnd);
    for (; pWindow && pWindow->bVisible; pWindow = find(pWindow->hParent)) {
        if (!pWindow->hParent) return true;
    }
    return false;
}

bool SimulatedWindowPlatform::showWindow(Hwnd hWnd, int iCmdShow) {
    ++m_nChangeCalls;
    Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    const bool bWasVisible = pWindow->bVisible;
    pWindow->bVisible = iCmdShow != kSwHide;
    return bWasVisible;
}

bool SimulatedWindowPlatform::getWindowRect(Hwnd hWnd, WinRect& rect) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    const WinPoint client = clientOrigin(*pWindow);
    const int x = client.x - pWindow->rcFrame.left, y = client.y - pWindow->rcFrame.top;
    rect = WinRect{x, y, x + pWindow->rect.width(), y + pWindow->rect.height()};
    return true;
}

bool SimulatedWindowPlatform::getClientRect(Hwnd hWnd, WinRect& rect) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    rect = WinRect{0, 0, std::max(0, pWindow->rect.width() - pWindow->rcFrame.left - pWindow->rcFrame.right),
                   std::max(0, pWindow->rect.height() - pWindow->rcFrame.top - pWindow->rcFrame.bottom)};
    return true;
}

bool SimulatedWindowPlatform::clientToScreen(Hwnd hWnd, WinPoint& point) {
    const Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    const WinPoint origin = clientOrigin(*pWindow);
    point = WinPoint{point.x + origin.x, point.y + origin.y};
    return true;
}

bool SimulatedWindowPlatform::setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy,
                                           unsigned uFlags) {
    ++m_nChangeCalls;
    Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    if (uFlags & kSwpShowWindow) pWindow->bVisible = true;
    if (uFlags & kSwpHideWindow) pWindow->bVisible = false;
    if (!(uFlags & kSwpNoMove)) moveWindow(hWnd, x, y);
    if (!(uFlags & kSwpNoSize)) {
        pWindow->rect.right = pWindow->rect.left + std::max(0, cx);
        pWindow->rect.bottom = pWindow->rect.top + std::max(0, cy);
    }
    if ((uFlags & kSwpNoZOrder) || hInsertAfter == kHwndNoTopMost) return true;
    std::vector<Hwnd>& vecList = siblings(*pWindow);
    if (hInsertAfter == kHwndTop || hInsertAfter == kHwndTopMost || hInsertAfter == kHwndBottom) {
        unlink(*pWindow);
        vecList.insert(hInsertAfter == kHwndBottom ? vecList.end() : vecList.begin(), hWnd);
    } else {
        if (hInsertAfter == hWnd || std::find(vecList.begin(), vecList.end(), hInsertAfter) == vecList.end())
            return false;
        unlink(*pWindow);
        vecList.insert(std::find(vecList.begin(), vecList.end(), hInsertAfter) + 1, hWnd);
    }
    // Without SWP_NOACTIVATE a shown top-level window is activated.
    if (!(uFlags & kSwpNoActivate) && !pWindow->hParent && pWindow->bVisible) m_hForeground = hWnd;
    return true;
}

bool SimulatedWindowPlatform::applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool) {
    Window* pWindow = find(hWnd);
    if (!pWindow) return false;
    pWindow->region = pRegion ? std::optional<RectRegion>(*pRegion) : std::nullopt;
    return true;
}

bool SimulatedWindowPlatform::setForegroundWindow(Hwnd hWnd) {
    ++m_nChangeCalls;
    if (!exists(hWnd)) return false;
    activate(hWnd);
    return true;
}

std::uint32_t SimulatedWindowPlatform::getWindowThreadProcessId(Hwnd hWnd) {
    const Window* pWindow = find(hWnd);
    return pWindow ? pWindow->uThreadId : 0;
}

bool SimulatedWindowPlatform::attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool) {
    ++m_nChangeCalls;
    return idAttach && idAttachTo && idAttach != idAttachTo;
}

Hmonitor SimulatedWindowPlatform::monitorFromWindow(Hwnd hWnd, unsigned uFlags) {
    return exists(hWnd) || uFlags != kMonitorDefaultToNull ? 1 : 0;
}

bool SimulatedWindowPlatform::getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) {
    if (hMonitor != 1) return false;
    info.rcMonitor = info.rcWork = kMonitor;
    info.dwFlags = kMonitorInfoFPrimary;
    return true;
}

void SimulatedWindowPlatform::setMessageSink(Hwnd hWnd, MessageSink sink) {
    if (!exists(hWnd) && sink && hWnd) {
        // One of the service's own windows: it joins the desktop, hidden.
        createWindow({{}, u"Qt5QWindowIcon", 0, {}, {}, false, kServiceThread, hWnd});
        find(hWnd)->bAdopted = true;
    }
    Window* pWindow = find(hWnd);
    if (!pWindow) return;
    pWindow->sink = std::move(sink);
    if (!pWindow->sink && pWindow->bAdopted) destroyWindow(hWnd);
}

}  // namespace platform
