#include "QuitOnSignal.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int s_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe.
void onTerminationSignal(int) {
    const char cByte = 1;
    [[maybe_unused]] const ssize_t iWritten = ::write(s_signalPipe[0], &cByte, 1);
}
}  // namespace

void quitEventLoopOnTerminationSignals() {
    if (s_signalPipe[0] != -1) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_signalPipe) != 0) return;
    ::fcntl(s_signalPipe[0], F_SETFL, O_NONBLOCK);

    auto* pNotifier = new QSocketNotifier(s_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(pNotifier, &QSocketNotifier::activated, pNotifier, [pNotifier]() {
        char cByte;
        [[maybe_unused]] const ssize_t iRead = ::read(s_signalPipe[1], &cByte, 1);
        pNotifier->setEnabled(false);
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#else
void quitEventLoopOnTerminationSignals() {}
#endif
