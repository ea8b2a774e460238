#include "Drawing.h"

#include "PlayGrid.h"
#include "VcLibrary.h"

#include <QFontMetricsF>
#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSet>

#include <cmath>

namespace vc {
namespace {

// A press this close (pixels) hits a handle, a line or a point.
constexpr double kHitPixels = 6;
// Smaller rectangles and shorter lines (pixels) are dropped, not drawn.
constexpr double kMinDrawPixels = 4;
constexpr int kMaxTexts = 16;
constexpr int kMaxTextLength = 256;
constexpr int kMinTextSize = 6;
constexpr int kMaxTextSize = 128;
constexpr int kDefaultTextSize = 16;

const char* const kKindNames[kShapeKindCount] = {"rect", "polygon", "line", "point", "grid"};

bool isFraction(const QJsonValue& value) {
    return value.isDouble() && value.toDouble() >= 0 && value.toDouble() <= 1;
}

bool readPoint(const QJsonValue& value, QPointF* pPoint) {
    const QJsonObject point = value.toObject();
    if (!isFraction(point.value(QStringLiteral("x"))) || !isFraction(point.value(QStringLiteral("y")))) return false;
    *pPoint = QPointF(point.value(QStringLiteral("x")).toDouble(), point.value(QStringLiteral("y")).toDouble());
    return true;
}

QPointF clampToPicture(const QPointF& pt) {
    return QPointF(qBound(0.0, pt.x(), 1.0), qBound(0.0, pt.y(), 1.0));
}

double distanceToSegment(const QPointF& pt, const QPointF& a, const QPointF& b) {
    const QPointF ab = b - a;
    const double dLengthSquared = QPointF::dotProduct(ab, ab);
    const double t = dLengthSquared > 0 ? qBound(0.0, QPointF::dotProduct(pt - a, ab) / dLengthSquared, 1.0) : 0.0;
    return QLineF(pt, a + t * ab).length();
}

// The distance from a point to a polyline (closed: a polygon's edges).
double distanceToOutline(const QPointF& pt, const QPolygonF& outline, bool bClosed) {
    double dNearest = outline.isEmpty() ? HUGE_VAL : QLineF(pt, outline.first()).length();
    for (int i = 0; i + 1 < outline.size() || (bClosed && i < outline.size()); ++i)
        dNearest = std::min(dNearest, distanceToSegment(pt, outline[i], outline[(i + 1) % outline.size()]));
    return dNearest;
}

// The shape moved by delta, as far as it stays inside the picture.
Shape moved(Shape shape, QPointF delta) {
    QRectF rcBounds = QPolygonF(shape.outline()).boundingRect();
    delta.rx() = qBound(-rcBounds.left(), delta.x(), 1 - rcBounds.right());
    delta.ry() = qBound(-rcBounds.top(), delta.y(), 1 - rcBounds.bottom());
    shape.rc.translate(delta);
    for (QPointF& pt : shape.points) pt += delta;
    return shape;
}

// The shape with one handle (a corner, a vertex) dragged to pt.
Shape reshaped(Shape shape, int iHandle, const QPointF& pt) {
    if (shape.eKind == ShapeKind::Rect) {
        const QRectF rc = QRectF(shape.outline()[(iHandle + 2) % 4], pt).normalized();
        if (rc.width() > 0 && rc.height() > 0) shape.rc = rc;
    } else if (iHandle < shape.points.size()) {
        shape.points[iHandle] = pt;
    }
    return shape;
}

}  // namespace

QString shapeKindName(ShapeKind eKind) {
    return QLatin1String(kKindNames[static_cast<int>(eKind)]);
}

bool parseShapeKind(const QJsonValue& value, ShapeKind* pKind) {
    for (int i = 0; i < kShapeKindCount; ++i) {
        if (value.toString() == QLatin1String(kKindNames[i])) {
            *pKind = static_cast<ShapeKind>(i);
            return true;
        }
    }
    return false;
}

QJsonObject Shape::toJson() const {
    QJsonObject object = extra;
    object.insert(QStringLiteral("id"), iId);
    if (eKind == ShapeKind::Rect) {
        object.insert(QStringLiteral("x"), rc.x());
        object.insert(QStringLiteral("y"), rc.y());
        object.insert(QStringLiteral("width"), rc.width());
        object.insert(QStringLiteral("height"), rc.height());
    } else if (eKind == ShapeKind::Point) {
        object.insert(QStringLiteral("x"), points.value(0).x());
        object.insert(QStringLiteral("y"), points.value(0).y());
    } else {
        QJsonArray array;
        for (const QPointF& pt : points) array.append(QJsonObject{{"x", pt.x()}, {"y", pt.y()}});
        object.insert(QStringLiteral("points"), array);
    }
    return object;
}

bool Shape::fromJson(ShapeKind eKind, const QJsonObject& object, Shape* pShape, QString* pWhy) {
    Shape shape;
    shape.eKind = eKind;
    shape.extra = object;
    const QJsonValue id = object.value(QStringLiteral("id"));
    if (!id.isUndefined()) {
        if (!id.isDouble() || id.toDouble() != std::floor(id.toDouble()) || id.toDouble() < 1 || id.toDouble() > 1e9) {
            *pWhy = QStringLiteral("\"id\" must be a whole number from 1");
            return false;
        }
        shape.iId = id.toInt();
    }
    shape.extra.remove(QStringLiteral("id"));
    const auto take = [&shape](const char* szKey) { return shape.extra.take(QLatin1String(szKey)); };
    switch (eKind) {
    case ShapeKind::Rect: {
        const QJsonValue x = take("x"), y = take("y"), width = take("width"), height = take("height");
        shape.rc = QRectF(x.toDouble(), y.toDouble(), width.toDouble(), height.toDouble());
        if (!isFraction(x) || !isFraction(y) || !isFraction(width) || !isFraction(height) || shape.rc.isEmpty() ||
            shape.rc.right() > 1 + 1e-9 || shape.rc.bottom() > 1 + 1e-9) {
            *pWhy = QStringLiteral("a rectangle has \"x\", \"y\", \"width\", \"height\" inside the picture (0..1)");
            return false;
        }
        break;
    }
    case ShapeKind::Point: {
        QPointF pt;
        if (!readPoint(QJsonObject{{"x", take("x")}, {"y", take("y")}}, &pt)) {
            *pWhy = QStringLiteral("a point has \"x\" and \"y\" (0..1)");
            return false;
        }
        shape.points = {pt};
        break;
    }
    case ShapeKind::Polygon:
    case ShapeKind::Line: {
        const bool bLine = eKind == ShapeKind::Line;
        const QJsonArray array = take("points").toArray();
        for (const QJsonValue& value : array) {
            QPointF pt;
            if (readPoint(value, &pt)) shape.points << pt;
        }
        const bool bCountOk =
            bLine ? array.size() == 2 : array.size() >= 3 && array.size() <= DrawLayer::kMaxPolygonCorners;
        if (!bCountOk || shape.points.size() != array.size() || (bLine && shape.points[0] == shape.points[1])) {
            *pWhy = bLine ? QStringLiteral("a line has \"points\": two different {\"x\", \"y\"} (0..1)")
                          : QStringLiteral("a polygon has \"points\": 3 to %1 {\"x\", \"y\"} (0..1)")
                                .arg(DrawLayer::kMaxPolygonCorners);
            return false;
        }
        break;
    }
    case ShapeKind::Grid: *pWhy = QStringLiteral("the grid is not a shape"); return false;
    }
    *pShape = shape;
    return true;
}

QVector<QPointF> Shape::outline() const {
    if (eKind == ShapeKind::Rect) return {rc.topLeft(), rc.topRight(), rc.bottomRight(), rc.bottomLeft()};
    return points;
}

QJsonObject CellGrid::toJson() const {
    QJsonArray rows;
    for (int iRow = 0; iRow < iRows; ++iRow) {
        QString strRow;
        for (int iColumn = 0; iColumn < iColumns; ++iColumn) strRow += cell(iRow, iColumn) ? '1' : '0';
        rows.append(strRow);
    }
    return QJsonObject{{"rows", iRows}, {"columns", iColumns}, {"cells", rows}};
}

bool CellGrid::fromJson(const QJsonObject& object, CellGrid* pGrid, QString* pWhy) {
    CellGrid grid;
    grid.iRows = object.value(QStringLiteral("rows")).toInt(0);
    grid.iColumns = object.value(QStringLiteral("columns")).toInt(0);
    const QJsonValue cells = object.value(QStringLiteral("cells"));
    bool bOk = grid.iRows >= 1 && grid.iRows <= DrawLayer::kMaxGridSide && grid.iColumns >= 1 &&
               grid.iColumns <= DrawLayer::kMaxGridSide &&
               (cells.isUndefined() || (cells.isArray() && cells.toArray().size() == grid.iRows));
    grid.cells.fill(false, bOk ? grid.iRows * grid.iColumns : 0);
    const QJsonArray rows = cells.toArray();
    for (int iRow = 0; bOk && iRow < rows.size(); ++iRow) {
        const QString strRow = rows[iRow].toString();
        bOk = rows[iRow].isString() && strRow.size() == grid.iColumns;
        for (int iColumn = 0; bOk && iColumn < grid.iColumns; ++iColumn) {
            bOk = strRow[iColumn] == '0' || strRow[iColumn] == '1';
            grid.cells[iRow * grid.iColumns + iColumn] = strRow[iColumn] == '1';
        }
    }
    if (!bOk) {
        *pWhy = QStringLiteral(
                    "a grid has \"rows\" and \"columns\" (1 to %1) and \"cells\": one text of 0 and 1 "
                    "per row, one character per column")
                    .arg(DrawLayer::kMaxGridSide);
        return false;
    }
    *pGrid = grid;
    return true;
}

DrawLayer& DrawLayer::of(PlayWindow& window) {
    if (DrawLayer* pLayer = window.overlay<DrawLayer>()) return *pLayer;
    std::unique_ptr<DrawLayer> pLayer(new DrawLayer(window));
    DrawLayer& layer = *pLayer;
    window.addOverlay(std::move(pLayer));
    return layer;
}

DrawLayer::DrawLayer(PlayWindow& window) : m_window(window) {
    style(ShapeKind::Grid).color = QColor(255, 64, 64);
}

void DrawLayer::setDrawing(ShapeKind eKind, bool bOn) {
    cancel();
    if (bOn) {
        m_eDrawing = eKind;
        if (eKind == ShapeKind::Grid && m_grid.iRows == 0) {
            m_grid.iRows = kDefaultGridRows;
            m_grid.iColumns = kDefaultGridColumns;
            m_grid.cells.fill(false, kDefaultGridRows * kDefaultGridColumns);
        }
    }
    if (bOn || m_eDrawing == eKind) m_bDrawing = bOn;
    m_window.update();
}

QJsonArray DrawLayer::shapesJson(ShapeKind eKind) const {
    QJsonArray array;
    for (const Shape& shape : m_shapes) {
        if (shape.eKind == eKind) array.append(shape.toJson());
    }
    return array;
}

int DrawLayer::count(ShapeKind eKind) const {
    return static_cast<int>(
        std::count_if(m_shapes.begin(), m_shapes.end(), [eKind](const Shape& shape) { return shape.eKind == eKind; }));
}

QJsonObject DrawLayer::replaceShapes(ShapeKind eKind, const QJsonArray& shapes) {
    if (shapes.size() > style(eKind).iMaxCount)
        return errorResult(
            Error::TooManyShapes,
            QStringLiteral("at most %1 of them (setDrawShapeInfo \"maxCount\")").arg(style(eKind).iMaxCount));
    QSet<int> ids;
    for (const Shape& shape : qAsConst(m_shapes)) {
        if (shape.eKind != eKind) ids.insert(shape.iId);
    }
    QVector<Shape> parsed;
    for (const QJsonValue& value : shapes) {
        Shape shape;
        QString strWhy = QStringLiteral("each shape is an object");
        if (!value.isObject() || !Shape::fromJson(eKind, value.toObject(), &shape, &strWhy))
            return errorResult(Error::BadRequest, strWhy);
        if (shape.iId && ids.contains(shape.iId))
            return errorResult(Error::BadRequest, QStringLiteral("id %1 is taken").arg(shape.iId));
        ids.insert(shape.iId);
        m_iNextId = std::max(m_iNextId, shape.iId + 1);
        parsed << shape;
    }
    eraseKind(eKind);
    for (Shape& shape : parsed) {
        if (!shape.iId) shape.iId = m_iNextId++;
        m_shapes << shape;
    }
    m_window.update();
    return QJsonObject();
}

void DrawLayer::eraseKind(ShapeKind eKind) {
    cancel();
    m_shapes.erase(
        std::remove_if(m_shapes.begin(), m_shapes.end(), [eKind](const Shape& shape) { return shape.eKind == eKind; }),
        m_shapes.end());
    if (!shape(m_iSelectedId)) m_iSelectedId = 0;
}

bool DrawLayer::removeShape(int iId) {
    const auto it =
        std::find_if(m_shapes.begin(), m_shapes.end(), [iId](const Shape& shape) { return shape.iId == iId; });
    if (it == m_shapes.end()) return false;
    cancel();
    m_shapes.erase(it);
    if (m_iSelectedId == iId) m_iSelectedId = 0;
    m_window.update();
    return true;
}

int DrawLayer::removeKind(ShapeKind eKind) {
    cancel();
    int iRemoved = 0;
    if (eKind == ShapeKind::Grid) {
        iRemoved = static_cast<int>(m_grid.cells.count(true));
        m_grid.cells.fill(false);
    } else {
        iRemoved = count(eKind);
        eraseKind(eKind);
    }
    m_window.update();
    return iRemoved;
}

void DrawLayer::clear() {
    cancel();
    m_shapes.clear();
    m_grid.cells.fill(false);
    m_iSelectedId = 0;
    m_window.update();
}

bool DrawLayer::select(int iId) {
    if (iId && !shape(iId)) return false;
    m_iSelectedId = iId;
    m_window.update();
    return true;
}

void DrawLayer::setCellGrid(const CellGrid& grid) {
    cancel();
    m_grid = grid;
    m_window.update();
}

bool DrawLayer::checkTexts(const QJsonArray& texts, QString* pWhy) {
    bool bOk = texts.size() <= kMaxTexts;
    for (const QJsonValue& value : texts) {
        const QJsonObject text = value.toObject();
        const QJsonValue color = text.value(QStringLiteral("color"));
        const QJsonValue size = text.value(QStringLiteral("size"));
        bOk = bOk && value.isObject() && text.value(QStringLiteral("text")).isString() &&
              text.value(QStringLiteral("text")).toString().size() <= kMaxTextLength &&
              isFraction(text.value(QStringLiteral("x"))) && isFraction(text.value(QStringLiteral("y"))) &&
              (color.isUndefined() || QColor::isValidColor(color.toString())) &&
              (size.isUndefined() ||
               (size.isDouble() && size.toDouble() >= kMinTextSize && size.toDouble() <= kMaxTextSize));
    }
    if (!bOk) {
        *pWhy = QStringLiteral(
                    "\"texts\": up to %1 of {\"text\" (up to %2 characters), \"x\", \"y\" (0..1), "
                    "\"color\", \"size\" (%3 to %4 pixels)}")
                    .arg(kMaxTexts)
                    .arg(kMaxTextLength)
                    .arg(kMinTextSize)
                    .arg(kMaxTextSize);
    }
    return bOk;
}

void DrawLayer::setTexts(const QJsonArray& texts) {
    m_texts = texts;
    m_window.update();
}

Shape* DrawLayer::shape(int iId) {
    for (Shape& shape : m_shapes) {
        if (shape.iId == iId) return &shape;
    }
    return nullptr;
}

Shape* DrawLayer::shapeAt(const QPointF& ptWindow) {
    for (auto it = m_shapes.rbegin(); it != m_shapes.rend(); ++it) {
        QPolygonF outline;
        for (const QPointF& pt : it->outline()) outline << m_window.toWindow(pt);
        const bool bArea = it->eKind == ShapeKind::Rect || it->eKind == ShapeKind::Polygon;
        if ((bArea && outline.containsPoint(ptWindow, Qt::OddEvenFill)) ||
            distanceToOutline(ptWindow, outline, bArea) <= kHitPixels)
            return &*it;
    }
    return nullptr;
}

int DrawLayer::handleAt(const QPointF& ptWindow) {
    const Shape* pSelected = shape(m_iSelectedId);
    const QVector<QPointF> handles = pSelected ? pSelected->outline() : QVector<QPointF>();
    for (int i = 0; i < handles.size(); ++i) {
        if (QLineF(m_window.toWindow(handles[i]), ptWindow).length() <= kHitPixels) return i;
    }
    return -1;
}

QPointF DrawLayer::pictureAt(const QPoint& ptWindow) const {
    return clampToPicture(m_window.toPicture(ptWindow));
}

bool DrawLayer::mouseEvent(QMouseEvent* pEvent) {
    if (!m_bDrawing && m_eGesture == Gesture::None) return false;
    const QPointF pt = pictureAt(pEvent->pos());
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
        if (pEvent->button() == Qt::RightButton) cancel();
        if (pEvent->button() == Qt::LeftButton) press(pEvent->localPos(), pt);
        return true;
    case QEvent::MouseMove:
        // Hovering over the picture still raises the library's mouse events.
        if (m_eGesture == Gesture::None) return false;
        drag(pt);
        return true;
    case QEvent::MouseButtonRelease:
        if (pEvent->button() == Qt::LeftButton) release();
        return true;
    case QEvent::MouseButtonDblClick:
        // Also keeps the double click from switching full screen.
        if (m_eGesture == Gesture::Drawing && m_draft.eKind == ShapeKind::Polygon && m_draft.points.size() >= 3)
            finishDraft();
        return true;
    default: return false;
    }
}

