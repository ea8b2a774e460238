// How fast a floating window follows its browser on Xvfb + openbox: the time
// from the browser's move request to our window at its new place, p50 and
// p99 over 200 moves, against the same move of a plain X window (the floor:
// from its move request to that window at its new place). The window code
// runs in this process with the X11 backend, its 15 ms tick included.
#include "WindowControl.h"
#include "WindowControlManager.h"
#include "X11WindowPlatform.h"
#include "XDesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <X11/Xlib.h>

namespace {

constexpr int kMoves = 200;
constexpr int kTimeoutMs = 2000;

struct Figures {
    double dP50 = 0;
    double dP99 = 0;
    int iLost = 0;  // moves not seen within the time-out
};

bool position(XDesktop& desktop, unsigned long window, int& x, int& y) {
    int iWidth = 0, iHeight = 0;
    return desktop.geometry(window, x, y, iWidth, iHeight);
}

// Moves `moved` back and forth by 40 pixels and times until `watched` has
// moved by as much. Positions requested of the manager are those of the
// frame, so only differences between requests are compared.
Figures measure(XDesktop& desktop, unsigned long moved, int xBase, int yBase, unsigned long watched) {
    Display* pDisplay = desktop.connection();
    // The user moves the window they work in.
    desktop.run({"xdotool", "windowactivate", "--sync", std::to_string(moved)});
    XMoveWindow(pDisplay, moved, xBase, yBase);
    XFlush(pDisplay);
    int xWatched = 0, yWatched = 0, x = 0, y = 0;
    // Settled when two readings 50 ms apart agree.
    XDesktop::waitFor([&] {
        position(desktop, watched, xWatched, yWatched);
        XDesktop::waitFor([] { return false; }, 50);
        return position(desktop, watched, x, y) && x == xWatched && y == yWatched;
    });
    std::vector<double> vecMs;
    Figures figures;
    // Moves come at any time, not just after a tick: a pause of 0 to 30 ms
    // (the same series every run) before each.
    std::minstd_rand random(20240601);
    for (int i = 0; i < kMoves && figures.iLost < 5; ++i) {
        const int iStep = (i % 2 == 0) ? 40 : -40;
        const int iTarget = (i % 2 == 0) ? 40 : 0;
        QElapsedTimer pause;
        pause.start();
        const qint64 llPauseNs = static_cast<qint64>(random() % 30000) * 1000;
        while (pause.nsecsElapsed() < llPauseNs) QCoreApplication::processEvents(QEventLoop::AllEvents);
        position(desktop, watched, xWatched, yWatched);
        QElapsedTimer timer;
        timer.start();
        XMoveWindow(pDisplay, moved, xBase + iTarget, yBase + iTarget);
        XFlush(pDisplay);
        bool bSeen = false;
        while (!bSeen && timer.elapsed() < kTimeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            bSeen = position(desktop, watched, x, y) && x == xWatched + iStep && y == yWatched + iStep;
        }
        if (bSeen) {
            vecMs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        } else {
            ++figures.iLost;
        }
    }
    std::sort(vecMs.begin(), vecMs.end());
    if (!vecMs.empty()) {
        figures.dP50 = vecMs[vecMs.size() / 2];
        figures.dP99 = vecMs[std::min(vecMs.size() - 1, vecMs.size() * 99 / 100)];
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    XDesktop desktop;
    std::string strError;
    if (!desktop.start(strError)) {
        std::fprintf(stderr, "bench_window_follow: cannot start the X desktop: %s\n", strError.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    platform::X11WindowPlatform backend;
    platform::setActiveWindowPlatform(&backend);

    const QString strUuid = QUuid::createUuid().toString();
    const unsigned long browser =
        desktop.createBrowser(("bench " + strUuid).toStdString(), "BenchBrowser", 100, 100, 640, 480);
    const unsigned long plain = desktop.createBrowser("plain window", "Plain", 300, 300, 200, 150, 0x808080);
    if (!browser || !plain) {
        std::fprintf(stderr, "bench_window_follow: test windows did not appear\n");
        return 1;
    }
    WindowControlManager* pManager = WindowControlManager::instance();
    pManager->createWnd(QJsonObject{{"cmd", "window.createWnd"},
                                    {"uuid", strUuid},
                                    {"embed", false},
                                    {"rect", QJsonObject{{"left", 20}, {"top", 30}, {"width", 200}, {"height", 150}}}});
    WindowControl* pWindow = pManager->window(strUuid);
    if (!pWindow || !pWindow->isVisible()) {
        std::fprintf(stderr, "bench_window_follow: no floating window over the browser\n");
        return 1;
    }
    const unsigned long own = static_cast<unsigned long>(pWindow->winId());
    // Until the window has been placed once.
    XDesktop::waitFor([&] {
        int x = 0, y = 0;
        return position(desktop, own, x, y) && x > 100;
    });

    const Figures floor = measure(desktop, plain, 300, 300, plain);
    const Figures follow = measure(desktop, browser, 100, 100, own);
    std::printf("window follow over %d moves (ms from the move request to the window in place):\n", kMoves);
    std::printf("  plain X window (floor):  p50 %6.2f  p99 %6.2f  lost %d\n", floor.dP50, floor.dP99, floor.iLost);
    std::printf("  floating window follows: p50 %6.2f  p99 %6.2f  lost %d\n", follow.dP50, follow.dP99, follow.iLost);
    if (floor.dP50 > 0 && floor.dP99 > 0) {
        std::printf("  ratio to the floor:      p50 %6.1fx p99 %6.1fx\n", follow.dP50 / floor.dP50,
                    follow.dP99 / floor.dP99);
    }
    pManager->closeByUuid(strUuid);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return floor.iLost == 0 && follow.iLost == 0 ? 0 : 1;
}
