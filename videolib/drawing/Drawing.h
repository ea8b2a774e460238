// Shapes over the picture of a play window: rectangles, polygons, lines,
// points, a grid of cells (motion-detection areas) and lines of text.
//
// Positions are fractions (0..1) of the whole picture, so shapes stay on the
// same part of the picture when the window is resized, zoomed or shows
// another ratio mode. Shapes a page sets come back exactly as given (keys
// the library does not read included); shapes the user draws are added.
// Ids are unique within a play window, across kinds.
//
// Mouse input while drawing is on for a kind: drag to draw a rectangle or a
// line, click for a point, click the corners of a polygon and double-click
// to close it (the right button drops an unfinished one), press a grid cell
// and drag to switch cells on or off (all to the opposite of the first). A
// press on a shape selects it and a drag moves it; a drag on a handle of the
// selected shape (a corner, a vertex) reshapes it. Finished drawings raise
// type 2, moves type 7 and reshapes type 8, from the event loop.
//
// GUI thread only. The layer is an overlay of its play window and goes
// with it.
#ifndef VIDEO_CONTROL_DRAWING_H
#define VIDEO_CONTROL_DRAWING_H

#include "PlayWindow.h"
#include "video_control.h"

#include <QColor>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointF>
#include <QRectF>
#include <QVector>

#include <array>

namespace vc {

enum class ShapeKind { Rect, Polygon, Line, Point, Grid };
constexpr int kShapeKindCount = 5;

// "rect", "polygon", "line", "point", "grid".
QString shapeKindName(ShapeKind eKind);
bool parseShapeKind(const QJsonValue& value, ShapeKind* pKind);

// How the shapes of one kind look, and how many a play window may hold.
struct ShapeStyle {
    QColor color{0, 255, 0};
    int iLineWidth = 2;
    int iMaxCount = 8;
};

struct Shape {
    int iId = 0;
    ShapeKind eKind = ShapeKind::Rect;
    QRectF rc;                // a rectangle
    QVector<QPointF> points;  // a polygon's corners, a line's two ends, a point
    QJsonObject extra;        // keys of the page's that the library does not read

    // "id", the geometry ("x", "y", "width", "height"; "points" [{"x", "y"}];
    // "x", "y") and the extra keys.
    QJsonObject toJson() const;
    // Reads a shape of the kind; false with *pWhy when it is not one.
    static bool fromJson(ShapeKind eKind, const QJsonObject& object, Shape* pShape, QString* pWhy);
    // Every point the shape is drawn through (a rectangle's four corners).
    QVector<QPointF> outline() const;
};

// The grid of cells: rows of "0"/"1" texts, one character per cell.
struct CellGrid {
    int iRows = 0;
    int iColumns = 0;
    QVector<bool> cells;  // row by row

    bool cell(int iRow, int iColumn) const { return cells[iRow * iColumns + iColumn]; }
    QJsonObject toJson() const;
    static bool fromJson(const QJsonObject& object, CellGrid* pGrid, QString* pWhy);
};

class DrawLayer : public PlayWindowOverlay {
public:
    static constexpr int kMaxShapes = 64;  // per kind and play window
    static constexpr int kMaxPolygonCorners = 32;
    static constexpr int kMaxGridSide = 64;      // rows and columns
    static constexpr int kDefaultGridRows = 18;  // a grid drawn before one was set
    static constexpr int kDefaultGridColumns = 22;

    // The layer of a play window, made on first use.
    static DrawLayer& of(PlayWindow& window);

    // Drawing on for one kind (off for the others), or off.
    void setDrawing(ShapeKind eKind, bool bOn);
    bool isDrawing() const { return m_bDrawing; }
    ShapeKind drawingKind() const { return m_eDrawing; }

    ShapeStyle& style(ShapeKind eKind) { return m_styles[static_cast<int>(eKind)]; }
    QJsonArray shapesJson(ShapeKind eKind) const;
    int count(ShapeKind eKind) const;
    // Replaces the shapes of a kind; an error result (nothing changed) when
    // one is not a shape, an id is taken or there are too many.
    QJsonObject replaceShapes(ShapeKind eKind, const QJsonArray& shapes);
    bool removeShape(int iId);
    // Removes the shapes of a kind (for the grid: switches every cell off).
    int removeKind(ShapeKind eKind);
    // Every shape and every grid cell; the texts stay.
    void clear();
    // Selects a shape (0: none); false when there is no such shape.
    bool select(int iId);
    int selectedId() const { return m_iSelectedId; }

    const CellGrid& cellGrid() const { return m_grid; }
    void setCellGrid(const CellGrid& grid);

    // Lines of text: [{"text", "x", "y", "color", "size"}], kept as given.
    QJsonArray texts() const { return m_texts; }
    static bool checkTexts(const QJsonArray& texts, QString* pWhy);
    void setTexts(const QJsonArray& texts);

    void paint(QPainter& painter, const QRect& rcPicture) override;
    bool mouseEvent(QMouseEvent* pEvent) override;

private:
    enum class Gesture { None, Drawing, Moving, Reshaping, Painting };

    explicit DrawLayer(PlayWindow& window);
    Shape* shape(int iId);
    // The topmost shape under a window point, or null.
    Shape* shapeAt(const QPointF& ptWindow);
    // The handle of the selected shape under a window point, or -1.
    int handleAt(const QPointF& ptWindow);
    QPointF pictureAt(const QPoint& ptWindow) const;
    void press(const QPointF& ptWindow, const QPointF& pt);
    void drag(const QPointF& pt);
    void release();
    void finishDraft();
    void paintCells(const QPointF& ptFrom, const QPointF& ptTo);
    void paintShape(QPainter& painter, const Shape& shape, bool bDraft);
    void raise(VC_EventType eType, ShapeKind eKind, QJsonObject data);
    // Drops the shapes of a kind (and a gesture under way).
    void eraseKind(ShapeKind eKind);
    void cancel();

    PlayWindow& m_window;
    bool m_bDrawing = false;
    ShapeKind m_eDrawing = ShapeKind::Rect;
    std::array<ShapeStyle, kShapeKindCount> m_styles;
    QVector<Shape> m_shapes;  // in drawing order: the last is on top
    int m_iNextId = 1;
    int m_iSelectedId = 0;
    CellGrid m_grid;
    QJsonArray m_texts;

    // The gesture under way.
    Gesture m_eGesture = Gesture::None;
    Shape m_draft;       // the shape being drawn, or the selected shape before it moved
    QPointF m_ptPress;   // where the gesture began (fractions)
    QPointF m_ptMouse;   // the newest mouse point (fractions)
    int m_iHandle = -1;  // the handle being dragged
    bool m_bCellsOn = false;
};

}  // namespace vc

#endif  // VIDEO_CONTROL_DRAWING_H
