// The visible shape, covered margins, stacking among the desktop's windows
// and the taskbar of WindowControl.
#include "WindowControl.h"

#include "WebClientComponents.h"

#include <QDebug>

#include <algorithm>

using platform::Hrgn;
using platform::Hwnd;
using platform::WinRect;

namespace {

constexpr unsigned kNoSizeMoveActivate = platform::kSwpNoSize | platform::kSwpNoMove | platform::kSwpNoActivate;
constexpr unsigned kNoSizeMove = platform::kSwpNoSize | platform::kSwpNoMove;

// Negative rectangle values and corner sizes count as 0.
struct PartRect {
    PartRect(int iLeft, int iTop, int iWidth, int iHeight, int iRound)
        : left(std::max(0, iLeft)),
          top(std::max(0, iTop)),
          width(std::max(0, iWidth)),
          height(std::max(0, iHeight)),
          round(std::max(0, iRound)) {}
    Hrgn create(platform::WindowPlatform& windows) const {
        return windows.createRoundRectRgn(left, top, left + width, top + height, round, round);
    }
    int left, top, width, height, round;
};

}  // namespace

// --- visible shape ---------------------------------------------------------------

void WindowControl::cuttingPartWindow(int left, int top, int width, int height, int round) {
    const Hrgn hCut = PartRect(left, top, width, height, round).create(m_platform);
    Hrgn hCurrent = m_platform.createRectRgn(0, 0, 0, 0);
    if (m_platform.getWindowRgn(m_hWnd, hCurrent) == platform::kRgnError) {
        // No region yet: the window shows its whole rectangle.
        m_platform.deleteObject(hCurrent);
        hCurrent = m_platform.createRectRgn(0, 0, m_rect.width(), m_rect.height());
    }
    m_platform.combineRgn(hCut, hCurrent, hCut, platform::kRgnDiff);
    if (!m_platform.setWindowRgn(m_hWnd, hCut, true)) m_platform.deleteObject(hCut);
    m_platform.deleteObject(hCurrent);
    qDebug() << "cuttingPartWindow";
}

void WindowControl::repairPartWindow(int left, int top, int width, int height, int round) {
    const Hrgn hAdd = PartRect(left, top, width, height, round).create(m_platform);
    const Hrgn hCurrent = m_platform.createRectRgn(0, 0, 0, 0);
    bool bHandedOver = false;
    // A window without a region shows everything already and keeps no region.
    if (m_platform.getWindowRgn(m_hWnd, hCurrent) != platform::kRgnError) {
        m_platform.combineRgn(hAdd, hCurrent, hAdd, platform::kRgnOr);
        bHandedOver = m_platform.setWindowRgn(m_hWnd, hAdd, true);
    }
    m_platform.deleteObject(hCurrent);
    if (!bHandedOver) m_platform.deleteObject(hAdd);
    qDebug() << "repairPartWindow";
}

// --- covered margins ------------------------------------------------------------------

void WindowControl::setCover(QString position, int size) {
    if (m_bFixedParent) return;
    const int iLeftOld = m_rcCover.left(), iTopOld = m_rcCover.top();
    const int iRightOld = m_rcCover.right(), iBottomOld = m_rcCover.bottom();
    int x = m_rect.left(), y = m_rect.top(), w = m_rect.width(), h = m_rect.height();
    if (position == QLatin1String("left")) {
        m_rcCover.setLeft(size);
        x = x - iLeftOld + size;
        w = w + iLeftOld - size;
    } else if (position == QLatin1String("right")) {
        m_rcCover.setRight(size);
        w = w + iRightOld - size;
    } else if (position == QLatin1String("top")) {
        m_rcCover.setTop(size);
        y = y - iTopOld + size;
        h = h + iTopOld - size;
    } else if (position == QLatin1String("bottom")) {
        m_rcCover.setBottom(size);
        h = h + iBottomOld - size;
    }
    setWndGeometry(x, y, w, h, true);
}

void WindowControl::applyCover() {
    if (m_bFixedParent || !m_pComponent) return;
    // Starts from the whole window every time, so repeating the step (the
    // fast tick re-applies the geometry without resizing the video) never
    // shifts the picture further.
    int x = 0, y = 0, w = m_rect.width(), h = m_rect.height();
    // A covered leading side moves the picture out by its margin and makes
    // it larger by as much; a covered trailing side only makes it larger.
    auto coverLeading = [](int& iPos, int& iSize, int iMargin) {
        if (iMargin <= 0) return;
        iPos -= iMargin;
        if (iPos < 1) {
            iSize += iMargin;
        } else {
            iPos = 0;
        }
    };
    coverLeading(x, w, m_rcCover.left());
    if (m_rcCover.right() > 0) w += m_rcCover.right();
    coverLeading(y, h, m_rcCover.top());
    if (m_rcCover.bottom() > 0) h += m_rcCover.bottom();
    m_pComponent->setVideoGeometry(x, y, w, h);
}

// --- stacking ---------------------------------------------------------------------------

