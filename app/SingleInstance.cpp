#include "SingleInstance.h"

#include <QSharedMemory>
#include <QString>

namespace {
constexpr int kSegmentSize = 100;
}

bool checkSingleInstance(const char* szKey) {
    const QString strKey = QString::fromUtf8(szKey);
    static QSharedMemory s_lock(strKey);

    if (s_lock.isAttached()) return true;
#ifdef Q_OS_UNIX
    // On Unix a segment outlives a process that was killed outright. Attach
    // and detach once first: detaching removes a segment that nobody else is
    // attached to, while a live instance stays attached and keeps it.
    {
        QSharedMemory stale(strKey);
        if (stale.attach(QSharedMemory::ReadOnly)) stale.detach();
    }
#endif
    return s_lock.create(kSegmentSize, QSharedMemory::ReadWrite);
}
