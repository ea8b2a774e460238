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
// How often labels that count time are repainted.
constexpr int kLabelClockMs = 500;

// The labels' colours: the accent stripe of each state and the backdrop.
const QColor kConnectingAccent(64, 156, 255);
const QColor kNoSignalAccent(255, 160, 0);
const QColor kPausedAccent(200, 200, 200);
const QColor kErrorAccent(230, 40, 40);
const QColor kRecordingDot(235, 20, 20);
const QColor kBackdrop(0, 0, 0, 170);
// How dark a stale or failed picture gets (alpha of the black over it).
constexpr int kDimAlpha = 150;

// Text on a dark backdrop with an accent stripe at its left; the block's
// top left at ptAt (or centred on it when bCentred).
void drawBadge(QPainter& painter, const QStringList& lines, const QColor& accent, QPointF ptAt, bool bCentred,
               const QRect& rcBounds) {
    const QFontMetrics metrics = painter.fontMetrics();
    const int iPad = qMax(3, metrics.height() / 4);
    const int iStripe = qMax(3, metrics.height() / 5);
    int iWidth = 0;
    for (const QString& strLine : lines) iWidth = qMax(iWidth, metrics.horizontalAdvance(strLine) + 1);
    iWidth = qMin(iWidth, rcBounds.width() - 2 * iPad - iStripe);
    QRectF rcBox(0, 0, iWidth + 2 * iPad + iStripe, lines.size() * metrics.height() + 2 * iPad);
    if (bCentred) {
        rcBox.moveCenter(ptAt);
    } else {
        rcBox.moveTopLeft(ptAt);
    }
    painter.fillRect(rcBox, kBackdrop);
    painter.fillRect(QRectF(rcBox.topLeft(), QSizeF(iStripe, rcBox.height())), accent);
    painter.setPen(Qt::white);
    qreal y = rcBox.top() + iPad;
    for (const QString& strLine : lines) {
        painter.drawText(QRectF(rcBox.left() + iStripe + iPad, y, iWidth, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(strLine, Qt::ElideRight, iWidth));
        y += metrics.height();
    }
}

QString clockText(qint64 iMs) {
    const qint64 iSeconds = iMs / 1000;
    return iSeconds >= 3600 ? QStringLiteral("%1:%2:%3")
                                  .arg(iSeconds / 3600)
                                  .arg(iSeconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                  .arg(iSeconds % 60, 2, 10, QLatin1Char('0'))
                            : QStringLiteral("%1:%2")
                                  .arg(iSeconds / 60, 2, 10, QLatin1Char('0'))
                                  .arg(iSeconds % 60, 2, 10, QLatin1Char('0'));
}

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
    m_labelClock.setInterval(kLabelClockMs);
    connect(&m_labelClock, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    show();
}

PlayWindow::~PlayWindow() {
    m_pPlayer->stop(QStringLiteral("closed"));
}

void PlayWindow::play(const PlaySource& source, const ReconnectPolicy& policy, const QString& strTitle) {
    m_pPlayer->play(source, policy);
    m_picture = QImage();
    m_iPicturePositionMs = -1;
    m_strTitle = strTitle;
    refreshLabels();
}

void PlayWindow::setLabelsShown(bool bShown) {
    m_bLabels = bShown;
    refreshLabels();
}

void PlayWindow::refreshLabels() {
    update();
    const Player::State eState = m_pPlayer->state();
    const bool bCounting =
        m_bLabels && (m_pPlayer->isRecording() || (m_pPlayer->isLive() && eState != Player::State::Stopped &&
                                                   eState != Player::State::Failed && eState != Player::State::Ended));
    if (bCounting && !m_labelClock.isActive()) m_labelClock.start();
    if (!bCounting) m_labelClock.stop();
}

PlayWindow::StateLabel PlayWindow::stateLabel() const {
    StateLabel label;
    const Player& player = *m_pPlayer;
    const qint64 iSilentMs = QDateTime::currentMSecsSinceEpoch() - m_iPictureArrivedMs;
    const bool bWaiting = player.state() == Player::State::Reconnecting ||
                          player.state() == Player::State::Connecting || player.state() == Player::State::Playing;
    if (player.isLive() && bWaiting && !m_picture.isNull() && iSilentMs >= player.lostAfterMs()) {
        label.lines
            << tr("No signal since %1")
                   .arg(QDateTime::fromMSecsSinceEpoch(m_iPictureArrivedMs).toString(QStringLiteral("HH:mm:ss")));
        label.accent = kNoSignalAccent;
        label.bDim = true;
    }
    switch (player.state()) {
    case Player::State::Connecting:
        if (player.attempt() > 0) {
            label.lines << tr("Reconnecting: attempt %1").arg(player.attempt());
            if (!label.bDim) label.accent = kNoSignalAccent;
        } else {
            label.lines << tr("Connecting");
            label.accent = kConnectingAccent;
        }
        break;
    case Player::State::Reconnecting:
        label.lines << tr("Reconnecting: attempt %1, next try in %2 s")
                           .arg(player.attempt())
                           .arg((qMax(0, player.retryInMs()) + 999) / 1000);
        label.accent = kNoSignalAccent;
        break;
    case Player::State::Paused:
        label.lines << tr("Paused");
        label.accent = kPausedAccent;
        break;
    case Player::State::Ended:
        label.lines << tr("End of file");
        label.accent = kPausedAccent;
        break;
    case Player::State::Failed: {
        const QJsonObject failure = player.failure();
        label.lines << tr("Error %1").arg(failure.value(QStringLiteral("errorCode")).toInt())
                    << failure.value(QStringLiteral("errorMessage")).toString();
        label.accent = kErrorAccent;
        label.bDim = true;
        break;
    }
    case Player::State::Stopped:
    case Player::State::Playing: break;
    }
    return label;
}

void PlayWindow::paintLabels(QPainter& painter, const StateLabel& label) {
    const Player& player = *m_pPlayer;
    if (player.state() == Player::State::Stopped) return;
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(qBound(9, qMin(height() / 16, width() / 24), 16));
    font.setBold(true);
    painter.setFont(font);
    const int iMargin = qMax(4, font.pixelSize() / 2);
    const QRect rcInner = rect().adjusted(iMargin, iMargin, -iMargin, -iMargin);
    if (!m_strTitle.isEmpty())
        drawBadge(painter, {m_strTitle}, QColor(255, 255, 255, 0), rcInner.topLeft(), false, rcInner);
    if (player.isRecording()) {
        const QString strText = tr("REC %1").arg(clockText(player.recordedMs()));
        const QFontMetrics metrics = painter.fontMetrics();
        const int iDot = metrics.height() / 2;
        const QRect rcBox(rcInner.right() - metrics.horizontalAdvance(strText) - 3 * iDot, rcInner.top(),
                          metrics.horizontalAdvance(strText) + 3 * iDot, metrics.height() + iDot);
        painter.fillRect(rcBox, kBackdrop);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kRecordingDot);
        painter.drawEllipse(QRectF(rcBox.left() + iDot / 2.0, rcBox.center().y() - iDot / 2.0, iDot, iDot));
        painter.setPen(Qt::white);
        painter.drawText(rcBox.adjusted(2 * iDot, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, strText);
    }
    if (!label.lines.isEmpty()) drawBadge(painter, label.lines, label.accent, QRectF(rect()).center(), true, rcInner);
    painter.restore();
}

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
    QRectF rcSource(m_rcZoom.x() * picture.width(), m_rcZoom.y() * picture.height(), m_rcZoom.width() * picture.width(),
                    m_rcZoom.height() * picture.height());
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
    const StateLabel label = m_bLabels ? stateLabel() : StateLabel();
    if (!m_picture.isNull()) {
        painter.drawImage(rcPicture, m_picture, sourceRect());
        if (label.bDim) painter.fillRect(rcPicture, QColor(0, 0, 0, kDimAlpha));
    }
    for (const auto& pOverlay : m_overlays) pOverlay->paint(painter, rcPicture);
    if (m_bLabels) paintLabels(painter, label);
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
    if (strEvent == QLatin1String("stopped") && m_pPlayer->state() == Player::State::Stopped) {
        m_picture = QImage();
        m_iPicturePositionMs = -1;
    }
    refreshLabels();
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
    QJsonObject data{{"wndIndex", m_iIndex}, {"type", strType},    {"x", pos.x()},       {"y", pos.y()},
                     {"width", width()},     {"height", height()}, {"buttons", iButtons}};
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
