#include "WindowPlatformChoice.h"

#include "NullWindowPlatform.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstring>

#ifdef Q_OS_WIN
#include "Win32WindowPlatform.h"
#else
#include "X11WindowPlatform.h"
#endif

namespace platform {

bool nativeWindowsSupported(const char* szQtPlatformName) {
    if (!szQtPlatformName) return false;
#ifdef Q_OS_WIN
    return std::strcmp(szQtPlatformName, "windows") == 0;
#else
    return std::strcmp(szQtPlatformName, "xcb") == 0;
#endif
}

WindowPlatform& systemWindowPlatform() {
    static WindowPlatform* s_pPlatform = []() -> WindowPlatform* {
        const QByteArray strName = QGuiApplication::platformName().toUtf8();
        if (nativeWindowsSupported(strName.constData())) {
#ifdef Q_OS_WIN
            static Win32WindowPlatform s_native;
            return &s_native;
#else
            static X11WindowPlatform s_native;
            if (s_native.isConnected()) {
                // Let go of Qt's windows and the X connections while Qt still runs.
                qAddPostRoutine([] { s_native.shutdown(); });
                return &s_native;
            }
#endif
        }
        static NullWindowPlatform s_null;
        return &s_null;
    }();
    return *s_pPlatform;
}

}  // namespace platform
