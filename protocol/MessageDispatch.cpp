#include "MessageDispatch.h"

#include "AudioMessageDispatch.h"
#include "VideoMessageDispatch.h"
#include "WindowMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>

MessageDispatch::MessageDispatch(QObject* parent)
    : QObject(parent),
      m_pWindowDispatch(new WindowMessageDispatch()),
      m_pVideoDispatch(new VideoMessageDispatch()),
      m_pAudioDispatch(new AudioMessageDispatch()) {
    connect(m_pWindowDispatch, &WindowMessageDispatch::messageResponse, this, &MessageDispatch::messageResponse);
    connect(m_pVideoDispatch, &VideoMessageDispatch::messageResponse, this, &MessageDispatch::messageResponse);
    connect(m_pAudioDispatch, &AudioMessageDispatch::messageResponse, this, &MessageDispatch::messageResponse);
}

MessageDispatch::~MessageDispatch() {
    m_pWindowDispatch->deleteLater();
    m_pVideoDispatch->deleteLater();
    m_pAudioDispatch->deleteLater();
}

void MessageDispatch::processMessage(QString message) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    const QString strModule =
        document.object().value(QStringLiteral("cmd")).toString().section(QLatin1Char('.'), 0, 0);
    if (strModule == QLatin1String("window")) {
        m_pWindowDispatch->processMessage(message);
    } else if (strModule == QLatin1String("video")) {
        m_pVideoDispatch->processMessage(message);
    } else if (strModule == QLatin1String("audio")) {
        m_pAudioDispatch->processMessage(message);
    }
}

QString MessageDispatch::buildConnectReply(QString uuid) {
    const QJsonObject reply{{QStringLiteral("errorModule"), 0},
                            {QStringLiteral("errorCode"), 0},
                            {QStringLiteral("uuid"), uuid},
                            {QStringLiteral("version"), QStringLiteral("1.0")}};
    return QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

void MessageDispatch::closeConnection(QString uuid) {
    m_pWindowDispatch->closeConnection(uuid);
}
