// Window backend of Windows: each call is the user or graphics call of the
// same name. Builds without Qt.
#ifndef PLATFORM_WIN32WINDOWPLATFORM_H
#define PLATFORM_WIN32WINDOWPLATFORM_H

#include "WindowPlatform.h"

#include <map>

namespace platform {

class Win32WindowPlatform final : public WindowPlatform {
public:
    Win32WindowPlatform() = default;
    ~Win32WindowPlatform() override;

    bool enumWindows(const EnumWindowsCallback& callback) override;
    int getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) override;
    int getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) override;
    Hwnd findWindow(const std::u16string& strClassName, const std::u16string* pTitle) override;
    Hwnd setParent(Hwnd hWnd, Hwnd hNewParent) override;
    Hwnd getParent(Hwnd hWnd) override;
    Hwnd getWindow(Hwnd hWnd, unsigned uCmd) override;
    bool isWindow(Hwnd hWnd) override;
    bool isWindowVisible(Hwnd hWnd) override;
    bool showWindow(Hwnd hWnd, int iCmdShow) override;
    bool getWindowRect(Hwnd hWnd, WinRect& rect) override;
    bool getClientRect(Hwnd hWnd, WinRect& rect) override;
    bool clientToScreen(Hwnd hWnd, WinPoint& point) override;
    bool setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) override;
    std::int32_t getWindowLong(Hwnd hWnd, int iIndex) override;
    std::int32_t setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) override;
    Hrgn createRectRgn(int iLeft, int iTop, int iRight, int iBottom) override;
    Hrgn createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                            int iHeightEllipse) override;
    int combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) override;
    int getWindowRgn(Hwnd hWnd, Hrgn hRgn) override;
    bool setWindowRgn(Hwnd hWnd, Hrgn hRgn, bool bRedraw) override;
    bool deleteObject(Hrgn hRgn) override;
    int getRgnBox(Hrgn hRgn, WinRect& rect) override;
    Hwnd getForegroundWindow() override;
    bool setForegroundWindow(Hwnd hWnd) override;
    std::uint32_t getWindowThreadProcessId(Hwnd hWnd) override;
    std::uint32_t getCurrentThreadId() override;
    bool attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool bAttach) override;
    Hmonitor monitorFromWindow(Hwnd hWnd, unsigned uFlags) override;
    bool getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) override;
    // The sink hears the window's WM_DESTROY through a window subclass.
    void setMessageSink(Hwnd hWnd, MessageSink sink) override;

private:
    std::map<Hwnd, MessageSink> m_mapSinks;
    friend struct Win32SinkAccess;
};

}  // namespace platform

#endif  // PLATFORM_WIN32WINDOWPLATFORM_H
