// The grid of play windows: layout, selection, hiding, ratio mode, picture
// size and digital zoom.
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "VcLibrary.h"

#include <QJsonArray>

using namespace vc;

namespace {

QJsonObject arrange(PlayGrid& grid, const QJsonObject& request) {
    QVector<int> rows;
    if (!PlayGrid::parseLayout(request.value(QStringLiteral("layout")), &rows))
        return errorResult(Error::BadRequest,
                           QStringLiteral("\"layout\" must be rows of cells or a count of 1 to %1 windows")
                               .arg(PlayGrid::kMaxWindows));
    grid.arrange(rows);
    return QJsonObject{{"windowCount", grid.windowCount()}};
}

QJsonObject selectWindow(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        grid.select(window.index());
        return QJsonObject{{"wndIndex", window.index()}};
    });
}

QJsonObject setRatioMode(PlayGrid& grid, const QJsonObject& request) {
    static const QStringList kModes{QStringLiteral("fit"), QStringLiteral("fill"), QStringLiteral("stretch")};
    const QJsonValue mode = request.value(QStringLiteral("mode"));
    const int iMode = mode.isString() ? kModes.indexOf(mode.toString()) : mode.isDouble() ? mode.toInt(-1) : -1;
    if (iMode < 0 || iMode >= kModes.size())
        return errorResult(Error::BadRequest, QStringLiteral("\"mode\" must be fit, fill or stretch (0, 1, 2)"));
    QJsonObject error;
    const QVector<PlayWindow*> windows = grid.windowsFor(request, &error);
    for (PlayWindow* pWindow : windows) pWindow->setRatioMode(static_cast<PlayWindow::RatioMode>(iMode));
    return windows.isEmpty() ? error : QJsonObject{{"mode", kModes[iMode]}};
}

QJsonObject setResolution(PlayGrid& grid, const QJsonObject& request) {
    const int iWidth = request.value(QStringLiteral("width")).toInt(-1);
    const int iHeight = request.value(QStringLiteral("height")).toInt(-1);
    const bool bNative = iWidth == 0 && iHeight == 0;
    if (!bNative && (iWidth < 16 || iHeight < 16 || iWidth > 7680 || iHeight > 4320))
        return errorResult(Error::BadRequest,
                           QStringLiteral("\"width\" and \"height\" must be 16x16 to 7680x4320, or both 0"));
    QJsonObject error;
    const QVector<PlayWindow*> windows = grid.windowsFor(request, &error);
    for (PlayWindow* pWindow : windows) pWindow->player().setOutputSize(bNative ? QSize() : QSize(iWidth, iHeight));
    return windows.isEmpty() ? error : QJsonObject();
}

QJsonObject enableZoom(PlayGrid& grid, const QJsonObject& request) {
    grid.setZoomMode(true);
    const QJsonObject rect = request.value(QStringLiteral("rect")).toObject();
    if (rect.isEmpty()) return QJsonObject();
    return grid.withWindow(request, [&](PlayWindow& window) {
        window.setZoom(QRectF(rect.value(QStringLiteral("x")).toDouble(), rect.value(QStringLiteral("y")).toDouble(),
                              rect.value(QStringLiteral("width")).toDouble(1),
                              rect.value(QStringLiteral("height")).toDouble(1)));
        return QJsonObject();
    });
}

QJsonObject disableZoom(PlayGrid& grid, const QJsonObject&) {
    grid.setZoomMode(false);
    return QJsonObject();
}

PlayWindow* playWindow(QWidget* pWidget, int iIndex) {
    PlayGrid* pGrid = gridOf(pWidget);
    return pGrid ? pGrid->window(iIndex) : nullptr;
}

}  // namespace

VC_DEFINE_WIDGET_REQUEST(VC_ArrangeWindow, arrange)
VC_DEFINE_WIDGET_REQUEST(VC_SelectPlayWindow, selectWindow)
VC_DEFINE_WIDGET_REQUEST(VC_SetWndRatioMode, setRatioMode)
VC_DEFINE_WIDGET_REQUEST(VC_SetWndResolution, setResolution)
VC_DEFINE_WIDGET_REQUEST(VC_EnableEZoom, enableZoom)
VC_DEFINE_WIDGET(VC_DisableEZoom, disableZoom)

extern "C" {

// The layout comes as the document itself ("[[{}]]", which reaches arrange
// as {"layout": [[{}]]}), or as an object holding it in "layout".
QJsonDocument* VC_SetLayout(QWidget* pWidget, const QJsonDocument* pLayout) {
    return runGridCommand("VC_SetLayout", pWidget, pLayout, arrange);
}

int VC_WindowCount(QWidget* pWidget) {
    PlayGrid* pGrid = gridOf(pWidget);
    return pGrid ? pGrid->windowCount() : 0;
}

bool VC_IsWindowPlaying(QWidget* pWidget, int iIndex) {
    PlayWindow* pWindow = playWindow(pWidget, iIndex);
    return pWindow && pWindow->player().isPlaying();
}

bool VC_IsWindowHidden(QWidget* pWidget, int iIndex) {
    PlayWindow* pWindow = playWindow(pWidget, iIndex);
    return pWindow && pWindow->isLibraryHidden();
}

void VC_ShowWindow(QWidget* pWidget, int iIndex) {
    if (PlayGrid* pGrid = gridOf(pWidget)) pGrid->setWindowHidden(iIndex, false);
}

void VC_HideWindow(QWidget* pWidget, int iIndex) {
    if (PlayGrid* pGrid = gridOf(pWidget)) pGrid->setWindowHidden(iIndex, true);
}

}  // extern "C"
