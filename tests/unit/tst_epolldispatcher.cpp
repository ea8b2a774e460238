// The epoll dispatcher under a real application object: handlers that remove
// notifiers in the middle of a turn, and descriptors closed under a notifier
// and then reused.
#include "EpollEventDispatcher.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {
// Both ends of a connected UNIX stream pair, closed when dropped.
struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd); }
    ~SocketPair() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void send() const { QCOMPARE(::write(fd[1], "x", 1), ssize_t(1)); }
};
}  // namespace

class TestEpollDispatcher : public QObject {
    Q_OBJECT

private slots:
    void dispatcherIsInstalled() { QVERIFY(qobject_cast<EpollEventDispatcher*>(QAbstractEventDispatcher::instance())); }

    // Two descriptors ready in the same turn; whichever handler runs first
    // deletes the other's notifier, which must then not be called, and stops
    // its own.
    void aHandlerDeletesAnotherNotifier() {
        SocketPair a, b;
        auto pA = std::make_unique<QSocketNotifier>(a.fd[0], QSocketNotifier::Read);
        auto pB = std::make_unique<QSocketNotifier>(b.fd[0], QSocketNotifier::Read);
        int iCalls = 0;
        connect(pA.get(), &QSocketNotifier::activated, this, [&] {
            ++iCalls;
            pB.reset();
            pA->setEnabled(false);
        });
        connect(pB.get(), &QSocketNotifier::activated, this, [&] {
            ++iCalls;
            pA.reset();
            pB->setEnabled(false);
        });
        a.send();
        b.send();
        QTRY_COMPARE(iCalls, 1);
        QTest::qWait(50);
        QCOMPARE(iCalls, 1);
    }

    // The peer going away wakes a reader with nothing to read.
    void hangUpWakesTheReader() {
        SocketPair pair;
        QSocketNotifier notifier(pair.fd[0], QSocketNotifier::Read);
        QSignalSpy spy(&notifier, &QSocketNotifier::activated);
        ::close(pair.fd[1]);
        pair.fd[1] = -1;
        QTRY_VERIFY(spy.count() > 0);
    }

    // A descriptor closed while its notifier is on leaves the epoll set
    // silently; a socket given the same number must still be watched.
    void reusedDescriptorIsWatched() {
        auto pOld = std::make_unique<SocketPair>();
        const int iNumber = pOld->fd[0];
        QSocketNotifier stale(iNumber, QSocketNotifier::Read);
        ::close(pOld->fd[0]);
        pOld->fd[0] = -1;
        SocketPair fresh;
        if (fresh.fd[0] != iNumber && fresh.fd[1] != iNumber) QSKIP("the descriptor number was not reused");
        const int iEnd = fresh.fd[0] == iNumber ? 0 : 1;
        QSocketNotifier notifier(iNumber, QSocketNotifier::Read);
        QSignalSpy spy(&notifier, &QSocketNotifier::activated);
        QCOMPARE(::write(fresh.fd[1 - iEnd], "x", 1), ssize_t(1));
        QTRY_VERIFY(spy.count() > 0);
        char c;
        QCOMPARE(::read(iNumber, &c, 1), ssize_t(1));
        stale.setEnabled(false);
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
    QApplication app(argc, argv);
    TestEpollDispatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_epolldispatcher.moc"
