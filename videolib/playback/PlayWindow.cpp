#include "PlayWindow.h"

#include "PlayGrid.h"
#include "Player.h"
#include "VcLibrary.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace vc {
namespace {

// Smallest dragged rectangle (pixels each way) that zooms.
constexpr int kMinZoomDrag = 8;

}  // namespace

// Black, unless someone asked the widget to fill its background.
QBrush background(const QWidget* pWidget) {
    return pWidget->autoFillBackground() ? pWidget->palette().window() : QBrush(Qt::black);
}

namespace {

// The point of rcTo that lies where pt lies in rcFrom.
QPointF mapBetween(const QRectF& rcFrom, const QRectF& rcTo, const QPointF& pt) {
    if (rcFrom.isEmpty()) return rcTo.topLeft();
    return QPointF(rcTo.x() + (pt.x() - rcFrom.x()) / rcFrom.width() * rcTo.width(),
                   rcTo.y() + (pt.y() - rcFrom.y()) / rcFrom.height() * rcTo.height());
}

int buttonsOf(QMouseEvent* pEvent) {
    return static_cast<int>(pEvent->button() != Qt::NoButton ? pEvent->button() : pEvent->buttons());
}

}  // namespace

PlayWindow::PlayWindow(PlayGrid* pGrid, int iIndex)
    : QWidget(pGrid), m_pGrid(pGrid), m_iIndex(iIndex), m_pPlayer(new Player(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    connect(m_pPlayer, &Player::sigFrameReady, this, &PlayWindow::onFrameReady);
    connect(m_pPlayer, &Player::sigStreamEvent, this, &PlayWindow::onStreamEvent);
    show();
}

PlayWindow::~PlayWindow() = default;

void PlayWindow::setSelected(bool bSelected) {
    if (bSelected == m_bSelected) return;
    m_bSelected = bSelected;
    update();
}

void PlayWindow::setFramed(bool bFramed) {
    if (bFramed == m_bFramed) return;
    m_bFramed = bFramed;
    update();
}

void PlayWindow::setRatioMode(RatioMode eMode) {
    m_eRatioMode = eMode;
    update();
}

void PlayWindow::setZoom(const QRectF& rcPart) {
    m_rcZoom = rcPart.intersected(QRectF(0, 0, 1, 1));
    if (m_rcZoom.isEmpty()) m_rcZoom = QRectF(0, 0, 1, 1);
    update();
}

void PlayWindow::resetZoom() {
    m_rcDrag = QRect();
    setZoom(QRectF(0, 0, 1, 1));
}

void PlayWindow::addOverlay(std::unique_ptr<PlayWindowOverlay> pOverlay) {
    m_overlays.push_back(std::move(pOverlay));
    update();
}

QRectF PlayWindow::sourceRect() const {
    const QSizeF picture = m_picture.size();
    QRectF rcSource(m_rcZoom.x() * picture.width(), m_rcZoom.y() * picture.height(),
                    m_rcZoom.width() * picture.width(), m_rcZoom.height() * picture.height());
    if (m_eRatioMode == RatioMode::Fill && !rcSource.isEmpty() && width() > 0 && height() > 0) {
        // Crop the source to the window's shape, around its centre.
        const QSizeF fitted = QSizeF(size()).scaled(rcSource.size(), Qt::KeepAspectRatio);
        QRectF rcFitted(QPointF(), fitted);
        rcFitted.moveCenter(rcSource.center());
        rcSource = rcFitted;
    }
    return rcSource;
}

QRect PlayWindow::pictureRect() const {
    if (m_picture.isNull() || m_eRatioMode != RatioMode::Fit) return rect();
    const QSize fitted = sourceRect().size().toSize().scaled(size(), Qt::KeepAspectRatio);
    QRect rcPicture(QPoint(), fitted);
    rcPicture.moveCenter(rect().center());
    return rcPicture;
}

QRectF PlayWindow::shownPart() const {
    if (m_picture.isNull()) return m_rcZoom;
    const QRectF rcSource = sourceRect();
    const QSizeF picture = m_picture.size();
    return QRectF(rcSource.x() / picture.width(), rcSource.y() / picture.height(), rcSource.width() / picture.width(),
                  rcSource.height() / picture.height());
}

QPointF PlayWindow::toPicture(const QPointF& ptWindow) const {
    return mapBetween(pictureRect(), shownPart(), ptWindow);
}

QPointF PlayWindow::toWindow(const QPointF& ptPicture) const {
    return mapBetween(shownPart(), pictureRect(), ptPicture);
}

void PlayWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect rcPicture = pictureRect();
    if (m_picture.isNull() || rcPicture != rect()) painter.fillRect(rect(), background(this));
    if (!m_picture.isNull()) painter.drawImage(rcPicture, m_picture, sourceRect());
    for (const auto& pOverlay : m_overlays) pOverlay->paint(painter, rcPicture);
    if (!m_rcDrag.isNull()) {
        painter.setPen(QPen(Qt::white, 1, Qt::DashLine));
        painter.drawRect(m_rcDrag.normalized().adjusted(0, 0, -1, -1));
    }
    if (m_bFramed) {
        painter.setPen(QPen(m_bSelected ? QColor(255, 176, 0) : QColor(64, 64, 64), m_bSelected ? 2 : 1));
        painter.setBrush(Qt::NoBrush);
        const int iInset = m_bSelected ? 1 : 0;
        painter.drawRect(rect().adjusted(iInset, iInset, -1, -1));
    }
    if (m_bNewPicture) {
        m_bNewPicture = false;
        if (PaintObserver pObserver = testSeam().pPaintObserver) pObserver(m_pGrid->host(), m_iIndex, m_picture);
    }
}

