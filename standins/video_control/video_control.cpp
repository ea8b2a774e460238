// Stand-in for the closed video control library. Every command function
// succeeds and returns null; the library keeps, per widget, whether it was
// initialised, its layout of play windows and which of them play or are
// hidden, so the play-window calls answer from real state.
#include "video_control.h"
#include "video_control_test.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QVector>
#include <QWidget>

#include <cstring>

namespace {

struct PlayWindow {
    bool bPlaying = false;
    bool bHidden = false;
};

struct WidgetState {
    bool bInitialized = false;
    QVector<PlayWindow> windows;
    QString strLastCall;
};

struct Library {
    QMutex mutex;
    QHash<QWidget*, WidgetState> widgets;
    VC_EventCallback callbacks[VC_EVENT_TYPE_COUNT] = {};
    QHash<QString, QJsonObject> scriptedResults;
};

Library& library() {
    static Library s_library;
    return s_library;
}

// Number of play windows of a layout: an array of rows, each an array of
// cells ("[[{}]]" is one window, "[[{},{}],[{},{}]]" four).
int countLayoutCells(const QJsonDocument* pLayout) {
    if (!pLayout || !pLayout->isArray()) return 0;
    int iCount = 0;
    for (const QJsonValue& row : pLayout->array()) {
        if (row.isArray()) iCount += row.toArray().size();
    }
    return iCount;
}

// The play window a request addresses: "wndIndex", else the first.
int requestedWindow(const QJsonDocument* pRequest) {
    if (!pRequest || !pRequest->isObject()) return 0;
    return pRequest->object().value(QStringLiteral("wndIndex")).toInt(0);
}

QJsonDocument* applyCommand(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest) {
    Library& lib = library();
    QMutexLocker lock(&lib.mutex);
    WidgetState& state = lib.widgets[pWidget];
    state.strLastCall = QString::fromLatin1(szName);

    if (std::strcmp(szName, "VC_SetLayout") == 0) {
        state.windows = QVector<PlayWindow>(countLayoutCells(pRequest));
    } else if (std::strcmp(szName, "VC_Play") == 0 || std::strcmp(szName, "VC_Stop") == 0) {
        const int iIndex = requestedWindow(pRequest);
        if (iIndex >= 0 && iIndex < state.windows.size())
            state.windows[iIndex].bPlaying = std::strcmp(szName, "VC_Play") == 0;
    } else if (std::strcmp(szName, "VC_StopRealPlayAll") == 0) {
        for (PlayWindow& window : state.windows) window.bPlaying = false;
    }
    const auto itScript = lib.scriptedResults.constFind(state.strLastCall);
    return itScript == lib.scriptedResults.constEnd() ? nullptr : new QJsonDocument(itScript.value());
}

PlayWindow* findWindow(WidgetState* pState, int iIndex) {
    if (!pState || iIndex < 0 || iIndex >= pState->windows.size()) return nullptr;
    return &pState->windows[iIndex];
}

WidgetState* findWidget(QWidget* pWidget) {
    Library& lib = library();
    auto it = lib.widgets.find(pWidget);
    return it == lib.widgets.end() ? nullptr : &it.value();
}

}  // namespace