void DrawLayer::press(const QPointF& ptWindow, const QPointF& pt) {
    m_ptPress = m_ptMouse = pt;
    if (m_eGesture == Gesture::Drawing && m_draft.eKind == ShapeKind::Polygon) {
        // (The second press of a double click comes as the double click.)
        m_draft.points << pt;
        if (m_draft.points.size() == kMaxPolygonCorners) finishDraft();
        m_window.update();
        return;
    }
    if (!m_bDrawing) return;
    if (m_eDrawing == ShapeKind::Grid) {
        const int iRow = std::min(m_grid.iRows - 1, static_cast<int>(pt.y() * m_grid.iRows));
        const int iColumn = std::min(m_grid.iColumns - 1, static_cast<int>(pt.x() * m_grid.iColumns));
        m_bCellsOn = !m_grid.cell(iRow, iColumn);
        m_eGesture = Gesture::Painting;
        paintCells(pt, pt);
    } else if ((m_iHandle = handleAt(ptWindow)) >= 0) {
        m_draft = *shape(m_iSelectedId);
        m_eGesture = Gesture::Reshaping;
    } else if (Shape* pShape = shapeAt(ptWindow)) {
        m_iSelectedId = pShape->iId;
        m_draft = *pShape;
        m_eGesture = Gesture::Moving;
    } else {
        m_iSelectedId = 0;
        if (count(m_eDrawing) < style(m_eDrawing).iMaxCount) {
            m_draft = Shape();
            m_draft.eKind = m_eDrawing;
            m_draft.rc = QRectF(pt, pt);
            m_draft.points = m_eDrawing == ShapeKind::Line ? QVector<QPointF>{pt, pt} : QVector<QPointF>{pt};
            m_eGesture = Gesture::Drawing;
        }
    }
    m_window.update();
}

