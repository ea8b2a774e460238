#include "RectRegion.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

using Spans = std::vector<std::pair<int, int>>;

// Sorts spans and joins overlapping or touching ones.
Spans normalised(Spans vecSpans) {
    std::sort(vecSpans.begin(), vecSpans.end());
    Spans vecOut;
    for (const auto& span : vecSpans) {
        if (span.first >= span.second) continue;
        if (!vecOut.empty() && span.first <= vecOut.back().second) {
            vecOut.back().second = std::max(vecOut.back().second, span.second);
        } else {
            vecOut.push_back(span);
        }
    }
    return vecOut;
}

bool inSpans(const Spans& vecSpans, int x) {
    for (const auto& span : vecSpans) {
        if (x < span.first) return false;
        if (x < span.second) return true;
    }
    return false;
}

}  // namespace

RectRegion RectRegion::rect(int iLeft, int iTop, int iRight, int iBottom) {
    if (iLeft > iRight) std::swap(iLeft, iRight);
    if (iTop > iBottom) std::swap(iTop, iBottom);
    RectRegion region;
    if (iLeft < iRight && iTop < iBottom) region.m_vecBands.push_back(Band{iTop, iBottom, {{iLeft, iRight}}});
    return region;
}

RectRegion RectRegion::roundRect(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse, int iHeightEllipse) {
    if (iLeft > iRight) std::swap(iLeft, iRight);
    if (iTop > iBottom) std::swap(iTop, iBottom);
    const int iWidth = iRight - iLeft;
    const int iHeight = iBottom - iTop;
    const int iEllipseW = std::min(std::abs(iWidthEllipse), iWidth);
    const int iEllipseH = std::min(std::abs(iHeightEllipse), iHeight);
    if (iEllipseW < 2 || iEllipseH < 2) return rect(iLeft, iTop, iRight, iBottom);

    const double dRx = iEllipseW / 2.0;
    const double dRy = iEllipseH / 2.0;
    RectRegion region;
    for (int iRow = 0; iRow < iHeight; ++iRow) {
        // Distance in rows from the nearer horizontal edge.
        const int iEdgeRow = std::min(iRow, iHeight - 1 - iRow);
        int iInset = 0;
        if (iEdgeRow < dRy) {
            const double dY = dRy - (iEdgeRow + 0.5);  // pixel centre to the ellipse centre
            const double dRatio = dY / dRy;
            const double dHalf = dRx * std::sqrt(std::max(0.0, 1.0 - dRatio * dRatio));
            // First column whose centre lies inside: x + 0.5 >= rx - half.
            iInset = static_cast<int>(std::ceil(dRx - dHalf - 0.5));
            iInset = std::max(0, iInset);
        }
        if (iLeft + iInset < iRight - iInset) {
            region.appendBand(iTop + iRow, iTop + iRow + 1, Spans{{iLeft + iInset, iRight - iInset}});
        }
    }
    return region;
}

void RectRegion::appendBand(int iTop, int iBottom, Spans&& vecSpans) {
    if (vecSpans.empty() || iTop >= iBottom) return;
    if (!m_vecBands.empty()) {
        Band& last = m_vecBands.back();
        if (last.iBottom == iTop && last.vecSpans == vecSpans) {
            last.iBottom = iBottom;
            return;
        }
    }
    m_vecBands.push_back(Band{iTop, iBottom, std::move(vecSpans)});
}

RectRegion RectRegion::combine(const RectRegion& a, const RectRegion& b, Op op) {
    std::vector<int> vecYs;
    for (const RectRegion* pRegion : {&a, &b}) {
        for (const Band& band : pRegion->m_vecBands) {
            vecYs.push_back(band.iTop);
            vecYs.push_back(band.iBottom);
        }
    }
    std::sort(vecYs.begin(), vecYs.end());
    vecYs.erase(std::unique(vecYs.begin(), vecYs.end()), vecYs.end());

    RectRegion result;
    size_t iA = 0, iB = 0;
    static const Spans s_empty;
    for (size_t i = 0; i + 1 < vecYs.size(); ++i) {
        const int iY0 = vecYs[i];
        const int iY1 = vecYs[i + 1];
        while (iA < a.m_vecBands.size() && a.m_vecBands[iA].iBottom <= iY0) ++iA;
        while (iB < b.m_vecBands.size() && b.m_vecBands[iB].iBottom <= iY0) ++iB;
        const Spans& spansA =
            (iA < a.m_vecBands.size() && a.m_vecBands[iA].iTop <= iY0) ? a.m_vecBands[iA].vecSpans : s_empty;
        const Spans& spansB =
            (iB < b.m_vecBands.size() && b.m_vecBands[iB].iTop <= iY0) ? b.m_vecBands[iB].vecSpans : s_empty;

        // Sweep over every x edge of both span lists.
        std::vector<int> vecXs;
        for (const auto& span : spansA) {
            vecXs.push_back(span.first);
            vecXs.push_back(span.second);
        }
        for (const auto& span : spansB) {
            vecXs.push_back(span.first);
            vecXs.push_back(span.second);
        }
        std::sort(vecXs.begin(), vecXs.end());
        vecXs.erase(std::unique(vecXs.begin(), vecXs.end()), vecXs.end());
        Spans vecOut;
        for (size_t j = 0; j + 1 < vecXs.size(); ++j) {
            const bool bA = inSpans(spansA, vecXs[j]);
            const bool bB = inSpans(spansB, vecXs[j]);
            bool bIn = false;
            switch (op) {
            case Op::Or: bIn = bA || bB; break;
            case Op::Diff: bIn = bA && !bB; break;
            case Op::And: bIn = bA && bB; break;
            case Op::Xor: bIn = bA != bB; break;
            }
            if (bIn) vecOut.emplace_back(vecXs[j], vecXs[j + 1]);
        }
        result.appendBand(iY0, iY1, normalised(std::move(vecOut)));
    }
    return result;
}

