// The backend for desktops whose windows the service cannot see (Qt's
// offscreen platform, Wayland): no window exists, nothing is found, every
// window call fails harmlessly. Regions still work, so code that builds
// shapes runs unchanged; a region handed to setWindowRgn is released.
#ifndef PLATFORM_NULLWINDOWPLATFORM_H
#define PLATFORM_NULLWINDOWPLATFORM_H

#include "RectRegion.h"
#include "WindowPlatform.h"

namespace platform {

class NullWindowPlatform final : public WindowPlatform {
public:
    bool enumWindows(const EnumWindowsCallback&) override { return true; }
    int getWindowText(Hwnd, char16_t* pBuffer, int iMaxCount) override;
    int getClassName(Hwnd, char16_t* pBuffer, int iMaxCount) override;
    Hwnd findWindow(const std::u16string&, const std::u16string*) override { return 0; }
    Hwnd setParent(Hwnd, Hwnd) override { return 0; }
    Hwnd getParent(Hwnd) override { return 0; }
    Hwnd getWindow(Hwnd, unsigned) override { return 0; }
    bool isWindow(Hwnd) override { return false; }
    bool isWindowVisible(Hwnd) override { return false; }
    bool showWindow(Hwnd, int) override { return false; }
    bool getWindowRect(Hwnd, WinRect& rect) override;
    bool getClientRect(Hwnd, WinRect& rect) override;
    bool clientToScreen(Hwnd, WinPoint&) override { return false; }
    bool setWindowPos(Hwnd, Hwnd, int, int, int, int, unsigned) override { return false; }
    std::int32_t getWindowLong(Hwnd, int) override { return 0; }
    std::int32_t setWindowLong(Hwnd, int, std::int32_t) override { return 0; }
    Hrgn createRectRgn(int iLeft, int iTop, int iRight, int iBottom) override;
    Hrgn createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                            int iHeightEllipse) override;
    int combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) override;
    int getWindowRgn(Hwnd, Hrgn) override { return kRgnError; }
    bool setWindowRgn(Hwnd, Hrgn hRgn, bool) override;
    bool deleteObject(Hrgn hRgn) override { return m_regions.remove(hRgn); }
    int getRgnBox(Hrgn hRgn, WinRect& rect) override;
    Hwnd getForegroundWindow() override { return 0; }
    bool setForegroundWindow(Hwnd) override { return false; }
    std::uint32_t getWindowThreadProcessId(Hwnd) override { return 0; }
    std::uint32_t getCurrentThreadId() override { return 1; }
    bool attachThreadInput(std::uint32_t, std::uint32_t, bool) override { return false; }
    Hmonitor monitorFromWindow(Hwnd, unsigned) override { return 0; }
    bool getMonitorInfo(Hmonitor, MonitorInfo&) override { return false; }
    void setMessageSink(Hwnd, MessageSink) override {}

    size_t liveRegionCount() const { return m_regions.liveCount(); }

private:
    RegionTable m_regions;
};

}  // namespace platform

#endif  // PLATFORM_NULLWINDOWPLATFORM_H
