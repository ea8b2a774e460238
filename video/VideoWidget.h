// The video widget: the library draws its grid of play windows into it. A
// child of its WindowControl while embedded; a top-level window covering the
// screen while in full screen.
//
// It turns the library's events for this widget into the page's event texts
// (VideoEvents.cpp calls in) and switches full screen: by the "fullScreen"
// command, by the library's play-window event and by the Escape key. Leaving
// full screen always emits exactly one "window.onFullScreenChange" with
// "full" false, then sigQuitedFullScreen(); entering emits nothing.
//
// GUI thread only.
#ifndef VIDEO_VIDEOWIDGET_H
#define VIDEO_VIDEOWIDGET_H

#include "EventSignals.h"
#include "WindowPlatform.h"

#include <QJsonObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

namespace NEVER_USE_ME {

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Whether the library's play-window event may enter full screen.
    bool m_bFullScreenCapability = true;
    // How full screen was entered: 0 by the "fullScreen" command, 1 by the
    // play-window event. Keeps its last value after leaving.
    int m_nFullScreenMode = 1;
    // Sent as "playGroup" with every "startPlay".
    int m_nPlayGroup = -1;

    // Enters (bFull) or leaves full screen; nothing when already there. With
    // bRememberForeground, entering remembers the foreground window, and
    // leaving brings it back to the foreground.
    void switchFullScreen(bool bFull, bool bRememberForeground);

    // The library's play-window event for play window "wndIndex": switches
    // between one play window in full screen and all of them.
    void onPlayWindowEvent(const QJsonObject& data);

    // An event text: "cmd" strName, "uuid" the object name, "errorCode" 0,
    // "errorModule" "", then every key of content written over them;
    // indented JSON.
    QString eventText(const QString& strName, const QJsonObject& content) const;
    // Emits one of the event signals (EventSignals.h) with the text and the
    // object name as the uuid, which is also the client the text goes to.
    using EventSignal = void (MainWindow::*)(QString, QString);
    void emitEvent(EventSignal pfnSignal, const QString& strEvent);

    // Builds "window.onFisheyePTZInfo" (the common keys with data merged)
    // and emits it with sigFisheyePTZEvent. No library event is bound to it.
    void reportFisheyePTZInfo(const QJsonObject& data);

signals:
    EVENT_SIGNALS(DECLARE_EVENT_SIGNAL)
    void sigQuitedFullScreen();

protected:
    // Escape in full screen shows every play window and leaves full screen.
    // No key reaches the base class.
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void showAllPlayWindows();

    // Where the widget was before full screen; restored on leaving it.
    QPointer<QWidget> m_pOldParent;
    QRect m_rcOldGeometry;
    // The foreground window when the "fullScreen" command entered full
    // screen; 0 otherwise.
    platform::Hwnd m_hForegroundWnd = 0;
};

}  // namespace NEVER_USE_ME

#endif  // VIDEO_VIDEOWIDGET_H
