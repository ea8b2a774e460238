#include "Win32WindowPlatform.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "window texts are UTF-16");

HWND toHwnd(Hwnd hWnd) {
    return reinterpret_cast<HWND>(hWnd);
}

Hwnd fromHwnd(HWND hWnd) {
    return reinterpret_cast<Hwnd>(hWnd);
}

HRGN toHrgn(Hrgn hRgn) {
    return reinterpret_cast<HRGN>(hRgn);
}

WinRect fromRect(const RECT& rect) {
    return WinRect{rect.left, rect.top, rect.right, rect.bottom};
}

HWND insertAfter(Hwnd hInsertAfter) {
    if (hInsertAfter == kHwndTopMost) return HWND_TOPMOST;
    if (hInsertAfter == kHwndNoTopMost) return HWND_NOTOPMOST;
    if (hInsertAfter == kHwndBottom) return HWND_BOTTOM;
    if (hInsertAfter == kHwndTop) return HWND_TOP;
    return toHwnd(hInsertAfter);
}

const UINT_PTR kSubclassId = 0x4c53;  // "LS"

}  // namespace

struct Win32SinkAccess {
    static LRESULT CALLBACK subclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR dwRef) {
        auto* pPlatform = reinterpret_cast<Win32WindowPlatform*>(dwRef);
        if (uMsg == WM_DESTROY) {
            const auto it = pPlatform->m_mapSinks.find(fromHwnd(hWnd));
            if (it != pPlatform->m_mapSinks.end() && it->second) {
                const MessageSink sink = it->second;
                sink(fromHwnd(hWnd), kWmDestroy);
            }
        }
        if (uMsg == WM_NCDESTROY) {
            pPlatform->m_mapSinks.erase(fromHwnd(hWnd));
            RemoveWindowSubclass(hWnd, subclassProc, kSubclassId);
        }
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }
};

Win32WindowPlatform::~Win32WindowPlatform() {
    for (const auto& entry : m_mapSinks) {
        RemoveWindowSubclass(toHwnd(entry.first), Win32SinkAccess::subclassProc, kSubclassId);
    }
}

bool Win32WindowPlatform::enumWindows(const EnumWindowsCallback& callback) {
    struct Context {
        const EnumWindowsCallback* pCallback;
    } context{&callback};
    return EnumWindows(
               [](HWND hWnd, LPARAM lParam) -> BOOL {
                   const auto* pContext = reinterpret_cast<const Context*>(lParam);
                   return (*pContext->pCallback)(fromHwnd(hWnd)) ? TRUE : FALSE;
               },
               reinterpret_cast<LPARAM>(&context)) != FALSE;
}

int Win32WindowPlatform::getWindowText(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    return GetWindowTextW(toHwnd(hWnd), reinterpret_cast<wchar_t*>(pBuffer), iMaxCount);
}

int Win32WindowPlatform::getClassName(Hwnd hWnd, char16_t* pBuffer, int iMaxCount) {
    return GetClassNameW(toHwnd(hWnd), reinterpret_cast<wchar_t*>(pBuffer), iMaxCount);
}

Hwnd Win32WindowPlatform::findWindow(const std::u16string& strClassName, const std::u16string* pTitle) {
    return fromHwnd(FindWindowW(reinterpret_cast<const wchar_t*>(strClassName.c_str()),
                                pTitle ? reinterpret_cast<const wchar_t*>(pTitle->c_str()) : nullptr));
}

Hwnd Win32WindowPlatform::setParent(Hwnd hWnd, Hwnd hNewParent) {
    return fromHwnd(SetParent(toHwnd(hWnd), toHwnd(hNewParent)));
}

Hwnd Win32WindowPlatform::getParent(Hwnd hWnd) {
    return fromHwnd(GetParent(toHwnd(hWnd)));
}

Hwnd Win32WindowPlatform::getWindow(Hwnd hWnd, unsigned uCmd) {
    return fromHwnd(GetWindow(toHwnd(hWnd), uCmd));
}

bool Win32WindowPlatform::isWindow(Hwnd hWnd) {
    return IsWindow(toHwnd(hWnd)) != FALSE;
}

bool Win32WindowPlatform::isWindowVisible(Hwnd hWnd) {
    return IsWindowVisible(toHwnd(hWnd)) != FALSE;
}

bool Win32WindowPlatform::showWindow(Hwnd hWnd, int iCmdShow) {
    return ShowWindow(toHwnd(hWnd), iCmdShow) != FALSE;
}

bool Win32WindowPlatform::getWindowRect(Hwnd hWnd, WinRect& rect) {
    RECT native{};
    if (!GetWindowRect(toHwnd(hWnd), &native)) return false;
    rect = fromRect(native);
    return true;
}

bool Win32WindowPlatform::getClientRect(Hwnd hWnd, WinRect& rect) {
    RECT native{};
    if (!GetClientRect(toHwnd(hWnd), &native)) return false;
    rect = fromRect(native);
    return true;
}

