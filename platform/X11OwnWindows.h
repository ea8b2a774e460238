// The service's own windows in the X11 window backend: embedding them in
// browser windows and taking them out again (through Qt, with a foreign
// QWindow for the browser), watching the browsers, telling a window that its
// browser is going (kWmDestroy to its message sink), and making a window
// anew when X destroyed it together with its browser. Private to the
// backend.
//
// One record per own window holds everything the backend keeps about it, so
// a window made anew keeps it under its new native handle, and callers keep
// using the handle they first had.
//
// GUI thread only.
#ifndef PLATFORM_X11OWNWINDOWS_H
#define PLATFORM_X11OWNWINDOWS_H

#include "RectRegion.h"
#include "X11Connection.h"
#include "X11Desktop.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QSocketNotifier;
class QWindow;

namespace platform {
namespace x11 {

class OwnWindows {
public:
    struct Record {
        QPointer<QWidget> pWidget;
        XWindow handle = 0;              // the handle callers know
        XWindow current = 0;             // the native window now
        std::vector<XWindow> vecFormer;  // native windows it had before
        XWindow embeddedIn = 0;          // the browser window it sits in
        MessageSink sink;
        std::uint32_t uStyleBits = 0;     // style bits set by callers
        std::optional<RectRegion> shape;  // none: the whole window shows
        bool bDead = false;               // X destroyed its native window
    };

    OwnWindows(Connection& connection, Desktop& desktop);
    ~OwnWindows();
    OwnWindows(const OwnWindows&) = delete;
    OwnWindows& operator=(const OwnWindows&) = delete;

    // Reads the event connection whenever it has something.
    void start();
    // Lets go of every window and foreign wrapper.
    void shutdown();

    // The record of one of the service's top-level windows by any native
    // handle it has had (one not seen before gets a record); null for every
    // other window.
    Record* find(XWindow window);
    // The native window now for a handle of ours; other windows unchanged.
    XWindow resolve(XWindow window);
    // The handle callers know for a native window of ours; others unchanged.
    XWindow outward(XWindow window);
    // A Qt window of the service with that native window, with or without a
    // widget.
    QWindow* qtWindow(XWindow window);

    // Into the browser window parent (0: a top-level window again). False
    // when the parent has gone.
    bool setParent(Record& record, XWindow parent);
    // Shows the widget, also one that counts as shown while its (re-made)
    // native window is not.
    void show(Record& record);
    void setAbove(XWindow window, bool bAbove);
    // The native window is gone although X has not said so yet.
    void noteLost(Record& record);
    void setShape(Record& record, std::optional<RectRegion> shape);
    void setSink(XWindow window, MessageSink sink);

    // Reads pending events of the watched windows and delivers what they
    // cause.
    void processEvents();

private:
    static constexpr unsigned kRecreate = 0x10000;  // not a message: make the native window anew

    Record* byHandle(XWindow handle);
    bool isEmbeddingParent(XWindow browser) const;
    void watch(XWindow window);
    void unwatch(XWindow window);
    void readEvents();
    void queue(XWindow handle, unsigned uWhat);
    void queueForBrowser(XWindow browser);
    void deliver();
    QWindow* foreignWindow(XWindow browser);
    void releaseForeign(XWindow browser);
    void recreate(Record& record);

    Connection& m_connection;
    Desktop& m_desktop;
    std::vector<std::unique_ptr<Record>> m_vecRecords;
    std::map<XWindow, QWindow*> m_mapForeign;                // browser window -> its foreign QWindow
    std::set<XWindow> m_setWatched;                          // windows selected on the event connection
    std::vector<std::pair<XWindow, unsigned>> m_vecPending;  // record handle, what to deliver
    bool m_bDeliveryQueued = false;
    QObject m_context;  // owns the notifier and the queued deliveries
    QSocketNotifier* m_pNotifier = nullptr;
};

}  // namespace x11
}  // namespace platform

#endif  // PLATFORM_X11OWNWINDOWS_H
