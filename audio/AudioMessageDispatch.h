#ifndef AUDIO_AUDIOMESSAGEDISPATCH_H
#define AUDIO_AUDIOMESSAGEDISPATCH_H

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

// The audio module: two-way talks with devices through the network library.
// Serves "startTalk", "stopTalk", "getTalkStatus" and "changeModel"; every
// one of them gets exactly one compact JSON response with "errorModule" 9.
// Only one talk runs at a time. All commands run on the thread that calls
// processMessage (in the service a thread of the module's own, so that a
// slow device holds up nobody else); the library's talk callback runs on a
// thread of the library and only stores the talk status.
class AudioMessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit AudioMessageDispatch(QObject* parent = nullptr);
    ~AudioMessageDispatch() override;

    // Entry for one "audio." request text; the answer leaves through
    // messageResponse. Texts that are not JSON, and commands other than the
    // four, get no answer.
    void processMessage(QString message);

    // True for a request that gets an answer: one of the four commands.
    static bool answers(const QJsonObject& request);

signals:
    void messageResponse(QString strUUID, QString message);

public slots:
    void onMessageProcess(QString strResponse);

private:
    // The four commands, each taking the whole request text.
    using CommandFn = QString (AudioMessageDispatch::*)(const QString&);
    // The command named by the request's "cmd", or null.
    static CommandFn findCommand(const QJsonObject& request);

    QString startREZivORUTalk(const QString& strMessage);
    QString stopREZivORUTalk(const QString& strMessage);
    QString getTalkStatus(const QString& strMessage);
    QString changeDeviceTalkModel(const QString& strMessage);

    // Finalises the network library and forgets the keys and the address.
    void releaseLibrary();
    bool initREZivORU(const QByteArray& strAK, const QByteArray& strSK);
    bool setZBCAddress(const QByteArray& strAddress);
    // Sends the mode request; returns 0 or a response error code. iTimeLeft
    // receives the device's time left on success.
    int changeTalk(const QByteArray& strDeviceSerial, const QByteArray& strMode, const QByteArray& strAlarmTime,
                   std::int32_t& iTimeLeft);
    std::int32_t startVoiceTalk(const QByteArray& strDeviceSerial);

    static int mapSdkError(std::int32_t iError);
    static int mapDeviceError(std::int32_t iError);

    static void voiceTalkMessageCallBack(std::int32_t iIgnored, std::int32_t iMsgType, void* pUser);

    // Read by the library's callback thread, hence atomic.
    std::atomic<std::int32_t> m_hTalk{-1};
    bool m_bInitSDK = false;
    bool m_bChangeStart = false;
    QString m_strDeviceSerial;
    QString m_strAlarmTime;
    QString m_strTalkId;
    // Written by the library's callback thread, hence atomic.
    std::atomic<std::int32_t> m_iTalkStatus{-1};
    QByteArray m_strAK;
    QByteArray m_strSK;
    QByteArray m_strAddress;
};

#endif  // AUDIO_AUDIOMESSAGEDISPATCH_H
