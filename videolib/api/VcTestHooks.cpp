// The test hooks of video_control_test.h: a library of their own that only
// tests and localservice-testhooks link. Linking it plugs them into the
// library's test seam before main() runs.
#include "MediaFolders.h"
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "VcLibrary.h"
#include "video_control_test.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

using namespace vc;

namespace {

// What the hooks remember about the calls for one widget (null: the calls
// without one).
struct CallRecord {
    QPointer<QWidget> pWidget;  // goes null when the widget goes
    QString strLastCall;
    QJsonDocument lastRequest;
};

struct Hooks {
    QHash<QWidget*, CallRecord> calls;
    QHash<QString, QJsonObject> scriptedResults;
};

Hooks& hooks() {
    static Hooks s_hooks;
    return s_hooks;
}

// The record of a widget, or null; a record left by a widget that is gone
// does not count (a later widget may have its address).
CallRecord* recordOf(QWidget* pWidget) {
    const auto it = hooks().calls.find(pWidget);
    if (it == hooks().calls.end() || (pWidget && !it->pWidget)) return nullptr;
    return &it.value();
}

bool onCall(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest, QJsonObject* pScripted) {
    const QString strName = QString::fromLatin1(szName);
    hooks().calls.insert(pWidget, CallRecord{pWidget, strName, pRequest ? *pRequest : QJsonDocument()});
    if (!pScripted) return false;
    const auto it = hooks().scriptedResults.constFind(strName);
    if (it == hooks().scriptedResults.constEnd()) return false;
    *pScripted = it.value();
    return true;
}

const bool s_bPlugged = (testSeam().pCall = onCall, true);

}  // namespace

bool VC_Test_FireEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument& data) {
    const VC_EventCallback pCallback = eventCallback(eType);
    if (!pCallback) return false;
    pCallback(eType, pWidget, &data);
    return true;
}

bool VC_Test_IsInitialized(QWidget* pWidget) {
    return isInitialized(pWidget);
}

QString VC_Test_LastCall(QWidget* pWidget) {
    const CallRecord* pRecord = recordOf(pWidget);
    return pRecord ? pRecord->strLastCall : QString();
}

QJsonDocument VC_Test_LastRequest(QWidget* pWidget) {
    const CallRecord* pRecord = recordOf(pWidget);
    return pRecord ? pRecord->lastRequest : QJsonDocument();
}

void VC_Test_ScriptResult(const QString& strFunction, const QJsonObject& result) {
    if (result.isEmpty()) {
        hooks().scriptedResults.remove(strFunction);
    } else {
        hooks().scriptedResults.insert(strFunction, result);
    }
}

void VC_Test_SetWindowPlaying(QWidget* pWidget, int iWndIndex, bool bPlaying) {
    PlayGrid* pGrid = gridOf(pWidget);
    PlayWindow* pWindow = pGrid ? pGrid->window(iWndIndex) : nullptr;
    if (!pWindow) return;
    if (bPlaying) {
        testSeam().pretendPlaying.insert(&pWindow->player());
    } else {
        testSeam().pretendPlaying.remove(&pWindow->player());
    }
}

void VC_Test_SetPaintObserver(VC_Test_PaintObserver pObserver) {
    testSeam().pPaintObserver = pObserver;
}

void VC_Test_ChooseFile(const QString& strUuid, const QString& strPath) {
    rememberChosenFile(QJsonObject{{"uuid", strUuid}}, QJsonObject{{"path", strPath}});
}

void VC_Test_AllowLocalTransfers(bool bAllow) {
    testSeam().bAllowLocalTransfers = bAllow;
}

bool VC_Test_AnswerFileDialog(const QString& strPath) {
    return finishFileDialog(strPath);
}

bool VC_Test_FileDialogOpen() {
    return fileDialogOpen();
}

void VC_Test_Reset() {
    Q_UNUSED(s_bPlugged);
    resetLibrary();
    hooks().calls.clear();
    hooks().scriptedResults.clear();
    testSeam().pPaintObserver = nullptr;
    testSeam().bAllowLocalTransfers = false;
    testSeam().pretendPlaying.clear();
}
