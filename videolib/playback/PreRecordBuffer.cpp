#include "PreRecordBuffer.h"

namespace vc {

namespace {

// The decoding order's time when there is one (pictures that others depend
// on come first), else the presentation time.
GstClockTime timeOf(GstBuffer* pBuffer) {
    return GST_BUFFER_DTS_IS_VALID(pBuffer) ? GST_BUFFER_DTS(pBuffer) : GST_BUFFER_PTS(pBuffer);
}

GstPadProbeReturn keep(GstPad*, GstPadProbeInfo* pInfo, gpointer pData) {
    PreRecordBuffer* pBuffer = static_cast<std::shared_ptr<PreRecordBuffer>*>(pData)->get();
    if (pInfo->type & GST_PAD_PROBE_TYPE_BUFFER) {
        pBuffer->add(GST_PAD_PROBE_INFO_BUFFER(pInfo));
    } else if (pInfo->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* pList = GST_PAD_PROBE_INFO_BUFFER_LIST(pInfo);
        for (guint i = 0; i < gst_buffer_list_length(pList); ++i) pBuffer->add(gst_buffer_list_get(pList, i));
    } else if (pInfo->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* pEvent = GST_PAD_PROBE_INFO_EVENT(pInfo);
        switch (GST_EVENT_TYPE(pEvent)) {
        case GST_EVENT_CAPS: {
            GstCaps* pCaps = nullptr;
            gst_event_parse_caps(pEvent, &pCaps);
            pBuffer->setCaps(pCaps);
            break;
        }
        case GST_EVENT_STREAM_START:
        case GST_EVENT_SEGMENT:
        case GST_EVENT_FLUSH_STOP: pBuffer->clear(); break;
        default: break;
        }
    }
    return GST_PAD_PROBE_OK;
}

void release(gpointer pData) {
    delete static_cast<std::shared_ptr<PreRecordBuffer>*>(pData);
}

}  // namespace

PreRecordBuffer::PreRecordBuffer(int iSeconds, qint64 iMaxBytes)
    : m_duration(static_cast<GstClockTime>(qMax(iSeconds, 0)) * GST_SECOND), m_iMaxBytes(iMaxBytes) {}

void PreRecordBuffer::watch(GstPad* pPad, const std::shared_ptr<PreRecordBuffer>& pBuffer) {
    gst_pad_add_probe(pPad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      keep, new std::shared_ptr<PreRecordBuffer>(pBuffer), release);
}

void PreRecordBuffer::add(GstBuffer* pBuffer) {
    if (m_duration == 0) return;
    const bool bKey = !GST_BUFFER_FLAG_IS_SET(pBuffer, GST_BUFFER_FLAG_DELTA_UNIT);
    const GstClockTime time = timeOf(pBuffer);
    const qint64 iCost = static_cast<qint64>(gst_buffer_get_size(pBuffer)) + kPictureOverhead;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!GST_BUFFER_PTS_IS_VALID(pBuffer)) {
        // Breaks the run: a recording could not place it.
        m_groups.clear();
        m_iBytes = 0;
        return;
    }
    if (bKey) {
        m_groups.emplace_back();
        m_groups.back().keyTime = time;
    } else if (m_groups.empty()) {
        return;  // waits for a key frame
    }
    m_groups.back().pictures.emplace_back(gst_buffer_ref(pBuffer));
    m_iBytes += iCost;
    // From the newest key frame at or before the pre-record time on.
    if (GST_CLOCK_TIME_IS_VALID(time) && time >= m_duration) {
        while (m_groups.size() > 1 && GST_CLOCK_TIME_IS_VALID(m_groups[1].keyTime) &&
               m_groups[1].keyTime <= time - m_duration)
            dropFront();
    }
    while (m_iBytes > m_iMaxBytes && !m_groups.empty()) dropFront();
}

void PreRecordBuffer::dropFront() {
    for (const GstPtr<GstBuffer>& pPicture : m_groups.front().pictures)
        m_iBytes -= static_cast<qint64>(gst_buffer_get_size(pPicture.get())) + kPictureOverhead;
    m_groups.pop_front();
}

void PreRecordBuffer::setCaps(GstCaps* pCaps) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pCaps && pCaps && gst_caps_is_equal(m_pCaps.get(), pCaps)) return;
    m_groups.clear();
    m_iBytes = 0;
    m_pCaps.reset(pCaps ? gst_caps_ref(pCaps) : nullptr);
}

void PreRecordBuffer::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_groups.clear();
    m_iBytes = 0;
}

std::vector<GstPtr<GstBuffer>> PreRecordBuffer::before(GstBuffer* pNext) const {
    std::vector<GstPtr<GstBuffer>> pictures;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_groups.empty() || m_groups.back().pictures.back().get() != pNext) return pictures;
    for (const Group& group : m_groups) {
        for (const GstPtr<GstBuffer>& pPicture : group.pictures) {
            if (pPicture.get() != pNext) pictures.emplace_back(gst_buffer_ref(pPicture.get()));
        }
    }
    return pictures;
}

qint64 PreRecordBuffer::bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iBytes;
}

}  // namespace vc
