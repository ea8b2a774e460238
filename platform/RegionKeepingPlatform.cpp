#include "RegionKeepingPlatform.h"

namespace platform {

Hrgn RegionKeepingPlatform::createRectRgn(int iLeft, int iTop, int iRight, int iBottom) {
    return m_regions.create(RectRegion::rect(iLeft, iTop, iRight, iBottom));
}

Hrgn RegionKeepingPlatform::createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                                               int iHeightEllipse) {
    return m_regions.create(RectRegion::roundRect(iLeft, iTop, iRight, iBottom, iWidthEllipse, iHeightEllipse));
}

int RegionKeepingPlatform::combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) {
    return m_regions.combine(hDest, hSrc1, hSrc2, iMode);
}

int RegionKeepingPlatform::getWindowRgn(Hwnd hWnd, Hrgn hRgn) {
    RectRegion* pRegion = m_regions.find(hRgn);
    if (!pRegion) return kRgnError;
    std::optional<RectRegion> shape = windowShape(hWnd);
    if (!shape) return kRgnError;
    *pRegion = std::move(*shape);
    return pRegion->kind();
}

bool RegionKeepingPlatform::setWindowRgn(Hwnd hWnd, Hrgn hRgn, bool bRedraw) {
    if (hRgn == 0) return applyWindowShape(hWnd, nullptr, bRedraw);
    RectRegion region;
    if (!m_regions.take(hRgn, region)) return false;
    return applyWindowShape(hWnd, &region, bRedraw);
}

bool RegionKeepingPlatform::deleteObject(Hrgn hRgn) {
    return m_regions.remove(hRgn);
}

int RegionKeepingPlatform::getRgnBox(Hrgn hRgn, WinRect& rect) {
    const RectRegion* pRegion = m_regions.find(hRgn);
    if (!pRegion) return kRgnError;
    rect = pRegion->boundingRect();
    return pRegion->kind();
}

}  // namespace platform
