#include "VideoMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>

VideoMessageDispatch::VideoMessageDispatch(QObject* parent) : QObject(parent) {}

VideoMessageDispatch::~VideoMessageDispatch() = default;

void VideoMessageDispatch::processMessage(QString message) {
    // No video command is served yet: nothing is answered.
    Q_UNUSED(message);
}

void VideoMessageDispatch::onMessageProcess(QString strResponse) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(strResponse.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    emit messageResponse(document.object().value(QStringLiteral("uuid")).toString(), strResponse);
}
