// Pieces shared by the tests of the X11 window backend.
#ifndef TESTS_X11TESTWINDOWS_H
#define TESTS_X11TESTWINDOWS_H

#include "WindowPlatform.h"

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <string>

inline std::u16string u16(const QString& strText) {
    return std::u16string(reinterpret_cast<const char16_t*>(strText.utf16()), static_cast<size_t>(strText.size()));
}

// The first top-level window whose title contains strToken, or 0.
inline platform::Hwnd findWindowByTitle(platform::WindowPlatform& windows, const QString& strToken) {
    platform::Hwnd hFound = 0;
    windows.enumWindows([&](platform::Hwnd hWnd) {
        if (platform::windowText(windows, hWnd).find(u16(strToken)) != std::u16string::npos) {
            hFound = hWnd;
            return false;
        }
        return true;
    });
    return hFound;
}

// One of the service's windows: a frameless tool window, painted red.
class OwnWindow : public QWidget {
public:
    OwnWindow() {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        setAttribute(Qt::WA_QuitOnClose, false);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(0xff, 0, 0));
        setPalette(palette);
        setAutoFillBackground(true);
        winId();
    }
    platform::Hwnd handle() { return static_cast<platform::Hwnd>(winId()); }
};

#endif  // TESTS_X11TESTWINDOWS_H
