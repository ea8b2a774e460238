// Geometry shared by the backends that work out monitors themselves.
#ifndef PLATFORM_MONITORCHOICE_H
#define PLATFORM_MONITORCHOICE_H

#include "WindowPlatform.h"

#include <vector>

namespace platform {

// Area shared by two rectangles (0 when they do not meet).
long long overlapArea(const WinRect& a, const WinRect& b);

// Squared distance between the nearest edges of two rectangles.
long long distanceSquared(const WinRect& a, const WinRect& b);

// The monitor of a window as MonitorFromWindow picks it: the one that shares
// the largest area with the window's rectangle; when none does (or there is
// no rectangle), the nearest or the primary one as uFlags ask, else none.
// Monitors are numbered from 1 in the order of vecMonitors.
Hmonitor chooseMonitor(const std::vector<MonitorInfo>& vecMonitors, const WinRect* pWindowRect, unsigned uFlags);

}  // namespace platform

#endif  // PLATFORM_MONITORCHOICE_H
