// Creation, locating the browser, geometry, the two ticks, parent changes,
// full screen and the video forwarding of WindowControl. Shape, covers,
// stacking and the taskbar are in WindowControlStacking.cpp.
#include "WindowControl.h"

#include "VideoCommand.h"
#include "WebClientComponents.h"

#include <QDebug>
#include <QEvent>

#include <algorithm>
#include <functional>
#include <new>

using platform::Hwnd;
using platform::WinPoint;
using platform::WinRect;

namespace {

QString fromU16(const std::u16string& strText) {
    return QString::fromUtf16(strText.data(), static_cast<int>(strText.size()));
}

// Handles are logged as decimal numbers, the form a page passes in
// "parentWnd".
QString handleText(Hwnd hWnd) {
    return QString::number(static_cast<qulonglong>(hWnd));
}

// The children of hParent from the top down, until fnStop returns true.
void walkChildren(platform::WindowPlatform& windows, Hwnd hParent, const std::function<bool(Hwnd)>& fnStop) {
    for (Hwnd hChild = windows.getWindow(hParent, platform::kGwChild); hChild;
         hChild = windows.getWindow(hChild, platform::kGwHwndNext)) {
        if (fnStop(hChild)) return;
    }
}

}  // namespace

WindowControl::WindowControl(QWidget* parent) : QWidget(parent), m_platform(platform::activeWindowPlatform()) {
    setObjectName(QStringLiteral("WindowControl"));
    resize(400, 300);
    setWindowTitle(QStringLiteral("WindowControl"));

    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_DeleteOnClose, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setAutoFillBackground(false);
    installEventFilter(this);
    m_rect.setCoords(0, 0, 0, 0);
    m_rcCover.setCoords(0, 0, 0, 0);

    m_hTrayWnd = m_platform.findWindow(u"Shell_TrayWnd", nullptr);
    m_hSecondaryTrayWnd = m_platform.findWindow(u"Shell_SecondaryTrayWnd", nullptr);
    m_hWnd = static_cast<Hwnd>(winId());
    m_platform.setMessageSink(m_hWnd, [this](Hwnd, unsigned uMsg) { onNativeMessage(uMsg); });
}

WindowControl::~WindowControl() {
    m_platform.setMessageSink(m_hWnd, platform::MessageSink());
    if (m_pComponent) {
        // A browser that filled its monitor may have hidden the taskbars.
        showTaskbars();
        m_pComponent->deleteLater();
    }
}

bool WindowControl::isChrome() const {
    return m_strClassName == QLatin1String("Chrome");
}

bool WindowControl::isVideoFullScreen() const {
    return m_pComponent && m_pComponent->isVideoFullScreen();
}

// --- creation and locating ------------------------------------------------------

int WindowControl::createWnd(const QString& uuid, const QString& className, bool embed, QString parentWnd) {
    int iResult = kCreated;
    m_strUuid = uuid;
    m_bEmbed = embed;
    if (!parentWnd.isEmpty()) m_bFixedParent = true;
    qDebug().nospace() << "m_bEmbed = " << m_bEmbed;

    m_pComponent = new (std::nothrow) WebClientComponents(this, uuid);
    if (m_pComponent) {
        video::relayEventSignals(m_pComponent.data(), this);
        connect(m_pComponent, &WebClientComponents::sigQuitedFullScreen, this, &WindowControl::onQuitedFullScreen);
    } else {
        iResult = kNoComponent;
    }

    if (parentWnd.isEmpty()) {
        findParentWnd(uuid, className);
    } else {
        m_bEmbed = true;  // a page-given parent always embeds
        m_hParentHwnd = static_cast<Hwnd>(parentWnd.toLong(nullptr, 10));
        m_platform.setParent(m_hWnd, m_hParentHwnd);
    }
    qDebug().noquote() << "m_hParentHwnd = " + handleText(m_hParentHwnd);
    if (!m_hParentHwnd) iResult = kNoBrowser;
    return iResult;
}

void WindowControl::findParentWnd(const QString& uuid, const QString& className) {
    if (uuid.isEmpty()) {
        m_hParentHwnd = m_platform.getForegroundWindow();
        if (m_hParentHwnd && m_bEmbed) m_platform.setParent(m_hWnd, m_hParentHwnd);
        qDebug().noquote() << "::GetForegroundWindow = " + handleText(m_hParentHwnd);
    } else {
        m_strClassName = className;
        m_platform.enumWindows([this](Hwnd hWnd) { return enumWindowsProc(hWnd, this); });
    }
    findRenderWnd();
    findD3dHwnd();
}

