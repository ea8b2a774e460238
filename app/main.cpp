#include "ProcessLimits.h"
#include "ProcessPlatform.h"
#include "QuitOnSignal.h"
#include "ServiceStartup.h"
#include "WindowPlatformChoice.h"

#include <QApplication>
#include <QtGlobal>

#ifdef Q_OS_LINUX
#include "EpollEventDispatcher.h"
#endif
#ifdef LOCALSERVICE_TEST_HOOKS
#include "TestHooks.h"
#endif

namespace {
// Without a display (and no platform chosen), run on Qt's offscreen platform
// so the service also starts on a headless machine.
void chooseOffscreenWithoutDisplay() {
#if defined(Q_OS_LINUX)
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
#endif
}
}  // namespace

int main(int argc, char** argv) {
    chooseMemoryPolicy();
    raiseDescriptorLimit();
    chooseOffscreenWithoutDisplay();
#ifdef Q_OS_LINUX
    // Sockets in one epoll set, so that idle clients cost nothing per turn.
    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
#endif
    QApplication app(argc, argv);
    // The desktop's window backend, chosen once: X11 on xcb, Win32 on
    // Windows, otherwise one that sees no windows.
    platform::setActiveWindowPlatform(&platform::systemWindowPlatform());

    ServiceStartup startup(platform::systemProcessPlatform(), QCoreApplication::applicationDirPath());
    quitEventLoopOnTerminationSignals();
    if (const std::optional<int> exitCode = startup.start()) return *exitCode;
#ifdef LOCALSERVICE_TEST_HOOKS
    TestHooks hooks(startup.server(), startup.trust());
#endif
    return startup.run();
}
