#include "MessageDispatch.h"

#include "AudioMessageDispatch.h"
#include "CompactJson.h"
#include "VideoMessageDispatch.h"
#include "WindowMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopedValueRollback>
#include <QThreadPool>

#include <cstring>

MessageDispatch::MessageDispatch(QObject* parent)
    : QObject(parent),
      m_pWindowDispatch(new WindowMessageDispatch()),
      m_pVideoDispatch(new VideoMessageDispatch()),
      m_pAudioDispatch(new AudioMessageDispatch()),
      m_pAudioPool(new QThreadPool(this)) {
    connect(m_pWindowDispatch, &WindowMessageDispatch::messageResponse, this, &MessageDispatch::onModuleOutput);
    connect(m_pVideoDispatch, &VideoMessageDispatch::messageResponse, this, &MessageDispatch::onModuleOutput);
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

namespace {
// A response, as opposed to an event: no "cmd" key (the empty text too).
bool isResponse(const QString& strMessage) {
    if (!MessageDispatch::mayBeEvent(strMessage)) return true;
    return !QJsonDocument::fromJson(strMessage.toUtf8()).object().contains(QStringLiteral("cmd"));
}
}  // namespace

bool MessageDispatch::mayBeEvent(QStringView strText) {
    if (strText.size() < 2) return false;
    const char16_t* p = reinterpret_cast<const char16_t*>(strText.data());
    const char16_t* const pLast = p + strText.size() - 1;  // a match needs a character after it
    // Four characters at a time: blocks without a 'c' or '\\' are passed over
    // (a 16-bit lane of v is zero where the block holds the character).
    constexpr quint64 kOnes = 0x0001000100010001ULL, kHighs = 0x8000800080008000ULL;
    const auto holds = [](quint64 uBlock, char16_t c) {
        const quint64 v = uBlock ^ (kOnes * c);
        return ((v - kOnes) & ~v & kHighs) != 0;
    };
    for (;;) {
        while (pLast - p >= 4) {
            quint64 uBlock;
            std::memcpy(&uBlock, p, sizeof uBlock);
            if (holds(uBlock, u'c') || holds(uBlock, u'\\')) break;
            p += 4;
        }
        const char16_t* const pEnd = pLast - p > 4 ? p + 4 : pLast;
        if (p >= pEnd) return false;
        for (; p < pEnd; ++p) {
            if (*p == u'c') {
                if (p[1] == u'm' && p + 1 < pLast && p[2] == u'd') return true;
            } else if (*p == u'\\' && p[1] == u'u') {
                return true;
            }
        }
    }
}

void MessageDispatch::onModuleOutput(QString strUUID, QString message) {
    if (m_pbAnswering && !*m_pbAnswering && isResponse(message)) *m_pbAnswering = true;
    const auto it = m_mapHeld.find(strUUID);
    if (it == m_mapHeld.end()) {
        emit messageResponse(strUUID, message);
        return;
    }
    it->append(message.isNull() ? QStringLiteral("") : message);
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
    const auto it = m_mapHeld.find(strUUID);
    if (it == m_mapHeld.end()) {
        if (message.isNull()) {
            emit sigAnswerDropped(strUUID);
        } else {
            emit messageResponse(strUUID, message);
        }
        return;
    }
    // The answer takes the place of the oldest one still to come; then
    // everything up to the next place still open goes out.
    for (std::optional<QString>& held : *it) {
        if (!held) {
            held = message;
            break;
        }
    }
    QList<QString> ready;
    while (!it->isEmpty() && it->first()) ready.append(*it->takeFirst());
    const bool bSettled = it->isEmpty();
    if (bSettled) m_mapHeld.erase(it);
    for (const QString& strText : ready) {
        if (strText.isNull()) {
            emit sigAnswerDropped(strUUID);
        } else {
            emit messageResponse(strUUID, strText);
        }
    }
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
