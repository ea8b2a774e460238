#include "EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformintegration.h>

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr int kEventsPerTurn = 256;
}  // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* pParent)
    : QAbstractEventDispatcher(pParent), m_iEpoll(epoll_create1(EPOLL_CLOEXEC)) {
    if (m_iEpoll < 0) qFatal("epoll_create1: %s", strerror(errno));
}

EpollEventDispatcher::~EpollEventDispatcher() {
    delete m_pEpollNotifier;
    delete m_pPlatform.load();
    ::close(m_iEpoll);
}

EpollEventDispatcher::Slot EpollEventDispatcher::slotFor(QSocketNotifier::Type type) {
    switch (type) {
    case QSocketNotifier::Read: return &Watch::pRead;
    case QSocketNotifier::Write: return &Watch::pWrite;
    case QSocketNotifier::Exception: break;
    }
    return &Watch::pException;
}

quint32 EpollEventDispatcher::Watch::epollEvents() const {
    return (pRead ? EPOLLIN : 0u) | (pWrite ? EPOLLOUT : 0u) | (pException ? EPOLLPRI : 0u);
}

QAbstractEventDispatcher* EpollEventDispatcher::platformDispatcher() {
    if (QAbstractEventDispatcher* pPlatform = m_pPlatform.load()) return pPlatform;
    QPlatformIntegration* pIntegration = QGuiApplicationPrivate::platformIntegration();
    if (!pIntegration) qFatal("EpollEventDispatcher: used before the platform integration exists");
    QAbstractEventDispatcher* pPlatform = pIntegration->createEventDispatcher();
    // Code that waits for the loop to block or wake (xcb flushes its requests
    // then) connects to this dispatcher, the thread's.
    connect(pPlatform, &QAbstractEventDispatcher::aboutToBlock, this, &QAbstractEventDispatcher::aboutToBlock);
    connect(pPlatform, &QAbstractEventDispatcher::awake, this, &QAbstractEventDispatcher::awake);
    m_pPlatform.store(pPlatform);
    // Registered through the thread's dispatcher (this one), which passes
    // the epoll descriptor on to the platform's.
    m_pEpollNotifier = new QSocketNotifier(m_iEpoll, QSocketNotifier::Read);
    connect(m_pEpollNotifier, &QSocketNotifier::activated, this, &EpollEventDispatcher::onEpollReady);
    return pPlatform;
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    QAbstractEventDispatcher* pPlatform = platformDispatcher();
    // Every turn ends here, after its handlers ran and before the next wait.
    applyPending();
    return pPlatform->processEvents(flags);
}

bool EpollEventDispatcher::hasPendingEvents() {
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return platformDispatcher()->hasPendingEvents();
    QT_WARNING_POP
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* pNotifier) {
    const int iSocket = int(pNotifier->socket());
    if (iSocket == m_iEpoll) {
        platformDispatcher()->registerSocketNotifier(pNotifier);
        return;
    }
    Watch& watch = m_hashWatches[iSocket];
    QSocketNotifier*& pSlot = watch.*slotFor(pNotifier->type());
    const bool bReplaced = pSlot != nullptr;
    pSlot = pNotifier;
    if (watch.uApplied && !bReplaced) {
        markPending(iSocket, watch);
        return;
    }
    epoll_event event{watch.epollEvents(), {}};
    event.data.fd = iSocket;
    // A descriptor closed while its notifiers were still on has left the set
    // without a word; its number may now be another socket's (which replaces
    // the stale notifier), which is added.
    int iResult = epoll_ctl(m_iEpoll, watch.uApplied ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, iSocket, &event);
    if (iResult != 0 && errno == ENOENT) iResult = epoll_ctl(m_iEpoll, EPOLL_CTL_ADD, iSocket, &event);
    if (iResult != 0 && errno == EEXIST) iResult = epoll_ctl(m_iEpoll, EPOLL_CTL_MOD, iSocket, &event);
    if (iResult != 0) {
        qWarning("EpollEventDispatcher: cannot watch descriptor %d: %s", iSocket, strerror(errno));
        pSlot = nullptr;
        if (!watch.epollEvents() && !watch.bPending) m_hashWatches.remove(iSocket);
        return;
    }
    watch.uApplied = event.events;
}

void EpollEventDispatcher::markPending(int iSocket, Watch& watch) {
    if (watch.bPending) return;
    watch.bPending = true;
    m_listPending.append(iSocket);
}

