#include "MessageDispatch.h"

#include "AudioMessageDispatch.h"
#include "CompactJson.h"
#include "VideoMessageDispatch.h"
#include "WindowMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopedValueRollback>
#include <QThreadPool>

MessageDispatch::MessageDispatch(QObject* parent)
    : QObject(parent),
      m_pWindowDispatch(new WindowMessageDispatch()),
      m_pVideoDispatch(new VideoMessageDispatch()),
      m_pAudioDispatch(new AudioMessageDispatch()),
      m_pAudioPool(new QThreadPool(this)) {
    connect(m_pWindowDispatch, &WindowMessageDispatch::messageResponse, this, &MessageDispatch::onModuleOutput);
    connect(m_pVideoDispatch, &VideoMessageDispatch::messageResponse, this, &MessageDispatch::onModuleOutput);
    connect(m_pWindowDispatch, &WindowMessageDispatch::sigEvent, this, &MessageDispatch::onModuleEvent);
    connect(m_pVideoDispatch, &VideoMessageDispatch::sigEvent, this, &MessageDispatch::onModuleEvent);
    connect(m_pVideoDispatch, &VideoMessageDispatch::sigAnswerDeferred, this, &MessageDispatch::onAnswerDeferred);
    connect(m_pVideoDispatch, &VideoMessageDispatch::sigDeferredResponse, this, &MessageDispatch::onDeferredResponse);
    m_pAudioPool->setMaxThreadCount(kAudioThreads);
    connect(m_pAudioDispatch, &AudioMessageDispatch::messageResponse, this, &MessageDispatch::onAudioResponse,
            Qt::QueuedConnection);
}

MessageDispatch::~MessageDispatch() {
    m_pWindowDispatch->deleteLater();
    m_pVideoDispatch->deleteLater();
    // A device call in progress ends within the library's time-out; commands
    // not yet started are dropped.
    for (const auto& pGone : qAsConst(m_mapAudioGone)) pGone->store(true);
    m_pAudioPool->waitForDone();
    delete m_pAudioDispatch;
}

void MessageDispatch::processMessage(const QString& message) {
    m_bLastAnswered = false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    processRequest(document.object());
}

void MessageDispatch::processRequest(const QJsonObject& request) {
    processRequest(request, request.value(QStringLiteral("cmd")).toString());
}

void MessageDispatch::processRequest(const QJsonObject& request, const QString& strCmd) {
    m_bLastAnswered = false;
    bool bAnswered = false;
    const int iDot = strCmd.indexOf(QLatin1Char('.'));
    const QStringView strModule = iDot < 0 ? QStringView(strCmd) : QStringView(strCmd).left(iDot);
    if (strModule == QLatin1String("window") || strModule == QLatin1String("video")) {
        // These modules answer before they return.
        const QScopedValueRollback<bool*> answering(m_pbAnswering, &bAnswered);
        if (strModule == QLatin1String("window")) {
            m_pWindowDispatch->processRequest(request);
        } else {
            m_pVideoDispatch->processRequest(request);
        }
    } else if (strModule == QLatin1String("audio")) {
        if (AudioMessageDispatch::answers(request)) {
            const QScopedValueRollback<bool*> answering(m_pbAnswering, &bAnswered);
            admitAudio(request.value(QStringLiteral("uuid")).toString(), request);
        }
    }
    m_bLastAnswered = bAnswered;
}

void MessageDispatch::onModuleOutput(QString strUUID, QString message) {
    if (m_pbAnswering) *m_pbAnswering = true;
    pass(strUUID, {message.isNull() ? QStringLiteral("") : message, false});
}

void MessageDispatch::onModuleEvent(QString strUUID, QString message) {
    pass(strUUID, {message, true});
}

void MessageDispatch::pass(const QString& strUUID, const Output& output) {
    const auto it = m_mapHeld.find(strUUID);
    if (it == m_mapHeld.end()) {
        emitOutput(strUUID, output);
        return;
    }
    it->append(output);
}

void MessageDispatch::emitOutput(const QString& strUUID, const Output& output) {
    if (output.bEvent) {
        emit sigEvent(strUUID, output.strText);
    } else if (output.strText.isNull()) {
        emit sigAnswerDropped(strUUID);
    } else {
        emit messageResponse(strUUID, output.strText);
    }
}

void MessageDispatch::admitAudio(const QString& strUuid, const QJsonObject& request) {
    if (m_mapAudioGone.contains(strUuid) || m_mapAudioGone.size() >= kMaxAudioPending) {
        onModuleOutput(strUuid, AudioMessageDispatch::busyResponse(request));
        return;
    }
    const auto pGone = std::make_shared<std::atomic<bool>>(false);
    m_mapAudioGone.insert(strUuid, pGone);
    onAnswerDeferred(strUuid);
    AudioMessageDispatch* pAudio = m_pAudioDispatch;
    m_pAudioPool->start([this, pAudio, pGone, strUuid, request] {
        if (!pGone->load()) {
            pAudio->processRequest(request);
            return;
        }
        // The client left before its turn: nothing runs, nothing is sent.
        QMetaObject::invokeMethod(
            this, [this, strUuid] { onAudioResponse(strUuid, QString()); }, Qt::QueuedConnection);
    });
}

void MessageDispatch::onAudioResponse(QString strUUID, QString message) {
    m_mapAudioGone.remove(strUUID);
    onDeferredResponse(strUUID, message);
}

void MessageDispatch::onAnswerDeferred(QString strUUID) {
    m_mapHeld[strUUID].append(std::nullopt);
    if (m_pbAnswering) *m_pbAnswering = true;
}

void MessageDispatch::onDeferredResponse(QString strUUID, QString message) {
    const Output answer{message, false};
    const auto it = m_mapHeld.find(strUUID);
    if (it == m_mapHeld.end()) {
        emitOutput(strUUID, answer);
        return;
    }
    // The answer takes the place of the oldest one still to come; then
    // everything up to the next place still open goes out.
    for (std::optional<Output>& held : *it) {
        if (!held) {
            held = answer;
            break;
        }
    }
    QList<Output> ready;
    while (!it->isEmpty() && it->first()) ready.append(*it->takeFirst());
    const bool bSettled = it->isEmpty();
    if (bSettled) m_mapHeld.erase(it);
    for (const Output& output : ready) emitOutput(strUUID, output);
    if (bSettled) emit sigAnswersSettled(strUUID);
}

QString MessageDispatch::buildConnectReply(QString uuid) {
    return CompactJson()
        .insert(QLatin1String("errorModule"), 0)
        .insert(QLatin1String("errorCode"), 0)
        .insert(QLatin1String("uuid"), uuid)
        .insert(QLatin1String("version"), QLatin1String("1.0"))
        .toString();
}

void MessageDispatch::closeConnection(QString uuid) {
    if (const auto pGone = m_mapAudioGone.value(uuid)) pGone->store(true);
    m_pWindowDispatch->closeConnection(uuid);
}
