#include "PageStream.h"

#include "GstPtr.h"
#include "OwnerLink.h"
#include "Player.h"
#include "Recorder.h"
#include "VcError.h"

#include <QDir>

#include <QDebug>
#include <QMetaObject>
#include <QTcpSocket>
#include <QWebSocket>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <mutex>

namespace pagestream {

// What the streaming threads share with the stream.
struct PageStream::Link : vc::OwnerLink<Link, PageStream> {
    GstElement* pDepay = nullptr;  // owned by the pipeline
    bool bCodecKnown = false;
    // The muxer's input: a key frame is awaited (at the start and after a
    // picture was dropped), and the decoding time of the last picture.
    bool bAwaitKeyFrame = true;
    GstClockTime uLastDts = GST_CLOCK_TIME_NONE;
    bool bFragmentSeen = false;
    std::atomic<qint64> iQueuedBytes{0};
    // The last key frame with its caps (for snapshots), and the recording
    // whose errors are its own, not the stream's.
    vc::GstPtr<GstSample> pKeyFrame;
    vc::Recorder* pRecorder = nullptr;
};

namespace {

using PadRef = vc::GstPtr<GstPad>;

// When a live stream counts as lost and how often it is tried again: as for
// a native play window.
const vc::ReconnectPolicy kReconnect;

QString codecName(const gchar* szEncoding) {
    const QString strEncoding = QString::fromLatin1(szEncoding).toUpper();
    if (strEncoding == QLatin1String("H264")) return QStringLiteral("H.264");
    if (strEncoding == QLatin1String("H265")) return QStringLiteral("H.265");
    return strEncoding;
}

// rtspsrc pads: H.264 video goes to the depayloader; another video codec
// ends the stream (the browser cannot decode it without a second encoding);
// everything else (audio) goes to a fakesink.
void onSourcePad(GstElement* pSource, GstPad* pPad, gpointer pData) {
    auto* pLink = static_cast<PageStream::Link*>(pData);
    vc::GstPtr<GstCaps> pCaps(gst_pad_get_current_caps(pPad));
    if (!pCaps) pCaps.reset(gst_pad_query_caps(pPad, nullptr));
    const GstStructure* pStructure = pCaps ? gst_caps_get_structure(pCaps.get(), 0) : nullptr;
    const gchar* szMedia = pStructure ? gst_structure_get_string(pStructure, "media") : nullptr;
    const gchar* szEncoding = pStructure ? gst_structure_get_string(pStructure, "encoding-name") : nullptr;
    const bool bVideo = szMedia && g_str_equal(szMedia, "video");
    const QString strCodec = codecName(szEncoding ? szEncoding : "");

    std::lock_guard<std::mutex> lock(pLink->mutex);
    if (bVideo && !pLink->bCodecKnown) {
        pLink->bCodecKnown = true;
        pLink->post([strCodec](PageStream* pOwner) {
            QMetaObject::invokeMethod(pOwner, "onCodecKnown", Q_ARG(QString, strCodec));
        });
        if (strCodec == QLatin1String("H.264")) {
            PadRef pSink(gst_element_get_static_pad(pLink->pDepay, "sink"));
            if (gst_pad_link(pPad, pSink.get()) == GST_PAD_LINK_OK) return;
        }
    }
    const vc::GstPtr<GstObject> pPipeline(gst_element_get_parent(pSource));
    if (!pPipeline) return;
    GstElement* pSink = gst_element_factory_make("fakesink", nullptr);
    if (!pSink) return;
    g_object_set(pSink, "sync", FALSE, "async", FALSE, nullptr);
    // The pipeline takes the new (floating) element.
    gst_bin_add(GST_BIN(pPipeline.get()), pSink);
    gst_element_sync_state_with_parent(pSink);
    PadRef pSinkPad(gst_element_get_static_pad(pSink, "sink"));
    gst_pad_link(pPad, pSinkPad.get());
}

// Only what the muxer takes goes on: pictures before the first key frame
// cannot start a media segment, and a picture without a time or whose
// decoding time does not move forward (lost or late packets on a loaded
// machine) would end the stream ("Could not multiplex stream"). After a
// dropped picture the pictures that refer to it are dropped up to the next
// key frame.
GstPadProbeReturn keepMuxable(GstPad* pPad, GstPadProbeInfo* pInfo, gpointer pData) {
    auto* pLink = static_cast<PageStream::Link*>(pData);
    GstBuffer* pBuffer = GST_PAD_PROBE_INFO_BUFFER(pInfo);
    if (!pBuffer) return GST_PAD_PROBE_OK;
    const GstClockTime uDts = GST_BUFFER_DTS_IS_VALID(pBuffer) ? GST_BUFFER_DTS(pBuffer) : GST_BUFFER_PTS(pBuffer);
    const bool bKeyFrame = !GST_BUFFER_FLAG_IS_SET(pBuffer, GST_BUFFER_FLAG_DELTA_UNIT);
    std::lock_guard<std::mutex> lock(pLink->mutex);
    const bool bInOrder = GST_CLOCK_TIME_IS_VALID(uDts) && GST_BUFFER_PTS_IS_VALID(pBuffer) &&
                          (!GST_CLOCK_TIME_IS_VALID(pLink->uLastDts) || uDts > pLink->uLastDts);
    if (!bInOrder || (pLink->bAwaitKeyFrame && !bKeyFrame)) {
        if (GST_CLOCK_TIME_IS_VALID(pLink->uLastDts)) pLink->bAwaitKeyFrame = true;
        return GST_PAD_PROBE_DROP;
    }
    pLink->bAwaitKeyFrame = false;
    pLink->uLastDts = uDts;
    if (bKeyFrame) {
        const vc::GstPtr<GstCaps> pCaps(gst_pad_get_current_caps(pPad));
        pLink->pKeyFrame.reset(gst_sample_new(pBuffer, pCaps.get(), nullptr, nullptr));
    }
    return GST_PAD_PROBE_OK;
}

GstFlowReturn onSample(GstAppSink* pSink, gpointer pData) {
    auto* pLink = static_cast<PageStream::Link*>(pData);
    QByteArray baData;
    {
        const vc::GstPtr<GstSample> pSample(gst_app_sink_pull_sample(pSink));
        if (!pSample) return GST_FLOW_EOS;
        if (GstBuffer* pBuffer = gst_sample_get_buffer(pSample.get())) {
            GstMapInfo map;
            if (gst_buffer_map(pBuffer, &map, GST_MAP_READ)) {
                baData = QByteArray(reinterpret_cast<const char*>(map.data), static_cast<int>(map.size));
                gst_buffer_unmap(pBuffer, &map);
            }
        }
    }
    if (baData.isEmpty()) return GST_FLOW_OK;
    std::lock_guard<std::mutex> lock(pLink->mutex);
    if (!pLink->pOwner) return GST_FLOW_FLUSHING;
    // The first "moof" box is the first picture.
    const bool bFirstFragment = !pLink->bFragmentSeen && baData.size() >= 8 && baData.mid(4, 4) == "moof";
    if (bFirstFragment) pLink->bFragmentSeen = true;
    pLink->iQueuedBytes += baData.size();
    pLink->post([baData, bFirstFragment](PageStream* pOwner) {
        QMetaObject::invokeMethod(pOwner, "onFragment", Q_ARG(QByteArray, baData), Q_ARG(bool, bFirstFragment));
    });
    return GST_FLOW_OK;
}

// Every message of the pipeline, on the thread that posts it. The handler
// owns each message it drops; a message holds its source, so one kept by
// mistake keeps the whole pipeline (threads' sockets, the bus) alive.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* pMessage, gpointer pData) {
    const vc::GstPtr<GstMessage> pOwned(pMessage);
    auto* pLink = static_cast<PageStream::Link*>(pData);
    const GstMessageType eType = GST_MESSAGE_TYPE(pMessage);
    if (eType != GST_MESSAGE_ERROR && eType != GST_MESSAGE_EOS) return GST_BUS_DROP;
    if (eType == GST_MESSAGE_ERROR) {
        // A recording that fails ends as a failed recording (stopSave says
        // so); the stream goes on.
        std::lock_guard<std::mutex> lock(pLink->mutex);
        if (pLink->pRecorder && pLink->pRecorder->owns(GST_MESSAGE_SRC(pMessage))) {
            pLink->pRecorder->markFailed();
            return GST_BUS_DROP;
        }
    }
    QString strText = QStringLiteral("the stream ended");
    int iCode = static_cast<int>(vc::Error::StreamError);
    if (eType == GST_MESSAGE_ERROR) {
        g_autoptr(GError) pError = nullptr;
        gst_message_parse_error(pMessage, &pError, nullptr);
        strText = QString::fromUtf8(pError ? pError->message : "stream error");
        if (pError && pError->domain == GST_RESOURCE_ERROR) {
            iCode = pError->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED ? static_cast<int>(vc::Error::Unauthorized)
                                                                      : static_cast<int>(vc::Error::Unreachable);
        }
    }
    std::lock_guard<std::mutex> lock(pLink->mutex);
    pLink->post([iCode, strText](PageStream* pOwner) {
        QMetaObject::invokeMethod(pOwner, "onFailed", Q_ARG(int, iCode), Q_ARG(QString, strText));
    });
    return GST_BUS_DROP;
}

}  // namespace