bool WindowControl::enumWindowsProc(Hwnd hwnd, WindowControl* pWindow) {
    platform::WindowPlatform& windows = pWindow->m_platform;
    if (!fromU16(platform::windowText(windows, hwnd, 260)).contains(pWindow->m_strUuid)) return true;
    const bool bClassMatches = pWindow->m_strClassName.isEmpty() || pWindow->isChrome() ||
                               fromU16(platform::className(windows, hwnd, 260)) == pWindow->m_strClassName;
    if (!bClassMatches) return true;
    pWindow->m_hParentHwnd = hwnd;
    qDebug().noquote() << "enumWindowsProc = " + handleText(hwnd);
    if (pWindow->m_bEmbed) windows.setParent(pWindow->m_hWnd, hwnd);
    return false;
}

void WindowControl::findRenderWnd() {
    if (!m_hParentHwnd || !isChrome() || m_hRenderWnd) return;
    walkChildren(m_platform, m_hParentHwnd, [this](Hwnd hChild) {
        // The service's own windows in the same browser are Qt windows.
        const QString strClass = fromU16(platform::className(m_platform, hChild, 100));
        if (strClass.contains(QLatin1String("Qt5QWindow")) || strClass.contains(QLatin1String("D3D Window"))) {
            return false;
        }
        m_hRenderWnd = hChild;
        return true;
    });
}

void WindowControl::findD3dHwnd() {
    if (!m_hParentHwnd || !isChrome() || !m_bEmbed) return;
    walkChildren(m_platform, m_hParentHwnd, [this](Hwnd hChild) {
        const QString strClass = fromU16(platform::className(m_platform, hChild, 260));
        if (!strClass.contains(QLatin1String("D3D Window")) && !strClass.contains(QLatin1String("Software Window"))) {
            return false;
        }
        m_hD3DWnd = hChild;
        // A compositor window that clips its siblings no longer draws over
        // this one.
        const std::int32_t iStyle = m_platform.getWindowLong(hChild, platform::kGwlStyle);
        m_platform.setWindowLong(
            hChild, platform::kGwlStyle,
            static_cast<std::int32_t>(static_cast<std::uint32_t>(iStyle) | platform::kWsClipSiblings));
        return true;
    });
}

// --- geometry ----------------------------------------------------------------------

WinRect WindowControl::contentRect() {
    if (!m_hRenderWnd || !m_platform.isWindow(m_hRenderWnd)) {
        m_hRenderWnd = 0;
        findRenderWnd();
    }
    WinRect rcContent;
    if (m_hRenderWnd) m_platform.getWindowRect(m_hRenderWnd, rcContent);
    return rcContent;
}

void WindowControl::readBrowser(WinRect& rcParent, WinPoint& ptClient, WinRect& rcContent) {
    rcParent = WinRect();
    ptClient = WinPoint();
    m_platform.getWindowRect(m_hParentHwnd, rcParent);
    qDebug() << "rcParent" << rcParent.top;
    WinRect rcClient;
    m_platform.getClientRect(m_hParentHwnd, rcClient);
    ptClient = WinPoint{rcClient.left, rcClient.top};
    m_platform.clientToScreen(m_hParentHwnd, ptClient);
    qDebug() << "rcParentClient" << rcClient.left << rcClient.top << rcClient.right << rcClient.bottom;
    qDebug() << "rcParent" << ptClient.x << ptClient.y;
    rcContent = contentRect();
}

void WindowControl::setWndGeometry(int left, int top, int width, int height, bool resizeVideo) {
    width = std::max(0, width);
    height = std::max(0, height);
    if (m_bFixedParent) left = top = 0;
    WinRect rcParent, rcContent;
    WinPoint ptClient;
    readBrowser(rcParent, ptClient, rcContent);

    // A new size drops every cut part.
    if (width != m_rect.width() || height != m_rect.height()) repairPartWindow(0, 0, width, height, 0);
    m_rect.setLeft(left);
    m_rect.setTop(top);
    m_rect.setWidth(width);
    m_rect.setHeight(height);

    if (!m_bEmbed) {
        // Floating windows live in screen coordinates.
        left += isChrome() ? ptClient.x : rcParent.left;
        top += isChrome() ? ptClient.y : rcParent.top;
    }
    if (isChrome() && m_hRenderWnd) {
        setGeometry(left + rcContent.left - ptClient.x, top + rcContent.top - ptClient.y, width, height);
    } else {
        setGeometry(left, top, width, height);
    }
    if (resizeVideo && m_pComponent) m_pComponent->setVideoGeometry(0, 0, width, height);
    applyCover();
    applyMonitorAndTaskbar();
}

void WindowControl::followBrowser() {
    if (!m_hParentHwnd || !isVisible()) return;
    WinRect rcParent;
    if (!m_platform.getWindowRect(m_hParentHwnd, rcParent)) return;
    if (rcParent.left == m_ptBrowser.x && rcParent.top == m_ptBrowser.y) return;
    m_ptBrowser = WinPoint{rcParent.left, rcParent.top};
    setWndGeometry(m_rect.left(), m_rect.top(), m_rect.width(), m_rect.height(), false);
    setTopMost(true);
}

