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
// Shapes, the cell grid and text over a play window are in fractions (0..1)
// of the whole picture; see Drawing.h for the mouse. Settings live in the
// user's configuration folder (VcSettings.h), protected strings in memory
// per page (Secrets.h), transfers run on without blocking (Transfers.h).
//
// One row per function ("wndIndex" or the selected play window unless the
// row says otherwise; "all": every play window without "wndIndex"):
//
// | function | what it does here | request keys | result keys |
// |---|---|---|---|
// | VC_Initialize | once at start with a null widget (starts GStreamer), then once per widget before any other call on it: gives it a grid of play windows (called again: a fresh grid) | (widget only) | none |
// | VC_Uninitialize | before a widget goes: stops its play windows, raises their last stream events at once and forgets the widget | (widget only) | - |
// | VC_Release | frees a result of any command function; null is allowed | - | - |
// | VC_InstallEventCallback | sets the process-wide callback of one event type; answers the one it replaces | - | - |
// | VC_WindowCount | how many play windows the widget has | - | - |
// | VC_IsWindowPlaying | whether a play window is connecting, playing, paused or reconnecting | - | - |
// | VC_IsWindowHidden | whether the library hid a play window | - | - |
// | VC_ShowWindow | shows a play window again; the others of its row make room | - | - |
// | VC_HideWindow | hides a play window; the others of its row (or the other rows) take its space | - | - |
// | VC_SetLayout | arranges the play windows in rows | the layout itself: [[{}]] one window, [[{},{}],[{},{}]] four; or {"layout": ...} | "windowCount" |
// | VC_ArrangeWindow | arranges the play windows; the first ones go on playing, the others stop | "layout": rows of cells as above, or a count (1, 4, 9, 16; up to 64) | "windowCount" |
// | VC_SelectPlayWindow | selects a play window (no event) | "wndIndex" | "wndIndex" |
// | VC_SetWndRatioMode | how pictures fill their play window | "mode": "fit", "fill", "stretch" (or 0, 1, 2); "wndIndex" or all | "mode" |
// | VC_SetWndResolution | scales pictures in the pipeline | "width", "height" (both 0: the stream's own); "wndIndex" or all | none |
// | VC_SetWndLabels | the labels over the picture (camera name, state, recording) on or off | "enable" (true or false); "wndIndex" or all | "enable" |
// | VC_EnableEZoom | digital zoom: dragging over a play window zooms into the dragged part | "wndIndex", "rect" {"x", "y", "width", "height"} (fractions, optional: zooms at once) | none |
// | VC_DisableEZoom | digital zoom off; whole pictures again | (widget only) | none |
// | VC_Play | plays a camera, a recording or a file in a play window | "wndIndex"; "url": rtsp://, rtsps://, http(s)://, file:// or a path (files: in the media folders, or chosen by the user for this page; others 3024); "username", "password" (or in the url); "live" (default: true for rtsp); "title": the camera name its tile shows (default: the url's host, a file's name) | "wndIndex" |
// | VC_Stop | stops a play window (a recording is finished first) | "wndIndex" | "wndIndex" |
// | VC_StopRealPlayAll | stops every play window | (widget only) | none |
// | VC_Pause | pauses (files and HTTP; a live stream answers 3005) | "wndIndex" | "wndIndex" |
// | VC_Resume | plays on after a pause or steps; after reverse play forwards again at the same speed | "wndIndex" | "wndIndex", "rate" |
// | VC_Slow | half the rate, down to 1/8; forwards (also after reverse play) | "wndIndex"; "rate" (1/8 to 8) sets it instead | "wndIndex", "rate" |
// | VC_Fast | twice the rate, up to 8; forwards (also after reverse play) | "wndIndex"; "rate" (1/8 to 8) sets it instead | "wndIndex", "rate" |
// | VC_ReversePlay | plays backwards (seekable sources) | "wndIndex" | "wndIndex", "rate" (negative) |
// | VC_FrameForward | one picture forward, paused (seekable sources) | "wndIndex" | "wndIndex" |
// | VC_SetTrsPlayBackParam | plays a part of a recording (backwards: from its end down to its start); kept for the next play when nothing plays | "wndIndex", "startTime" (ms), "endTime" (ms, optional) | "wndIndex" |
// | VC_QueryPlayStatus | what a play window plays and how | "wndIndex" | "wndIndex", "state" (stopped, connecting, playing, paused, reconnecting, ended, failed), "rate", "url" (without credentials), "live", "seekable", "width", "height", "fps", "codec", "decoder" (the GStreamer element that decodes), "position" (ms), "duration" (ms, files), "recording", "recordPath", "recordDuration", "sound", "volume", "hidden", "selected" |
// | VC_GetOSDTime | the time of the picture shown | "wndIndex" | "wndIndex", "position" (ms), "osdTime" (live: local ISO time the picture arrived; files: HH:mm:ss.zzz), "timestamp" (live, ms since 1970) |
// | VC_SetReconnectInfo | how live streams come back after they drop | "enable" (true), "interval" (first delay, 1000 ms, doubling), "maxInterval" (30000), "timeout" (no picture this long = lost, 3000), "maxRetries" (0 = no limit) | none |
// | VC_SetHttps | while on, plain http:// play urls of the widget are fetched over https:// | "enable" (true or false) | "https" |
// | VC_GetEngineSupport | what this library plays and writes on this machine | - | "engine" ("gstreamer"), "version", "codecs" (video codecs with an installed decoder: H.264, H.265, MJPEG, MPEG, VP8, VP9, AV1), "decoders" (per codec the decoder GStreamer's ranks choose: {"element", "hardware"}), "schemes", "recordFormats", "snapshotFormats" |
// | VC_Snapshot | saves the picture shown, the zoomed part while zoomed (without shapes or labels), under a free name | "wndIndex"; "path": a .png/.jpg file or a folder in the snapshots folder (default: the snapshot folder); "format": "png" or "jpg" (default: the snapshot format) | "wndIndex", "path", "width", "height" |
// | VC_StartSave | records the coded stream without encoding again, under a free name; a live stream's file starts up to "preRecordSeconds" before the request, at a key frame | "wndIndex"; "path": a .mp4/.mkv file or a folder in the recordings folder (default: the record folder); "format": "mp4" or "mkv" (default: the record format) | "wndIndex", "path" |
// | VC_StopSave | finishes the recording; the file is complete when this answers | "wndIndex" | "wndIndex", "path", "duration" (ms) |
// | VC_OpenSound | sound of one play window on; any other one's off | "wndIndex" | "wndIndex" |
// | VC_CloseSound | sound off | (none) | none |
// | VC_SetVolume | the volume of a play window | "wndIndex", "volume" (0-100) | "wndIndex", "volume" |
// | VC_SetDrawStatus | drawing with the mouse on for one kind of shape (off for the others), or off | "type": "rect", "polygon", "line", "point" or "grid"; "enable" (true); "wndIndex" or all | "type", "enable" |
// | VC_SetDrawShapeInfo | how a kind of shape looks and how many a play window may hold (default green, 2, 8; the grid red) | "type"; "color" (#rrggbb, #aarrggbb or a name), "lineWidth" (1-20), "maxCount" (1-64; not below what is there); "wndIndex" or all | "type", "color", "lineWidth", "maxCount" |
// | VC_SetRectInfo | replaces the rectangles | "wndIndex", "rects": [{"id" (optional), "x", "y", "width", "height", any keys of the page's}] | "wndIndex", "rects" (as VC_GetRectInfo) |
// | VC_GetRectInfo | the rectangles set and drawn | "wndIndex" | "wndIndex", "rects": [{"id", "x", "y", "width", "height", the page's keys}] |
// | VC_SetPolygonInfo | replaces the polygons | "wndIndex", "polygons": [{"id", "points": [{"x", "y"}] (3-32)}] | "wndIndex", "polygons" |
// | VC_GetPolygonInfo | the polygons set and drawn | "wndIndex" | "wndIndex", "polygons" |
// | VC_SetLineInfo | replaces the lines | "wndIndex", "lines": [{"id", "points": two {"x", "y"}}] | "wndIndex", "lines" |
// | VC_GetLineInfo | the lines of the selected play window | (widget only) | "wndIndex", "lines" |
// | VC_SetPointInfo | replaces the points | "wndIndex", "points": [{"id", "x", "y"}] | "wndIndex", "points" |
// | VC_GetPointInfo | the points of the selected play window | (widget only) | "wndIndex", "points" |
// | VC_SetGridInfo | sets the cell grid (motion-detection areas) | "wndIndex", "rows", "columns" (1-64), "cells": one text of 0 and 1 per row (optional: all off) | "wndIndex", "rows", "columns", "cells" |
// | VC_GetGridInfo | the grid of the selected play window (a grid drawn before one was set has 18 x 22 cells) | (widget only) | "wndIndex", "rows", "columns", "cells" (0 rows: no grid) |
// | VC_SetTextOverlay | replaces the lines of text over the picture | "wndIndex", "texts": up to 16 {"text" (up to 256 characters), "x", "y" (top left), "color" (white), "size" (6-128 pixels, 16)} | "wndIndex", "texts" |
// | VC_GetTextOverlay | the texts of the selected play window | (widget only) | "wndIndex", "texts" |
// | VC_SelectShape | selects a shape (handles shown; the mouse may then reshape it) | "wndIndex", "id" (0 or none: no shape) | "wndIndex", "id" |
// | VC_ClearShapeByType | removes the shapes of a kind (the grid: every cell off) | "wndIndex", "type" | "wndIndex", "type", "removed" |
// | VC_ClearShapeById | removes one shape | "wndIndex", "id" | "wndIndex", "id" |
// | VC_ClearGraphics | removes every shape and grid cell of every play window; texts stay | (widget only) | none |
// | VC_SetDrawCallback | which drawing events the widget raises (all three at first) | "events": a list of 2, 7, 8 | "events" |
// | VC_GetLocalConfig | the settings, stored or default: the folders inside the media folders, nothing else of the user's | - | "snapshotPath" (the snapshots folder), "snapshotFormat" (png), "recordPath" (the recordings folder), "recordFormat" (mp4), "downloadPath" (the downloads folder), "preRecordSeconds" (5) |
// | VC_SetLocalConfig | stores the settings given (null: back to the default), all or none; folders are made; other keys are not read | "snapshotPath", "recordPath", "downloadPath" (folders inside their media folder, relative or absolute; others 3024), "snapshotFormat" (png, jpg), "recordFormat" (mp4, mkv), "preRecordSeconds" (0 to 30: seconds of a live stream kept for the start of a recording; 0: none; read when a stream starts) | none |
// | VC_OpenFileBrowser | opens a file dialog and returns at once (no event loop of its own); the answer goes out when the user closes the dialog, only to a page still there; a file chosen may then be uploaded or played for the same "uuid". One dialog at a time per service: another call while one is open answers 3027 | "mode": "folder" (default), "open" or "save"; "path" (start, in the media folders: the snapshot folder), "title", "filter" ("Videos (*.mp4 *.mkv)") | "path" (empty: cancelled), later |
// | VC_OpenDirectory | opens a folder of the media folders in the desktop's file manager | "path": a folder, or a file whose folder opens (default: the snapshot folder; others 3024) | "path" |
// | VC_SetSecretKey | sets the page's key (per "uuid"; its SHA-256 is the AES-256 key) | "key" (1-1024 characters) | none |
// | VC_SetOriginalString | keeps a text for the next VC_GetEncryptString of the page | "text" (up to 4096 bytes) | none |
// | VC_GetEncryptString | encrypts with AES-256-GCM, a fresh random nonce each time | "text" (default: the original string) | "cipherText" (Base64) |
// | VC_GetDecryptString | decrypts; a changed text or another key is refused (3019) | "cipherText" | "text" |
// | VC_StartDownload | starts a download over HTTP(S) and answers at once; with "downloadId" (the page's own) starts a stopped or failed one again from where it stopped (Range); not from this machine (3025) | "url", "username", "password"; "path": a file, or a folder (existing, or ending with /) in the downloads folder where a free file named after the url goes (default: the download folder); never over a file, never hidden or executable; or "downloadId" | the state: "downloadId", "status" (running, stopped, done, failed), "url", "path", "bytes", "total" (-1: unknown), "progress" (0-100; -1: unknown), "failure" {"errorCode", "errorMessage", "httpStatus"} |
// | VC_Download | the same as VC_StartDownload (asynchronous too) | as VC_StartDownload | as VC_StartDownload |
// | VC_StopDownload | stops a download; the partial file stays for a start again | "downloadId" | the state |
// | VC_GetDownloadStatus | the state of a download | "downloadId" | the state |
// | VC_GetDownloadProgress | how far a download is | "downloadId" | "downloadId", "bytes", "total", "progress" |
// | VC_StartAsynUpload | starts a multipart/form-data POST of a file and answers at once; with "uploadId" (the page's own) sends it again; not to this machine (3025) | "url", "username", "password", "path" (a file in the media folders, or chosen by the user for this page), "field" ("file"); or "uploadId" | the state: "uploadId", "status", "url", "path", "bytes", "total", "progress", "failure" |
// | VC_UploadFile | the same as VC_StartAsynUpload | as VC_StartAsynUpload | as VC_StartAsynUpload |
// | VC_StopAsynUpload | stops an upload | "uploadId" | the state |
// | VC_GetUploadErrorInfo | the state of an upload: its progress and, after a failure, the error | "uploadId" | the state ("failure" after a failure) |
// | VC_SetCorrectionType | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_SetPlaceType | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_StartFishListener | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_StopFishListener | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_SetFishBoxListInfo | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_GetFishBoxListInfo | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_ClearAllWndFishBoxInfo | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_SetFishWndProperty | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_ArrangeFECWindow | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_StartFECScan | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_StopFECScan | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_FishEyePTZ | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_FishEyeZoomIn | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_FishEyeZoomOut | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_FishEyeGetPreset | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_FishEyeSetPreset | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_StartFECCruise | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_StopFECCruise | not supported (fisheye dewarping, its PTZ, presets, cruise and scan) | - | "errorCode" 3015 |
// | VC_SRInit | not supported (SR) | - | "errorCode" 3015 |
// | VC_SRPTZ | not supported (SR) | - | "errorCode" 3015 |
// | VC_StartUpgrade | not supported (device upgrade, log and configuration export) | - | "errorCode" 3015 |
// | VC_StopUpgrade | not supported (device upgrade, log and configuration export) | - | "errorCode" 3015 |
// | VC_UpgradeStatus | not supported (device upgrade, log and configuration export) | - | "errorCode" 3015 |
// | VC_UpgradeProgress | not supported (device upgrade, log and configuration export) | - | "errorCode" 3015 |
// | VC_ExportDeviceLog | not supported (device upgrade, log and configuration export) | - | "errorCode" 3015 |
// | VC_ExportDeviceConfig | not supported (device upgrade, log and configuration export) | - | "errorCode" 3015 |
// | VC_GetIpcImportErrorInfo | not supported (IPC import) | - | "errorCode" 3015 |
// | VC_StartVoiceTalk | not supported: two-way audio is the audio module's | - | "errorCode" 3015 |
// | VC_StopVoiceTalk | not supported: two-way audio is the audio module's | - | "errorCode" 3015 |
//
// Errors: {"errorCode": code, "errorModule": "video_control", "errorMessage":
// text}, codes from VcError.h: 3001 bad request, 3002 bad url, 3003 no such
// play window, 3004 nothing playing, 3005 not seekable, 3006 unreachable,
// 3007 unauthorised, 3008 unsupported codec, 3009 stream error, 3010 disk
// full, 3011 file error, 3012 not recording, 3013 already recording, 3014
// widget not initialised, 3015 not supported, 3016 no such shape, 3017 too
// many shapes, 3018 no secret key, 3019 cipher text changed or made with
// another key, 3020 no such transfer, 3021 transfer failed, 3022 too many
// streams, 3023 near the descriptor limit, 3024 path outside the media
// folders, 3025 transfer to this machine, 3026
// source timed out, 3027 busy (a file dialog is open already).
//
// Events (data keys): 0 a play window was pressed and selected ("wndIndex");
// 1 a play window was double-clicked ("wndIndex"; not while drawing); 2 a
// drawing is finished ("wndIndex", "type" (the kind), "id" and the shape's
// keys as VC_Get*Info answers them; the grid: "rows", "columns", "cells");
// 3 stream events ("wndIndex", "event": "connected", "firstFrame"
// (+"reconnected"), "lost" (+"reason"), "reconnecting" (+"attempt", "delay"
// ms), "ended", "error" (+"errorCode", "errorModule", "errorMessage"),
// "recordStopped" (+"path", "duration"), "stopped"); 5 mouse ("wndIndex",
// "type": "press", "release", "move", "doubleClick", "wheel"; "x", "y" in the
// play window, "width", "height", "buttons" (Qt::MouseButtons), "delta" for
// the wheel; presses and drags that draw raise none); 7 the user moved a
// shape and 8 reshaped it (the shape as for 2, and "action": "moved" or
// "resized"). A live stream that drops after it played reconnects by
// VC_SetReconnectInfo.
#ifndef VIDEO_CONTROL_H
#define VIDEO_CONTROL_H

