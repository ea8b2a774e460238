#ifndef PROTOCOL_MESSAGEDISPATCH_H
#define PROTOCOL_MESSAGEDISPATCH_H

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class AudioMessageDispatch;
class QThread;
class VideoMessageDispatch;
class WindowMessageDispatch;

// The root of the command side: hands every request text to the module named
// in its "cmd" and funnels the modules' responses and events into one signal.
//
// Thread rules: lives on the main thread with the window and video modules,
// which answer inside processMessage. The audio module works on a thread of
// its own (its device calls may take seconds), so its answers come later;
// meanwhile the other modules' output for the same client uuid is held back,
// so that every client receives its answers in the order of its requests.
class MessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit MessageDispatch(QObject* parent = nullptr);
    ~MessageDispatch() override;

    // Routes one request text by the part of "cmd" before the first full
    // stop ("window", "video", "audio", case-sensitive). Texts that are not
    // JSON or name no known module are dropped without an answer.
    void processMessage(QString message);

    // The compact reply to "system.webconnect": "errorCode" 0, "errorModule"
    // 0, the connection id as "uuid" and "version" "1.0", keys sorted.
    static QString buildConnectReply(QString uuid);

    // The client with this uuid is gone.
    void closeConnection(QString uuid);

    // Whether the request last given to processMessage was answered, or
    // will be (by the audio module). False for a request that no module
    // answers (not JSON, unknown module or command).
    bool lastRequestAnswered() const { return m_bLastAnswered; }

signals:
    // One response or event, and the "uuid" it belongs to.
    void messageResponse(QString strUUID, QString message);
    // The last answer on its way for this client was delivered.
    void sigAnswersSettled(QString strUUID);

private slots:
    void onModuleOutput(QString strUUID, QString message);
    void onAudioResponse(QString strUUID, QString message);

private:
    // Output of one client held back behind its audio answers: a null text
    // is the place of an audio answer still to come.
    QHash<QString, QList<QString>> m_mapHeld;
    // While processMessage runs a main-thread module: the flag that its
    // response sets. A module may run a nested event loop (a file dialog),
    // in which further requests come and go; each has a flag of its own.
    bool* m_pbAnswering = nullptr;
    bool m_bLastAnswered = false;

    WindowMessageDispatch* m_pWindowDispatch;
    VideoMessageDispatch* m_pVideoDispatch;
    AudioMessageDispatch* m_pAudioDispatch;
    QThread* m_pAudioThread;
};

#endif  // PROTOCOL_MESSAGEDISPATCH_H