PageStream::PageStream(const Source& source, QObject* pParent) : QObject(pParent), m_source(source) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        m_eState = State::Connecting;
        startPipeline();
    });
    m_watchdog.setInterval(500);
    connect(&m_watchdog, &QTimer::timeout, this, &PageStream::onWatchdog);
}

PageStream::~PageStream() {
    teardown();
    if (m_pSocket) m_pSocket->close();
}

QString PageStream::stateName() const {
    switch (m_eState) {
    case State::Connecting: return QStringLiteral("connecting");
    case State::Playing: return QStringLiteral("playing");
    case State::Reconnecting: return QStringLiteral("reconnecting");
    case State::Failed: return QStringLiteral("failed");
    case State::Stopped: return QStringLiteral("stopped");
    }
    return QString();
}

void PageStream::attach(QWebSocket* pSocket) {
    if (m_bAttached) return;
    m_bAttached = true;
    m_pSocket = pSocket;
    // The connection's TCP socket, a child of the WebSocket: what it has not
    // written yet is what the page has not taken.
    m_pTcpSocket = pSocket->findChild<QTcpSocket*>();
    connect(pSocket, &QWebSocket::disconnected, this, [this] {
        if (m_eState == State::Failed) return;
        m_retry.stop();
        m_watchdog.stop();
        teardown();
        m_eState = State::Stopped;
        emit sigFinished();
    });
    m_watchdog.start();
    startPipeline();
}

