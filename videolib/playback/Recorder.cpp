#include "Recorder.h"

#include "VcError.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

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
    GstPad* pShiftPad = nullptr;  // the queue's output, shifted to start at 0
};

namespace {

const char* parserFor(const gchar* szMedia) {
    if (g_str_equal(szMedia, "video/x-h264")) return "h264parse";
    if (g_str_equal(szMedia, "video/x-h265")) return "h265parse";
    if (g_str_equal(szMedia, "image/jpeg")) return "jpegparse";
    return nullptr;
}

GstClockTime runningTime(GstPad* pPad, GstClockTime timeNs) {
    GstEvent* pEvent = gst_pad_get_sticky_event(pPad, GST_EVENT_SEGMENT, 0);
    if (!pEvent || !GST_CLOCK_TIME_IS_VALID(timeNs)) {
        if (pEvent) gst_event_unref(pEvent);
        return timeNs;
    }
    const GstSegment* pSegment = nullptr;
    gst_event_parse_segment(pEvent, &pSegment);
    const GstClockTime running = gst_segment_to_running_time(pSegment, GST_FORMAT_TIME, timeNs);
    gst_event_unref(pEvent);
    return running;
}

// On the branch's input: nothing until the first key frame, which sets the
// time shift; then track the recorded span.
GstPadProbeReturn gateBuffer(GstPad* pPad, GstPadProbeInfo* pInfo, gpointer pData) {
    auto* pShared = static_cast<RecorderShared*>(pData);
    if (pShared->bFailed) return GST_PAD_PROBE_DROP;
    GstBuffer* pBuffer = GST_PAD_PROBE_INFO_BUFFER(pInfo);
    const GstClockTime pts = runningTime(pPad, GST_BUFFER_PTS(pBuffer));
    std::lock_guard<std::mutex> lock(pShared->mutex);
    if (!pShared->bStarted) {
        if (GST_BUFFER_FLAG_IS_SET(pBuffer, GST_BUFFER_FLAG_DELTA_UNIT) || !GST_CLOCK_TIME_IS_VALID(pts))
            return GST_PAD_PROBE_DROP;
        pShared->bStarted = true;
        pShared->firstNs = pts;
        const GstClockTime dts = runningTime(pPad, GST_BUFFER_DTS(pBuffer));
        const GstClockTime shift = GST_CLOCK_TIME_IS_VALID(dts) ? MIN(dts, pts) : pts;
        gst_pad_set_offset(pShared->pShiftPad, -static_cast<gint64>(shift));
    }
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        const GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(pBuffer) ? GST_BUFFER_DURATION(pBuffer) : 0;
        if (!GST_CLOCK_TIME_IS_VALID(pShared->endNs) || pts + duration > pShared->endNs)
            pShared->endNs = pts + duration;
    }
    return GST_PAD_PROBE_OK;
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
    auto* pBin = static_cast<GstElement*>(pData);
    GstPad* pSink = gst_element_get_static_pad(pBin, "sink");
    gst_pad_unlink(pTeePad, pSink);
    gst_pad_send_event(pSink, gst_event_new_eos());
    gst_object_unref(pSink);
    return GST_PAD_PROBE_REMOVE;
}

void deleteShared(gpointer pData) {
    delete static_cast<std::shared_ptr<RecorderShared>*>(pData);
}

}  // namespace

