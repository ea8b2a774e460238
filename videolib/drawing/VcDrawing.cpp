// Shapes, the cell grid and text over the play windows (see Drawing.h).
#include "Drawing.h"
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "VcLibrary.h"

#include <algorithm>
#include <climits>

using namespace vc;

namespace {

constexpr int kMaxLineWidth = 20;
const VC_EventType kDrawEvents[] = {VC_EVENT_DRAW_CALLBACK, VC_EVENT_DRAW_7, VC_EVENT_DRAW_8};

// The key of a kind's list in requests and results.
const char* listKey(ShapeKind eKind) {
    static const char* const kKeys[kShapeKindCount] = {"rects", "polygons", "lines", "points", "grid"};
    return kKeys[static_cast<int>(eKind)];
}

QJsonObject badKind() {
    return errorResult(Error::BadRequest, QStringLiteral("\"type\" must be rect, polygon, line, point or grid"));
}

// Runs f(DrawLayer&) on the layer of the play window the request names (the
// selected one without "wndIndex"); "wndIndex" joins its answer.
template <typename F>
QJsonObject withLayer(PlayGrid& grid, const QJsonObject& request, F f) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        QJsonObject result = f(DrawLayer::of(window));
        if (!result.contains(QStringLiteral("errorCode"))) result.insert(QStringLiteral("wndIndex"), window.index());
        return result;
    });
}

// A number from iMin to iMax, or iDefault when the key is absent; false
// when it is present and something else.
bool readInt(const QJsonObject& request, const char* szKey, int iMin, int iMax, int iDefault, int* pValue) {
    const QJsonValue value = request.value(QLatin1String(szKey));
    *pValue = value.isUndefined() ? iDefault : value.toInt(iMin - 1);
    return value.isUndefined() ||
           (value.isDouble() && value.toDouble() == *pValue && *pValue >= iMin && *pValue <= iMax);
}

QJsonObject setDrawStatus(PlayGrid& grid, const QJsonObject& request) {
    ShapeKind eKind;
    if (!parseShapeKind(request.value(QStringLiteral("type")), &eKind)) return badKind();
    const QJsonValue enable = request.value(QStringLiteral("enable"));
    if (!enable.isUndefined() && !enable.isBool())
        return errorResult(Error::BadRequest, QStringLiteral("\"enable\" must be true or false"));
    QJsonObject error;
    const QVector<PlayWindow*> windows = grid.windowsFor(request, &error);
    for (PlayWindow* pWindow : windows) DrawLayer::of(*pWindow).setDrawing(eKind, enable.toBool(true));
    return windows.isEmpty() ? error : QJsonObject{{"type", shapeKindName(eKind)}, {"enable", enable.toBool(true)}};
}

QJsonObject setDrawShapeInfo(PlayGrid& grid, const QJsonObject& request) {
    ShapeKind eKind;
    if (!parseShapeKind(request.value(QStringLiteral("type")), &eKind)) return badKind();
    const QJsonValue color = request.value(QStringLiteral("color"));
    int iLineWidth = 0;
    int iMaxCount = 0;
    if ((!color.isUndefined() && !QColor::isValidColor(color.toString())) ||
        !readInt(request, "lineWidth", 1, kMaxLineWidth, 0, &iLineWidth) ||
        !readInt(request, "maxCount", 1, DrawLayer::kMaxShapes, 0, &iMaxCount))
        return errorResult(Error::BadRequest, QStringLiteral("\"color\" (#rrggbb, #aarrggbb or a name), \"lineWidth\" "
                                                             "(1 to %1) and \"maxCount\" (1 to %2) are optional")
                                                  .arg(kMaxLineWidth)
                                                  .arg(DrawLayer::kMaxShapes));
    QJsonObject error;
    const QVector<PlayWindow*> windows = grid.windowsFor(request, &error);
    for (PlayWindow* pWindow : windows) {
        if (iMaxCount && DrawLayer::of(*pWindow).count(eKind) > iMaxCount)
            return errorResult(
                Error::TooManyShapes,
                QStringLiteral("play window %1 holds more than %2").arg(pWindow->index()).arg(iMaxCount));
    }
    if (windows.isEmpty()) return error;
    for (PlayWindow* pWindow : windows) {
        ShapeStyle& style = DrawLayer::of(*pWindow).style(eKind);
        if (color.isString()) style.color = QColor(color.toString());
        if (iLineWidth) style.iLineWidth = iLineWidth;
        if (iMaxCount) style.iMaxCount = iMaxCount;
        pWindow->update();
    }
    const ShapeStyle& style = DrawLayer::of(*windows.first()).style(eKind);
    return QJsonObject{{"type", shapeKindName(eKind)},
                       {"color", style.color.name(style.color.alpha() < 255 ? QColor::HexArgb : QColor::HexRgb)},
                       {"lineWidth", style.iLineWidth},
                       {"maxCount", style.iMaxCount}};
}