void PageStream::startPipeline() {
    m_connecting.start();
    m_pLink = std::make_shared<Link>();
    m_pLink->pOwner = this;
    m_pPipeline = vc::gstSink(gst_pipeline_new(nullptr));
    // Owned here, and by the pipeline once added to it: released on return.
    const auto make = [](const char* szFactory) { return vc::gstSink(gst_element_factory_make(szFactory, nullptr)); };
    const auto pSourceRef = make("rtspsrc");
    const auto pDepayRef = make("rtph264depay");
    const auto pParseRef = make("h264parse");
    const auto pCapsRef = make("capsfilter");
    const auto pTeeRef = make("tee");
    const auto pMuxRef = make("mp4mux");
    const auto pSinkRef = make("appsink");
    GstElement* pSource = pSourceRef.get();
    GstElement* pDepay = pDepayRef.get();
    GstElement* pParse = pParseRef.get();
    GstElement* pCaps = pCapsRef.get();
    GstElement* pTee = pTeeRef.get();
    GstElement* pMux = pMuxRef.get();
    GstElement* pSink = pSinkRef.get();
    if (!pSource || !pDepay || !pParse || !pCaps || !pTee || !pMux || !pSink) {
        fail(vc::Error::UnsupportedCodec, QStringLiteral("a GStreamer element for in-page video is missing"));
        return;
    }
    gst_bin_add_many(GST_BIN(m_pPipeline.get()), pSource, pDepay, pParse, pCaps, pTee, pMux, pSink, nullptr);
    m_pLink->pDepay = pDepay;
    m_pTee = vc::gstRef(pTee);

    const QByteArray baUrl = m_source.strUrl.toUtf8();
    g_object_set(pSource, "location", baUrl.constData(), "latency", 0u, nullptr);
    if (!m_source.strUser.isEmpty()) {
        g_object_set(pSource, "user-id", m_source.strUser.toUtf8().constData(), "user-pw",
                     m_source.strPassword.toUtf8().constData(), nullptr);
    }
    g_object_set(pDepay, "wait-for-keyframe", TRUE, "request-keyframe", TRUE, nullptr);
    // Parameter sets in the "avcC" box, whole pictures.
    g_object_set(pCaps, "caps",
                 vc::GstPtr<GstCaps>(gst_caps_from_string("video/x-h264,stream-format=avc,alignment=au")).get(),
                 nullptr);
    // One fragment per picture (40 ms at 25 fps): the page gets each picture
    // as soon as it arrived.
    g_object_set(pMux, "fragment-duration", 1u, "streamable", TRUE, nullptr);
    g_object_set(pSink, "sync", FALSE, "emit-signals", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(pSink), &callbacks, m_pLink.get(), nullptr);
    gst_element_link_many(pDepay, pParse, pCaps, pTee, nullptr);
    // The tee's output has any caps: the muxer's video pad by name.
    gst_element_link_pads(pTee, "src_%u", pMux, "video_%u");
    gst_element_link(pMux, pSink);
    PadRef pParsed(gst_element_get_static_pad(pParse, "src"));
    gst_pad_add_probe(pParsed.get(), GST_PAD_PROBE_TYPE_BUFFER, keepMuxable, m_pLink.get(), nullptr);
    g_signal_connect(pSource, "pad-added", G_CALLBACK(onSourcePad), m_pLink.get());

    gst_bus_set_sync_handler(vc::GstPtr<GstBus>(gst_element_get_bus(m_pPipeline.get())).get(), onBusMessage,
                             m_pLink.get(), nullptr);
    gst_element_set_state(m_pPipeline.get(), GST_STATE_PLAYING);
}