std::unique_ptr<Recorder> Recorder::start(GstElement* pPipeline, GstElement* pTee, const QString& strPath,
                                          bool bMatroska, QJsonObject* pError) {
    GstPad* pTeeSink = gst_element_get_static_pad(pTee, "sink");
    GstCaps* pCaps = gst_pad_get_current_caps(pTeeSink);
    gst_object_unref(pTeeSink);
    const char* szParser = pCaps ? parserFor(gst_structure_get_name(gst_caps_get_structure(pCaps, 0))) : nullptr;
    if (pCaps) gst_caps_unref(pCaps);
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
    pRecorder->m_pPipeline = pPipeline;
    pRecorder->m_pTee = GST_ELEMENT(gst_object_ref(pTee));
    pRecorder->m_strPath = file.absoluteFilePath();
    pRecorder->m_pShared = std::make_shared<RecorderShared>();

    GstElement* pBin = gst_bin_new(nullptr);
    GstElement* pQueue = gst_element_factory_make("queue", nullptr);
    GstElement* pParser = gst_element_factory_make(szParser, nullptr);
    GstElement* pMux = gst_element_factory_make(bMatroska ? "matroskamux" : "mp4mux", nullptr);
    GstElement* pFile = gst_element_factory_make("filesink", nullptr);
    if (!pQueue || !pParser || !pMux || !pFile) {
        gst_object_unref(gst_object_ref_sink(pBin));
        *pError = errorResult(Error::UnsupportedCodec, QStringLiteral("a recording element is missing"));
        return nullptr;
    }
    g_object_set(pFile, "location", pRecorder->m_strPath.toLocal8Bit().constData(), "async", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pBin), pQueue, pParser, pMux, pFile, nullptr);
    gst_element_link_many(pQueue, pParser, pMux, pFile, nullptr);
    GstPad* pQueueSink = gst_element_get_static_pad(pQueue, "sink");
    gst_element_add_pad(pBin, gst_ghost_pad_new("sink", pQueueSink));
    pRecorder->m_pShared->pShiftPad = gst_element_get_static_pad(pQueue, "src");
    gst_object_unref(pQueueSink);

    GstPad* pBinSink = gst_element_get_static_pad(pBin, "sink");
    gst_pad_add_probe(pBinSink, GST_PAD_PROBE_TYPE_BUFFER, gateBuffer, pRecorder->m_pShared.get(), nullptr);
    GstPad* pFileSink = gst_element_get_static_pad(pFile, "sink");
    gst_pad_add_probe(pFileSink, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, watchEnd,
                      new std::shared_ptr<RecorderShared>(pRecorder->m_pShared), deleteShared);
    gst_object_unref(pFileSink);

    pRecorder->m_pBin = GST_ELEMENT(gst_object_ref(pBin));
    gst_bin_add(GST_BIN(pPipeline), pBin);
    gst_element_sync_state_with_parent(pBin);
    pRecorder->m_pTeePad = gst_element_request_pad_simple(pTee, "src_%u");
    gst_pad_link(pRecorder->m_pTeePad, pBinSink);
    gst_object_unref(pBinSink);
    return pRecorder;
}

Recorder::~Recorder() {
    remove();
    if (m_pShared && m_pShared->pShiftPad) gst_object_unref(m_pShared->pShiftPad);
    if (m_pTee) gst_object_unref(m_pTee);
}

QJsonObject Recorder::finish() {
    if (!m_pBin) return errorResult(Error::NotRecording);
    gst_pad_add_probe(m_pTeePad, GST_PAD_PROBE_TYPE_IDLE, cutAndEnd, m_pBin, nullptr);
    bool bEnded;
    {
        std::unique_lock<std::mutex> lock(m_pShared->mutex);
        bEnded = m_pShared->cvEnded.wait_for(lock, kFinishTimeout, [this]() { return m_pShared->bEnded; });
    }
    // Stopping the branch closes the file.
    remove();
    if (m_pShared->bFailed || !bEnded)
        return errorResult(Error::FileError, QStringLiteral("the recording %1 could not be completed").arg(m_strPath));
    return QJsonObject{{"path", QDir::toNativeSeparators(m_strPath)}, {"duration", durationMs()}};
}

void Recorder::remove() {
    if (!m_pBin) return;
    GstPad* pSink = gst_element_get_static_pad(m_pBin, "sink");
    if (gst_pad_is_linked(pSink)) gst_pad_unlink(m_pTeePad, pSink);
    gst_object_unref(pSink);
    gst_element_release_request_pad(m_pTee, m_pTeePad);
    gst_object_unref(m_pTeePad);
    m_pTeePad = nullptr;
    gst_element_set_state(m_pBin, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(m_pPipeline), m_pBin);
    gst_object_unref(m_pBin);
    m_pBin = nullptr;
}

bool Recorder::owns(GstObject* pObject) const {
    return m_pBin && pObject && (pObject == GST_OBJECT(m_pBin) || gst_object_has_as_ancestor(pObject, GST_OBJECT(m_pBin)));
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
