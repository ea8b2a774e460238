#include "VideoMessageDispatch.h"

#include "PageWindows.h"
#include "VideoCommand.h"
#include "WebClientComponents.h"
#include "WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>

VideoMessageDispatch::VideoMessageDispatch(QObject* parent) : QObject(parent) {
    video::connectEventSignals(WindowControlManager::instance(), video::EventDispatcher::Video, this,
                               &VideoMessageDispatch::sigEvent);
    connect(pagestream::PageWindows::instance(), &pagestream::PageWindows::sigEvent, this,
            &VideoMessageDispatch::sigEvent);
}

VideoMessageDispatch::~VideoMessageDispatch() = default;

void VideoMessageDispatch::processMessage(const QString& message) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    processRequest(document.object());
}

void VideoMessageDispatch::processRequest(const QJsonObject& request) {
    const video::VideoCommand* pCommand =
        video::findVideoCommand(request.value(QStringLiteral("cmd")).toString().section(QLatin1Char('.'), 1, 1));
    if (!pCommand) return;
    const QString strUuid = request.value(QStringLiteral("uuid")).toString();
    LaterAnswer* pLater = pCommand->answersLater() ? new LaterAnswer(request, this) : nullptr;
    if (pLater) connect(pLater, &LaterAnswer::sigAnswer, this, &VideoMessageDispatch::sigDeferredResponse);
    const QString strResponse = WindowControlManager::instance()->forwardVideo(*pCommand, request, pLater);
    if (pLater && strResponse.isNull()) {
        emit sigAnswerDeferred(strUuid);
        return;
    }
    delete pLater;
    emit messageResponse(strUuid, strResponse);
}
