// The X connections of the X11 window backend and what every part of it
// uses: the error trap, the atoms, property reads, the window tree and
// messages to the window manager. Private to the backend; Xlib's own header
// stays in the sources (its macros clash with Qt's headers).
//
// GUI thread only.
#ifndef PLATFORM_X11CONNECTION_H
#define PLATFORM_X11CONNECTION_H

#include "WindowPlatform.h"

#include <vector>

struct _XDisplay;

namespace platform {
namespace x11 {

using XWindow = unsigned long;  // Xlib's Window
using XAtom = unsigned long;    // Xlib's Atom

// Catches the X errors of the requests made while it lives. The backend's
// connections count their errors instead of ending the process (Xlib's
// default for any failed request, such as one on a window that has gone).
// A request that returns a reply has had its error counted when it returns;
// others need Connection::sync() before failed() can know.
class ErrorTrap {
public:
    ErrorTrap();
    ~ErrorTrap() = default;
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool failed() const;

private:
    int m_iErrorsBefore;
};

struct Atoms {
    XAtom clientList = 0, clientListStacking = 0, wmName = 0, utf8 = 0, wmState = 0, frameExtents = 0, active = 0,
          netWmState = 0, above = 0, hidden = 0, restack = 0, type = 0, typeDock = 0, workArea = 0, currentDesktop = 0;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens a request connection and an event connection (which only selects
    // and reads events) to the display Qt runs on.
    bool open();
    void close();
    bool isOpen() const { return m_pDisplay != nullptr; }

    _XDisplay* display() const { return m_pDisplay; }
    _XDisplay* eventDisplay() const { return m_pEventDisplay; }
    XWindow root() const { return m_root; }
    const Atoms& atoms() const { return m_atoms; }

    // A property of 32-bit items of the given type; false when it is absent,
    // of another type, or the window has gone.
    bool property32(XWindow window, XAtom property, XAtom type, std::vector<unsigned long>& vecValues);
    bool exists(XWindow window);
    std::vector<XWindow> children(XWindow window);  // bottom to top
    XWindow xParent(XWindow window);
    // The window's own rectangle on screen (no frame).
    bool screenRect(XWindow window, WinRect& rect);
    // A client message to the root for the window manager.
    void sendToRoot(XWindow window, XAtom type, long l0, long l1, long l2, long l3 = 0, long l4 = 0);
    // Waits until the server has handled every request sent so far.
    void sync();
    // The same on Qt's own connection: what Qt did to its windows has reached
    // the server (requests on two connections are not ordered).
    static void syncQt();

private:
    _XDisplay* m_pDisplay = nullptr;
    _XDisplay* m_pEventDisplay = nullptr;
    XWindow m_root = 0;
    Atoms m_atoms;
};

}  // namespace x11
}  // namespace platform

#endif  // PLATFORM_X11CONNECTION_H
