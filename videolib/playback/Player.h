// The GStreamer playback of one play window.
//
// Pipeline: source (rtspsrc with latency 0, souphttpsrc or filesrc) ->
// parsebin -> per stream: video: tee -> queue -> decodebin -> videoconvert ->
// videoscale -> BGRx appsink; audio: queue -> decodebin -> audioconvert ->
// audioresample -> volume -> autoaudiosink (a fake sink without a sound
// device). The tee carries the coded video, so recording adds a branch
// without decoding again (Recorder).
//
// Live sources play as fast as they arrive (appsink sync off); files and
// HTTP play by the clock and can pause, seek, change rate and step. A live
// stream that drops (error, end or no picture for a while) reconnects with
// back-off when the policy allows it.
//
// Threads: the object lives on the GUI thread and so do all its calls and
// signals. GStreamer's streaming threads only hand over (under the bridge's
// mutex) the newest picture and the bus messages, which reach the GUI thread
// as queued calls; tearing a pipeline down stops its threads before its
// bridge is let go.
#ifndef VIDEO_CONTROL_PLAYER_H
#define VIDEO_CONTROL_PLAYER_H

#include "Admission.h"
#include "GstPtr.h"
#include "VcError.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace vc {

class Recorder;
struct Bridge;

// What to play, read from a request ("url", "username", "password",
// "live").
struct PlaySource {
    enum class Kind { Rtsp, Http, File };
    Kind eKind = Kind::File;
    // What the source element opens: the url without credentials, or the
    // local path of a file.
    QString strLocation;
    QString strUser;
    QString strPassword;
    bool bLive = false;

    static QJsonObject parse(const QJsonObject& request, PlaySource* pSource);
};

struct ReconnectPolicy {
    bool bEnabled = true;
    int iFirstDelayMs = 1000;  // doubles after each failed attempt ...
    int iMaxDelayMs = 30000;   // ... up to this
    int iLostAfterMs = 3000;   // a live stream without a picture this long is lost
    int iMaxAttempts = 0;      // 0: no limit

    // The wait before attempt iAttempt + 1 (iAttempt made so far).
    int delayMs(int iAttempt) const {
        return static_cast<int>(qMin<qint64>(static_cast<qint64>(iFirstDelayMs) << qMin(iAttempt, 20), iMaxDelayMs));
    }
};

// The video codecs the player names ("H.264", "H.265", "MJPEG", "MPEG",
// "VP8", "VP9", "AV1") that an installed decoder takes. GStreamer must be
// started.
QStringList decodableCodecs();
// Per codec name, the decoder that plays it here (the highest GStreamer
// rank, as decodebin chooses: a VA-API decoder where the machine has one
// and its rank puts it first): {"element", "hardware"}.
QJsonObject preferredDecoders();

class Player : public QObject {
    Q_OBJECT
public:
    enum class State { Stopped, Connecting, Playing, Paused, Reconnecting, Ended, Failed };

    // The most players of the process that play at once (all widgets).
    static constexpr int kMaxPlaying = kMaxPlayWindows;

    explicit Player(QObject* pParent = nullptr);
    ~Player() override;

    // Whether this player may start a stream now: fewer than kMaxPlaying
    // others play, and the process has the descriptors for one more
    // (Admission.h). False with *pError (TooManyStreams, OutOfDescriptors).
    bool admit(QJsonObject* pError) const;
    void play(const PlaySource& source, const ReconnectPolicy& policy);
    // Stops playing (a recording is finished first, "recordStopped"), then
    // raises "stopped" with strReason ("request", "stopAll", "layout",
    // "closed") unless the tile stopped already since the last play (at its
    // end or on an error, raised then with "ended" or "error").
    void stop(const QString& strReason = QStringLiteral("request"));
    State state() const { return m_eState; }
    // Something was asked to play and was not stopped since.
    bool isActive() const { return m_eState != State::Stopped; }
    // Connecting, playing, paused or reconnecting.
    bool isPlaying() const {
        return m_bTestPlaying || m_eState == State::Connecting || m_eState == State::Playing ||
               m_eState == State::Paused || m_eState == State::Reconnecting;
    }
    // Test hook: counts as playing until the next play or stop.
    void setTestPlaying(bool bPlaying) { m_bTestPlaying = bPlaying; }
    // Applies to the next loss of a live stream.
    void setReconnectPolicy(const ReconnectPolicy& policy) { m_policy = policy; }
    // A live stream without a picture this long counts as lost.
    int lostAfterMs() const { return m_policy.iLostAfterMs; }
    bool isLive() const { return m_source.bLive; }
    // Reconnection attempts since the last picture, and the time until the
    // next one starts (-1 when none waits).
    int attempt() const { return m_iAttempt; }
    int retryInMs() const { return m_retry.isActive() ? m_retry.remainingTime() : -1; }
    // The error that made the player fail ("errorCode", "errorMessage").
    QJsonObject failure() const { return m_failure; }

