#include "WindowPlatform.h"

#include "NullWindowPlatform.h"

#include <vector>

namespace platform {

namespace {
WindowPlatform* s_pActivePlatform = nullptr;
}  // namespace

WindowPlatform& activeWindowPlatform() {
    if (!s_pActivePlatform) {
        static NullWindowPlatform s_none;
        return s_none;
    }
    return *s_pActivePlatform;
}

void setActiveWindowPlatform(WindowPlatform* pPlatform) {
    s_pActivePlatform = pPlatform;
}

std::u16string windowText(WindowPlatform& platform, Hwnd hWnd, int iMaxCount) {
    if (iMaxCount <= 0) return std::u16string();
    std::vector<char16_t> vecBuffer(static_cast<size_t>(iMaxCount), 0);
    const int iCount = platform.getWindowText(hWnd, vecBuffer.data(), iMaxCount);
    return std::u16string(vecBuffer.data(), static_cast<size_t>(iCount > 0 ? iCount : 0));
}

std::u16string className(WindowPlatform& platform, Hwnd hWnd, int iMaxCount) {
    if (iMaxCount <= 0) return std::u16string();
    std::vector<char16_t> vecBuffer(static_cast<size_t>(iMaxCount), 0);
    const int iCount = platform.getClassName(hWnd, vecBuffer.data(), iMaxCount);
    return std::u16string(vecBuffer.data(), static_cast<size_t>(iCount > 0 ? iCount : 0));
}

}  // namespace platform
