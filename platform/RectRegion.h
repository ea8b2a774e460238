// Regions as exact sets of pixels, kept as horizontal bands of disjoint
// x-intervals (the banded form the desktop's own region code uses), plus the
// handle table that backends without native regions hand out.
#ifndef PLATFORM_RECTREGION_H
#define PLATFORM_RECTREGION_H

#include "WindowPlatform.h"

#include <map>
#include <utility>
#include <vector>

namespace platform {

class RectRegion {
public:
    RectRegion() = default;
    // Right and bottom are exclusive; reversed edges are swapped.
    static RectRegion rect(int iLeft, int iTop, int iRight, int iBottom);
    // A rectangle whose corners are rounded by an ellipse of iWidthEllipse x
    // iHeightEllipse (clamped to the rectangle; below 2 gives square corners).
    // Scan-line approximation: each pixel row keeps the pixels whose centres
    // lie inside the rounded outline, so the rows of a corner step inwards by
    // whole pixels and the shape is symmetric in both axes.
    static RectRegion roundRect(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse, int iHeightEllipse);

    RectRegion united(const RectRegion& other) const;
    RectRegion subtracted(const RectRegion& other) const;
    RectRegion intersected(const RectRegion& other) const;
    RectRegion xored(const RectRegion& other) const;
    RectRegion translated(int dx, int dy) const;

    bool isEmpty() const { return m_vecBands.empty(); }
    bool contains(int x, int y) const;
    WinRect boundingRect() const;
    // Disjoint rectangles, top to bottom, left to right within a band.
    std::vector<WinRect> rects() const;
    long long area() const;
    // kNullRegion, kSimpleRegion or kComplexRegion.
    int kind() const;

    bool operator==(const RectRegion& other) const;
    bool operator!=(const RectRegion& other) const { return !(*this == other); }

private:
    struct Band {
        int iTop;
        int iBottom;
        std::vector<std::pair<int, int>> vecSpans;  // [left, right), sorted, disjoint, not touching
        bool operator==(const Band& other) const {
            return iTop == other.iTop && iBottom == other.iBottom && vecSpans == other.vecSpans;
        }
    };
    enum class Op { Or, Diff, And, Xor };
    static RectRegion combine(const RectRegion& a, const RectRegion& b, Op op);
    void appendBand(int iTop, int iBottom, std::vector<std::pair<int, int>>&& vecSpans);

    std::vector<Band> m_vecBands;  // top to bottom, disjoint
};

// Region handles of backends that keep regions themselves. Handles start at
// a large value so they are never mistaken for small integers.
class RegionTable {
public:
    Hrgn create(RectRegion region);
    RectRegion* find(Hrgn hRgn);
    bool remove(Hrgn hRgn);
    // Removes the handle and hands its region to the caller (a window taking
    // a region over). False for an unknown handle.
    bool take(Hrgn hRgn, RectRegion& region);
    int combine(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode);
    size_t liveCount() const { return m_mapRegions.size(); }

private:
    std::map<Hrgn, RectRegion> m_mapRegions;
    Hrgn m_hNext = 0x10000;
};

}  // namespace platform

#endif  // PLATFORM_RECTREGION_H