extern "C" {

#define VC_DEFINE_WIDGET_REQUEST(name)                                        \
    QJsonDocument* name(QWidget* pWidget, const QJsonDocument* pRequest) {    \
        return applyCommand(#name, pWidget, pRequest);                        \
    }
#define VC_DEFINE_WIDGET(name) \
    QJsonDocument* name(QWidget* pWidget) { return applyCommand(#name, pWidget, nullptr); }
#define VC_DEFINE_REQUEST(name) \
    QJsonDocument* name(const QJsonDocument* pRequest) { return applyCommand(#name, nullptr, pRequest); }
#define VC_DEFINE_NO_ARGUMENT(name) \
    QJsonDocument* name() { return applyCommand(#name, nullptr, nullptr); }

VC_WIDGET_REQUEST_FUNCTIONS(VC_DEFINE_WIDGET_REQUEST)
VC_WIDGET_FUNCTIONS(VC_DEFINE_WIDGET)
VC_REQUEST_FUNCTIONS(VC_DEFINE_REQUEST)
VC_NO_ARGUMENT_FUNCTIONS(VC_DEFINE_NO_ARGUMENT)

QJsonDocument* VC_Initialize(QWidget* pWidget) {
    Library& lib = library();
    {
        QMutexLocker lock(&lib.mutex);
        WidgetState& state = lib.widgets[pWidget];
        state = WidgetState();
        state.bInitialized = true;
        state.strLastCall = QStringLiteral("VC_Initialize");
    }
    // The state of a widget goes with the widget, so a later widget at the
    // same address starts afresh.
    if (pWidget) {
        QObject::connect(pWidget, &QObject::destroyed, [pWidget]() {
            QMutexLocker lock(&library().mutex);
            library().widgets.remove(pWidget);
        });
    }
    return nullptr;
}

void VC_Release(void* pResult) {
    delete static_cast<QJsonDocument*>(pResult);
}

int VC_WindowCount(QWidget* pWidget) {
    QMutexLocker lock(&library().mutex);
    WidgetState* pState = findWidget(pWidget);
    return pState ? pState->windows.size() : 0;
}

bool VC_IsWindowPlaying(QWidget* pWidget, int iIndex) {
    QMutexLocker lock(&library().mutex);
    PlayWindow* pWindow = findWindow(findWidget(pWidget), iIndex);
    return pWindow && pWindow->bPlaying;
}

bool VC_IsWindowHidden(QWidget* pWidget, int iIndex) {
    QMutexLocker lock(&library().mutex);
    PlayWindow* pWindow = findWindow(findWidget(pWidget), iIndex);
    return pWindow && pWindow->bHidden;
}

void VC_ShowWindow(QWidget* pWidget, int iIndex) {
    QMutexLocker lock(&library().mutex);
    if (PlayWindow* pWindow = findWindow(findWidget(pWidget), iIndex)) pWindow->bHidden = false;
}

void VC_HideWindow(QWidget* pWidget, int iIndex) {
    QMutexLocker lock(&library().mutex);
    if (PlayWindow* pWindow = findWindow(findWidget(pWidget), iIndex)) pWindow->bHidden = true;
}

VC_EventCallback VC_InstallEventCallback(VC_EventType eType, VC_EventCallback pCallback) {
    if (eType < 0 || eType >= VC_EVENT_TYPE_COUNT) return nullptr;
    QMutexLocker lock(&library().mutex);
    VC_EventCallback pPrevious = library().callbacks[eType];
    library().callbacks[eType] = pCallback;
    return pPrevious;
}

}  // extern "C"

bool VC_Test_FireEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument& data) {
    if (eType < 0 || eType >= VC_EVENT_TYPE_COUNT) return false;
    VC_EventCallback pCallback;
    {
        QMutexLocker lock(&library().mutex);
        pCallback = library().callbacks[eType];
    }
    // Called without the lock: handlers call back into the library.
    if (!pCallback) return false;
    pCallback(eType, pWidget, &data);
    return true;
}

bool VC_Test_IsInitialized(QWidget* pWidget) {
    QMutexLocker lock(&library().mutex);
    WidgetState* pState = findWidget(pWidget);
    return pState && pState->bInitialized;
}

QString VC_Test_LastCall(QWidget* pWidget) {
    QMutexLocker lock(&library().mutex);
    WidgetState* pState = findWidget(pWidget);
    return pState ? pState->strLastCall : QString();
}

void VC_Test_ScriptResult(const QString& strFunction, const QJsonObject& result) {
    QMutexLocker lock(&library().mutex);
    if (result.isEmpty()) {
        library().scriptedResults.remove(strFunction);
    } else {
        library().scriptedResults.insert(strFunction, result);
    }
}

void VC_Test_Reset() {
    Library& lib = library();
    QMutexLocker lock(&lib.mutex);
    lib.widgets.clear();
    lib.scriptedResults.clear();
    for (VC_EventCallback& pCallback : lib.callbacks) pCallback = nullptr;
}
