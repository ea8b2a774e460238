// The GStreamer playback of one play window.
//
// Pipeline: source (rtspsrc with latency 0, souphttpsrc or filesrc) ->
// parsebin -> per stream: video: tee -> queue -> decodebin -> videoscale ->
// videoconvert -> BGRx appsink; audio: queue -> decodebin -> audioconvert ->
// audioresample -> volume -> autoaudiosink (a fake sink without a sound
// device). The tee carries the coded video, so recording adds a branch
// without decoding again (Recorder).
//
// Live sources play as fast as they arrive (appsink sync off); files and
// HTTP play by the clock and can pause, seek, change rate and step. A live
// stream that drops (error, end or no picture for a while) reconnects with
// back-off when the policy allows it.
//
// The playback state lives in a PlayerStateMachine, fed on the GUI thread
// with the bus messages, the pictures and the player's requests.
//
// Threads: the object lives on the GUI thread and so do all its calls and
// signals. GStreamer's streaming threads build the decoding branches and
// hand over (under the bridge's mutex) the newest picture and the elements
// they made; pictures and bus messages reach the GUI thread as queued calls,
// the only way they reach the state machine. Tearing a pipeline down stops
// its threads before its bridge is let go.
#ifndef VIDEO_CONTROL_PLAYER_H
#define VIDEO_CONTROL_PLAYER_H

#include "Admission.h"
#include "GstPtr.h"
#include "PlayerStateMachine.h"
#include "VcError.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

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

// The video codecs the player names ("H.264", "H.265", "MJPEG", "MPEG",
// "VP8", "VP9", "AV1") that an installed decoder takes. GStreamer must be
// started.
QStringList decodableCodecs();
// Per codec name, the decoder that plays it here (the highest GStreamer
// rank, as decodebin chooses: a VA-API decoder where the machine has one
// and its rank puts it first): {"element", "hardware"}.
QJsonObject preferredDecoders();

class Player : public QObject, private PlayerHost {
    Q_OBJECT
public:
    using State = PlayState;

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
    State state() const { return m_machine.shownState(); }
    // Something was asked to play and was not stopped since.
    bool isActive() const { return state() != State::Stopped; }
    // Connecting, playing, paused or reconnecting (or made to count as
    // playing by the test hooks, until its next play or stop).
    bool isPlaying() const;
    // Applies to the next loss of a live stream.
    void setReconnectPolicy(const ReconnectPolicy& policy) { m_machine.setPolicy(policy); }
    // A live stream without a picture this long counts as lost.
    int lostAfterMs() const { return m_machine.policy().iLostAfterMs; }
    bool isLive() const { return m_source.bLive; }
    // Reconnection attempts since the last picture, and the time until the
    // next one starts (-1 when none waits).
    int attempt() const { return m_machine.attempt(); }
    int retryInMs() const { return m_machine.retryInMs(); }
    // The error that made the player fail ("errorCode", "errorMessage").
    QJsonObject failure() const { return m_machine.failure(); }

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
    // PlayerHost: what the state machine does to the pipeline.
    QJsonObject startPipeline(bool bPreroll) override;
    bool setPipelineState(PipelineState eState) override;
    void recalculateLatency() override;
    // Finishes a running recording and raises "recordStopped".
    void endRecording() override;
    void teardown() override;
    void raise(const QString& strEvent, const QJsonObject& extra) override;

    void onFrame();
    void onMessage(GstMessage* pMessage);
    void onConnected();
    void applyPendingRange();
    bool isSeekable() const;
    // Plays at dRate from iFromNs (-1: the end, backwards) within the range.
    Error seek(double dRate, qint64 iFromNs);
    QJsonObject finishRecording();

    PlaySource m_source;
    SteadyPlayerClock m_clock;
    PlayerStateMachine m_machine;
    double m_dRate = 1.0;
    bool m_bSoundOn = false;
    int m_iVolume = 100;
    QSize m_outputSize;
    qint64 m_iPositionMs = -1;
    qint64 m_iPendingStartMs = -1;
    qint64 m_iPendingEndMs = -1;
    // The range that plays (-1: the file's start or end).
    qint64 m_iRangeStartMs = -1;
    qint64 m_iRangeEndMs = -1;
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