void DrawLayer::drag(const QPointF& pt) {
    const QPointF ptLast = m_ptMouse;
    m_ptMouse = pt;
    Shape* pSelected = shape(m_iSelectedId);
    switch (m_eGesture) {
    case Gesture::Drawing:
        m_draft.rc = QRectF(m_ptPress, pt).normalized();
        if (m_draft.eKind != ShapeKind::Polygon) m_draft.points.last() = pt;
        break;
    case Gesture::Moving:
        if (pSelected) *pSelected = moved(m_draft, pt - m_ptPress);
        break;
    case Gesture::Reshaping:
        if (pSelected) *pSelected = reshaped(m_draft, m_iHandle, pt);
        break;
    case Gesture::Painting: paintCells(ptLast, pt); break;
    case Gesture::None: break;
    }
    m_window.update();
}

void DrawLayer::release() {
    const Gesture eGesture = m_eGesture;
    if (eGesture == Gesture::Drawing && m_draft.eKind == ShapeKind::Polygon) return;  // more corners to come
    m_eGesture = Gesture::None;
    const Shape* pSelected = shape(m_iSelectedId);
    const bool bChanged = pSelected && pSelected->toJson() != m_draft.toJson();
    if (eGesture == Gesture::Drawing) {
        finishDraft();
    } else if (eGesture == Gesture::Painting) {
        raise(VC_EVENT_DRAW_CALLBACK, ShapeKind::Grid, m_grid.toJson());
    } else if (bChanged && (eGesture == Gesture::Moving || eGesture == Gesture::Reshaping)) {
        const bool bMoved = eGesture == Gesture::Moving;
        QJsonObject data = pSelected->toJson();
        data.insert(QStringLiteral("action"), bMoved ? QStringLiteral("moved") : QStringLiteral("resized"));
        raise(bMoved ? VC_EVENT_DRAW_7 : VC_EVENT_DRAW_8, pSelected->eKind, data);
    }
    m_window.update();
}

