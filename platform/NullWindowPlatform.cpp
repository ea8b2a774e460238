#include "NullWindowPlatform.h"

namespace platform {

int NullWindowPlatform::getWindowText(Hwnd, char16_t* pBuffer, int iMaxCount) {
    if (pBuffer && iMaxCount > 0) pBuffer[0] = 0;
    return 0;
}

int NullWindowPlatform::getClassName(Hwnd, char16_t* pBuffer, int iMaxCount) {
    if (pBuffer && iMaxCount > 0) pBuffer[0] = 0;
    return 0;
}

bool NullWindowPlatform::getWindowRect(Hwnd, WinRect& rect) {
    rect = WinRect();
    return false;
}

bool NullWindowPlatform::getClientRect(Hwnd, WinRect& rect) {
    rect = WinRect();
    return false;
}

Hrgn NullWindowPlatform::createRectRgn(int iLeft, int iTop, int iRight, int iBottom) {
    return m_regions.create(RectRegion::rect(iLeft, iTop, iRight, iBottom));
}

Hrgn NullWindowPlatform::createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                                            int iHeightEllipse) {
    return m_regions.create(RectRegion::roundRect(iLeft, iTop, iRight, iBottom, iWidthEllipse, iHeightEllipse));
}

int NullWindowPlatform::combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) {
    return m_regions.combine(hDest, hSrc1, hSrc2, iMode);
}

bool NullWindowPlatform::setWindowRgn(Hwnd, Hrgn hRgn, bool) {
    // No window takes it, but callers hand it over for good: release it here.
    m_regions.remove(hRgn);
    return false;
}

int NullWindowPlatform::getRgnBox(Hrgn hRgn, WinRect& rect) {
    const RectRegion* pRegion = m_regions.find(hRgn);
    if (!pRegion) return kRgnError;
    rect = pRegion->boundingRect();
    return pRegion->kind();
}

}  // namespace platform
