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
}

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

void chooseMemoryPolicy() {
#ifdef __GLIBC__
    ::mallopt(M_ARENA_MAX, kMallocArenas);
#endif
}