void DrawLayer::finishDraft() {
    m_eGesture = Gesture::None;
    Shape shape = m_draft;
    m_draft = Shape();
    const QRectF rcWindow(m_window.toWindow(shape.rc.topLeft()), m_window.toWindow(shape.rc.bottomRight()));
    if ((shape.eKind == ShapeKind::Rect && (rcWindow.width() < kMinDrawPixels || rcWindow.height() < kMinDrawPixels)) ||
        (shape.eKind == ShapeKind::Line &&
         QLineF(rcWindow.topLeft(), rcWindow.bottomRight()).length() < kMinDrawPixels))
        return;
    shape.iId = m_iNextId++;
    m_shapes << shape;
    raise(VC_EVENT_DRAW_CALLBACK, shape.eKind, shape.toJson());
    m_window.update();
}

void DrawLayer::paintCells(const QPointF& ptFrom, const QPointF& ptTo) {
    // Every cell the mouse passed, in steps of half a cell.
    const double dStep = 0.5 / std::max(m_grid.iRows, m_grid.iColumns);
    const int iSteps = static_cast<int>(std::ceil(QLineF(ptFrom, ptTo).length() / dStep));
    for (int i = 0; i <= iSteps; ++i) {
        const QPointF pt = iSteps ? ptFrom + (ptTo - ptFrom) * i / iSteps : ptTo;
        const int iRow = std::min(m_grid.iRows - 1, static_cast<int>(pt.y() * m_grid.iRows));
        const int iColumn = std::min(m_grid.iColumns - 1, static_cast<int>(pt.x() * m_grid.iColumns));
        m_grid.cells[iRow * m_grid.iColumns + iColumn] = m_bCellsOn;
    }
}