void PlayWindow::onFrameReady() {
    QImage picture;
    qint64 iPositionMs = -1;
    if (!m_pPlayer->takeFrame(&picture, &iPositionMs)) return;
    m_picture = picture;
    m_iPicturePositionMs = iPositionMs;
    m_iPictureArrivedMs = QDateTime::currentMSecsSinceEpoch();
    m_bNewPicture = true;
    update();
}

void PlayWindow::onStreamEvent(const QString& strEvent, const QJsonObject& extra) {
    if (strEvent == QLatin1String("stopped")) {
        m_picture = QImage();
        m_iPicturePositionMs = -1;
        update();
    }
    QJsonObject data = extra;
    data.insert(QStringLiteral("event"), strEvent);
    data.insert(QStringLiteral("wndIndex"), m_iIndex);
    m_pGrid->raise(VC_EVENT_NET_STREAM, data);
}

bool PlayWindow::overlayTook(QMouseEvent* pEvent) {
    for (const auto& pOverlay : m_overlays) {
        if (pOverlay->mouseEvent(pEvent)) return true;
    }
    return false;
}

void PlayWindow::raiseMouse(const QString& strType, const QPoint& pos, int iButtons, int iDelta) {
    QJsonObject data{{"wndIndex", m_iIndex}, {"type", strType}, {"x", pos.x()}, {"y", pos.y()},
                     {"width", width()}, {"height", height()}, {"buttons", iButtons}};
    if (strType == QLatin1String("wheel")) data.insert(QStringLiteral("delta"), iDelta);
    m_pGrid->raise(VC_EVENT_MOUSE, data);
}

void PlayWindow::mousePressEvent(QMouseEvent* pEvent) {
    m_pGrid->onWindowPressed(this);
    if (overlayTook(pEvent)) return;
    if (m_pGrid->zoomMode() && pEvent->button() == Qt::LeftButton) {
        m_ptDragStart = pEvent->pos();
        m_rcDrag = QRect(m_ptDragStart, QSize(1, 1));
    }
    raiseMouse(QStringLiteral("press"), pEvent->pos(), buttonsOf(pEvent));
}

void PlayWindow::mouseMoveEvent(QMouseEvent* pEvent) {
    if (overlayTook(pEvent)) return;
    if (!m_rcDrag.isNull()) {
        m_rcDrag = QRect(m_ptDragStart, pEvent->pos()).normalized();
        update();
    }
    raiseMouse(QStringLiteral("move"), pEvent->pos(), buttonsOf(pEvent));
}

void PlayWindow::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (overlayTook(pEvent)) return;
    if (!m_rcDrag.isNull()) {
        const QRect rcDrag = QRect(m_ptDragStart, pEvent->pos()).normalized().intersected(pictureRect());
        m_rcDrag = QRect();
        if (rcDrag.width() >= kMinZoomDrag && rcDrag.height() >= kMinZoomDrag && !m_picture.isNull())
            setZoom(QRectF(toPicture(rcDrag.topLeft()), toPicture(rcDrag.bottomRight() + QPoint(1, 1))));
        update();
    }
    raiseMouse(QStringLiteral("release"), pEvent->pos(), buttonsOf(pEvent));
}

void PlayWindow::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    if (overlayTook(pEvent)) return;
    m_pGrid->raise(VC_EVENT_PLAY_WINDOW, QJsonObject{{"wndIndex", m_iIndex}});
    raiseMouse(QStringLiteral("doubleClick"), pEvent->pos(), buttonsOf(pEvent));
}

void PlayWindow::wheelEvent(QWheelEvent* pEvent) {
    raiseMouse(QStringLiteral("wheel"), pEvent->position().toPoint(), static_cast<int>(pEvent->buttons()),
               pEvent->angleDelta().y());
}

}  // namespace vc
