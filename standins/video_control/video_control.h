// video_control: draws and controls video inside a Qt widget (a grid of play
// windows, playback, recording, shapes, fisheye views, transfers, tools).
//
// Every command function returns a QJsonDocument allocated by the library, or
// null. The caller reads its object() and releases it with VC_Release; null
// counts as an empty object (success). Request documents belong to the caller
// and are never kept. All calls, and every event callback, happen on the GUI
// thread.
//
// The library keeps its state per widget in a child of the widget that fills
// it (also in full screen); the state goes when the widget goes. Play windows
// are numbered row by row from 0. "wndIndex" in a request names one; without
// it the selected play window is meant (functions marked "all" then act on
// every play window).
//
// | function | request keys | result keys |
// |---|---|---|
// | VC_SetLayout | the layout itself: [[{}]] one window, [[{},{}],[{},{}]] four; or {"layout": ...} | "windowCount" |
// | VC_ArrangeWindow | "layout": rows of cells as above, or a count (1, 4, 9, 16; up to 64) | "windowCount" |
// | VC_SelectPlayWindow | "wndIndex" | "wndIndex" |
// | VC_Play | "url": rtsp://, rtsps://, http(s)://, file:// or a path; "username", "password" (or in the url); "live" (default: true for rtsp) | "wndIndex" |
// | VC_Stop | "wndIndex" | "wndIndex" |
// | VC_StopRealPlayAll | (widget only) every play window | none |
// | VC_Pause, VC_Resume | "wndIndex" | "wndIndex" |
// | VC_Slow, VC_Fast | "wndIndex"; "rate" (1/8 to 8) sets it, else halves / doubles | "wndIndex", "rate" |
// | VC_ReversePlay | "wndIndex" (seekable sources) | "wndIndex", "rate" (negative) |
// | VC_FrameForward | "wndIndex" (seekable sources; pauses first) | "wndIndex" |
// | VC_SetTrsPlayBackParam | "wndIndex", "startTime" (ms), "endTime" (ms, optional); kept for the next play when nothing plays | "wndIndex" |
// | VC_QueryPlayStatus | "wndIndex" | "wndIndex", "state" (stopped, connecting, playing, paused, reconnecting, ended, failed), "rate", "url" (without credentials), "live", "seekable", "width", "height", "fps", "codec", "position" (ms), "duration" (ms, files), "recording", "recordPath", "recordDuration", "sound", "volume", "hidden", "selected" |
// | VC_GetOSDTime | "wndIndex" | "wndIndex", "position" (ms), "osdTime" (live: local ISO time the picture arrived; files: HH:mm:ss.zzz), "timestamp" (live, ms since 1970) |
// | VC_SetReconnectInfo | "enable" (true), "interval" (first delay, 1000 ms, doubling), "maxInterval" (30000), "timeout" (no picture this long = lost, 3000), "maxRetries" (0 = no limit) | none |
// | VC_SetWndRatioMode | "mode": "fit", "fill", "stretch" (or 0, 1, 2); "wndIndex" or all | "mode" |
// | VC_SetWndResolution | "width", "height" (scaled in the pipeline; both 0: the stream's own); "wndIndex" or all | none |
// | VC_Snapshot | "wndIndex"; "path": a .png/.jpg file or a folder (default: Pictures/LocalService); "format": "png" or "jpg" | "wndIndex", "path", "width", "height" |
// | VC_StartSave | "wndIndex"; "path": a .mp4/.mkv file or a folder (default: Videos/LocalService); "format": "mp4" or "mkv" | "wndIndex", "path" |
// | VC_StopSave | "wndIndex"; the file is complete when this answers | "wndIndex", "path", "duration" (ms) |
// | VC_OpenSound | "wndIndex"; closes the sound of any other play window | "wndIndex" |
// | VC_CloseSound | (none) | none |
// | VC_SetVolume | "wndIndex", "volume" (0-100) | "wndIndex", "volume" |
// | VC_EnableEZoom | "wndIndex", "rect" {"x", "y", "width", "height"} (fractions, optional): dragging over a play window zooms into the rectangle | none |
// | VC_DisableEZoom | (widget only) whole pictures again | none |
//
// Every other command function answers null.
//
// Errors: {"errorCode": code, "errorModule": "video_control", "errorMessage":
// text}, codes from VcError.h: 3001 bad request, 3002 bad url, 3003 no such
// play window, 3004 nothing playing, 3005 not seekable, 3006 unreachable,
// 3007 unauthorised, 3008 unsupported codec, 3009 stream error, 3010 disk
// full, 3011 file error, 3012 not recording, 3013 already recording, 3014
// widget not initialised.
//
// Events (data keys): 0 a play window was pressed and selected ("wndIndex");
// 1 a play window was double-clicked ("wndIndex"); 3 stream events
// ("wndIndex", "event": "connected", "firstFrame" (+"reconnected"), "lost"
// (+"reason"), "reconnecting" (+"attempt", "delay" ms), "ended", "error"
// (+"errorCode", "errorModule", "errorMessage"), "recordStopped" (+"path",
// "duration"), "stopped"); 5 mouse ("wndIndex", "type": "press", "release",
// "move", "doubleClick", "wheel"; "x", "y" in the play window, "width",
// "height", "buttons" (Qt::MouseButtons), "delta" for the wheel). A live
// stream that drops after it played reconnects by VC_SetReconnectInfo.
#ifndef VIDEO_CONTROL_H
#define VIDEO_CONTROL_H

