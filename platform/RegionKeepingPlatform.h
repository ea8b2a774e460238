// The region calls of window backends that keep regions themselves (the
// desktops without native region handles): handles from a RegionTable, and a
// window's region read and set through two calls of the backend.
#ifndef PLATFORM_REGIONKEEPINGPLATFORM_H
#define PLATFORM_REGIONKEEPINGPLATFORM_H

#include "RectRegion.h"
#include "WindowPlatform.h"

#include <optional>

namespace platform {

class RegionKeepingPlatform : public WindowPlatform {
public:
    Hrgn createRectRgn(int iLeft, int iTop, int iRight, int iBottom) final;
    Hrgn createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse, int iHeightEllipse) final;
    int combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) final;
    // kRgnError when the window has no region (or does not exist).
    int getWindowRgn(Hwnd hWnd, Hrgn hRgn) final;
    // The handle is released whether the window takes the region or not.
    bool setWindowRgn(Hwnd hWnd, Hrgn hRgn, bool bRedraw) final;
    bool deleteObject(Hrgn hRgn) final;
    int getRgnBox(Hrgn hRgn, WinRect& rect) final;

    // Region handles not yet deleted or handed to a window.
    size_t liveRegionCount() const { return m_regions.liveCount(); }

protected:
    // The window's region; nothing when it has none or does not exist.
    virtual std::optional<RectRegion> windowShape(Hwnd hWnd) = 0;
    // Gives the window pRegion (null: no region, the whole window shows);
    // false when the window does not exist.
    virtual bool applyWindowShape(Hwnd hWnd, const RectRegion* pRegion, bool bRedraw) = 0;

private:
    RegionTable m_regions;
};

}  // namespace platform

#endif  // PLATFORM_REGIONKEEPINGPLATFORM_H
