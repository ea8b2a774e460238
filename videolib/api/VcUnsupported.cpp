// Functions this library does not carry out: each answers NotSupported
// (3015) with the reason, and changes nothing.
#include "VcLibrary.h"

using namespace vc;

namespace {

template <const char* szWhy>
QJsonObject unsupported(const QJsonObject&) {
    return errorResult(Error::NotSupported, QLatin1String(szWhy));
}
template <const char* szWhy>
QJsonObject unsupportedOnGrid(PlayGrid&, const QJsonObject& request) {
    return unsupported<szWhy>(request);
}

constexpr char kFisheye[] = "fisheye dewarping (and its PTZ, presets, cruise and scan) is not supported";
constexpr char kSr[] = "the SR functions are not supported";
constexpr char kDevice[] = "device upgrade, log and configuration export are not supported";
constexpr char kIpcImport[] = "IPC import is not supported";
constexpr char kTalk[] = "two-way audio is the audio module's (\"audio\" commands), not the video library's";

}  // namespace

#define VC_UNSUPPORTED_ON_GRID(name, why) VC_DEFINE_WIDGET_REQUEST(name, unsupportedOnGrid<why>)
#define VC_UNSUPPORTED(name, why) VC_DEFINE_REQUEST(name, unsupported<why>)

VC_UNSUPPORTED_ON_GRID(VC_SetCorrectionType, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_SetPlaceType, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_StartFishListener, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_StopFishListener, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_SetFishBoxListInfo, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_GetFishBoxListInfo, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_ClearAllWndFishBoxInfo, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_SetFishWndProperty, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_ArrangeFECWindow, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_StartFECScan, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_StopFECScan, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_FishEyePTZ, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_FishEyeZoomIn, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_FishEyeZoomOut, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_FishEyeGetPreset, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_FishEyeSetPreset, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_StartFECCruise, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_StopFECCruise, kFisheye)
VC_UNSUPPORTED_ON_GRID(VC_SRInit, kSr)
VC_UNSUPPORTED_ON_GRID(VC_SRPTZ, kSr)
VC_UNSUPPORTED(VC_StartUpgrade, kDevice)
VC_UNSUPPORTED(VC_StopUpgrade, kDevice)
VC_UNSUPPORTED(VC_UpgradeStatus, kDevice)
VC_UNSUPPORTED(VC_UpgradeProgress, kDevice)
VC_UNSUPPORTED(VC_ExportDeviceLog, kDevice)
VC_UNSUPPORTED(VC_ExportDeviceConfig, kDevice)
VC_UNSUPPORTED(VC_GetIpcImportErrorInfo, kIpcImport)
VC_UNSUPPORTED(VC_StartVoiceTalk, kTalk)
VC_UNSUPPORTED(VC_StopVoiceTalk, kTalk)
