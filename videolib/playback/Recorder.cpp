#include "Recorder.h"

#include "GstPtr.h"
#include "PreRecordBuffer.h"
#include "VcError.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace vc {

// Recording needs at least this much free space when it starts.
constexpr qint64 kMinFreeBytes = 64ll * 1024 * 1024;
// How long finishing waits for the end of stream to reach the file.
constexpr auto kFinishTimeout = std::chrono::seconds(5);

struct RecorderShared {
    std::mutex mutex;
    std::condition_variable cvEnded;
    bool bStarted = false;  // the first key frame went in
    bool bEnded = false;    // the end of stream reached the file sink
    GstClockTime firstNs = GST_CLOCK_TIME_NONE;
    GstClockTime endNs = GST_CLOCK_TIME_NONE;
    std::atomic<bool> bFailed{false};
    GstPtr<GstPad> pShiftPad;  // the queue's output, shifted to start at 0
    std::shared_ptr<const PreRecordBuffer> pPreRecord;
};

namespace {

const char* parserFor(const gchar* szMedia) {
    if (g_str_equal(szMedia, "video/x-h264")) return "h264parse";
    if (g_str_equal(szMedia, "video/x-h265")) return "h265parse";
    if (g_str_equal(szMedia, "image/jpeg")) return "jpegparse";
    return nullptr;
}

GstClockTime runningTime(GstPad* pPad, GstClockTime timeNs) {
    const GstPtr<GstEvent> pEvent(gst_pad_get_sticky_event(pPad, GST_EVENT_SEGMENT, 0));
    if (!pEvent || !GST_CLOCK_TIME_IS_VALID(timeNs)) return timeNs;
    const GstSegment* pSegment = nullptr;
    gst_event_parse_segment(pEvent.get(), &pSegment);
    return gst_segment_to_running_time(pSegment, GST_FORMAT_TIME, timeNs);
}

// On the branch's input: first the pictures kept from before the request,
// else nothing until the first key frame; the first picture sets the time
// shift. Then track the recorded span.
GstPadProbeReturn gateBuffer(GstPad* pPad, GstPadProbeInfo* pInfo, gpointer pData) {
    RecorderShared* pShared = static_cast<std::shared_ptr<RecorderShared>*>(pData)->get();
    if (pShared->bFailed) return GST_PAD_PROBE_DROP;
    GstBuffer* pBuffer = GST_PAD_PROBE_INFO_BUFFER(pInfo);
    const GstClockTime pts = runningTime(pPad, GST_BUFFER_PTS(pBuffer));
    std::vector<GstPtr<GstBuffer>> before;
    {
        std::lock_guard<std::mutex> lock(pShared->mutex);
        if (!pShared->bStarted) {
            if (pShared->pPreRecord) before = pShared->pPreRecord->before(pBuffer);
            if (!before.empty() && !GST_BUFFER_PTS_IS_VALID(before.front().get())) before.clear();
            GstBuffer* pFirst = before.empty() ? pBuffer : before.front().get();
            const GstClockTime firstPts = runningTime(pPad, GST_BUFFER_PTS(pFirst));
            if (GST_BUFFER_FLAG_IS_SET(pFirst, GST_BUFFER_FLAG_DELTA_UNIT) || !GST_CLOCK_TIME_IS_VALID(firstPts))
                return GST_PAD_PROBE_DROP;
            pShared->bStarted = true;
            pShared->firstNs = firstPts;
            const GstClockTime dts = runningTime(pPad, GST_BUFFER_DTS(pFirst));
            const GstClockTime shift = GST_CLOCK_TIME_IS_VALID(dts) ? MIN(dts, firstPts) : firstPts;
            gst_pad_set_offset(pShared->pShiftPad.get(), -static_cast<gint64>(shift));
        }
        if (GST_CLOCK_TIME_IS_VALID(pts)) {
            const GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(pBuffer) ? GST_BUFFER_DURATION(pBuffer) : 0;
            if (!GST_CLOCK_TIME_IS_VALID(pShared->endNs) || pts + duration > pShared->endNs)
                pShared->endNs = pts + duration;
        }
    }
    // Into the queue ahead of this picture (the queue may block while it is
    // full, so not under the mutex).
    if (!before.empty()) {
        const GstPtr<GstPad> pQueueSink(gst_ghost_pad_get_target(GST_GHOST_PAD(pPad)));
        for (GstPtr<GstBuffer>& pPicture : before) {
            if (!pQueueSink || gst_pad_chain(pQueueSink.get(), pPicture.release()) != GST_FLOW_OK) break;
        }
    }
    // A picture without a time cannot be placed in the file (the mp4 muxer
    // fails the whole recording on it); a live source under load sends some.
    return GST_CLOCK_TIME_IS_VALID(pts) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

GstPadProbeReturn watchEnd(GstPad*, GstPadProbeInfo* pInfo, gpointer pData) {
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(pInfo)) == GST_EVENT_EOS) {
        RecorderShared* pShared = static_cast<std::shared_ptr<RecorderShared>*>(pData)->get();
        std::lock_guard<std::mutex> lock(pShared->mutex);
        pShared->bEnded = true;
        pShared->cvEnded.notify_all();
    }
    return GST_PAD_PROBE_OK;
}

