#include "WebClientComponents.h"

#include "VideoCommand.h"
#include "VideoEvents.h"
#include "video_control.h"

#include <QJsonDocument>

namespace {

// A library result, released with VC_Release however the caller leaves.
class LibraryResult {
public:
    explicit LibraryResult(QJsonDocument* pDocument) : m_pDocument(pDocument) {}
    ~LibraryResult() { VC_Release(m_pDocument); }
    LibraryResult(const LibraryResult&) = delete;
    LibraryResult& operator=(const LibraryResult&) = delete;
    // Null counts as an empty object.
    QJsonObject object() const { return m_pDocument ? m_pDocument->object() : QJsonObject(); }

private:
    QJsonDocument* m_pDocument;
};

// The envelope ("sequence" and "uuid" only when the request has them, with
// their JSON values; "errorCode" 0; "errorModule" "") with every key of the
// library's result written over it, in the indented form.
QString buildResponse(const QJsonObject& request, const QJsonObject& result = QJsonObject()) {
    QJsonObject response;
    for (const QString& strKey : {QStringLiteral("sequence"), QStringLiteral("uuid")}) {
        const auto it = request.constFind(strKey);
        if (it != request.constEnd()) response.insert(strKey, it.value());
    }
    response.insert(QStringLiteral("errorCode"), 0);
    response.insert(QStringLiteral("errorModule"), QString());
    for (auto it = result.constBegin(); it != result.constEnd(); ++it) response.insert(it.key(), it.value());
    return QString::fromUtf8(QJsonDocument(response).toJson());
}

QString callWithWidget(QWidget* pWidget, video::WidgetFn pfnCall, const QJsonObject& request) {
    return buildResponse(request, LibraryResult(pfnCall(pWidget)).object());
}

// libraryRequest is the document the library gets; the response echoes request.
QString callWithWidget(QWidget* pWidget, video::WidgetRequestFn pfnCall, const QJsonObject& request,
                       const QJsonObject& libraryRequest) {
    const QJsonDocument document(libraryRequest);
    return buildResponse(request, LibraryResult(pfnCall(pWidget, &document)).object());
}

}  // namespace

LaterAnswer::LaterAnswer(const QJsonObject& request, QObject* pParent) : QObject(pParent), m_request(request) {}

void LaterAnswer::deliver(QObject* pContext, const QJsonDocument* pResult) {
    auto* pAnswer = qobject_cast<LaterAnswer*>(pContext);
    if (!pAnswer) return;
    // Where the page (the request's "uuid") and the path the user chose in
    // a dialog (the result's "path") meet.
    const QJsonObject result = pResult ? pResult->object() : QJsonObject();
    emit pAnswer->sigAnswer(pAnswer->m_request.value(QStringLiteral("uuid")).toString(),
                            buildResponse(pAnswer->m_request, result));
    pAnswer->deleteLater();
}

WebClientComponents::WebClientComponents(QWidget* pParent, QString strUuid)
    : QObject(nullptr), m_pMainWindow(new NEVER_USE_ME::MainWindow(pParent)) {
    m_pMainWindow->setWindowFlags(Qt::FramelessWindowHint);
    m_pMainWindow->setAttribute(Qt::WA_QuitOnClose, false);
    m_pMainWindow->setAttribute(Qt::WA_DeleteOnClose, false);
    m_pMainWindow->setAttribute(Qt::WA_NoSystemBackground, true);
    m_pMainWindow->setAttribute(Qt::WA_OpaquePaintEvent, true);
    m_pMainWindow->setAutoFillBackground(false);

    LibraryResult(VC_Initialize(m_pMainWindow));
    video::bindEventCallbacks();
    const QJsonDocument layout = QJsonDocument::fromJson("[[{}]]");
    LibraryResult(VC_SetLayout(m_pMainWindow, &layout));

    using NEVER_USE_ME::MainWindow;
    video::relayEventSignals(m_pMainWindow.data(), this);
    connect(m_pMainWindow, &MainWindow::sigQuitedFullScreen, this, &WebClientComponents::sigQuitedFullScreen);
    m_pMainWindow->setObjectName(strUuid);
}

