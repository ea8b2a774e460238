// The video widget: the library draws its grid of play windows into it. A
// child of its WindowControl, or of the desktop while in full screen.
//
// GUI thread only.
#ifndef VIDEO_VIDEOWIDGET_H
#define VIDEO_VIDEOWIDGET_H

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>

namespace NEVER_USE_ME {

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Whether the library's play-window event may enter full screen.
    bool m_bFullScreenCapability = true;
    // How full screen was entered: 0 by the "fullScreen" command, 1 by the
    // play-window event.
    int m_nFullScreenMode = 1;
    // Sent as "playGroup" with every "startPlay".
    int m_nPlayGroup = -1;

signals:
    void sigWindowSelected(QString strRet);
    void sigQuitedFullScreen();
    void sigDrawEnd(QString graphicsDescriptor);
    void sigNetStreamEvent(QString descriptor);
    void sigFisheyePTZEvent(QString descriptor);
    void sigMouseEvent(QString descriptor);
    void sigFullScreenChange(QString descriptor);

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    // Where the widget was before full screen; restored on leaving it.
    QPointer<QWidget> m_pOldParent;
    QRect m_rcOldGeometry;
    // The foreground window when the "fullScreen" command entered full
    // screen; 0 otherwise.
    std::uintptr_t m_hForegroundWnd = 0;
};

}  // namespace NEVER_USE_ME

#endif  // VIDEO_VIDEOWIDGET_H
