#include "VideoWidget.h"

#include "video_control.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopWidget>
#include <QJsonDocument>
#include <QKeyEvent>

#include <optional>

namespace NEVER_USE_ME {
namespace {

// Attaches the input of the thread that owns a window to the calling thread
// for the guard's lifetime, so that the foreground can be handed over.
class ThreadInputAttachment {
public:
    explicit ThreadInputAttachment(platform::Hwnd hWnd)
        : m_desktop(platform::activeWindowPlatform()),
          m_idOwner(m_desktop.getWindowThreadProcessId(hWnd)),
          m_idCurrent(m_desktop.getCurrentThreadId()) {
        m_desktop.attachThreadInput(m_idOwner, m_idCurrent, true);
    }
    ~ThreadInputAttachment() { m_desktop.attachThreadInput(m_idOwner, m_idCurrent, false); }
    ThreadInputAttachment(const ThreadInputAttachment&) = delete;
    ThreadInputAttachment& operator=(const ThreadInputAttachment&) = delete;

private:
    platform::WindowPlatform& m_desktop;
    std::uint32_t m_idOwner;
    std::uint32_t m_idCurrent;
};

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {}

MainWindow::~MainWindow() = default;

void MainWindow::switchFullScreen(bool bFull, bool bRememberForeground) {
    if (isFullScreen() == bFull) return;
    platform::WindowPlatform& desktop = platform::activeWindowPlatform();
    if (bFull) {
        m_pOldParent = parentWidget();
        m_rcOldGeometry = geometry();
        setParent(QApplication::desktop());
        std::optional<ThreadInputAttachment> attachment;
        if (bRememberForeground) {
            m_hForegroundWnd = desktop.getForegroundWindow();
            attachment.emplace(m_hForegroundWnd);
        }
        setFocus();
        showFullScreen();
        return;
    }

    if (m_hForegroundWnd) {
        qDebug() << "enter exit fullscreen";
        {
            const ThreadInputAttachment attachment(desktop.getForegroundWindow());
            desktop.setForegroundWindow(m_hForegroundWnd);
        }
        m_hForegroundWnd = 0;
    }
    showNormal();
    setParent(m_pOldParent);
    show();
    m_pOldParent = nullptr;
    setGeometry(m_rcOldGeometry);
    emitEvent(&MainWindow::sigFullScreenChange,
              eventText(QStringLiteral("window.onFullScreenChange"), {{QStringLiteral("full"), false}}));
    emit sigQuitedFullScreen();
}

void MainWindow::onPlayWindowEvent(const QJsonObject& data) {
    if (!m_bFullScreenCapability) {
        switchFullScreen(false, false);
        return;
    }
    const int iWndIndex = data.value(QStringLiteral("wndIndex")).toInt();
    if (!VC_IsWindowPlaying(this, iWndIndex)) return;

    if (!isFullScreen()) {
        switchFullScreen(true, false);
        // The count is asked anew at each step: the library may change it.
        for (int i = 0; i < VC_WindowCount(this); ++i) {
            if (i != iWndIndex) VC_HideWindow(this, i);
        }
        m_nFullScreenMode = 1;
    } else if (m_nFullScreenMode == 0) {
        // Entered by the command: stay in full screen and toggle between the
        // one play window and all of them.
        for (int i = 0; i < VC_WindowCount(this); ++i) {
            if (i == iWndIndex || VC_IsWindowHidden(this, i)) {
                VC_ShowWindow(this, i);
            } else {
                VC_HideWindow(this, i);
            }
        }
    } else if (m_nFullScreenMode == 1) {
        showAllPlayWindows();
        switchFullScreen(false, false);
    }
}

QString MainWindow::eventText(const QString& strName, const QJsonObject& content) const {
    QJsonObject event{{QStringLiteral("cmd"), strName},
                      {QStringLiteral("uuid"), objectName()},
                      {QStringLiteral("errorCode"), 0},
                      {QStringLiteral("errorModule"), QString()}};
    for (auto it = content.constBegin(); it != content.constEnd(); ++it) event.insert(it.key(), it.value());
    return QString::fromUtf8(QJsonDocument(event).toJson());
}

void MainWindow::emitEvent(EventSignal pfnSignal, const QString& strEvent) {
    emit(this->*pfnSignal)(objectName(), strEvent);
}

void MainWindow::reportFisheyePTZInfo(const QJsonObject& data) {
    emitEvent(&MainWindow::sigFisheyePTZEvent, eventText(QStringLiteral("window.onFisheyePTZInfo"), data));
}

void MainWindow::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Escape && isFullScreen()) {
        showAllPlayWindows();
        switchFullScreen(false, false);
    }
    pEvent->accept();
}

void MainWindow::showAllPlayWindows() {
    for (int i = 0; i < VC_WindowCount(this); ++i) VC_ShowWindow(this, i);
}

}  // namespace NEVER_USE_ME
