#include "TickCount.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace platform {

namespace {

std::uint32_t systemTickCount() {
#ifdef _WIN32
    return static_cast<std::uint32_t>(GetTickCount());
#else
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms =
        static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
#endif
}

std::atomic<TickCountSource> g_pfnSource{nullptr};

}  // namespace

std::uint32_t tickCount() {
    const TickCountSource pfnSource = g_pfnSource.load(std::memory_order_acquire);
    return pfnSource ? pfnSource() : systemTickCount();
}

void setTickCountSource(TickCountSource pfnSource) {
    g_pfnSource.store(pfnSource, std::memory_order_release);
}

}  // namespace platform
