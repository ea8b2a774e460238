// Millisecond tick counter of the system, as a 32-bit value that wraps about
// every 49.7 days. Differences are taken as unsigned 32-bit values, so a wrap
// between two readings is harmless.
#ifndef PLATFORM_TICKCOUNT_H
#define PLATFORM_TICKCOUNT_H

#include <cstdint>

namespace platform {

typedef std::uint32_t (*TickCountSource)();

// Milliseconds since an arbitrary start (system start on Windows), from the
// installed source.
std::uint32_t tickCount();

// Replaces the counter (tests); null restores the system counter. Not meant
// to be switched while other threads read the counter.
void setTickCountSource(TickCountSource pfnSource);

}  // namespace platform

#endif  // PLATFORM_TICKCOUNT_H