void WindowControl::setTopMost(bool force) {
    if (m_bTopMost && !force) return;
    m_platform.setWindowPos(m_hWnd, platform::kHwndNoTopMost, 0, 0, 0, 0, kNoSizeMoveActivate);
    if (m_bBrowserFullScreen) {
        m_platform.setWindowPos(m_hWnd, platform::kHwndTopMost, 0, 0, 0, 0, kNoSizeMoveActivate);
        m_bTopMost = true;
    } else {
        // Directly behind the taskbar.
        m_platform.setWindowPos(m_hWnd, m_hTrayWnd, 0, 0, 0, 0, kNoSizeMove);
        m_bTopMost = false;
    }
}

bool WindowControl::placeAboveBrowser() {
    const Hwnd hPrev = m_platform.getWindow(m_hParentHwnd, platform::kGwHwndPrev);
    if (hPrev == m_hWnd) return false;
    qDebug() << "Set Browser Prev";
    m_platform.setWindowPos(m_hWnd, platform::kHwndNoTopMost, 0, 0, 0, 0, kNoSizeMoveActivate);
    m_platform.setWindowPos(m_hWnd, hPrev, 0, 0, 0, 0, kNoSizeMoveActivate);
    m_bTopMost = false;
    return true;
}

void WindowControl::activateBrowser() {
    if (!m_bEmbed) return;
    qDebug().noquote() << m_strUuid + " Browser Activate";
    m_platform.setWindowPos(m_hParentHwnd, platform::kHwndNoTopMost, 0, 0, 0, 0, kNoSizeMoveActivate);
}

void WindowControl::checkForeground() {
    if (!isVisible()) return;
    const Hwnd hForeground = m_platform.getForegroundWindow();
    Hwnd hRoot = m_hParentHwnd;
    for (int iDepth = 0; iDepth < 64; ++iDepth) {
        const Hwnd hUp = m_platform.getParent(hRoot);
        if (!hUp) break;
        hRoot = hUp;
    }
    if (hForeground != m_hParentHwnd && hForeground != m_hWnd && hForeground != hRoot) {
        // Another application is in front: stay directly above the browser,
        // behind it, and leave it the foreground.
        if (m_bEmbed || !placeAboveBrowser()) return;
        if (hForeground) {
            m_platform.setForegroundWindow(hForeground);
        } else {
            qDebug() << "GetForegroundWindow=NULL";
        }
    } else if (!m_bEmbed) {
        setTopMost(false);
    }
}

void WindowControl::redrawByHideAndShow() {
    m_platform.setWindowPos(m_hWnd, platform::kHwndTop, 0, 0, 0, 0, kNoSizeMoveActivate | platform::kSwpHideWindow);
    m_platform.setWindowPos(m_hWnd, platform::kHwndTop, 0, 0, 0, 0, kNoSizeMoveActivate | platform::kSwpShowWindow);
}

void WindowControl::setZOrder(int flag) {
    // Stacking follows the browser and the foreground only.
    Q_UNUSED(flag);
}

// --- monitor and taskbar ------------------------------------------------------------------

void WindowControl::applyMonitorAndTaskbar() {
    platform::MonitorInfo info;
    m_platform.getMonitorInfo(m_platform.monitorFromWindow(m_hParentHwnd, platform::kMonitorDefaultToNearest), info);
    WinRect rcParent;
    m_platform.getWindowRect(m_hParentHwnd, rcParent);
    WinRect rcContent;
    if (m_hRenderWnd) m_platform.getWindowRect(m_hRenderWnd, rcContent);
    m_bBrowserFullScreen =
        (info.rcMonitor.height() == rcParent.height() || info.rcMonitor.width() == rcParent.width()) &&
        rcContent.top == rcParent.top;

    // Without a taskbar there is nothing to hide or show.
    const bool bPrimary = info.dwFlags == platform::kMonitorInfoFPrimary;
    const Hwnd hTray = bPrimary ? m_hTrayWnd : m_hSecondaryTrayWnd;
    if (!hTray) return;
    const bool bTrayVisible = m_platform.isWindowVisible(hTray);
    int iShow = -1;
    if (m_bBrowserFullScreen && bTrayVisible && isChrome()) {
        iShow = platform::kSwHide;
    } else if (!m_bBrowserFullScreen && !bTrayVisible) {
        iShow = platform::kSwShow;
    }
    if (iShow < 0) return;
    m_platform.showWindow(hTray, iShow);
    if (bPrimary) m_platform.showWindow(m_platform.findWindow(u"Button", nullptr), iShow);
}

void WindowControl::showTaskbars() {
    if (m_hTrayWnd && !m_platform.isWindowVisible(m_hTrayWnd)) {
        m_platform.showWindow(m_hTrayWnd, platform::kSwShow);
        m_platform.showWindow(m_platform.findWindow(u"Button", nullptr), platform::kSwShow);
    }
    if (m_hSecondaryTrayWnd && !m_platform.isWindowVisible(m_hSecondaryTrayWnd)) {
        m_platform.showWindow(m_hSecondaryTrayWnd, platform::kSwShow);
    }
}