// Once the tee's pad is between two pushes: cut the branch off and end it.
GstPadProbeReturn cutAndEnd(GstPad* pTeePad, GstPadProbeInfo*, gpointer pData) {
    const GstPtr<GstPad> pSink(gst_element_get_static_pad(static_cast<GstElement*>(pData), "sink"));
    gst_pad_unlink(pTeePad, pSink.get());
    gst_pad_send_event(pSink.get(), gst_event_new_eos());
    return GST_PAD_PROBE_REMOVE;
}

// Each probe holds the shared state until GStreamer lets the probe go.
gpointer holdShared(const std::shared_ptr<RecorderShared>& pShared) {
    return new std::shared_ptr<RecorderShared>(pShared);
}

void deleteShared(gpointer pData) {
    delete static_cast<std::shared_ptr<RecorderShared>*>(pData);
}

}  // namespace

std::unique_ptr<Recorder> Recorder::start(GstElement* pPipeline, GstElement* pTee, const QString& strPath,
                                          bool bMatroska, std::shared_ptr<const PreRecordBuffer> pPreRecord,
                                          QJsonObject* pError) {
    const GstPtr<GstCaps> pCaps(
        gst_pad_get_current_caps(GstPtr<GstPad>(gst_element_get_static_pad(pTee, "sink")).get()));
    const char* szParser = pCaps ? parserFor(gst_structure_get_name(gst_caps_get_structure(pCaps.get(), 0))) : nullptr;
    if (!szParser) {
        *pError = errorResult(Error::UnsupportedCodec, QStringLiteral("this video cannot be recorded"));
        return nullptr;
    }
    const QFileInfo file(strPath);
    if (!QDir().mkpath(file.absolutePath())) {
        *pError = errorResult(Error::FileError, QStringLiteral("cannot make the folder %1").arg(file.absolutePath()));
        return nullptr;
    }
    const QStorageInfo storage(file.absolutePath());
    if (storage.isValid() && storage.bytesAvailable() < kMinFreeBytes) {
        *pError = errorResult(Error::DiskFull);
        return nullptr;
    }

    std::unique_ptr<Recorder> pRecorder(new Recorder);
    pRecorder->m_pTee = gstRef(pTee);
    pRecorder->m_strPath = file.absoluteFilePath();
    pRecorder->m_pShared = std::make_shared<RecorderShared>();
    pRecorder->m_pShared->pPreRecord = std::move(pPreRecord);

    // Owned here until the pipeline takes it.
    GstPtr<GstElement> pBin = gstSink(gst_bin_new(nullptr));
    GstElement* pQueue = gst_element_factory_make("queue", nullptr);
    GstElement* pParser = gst_element_factory_make(szParser, nullptr);
    GstElement* pMux = gst_element_factory_make(bMatroska ? "matroskamux" : "mp4mux", nullptr);
    GstElement* pFile = gst_element_factory_make("filesink", nullptr);
    // The bin takes each new (floating) element, and releases them with
    // itself when one is missing.
    for (GstElement* pElement : {pQueue, pParser, pMux, pFile}) {
        if (pElement) gst_bin_add(GST_BIN(pBin.get()), pElement);
    }
    if (!pQueue || !pParser || !pMux || !pFile) {
        *pError = errorResult(Error::UnsupportedCodec, QStringLiteral("a recording element is missing"));
        return nullptr;
    }
    g_object_set(pFile, "location", pRecorder->m_strPath.toLocal8Bit().constData(), "async", FALSE, nullptr);
    gst_element_link_many(pQueue, pParser, pMux, pFile, nullptr);
    // The bin takes the new (floating) ghost pad.
    gst_element_add_pad(pBin.get(),
                        gst_ghost_pad_new("sink", GstPtr<GstPad>(gst_element_get_static_pad(pQueue, "sink")).get()));
    pRecorder->m_pShared->pShiftPad.reset(gst_element_get_static_pad(pQueue, "src"));

    const GstPtr<GstPad> pBinSink(gst_element_get_static_pad(pBin.get(), "sink"));
    gst_pad_add_probe(pBinSink.get(), GST_PAD_PROBE_TYPE_BUFFER, gateBuffer, holdShared(pRecorder->m_pShared),
                      deleteShared);
    gst_pad_add_probe(GstPtr<GstPad>(gst_element_get_static_pad(pFile, "sink")).get(),
                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, watchEnd, holdShared(pRecorder->m_pShared), deleteShared);

    pRecorder->m_pPipeline = gstRef(pPipeline);
    gst_bin_add(GST_BIN(pPipeline), pBin.get());
    gst_element_sync_state_with_parent(pBin.get());
    pRecorder->m_pBin = std::move(pBin);
    pRecorder->m_pTeePad.reset(gst_element_request_pad_simple(pTee, "src_%u"));
    gst_pad_link(pRecorder->m_pTeePad.get(), pBinSink.get());
    return pRecorder;
}

