// The pre-record buffer of one live stream: the newest coded pictures (as
// parsed, before decoding), from the newest key frame at or before "now
// minus the pre-record time" on, so that a recording can start with
// pictures from before it was asked for (Recorder pushes them first).
//
// Kept as whole groups of pictures (a key frame and the pictures that
// depend on it). Bounded by time and by bytes: a group goes from the front
// once the next one starts at or before the pre-record time, or once the
// buffer holds more than its byte cap (kPreRecordBytes, Admission.h; each
// picture counts its size plus kPictureOverhead). A single group larger
// than the cap is let go as a whole and nothing is kept until the next key
// frame, so the buffer never holds more than the cap and always holds one
// unbroken run that ends with the newest picture. A change of caps or
// segment, a flush, a new stream or a picture without a presentation time
// empties it (the pictures before would not fit what follows).
//
// The pictures are references on the stream's own buffers: nothing is
// copied. Any thread (one mutex); the pad probe of watch() runs on the
// streaming thread.
#ifndef VIDEO_CONTROL_PRERECORDBUFFER_H
#define VIDEO_CONTROL_PRERECORDBUFFER_H

#include "Admission.h"
#include "GstPtr.h"

#include <QtGlobal>

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace vc {

class PreRecordBuffer {
public:
    // What one picture costs beyond its bytes (its GstBuffer, GstMemory and
    // the entry here), counted against the cap.
    static constexpr qint64 kPictureOverhead = 512;

    // iSeconds of pictures (0: keeps nothing), at most iMaxBytes.
    explicit PreRecordBuffer(int iSeconds, qint64 iMaxBytes = kPreRecordBytes);

    // Keeps what flows into pPad from now on: its buffers, and its events
    // for what empties the buffer. The probe holds pBuffer.
    static void watch(GstPad* pPad, const std::shared_ptr<PreRecordBuffer>& pBuffer);

    // One more coded picture, the newest.
    void add(GstBuffer* pBuffer);
    // The caps of the pictures from now on; other caps than before empty
    // the buffer.
    void setCaps(GstCaps* pCaps);
    void clear();

    // The pictures kept before pNext, oldest first, starting with a key
    // frame; empty unless pNext is the newest picture kept (the run would
    // not join up with it).
    std::vector<GstPtr<GstBuffer>> before(GstBuffer* pNext) const;
    // What the kept pictures count against the cap.
    qint64 bytes() const;

private:
    struct Group {
        GstClockTime keyTime = GST_CLOCK_TIME_NONE;
        std::vector<GstPtr<GstBuffer>> pictures;
    };
    void dropFront();

    const GstClockTime m_duration;
    const qint64 m_iMaxBytes;
    mutable std::mutex m_mutex;
    std::deque<Group> m_groups;
    qint64 m_iBytes = 0;
    GstPtr<GstCaps> m_pCaps;  // of the pictures kept
};

}  // namespace vc

#endif  // VIDEO_CONTROL_PRERECORDBUFFER_H
