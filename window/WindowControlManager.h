// The registry of native windows, keyed by the exact "uuid" of the request
// that created them: carries out the window commands on the registered
// window, forwards video commands to it, runs the two timers that keep every
// window with its browser (15 ms and 100 ms, coarse, windows visited in
// registry order; they run only while a window is registered, so that an
// idle service does not wake) and relays the windows' events.
//
// One per process (instance()); it owns the registered windows. A window
// the desktop closes (Alt+F4, a close request of the window manager) ends:
// it is deleted and its entry leaves the registry when it is destroyed, so
// the page's next command answers as for an unknown uuid. GUI thread only:
// the registry has no lock (only the singleton's creation takes one).
#ifndef WINDOW_WINDOWCONTROLMANAGER_H
#define WINDOW_WINDOWCONTROLMANAGER_H

#include "EventSignals.h"
#include "Singleton.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class CompactJson;
class LaterAnswer;
class WindowControl;

namespace video {
struct VideoCommand;
}

class WindowControlManager : public QObject, public Base::CSingleton<WindowControlManager> {
    Q_OBJECT
    friend class Base::CSingleton<WindowControlManager>;

public:
    ~WindowControlManager() override;

    // The window commands: each takes the whole request and returns the
    // compact response ("sequence" and "uuid" as text, "errorModule" 0 or 5,
    // "errorCode" 0, 5000 or 5001 from createWnd). An unregistered "uuid" is answered with success.
    QString createWnd(const QJsonObject& request);
    QString showWnd(const QJsonObject& request);
    QString hideWnd(const QJsonObject& request);
    QString destroyWnd(const QJsonObject& request);
    QString setWndGeometry(const QJsonObject& request);
    QString setWndZOrder(const QJsonObject& request);
    QString setWndCover(const QJsonObject& request);
    QString updateParentWnd(const QJsonObject& request);
    QString getLocalServiceVersion(const QJsonObject& request);
    QString cuttingPartWindow(const QJsonObject& request);
    QString repairPartWindow(const QJsonObject& request);
    QString setWindowSelected(const QJsonObject& request);

    // The client uuid is gone: its window stops all play, closes and goes.
    void closeByUuid(QString uuid);

    // A video command: on the window registered under the request's "uuid"
    // when the command is bound to a window (the empty text when none is),
    // otherwise without a window. pLater as for WebClientComponents::runGlobal.
    QString forwardVideo(const video::VideoCommand& command, const QJsonObject& request, LaterAnswer* pLater = nullptr);

    // The window registered under strUuid, or null.
    WindowControl* window(const QString& strUuid) const { return m_mapWindows.value(strUuid); }

signals:
    // The registered windows' events, relayed as they are.
    EVENT_SIGNALS(DECLARE_EVENT_SIGNAL)

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    WindowControlManager();

    // Runs fnCommand on the request with the window registered under its
    // "uuid" (null when none is); fnCommand returns the error code.
    // fnAnswer, when given, adds keys to the answer of that code.
    QString runCommand(const QJsonObject& request,
                       const std::function<int(const QJsonObject&, WindowControl*)>& fnCommand,
                       bool bWithVersion = false, const std::function<void(int, CompactJson&)>& fnAnswer = nullptr);
    // cuttingPartWindow and repairPartWindow: a rectangle and a corner size.
    using PartFn = void (WindowControl::*)(int, int, int, int, int);
    QString runPartCommand(const QJsonObject& request, PartFn fnPart);
    static void release(WindowControl* pWindow);
    // Deletes every registered window and stops the timers (also while the
    // application object is being destroyed, when windows can still go).
    void closeAll();
    // The two timers, started with the first registered window; a tick that
    // finds the registry empty stops them.
    void startTimers();
    void stopTimers();

    // Entries leave when their window is destroyed (see createWnd).
    QMap<QString, WindowControl*> m_mapWindows;
    int m_nFastTimerId = 0;
    int m_nSlowTimerId = 0;
};

#endif  // WINDOW_WINDOWCONTROLMANAGER_H