Recorder::~Recorder() {
    remove();
}

QJsonObject Recorder::finish() {
    if (!m_pBin) return errorResult(Error::NotRecording);
    gst_pad_add_probe(m_pTeePad.get(), GST_PAD_PROBE_TYPE_IDLE, cutAndEnd, m_pBin.get(), nullptr);
    bool bEnded;
    {
        std::unique_lock<std::mutex> lock(m_pShared->mutex);
        bEnded = m_pShared->cvEnded.wait_for(lock, kFinishTimeout, [this]() { return m_pShared->bEnded; });
    }
    // Stopping the branch closes the file.
    remove();
    QJsonObject result;
    if (m_pShared->bFailed || !bEnded)
        result =
            errorResult(Error::FileError, QStringLiteral("the recording %1 could not be completed").arg(m_strPath));
    result.insert(QStringLiteral("path"), QDir::toNativeSeparators(m_strPath));
    result.insert(QStringLiteral("duration"), durationMs());
    return result;
}

void Recorder::remove() {
    if (!m_pBin) return;
    const GstPtr<GstPad> pSink(gst_element_get_static_pad(m_pBin.get(), "sink"));
    if (gst_pad_is_linked(pSink.get())) gst_pad_unlink(m_pTeePad.get(), pSink.get());
    gst_element_release_request_pad(m_pTee.get(), m_pTeePad.get());
    m_pTeePad.reset();
    if (gst_element_set_state(m_pBin.get(), GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE)
        qWarning("video_control: a recording branch did not stop");
    gst_bin_remove(GST_BIN(m_pPipeline.get()), m_pBin.get());
    m_pBin.reset();
}

bool Recorder::owns(GstObject* pObject) const {
    return m_pBin && pObject &&
           (pObject == GST_OBJECT(m_pBin.get()) || gst_object_has_as_ancestor(pObject, GST_OBJECT(m_pBin.get())));
}

void Recorder::markFailed() {
    m_pShared->bFailed = true;
}

qint64 Recorder::durationMs() const {
    std::lock_guard<std::mutex> lock(m_pShared->mutex);
    if (!m_pShared->bStarted || !GST_CLOCK_TIME_IS_VALID(m_pShared->endNs)) return 0;
    return static_cast<qint64>((m_pShared->endNs - m_pShared->firstNs) / GST_MSECOND);
}

}  // namespace vc