void WindowControl::checkBrowserMove() {
    if (!m_bEmbed || !isVisible()) return;
    const WinRect rcOld = m_rcBrowser;
    WinRect rcNow;
    if (m_platform.getWindowRect(m_hParentHwnd, rcNow)) m_rcBrowser = rcNow;
    if (m_rcBrowser.left != rcOld.left || m_rcBrowser.top != rcOld.top) {
        m_nStillTicks = 0;
        m_bBrowserMoving = true;
        return;
    }
    if (!m_bBrowserMoving) return;
    if (m_nStillTicks != 5) {
        ++m_nStillTicks;
        return;
    }
    // Six still ticks after the last move: grow and shrink by one pixel so
    // the window system lays the child out again.
    qDebug() << "checkBrowserMove";
    QRect rcPlace = m_rect;
    if (isChrome() && m_hRenderWnd) {
        WinRect rcParent, rcContent;
        WinPoint ptClient;
        readBrowser(rcParent, ptClient, rcContent);
        rcPlace = QRect(m_rect.left() + rcContent.left - ptClient.x, m_rect.top() + rcContent.top - ptClient.y,
                        m_rect.width(), m_rect.height());
    }
    setGeometry(rcPlace.adjusted(0, 0, 1, 1));
    setGeometry(rcPlace);
    m_bBrowserMoving = false;
}

// --- parent changes -------------------------------------------------------------------

void WindowControl::updateParentWnd() {
    const Hwnd hOld = m_hParentHwnd;
    m_hParentHwnd = m_platform.getForegroundWindow();
    qDebug().noquote() << "updateParentWnd hParentWnd = " + handleText(m_hParentHwnd);
    if (m_hParentHwnd != hOld) {
        m_bParentChange = true;
        if (m_bEmbed) {
            m_platform.setParent(m_hWnd, m_hParentHwnd);
            if (m_bHiddenByDestroy) {
                m_bHiddenByDestroy = false;
                show();
            }
        }
        findD3dHwnd();
    } else {
        m_bParentChange = false;
    }
    qDebug().nospace() << "updateParentWnd m_bParentChange = " << m_bParentChange;
}

void WindowControl::onNativeMessage(unsigned uMsg) {
    // The browser window is being destroyed: leave it while it still exists.
    if (uMsg != platform::kWmDestroy || !m_bEmbed) return;
    m_platform.setParent(m_hWnd, 0);
    if (isVisible()) {
        m_bHiddenByDestroy = true;
        hide();
    }
}

bool WindowControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this) {
        if (event->type() == QEvent::WindowActivate) {
            qDebug() << "WindowActivate";
        } else if (event->type() == QEvent::WindowDeactivate) {
            qDebug() << "WindowDeactivate";
        }
        return false;
    }
    qDebug() << "QWidget::eventFilter";
    return QObject::eventFilter(watched, event);
}

// --- full screen and video forwarding ------------------------------------------------

void WindowControl::onQuitedFullScreen() {
    qDebug() << "Quited FullScreen";
    if (m_bEmbed) {
        m_platform.setParent(m_hWnd, m_hParentHwnd);
    } else {
        setTopMost(true);
    }
}

QString WindowControl::forwardVideo(const video::VideoCommand& command, const QJsonObject& params) {
    if (command.answersEmpty()) return QString();
    if (command.needsNoComponent()) return WebClientComponents::runGlobal(command, params);
    if (!m_pComponent) return QString();
    if (command.has(video::kFullScreen) && m_bEmbed) {
        // The video goes full screen from a detached window.
        m_platform.setParent(m_hWnd, 0);
        m_platform.setWindowPos(m_hWnd, platform::kHwndTopMost, 0, 0, 0, 0, platform::kSwpShowWindow);
    }
    return m_pComponent->run(command, params);
}

QString WindowControl::forwardGlobal(const video::VideoCommand& command, const QJsonObject& params,
                                     LaterAnswer* pLater) {
    if (command.answersEmpty()) return QString();
    if (command.has(video::kDebugLine)) qDebug().noquote() << "WindowControl::" + QString::fromLatin1(command.szName);
    if (command.has(video::kRaisedTemporaryWindow)) {
        // A dialog of the library opens above a raised window of ours (the
        // dialog only opens: no event is handled while this window lives).
        WindowControl temporary;
        temporary.setTopMost(true);
        return WebClientComponents::runGlobal(command, params, pLater);
    }
    return WebClientComponents::runGlobal(command, params, pLater);
}

QString WindowControl::stopAll(const QJsonObject& params) {
    return m_pComponent ? m_pComponent->stopAll(params) : QString();
}

void WindowControl::selectPlayWindow(const QJsonObject& params) {
    if (m_pComponent) m_pComponent->selectPlayWindow(params);
}
