#ifndef AUDIO_AUDIOMESSAGEDISPATCH_H
#define AUDIO_AUDIOMESSAGEDISPATCH_H

#include "AudioError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <cstdint>

// The audio module: two-way talks with devices through the network library.
// Serves "startTalk", "stopTalk", "getTalkStatus" and "changeModel"; every
// one of them gets exactly one compact JSON response with "errorModule" 9.
// Only one talk runs at a time. A command runs on the thread that calls
// processMessage; in the service MessageDispatch runs them on a small pool
// of threads, at most one per client uuid at a time, so that a slow device
// holds up only its own page. processMessage may be called on several
// threads at once: "startTalk", "stopTalk" and "changeModel" share the talk
// and the library's keys and take m_mutexSession, without waiting: while a
// command of another page holds it they answer kBusy at once;
// "getTalkStatus" reads only atomics and never waits. The library's talk
// callback runs on a thread of the library and only stores the talk status.
class AudioMessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit AudioMessageDispatch(QObject* parent = nullptr);
    ~AudioMessageDispatch() override;

    // Entry for one parsed "audio." request; the answer leaves through
    // messageResponse. Commands other than the four get no answer.
    void processRequest(const QJsonObject& request);
    // The same for a request text; texts that are not JSON get no answer.
    void processMessage(const QString& message);

    // True for a request that gets an answer: one of the four commands.
    static bool answers(const QJsonObject& request);

    // "errorCode" kBusy: another audio command of this page is still
    // running, the module's queue is full, or another page's command holds
    // the talk. Try again later.
    static constexpr int kBusy = audio::code(audio::Error::Busy);
    // The compact "busy" response to a request.
    static QString busyResponse(const QJsonObject& request);

signals:
    void messageResponse(QString strUUID, QString message);

private:
    // The four commands, each taking the whole request.
    using CommandFn = QString (AudioMessageDispatch::*)(const QJsonObject&);
    // The command named by the request's "cmd", or null.
    static CommandFn findCommand(const QJsonObject& request);

    QString startREZivORUTalk(const QJsonObject& request);
    QString stopREZivORUTalk(const QJsonObject& request);
    QString getTalkStatus(const QJsonObject& request);
    QString changeDeviceTalkModel(const QJsonObject& request);

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

    // Held by the commands that use the talk or the library's keys; every
    // field below but the atomics is touched only under it.
    std::mutex m_mutexSession;
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
