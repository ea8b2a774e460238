#include "MonitorChoice.h"

#include <algorithm>
#include <climits>

namespace platform {

long long overlapArea(const WinRect& a, const WinRect& b) {
    const long long llW = std::max(0, std::min(a.right, b.right) - std::max(a.left, b.left));
    const long long llH = std::max(0, std::min(a.bottom, b.bottom) - std::max(a.top, b.top));
    return llW * llH;
}

long long distanceSquared(const WinRect& a, const WinRect& b) {
    const long long llDx = std::max({0, b.left - a.right, a.left - b.right});
    const long long llDy = std::max({0, b.top - a.bottom, a.top - b.bottom});
    return llDx * llDx + llDy * llDy;
}

Hmonitor chooseMonitor(const std::vector<MonitorInfo>& vecMonitors, const WinRect* pWindowRect, unsigned uFlags) {
    if (vecMonitors.empty()) return 0;
    size_t iPrimary = 0;
    for (size_t i = 0; i < vecMonitors.size(); ++i) {
        if (vecMonitors[i].dwFlags & kMonitorInfoFPrimary) {
            iPrimary = i;
            break;
        }
    }
    if (pWindowRect) {
        long long llBest = 0;
        size_t iBest = 0;
        for (size_t i = 0; i < vecMonitors.size(); ++i) {
            const long long llArea = overlapArea(*pWindowRect, vecMonitors[i].rcMonitor);
            if (llArea > llBest) {
                llBest = llArea;
                iBest = i;
            }
        }
        if (llBest > 0) return iBest + 1;
        if (uFlags == kMonitorDefaultToNearest) {
            long long llNearest = LLONG_MAX;
            for (size_t i = 0; i < vecMonitors.size(); ++i) {
                const long long llDistance = distanceSquared(*pWindowRect, vecMonitors[i].rcMonitor);
                if (llDistance < llNearest) {
                    llNearest = llDistance;
                    iBest = i;
                }
            }
            return iBest + 1;
        }
    }
    if (uFlags == kMonitorDefaultToNearest || uFlags == kMonitorDefaultToPrimary) return iPrimary + 1;
    return 0;
}

}  // namespace platform
