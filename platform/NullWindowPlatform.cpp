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

}  // namespace platform
