// The grid of play windows the library keeps in one widget of the service.
// A child of that widget that always fills it (it follows the widget's size
// through an event filter, also while the widget is in full screen); its
// play windows are numbered row by row. A play window hidden by the library
// gives its space to the others of its row; a row with nothing shown gives
// its space to the other rows.
//
// GUI thread only. Destroyed with the widget, and with it every play window
// and its playback.
#ifndef VIDEO_CONTROL_PLAYGRID_H
#define VIDEO_CONTROL_PLAYGRID_H

#include "Player.h"
#include "video_control.h"

#include <QJsonObject>
#include <QVector>
#include <QWidget>

namespace vc {

class PlayWindow;

class PlayGrid : public QWidget {
    Q_OBJECT
public:
    // The most play windows one grid holds.
    static constexpr int kMaxWindows = 64;

    explicit PlayGrid(QWidget* pHost);
    ~PlayGrid() override;

    // The service's widget the grid lives in; events name it.
    QWidget* host() const { return m_pHost; }

    // Reads a layout: an array of rows, each an array of cells ("[[{}]]" is
    // one window, "[[{},{}],[{},{}]]" four), or a count n (1, 4, 9, 16: a
    // square-ish grid of n cells). False when it holds no cell or too many.
    static bool parseLayout(const QJsonValue& layout, QVector<int>* pRowSizes);
    // Makes the grid's play windows: the first ones keep their playback,
    // those beyond the new count stop and go. Selection and hidden state
    // start afresh.
    void arrange(const QVector<int>& rowSizes);

    int windowCount() const { return m_windows.size(); }
    PlayWindow* window(int iIndex) const;
    int selectedIndex() const { return m_iSelected; }
    void select(int iIndex);
    void setWindowHidden(int iIndex, bool bHidden);
    // The play window "wndIndex" of the request names (the selected one when
    // the key is absent); null with *pError filled when there is none.
    PlayWindow* windowFor(const QJsonObject& request, QJsonObject* pError) const;
    // Runs f(PlayWindow&) on the play window the request names and answers
    // what it answers; answers NoSuchWindow when there is none.
    template <typename F>
    QJsonObject withWindow(const QJsonObject& request, F f) const {
        QJsonObject error;
        PlayWindow* pWindow = windowFor(request, &error);
        return pWindow ? f(*pWindow) : error;
    }
    // Every play window, or only the one "wndIndex" names when present.
    QVector<PlayWindow*> windowsFor(const QJsonObject& request, QJsonObject* pError) const;

    // Digital zoom: while on, dragging over a play window zooms into the
    // dragged rectangle.
    void setZoomMode(bool bOn);
    bool zoomMode() const { return m_bZoomMode; }

    // How live streams of this grid come back after they drop.
    ReconnectPolicy m_reconnectPolicy;
    // Whether plain http:// play urls are fetched over https://.
    bool m_bHttps = false;
    // The drawing events (types 2, 7, 8) the grid raises, as bits 1 << type.
    int m_iDrawEventMask = (1 << VC_EVENT_DRAW_CALLBACK) | (1 << VC_EVENT_DRAW_7) | (1 << VC_EVENT_DRAW_8);

    // Raises an event for the host widget from the event loop, after the
    // code that caused it has returned (so a callback may call back into the
    // library freely).
    void raise(VC_EventType eType, const QJsonObject& data);
    // Stops every play window (with strReason) and raises the events that
    // wait at once, while the host still exists.
    void close(const QString& strReason);
    // A press on a play window: selects it and raises the selection event.
    void onWindowPressed(PlayWindow* pWindow);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void relayout();
    void deliverEvents();

    QWidget* m_pHost;
    QVector<int> m_rowSizes;
    QVector<PlayWindow*> m_windows;
    int m_iSelected = 0;
    bool m_bZoomMode = false;
    // Raised and not yet delivered, in order.
    QVector<QPair<VC_EventType, QJsonObject>> m_listPending;
};

}  // namespace vc

#endif  // VIDEO_CONTROL_PLAYGRID_H