#include <QJsonDocument>

class QObject;
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

// The answer of a command function that answers later (VC_OpenFileBrowser):
// called once, on the GUI thread, with the context the function was given
// and the result (valid only during the call). Not called when the context
// was destroyed before the answer came: the library holds it guarded.
typedef void (*VC_AnswerCallback)(QObject* pContext, const QJsonDocument* pResult);

// Command functions, grouped by their call shape.
#define VC_WIDGET_REQUEST_FUNCTIONS(X)                                                                               \
    X(VC_Play)                                                                                                       \
    X(VC_Stop)                                                                                                       \
    X(VC_ReversePlay) X(VC_SetTrsPlayBackParam) X(VC_StartSave) X(VC_StopSave) X(VC_OpenSound) X(VC_Pause)           \
        X(VC_Resume) X(VC_Slow) X(VC_Fast) X(VC_FrameForward) X(VC_Snapshot) X(VC_ArrangeWindow) X(VC_SetVolume)     \
            X(VC_EnableEZoom) X(VC_SRInit) X(VC_SRPTZ) X(VC_GetOSDTime) X(VC_SetCorrectionType) X(VC_SetPlaceType)   \
                X(VC_StartFishListener) X(VC_StopFishListener) X(VC_SetFishBoxListInfo) X(VC_GetFishBoxListInfo)     \
                    X(VC_ClearAllWndFishBoxInfo) X(VC_SetFishWndProperty) X(VC_ArrangeFECWindow) X(VC_StartFECScan)  \
                        X(VC_StopFECScan) X(VC_FishEyePTZ) X(VC_FishEyeZoomIn) X(VC_FishEyeZoomOut)                  \
                            X(VC_FishEyeGetPreset) X(VC_FishEyeSetPreset) X(VC_StartFECCruise) X(VC_StopFECCruise)   \
                                X(VC_SetDrawStatus) X(VC_SetDrawShapeInfo) X(VC_SetGridInfo) X(VC_SetRectInfo)       \
                                    X(VC_GetRectInfo) X(VC_SetPolygonInfo) X(VC_GetPolygonInfo) X(VC_SetTextOverlay) \
                                        X(VC_SetLineInfo) X(VC_ClearShapeByType) X(VC_ClearShapeById)                \
                                            X(VC_SetDrawCallback) X(VC_SetPointInfo) X(VC_SelectShape)               \
                                                X(VC_QueryPlayStatus) X(VC_SetHttps) X(VC_SetReconnectInfo)          \
                                                    X(VC_SetWndResolution) X(VC_SetWndRatioMode) X(VC_SetLayout)     \
                                                        X(VC_SelectPlayWindow) X(VC_SetWndLabels)

