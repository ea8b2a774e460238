// The window backend of the desktop the service runs on.
#ifndef PLATFORM_WINDOWPLATFORMCHOICE_H
#define PLATFORM_WINDOWPLATFORMCHOICE_H

#include "WindowPlatform.h"

namespace platform {

// The Win32 backend on Windows. On Linux the X11 backend when Qt runs on its
// xcb platform, otherwise (offscreen, Wayland) a backend that sees no windows
// at all, so window commands answer as when no browser is found. Call it on
// the GUI thread once the application object exists; the choice is made once.
WindowPlatform& systemWindowPlatform();

// The choice for a given Qt platform name ("xcb", "offscreen", "wayland",
// "windows", ...): true when the desktop's own backend serves it.
bool nativeWindowsSupported(const char* szQtPlatformName);

}  // namespace platform

#endif  // PLATFORM_WINDOWPLATFORMCHOICE_H