void DrawLayer::raise(VC_EventType eType, ShapeKind eKind, QJsonObject data) {
    PlayGrid& grid = m_window.grid();
    if (!(grid.m_iDrawEventMask & (1 << eType))) return;
    data.insert(QStringLiteral("type"), shapeKindName(eKind));
    data.insert(QStringLiteral("wndIndex"), m_window.index());
    grid.raise(eType, data);
}

void DrawLayer::cancel() {
    m_eGesture = Gesture::None;
    m_draft = Shape();
    m_window.update();
}

void DrawLayer::paint(QPainter& painter, const QRect& rcPicture) {
    painter.save();
    painter.setClipRect(rcPicture);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_grid.iRows > 0) {
        const QColor color = style(ShapeKind::Grid).color;
        const auto corner = [this](int iRow, int iColumn) {
            return m_window.toWindow(
                QPointF(static_cast<double>(iColumn) / m_grid.iColumns, static_cast<double>(iRow) / m_grid.iRows));
        };
        QColor fill = color;
        fill.setAlpha(90);
        for (int iRow = 0; iRow < m_grid.iRows; ++iRow) {
            for (int iColumn = 0; iColumn < m_grid.iColumns; ++iColumn) {
                if (m_grid.cell(iRow, iColumn))
                    painter.fillRect(QRectF(corner(iRow, iColumn), corner(iRow + 1, iColumn + 1)), fill);
            }
        }
        if (m_bDrawing && m_eDrawing == ShapeKind::Grid) {
            QColor line = color;
            line.setAlpha(160);
            painter.setPen(QPen(line, 1));
            for (int iRow = 0; iRow <= m_grid.iRows; ++iRow)
                painter.drawLine(corner(iRow, 0), corner(iRow, m_grid.iColumns));
            for (int iColumn = 0; iColumn <= m_grid.iColumns; ++iColumn)
                painter.drawLine(corner(0, iColumn), corner(m_grid.iRows, iColumn));
        }
    }
    for (const Shape& shape : qAsConst(m_shapes)) paintShape(painter, shape, false);
    if (m_eGesture == Gesture::Drawing) paintShape(painter, m_draft, true);
    for (const QJsonValue& value : qAsConst(m_texts)) {
        const QJsonObject text = value.toObject();
        QFont font = painter.font();
        font.setPixelSize(text.value(QStringLiteral("size")).toInt(kDefaultTextSize));
        painter.setFont(font);
        const QColor colour(text.value(QStringLiteral("color")).toString(QStringLiteral("#ffffff")));
        const QPointF pt = m_window.toWindow(
            QPointF(text.value(QStringLiteral("x")).toDouble(), text.value(QStringLiteral("y")).toDouble()));
        // An outline in the opposite lightness keeps the text legible on any
        // picture (white text on white, black on black).
        QPainterPath path;
        path.addText(pt + QPointF(0, QFontMetricsF(font).ascent()), font,
                     text.value(QStringLiteral("text")).toString());
        const QColor outline = colour.lightness() >= 128 ? QColor(0, 0, 0, 200) : QColor(255, 255, 255, 200);
        painter.strokePath(
            path, QPen(outline, qMax(2.0, font.pixelSize() / 8.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(path, colour);
    }
    painter.restore();
}

void DrawLayer::paintShape(QPainter& painter, const Shape& shape, bool bDraft) {
    const ShapeStyle& style = m_styles[static_cast<int>(shape.eKind)];
    QPen pen(style.color, style.iLineWidth);
    if (bDraft) pen.setStyle(Qt::DashLine);
    QColor fill = style.color;
    fill.setAlpha(40);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPolygonF outline;
    for (const QPointF& pt : shape.outline()) outline << m_window.toWindow(pt);
    switch (shape.eKind) {
    case ShapeKind::Rect:
    case ShapeKind::Polygon:
        if (bDraft && shape.eKind == ShapeKind::Polygon) {
            painter.drawPolyline(outline << m_window.toWindow(m_ptMouse));
        } else {
            painter.setBrush(fill);
            painter.drawPolygon(outline);
        }
        break;
    case ShapeKind::Line: painter.drawLine(outline[0], outline[1]); break;
    case ShapeKind::Point:
        painter.setBrush(style.color);
        painter.drawEllipse(outline[0], 2.0 + style.iLineWidth, 2.0 + style.iLineWidth);
        break;
    case ShapeKind::Grid: break;
    }
    if (shape.iId == m_iSelectedId && !bDraft) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(style.color);
        for (const QPointF& pt : qAsConst(outline)) painter.drawRect(QRectF(pt - QPointF(4, 4), QSizeF(8, 8)));
    }
}

}  // namespace vc