bool Win32WindowPlatform::clientToScreen(Hwnd hWnd, WinPoint& point) {
    POINT native{point.x, point.y};
    if (!ClientToScreen(toHwnd(hWnd), &native)) return false;
    point = WinPoint{native.x, native.y};
    return true;
}

bool Win32WindowPlatform::setWindowPos(Hwnd hWnd, Hwnd hInsertAfter, int x, int y, int cx, int cy, unsigned uFlags) {
    return SetWindowPos(toHwnd(hWnd), insertAfter(hInsertAfter), x, y, cx, cy, uFlags) != FALSE;
}

std::int32_t Win32WindowPlatform::getWindowLong(Hwnd hWnd, int iIndex) {
    return GetWindowLongW(toHwnd(hWnd), iIndex);
}

std::int32_t Win32WindowPlatform::setWindowLong(Hwnd hWnd, int iIndex, std::int32_t iNewLong) {
    return SetWindowLongW(toHwnd(hWnd), iIndex, iNewLong);
}

Hrgn Win32WindowPlatform::createRectRgn(int iLeft, int iTop, int iRight, int iBottom) {
    return reinterpret_cast<Hrgn>(CreateRectRgn(iLeft, iTop, iRight, iBottom));
}

Hrgn Win32WindowPlatform::createRoundRectRgn(int iLeft, int iTop, int iRight, int iBottom, int iWidthEllipse,
                                             int iHeightEllipse) {
    return reinterpret_cast<Hrgn>(CreateRoundRectRgn(iLeft, iTop, iRight, iBottom, iWidthEllipse, iHeightEllipse));
}

int Win32WindowPlatform::combineRgn(Hrgn hDest, Hrgn hSrc1, Hrgn hSrc2, int iMode) {
    return CombineRgn(toHrgn(hDest), toHrgn(hSrc1), toHrgn(hSrc2), iMode);
}

int Win32WindowPlatform::getWindowRgn(Hwnd hWnd, Hrgn hRgn) {
    return GetWindowRgn(toHwnd(hWnd), toHrgn(hRgn));
}

bool Win32WindowPlatform::setWindowRgn(Hwnd hWnd, Hrgn hRgn, bool bRedraw) {
    return SetWindowRgn(toHwnd(hWnd), toHrgn(hRgn), bRedraw ? TRUE : FALSE) != 0;
}

bool Win32WindowPlatform::deleteObject(Hrgn hRgn) {
    return DeleteObject(reinterpret_cast<HGDIOBJ>(hRgn)) != FALSE;
}

int Win32WindowPlatform::getRgnBox(Hrgn hRgn, WinRect& rect) {
    RECT native{};
    const int iKind = GetRgnBox(toHrgn(hRgn), &native);
    if (iKind != ERROR) rect = fromRect(native);
    return iKind;
}

Hwnd Win32WindowPlatform::getForegroundWindow() {
    return fromHwnd(GetForegroundWindow());
}

bool Win32WindowPlatform::setForegroundWindow(Hwnd hWnd) {
    return SetForegroundWindow(toHwnd(hWnd)) != FALSE;
}

std::uint32_t Win32WindowPlatform::getWindowThreadProcessId(Hwnd hWnd) {
    return GetWindowThreadProcessId(toHwnd(hWnd), nullptr);
}

std::uint32_t Win32WindowPlatform::getCurrentThreadId() {
    return GetCurrentThreadId();
}

bool Win32WindowPlatform::attachThreadInput(std::uint32_t idAttach, std::uint32_t idAttachTo, bool bAttach) {
    return AttachThreadInput(idAttach, idAttachTo, bAttach ? TRUE : FALSE) != FALSE;
}

Hmonitor Win32WindowPlatform::monitorFromWindow(Hwnd hWnd, unsigned uFlags) {
    return reinterpret_cast<Hmonitor>(MonitorFromWindow(toHwnd(hWnd), uFlags));
}

bool Win32WindowPlatform::getMonitorInfo(Hmonitor hMonitor, MonitorInfo& info) {
    MONITORINFO native{};
    native.cbSize = sizeof native;  // 40
    if (!GetMonitorInfoW(reinterpret_cast<HMONITOR>(hMonitor), &native)) return false;
    info.rcMonitor = fromRect(native.rcMonitor);
    info.rcWork = fromRect(native.rcWork);
    info.dwFlags = native.dwFlags;
    return true;
}

void Win32WindowPlatform::setMessageSink(Hwnd hWnd, MessageSink sink) {
    if (sink) {
        const bool bNew = m_mapSinks.find(hWnd) == m_mapSinks.end();
        m_mapSinks[hWnd] = std::move(sink);
        if (bNew) {
            SetWindowSubclass(toHwnd(hWnd), Win32SinkAccess::subclassProc, kSubclassId,
                              reinterpret_cast<DWORD_PTR>(this));
        }
    } else if (m_mapSinks.erase(hWnd)) {
        RemoveWindowSubclass(toHwnd(hWnd), Win32SinkAccess::subclassProc, kSubclassId);
    }
}

}  // namespace platform