#include <QJsonDocument>

class QWidget;

#if defined(_WIN32) && defined(VIDEO_CONTROL_DLL)
#define VC_API __declspec(dllimport)
#else
#define VC_API
#endif

// Event types reported through VC_InstallEventCallback.
enum VC_EventType {
    VC_EVENT_WINDOW_SELECTED = 0,  // a play window was selected
    VC_EVENT_PLAY_WINDOW = 1,      // an event about one play window ("wndIndex")
    VC_EVENT_DRAW_CALLBACK = 2,    // a drawing finished
    VC_EVENT_NET_STREAM = 3,       // stream event
    VC_EVENT_PLUGIN = 4,           // plugin event
    VC_EVENT_MOUSE = 5,            // mouse action
    VC_EVENT_RESERVED = 6,         // reported, never bound by the service
    VC_EVENT_DRAW_7 = 7,           // drawing event
    VC_EVENT_DRAW_8 = 8,           // drawing event
};
enum { VC_EVENT_TYPE_COUNT = 9 };

// The data document belongs to the library and is valid only during the call.
typedef void (*VC_EventCallback)(VC_EventType eType, QWidget* pWidget, const QJsonDocument* pData);

// Command functions, grouped by their call shape.
#define VC_WIDGET_REQUEST_FUNCTIONS(X)                                                           \
    X(VC_Play) X(VC_Stop) X(VC_ReversePlay) X(VC_SetTrsPlayBackParam) X(VC_StartSave)            \
    X(VC_StopSave) X(VC_OpenSound) X(VC_Pause) X(VC_Resume) X(VC_Slow) X(VC_Fast)                \
    X(VC_FrameForward) X(VC_Snapshot) X(VC_ArrangeWindow) X(VC_SetVolume) X(VC_EnableEZoom)      \
    X(VC_SRInit) X(VC_SRPTZ) X(VC_GetOSDTime) X(VC_SetCorrectionType) X(VC_SetPlaceType)         \
    X(VC_StartFishListener) X(VC_StopFishListener) X(VC_SetFishBoxListInfo)                      \
    X(VC_GetFishBoxListInfo) X(VC_ClearAllWndFishBoxInfo) X(VC_SetFishWndProperty)               \
    X(VC_ArrangeFECWindow) X(VC_StartFECScan) X(VC_StopFECScan) X(VC_FishEyePTZ)                 \
    X(VC_FishEyeZoomIn) X(VC_FishEyeZoomOut) X(VC_FishEyeGetPreset) X(VC_FishEyeSetPreset)       \
    X(VC_StartFECCruise) X(VC_StopFECCruise) X(VC_SetDrawStatus) X(VC_SetDrawShapeInfo)          \
    X(VC_SetGridInfo) X(VC_SetRectInfo) X(VC_GetRectInfo) X(VC_SetPolygonInfo)                   \
    X(VC_GetPolygonInfo) X(VC_SetTextOverlay) X(VC_SetLineInfo) X(VC_ClearShapeByType)           \
    X(VC_ClearShapeById) X(VC_SetDrawCallback) X(VC_SetPointInfo) X(VC_SelectShape)              \
    X(VC_QueryPlayStatus) X(VC_SetHttps) X(VC_SetReconnectInfo) X(VC_SetWndResolution)           \
    X(VC_SetWndRatioMode) X(VC_SetLayout) X(VC_SelectPlayWindow)