template <ShapeKind eKind>
QJsonObject getShapes(PlayGrid& grid, const QJsonObject& request) {
    return withLayer(grid, request, [](DrawLayer& layer) {
        return QJsonObject{{QLatin1String(listKey(eKind)), layer.shapesJson(eKind)}};
    });
}

// Replaces the shapes of the kind; answers them as getShapes does.
template <ShapeKind eKind>
QJsonObject setShapes(PlayGrid& grid, const QJsonObject& request) {
    const QJsonValue shapes = request.value(QLatin1String(listKey(eKind)));
    if (!shapes.isArray())
        return errorResult(Error::BadRequest, QStringLiteral("\"%1\" must be an array of shapes").arg(listKey(eKind)));
    return withLayer(grid, request, [&shapes](DrawLayer& layer) {
        const QJsonObject error = layer.replaceShapes(eKind, shapes.toArray());
        return error.isEmpty() ? QJsonObject{{QLatin1String(listKey(eKind)), layer.shapesJson(eKind)}} : error;
    });
}

QJsonObject getGrid(PlayGrid& grid, const QJsonObject& request) {
    return withLayer(grid, request, [](DrawLayer& layer) { return layer.cellGrid().toJson(); });
}

QJsonObject setGrid(PlayGrid& grid, const QJsonObject& request) {
    CellGrid cells;
    QString strWhy;
    if (!CellGrid::fromJson(request, &cells, &strWhy)) return errorResult(Error::BadRequest, strWhy);
    return withLayer(grid, request, [&cells](DrawLayer& layer) {
        layer.setCellGrid(cells);
        return layer.cellGrid().toJson();
    });
}

QJsonObject getTexts(PlayGrid& grid, const QJsonObject& request) {
    return withLayer(grid, request, [](DrawLayer& layer) { return QJsonObject{{"texts", layer.texts()}}; });
}

QJsonObject setTexts(PlayGrid& grid, const QJsonObject& request) {
    const QJsonArray texts = request.value(QStringLiteral("texts")).toArray();
    QString strWhy;
    if (!request.value(QStringLiteral("texts")).isArray() || !DrawLayer::checkTexts(texts, &strWhy))
        return errorResult(Error::BadRequest, strWhy.isEmpty() ? QStringLiteral("\"texts\" must be an array") : strWhy);
    return withLayer(grid, request, [&texts](DrawLayer& layer) {
        layer.setTexts(texts);
        return QJsonObject{{"texts", layer.texts()}};
    });
}

QJsonObject selectShape(PlayGrid& grid, const QJsonObject& request) {
    int iId = 0;
    if (!readInt(request, "id", 0, INT_MAX, 0, &iId))
        return errorResult(Error::BadRequest, QStringLiteral("\"id\" must be a shape's id (0 or none: no shape)"));
    return withLayer(grid, request, [iId](DrawLayer& layer) {
        return layer.select(iId) ? QJsonObject{{"id", iId}} : errorResult(Error::NoSuchShape);
    });
}

