#include "ProcessLimits.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
constexpr int kMallocArenas = 2;
constexpr int kTrimThresholdBytes = 16 * 1024 * 1024;
}  // namespace

long raiseDescriptorLimit() {
#ifdef Q_OS_UNIX
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(limit.rlim_cur);
#else
    return 0;
#endif
}

long descriptorLimit() {
#ifdef Q_OS_UNIX
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    return limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(limit.rlim_cur);
#else
    return 0;
#endif
}

long descriptorReserve(long iDescriptorLimit) {
    return iDescriptorLimit > 0 ? qMin<long>(kDescriptorReserve, iDescriptorLimit / 2) : 0;
}

int connectionCap(int iMaxConnections, long iDescriptorLimit) {
    const int iMax = qMax(1, iMaxConnections);
    if (iDescriptorLimit <= 0) return iMax;
    return static_cast<int>(qBound<long>(1, iDescriptorLimit - descriptorReserve(iDescriptorLimit), iMax));
}

void chooseMemoryPolicy() {
#ifdef __GLIBC__
    ::mallopt(M_ARENA_MAX, kMallocArenas);
    ::mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
#endif
}
