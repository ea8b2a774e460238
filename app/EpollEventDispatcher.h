// The main thread's event dispatcher on Linux. Qt's own dispatchers hand
// every watched socket to poll(2) on each turn of the event loop, so with
// thousands of idle WebSocket clients open every request pays for all of
// them. This one keeps the socket notifiers in one epoll set and lets the
// platform's dispatcher (the one Qt would have made: xcb's, the offscreen
// platform's) do everything else, watching only the epoll descriptor.
//
// Install it with QCoreApplication::setEventDispatcher() before the
// application object (a QGuiApplication) is made. The platform's dispatcher
// is made on first use, which comes after the application object has made
// its platform integration; a wake-up before then has nobody to wake and is
// dropped.
//
// A descriptor joins the epoll set at once; later changes of what it is
// watched for (a socket turns its write notifier on for every answer and off
// once it is written) are applied once per turn of the loop, before it
// waits, so that on and off within one turn cost no system call.
//
// Main thread only, as every dispatcher, apart from wakeUp() and interrupt(),
// which may come from any thread.
#ifndef APP_EPOLLEVENTDISPATCHER_H
#define APP_EPOLLEVENTDISPATCHER_H

#include <QAbstractEventDispatcher>
#include <QHash>
#include <QVector>
#include <QSocketNotifier>

#include <atomic>

class EpollEventDispatcher final : public QAbstractEventDispatcher {
    Q_OBJECT

public:
    explicit EpollEventDispatcher(QObject* pParent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;

    void registerSocketNotifier(QSocketNotifier* pNotifier) override;
    void unregisterSocketNotifier(QSocketNotifier* pNotifier) override;

    void registerTimer(int iTimerId, int iInterval, Qt::TimerType timerType, QObject* pObject) override;
    bool unregisterTimer(int iTimerId) override;
    bool unregisterTimers(QObject* pObject) override;
    QList<TimerInfo> registeredTimers(QObject* pObject) const override;
    int remainingTime(int iTimerId) override;

    void wakeUp() override;
    void interrupt() override;
    void flush() override;
    void startingUp() override;
    void closingDown() override;

private:
    // The notifiers of one descriptor, one per kind.
    struct Watch {
        QSocketNotifier* pRead = nullptr;
        QSocketNotifier* pWrite = nullptr;
        QSocketNotifier* pException = nullptr;
        quint32 uApplied = 0;         // what the epoll set watches for now
        bool bPending = false;        // listed in m_listPending
        quint32 epollEvents() const;  // what epoll is to watch for
    };

    using Slot = QSocketNotifier* Watch::*;
    static Slot slotFor(QSocketNotifier::Type type);

    QAbstractEventDispatcher* platformDispatcher();
    void onEpollReady();
    void activate(int iSocket, Slot slot);
    // Brings the epoll set in line with the notifiers changed this turn.
    void applyPending();
    void markPending(int iSocket, Watch& watch);

    int m_iEpoll = -1;
    QHash<int, Watch> m_hashWatches;
    QVector<int> m_listPending;                   // descriptors whose watch changed
    QSocketNotifier* m_pEpollNotifier = nullptr;  // watched by the platform's dispatcher
    // Written once, on the main thread; read by wakeUp() from any thread.
    std::atomic<QAbstractEventDispatcher*> m_pPlatform{nullptr};
};

#endif  // APP_EPOLLEVENTDISPATCHER_H
