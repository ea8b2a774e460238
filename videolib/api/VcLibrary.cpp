// Process-wide state: the grids of the initialised widgets and the event
// callbacks; VC_Initialize, VC_Release and VC_InstallEventCallback.
#include "VcLibrary.h"

#include "MediaFolders.h"
#include "PlayGrid.h"
#include "Secrets.h"
#include "Transfers.h"

#include <QHash>
#include <QJsonArray>
#include <QPointer>
#include <QWidget>

#include <gst/gst.h>

namespace vc {
namespace {

struct WidgetRecord {
    QPointer<PlayGrid> pGrid;
    bool bInitialized = false;
};

struct Library {
    QHash<QWidget*, WidgetRecord> widgets;
    VC_EventCallback callbacks[VC_EVENT_TYPE_COUNT] = {};
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

// Shows the call to the test seam; true with the result a test scripted.
bool scripted(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest, QJsonDocument** ppResult) {
    const auto pCall = testSeam().pCall;
    QJsonObject result;
    if (!pCall || !pCall(szName, pWidget, pRequest, &result)) return false;
    *ppResult = new QJsonDocument(result);
    return true;
}

QJsonObject requestObject(const QJsonDocument* pRequest) {
    if (pRequest && pRequest->isArray()) return QJsonObject{{"layout", pRequest->array()}};
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
    return QJsonObject{
        {"errorCode", static_cast<int>(eError)}, {"errorModule", errorModule()}, {"errorMessage", strText}};
}

QJsonDocument* runGridCommand(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest,
                              GridCommand command) {
    QJsonDocument* pResult = nullptr;
    if (scripted(szName, pWidget, pRequest, &pResult)) return pResult;
    PlayGrid* pGrid = gridOf(pWidget);
    if (!pGrid) return toResult(errorResult(Error::NotInitialized));
    return toResult(command(*pGrid, requestObject(pRequest)));
}

QJsonDocument* runGlobalCommand(const char* szName, const QJsonDocument* pRequest, GlobalCommand command) {
    QJsonDocument* pResult = nullptr;
    if (scripted(szName, nullptr, pRequest, &pResult)) return pResult;
    return toResult(command(requestObject(pRequest)));
}

QJsonDocument* runLaterCommand(const char* szName, const QJsonDocument* pRequest, QObject* pContext,
                               VC_AnswerCallback pfnAnswer, LaterCommand command) {
    QJsonDocument* pResult = nullptr;
    if (scripted(szName, nullptr, pRequest, &pResult)) return pResult;
    return toResult(command(requestObject(pRequest), pContext, pfnAnswer));
}

PlayGrid* gridOf(QWidget* pWidget) {
    if (!pWidget) return nullptr;
    const auto it = library().widgets.constFind(pWidget);
    return it == library().widgets.constEnd() ? nullptr : it->pGrid.data();
}

bool isInitialized(QWidget* pWidget) {
    const auto it = library().widgets.constFind(pWidget);
    return it != library().widgets.constEnd() && it->bInitialized;
}

VC_EventCallback eventCallback(VC_EventType eType) {
    return isEventType(eType) ? library().callbacks[eType] : nullptr;
}

void initializeWidget(QWidget* pWidget) {
    if (!gst_is_initialized()) {
        g_autoptr(GError) pError = nullptr;
        if (!gst_init_check(nullptr, nullptr, &pError))
            qWarning("video_control: GStreamer failed to start: %s", pError ? pError->message : "?");
    }
    if (const auto pCall = testSeam().pCall) pCall("VC_Initialize", pWidget, nullptr, nullptr);
    WidgetRecord& record = library().widgets[pWidget];
    const bool bKnown = record.bInitialized;
    delete record.pGrid.data();
    record = WidgetRecord();
    record.bInitialized = true;
    if (!pWidget) return;
    record.pGrid = new PlayGrid(pWidget);
    // The state of a widget goes with the widget, so that a later widget at
    // the same address starts afresh.
    if (!bKnown) {
        QObject::connect(pWidget, &QObject::destroyed, [pWidget]() { library().widgets.remove(pWidget); });
    }
}

void fireEvent(VC_EventType eType, QWidget* pWidget, const QJsonObject& data) {
    const VC_EventCallback pCallback = eventCallback(eType);
    if (!pCallback) return;
    const QJsonDocument document(data);
    pCallback(eType, pWidget, &document);
}

void resetLibrary() {
    Library& lib = library();
    for (WidgetRecord& record : lib.widgets) delete record.pGrid.data();
    lib.widgets.clear();
    for (VC_EventCallback& pCallback : lib.callbacks) pCallback = nullptr;
    forgetSecrets();
    forgetChosenFiles();
    resetTransfers();
    finishFileDialog(QString());
}

TestSeam& testSeam() {
    static TestSeam s_seam;
    return s_seam;
}

}  // namespace vc

using namespace vc;

extern "C" {

QJsonDocument* VC_Initialize(QWidget* pWidget) {
    initializeWidget(pWidget);
    return nullptr;
}

void VC_Uninitialize(QWidget* pWidget) {
    if (!pWidget || !library().widgets.contains(pWidget)) return;
    WidgetRecord record = library().widgets.take(pWidget);
    if (PlayGrid* pGrid = record.pGrid.data()) {
        pGrid->close(QStringLiteral("closed"));
        delete pGrid;
    }
}

void VC_Release(void* pResult) {
    delete static_cast<QJsonDocument*>(pResult);
}

QJsonDocument* VC_SetMediaFolders(const QJsonDocument* pFolders) {
    return toResult(setMediaFolders(pFolders && pFolders->isObject() ? pFolders->object() : QJsonObject()));
}

VC_EventCallback VC_InstallEventCallback(VC_EventType eType, VC_EventCallback pCallback) {
    if (!isEventType(eType)) return nullptr;
    VC_EventCallback pPrevious = library().callbacks[eType];
    library().callbacks[eType] = pCallback;
    return pPrevious;
}

}  // extern "C"
