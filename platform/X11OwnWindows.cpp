#include "X11OwnWindows.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <algorithm>

// X headers last: their macros (None, Bool, Status, ...) clash with Qt's.
#include <X11/Xlib.h>

namespace platform {
namespace x11 {
namespace {

// QWidget::destroy is protected; the service's widgets know nothing of the
// backend, so it is reached through a derived class.
struct WidgetAccess : QWidget {
    static void destroyNative(QWidget* pWidget) {
        void (QWidget::*pDestroy)(bool, bool) = &WidgetAccess::destroy;
        (pWidget->*pDestroy)(true, true);
    }
};

void detachChildren(QWindow* pForeign) {
    for (QObject* pChild : pForeign->children()) {
        if (QWindow* pWindow = qobject_cast<QWindow*>(pChild)) pWindow->setParent(nullptr);
    }
}

}  // namespace

OwnWindows::OwnWindows(Connection& connection, Desktop& desktop) : m_connection(connection), m_desktop(desktop) {}

OwnWindows::~OwnWindows() {
    shutdown();
}

void OwnWindows::start() {
    m_pNotifier = new QSocketNotifier(ConnectionNumber(m_connection.eventDisplay()), QSocketNotifier::Read, &m_context);
    QObject::connect(m_pNotifier, &QSocketNotifier::activated, &m_context, [this] { processEvents(); });
}

void OwnWindows::shutdown() {
    delete m_pNotifier;
    m_pNotifier = nullptr;
    for (auto& entry : m_mapForeign) {
        // Ours must not go down with the foreign wrapper.
        detachChildren(entry.second);
        delete entry.second;
    }
    m_mapForeign.clear();
    m_vecRecords.clear();
    m_vecPending.clear();
    m_setWatched.clear();
}

// --- records --------------------------------------------------------------------

OwnWindows::Record* OwnWindows::byHandle(XWindow handle) {
    for (const auto& pRecord : m_vecRecords) {
        if (pRecord->handle == handle) return pRecord.get();
    }
    return nullptr;
}

OwnWindows::Record* OwnWindows::find(XWindow window) {
    if (!window) return nullptr;
    // Records of widgets that have gone go with them.
    m_vecRecords.erase(std::remove_if(m_vecRecords.begin(), m_vecRecords.end(),
                                      [](const std::unique_ptr<Record>& pRecord) { return !pRecord->pWidget; }),
                       m_vecRecords.end());
    for (const auto& pRecord : m_vecRecords) {
        if (pRecord->handle == window || pRecord->current == window ||
            std::count(pRecord->vecFormer.begin(), pRecord->vecFormer.end(), window)) {
            return pRecord.get();
        }
    }
    QWidget* pWidget = QWidget::find(static_cast<WId>(window));
    if (!pWidget || !pWidget->isWindow()) return nullptr;
    if (pWidget->windowType() == Qt::Tool) {
        // Tool windows appear without taking the keyboard, as on the desktop
        // the service was made for. Qt reads the attribute when it makes a
        // native window, and its window's property when it shows one.
        pWidget->setAttribute(Qt::WA_ShowWithoutActivating);
        if (QWindow* pHandle = pWidget->windowHandle()) pHandle->setProperty("_q_showWithoutActivating", true);
    }
    auto pRecord = std::make_unique<Record>();
    pRecord->pWidget = pWidget;
    pRecord->handle = pRecord->current = window;
    m_vecRecords.push_back(std::move(pRecord));
    return m_vecRecords.back().get();
}

XWindow OwnWindows::resolve(XWindow window) {
    const Record* pRecord = find(window);
    return pRecord ? pRecord->current : window;
}

XWindow OwnWindows::outward(XWindow window) {
    for (const auto& pRecord : m_vecRecords) {
        if (pRecord->current == window) return pRecord->handle;
    }
    return window;
}

QWindow* OwnWindows::qtWindow(XWindow window) {
    if (Record* pRecord = find(window)) return pRecord->pWidget->windowHandle();
    for (QWindow* pWindow : QGuiApplication::allWindows()) {
        if (pWindow->handle() && pWindow->winId() == window && pWindow->type() != Qt::ForeignWindow) return pWindow;
    }
    return nullptr;
}

bool OwnWindows::isEmbeddingParent(XWindow browser) const {
    return std::any_of(m_vecRecords.begin(), m_vecRecords.end(),
                       [browser](const std::unique_ptr<Record>& pRecord) { return pRecord->embeddedIn == browser; });
}

// --- embedding ----------------------------------------------------------------------

bool OwnWindows::setParent(Record& record, XWindow parent) {
    QWidget* pWidget = record.pWidget;
    if (record.bDead || !m_connection.exists(record.current)) recreate(record);
    if (parent) {
        if (!m_connection.exists(parent)) return false;
        QWindow* pForeign = foreignWindow(parent);
        if (!pForeign) return false;
        pWidget->winId();
        pWidget->windowHandle()->setParent(pForeign);
        const XWindow old = record.embeddedIn;
        record.embeddedIn = parent;
        if (old && old != parent) releaseForeign(old);
        Connection::syncQt();
        watch(parent);
        watch(record.current);
        return true;
    }
    const XWindow old = record.embeddedIn;
    if (QWindow* pHandle = pWidget->windowHandle()) {
        if (pHandle->parent()) pHandle->setParent(nullptr);
    }
    record.embeddedIn = 0;
    if (old) releaseForeign(old);
    // Still watched: the parent may take it down before the reparent reaches
    // the server.
    Connection::syncQt();
    return true;
}

QWindow* OwnWindows::foreignWindow(XWindow browser) {
    const auto it = m_mapForeign.find(browser);
    if (it != m_mapForeign.end()) return it->second;
    QWindow* pForeign = QWindow::fromWinId(static_cast<WId>(browser));
    if (pForeign) m_mapForeign[browser] = pForeign;
    return pForeign;
}

// Drops the foreign window of a browser once none of ours sits in it.
void OwnWindows::releaseForeign(XWindow browser) {
    if (isEmbeddingParent(browser)) return;
    const auto it = m_mapForeign.find(browser);
    if (it == m_mapForeign.end()) return;
    QWindow* pForeign = it->second;
    m_mapForeign.erase(it);
    detachChildren(pForeign);
    delete pForeign;
    unwatch(browser);
}

void OwnWindows::show(Record& record) {
    QWidget* pWidget = record.pWidget;
    QWindow* pHandle = pWidget->windowHandle();
    if (pWidget->isVisible() && pHandle && !pHandle->isVisible()) {
        pHandle->setVisible(true);
    } else {
        pWidget->show();
    }
}

void OwnWindows::setAbove(XWindow window, bool bAbove) {
    QWindow* pOwn = qtWindow(window);
    if (!pOwn) return;
    if (pOwn->flags().testFlag(Qt::WindowStaysOnTopHint) == bAbove) return;
    pOwn->setFlag(Qt::WindowStaysOnTopHint, bAbove);
    Connection::syncQt();
}

void OwnWindows::setShape(Record& record, std::optional<RectRegion> shape) {
    record.shape = std::move(shape);
    m_desktop.setShape(record.current, record.shape ? &*record.shape : nullptr);
}

void OwnWindows::setSink(XWindow window, MessageSink sink) {
    Record* pRecord = find(window);
    if (pRecord) pRecord->sink = std::move(sink);
}

// --- the browser going away and re-creation --------------------------------------------

void OwnWindows::noteLost(Record& record) {
    record.bDead = true;
    queue(record.handle, record.embeddedIn ? kWmDestroy : kRecreate);
}

void OwnWindows::watch(XWindow window) {
    Display* pEvents = m_connection.eventDisplay();
    if (!pEvents || !window || m_setWatched.count(window)) return;
    // X reuses ids: read whatever is still queued for an earlier window of
    // this id before selecting on the new one.
    XSync(pEvents, False);
    readEvents();
    const ErrorTrap trap;
    XSelectInput(pEvents, window, StructureNotifyMask | PropertyChangeMask);
    XSync(pEvents, False);
    if (!trap.failed()) m_setWatched.insert(window);
    readEvents();
}

void OwnWindows::unwatch(XWindow window) {
    if (!m_setWatched.erase(window) || !m_connection.eventDisplay()) return;
    XSelectInput(m_connection.eventDisplay(), window, NoEventMask);
    XFlush(m_connection.eventDisplay());
}

void OwnWindows::processEvents() {
    if (m_connection.eventDisplay()) readEvents();
}

// Reads the events sitting on the event connection (without delivering).
void OwnWindows::readEvents() {
    Display* pEvents = m_connection.eventDisplay();
    while (XPending(pEvents) > 0) {
        XEvent event;
        XNextEvent(pEvents, &event);
        if (event.type == UnmapNotify && event.xunmap.event == event.xunmap.window) {
            // Browsers unmap their window before destroying it: take ours
            // out while they still exist. A minimised browser keeps them.
            const XWindow window = event.xunmap.window;
            if (isEmbeddingParent(window) && !m_desktop.isMinimised(window)) queueForBrowser(window);
        } else if (event.type == DestroyNotify && event.xdestroywindow.event == event.xdestroywindow.window) {
            const XWindow window = event.xdestroywindow.window;
            m_setWatched.erase(window);
            Record* pRecord = find(window);
            if (pRecord && pRecord->current == window &&
                pRecord->pWidget->internalWinId() == static_cast<WId>(window)) {
                // One of ours went down with its parent: still in it, the
                // window code hears of it; already taken out (the parent was
                // faster), it is made anew.
                noteLost(*pRecord);
            }
            if (isEmbeddingParent(window)) queueForBrowser(window);
        }
    }
}

void OwnWindows::queueForBrowser(XWindow browser) {
    for (const auto& pRecord : m_vecRecords) {
        if (pRecord->embeddedIn == browser) queue(pRecord->handle, kWmDestroy);
    }
}

void OwnWindows::queue(XWindow handle, unsigned uWhat) {
    const auto pending = std::make_pair(handle, uWhat);
    if (std::find(m_vecPending.begin(), m_vecPending.end(), pending) != m_vecPending.end()) return;
    m_vecPending.push_back(pending);
    if (!m_bDeliveryQueued) {
        m_bDeliveryQueued = true;
        QTimer::singleShot(0, &m_context, [this] { deliver(); });
    }
}

void OwnWindows::deliver() {
    m_bDeliveryQueued = false;
    std::vector<std::pair<XWindow, unsigned>> vecPending;
    vecPending.swap(m_vecPending);
    for (const auto& pending : vecPending) {
        Record* pRecord = byHandle(pending.first);
        if (!pRecord || !pRecord->pWidget) continue;  // the widget itself has gone
        if (pending.second == kRecreate) {
            if (pRecord->bDead && !pRecord->embeddedIn) recreate(*pRecord);
            continue;
        }
        if (!pRecord->embeddedIn) continue;  // already detached
        if (pRecord->sink) {
            const MessageSink sink = pRecord->sink;
            sink(static_cast<Hwnd>(pRecord->handle), pending.second);
        } else {
            // Nobody handles it: keep the window alive, detached and hidden.
            setParent(*pRecord, 0);
            if (Record* pAfter = byHandle(pending.first)) pAfter->pWidget->hide();
        }
    }
}

// Our native window died with its parent: a new one for the same widget.
void OwnWindows::recreate(Record& record) {
    QWidget* pWidget = record.pWidget;
    const XWindow browser = record.embeddedIn;
    record.embeddedIn = 0;
    record.bDead = false;
    unwatch(record.current);
    const bool bWasVisible = pWidget->isVisible();
    WidgetAccess::destroyNative(pWidget);
    if (browser) releaseForeign(browser);
    const XWindow fresh = static_cast<XWindow>(pWidget->winId());
    // The widget still counts as shown, but destroy() marked it hidden as
    // well, which would make hide() do nothing. Undo that mark without
    // mapping the new window here (a map request sent now could reach the
    // window manager after the unmap of a hide() that follows): hide() then
    // works, and show() maps it when it is to be seen.
    if (bWasVisible) pWidget->setAttribute(Qt::WA_WState_Hidden, false);
    Connection::syncQt();
    if (!fresh || fresh == record.current) return;
    record.vecFormer.push_back(record.current);
    record.current = fresh;
    if (record.shape) m_desktop.setShape(fresh, &*record.shape);
}

}  // namespace x11
}  // namespace platform
