// One native window that carries a video widget over a rectangle of a page.
// It finds the browser window that shows the page, either becomes its child
// (embedded) or stays a separate tool window above it (floating), places
// itself at the page's rectangle relative to the browser's content area and
// keeps that place while the browser moves, goes full screen or goes away.
// It owns the video component that plays video in it and relays its events.
//
// Every native call goes through the window backend active when the window
// was made (platform::activeWindowPlatform()). GUI thread only; no locks.
#ifndef WINDOW_WINDOWCONTROL_H
#define WINDOW_WINDOWCONTROL_H

#include "EventSignals.h"
#include "WebClientComponents.h"
#include "WindowPlatform.h"

#include <QJsonObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

namespace video {
struct VideoCommand;
}

class WindowControl : public QWidget {
    Q_OBJECT
public:
    // Results of createWnd.
    static constexpr int kCreated = 0;
    static constexpr int kNoComponent = 5000;
    static constexpr int kNoBrowser = 5001;

    explicit WindowControl(QWidget* parent = nullptr);
    ~WindowControl() override;

    // Called once, right after construction: makes the video component and
    // attaches to the browser window whose title holds uuid (or to the
    // decimal handle parentWnd when that is not empty). Returns kCreated,
    // kNoComponent or kNoBrowser (no browser window: the window stays
    // detached).
    int createWnd(const QString& uuid, const QString& className, bool embed, QString parentWnd);

    // Locating step: with an empty uuid the foreground window, otherwise the
    // first top-level window that enumWindowsProc accepts; then the content
    // and compositor child windows.
    void findParentWnd(const QString& uuid, const QString& className);
    // The match rule for one top-level window; false stops the enumeration.
    static bool enumWindowsProc(platform::Hwnd hwnd, WindowControl* pWindow);
    void findRenderWnd();
    void findD3dHwnd();

    // Places the window at the page's rectangle (left and top relative to the
    // browser's content area); with resizeVideo the video widget is made
    // the window's size. Then covers, the monitor and the taskbar.
    void setWndGeometry(int left, int top, int width, int height, bool resizeVideo);
    // Re-attaches to the current foreground window.
    void updateParentWnd();
    // Fast tick (floating windows): follows a browser that moved.
    void followBrowser();
    // Slow tick (embedded windows): six still ticks after the browser's last
    // move the window grows and shrinks by one pixel.
    void checkBrowserMove();

    // Visible shape: a rounded rectangle taken out of or added back to the
    // window's region (window coordinates; round is the corner ellipse).
    void cuttingPartWindow(int left, int top, int width, int height, int round);
    void repairPartWindow(int left, int top, int width, int height, int round);
    // Covered margins: size pixels of one side ("left", "right", "top",
    // "bottom") given up while the video keeps its place on screen.
    void setCover(QString position, int size);
    void applyCover();

    // Stacking of floating windows.
    void setTopMost(bool force);
    bool placeAboveBrowser();
    void activateBrowser();
    void checkForeground();
    // The window's z-order setter; stacking follows only the rules above.
    void setZOrder(int flag);
    // Hides and shows the native window, which makes it paint anew.
    void redrawByHideAndShow();

    platform::Hwnd parentHwnd() const { return m_hParentHwnd; }
    bool isEmbed() const { return m_bEmbed; }
    bool isVideoFullScreen() const;
    QRect wndRect() const { return m_rect; }
    WebClientComponents* component() const { return m_pComponent; }

    // Video commands of this window (one generic path for the whole command
    // table): the component's answer, or the empty text without a component.
    QString forwardVideo(const video::VideoCommand& command, const QJsonObject& params);
    // Video commands that need no window; pLater as for
    // WebClientComponents::runGlobal.
    static QString forwardGlobal(const video::VideoCommand& command, const QJsonObject& params,
                                 LaterAnswer* pLater = nullptr);
    // Stops all real-time play (the client is gone); the empty text without a
    // component.
    QString stopAll(const QJsonObject& params);
    // Selects a play window; the answer is dropped.
    void selectPlayWindow(const QJsonObject& params);

signals:
    // The component's events, relayed as they are.
    EVENT_SIGNALS(DECLARE_EVENT_SIGNAL)

public slots:
    void onQuitedFullScreen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The backend's native messages for m_hWnd (its message sink).
    void onNativeMessage(unsigned uMsg);
    // Browser window rectangle, client origin on screen and content
    // rectangle (geometry steps 2 and 3).
    void readBrowser(platform::WinRect& rcParent, platform::WinPoint& ptClient, platform::WinRect& rcContent);
    platform::WinRect contentRect();
    void applyMonitorAndTaskbar();
    void showTaskbars();
    bool isChrome() const;

    platform::WindowPlatform& m_platform;
    platform::Hwnd m_hRenderWnd = 0;
    platform::Hwnd m_hD3DWnd = 0;
    platform::Hwnd m_hParentHwnd = 0;
    platform::Hwnd m_hTrayWnd = 0;
    platform::Hwnd m_hSecondaryTrayWnd = 0;
    platform::Hwnd m_hWnd = 0;
    QRect m_rect;
    QRect m_rcCover;
    // Made by createWnd, released with the window; guarded all the same.
    QPointer<WebClientComponents> m_pComponent;
    QString m_strUuid;
    QString m_strClassName;
    bool m_bEmbed = true;
    bool m_bTopMost = false;
    int m_nStillTicks = -1;
    bool m_bBrowserMoving = false;
    platform::WinRect m_rcBrowser;
    bool m_bParentChange = false;
    bool m_bHiddenByDestroy = false;
    bool m_bFixedParent = false;
    platform::WinPoint m_ptBrowser;
    bool m_bBrowserFullScreen = false;
};

#endif  // WINDOW_WINDOWCONTROL_H