#define VC_WIDGET_FUNCTIONS(X) \
    X(VC_StopRealPlayAll)      \
    X(VC_DisableEZoom) X(VC_ClearGraphics) X(VC_GetGridInfo) X(VC_GetTextOverlay) X(VC_GetLineInfo) X(VC_GetPointInfo)

#define VC_REQUEST_FUNCTIONS(X)                                                                                  \
    X(VC_StartVoiceTalk)                                                                                         \
    X(VC_StopVoiceTalk)                                                                                          \
    X(VC_SetSecretKey) X(VC_GetEncryptString) X(VC_GetDecryptString) X(VC_SetOriginalString) X(VC_OpenDirectory) \
        X(VC_StartAsynUpload) X(VC_StopAsynUpload) X(VC_UploadFile) X(VC_GetUploadErrorInfo)                     \
            X(VC_GetIpcImportErrorInfo) X(VC_Download) X(VC_StartUpgrade) X(VC_StopUpgrade) X(VC_UpgradeStatus)  \
                X(VC_UpgradeProgress) X(VC_ExportDeviceLog) X(VC_ExportDeviceConfig) X(VC_StartDownload)         \
                    X(VC_StopDownload) X(VC_GetDownloadStatus) X(VC_GetDownloadProgress) X(VC_GetLocalConfig)    \
                        X(VC_SetLocalConfig) X(VC_GetEngineSupport)

