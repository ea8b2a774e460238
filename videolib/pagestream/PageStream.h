// One in-page stream: the coded video of one play window handed to the page
// without decoding it. `rtspsrc ! rtph264depay ! h264parse ! tee ! mp4mux`
// (one fragment per picture) `! appsink`; each piece of the fragmented MP4
// goes to the page's media WebSocket as one binary message, which the page
// appends to a Media Source Extensions buffer of a <video> element. A
// recording hangs the library's Recorder on the tee (no decoding either); a
// snapshot decodes the last key frame, the only picture the service ever
// decodes.
//
// Thread rules: made, driven and deleted on the GUI thread. The appsink and
// bus callbacks run on GStreamer's streaming threads and only post to the
// GUI thread through the shared Link, which the stream cuts before it stops
// the pipeline.
//
// A live stream that stops (the camera goes, no picture for a while) comes
// back by itself as a native play window's does: "lost", "reconnecting"
// (with "attempt" and "delay", doubling), then "firstFrame" with
// "reconnected" true; the page's socket stays open and gets a new "ftyp" and
// "moov" before the first picture of the new connection.
//
// Limits: the pipeline runs only while the page's socket is attached.
// Output the page has not taken yet (queued for the GUI thread or unsent on
// the socket) above kMaxUnsentBytes ends the stream with an error instead of
// growing. A codec the browser cannot decode (anything but H.264) ends it
// with an error that names the codec.
#ifndef PAGESTREAM_PAGESTREAM_H
#define PAGESTREAM_PAGESTREAM_H

#include "GstPtr.h"
#include "VcError.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <memory>

namespace vc {
class Recorder;
}
class QTcpSocket;
class QWebSocket;

namespace pagestream {

class PageStream : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxUnsentBytes = 8 * 1024 * 1024;

    struct Source {
        QString strUrl;  // without credentials
        QString strUser;
        QString strPassword;
    };

    PageStream(const Source& source, QObject* pParent = nullptr);
    // Stops the pipeline and closes the socket.
    ~PageStream() override;

    // Starts the pipeline; its output goes to pSocket (owned by its
    // connection, guarded here). Once only.
    void attach(QWebSocket* pSocket);
    bool isAttached() const { return m_bAttached; }

    // "connecting", "playing", "reconnecting", "failed" or "stopped" (socket
    // gone).
    QString stateName() const;
    QString url() const { return m_source.strUrl; }
    // The coded stream's codec once known ("H.264"), else empty.
    QString codec() const { return m_strCodec; }
    bool isPlaying() const { return m_eState == State::Playing; }

    // Records the coded stream into strPath (an empty file made for it):
    // {"path"} or the error keys.
    QJsonObject startRecording(const QString& strPath, bool bMatroska);
    // Ends the recording: {"path", "duration"} (or the error keys), also
    // sent as the "recordStopped" event.
    QJsonObject stopRecording();
    bool isRecording() const { return m_pRecorder != nullptr; }
    QString recordingPath() const;
    // The last key frame, decoded (a picture at most one key frame interval
    // old); null with *pError when there is none or it cannot be decoded.
    QImage decodeKeyFrame(QJsonObject* pError) const;

    struct Link;

signals:
    // "connected", "firstFrame", "error" (with the error keys): the play
    // window's stream events, as the native play windows send them.
    void sigEvent(QString strEvent, QJsonObject extra);
    // The stream is over (failed, or the page closed its socket); its owner
    // deletes it.
    void sigFinished();

private slots:
    // Posted by the streaming threads.
    void onCodecKnown(const QString& strCodec);
    void onFragment(const QByteArray& baData, bool bFirstFragment);
    void onFailed(int iCode, const QString& strMessage);

private:
    enum class State { Connecting, Playing, Reconnecting, Failed, Stopped };

    void startPipeline();
    void fail(vc::Error eError, const QString& strMessage);
    // The connection is gone: reported once, tried again later.
    void lose(const QString& strWhy);
    void onWatchdog();
    void teardown();

    Source m_source;
    State m_eState = State::Connecting;
    QString m_strCodec;
    bool m_bAttached = false;
    QPointer<QWebSocket> m_pSocket;
    QPointer<QTcpSocket> m_pTcpSocket;
    vc::GstPtr<GstElement> m_pPipeline;
    vc::GstPtr<GstElement> m_pTee;  // the pipeline's tee, where a recording hangs
    std::unique_ptr<vc::Recorder> m_pRecorder;
    std::shared_ptr<Link> m_pLink;
    bool m_bHadPicture = false;
    int m_iAttempt = 0;  // reconnection attempts since the last picture
    QTimer m_retry;
    QTimer m_watchdog;
    QElapsedTimer m_lastPicture;
    QElapsedTimer m_connecting;
};

}  // namespace pagestream

#endif  // PAGESTREAM_PAGESTREAM_H