void EpollEventDispatcher::applyPending() {
    // A descriptor's number may come again after it left: looked up each time.
    for (int iSocket : qAsConst(m_listPending)) {
        const auto it = m_hashWatches.find(iSocket);
        if (it == m_hashWatches.end() || !it->bPending) continue;
        it->bPending = false;
        epoll_event event{it->epollEvents(), {}};
        event.data.fd = iSocket;
        if (event.events == it->uApplied) continue;
        if (event.events == 0) {
            epoll_ctl(m_iEpoll, EPOLL_CTL_DEL, iSocket, nullptr);
            m_hashWatches.erase(it);
            continue;
        }
        int iResult = epoll_ctl(m_iEpoll, EPOLL_CTL_MOD, iSocket, &event);
        if (iResult != 0 && errno == ENOENT) iResult = epoll_ctl(m_iEpoll, EPOLL_CTL_ADD, iSocket, &event);
        it->uApplied = iResult == 0 ? event.events : 0;
    }
    m_listPending.clear();
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* pNotifier) {
    const int iSocket = int(pNotifier->socket());
    if (iSocket == m_iEpoll) {
        if (QAbstractEventDispatcher* pPlatform = m_pPlatform.load()) pPlatform->unregisterSocketNotifier(pNotifier);
        return;
    }
    const auto it = m_hashWatches.find(iSocket);
    if (it == m_hashWatches.end() || (*it).*slotFor(pNotifier->type()) != pNotifier) return;
    (*it).*slotFor(pNotifier->type()) = nullptr;
    // The last notifier leaves the set at once: its descriptor is closed
    // next, and its number may come back for another socket. (It may already
    // be closed: the kernel then dropped it from the set; nothing to undo.)
    if (it->epollEvents() == 0) {
        if (it->uApplied) epoll_ctl(m_iEpoll, EPOLL_CTL_DEL, iSocket, nullptr);
        m_hashWatches.erase(it);
        return;
    }
    markPending(iSocket, *it);
}

void EpollEventDispatcher::onEpollReady() {
    applyPending();
    epoll_event events[kEventsPerTurn];
    const int iReady = epoll_wait(m_iEpoll, events, kEventsPerTurn, 0);
    for (int i = 0; i < iReady; ++i) {
        const int iSocket = events[i].data.fd;
        const uint32_t uEvents = events[i].events;
        // As with poll(2): a hang-up or an error wakes readers and writers, so
        // that they see it on their next call.
        if (uEvents & (EPOLLIN | EPOLLHUP | EPOLLERR)) activate(iSocket, &Watch::pRead);
        if (uEvents & (EPOLLOUT | EPOLLHUP | EPOLLERR)) activate(iSocket, &Watch::pWrite);
        if (uEvents & EPOLLPRI) activate(iSocket, &Watch::pException);
    }
}

// Looked up again for each notification: a handler may have removed or
// replaced any notifier, this descriptor's included.
void EpollEventDispatcher::activate(int iSocket, Slot slot) {
    const auto it = m_hashWatches.constFind(iSocket);
    if (it == m_hashWatches.constEnd() || !((*it).*slot)) return;
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent((*it).*slot, &event);
}

void EpollEventDispatcher::registerTimer(int iTimerId, int iInterval, Qt::TimerType timerType, QObject* pObject) {
    platformDispatcher()->registerTimer(iTimerId, iInterval, timerType, pObject);
}

bool EpollEventDispatcher::unregisterTimer(int iTimerId) {
    QAbstractEventDispatcher* pPlatform = m_pPlatform.load();
    return pPlatform && pPlatform->unregisterTimer(iTimerId);
}

bool EpollEventDispatcher::unregisterTimers(QObject* pObject) {
    QAbstractEventDispatcher* pPlatform = m_pPlatform.load();
    return pPlatform && pPlatform->unregisterTimers(pObject);
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject* pObject) const {
    QAbstractEventDispatcher* pPlatform = m_pPlatform.load();
    return pPlatform ? pPlatform->registeredTimers(pObject) : QList<TimerInfo>();
}

int EpollEventDispatcher::remainingTime(int iTimerId) {
    return platformDispatcher()->remainingTime(iTimerId);
}

// Before the platform's dispatcher exists nothing waits in it, so a wake-up
// has nothing to do.
void EpollEventDispatcher::wakeUp() {
    if (QAbstractEventDispatcher* pPlatform = m_pPlatform.load()) pPlatform->wakeUp();
}

void EpollEventDispatcher::interrupt() {
    if (QAbstractEventDispatcher* pPlatform = m_pPlatform.load()) pPlatform->interrupt();
}

void EpollEventDispatcher::flush() {
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    if (QAbstractEventDispatcher* pPlatform = m_pPlatform.load()) pPlatform->flush();
    QT_WARNING_POP
}

void EpollEventDispatcher::startingUp() {
    platformDispatcher()->startingUp();
}

void EpollEventDispatcher::closingDown() {
    if (QAbstractEventDispatcher* pPlatform = m_pPlatform.load()) pPlatform->closingDown();
}
