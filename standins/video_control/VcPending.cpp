// Functions of the interface that do nothing yet and answer null (success):
// shapes, fisheye views, settings, files, protected strings, transfers and
// voice talk. Each area moves its functions out of these lists into a source
// file of its own when it is built.
#include "VcLibrary.h"

#define VC_PENDING_WIDGET_REQUEST_FUNCTIONS(X)                                                        \
    X(VC_SRInit) X(VC_SRPTZ) X(VC_SetCorrectionType) X(VC_SetPlaceType) X(VC_StartFishListener)      \
    X(VC_StopFishListener) X(VC_SetFishBoxListInfo) X(VC_GetFishBoxListInfo)                          \
    X(VC_ClearAllWndFishBoxInfo) X(VC_SetFishWndProperty) X(VC_ArrangeFECWindow) X(VC_StartFECScan)   \
    X(VC_StopFECScan) X(VC_FishEyePTZ) X(VC_FishEyeZoomIn) X(VC_FishEyeZoomOut)                       \
    X(VC_FishEyeGetPreset) X(VC_FishEyeSetPreset) X(VC_StartFECCruise) X(VC_StopFECCruise)            \
    X(VC_SetDrawStatus) X(VC_SetDrawShapeInfo) X(VC_SetGridInfo) X(VC_SetRectInfo) X(VC_GetRectInfo)  \
    X(VC_SetPolygonInfo) X(VC_GetPolygonInfo) X(VC_SetTextOverlay) X(VC_SetLineInfo)                  \
    X(VC_ClearShapeByType) X(VC_ClearShapeById) X(VC_SetDrawCallback) X(VC_SetPointInfo)              \
    X(VC_SelectShape) X(VC_SetHttps)

#define VC_PENDING_WIDGET_FUNCTIONS(X) \
    X(VC_ClearGraphics) X(VC_GetGridInfo) X(VC_GetTextOverlay) X(VC_GetLineInfo) X(VC_GetPointInfo)

#define VC_PENDING(name) VC_DEFINE_WIDGET_REQUEST(name, nullptr)
VC_PENDING_WIDGET_REQUEST_FUNCTIONS(VC_PENDING)
#undef VC_PENDING
#define VC_PENDING(name) VC_DEFINE_WIDGET(name, nullptr)
VC_PENDING_WIDGET_FUNCTIONS(VC_PENDING)
#undef VC_PENDING
#define VC_PENDING(name) VC_DEFINE_REQUEST(name, nullptr)
VC_REQUEST_FUNCTIONS(VC_PENDING)
#undef VC_PENDING