WebClientComponents::~WebClientComponents() {
    // The page hears its tiles stop while the widget can still tell it.
    if (m_pMainWindow) VC_Uninitialize(m_pMainWindow);
    if (m_pMainWindow && !m_pMainWindow->parentWidget()) delete m_pMainWindow;
}

QString WebClientComponents::run(const video::VideoCommand& command, const QJsonObject& request) {
    // The widget goes with its window; a component outliving both answers nothing.
    if (!m_pMainWindow) return QString();
    if (const auto* pfnOwn = std::get_if<video::ComponentFn>(&command.call)) return (this->*(*pfnOwn))(request);
    if (const auto* pfn = std::get_if<video::WidgetFn>(&command.call))
        return callWithWidget(m_pMainWindow, *pfn, request);
    if (const auto* pfn = std::get_if<video::WidgetRequestFn>(&command.call)) {
        QJsonObject libraryRequest = request;
        if (command.has(video::kAddPlayGroup))
            libraryRequest.insert(QStringLiteral("playGroup"), m_pMainWindow->m_nPlayGroup);
        return callWithWidget(m_pMainWindow, *pfn, request, libraryRequest);
    }
    return runGlobal(command, request);
}

QString WebClientComponents::runGlobal(const video::VideoCommand& command, const QJsonObject& request,
                                       LaterAnswer* pLater) {
    if (const auto* pfn = std::get_if<video::LaterFn>(&command.call)) {
        const QJsonDocument document(request);
        QJsonDocument* pNow = (*pfn)(&document, pLater, &LaterAnswer::deliver);
        return pNow ? buildResponse(request, LibraryResult(pNow).object()) : QString();
    }
    if (const auto* pfn = std::get_if<video::RequestFn>(&command.call)) {
        const QJsonDocument document(request);
        return buildResponse(request, LibraryResult((*pfn)(&document)).object());
    }
    if (const auto* pfn = std::get_if<video::NoArgumentFn>(&command.call))
        return buildResponse(request, LibraryResult((*pfn)()).object());
    return QString();
}

QString WebClientComponents::stopAll(const QJsonObject& request) {
    if (!m_pMainWindow) return QString();
    return callWithWidget(m_pMainWindow, VC_StopRealPlayAll, request);
}

QString WebClientComponents::clearShapeById(const QJsonObject& request) {
    return callWithWidget(m_pMainWindow, VC_ClearShapeById, request, request);
}

void WebClientComponents::selectPlayWindow(const QJsonObject& request) {
    callWithWidget(m_pMainWindow, VC_SelectPlayWindow, request, request);
}

QString WebClientComponents::setFullScreen(const QJsonObject& request) {
    const QJsonValue full = request.value(QStringLiteral("full"));
    const bool bFull = full.isBool() ? full.toBool() : true;
    if (bFull && !m_pMainWindow->isFullScreen()) {
        m_pMainWindow->switchFullScreen(true, true);
        m_pMainWindow->m_nFullScreenMode = 0;
    } else {
        m_pMainWindow->switchFullScreen(false, false);
    }
    return buildResponse(request);
}

QString WebClientComponents::setFullScreenCapability(const QJsonObject& request) {
    const QJsonValue mode = request.value(QStringLiteral("mode"));
    if (mode.isDouble()) m_pMainWindow->m_bFullScreenCapability = mode.toInt() != 0;
    return buildResponse(request);
}

QString WebClientComponents::setPlayBackType(const QJsonObject& request) {
    m_pMainWindow->m_nPlayGroup = request.value(QStringLiteral("type")).toInt();
    return buildResponse(request);
}

void WebClientComponents::setVideoGeometry(int x, int y, int width, int height) {
    if (m_pMainWindow->isFullScreen()) return;
    m_pMainWindow->setGeometry(x, y, width, height);
}

QRect WebClientComponents::videoGeometry() const {
    return m_pMainWindow->geometry();
}

bool WebClientComponents::isVideoFullScreen() const {
    return m_pMainWindow->isFullScreen();
}