void PageStream::teardown() {
    if (!m_pPipeline) return;
    // The recording's file is completed first.
    if (m_pRecorder) stopRecording();
    {
        std::lock_guard<std::mutex> lock(m_pLink->mutex);
        m_pLink->pOwner = nullptr;
    }
    // Stops every streaming thread of the pipeline.
    gst_element_set_state(m_pPipeline.get(), GST_STATE_NULL);
    gst_bus_set_sync_handler(vc::GstPtr<GstBus>(gst_element_get_bus(m_pPipeline.get())).get(), nullptr, nullptr,
                             nullptr);
    m_pTee.reset();
    m_pPipeline.reset();
    m_pLink.reset();
}

QJsonObject PageStream::startRecording(const QString& strPath, bool bMatroska) {
    if (m_pRecorder) return vc::errorResult(vc::Error::AlreadyRecording);
    if (!m_pPipeline || m_eState != State::Playing)
        return vc::errorResult(vc::Error::NothingPlaying, QStringLiteral("no video to record yet"));
    QJsonObject error;
    m_pRecorder = vc::Recorder::start(m_pPipeline.get(), m_pTee.get(), strPath, bMatroska, nullptr, &error);
    if (!m_pRecorder) return error;
    {
        std::lock_guard<std::mutex> lock(m_pLink->mutex);
        m_pLink->pRecorder = m_pRecorder.get();
    }
    return QJsonObject{{QStringLiteral("path"), QDir::toNativeSeparators(m_pRecorder->path())}};
}