    Error pause();
    Error resume();
    // Negative rates play backwards; only seekable sources.
    Error setRate(double dRate);
    double rate() const { return m_dRate; }
    // One picture forward; pauses first. Only seekable sources.
    Error stepFrame();
    // Plays from iStartMs (and up to iEndMs when >= 0); applied once the
    // stream is ready when it is not yet.
    Error setRange(qint64 iStartMs, qint64 iEndMs);

    // "state", "rate", "url", "live", "seekable", "width", "height", "fps",
    // "codec", "position", "duration".
    QJsonObject status() const;
    // The stream time of the newest picture, -1 before the first one.
    qint64 positionMs() const { return m_iPositionMs; }

    // Records the coded video into strPath (mp4, or matroska when
    // bMatroska); the answer holds "path".
    QJsonObject startRecording(const QString& strPath, bool bMatroska);
    // Finishes the file; it is complete when this returns. The answer holds
    // "path" and "duration" (ms).
    QJsonObject stopRecording();
    bool isRecording() const { return static_cast<bool>(m_pRecorder); }
    QString recordingPath() const;
    qint64 recordedMs() const;

    // Sound on or off and its volume (0-100), kept while nothing plays.
    void setSound(bool bOn, int iVolume);
    bool soundOn() const { return m_bSoundOn; }
    int volume() const { return m_iVolume; }
    // Scales pictures to this size in the pipeline; an empty size keeps the
    // stream's own.
    void setOutputSize(const QSize& size);

    // The newest picture, taken once; false when none came since the last.
    bool takeFrame(QImage* pImage, qint64* pPositionMs);

signals:
    void sigFrameReady();
    // "connected", "firstFrame", "lost", "reconnecting", "ended", "error",
    // "recordStopped", "stopped"; extra keys as the library documents.
    void sigStreamEvent(const QString& strEvent, const QJsonObject& extra);

private:
    friend struct Bridge;
    void build();
    void teardown();
    void onFrame();
    void onMessage(GstMessage* pMessage);
    void onConnected();
    void onWatchdog();
    void lose(const QString& strWhy);
    void fail(Error eError, const QString& strDetail);
    // "stopped" with strReason, once per play.
    void raiseStopped(const QString& strReason);
    // Finishes a running recording and raises "recordStopped".
    void endRecording();
    void applyPendingRange();
    bool isSeekable() const;
    // Plays at dRate from iFromNs (-1: the end, backwards) within the range.
    Error seek(double dRate, qint64 iFromNs);
    QJsonObject finishRecording();

    PlaySource m_source;
    ReconnectPolicy m_policy;
    State m_eState = State::Stopped;
    double m_dRate = 1.0;
    bool m_bTestPlaying = false;
    bool m_bStopRaised = true;  // "stopped" went out since the last play
    QJsonObject m_failure;
    bool m_bSoundOn = false;
    int m_iVolume = 100;
    QSize m_outputSize;
    qint64 m_iPositionMs = -1;
    qint64 m_iPendingStartMs = -1;
    qint64 m_iPendingEndMs = -1;
    // The range that plays (-1: the file's start or end).
    qint64 m_iRangeStartMs = -1;
    qint64 m_iRangeEndMs = -1;
    bool m_bPrerolling = false;  // a file or HTTP source that plays once prerolled
    bool m_bHadPicture = false;  // this connection showed a picture
    int m_iAttempt = 0;          // reconnection attempts since the last picture
    QElapsedTimer m_lastPicture;
    QElapsedTimer m_connecting;
    QTimer m_watchdog;
    QTimer m_retry;
    // Frames counted for the measured rate.
    int m_iFramesCounted = 0;
    QElapsedTimer m_fpsWindow;
    double m_dMeasuredFps = 0;

    GstPtr<GstElement> m_pPipeline;
    std::shared_ptr<Bridge> m_pBridge;
    std::unique_ptr<Recorder> m_pRecorder;
};

}  // namespace vc

#endif  // VIDEO_CONTROL_PLAYER_H
