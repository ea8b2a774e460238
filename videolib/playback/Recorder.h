// Records the coded video of a playing stream without decoding it: a branch
// hung on the player's tee (queue -> parser -> mp4mux or matroskamux ->
// filesink, in one bin). The branch starts with the pictures of the
// stream's pre-record buffer when it has some (pushed ahead of the first
// live picture, on the streaming thread, so that they join up), else it
// drops pictures until the first key frame; it shifts time so that the file
// starts at 0. Finishing pushes the end of stream through the branch and
// waits until the file is complete.
//
// Made, finished and destroyed on the GUI thread; its pad probes run on the
// streaming thread and share only RecorderShared with it.
#ifndef VIDEO_CONTROL_RECORDER_H
#define VIDEO_CONTROL_RECORDER_H

#include "GstPtr.h"

#include <QJsonObject>
#include <QString>

#include <memory>

namespace vc {

class PreRecordBuffer;
struct RecorderShared;

class Recorder {
public:
    // Hangs a branch on pTee that writes strPath, starting with what
    // pPreRecord (fed by the pictures that enter pTee; may be null) holds
    // then; null with *pError filled when the stream cannot be recorded or
    // the file cannot be written.
    static std::unique_ptr<Recorder> start(GstElement* pPipeline, GstElement* pTee, const QString& strPath,
                                           bool bMatroska, std::shared_ptr<const PreRecordBuffer> pPreRecord,
                                           QJsonObject* pError);
    // Takes the branch away (without finishing the file when finish was not
    // called).
    ~Recorder();

    // Ends the file and takes the branch away: {"path", "duration"} (ms of
    // recorded video), with the error keys too when the file could not be
    // completed.
    QJsonObject finish();

    // Whether pObject is part of the branch (its errors are the recording's).
    bool owns(GstObject* pObject) const;
    // From any thread: the branch failed, drop everything from now on.
    void markFailed();

    QString path() const { return m_strPath; }
    qint64 durationMs() const;

private:
    Recorder() = default;
    void remove();

    GstPtr<GstElement> m_pPipeline;
    GstPtr<GstElement> m_pTee;
    GstPtr<GstPad> m_pTeePad;
    GstPtr<GstElement> m_pBin;  // also held by the pipeline while recording
    QString m_strPath;
    std::shared_ptr<RecorderShared> m_pShared;
};

}  // namespace vc

#endif  // VIDEO_CONTROL_RECORDER_H
