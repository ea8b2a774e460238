#include "VideoCommand.h"

#include "WebClientComponents.h"

#include <iterator>

namespace video {
namespace {

constexpr VideoCall widgetRequest(WidgetRequestFn pfn) {
    return VideoCall(pfn);
}
constexpr VideoCall widget(WidgetFn pfn) {
    return VideoCall(pfn);
}
constexpr VideoCall request(RequestFn pfn) {
    return VideoCall(pfn);
}
constexpr VideoCall noArgument(NoArgumentFn pfn) {
    return VideoCall(pfn);
}
constexpr VideoCall component(ComponentFn pfn) {
    return VideoCall(pfn);
}
constexpr VideoCall later(LaterFn pfn) {
    return VideoCall(pfn);
}
constexpr VideoCall nothing() {
    return VideoCall();
}

const VideoCommand kCommands[] = {
    {"startPlay", widgetRequest(VC_Play), kWindowBound | kAddPlayGroup},
    {"stop", widgetRequest(VC_Stop), kWindowBound},
    {"reversePlay", widgetRequest(VC_ReversePlay), kWindowBound},
    {"setTrsPlayBackParam", widgetRequest(VC_SetTrsPlayBackParam), kWindowBound},
    {"startSave", widgetRequest(VC_StartSave), kWindowBound},
    {"stopSave", widgetRequest(VC_StopSave), kWindowBound},
    {"openSound", widgetRequest(VC_OpenSound), kWindowBound},
    {"closeSound", noArgument(VC_CloseSound), kWindowBound},
    {"pause", widgetRequest(VC_Pause), kWindowBound},
    {"resume", widgetRequest(VC_Resume), kWindowBound},
    {"slow", widgetRequest(VC_Slow), kWindowBound},
    {"fast", widgetRequest(VC_Fast), kWindowBound},
    {"frame", widgetRequest(VC_FrameForward), kWindowBound},
    {"capture", widgetRequest(VC_Snapshot), kWindowBound},
    {"stopAll", widget(VC_StopRealPlayAll), kWindowBound},
    {"arrangeWindow", widgetRequest(VC_ArrangeWindow), kWindowBound},
    {"startTalk", request(VC_StartVoiceTalk), kWindowBound},
    {"stopTalk", request(VC_StopVoiceTalk), kWindowBound},
    {"setVolume", widgetRequest(VC_SetVolume), kWindowBound},
    {"enableZoom", widgetRequest(VC_EnableEZoom), kWindowBound},
    {"disableZoom", widget(VC_DisableEZoom), kWindowBound},
    {"setFullScreenCapability", component(&WebClientComponents::setFullScreenCapability), kWindowBound},
    {"fullScreen", component(&WebClientComponents::setFullScreen), kWindowBound | kFullScreen},
    {"setPlaybackDrawType", nothing(), kWindowBound},
    {"setPlayBackType", component(&WebClientComponents::setPlayBackType), kWindowBound},
    {"setSecretKey", request(VC_SetSecretKey), 0},
    {"getEncryptString", request(VC_GetEncryptString), 0},
    {"getDecryptString", request(VC_GetDecryptString), 0},
    {"setOriginalString", request(VC_SetOriginalString), 0},
    {"setPlayMode", nothing(), kWindowBound},
    {"browseFilePath", later(VC_OpenFileBrowser), kRaisedTemporaryWindow},
    {"openDirectory", request(VC_OpenDirectory), 0},
    {"startAsynUpload", request(VC_StartAsynUpload), 0},
    {"stopAsynUpload", request(VC_StopAsynUpload), 0},
    {"uploadFile", request(VC_UploadFile), 0},
    {"getUploadErrorInfo", request(VC_GetUploadErrorInfo), 0},
    {"getIpcImportErrorInfo", request(VC_GetIpcImportErrorInfo), 0},
    {"downloadFile", request(VC_Download), 0},
    {"startUpgrade", request(VC_StartUpgrade), 0},
    {"stopUpgrade", request(VC_StopUpgrade), 0},
    {"getUpgradeStatus", request(VC_UpgradeStatus), 0},
    {"getUpgradeProgress", request(VC_UpgradeProgress), 0},
    {"exportDeviceLog", request(VC_ExportDeviceLog), 0},
    {"exportReport", request(VC_ExportDeviceConfig), 0},
    {"setPTZCtrlEnable", nothing(), kWindowBound},
    {"startAsyncDownload", request(VC_StartDownload), 0},
    {"stopAsyncDownload", request(VC_StopDownload), 0},
    {"getDownloadStatus", request(VC_GetDownloadStatus), 0},
    {"getDownloadProgress", request(VC_GetDownloadProgress), 0},
    {"SRInit", widgetRequest(VC_SRInit), kWindowBound},
    {"SRPTZ", widgetRequest(VC_SRPTZ), kWindowBound},
    {"getOSDTime", widgetRequest(VC_GetOSDTime), kWindowBound},
    {"getLastError", nothing(), 0},
    {"setCorrectionType", widgetRequest(VC_SetCorrectionType), kWindowBound},
    {"setPlaceType", widgetRequest(VC_SetPlaceType), kWindowBound},
    {"startFishListener", widgetRequest(VC_StartFishListener), kWindowBound},
    {"stopFishListener", widgetRequest(VC_StopFishListener), kWindowBound},
    {"setFishBoxListInfo", widgetRequest(VC_SetFishBoxListInfo), kWindowBound},
    {"getFishBoxListInfo", widgetRequest(VC_GetFishBoxListInfo), kWindowBound},
    {"clearAllWndFishBoxInfo", widgetRequest(VC_ClearAllWndFishBoxInfo), kWindowBound},
    {"setFishWndProperty", widgetRequest(VC_SetFishWndProperty), kWindowBound},
    {"arrangeFECWindow", widgetRequest(VC_ArrangeFECWindow), kWindowBound},
    {"startFECScan", widgetRequest(VC_StartFECScan), kWindowBound},
    {"stopFECScan", widgetRequest(VC_StopFECScan), kWindowBound},
    {"fishEyePTZ", widgetRequest(VC_FishEyePTZ), kWindowBound},
    {"fishEyeZoomIn", widgetRequest(VC_FishEyeZoomIn), kWindowBound},
    {"fishEyeZoomOut", widgetRequest(VC_FishEyeZoomOut), kWindowBound},
    {"fishEyeGetPreset", widgetRequest(VC_FishEyeGetPreset), kWindowBound},
    {"fishEyeSetPreset", widgetRequest(VC_FishEyeSetPreset), kWindowBound},
    {"startFECCruise", widgetRequest(VC_StartFECCruise), kWindowBound},
    {"stopFECCruise", widgetRequest(VC_StopFECCruise), kWindowBound},
    {"getLocalConfig", request(VC_GetLocalConfig), kDebugLine},
    {"setLocalConfig", request(VC_SetLocalConfig), 0},
    {"enablePDC", nothing(), kWindowBound},
    {"setDrawStatus", widgetRequest(VC_SetDrawStatus), kWindowBound},
    {"clearRegion", widget(VC_ClearGraphics), kWindowBound},
    {"setDrawShapeInfo", widgetRequest(VC_SetDrawShapeInfo), kWindowBound},
    {"setGridInfo", widgetRequest(VC_SetGridInfo), kWindowBound},
    {"getGridInfo", widget(VC_GetGridInfo), kWindowBound},
    {"setRectInfo", widgetRequest(VC_SetRectInfo), kWindowBound},
    {"getRectInfo", widgetRequest(VC_GetRectInfo), kWindowBound},
    {"setPolygonInfo", widgetRequest(VC_SetPolygonInfo), kWindowBound},
    {"getPolygonInfo", widgetRequest(VC_GetPolygonInfo), kWindowBound},
    {"setTextOverlay", widgetRequest(VC_SetTextOverlay), kWindowBound},
    {"getTextOverlay", widget(VC_GetTextOverlay), kWindowBound},
    {"setLineInfo", widgetRequest(VC_SetLineInfo), kWindowBound},
    {"getLineInfo", widget(VC_GetLineInfo), kWindowBound},
    {"clearShapeByType", widgetRequest(VC_ClearShapeByType), kWindowBound},
    {"setDrawCallback", widgetRequest(VC_SetDrawCallback), kWindowBound},
    {"setPointInfo", widgetRequest(VC_SetPointInfo), kWindowBound},
    {"getPointInfo", widget(VC_GetPointInfo), kWindowBound},
    {"chooseShape", widgetRequest(VC_SelectShape), kWindowBound},
    {"getPlayInfo", widgetRequest(VC_QueryPlayStatus), kWindowBound},
    {"setIsHttps", widgetRequest(VC_SetHttps), kWindowBound},
    {"setReconnectInfo", widgetRequest(VC_SetReconnectInfo), kWindowBound},
    {"setWndResolution", widgetRequest(VC_SetWndResolution), kWindowBound},
    {"setWndRatioMode", widgetRequest(VC_SetWndRatioMode), kWindowBound},
    {"setWndLabels", widgetRequest(VC_SetWndLabels), kWindowBound},
    {"getEngineSupport", request(VC_GetEngineSupport), kDebugLine},
};

}  // namespace

const VideoCommand* findVideoCommand(const QString& strName) {
    for (const VideoCommand& command : kCommands) {
        if (strName == QLatin1String(command.szName)) return &command;
    }
    return nullptr;
}

const VideoCommand* videoCommandsBegin() {
    return std::begin(kCommands);
}
const VideoCommand* videoCommandsEnd() {
    return std::end(kCommands);
}

}  // namespace video