#define VC_NO_ARGUMENT_FUNCTIONS(X) X(VC_CloseSound)

extern "C" {

#define VC_DECLARE_WIDGET_REQUEST(name) VC_API QJsonDocument* name(QWidget* pWidget, const QJsonDocument* pRequest);
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

// Answers later: null when the dialog opened (its result goes to pfnAnswer
// with pContext), or an error result at once (3001 bad "mode", 3022 busy).
VC_API QJsonDocument* VC_OpenFileBrowser(const QJsonDocument* pRequest, QObject* pContext, VC_AnswerCallback pfnAnswer);

// Once at start with a null widget, then once per widget before any other
// call on it.
VC_API QJsonDocument* VC_Initialize(QWidget* pWidget);
// Before a widget goes: stops its play windows and raises their last events
// ("recordStopped", "stopped" with the reason "closed") at once, then
// forgets the widget.
VC_API void VC_Uninitialize(QWidget* pWidget);

// Frees a result of any command function; null is allowed.
VC_API void VC_Release(void* pResult);

// Play windows of a widget, numbered 0 to count - 1.
VC_API int VC_WindowCount(QWidget* pWidget);
VC_API bool VC_IsWindowPlaying(QWidget* pWidget, int iIndex);
VC_API bool VC_IsWindowHidden(QWidget* pWidget, int iIndex);
VC_API void VC_ShowWindow(QWidget* pWidget, int iIndex);
VC_API void VC_HideWindow(QWidget* pWidget, int iIndex);

// The media folders, the only places the library writes into for pages
// (MediaFolders.h): "snapshots", "recordings", "downloads", absolute
// folders; absent or empty: Pictures, Videos and Downloads/LocalService.
// For the service's own configuration: no page command reaches it. Answers
// null, or an error (3001) and changes nothing when a folder is relative.
VC_API QJsonDocument* VC_SetMediaFolders(const QJsonDocument* pFolders);

// Sets the process-wide callback of one event type; returns the one replaced.
VC_API VC_EventCallback VC_InstallEventCallback(VC_EventType eType, VC_EventCallback pCallback);

}  // extern "C"

#endif  // VIDEO_CONTROL_H
