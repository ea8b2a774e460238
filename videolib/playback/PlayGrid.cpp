#include "PlayGrid.h"

#include "PlayWindow.h"
#include "VcLibrary.h"

#include <QEvent>
#include <QJsonArray>
#include <QPainter>

#include <cmath>
#include <utility>

namespace vc {

PlayGrid::PlayGrid(QWidget* pHost) : QWidget(pHost), m_pHost(pHost) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(pHost->rect());
    pHost->installEventFilter(this);
    show();
}

PlayGrid::~PlayGrid() {
    // The play windows go first, while the list their last events go into
    // still exists (those events are dropped with the grid).
    qDeleteAll(std::exchange(m_windows, {}));
}

bool PlayGrid::parseLayout(const QJsonValue& layout, QVector<int>* pRowSizes) {
    QVector<int> rows;
    if (layout.isDouble()) {
        const int iCount = layout.toInt(0);
        if (iCount < 1 || iCount > kMaxWindows) return false;
        const int iColumns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(iCount))));
        for (int iLeft = iCount; iLeft > 0; iLeft -= iColumns) rows << qMin(iLeft, iColumns);
    } else if (layout.isArray()) {
        for (const QJsonValue& row : layout.toArray()) {
            if (!row.isArray()) return false;
            if (!row.toArray().isEmpty()) rows << row.toArray().size();
        }
    }
    int iTotal = 0;
    for (int iCells : rows) iTotal += iCells;
    if (iTotal < 1 || iTotal > kMaxWindows) return false;
    *pRowSizes = rows;
    return true;
}

void PlayGrid::arrange(const QVector<int>& rowSizes) {
    int iTotal = 0;
    for (int iCells : rowSizes) iTotal += iCells;
    while (m_windows.size() > iTotal) {
        PlayWindow* pGone = m_windows.takeLast();
        pGone->player().stop(QStringLiteral("layout"));
        delete pGone;
    }
    while (m_windows.size() < iTotal) m_windows << new PlayWindow(this, m_windows.size());
    m_rowSizes = rowSizes;
    for (PlayWindow* pWindow : qAsConst(m_windows)) pWindow->setLibraryHidden(false);
    m_iSelected = 0;
    select(0);
    relayout();
}

PlayWindow* PlayGrid::window(int iIndex) const {
    return iIndex >= 0 && iIndex < m_windows.size() ? m_windows[iIndex] : nullptr;
}

void PlayGrid::select(int iIndex) {
    if (!window(iIndex)) return;
    m_iSelected = iIndex;
    for (PlayWindow* pWindow : qAsConst(m_windows)) pWindow->setSelected(pWindow->index() == iIndex);
}

void PlayGrid::setWindowHidden(int iIndex, bool bHidden) {
    if (PlayWindow* pWindow = window(iIndex)) {
        pWindow->setLibraryHidden(bHidden);
        relayout();
    }
}

PlayWindow* PlayGrid::windowFor(const QJsonObject& request, QJsonObject* pError) const {
    const QJsonValue index = request.value(QStringLiteral("wndIndex"));
    if (index.isUndefined() || index.isNull()) {
        if (PlayWindow* pWindow = window(m_iSelected)) return pWindow;
    } else if (index.isDouble() && index.toDouble() == index.toInt()) {
        if (PlayWindow* pWindow = window(index.toInt())) return pWindow;
    }
    *pError = errorResult(Error::NoSuchWindow);
    return nullptr;
}

QVector<PlayWindow*> PlayGrid::windowsFor(const QJsonObject& request, QJsonObject* pError) const {
    if (!request.contains(QStringLiteral("wndIndex"))) return m_windows;
    PlayWindow* pWindow = windowFor(request, pError);
    return pWindow ? QVector<PlayWindow*>{pWindow} : QVector<PlayWindow*>();
}

void PlayGrid::setZoomMode(bool bOn) {
    m_bZoomMode = bOn;
    if (!bOn) {
        for (PlayWindow* pWindow : qAsConst(m_windows)) pWindow->resetZoom();
    }
}

void PlayGrid::raise(VC_EventType eType, const QJsonObject& data) {
    m_listPending.append({eType, data});
    if (m_listPending.size() == 1) QMetaObject::invokeMethod(this, &PlayGrid::deliverEvents, Qt::QueuedConnection);
}

void PlayGrid::deliverEvents() {
    // A callback may raise more (through a command); they wait for the next round.
    const auto pending = std::exchange(m_listPending, {});
    for (const auto& event : pending) fireEvent(event.first, m_pHost, event.second);
}

void PlayGrid::close(const QString& strReason) {
    for (PlayWindow* pWindow : qAsConst(m_windows)) pWindow->player().stop(strReason);
    deliverEvents();
}

void PlayGrid::onWindowPressed(PlayWindow* pWindow) {
    select(pWindow->index());
    raise(VC_EVENT_WINDOW_SELECTED, QJsonObject{{"wndIndex", pWindow->index()}});
}

bool PlayGrid::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pHost && pEvent->type() == QEvent::Resize) {
        setGeometry(m_pHost->rect());
        relayout();
    }
    return false;
}

void PlayGrid::paintEvent(QPaintEvent*) {
    // Seen only where no play window is shown.
    QPainter(this).fillRect(rect(), background(this));
}

void PlayGrid::relayout() {
    // The rows that still show something, each with its shown windows.
    QVector<QVector<PlayWindow*>> rows;
    int iIndex = 0;
    for (int iCells : qAsConst(m_rowSizes)) {
        QVector<PlayWindow*> shown;
        for (int i = 0; i < iCells; ++i, ++iIndex) {
            if (!m_windows[iIndex]->isLibraryHidden()) shown << m_windows[iIndex];
        }
        if (!shown.isEmpty()) rows << shown;
    }
    for (PlayWindow* pWindow : qAsConst(m_windows)) pWindow->setVisible(!pWindow->isLibraryHidden());
    const int iShown = [&rows]() {
        int iCount = 0;
        for (const auto& row : rows) iCount += row.size();
        return iCount;
    }();
    for (int iRow = 0; iRow < rows.size(); ++iRow) {
        const int iTop = height() * iRow / rows.size();
        const int iBottom = height() * (iRow + 1) / rows.size();
        const QVector<PlayWindow*>& row = rows[iRow];
        for (int iColumn = 0; iColumn < row.size(); ++iColumn) {
            const int iLeft = width() * iColumn / row.size();
            const int iRight = width() * (iColumn + 1) / row.size();
            row[iColumn]->setGeometry(iLeft, iTop, iRight - iLeft, iBottom - iTop);
            row[iColumn]->setFramed(iShown > 1);
        }
    }
    update();
}

}  // namespace vc
