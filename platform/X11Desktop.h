// What the X11 window backend reads from the desktop and asks of its window
// manager: the manager's clients (the top-level windows) in stacking order,
// titles, classes, frames, states, dock windows (the taskbars), RandR
// monitors, the active window, and restacking. Private to the backend.
//
// GUI thread only.
#ifndef PLATFORM_X11DESKTOP_H
#define PLATFORM_X11DESKTOP_H

#include "RectRegion.h"
#include "X11Connection.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace x11 {

class Desktop {
public:
    explicit Desktop(Connection& connection) : m_connection(connection) {}

    // The manager's clients, bottom to top. Without an EWMH manager: the
    // root's children that carry WM_STATE, or whose child does (a frame).
    std::vector<XWindow> clientsBottomToTop();
    bool isClient(XWindow window);
    bool isManaged(XWindow window);
    // A window's parent among the service's terms: 0 for a client (its X
    // parent is the manager's frame) and for the root's children.
    XWindow parentOf(XWindow window);

    // _NET_WM_NAME, else WM_NAME.
    std::u16string title(XWindow window);
    // The class part of WM_CLASS.
    std::u16string windowClass(XWindow window);
    // The window rectangle on screen including the manager's frame.
    bool frameRect(XWindow window, WinRect& rect);
    bool isMinimised(XWindow window);

    // The dock window on the primary monitor (bPrimary) or on another one.
    XWindow taskbar(bool bPrimary);
    // RandR monitors with the manager's work area; the first one is primary
    // when none says so.
    std::vector<MonitorInfo> monitors();

    // _NET_ACTIVE_WINDOW when it names a window that exists.
    XWindow activeWindow();
    void activate(XWindow window);
    // _NET_WM_STATE_ABOVE on or off for someone else's window.
    void setAbove(XWindow window, bool bAbove);
    // Stacks a window on top (Above), at the bottom (Below), or directly
    // below a sibling (Below with a sibling).
    void restack(XWindow window, XWindow sibling, int iDetail);

    // The window's bounding shape; nothing when it has none (it shows
    // whole) or has gone.
    std::optional<RectRegion> shape(XWindow window);
    // Sets the bounding shape (null: none). An empty region is a real, empty
    // shape: the window shows nothing.
    void setShape(XWindow window, const RectRegion* pRegion);

private:
    bool hasState(XWindow window, XAtom state);
    bool isDock(XWindow window);
    std::vector<XWindow> docks();  // managed or not, mapped or not

    Connection& m_connection;
};

}  // namespace x11
}  // namespace platform

#endif  // PLATFORM_X11DESKTOP_H
