// One play window of a grid: shows the newest picture of its player, scaled
// by its ratio mode and cropped by its digital zoom, with a border when it
// is selected among several; turns mouse input into the library's events.
//
// Over the picture it paints the tile's labels (only on screen: snapshots
// and recordings never hold them): the camera's name at the top left, a red
// dot and the recorded time at the top right while recording, and in the
// middle the state when it is not simply playing: connecting, reconnecting
// (attempt n, next try in s), no signal (no picture for the stall
// detector's time, the player's lostAfterMs: the last picture dimmed, with
// the time it came), paused, end of file, or the error's text. Each sits on a
// dark backdrop, legible on any picture; the page can turn them off.
//
// Drawing on top of the picture (shapes, text) is done by overlays, which
// paint after the picture and see mouse input first.
//
// GUI thread only.
#ifndef VIDEO_CONTROL_PLAYWINDOW_H
#define VIDEO_CONTROL_PLAYWINDOW_H

#include <QImage>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QMouseEvent;

namespace vc {

class PlayGrid;
class Player;
struct PlaySource;
struct ReconnectPolicy;

// What the library paints where there is no picture: black, unless the
// widget was asked to fill its background (autoFillBackground), then its
// palette's window colour.
QBrush background(const QWidget* pWidget);

// Something drawn over the picture of a play window.
class PlayWindowOverlay {
public:
    virtual ~PlayWindowOverlay() = default;
    // rcPicture: where the picture is drawn, in the play window's pixels.
    virtual void paint(QPainter& painter, const QRect& rcPicture) = 0;
    // Returns true when the overlay took the event (no library event then).
    virtual bool mouseEvent(QMouseEvent*) { return false; }
};

class PlayWindow : public QWidget {
    Q_OBJECT
public:
    enum class RatioMode { Fit, Fill, Stretch };

    PlayWindow(PlayGrid* pGrid, int iIndex);
    // Stops the playback first ("stopped" with the reason "closed").
    ~PlayWindow() override;

    int index() const { return m_iIndex; }
    PlayGrid& grid() const { return *m_pGrid; }
    Player& player() const { return *m_pPlayer; }
    // Plays source afresh (no picture until its first one) under the camera
    // name strTitle.
    void play(const PlaySource& source, const ReconnectPolicy& policy, const QString& strTitle);
    QString title() const { return m_strTitle; }
    // The labels over the picture, on by default.
    void setLabelsShown(bool bShown);
    bool labelsShown() const { return m_bLabels; }
    // Repaints the labels after the player changed without an event (pause,
    // recording), and runs their clock while one shows a running time.
    void refreshLabels();

    // Hidden by the library (VC_HideWindow), independent of whether the
    // widget itself is on screen.
    bool isLibraryHidden() const { return m_bLibraryHidden; }
    void setLibraryHidden(bool bHidden) { m_bLibraryHidden = bHidden; }
    void setSelected(bool bSelected);
    // Whether the window draws its frame (only when several are shown).
    void setFramed(bool bFramed);

    void setRatioMode(RatioMode eMode);
    RatioMode ratioMode() const { return m_eRatioMode; }
    // The part of the picture shown, in fractions of it; the whole picture
    // when reset.
    void setZoom(const QRectF& rcPart);
    void resetZoom();
    QRectF zoom() const { return m_rcZoom; }

    // The newest picture (null before the first one) and its stream time.
    QImage picture() const { return m_picture; }
    qint64 picturePositionMs() const { return m_iPicturePositionMs; }
    // When it arrived (ms since the epoch).
    qint64 pictureArrivedMs() const { return m_iPictureArrivedMs; }
    // Where the picture is drawn, in the window's pixels.
    QRect pictureRect() const;
    // The part of the whole picture that is shown (in fractions of it; the
    // zoomed part when there is no picture yet).
    QRectF shownPart() const;
    // A point of the window as a point of the whole picture (fractions),
    // and back; both follow the ratio mode and the zoom.
    QPointF toPicture(const QPointF& ptWindow) const;
    QPointF toWindow(const QPointF& ptPicture) const;

    void addOverlay(std::unique_ptr<PlayWindowOverlay> pOverlay);
    // The first overlay of type T, or null.
    template <typename T>
    T* overlay() const {
        for (const auto& pOverlay : m_overlays) {
            if (T* pFound = dynamic_cast<T*>(pOverlay.get())) return pFound;
        }
        return nullptr;
    }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;

private:
    void onFrameReady();
    void onStreamEvent(const QString& strEvent, const QJsonObject& extra);
    // What the middle label says (empty: nothing) and whether the picture
    // is dimmed under it.
    struct StateLabel {
        QStringList lines;
        QColor accent;
        bool bDim = false;
    };
    StateLabel stateLabel() const;
    void paintLabels(QPainter& painter, const StateLabel& label);

    // The part of the picture in source pixels that the window shows.
    QRectF sourceRect() const;
    bool overlayTook(QMouseEvent* pEvent);
    void raiseMouse(const QString& strType, const QPoint& pos, int iButtons, int iDelta = 0);

    PlayGrid* m_pGrid;
    int m_iIndex;
    Player* m_pPlayer;
    bool m_bLibraryHidden = false;
    bool m_bSelected = false;
    bool m_bFramed = false;
    RatioMode m_eRatioMode = RatioMode::Fit;
    QRectF m_rcZoom{0, 0, 1, 1};
    QImage m_picture;
    qint64 m_iPicturePositionMs = -1;
    qint64 m_iPictureArrivedMs = 0;
    bool m_bNewPicture = false;
    QString m_strTitle;
    bool m_bLabels = true;
    // Repaints the labels that count time (no signal, retry, recording).
    QTimer m_labelClock;
    // Zoom rectangle being dragged, in window pixels (null when none).
    QPoint m_ptDragStart;
    QRect m_rcDrag;
    std::vector<std::unique_ptr<PlayWindowOverlay>> m_overlays;
};

}  // namespace vc

#endif  // VIDEO_CONTROL_PLAYWINDOW_H