RectRegion RectRegion::united(const RectRegion& other) const {
    return combine(*this, other, Op::Or);
}
RectRegion RectRegion::subtracted(const RectRegion& other) const {
    return combine(*this, other, Op::Diff);
}
RectRegion RectRegion::intersected(const RectRegion& other) const {
    return combine(*this, other, Op::And);
}
RectRegion RectRegion::xored(const RectRegion& other) const {
    return combine(*this, other, Op::Xor);
}

RectRegion RectRegion::translated(int dx, int dy) const {
    RectRegion region = *this;
    for (Band& band : region.m_vecBands) {
        band.iTop += dy;
        band.iBottom += dy;
        for (auto& span : band.vecSpans) {
            span.first += dx;
            span.second += dx;
        }
    }
    return region;
}

bool RectRegion::contains(int x, int y) const {
    for (const Band& band : m_vecBands) {
        if (y < band.iTop) return false;
        if (y < band.iBottom) return inSpans(band.vecSpans, x);
    }
    return false;
}

WinRect RectRegion::boundingRect() const {
    WinRect rect;
    if (m_vecBands.empty()) return rect;
    rect.top = m_vecBands.front().iTop;
    rect.bottom = m_vecBands.back().iBottom;
    rect.left = m_vecBands.front().vecSpans.front().first;
    rect.right = m_vecBands.front().vecSpans.back().second;
    for (const Band& band : m_vecBands) {
        rect.left = std::min(rect.left, band.vecSpans.front().first);
        rect.right = std::max(rect.right, band.vecSpans.back().second);
    }
    return rect;
}

std::vector<WinRect> RectRegion::rects() const {
    std::vector<WinRect> vecRects;
    for (const Band& band : m_vecBands) {
        for (const auto& span : band.vecSpans)
            vecRects.push_back(WinRect{span.first, band.iTop, span.second, band.iBottom});
    }
    return vecRects;
}

long long RectRegion::area() const {
    long long llArea = 0;
    for (const Band& band : m_vecBands) {
        for (const auto& span : band.vecSpans)
            llArea += static_cast<long long>(span.second - span.first) * (band.iBottom - band.iTop);
    }
    return llArea;
}

int RectRegion::kind() const {
    if (m_vecBands.empty()) return kNullRegion;
    if (m_vecBands.size() == 1 && m_vecBands.front().vecSpans.size() == 1) return kSimpleRegion;
    return kComplexRegion;
}

bool RectRegion::operator==(const RectRegion& other) const {
    return m_vecBands == other.m_vecBands;
}

Hrgn RegionTable::create(RectRegion region) {
    const Hrgn hRgn = m_hNext++;
    m_mapRegions.emplace(hRgn, std::move(region));
    return hRgn;
}

RectRegion* RegionTable::find(Hrgn hRgn) {
    const auto it = m_mapRegions.find(hRgn);
    return it == m_mapRegions.end() ? nullptr : &it->second;
}

bool RegionTable::remove(Hrgn hRgn) {
    return m_mapRegions.erase(hRgn) > 0;
}

bool RegionTable::take(Hrgn hRgn, RectRegion& region) {
    const auto it = m_mapRegions.find(hRgn);
    if (it == m_mapRegions.end()) return false;
    region = std::move(it->second);
    m_mapRegions.erase(it);
    return true;
}

int RegionTable::combine(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) {
    RectRegion* pDest = find(hDest);
    RectRegion* pSrc1 = find(hSrc1);
    if (!pDest || !pSrc1) return kRgnError;
    if (iMode == kRgnCopy) {
        *pDest = *pSrc1;
        return pDest->kind();
    }
    RectRegion* pSrc2 = find(hSrc2);
    if (!pSrc2) return kRgnError;
    switch (iMode) {
    case kRgnAnd: *pDest = pSrc1->intersected(*pSrc2); break;
    case kRgnOr: *pDest = pSrc1->united(*pSrc2); break;
    case kRgnXor: *pDest = pSrc1->xored(*pSrc2); break;
    case kRgnDiff: *pDest = pSrc1->subtracted(*pSrc2); break;
    default: return kRgnError;
    }
    return pDest->kind();
}

}  // namespace platform
