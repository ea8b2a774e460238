// The backend for desktops whose windows the service cannot see (Qt's
// offscreen platform, Wayland): no window exists, nothing is found, every
// window call fails harmlessly. Regions still work, so code that builds
// shapes runs unchanged; a region handed to setWindowRgn is released.
#ifndef PLATFORM_NULLWINDOWPLATFORM_H
#define PLATFORM_NULLWINDOWPLATFORM_H

#include "RegionKeepingPlatform.h"

namespace platform {

class NullWindowPlatform final : public RegionKeepingPlatform {
public:
    bool enumWindows(const EnumWindowsCallback&) override { return true; }
    bool seesWindows() const override { return false; }
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
    Hwnd getForegroundWindow() override { return 0; }
    bool setForegroundWindow(Hwnd) override { return false; }
    std::uint32_t getWindowThreadProcessId(Hwnd) override { return 0; }
    std::uint32_t getCurrentThreadId() override { return 1; }
    bool attachThreadInput(std::uint32_t, std::uint32_t, bool) override { return false; }
    Hmonitor monitorFromWindow(Hwnd, unsigned) override { return 0; }
    bool getMonitorInfo(Hmonitor, MonitorInfo&) override { return false; }
    void setMessageSink(Hwnd, MessageSink) override {}

protected:
    std::optional<RectRegion> windowShape(Hwnd) override { return std::nullopt; }
    bool applyWindowShape(Hwnd, const RectRegion*, bool) override { return false; }
};

}  // namespace platform

#endif  // PLATFORM_NULLWINDOWPLATFORM_H
