#ifndef PROTOCOL_MESSAGEDISPATCH_H
#define PROTOCOL_MESSAGEDISPATCH_H

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class AudioMessageDispatch;
class QJsonObject;
class QThreadPool;
class VideoMessageDispatch;
class WindowMessageDispatch;

// The root of the command side: hands every request text to the module named
// in its "cmd" and funnels the modules' responses into messageResponse and
// their events into sigEvent.
//
// Audio limits: at most one audio command per client uuid at a time (another
// answers the audio module's busy code at once), at most kMaxAudioPending
// admitted and unanswered in all (more answer busy), run on at most
// kAudioThreads threads; a command whose client is gone before it starts is
// dropped without an answer.
//
// Thread rules: lives on the main thread with the window and video modules,
// which answer inside processMessage, but for a file dialog, whose answer
// the video module sends when the user closes it. The audio module works on
// threads of its own (its device calls may take seconds), so its answers
// come later too. Until such a deferred answer is out, the other modules'
// output for the same client uuid is held back, so that every client
// receives its answers in the order of its requests. Every deferred answer
// comes exactly once (the null text when there is nothing to send).
class MessageDispatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kAudioThreads = 4;
    static constexpr int kMaxAudioPending = 32;

    explicit MessageDispatch(QObject* parent = nullptr);
    ~MessageDispatch() override;

    // Routes one parsed request by the part of "cmd" before the first full
    // stop ("window", "video", "audio", case-sensitive). Requests that name
    // no known module are dropped without an answer.
    void processRequest(const QJsonObject& request);
    // The same with its "cmd" already read by the caller.
    void processRequest(const QJsonObject& request, const QString& strCmd);
    // The same for a request text; texts that are not JSON are dropped.
    void processMessage(const QString& message);

    // The compact reply to "system.webconnect": "errorCode" 0, "errorModule"
    // 0, the connection id as "uuid" and "version" "1.0", keys sorted.
    static QString buildConnectReply(QString uuid);

    // The client with this uuid is gone.
    void closeConnection(QString uuid);

    // Whether the request last given to processRequest was answered, or
    // will be (by the audio module). False for a request that no module
    // answers (not JSON, unknown module or command).
    bool lastRequestAnswered() const { return m_bLastAnswered; }

signals:
    // One response, and the "uuid" of the request it answers.
    void messageResponse(QString strUUID, QString message);
    // One event, and the "uuid" of the client it goes to.
    void sigEvent(QString strUUID, QString message);
    // A deferred answer turned out to have nothing to send (an audio
    // command of a client already gone): emitted in its place in the
    // client's order, so that the transport gives up the request it was for.
    void sigAnswerDropped(QString strUUID);
    // The last answer on its way for this client was delivered.
    void sigAnswersSettled(QString strUUID);

private slots:
    void onModuleOutput(QString strUUID, QString message);
    void onModuleEvent(QString strUUID, QString message);
    // A deferred answer is owed to strUUID / one came.
    void onAnswerDeferred(QString strUUID);
    void onDeferredResponse(QString strUUID, QString message);
    // An audio command of strUUID ended (a null text: dropped).
    void onAudioResponse(QString strUUID, QString message);

private:
    struct Output {
        QString strText;  // null: an answer that turned out to have nothing to send
        bool bEvent;
    };
    // Output of one client held back behind its deferred answers: nullopt is
    // the place of a deferred answer still to come.
    QHash<QString, QList<std::optional<Output>>> m_mapHeld;
    // Sends one output on, or holds it behind the client's deferred answers.
    void pass(const QString& strUUID, const Output& output);
    void emitOutput(const QString& strUUID, const Output& output);
    // While processMessage runs a main-thread module: the flag that its
    // response (or its promise of one) sets.
    bool* m_pbAnswering = nullptr;
    bool m_bLastAnswered = false;
    // Admits one audio request (main thread): runs it on the pool, or
    // answers busy at once.
    void admitAudio(const QString& strUuid, const QJsonObject& request);

    // Audio commands admitted and not yet answered, by client uuid: set when
    // the client goes, so that a command not yet started is dropped.
    QHash<QString, std::shared_ptr<std::atomic<bool>>> m_mapAudioGone;

    WindowMessageDispatch* m_pWindowDispatch;
    VideoMessageDispatch* m_pVideoDispatch;
    AudioMessageDispatch* m_pAudioDispatch;
    QThreadPool* m_pAudioPool;
};

#endif  // PROTOCOL_MESSAGEDISPATCH_H
