#include "MessageDispatch.h"

#include "AudioMessageDispatch.h"
#include "VideoMessageDispatch.h"
#include "WindowMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopedValueRollback>
#include <QThread>

MessageDispatch::MessageDispatch(QObject* parent)
    : QObject(parent),
      m_pWindowDispatch(new WindowMessageDispatch()),
      m_pVideoDispatch(new VideoMessageDispatch()),
      m_pAudioDispatch(new AudioMessageDispatch()),
      m_pAudioThread(new QThread(this)) {
    connect(m_pWindowDispatch, &WindowMessageDispatch::messageResponse, this, &MessageDispatch::onModuleOutput);
    connect(m_pVideoDispatch, &VideoMessageDispatch::messageResponse, this, &MessageDispatch::onModuleOutput);
    m_pAudioThread->setObjectName(QStringLiteral("audio"));
    m_pAudioDispatch->moveToThread(m_pAudioThread);
    connect(m_pAudioDispatch, &AudioMessageDispatch::messageResponse, this, &MessageDispatch::onAudioResponse,
            Qt::QueuedConnection);
    m_pAudioThread->start();
}

MessageDispatch::~MessageDispatch() {
    m_pWindowDispatch->deleteLater();
    m_pVideoDispatch->deleteLater();
    // A device call in progress ends within the library's time-out.
    m_pAudioThread->quit();
    m_pAudioThread->wait();
    delete m_pAudioDispatch;
}

void MessageDispatch::processMessage(QString message) {
    m_bLastAnswered = false;
    bool bAnswered = false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    const QJsonObject request = document.object();
    const QString strModule = request.value(QStringLiteral("cmd")).toString().section(QLatin1Char('.'), 0, 0);
    if (strModule == QLatin1String("window") || strModule == QLatin1String("video")) {
        // These modules answer before they return.
        const QScopedValueRollback<bool*> answering(m_pbAnswering, &bAnswered);
        if (strModule == QLatin1String("window")) {
            m_pWindowDispatch->processMessage(message);
        } else {
            m_pVideoDispatch->processMessage(message);
        }
    } else if (strModule == QLatin1String("audio")) {
        if (AudioMessageDispatch::answers(request)) {
            m_mapHeld[request.value(QStringLiteral("uuid")).toString()].append(QString());
            bAnswered = true;
        }
        AudioMessageDispatch* pAudio = m_pAudioDispatch;
        QMetaObject::invokeMethod(
            pAudio, [pAudio, message] { pAudio->processMessage(message); }, Qt::QueuedConnection);
    }
    m_bLastAnswered = bAnswered;
}

namespace {
// A response, as opposed to an event: no "cmd" key (the empty text too).
bool isResponse(const QString& strMessage) {
    if (!strMessage.contains(QLatin1String("\"cmd\""))) return true;
    return !QJsonDocument::fromJson(strMessage.toUtf8()).object().contains(QStringLiteral("cmd"));
}
}  // namespace

void MessageDispatch::onModuleOutput(QString strUUID, QString message) {
    if (m_pbAnswering && !*m_pbAnswering && isResponse(message)) *m_pbAnswering = true;
    const auto it = m_mapHeld.find(strUUID);
    if (it == m_mapHeld.end()) {
        emit messageResponse(strUUID, message);
        return;
    }
    it->append(message.isNull() ? QStringLiteral("") : message);
}

void MessageDispatch::onAudioResponse(QString strUUID, QString message) {
    const auto it = m_mapHeld.find(strUUID);
    if (it == m_mapHeld.end()) {
        emit messageResponse(strUUID, message);
        return;
    }
    // The answer takes the place of the oldest one still to come; then
    // everything up to the next place still open goes out.
    for (QString& strHeld : *it) {
        if (strHeld.isNull()) {
            strHeld = message.isNull() ? QStringLiteral("") : message;
            break;
        }
    }
    QList<QString> ready;
    while (!it->isEmpty() && !it->first().isNull()) ready.append(it->takeFirst());
    const bool bSettled = it->isEmpty();
    if (bSettled) m_mapHeld.erase(it);
    for (const QString& strText : ready) emit messageResponse(strUUID, strText);
    if (bSettled) emit sigAnswersSettled(strUUID);
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