#define VC_WIDGET_FUNCTIONS(X)                                                                   \
    X(VC_StopRealPlayAll) X(VC_DisableEZoom) X(VC_ClearGraphics) X(VC_GetGridInfo)               \
    X(VC_GetTextOverlay) X(VC_GetLineInfo) X(VC_GetPointInfo)

#define VC_REQUEST_FUNCTIONS(X)                                                                  \
    X(VC_StartVoiceTalk) X(VC_StopVoiceTalk) X(VC_SetSecretKey) X(VC_GetEncryptString)           \
    X(VC_GetDecryptString) X(VC_SetOriginalString) X(VC_OpenFileBrowser) X(VC_OpenDirectory)     \
    X(VC_StartAsynUpload) X(VC_StopAsynUpload) X(VC_UploadFile) X(VC_GetUploadErrorInfo)         \
    X(VC_GetIpcImportErrorInfo) X(VC_Download) X(VC_StartUpgrade) X(VC_StopUpgrade)              \
    X(VC_UpgradeStatus) X(VC_UpgradeProgress) X(VC_ExportDeviceLog) X(VC_ExportDeviceConfig)     \
    X(VC_StartDownload) X(VC_StopDownload) X(VC_GetDownloadStatus) X(VC_GetDownloadProgress)     \
    X(VC_GetLocalConfig) X(VC_SetLocalConfig) X(VC_GetEngineSupport)

#define VC_NO_ARGUMENT_FUNCTIONS(X) X(VC_CloseSound)

extern "C" {

#define VC_DECLARE_WIDGET_REQUEST(name) \
    VC_API QJsonDocument* name(QWidget* pWidget, const QJsonDocument* pRequest);
#define VC_DECLARE_WIDGET(name) VC_API QJsonDocument* name(QWidget* pWidget);
#define VC_DECLARE_REQUEST(name) VC_API QJsonDocument* name(const QJsonDocument* pRequest);
#define VC_DECLARE_NO_ARGUMENT(name) VC_API QJsonDocument* name();

VC_WIDGET_REQUEST_FUNCTIONS(VC_DECLARE_WIDGET_REQUEST)
VC_WIDGET_FUNCTIONS(VC_DECLARE_WIDGET)
VC_REQUEST_FUNCTIONS(VC_DECLARE_REQUEST)
VC_NO_ARGUMENT_FUNCTIONS(VC_DECLARE_NO_ARGUMENT)

#undef VC_DECLARE_WIDGET_REQUEST
#undef VC_DECLARE_WIDGET
#undef VC_DECLARE_REQUEST
#undef VC_DECLARE_NO_ARGUMENT

// Once at start with a null widget, then once per widget before any other
// call on it.
VC_API QJsonDocument* VC_Initialize(QWidget* pWidget);

// Frees a result of any command function; null is allowed.
VC_API void VC_Release(void* pResult);

// Play windows of a widget, numbered 0 to count - 1.
VC_API int VC_WindowCount(QWidget* pWidget);
VC_API bool VC_IsWindowPlaying(QWidget* pWidget, int iIndex);
VC_API bool VC_IsWindowHidden(QWidget* pWidget, int iIndex);
VC_API void VC_ShowWindow(QWidget* pWidget, int iIndex);
VC_API void VC_HideWindow(QWidget* pWidget, int iIndex);

// Sets the process-wide callback of one event type; returns the one replaced.
VC_API VC_EventCallback VC_InstallEventCallback(VC_EventType eType, VC_EventCallback pCallback);

}  // extern "C"

#endif  // VIDEO_CONTROL_H