QJsonObject PageStream::stopRecording() {
    if (!m_pRecorder) return vc::errorResult(vc::Error::NotRecording);
    if (m_pLink) {
        std::lock_guard<std::mutex> lock(m_pLink->mutex);
        m_pLink->pRecorder = nullptr;
    }
    const QJsonObject result = m_pRecorder->finish();
    m_pRecorder.reset();
    emit sigEvent(QStringLiteral("recordStopped"), result);
    return result;
}

QString PageStream::recordingPath() const {
    return m_pRecorder ? QDir::toNativeSeparators(m_pRecorder->path()) : QString();
}

QImage PageStream::decodeKeyFrame(QJsonObject* pError) const {
    vc::GstPtr<GstSample> pKeyFrame;
    if (m_pLink) {
        std::lock_guard<std::mutex> lock(m_pLink->mutex);
        if (m_pLink->pKeyFrame) pKeyFrame.reset(gst_sample_ref(m_pLink->pKeyFrame.get()));
    }
    if (!pKeyFrame || !gst_sample_get_caps(pKeyFrame.get())) {
        *pError = vc::errorResult(vc::Error::NothingPlaying, QStringLiteral("no picture yet"));
        return QImage();
    }
    // One picture through the decoder GStreamer ranks first, on this thread.
    g_autoptr(GError) pParseError = nullptr;
    const vc::GstPtr<GstElement> pPipeline = vc::gstSink(
        gst_parse_launch("appsrc name=source format=time ! decodebin ! videoconvert ! video/x-raw,format=BGRx ! "
                         "appsink name=sink sync=false",
                         &pParseError));
    const vc::GstPtr<GstElement> pSource(pPipeline ? gst_bin_get_by_name(GST_BIN(pPipeline.get()), "source") : nullptr);
    const vc::GstPtr<GstElement> pSink(pPipeline ? gst_bin_get_by_name(GST_BIN(pPipeline.get()), "sink") : nullptr);
    if (!pSource || !pSink) {
        *pError = vc::errorResult(vc::Error::UnsupportedCodec, QStringLiteral("no decoder for the snapshot"));
        return QImage();
    }
    gst_app_src_set_caps(GST_APP_SRC(pSource.get()), gst_sample_get_caps(pKeyFrame.get()));
    // The source takes the new reference of the buffer.
    gst_app_src_push_buffer(GST_APP_SRC(pSource.get()), gst_buffer_ref(gst_sample_get_buffer(pKeyFrame.get())));
    gst_app_src_end_of_stream(GST_APP_SRC(pSource.get()));
    gst_element_set_state(pPipeline.get(), GST_STATE_PLAYING);
    const vc::GstPtr<GstSample> pPicture(gst_app_sink_try_pull_sample(GST_APP_SINK(pSink.get()), 3 * GST_SECOND));
    QImage picture;
    GstBuffer* pBuffer = pPicture ? gst_sample_get_buffer(pPicture.get()) : nullptr;
    const GstStructure* pStructure =
        pPicture ? gst_caps_get_structure(gst_sample_get_caps(pPicture.get()), 0) : nullptr;
    int iWidth = 0;
    int iHeight = 0;
    GstMapInfo map;
    if (pBuffer && pStructure && gst_structure_get_int(pStructure, "width", &iWidth) &&
        gst_structure_get_int(pStructure, "height", &iHeight) && gst_buffer_map(pBuffer, &map, GST_MAP_READ)) {
        if (map.size >= static_cast<gsize>(iWidth) * iHeight * 4)
            picture = QImage(map.data, iWidth, iHeight, iWidth * 4, QImage::Format_RGB32).copy();
        gst_buffer_unmap(pBuffer, &map);
    }
    gst_element_set_state(pPipeline.get(), GST_STATE_NULL);
    if (picture.isNull())
        *pError = vc::errorResult(vc::Error::UnsupportedCodec, QStringLiteral("the key frame could not be decoded"));
    return picture;
}

