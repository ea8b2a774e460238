#ifndef PROTOCOL_MESSAGEDISPATCH_H
#define PROTOCOL_MESSAGEDISPATCH_H

#include <QObject>
#include <QString>

class AudioMessageDispatch;
class VideoMessageDispatch;
class WindowMessageDispatch;

// The root of the command side: hands every request text to the module named
// in its "cmd" and funnels the modules' responses and events into one signal.
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

signals:
    // One response or event, and the "uuid" it belongs to.
    void messageResponse(QString strUUID, QString message);

private:
    WindowMessageDispatch* m_pWindowDispatch;
    VideoMessageDispatch* m_pVideoDispatch;
    AudioMessageDispatch* m_pAudioDispatch;
};

#endif  // PROTOCOL_MESSAGEDISPATCH_H