QJsonObject clearShapeByType(PlayGrid& grid, const QJsonObject& request) {
    ShapeKind eKind;
    if (!parseShapeKind(request.value(QStringLiteral("type")), &eKind)) return badKind();
    return withLayer(grid, request, [eKind](DrawLayer& layer) {
        return QJsonObject{{"type", shapeKindName(eKind)}, {"removed", layer.removeKind(eKind)}};
    });
}

QJsonObject clearShapeById(PlayGrid& grid, const QJsonObject& request) {
    int iId = 0;
    if (!request.contains(QStringLiteral("id")) || !readInt(request, "id", 1, INT_MAX, 0, &iId))
        return errorResult(Error::BadRequest, QStringLiteral("\"id\" must be a shape's id"));
    return withLayer(grid, request, [iId](DrawLayer& layer) {
        return layer.removeShape(iId) ? QJsonObject{{"id", iId}} : errorResult(Error::NoSuchShape);
    });
}

QJsonObject clearGraphics(PlayGrid& grid, const QJsonObject&) {
    for (int i = 0; i < grid.windowCount(); ++i) {
        if (DrawLayer* pLayer = grid.window(i)->overlay<DrawLayer>()) pLayer->clear();
    }
    return QJsonObject();
}

QJsonObject setDrawCallback(PlayGrid& grid, const QJsonObject& request) {
    const QJsonValue events = request.value(QStringLiteral("events"));
    const QJsonObject error =
        errorResult(Error::BadRequest, QStringLiteral("\"events\" must list the drawing events to raise: 2, 7, 8"));
    if (!events.isArray()) return error;
    int iMask = 0;
    for (const QJsonValue& event : events.toArray()) {
        const auto it = std::find(std::begin(kDrawEvents), std::end(kDrawEvents), event.toInt(-1));
        if (!event.isDouble() || it == std::end(kDrawEvents)) return error;
        iMask |= 1 << *it;
    }
    grid.m_iDrawEventMask = iMask;
    QJsonArray raised;
    for (VC_EventType eType : kDrawEvents) {
        if (iMask & (1 << eType)) raised.append(eType);
    }
    return QJsonObject{{"events", raised}};
}

}  // namespace

VC_DEFINE_WIDGET_REQUEST(VC_SetDrawStatus, setDrawStatus)
VC_DEFINE_WIDGET_REQUEST(VC_SetDrawShapeInfo, setDrawShapeInfo)
VC_DEFINE_WIDGET_REQUEST(VC_SetRectInfo, setShapes<ShapeKind::Rect>)
VC_DEFINE_WIDGET_REQUEST(VC_GetRectInfo, getShapes<ShapeKind::Rect>)
VC_DEFINE_WIDGET_REQUEST(VC_SetPolygonInfo, setShapes<ShapeKind::Polygon>)
VC_DEFINE_WIDGET_REQUEST(VC_GetPolygonInfo, getShapes<ShapeKind::Polygon>)
VC_DEFINE_WIDGET_REQUEST(VC_SetLineInfo, setShapes<ShapeKind::Line>)
VC_DEFINE_WIDGET(VC_GetLineInfo, getShapes<ShapeKind::Line>)
VC_DEFINE_WIDGET_REQUEST(VC_SetPointInfo, setShapes<ShapeKind::Point>)
VC_DEFINE_WIDGET(VC_GetPointInfo, getShapes<ShapeKind::Point>)
VC_DEFINE_WIDGET_REQUEST(VC_SetGridInfo, setGrid)
VC_DEFINE_WIDGET(VC_GetGridInfo, getGrid)
VC_DEFINE_WIDGET_REQUEST(VC_SetTextOverlay, setTexts)
VC_DEFINE_WIDGET(VC_GetTextOverlay, getTexts)
VC_DEFINE_WIDGET_REQUEST(VC_SelectShape, selectShape)
VC_DEFINE_WIDGET_REQUEST(VC_ClearShapeByType, clearShapeByType)
VC_DEFINE_WIDGET_REQUEST(VC_ClearShapeById, clearShapeById)
VC_DEFINE_WIDGET(VC_ClearGraphics, clearGraphics)
VC_DEFINE_WIDGET_REQUEST(VC_SetDrawCallback, setDrawCallback)
