// video_control: draws and controls video inside a Qt widget (a grid of play
// windows, playback, recording, shapes, fisheye views, transfers, tools).
//
// Every command function returns a QJsonDocument allocated by the library, or
// null. The caller reads its object() and releases it with VC_Release; null
// counts as an empty object. Request documents belong to the caller and are
// never kept. All calls, and every event callback, happen on the GUI thread.
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