void PageStream::onCodecKnown(const QString& strCodec) {
    m_strCodec = strCodec;
    if (strCodec != QLatin1String("H.264")) {
        fail(vc::Error::UnsupportedCodec,
             QStringLiteral("%1 cannot be played in the page: browsers decode H.264 only (play it in a native window)")
                 .arg(strCodec.isEmpty() ? QStringLiteral("this codec") : strCodec));
        return;
    }
    emit sigEvent(QStringLiteral("connected"), QJsonObject());
}

void PageStream::onFragment(const QByteArray& baData, bool bFirstFragment) {
    if (m_pLink) m_pLink->iQueuedBytes -= baData.size();
    if (!m_pSocket || m_eState == State::Failed) return;
    const qint64 iUnsent =
        (m_pTcpSocket ? m_pTcpSocket->bytesToWrite() : 0) + (m_pLink ? m_pLink->iQueuedBytes.load() : 0);
    if (iUnsent > kMaxUnsentBytes) {
        fail(vc::Error::StreamError,
             QStringLiteral("the page took no video for too long (%1 bytes waiting)").arg(iUnsent));
        return;
    }
    m_pSocket->sendBinaryMessage(baData);
    m_lastPicture.start();
    if (bFirstFragment) {
        m_eState = State::Playing;
        m_bHadPicture = true;
        emit sigEvent(QStringLiteral("firstFrame"), QJsonObject{{QStringLiteral("reconnected"), m_iAttempt > 0}});
        m_iAttempt = 0;
    }
}

void PageStream::onFailed(int iCode, const QString& strMessage) {
    // A stream that played comes back; one that never did fails.
    if (m_bHadPicture && iCode != static_cast<int>(vc::Error::UnsupportedCodec)) {
        lose(strMessage);
        return;
    }
    fail(static_cast<vc::Error>(iCode), strMessage);
}

void PageStream::onWatchdog() {
    const int iConnectLimit = qMax(2 * kReconnect.iLostAfterMs, 5000);
    if (m_eState == State::Playing && m_lastPicture.elapsed() > kReconnect.iLostAfterMs)
        lose(QStringLiteral("no picture for %1 ms").arg(m_lastPicture.elapsed()));
    else if (m_eState == State::Connecting && m_iAttempt > 0 && m_connecting.elapsed() > iConnectLimit)
        lose(QStringLiteral("no picture within %1 ms of reconnecting").arg(iConnectLimit));
}

void PageStream::lose(const QString& strWhy) {
    if (m_iAttempt == 0) emit sigEvent(QStringLiteral("lost"), QJsonObject{{QStringLiteral("reason"), strWhy}});
    teardown();
    if (kReconnect.iMaxAttempts > 0 && m_iAttempt >= kReconnect.iMaxAttempts) {
        fail(vc::Error::Unreachable, QStringLiteral("gave up after %1 attempts: %2").arg(m_iAttempt).arg(strWhy));
        return;
    }
    const int iDelay = kReconnect.delayMs(m_iAttempt);
    ++m_iAttempt;
    m_eState = State::Reconnecting;
    m_retry.start(iDelay);
    emit sigEvent(QStringLiteral("reconnecting"),
                  QJsonObject{{QStringLiteral("attempt"), m_iAttempt}, {QStringLiteral("delay"), iDelay}});
}

void PageStream::fail(vc::Error eError, const QString& strMessage) {
    if (m_eState == State::Failed) return;
    m_retry.stop();
    m_watchdog.stop();
    teardown();
    m_eState = State::Failed;
    emit sigEvent(QStringLiteral("error"), vc::errorResult(eError, strMessage));
    if (m_pSocket) m_pSocket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported, strMessage.left(120));
    emit sigFinished();
}

}  // namespace pagestream
