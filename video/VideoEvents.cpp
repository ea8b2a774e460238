#include "VideoEvents.h"

#include "VideoWidget.h"
#include "video_control.h"

#include <QDebug>
#include <QJsonDocument>

#include <algorithm>
#include <iterator>
#include <utility>

namespace video {
namespace {

using NEVER_USE_ME::MainWindow;

// How one event type becomes an event text and which widget signal carries it.
struct EventRoute {
    VC_EventType eType;
    const char* szName;
    const char* szNestKey;  // null: the data's keys are merged; else the data is nested under this key
    const char* szType;     // null, or the text written as "type"
    MainWindow::EventSignal pfnSignal;
};

// The data of each event type, for the page authors' reference that
// tools/web/make-reference.mjs makes from this and the routes below
// ("raised by": the video commands after which it comes).
//
// | type | data keys | raised by |
// |---|---|---|
// | 0 | "wndIndex": a play window was pressed and selected | setWindowSelected (window), a click |
// | 2 | "wndIndex", "type" (the kind of shape), "id" and the shape's keys as the get*Info commands answer them (the grid: "rows", "columns", "cells"): a drawing is finished | setDrawStatus |
// | 3 | "wndIndex", "event": "connected", "firstFrame" (+"reconnected"), "lost" (+"reason"), "reconnecting" (+"attempt", "delay" ms), "ended", "error" (+"errorCode", "errorModule", "errorMessage"), "recordStopped" (+"path", "duration"), "stopped" | startPlay, stop, stopAll, startSave, stopSave, arrangeWindow |
// | 4 | the library's plugin data | - |
// | 5 | "wndIndex", "type": "press", "release", "move", "doubleClick", "wheel"; "x", "y" in the play window, "width", "height", "buttons", "delta" (the wheel) | a mouse action |
// | 7 | the shape as for 2 and "action" "moved": the user moved a shape | chooseShape, then the mouse |
// | 8 | the shape as for 2 and "action" "resized": the user reshaped a shape | chooseShape, then the mouse |
// | window.onFullScreenChange | "full" false: the video left full screen (by the command, a double click or the Escape key); entering it sends nothing | fullScreen |
// | window.onFisheyePTZInfo | the library's fisheye data | - |
const EventRoute kRoutes[] = {
    {VC_EVENT_WINDOW_SELECTED, "window.onGetSelectWndInfo", nullptr, nullptr, &MainWindow::sigWindowSelected},
    {VC_EVENT_DRAW_CALLBACK, "video.onDrawCallback", "shapeInfo", "ended", &MainWindow::sigDrawEnd},
    {VC_EVENT_NET_STREAM, "window.onPluginEventHandler", nullptr, nullptr, &MainWindow::sigNetStreamEvent},
    {VC_EVENT_PLUGIN, "window.onPluginEventHandler", nullptr, nullptr, &MainWindow::sigNetStreamEvent},
    {VC_EVENT_MOUSE, "window.onMouseEvent", "mouseInfo", nullptr, &MainWindow::sigMouseEvent},
    {VC_EVENT_DRAW_7, "video.onDrawEvent", nullptr, nullptr, &MainWindow::sigDrawEnd},
    {VC_EVENT_DRAW_8, "video.onDrawEvent", nullptr, nullptr, &MainWindow::sigDrawEnd},
};

MainWindow* videoWidget(QWidget* pWidget) {
    return static_cast<MainWindow*>(MainWindow::staticMetaObject.cast(pWidget));
}

QJsonObject dataObject(const QJsonDocument* pData) {
    return pData ? pData->object() : QJsonObject();
}

// Types 0, 2, 3, 4, 5, 7 and 8.
void onVideoEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument* pData) {
    MainWindow* pWindow = videoWidget(pWidget);
    const auto itRoute = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                      [eType](const EventRoute& route) { return route.eType == eType; });
    if (!pWindow || itRoute == std::end(kRoutes)) return;

    QJsonObject content;
    if (itRoute->szNestKey) {
        content.insert(QLatin1String(itRoute->szNestKey), dataObject(pData));
    } else {
        content = dataObject(pData);
    }
    if (itRoute->szType) content.insert(QStringLiteral("type"), QLatin1String(itRoute->szType));
    const QString strEvent = pWindow->eventText(QLatin1String(itRoute->szName), content);

    if (eType == VC_EVENT_WINDOW_SELECTED) {
        qDebug().noquote() << "An window is selected:" << strEvent;
    } else {
        qDebug().noquote() << (pData ? QString::fromUtf8(pData->toJson(QJsonDocument::Compact)) : QString());
    }
    pWindow->emitEvent(itRoute->pfnSignal, strEvent);
}

// Type 1.
void onPlayWindowEvent(VC_EventType, QWidget* pWidget, const QJsonDocument* pData) {
    if (MainWindow* pWindow = videoWidget(pWidget)) pWindow->onPlayWindowEvent(dataObject(pData));
}

}  // namespace

void bindEventCallbacks() {
    const std::pair<VC_EventType, VC_EventCallback> kBindings[] = {
        {VC_EVENT_WINDOW_SELECTED, onVideoEvent}, {VC_EVENT_PLAY_WINDOW, onPlayWindowEvent},
        {VC_EVENT_DRAW_CALLBACK, onVideoEvent},   {VC_EVENT_NET_STREAM, onVideoEvent},
        {VC_EVENT_PLUGIN, onVideoEvent},          {VC_EVENT_MOUSE, onVideoEvent},
        {VC_EVENT_DRAW_7, onVideoEvent},          {VC_EVENT_DRAW_8, onVideoEvent},
    };
    for (const auto& binding : kBindings) VC_InstallEventCallback(binding.first, binding.second);
}

}  // namespace video
