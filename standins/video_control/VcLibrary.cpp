// Process-wide state: the grids of the initialised widgets, the event
// callbacks and the test scripts; VC_Initialize, VC_Release and
// VC_InstallEventCallback.
#include "VcLibrary.h"

#include "PlayGrid.h"
#include "PlayWindow.h"
#include "video_control_test.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

#include <gst/gst.h>

namespace vc {
namespace {

struct WidgetRecord {
    QPointer<PlayGrid> pGrid;
    bool bInitialized = false;
    QString strLastCall;
};

struct Library {
    QHash<QWidget*, WidgetRecord> widgets;
    VC_EventCallback callbacks[VC_EVENT_TYPE_COUNT] = {};
    QHash<QString, QJsonObject> scriptedResults;
    PaintObserver pPaintObserver = nullptr;
};

Library& library() {
    static Library s_library;
    return s_library;
}

bool isEventType(VC_EventType eType) {
    return static_cast<int>(eType) >= 0 && static_cast<int>(eType) < VC_EVENT_TYPE_COUNT;
}

QJsonDocument* toResult(const QJsonObject& result) {
    return result.isEmpty() ? nullptr : new QJsonDocument(result);
}

// Records the call; answers true with the scripted result when a test
// scripted one for the function.
bool scripted(const char* szName, QWidget* pWidget, QJsonDocument** ppResult) {
    Library& lib = library();
    const QString strName = QString::fromLatin1(szName);
    lib.widgets[pWidget].strLastCall = strName;
    const auto it = lib.scriptedResults.constFind(strName);
    if (it == lib.scriptedResults.constEnd()) return false;
    *ppResult = new QJsonDocument(it.value());
    return true;
}

QJsonObject requestObject(const QJsonDocument* pRequest) {
    return pRequest && pRequest->isObject() ? pRequest->object() : QJsonObject();
}

}  // namespace

QJsonObject errorResult(Error eError, const QString& strDetail) {
    QString strText = strDetail;
    if (strText.isEmpty()) {
        switch (eError) {
#define VC_ERROR_TEXT(name, code, text) \
    case Error::name: strText = QStringLiteral(text); break;
            VC_ERROR_TABLE(VC_ERROR_TEXT)
#undef VC_ERROR_TEXT
        case Error::None: break;
        }
    }
    return QJsonObject{{"errorCode", static_cast<int>(eError)}, {"errorModule", errorModule()},
                       {"errorMessage", strText}};
}

QJsonDocument* runGridCommand(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest,
                              GridCommand command) {
    QJsonDocument* pResult = nullptr;
    if (scripted(szName, pWidget, &pResult) || !command) return pResult;
    PlayGrid* pGrid = gridOf(pWidget);
    if (!pGrid) return toResult(errorResult(Error::NotInitialized));
    return toResult(command(*pGrid, requestObject(pRequest)));
}

QJsonDocument* runGlobalCommand(const char* szName, const QJsonDocument* pRequest, GlobalCommand command) {
    QJsonDocument* pResult = nullptr;
    if (scripted(szName, nullptr, &pResult) || !command) return pResult;
    return toResult(command(requestObject(pRequest)));
}

PlayGrid* gridOf(QWidget* pWidget) {
    if (!pWidget) return nullptr;
    const auto it = library().widgets.constFind(pWidget);
    return it == library().widgets.constEnd() ? nullptr : it->pGrid.data();
}

void initializeWidget(QWidget* pWidget) {
    if (!gst_is_initialized()) {
        GError* pError = nullptr;
        if (!gst_init_check(nullptr, nullptr, &pError)) {
            qWarning("video_control: GStreamer failed to start: %s", pError ? pError->message : "?");
            g_clear_error(&pError);
        }
    }
    WidgetRecord& record = library().widgets[pWidget];
    const bool bKnown = record.bInitialized;
    delete record.pGrid.data();
    record = WidgetRecord();
    record.bInitialized = true;
    record.strLastCall = QStringLiteral("VC_Initialize");
    if (!pWidget) return;
    record.pGrid = new PlayGrid(pWidget);
    // The state of a widget goes with the widget, so that a later widget at
    // the same address starts afresh.
    if (!bKnown) {
        QObject::connect(pWidget, &QObject::destroyed, [pWidget]() { library().widgets.remove(pWidget); });
    }
}

void fireEvent(VC_EventType eType, QWidget* pWidget, const QJsonObject& data) {
    if (!isEventType(eType) || !library().callbacks[eType]) return;
    const QJsonDocument document(data);
    library().callbacks[eType](eType, pWidget, &document);
}

PaintObserver paintObserver() {
    return library().pPaintObserver;
}

}  // namespace vc

using namespace vc;

extern "C" {

QJsonDocument* VC_Initialize(QWidget* pWidget) {
    initializeWidget(pWidget);
    return nullptr;
}

void VC_Release(void* pResult) {
    delete static_cast<QJsonDocument*>(pResult);
}

VC_EventCallback VC_InstallEventCallback(VC_EventType eType, VC_EventCallback pCallback) {
    if (!isEventType(eType)) return nullptr;
    VC_EventCallback pPrevious = library().callbacks[eType];
    library().callbacks[eType] = pCallback;
    return pPrevious;
}

}  // extern "C"

bool VC_Test_FireEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument& data) {
    if (!isEventType(eType) || !library().callbacks[eType]) return false;
    library().callbacks[eType](eType, pWidget, &data);
    return true;
}

bool VC_Test_IsInitialized(QWidget* pWidget) {
    const auto it = library().widgets.constFind(pWidget);
    return it != library().widgets.constEnd() && it->bInitialized;
}

QString VC_Test_LastCall(QWidget* pWidget) {
    return library().widgets.value(pWidget).strLastCall;
}

void VC_Test_ScriptResult(const QString& strFunction, const QJsonObject& result) {
    if (result.isEmpty()) {
        library().scriptedResults.remove(strFunction);
    } else {
        library().scriptedResults.insert(strFunction, result);
    }
}

void VC_Test_SetWindowPlaying(QWidget* pWidget, int iWndIndex, bool bPlaying) {
    PlayGrid* pGrid = gridOf(pWidget);
    if (PlayWindow* pWindow = pGrid ? pGrid->window(iWndIndex) : nullptr) pWindow->player().setTestPlaying(bPlaying);
}

void VC_Test_SetPaintObserver(vc::PaintObserver pObserver) {
    library().pPaintObserver = pObserver;
}

void VC_Test_Reset() {
    Library& lib = library();
    for (WidgetRecord& record : lib.widgets) delete record.pGrid.data();
    lib.widgets.clear();
    lib.scriptedResults.clear();
    lib.pPaintObserver = nullptr;
    for (VC_EventCallback& pCallback : lib.callbacks) pCallback = nullptr;
}
