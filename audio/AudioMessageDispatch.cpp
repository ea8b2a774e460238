#include "AudioMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>

AudioMessageDispatch::AudioMessageDispatch(QObject* parent) : QObject(parent) {}

AudioMessageDispatch::~AudioMessageDispatch() = default;

void AudioMessageDispatch::processMessage(QString message) {
    // No audio command is served yet: nothing is answered.
    Q_UNUSED(message);
}

void AudioMessageDispatch::onMessageProcess(QString strResponse) {
    const QJsonDocument document = QJsonDocument::fromJson(strResponse.toUtf8());
    if (!document.isObject()) return;
    emit messageResponse(document.object().value(QStringLiteral("uuid")).toString(), strResponse);
}
