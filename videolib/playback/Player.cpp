#include "Player.h"

#include "Admission.h"
#include "GstPtr.h"
#include "OwnerLink.h"
#include "PreRecordBuffer.h"
#include "Recorder.h"
#include "VcLibrary.h"
#include "VcSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <iterator>
#include <mutex>
#include <utility>

namespace vc {

// What the streaming threads and the GUI thread share for one pipeline.
struct Bridge : OwnerLink<Bridge, Player> {
    GstElement* pPipeline = nullptr;
    bool bLive = false;
    // The newest picture, not yet taken by the GUI thread.
    QImage image;
    qint64 iPositionMs = -1;
    bool bFramePosted = false;
    bool bConnectedPosted = false;
    // Elements the streaming threads made (owned by the pipeline).
    GstElement* pTee = nullptr;
    GstElement* pAppSink = nullptr;
    GstElement* pScaleCaps = nullptr;
    GstElement* pVolume = nullptr;
    // Settings the branches start with.
    bool bSoundOn = false;
    int iVolume = 100;
    QSize outputSize;
    // The factory of the video decoder that plays.
    QString strDecoder;
    // The recording of this pipeline, checked by the bus handler.
    Recorder* pRecorder = nullptr;
    // Fed by the coded video of a live stream (null otherwise); set before
    // the pipeline starts.
    std::shared_ptr<PreRecordBuffer> pPreRecord;

    // Runs f on the GUI thread with the owner, unless the pipeline is torn
    // down by then. Called with the mutex held and the owner set.
    // With the mutex held and the owner set:
    void postFrame() {
        post([](Player* pPlayer) { pPlayer->onFrame(); });
    }
    void postConnected() {
        post([](Player* pPlayer) { pPlayer->onConnected(); });
    }
    // The message goes with the call (released on the GUI thread).
    void postMessage(GstPtr<GstMessage> pMessage) {
        std::shared_ptr<GstMessage> pHeld(std::move(pMessage));
        post([pHeld](Player* pPlayer) { pPlayer->onMessage(pHeld.get()); });
    }
};

namespace {

QString stateText(Player::State eState) {
    switch (eState) {
    case Player::State::Stopped: return QStringLiteral("stopped");
    case Player::State::Connecting: return QStringLiteral("connecting");
    case Player::State::Playing: return QStringLiteral("playing");
    case Player::State::Paused: return QStringLiteral("paused");
    case Player::State::Reconnecting: return QStringLiteral("reconnecting");
    case Player::State::Ended: return QStringLiteral("ended");
    case Player::State::Failed: return QStringLiteral("failed");
    }
    return QString();
}

Error errorOf(const GError* pError) {
    if (pError->domain == GST_RESOURCE_ERROR) {
        switch (pError->code) {
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED: return Error::Unauthorized;
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT: return Error::DiskFull;
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_WRITE: return Error::FileError;
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_READ: return Error::Unreachable;
        default: return Error::StreamError;
        }
    }
    if ((pError->domain == GST_STREAM_ERROR &&
         (pError->code == GST_STREAM_ERROR_CODEC_NOT_FOUND || pError->code == GST_STREAM_ERROR_TYPE_NOT_FOUND ||
          pError->code == GST_STREAM_ERROR_WRONG_TYPE || pError->code == GST_STREAM_ERROR_FORMAT ||
          pError->code == GST_STREAM_ERROR_DEMUX)) ||
        (pError->domain == GST_CORE_ERROR && pError->code == GST_CORE_ERROR_MISSING_PLUGIN))
        return Error::UnsupportedCodec;
    return Error::StreamError;
}

const struct {
    const char* szMedia;
    const char* szName;
} kCodecs[] = {{"video/x-h264", "H.264"}, {"video/x-h265", "H.265"}, {"image/jpeg", "MJPEG"}, {"video/mpeg", "MPEG"},
               {"video/x-vp8", "VP8"},    {"video/x-vp9", "VP9"},    {"video/x-av1", "AV1"}};

QString codecName(const gchar* szMedia) {
    for (const auto& codec : kCodecs) {
        if (g_str_equal(szMedia, codec.szMedia)) return QString::fromLatin1(codec.szName);
    }
    return QString::fromUtf8(szMedia);
}

GstElement* make(const char* szFactory) {
    GstElement* pElement = gst_element_factory_make(szFactory, nullptr);
    if (!pElement) qWarning("video_control: GStreamer element %s is missing", szFactory);
    return pElement;
}

// Drops elements that were made but not added to a bin.
void discard(std::initializer_list<GstElement*> elements) {
    for (GstElement* pElement : elements) {
        gstSink(pElement);
    }
}

// Adds the elements to the bin, links them in order and starts them; the
// first one's sink pad is returned (null when an element is missing).
GstPtr<GstPad> addChain(GstElement* pBin, std::initializer_list<GstElement*> elements) {
    for (GstElement* pElement : elements) {
        if (!pElement) {
            discard(elements);
            return nullptr;
        }
    }
    GstElement* pPrevious = nullptr;
    for (GstElement* pElement : elements) {
        // The bin takes the new (floating) element.
        gst_bin_add(GST_BIN(pBin), pElement);
        if (pPrevious) gst_element_link(pPrevious, pElement);
        pPrevious = pElement;
    }
    // An element that does not start posts its error on the bus as well.
    for (auto it = std::rbegin(elements); it != std::rend(elements); ++it) {
        if (!gst_element_sync_state_with_parent(*it))
            qWarning("video_control: GStreamer element %s does not start", GST_ELEMENT_NAME(*it));
    }
    return GstPtr<GstPad>(gst_element_get_static_pad(*elements.begin(), "sink"));
}

GstPtr<GstCaps> pictureCaps(const QSize& size) {
    GstPtr<GstCaps> pCaps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    if (!size.isEmpty())
        gst_caps_set_simple(pCaps.get(), "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(),
                            nullptr);
    return pCaps;
}

void unmapFrame(void* pData) {
    auto* pFrame = static_cast<GstVideoFrame*>(pData);
    gst_video_frame_unmap(pFrame);
    delete pFrame;
}

// Streaming thread: the newest decoded picture, handed over without a copy
// (the image keeps the buffer mapped until it is let go).
GstFlowReturn deliver(Bridge* pBridge, GstPtr<GstSample> pSample) {
    if (!pSample) return GST_FLOW_OK;
    GstBuffer* pBuffer = gst_sample_get_buffer(pSample.get());
    GstCaps* pCaps = gst_sample_get_caps(pSample.get());
    GstVideoInfo info;
    auto pFrame = std::make_unique<GstVideoFrame>();
    if (!pBuffer || !pCaps || !gst_video_info_from_caps(&info, pCaps) ||
        !gst_video_frame_map(pFrame.get(), &info, pBuffer, GST_MAP_READ))
        return GST_FLOW_OK;
    qint64 iPositionMs = -1;
    if (const GstSegment* pSegment = gst_sample_get_segment(pSample.get())) {
        const guint64 streamTime = gst_segment_to_stream_time(pSegment, GST_FORMAT_TIME, GST_BUFFER_PTS(pBuffer));
        if (GST_CLOCK_TIME_IS_VALID(streamTime)) iPositionMs = static_cast<qint64>(streamTime / GST_MSECOND);
    }
    // The frame holds its own reference on the buffer; the sample goes now.
    pSample.reset();
    GstVideoFrame* pMapped = pFrame.release();  // the image's from here
    QImage image(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(pMapped, 0)), GST_VIDEO_FRAME_WIDTH(pMapped),
                 GST_VIDEO_FRAME_HEIGHT(pMapped), GST_VIDEO_FRAME_PLANE_STRIDE(pMapped, 0), QImage::Format_RGB32,
                 unmapFrame, pMapped);
    std::unique_lock<std::mutex> lock(pBridge->mutex);
    if (!pBridge->pOwner) return GST_FLOW_OK;  // image released after the lock
    pBridge->image.swap(image);
    pBridge->iPositionMs = iPositionMs;
    if (!pBridge->bFramePosted) {
        pBridge->bFramePosted = true;
        pBridge->postFrame();
    }
    lock.unlock();
    return GST_FLOW_OK;
}

GstFlowReturn onNewSample(GstAppSink* pSink, gpointer pData) {
    return deliver(static_cast<Bridge*>(pData), GstPtr<GstSample>(gst_app_sink_pull_sample(pSink)));
}

GstFlowReturn onNewPreroll(GstAppSink* pSink, gpointer pData) {
    return deliver(static_cast<Bridge*>(pData), GstPtr<GstSample>(gst_app_sink_pull_preroll(pSink)));
}

void linkDecoded(GstElement*, GstPad* pPad, gpointer pNext) {
    const GstPtr<GstPad> pSink(gst_element_get_static_pad(static_cast<GstElement*>(pNext), "sink"));
    if (!gst_pad_is_linked(pSink.get())) gst_pad_link(pPad, pSink.get());
}

// Streaming thread, on the coded video's first buffer: joining a running
// stream between key frames asks the source for one (an RTSP session turns
// this into a picture-loss request to the camera) instead of waiting out
// the rest of its group of pictures.
GstPadProbeReturn askKeyFrameOnJoin(GstPad* pPad, GstPadProbeInfo* pInfo, gpointer) {
    if (GST_BUFFER_FLAG_IS_SET(GST_PAD_PROBE_INFO_BUFFER(pInfo), GST_BUFFER_FLAG_DELTA_UNIT))
        gst_pad_push_event(pPad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    return GST_PAD_PROBE_REMOVE;
}

// Streaming thread: tee -> queue -> decodebin -> videoscale -> videoconvert
// -> appsink. Scaling comes first, in the decoder's own format, so that a
// small tile converts few pixels. Two elements, not one videoconvertscale:
// at 16 tiles of 320x180 that one cost 2.4-3.9 ms of CPU per picture shown
// against 1.9-2.1 ms (bench_wall, GStreamer 1.22).
GstPtr<GstPad> addVideoBranch(Bridge* pBridge) {
    GstElement* pScale = make("videoscale");
    GstElement* pConvert = make("videoconvert");
    GstElement* pCaps = make("capsfilter");
    GstElement* pSink = make("appsink");
    GstElement* pDecode = make("decodebin");
    GstElement* pTee = make("tee");
    GstElement* pQueue = make("queue");
    if (pCaps && pSink) {
        std::lock_guard<std::mutex> lock(pBridge->mutex);
        g_object_set(pCaps, "caps", pictureCaps(pBridge->outputSize).get(), nullptr);
        g_object_set(pSink, "max-buffers", 1u, "drop", TRUE, "sync", !pBridge->bLive, "enable-last-sample", FALSE,
                     nullptr);
    }
    if (pSink) {
        g_object_set(pSink, "caps", pictureCaps(QSize()).get(), nullptr);
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = onNewSample;
        callbacks.new_preroll = onNewPreroll;
        gst_app_sink_set_callbacks(GST_APP_SINK(pSink), &callbacks, pBridge, nullptr);
    }
    if (pDecode && pScale) g_signal_connect(pDecode, "pad-added", G_CALLBACK(linkDecoded), pScale);
    if (!addChain(pBridge->pPipeline, {pScale, pConvert, pCaps, pSink})) {
        discard({pDecode, pTee, pQueue});
        return nullptr;
    }
    GstPtr<GstPad> pInput = addChain(pBridge->pPipeline, {pTee, pQueue, pDecode});
    if (!pInput) return nullptr;
    if (pBridge->bLive) gst_pad_add_probe(pInput.get(), GST_PAD_PROBE_TYPE_BUFFER, askKeyFrameOnJoin, nullptr, nullptr);
    if (pBridge->pPreRecord) PreRecordBuffer::watch(pInput.get(), pBridge->pPreRecord);
    std::lock_guard<std::mutex> lock(pBridge->mutex);
    pBridge->pTee = pTee;
    pBridge->pAppSink = pSink;
    pBridge->pScaleCaps = pCaps;
    return pInput;
}

// Streaming thread: queue -> decodebin -> convert -> resample -> volume ->
// the sound device (a fake sink when there is none).
GstPtr<GstPad> addAudioBranch(Bridge* pBridge) {
    GstElement* pConvert = make("audioconvert");
    GstElement* pResample = make("audioresample");
    GstElement* pVolume = make("volume");
    GstElement* pSink = make("autoaudiosink");
    GstElement* pQueue = make("queue");
    GstElement* pDecode = make("decodebin");
    if (pVolume) {
        std::lock_guard<std::mutex> lock(pBridge->mutex);
        g_object_set(pVolume, "mute", !pBridge->bSoundOn, "volume", pBridge->iVolume / 100.0, nullptr);
    }
    if (pSink && pBridge->bLive) g_object_set(pSink, "sync", FALSE, nullptr);
    if (pDecode && pConvert) g_signal_connect(pDecode, "pad-added", G_CALLBACK(linkDecoded), pConvert);
    if (!addChain(pBridge->pPipeline, {pConvert, pResample, pVolume, pSink})) {
        discard({pQueue, pDecode});
        return nullptr;
    }
    GstPtr<GstPad> pInput = addChain(pBridge->pPipeline, {pQueue, pDecode});
    if (!pInput) return nullptr;
    std::lock_guard<std::mutex> lock(pBridge->mutex);
    pBridge->pVolume = pVolume;
    return pInput;
}

// Streaming thread: one elementary stream came out of parsebin.
void onParsedPad(GstElement*, GstPad* pPad, gpointer pData) {
    auto* pBridge = static_cast<Bridge*>(pData);
    GstPtr<GstCaps> pCaps(gst_pad_get_current_caps(pPad));
    if (!pCaps) pCaps.reset(gst_pad_query_caps(pPad, nullptr));
    const QByteArray media = pCaps && !gst_caps_is_empty(pCaps.get()) && !gst_caps_is_any(pCaps.get())
                                 ? gst_structure_get_name(gst_caps_get_structure(pCaps.get(), 0))
                                 : "";
    bool bVideo = false;
    bool bAudio = false;
    {
        std::lock_guard<std::mutex> lock(pBridge->mutex);
        bVideo = (media.startsWith("video/") || media == "image/jpeg") && !pBridge->pTee;
        bAudio = media.startsWith("audio/") && !pBridge->pVolume;
        if (pBridge->pOwner && !pBridge->bConnectedPosted) {
            pBridge->bConnectedPosted = true;
            pBridge->postConnected();
        }
    }
    GstPtr<GstPad> pInput = bVideo ? addVideoBranch(pBridge) : bAudio ? addAudioBranch(pBridge) : nullptr;
    if (!pInput) pInput = addChain(pBridge->pPipeline, {make("fakesink")});
    if (pInput) gst_pad_link(pPad, pInput.get());
}

GstElement* addParser(GstElement* pPipeline, Bridge* pBridge) {
    GstElement* pParse = make("parsebin");
    if (!pParse) return nullptr;
    g_signal_connect(pParse, "pad-added", G_CALLBACK(onParsedPad), pBridge);
    // The pipeline takes the new (floating) element.
    gst_bin_add(GST_BIN(pPipeline), pParse);
    return pParse;
}

// Streaming thread: rtspsrc made a pad for one stream of the session. The
// common video codecs get their depayloader and parser here (parsebin
// loses the first slice of pictures coded in several slices); anything else
// goes through parsebin.
void onSourcePad(GstElement*, GstPad* pPad, gpointer pData) {
    static const struct {
        const char* szEncoding;
        const char* szDepayloader;
        const char* szParser;
    } kVideo[] = {{"H264", "rtph264depay", "h264parse"},
                  {"H265", "rtph265depay", "h265parse"},
                  {"JPEG", "rtpjpegdepay", "jpegparse"}};
    auto* pBridge = static_cast<Bridge*>(pData);
    GstPtr<GstCaps> pCaps(gst_pad_get_current_caps(pPad));
    if (!pCaps) pCaps.reset(gst_pad_query_caps(pPad, nullptr));
    const gchar* szEncoding = pCaps && gst_caps_get_size(pCaps.get()) > 0
                                  ? gst_structure_get_string(gst_caps_get_structure(pCaps.get(), 0), "encoding-name")
                                  : nullptr;
    const QByteArray encoding = szEncoding ? QByteArray(szEncoding).toUpper() : QByteArray();
    for (const auto& video : kVideo) {
        if (encoding != video.szEncoding) continue;
        GstElement* pParser = make(video.szParser);
        GstPtr<GstPad> pInput = pParser ? addChain(pBridge->pPipeline, {make(video.szDepayloader), pParser}) : nullptr;
        if (!pInput) break;
        onParsedPad(nullptr, GstPtr<GstPad>(gst_element_get_static_pad(pParser, "src")).get(), pBridge);
        gst_pad_link(pPad, pInput.get());
        return;
    }
    GstElement* pParse = addParser(pBridge->pPipeline, pBridge);
    if (!pParse) return;
    if (!gst_element_sync_state_with_parent(pParse)) qWarning("video_control: parsebin does not start");
    gst_pad_link(pPad, GstPtr<GstPad>(gst_element_get_static_pad(pParse, "sink")).get());
}

// Any thread: a decoder shows no picture decoded from missing data (the
// first pictures after joining a live stream), a depayloader starts at a key
// frame.
void tuneElement(GstBin*, GstBin*, GstElement* pElement, gpointer pData) {
    GstElementFactory* pFactory = gst_element_get_factory(pElement);
    if (pFactory && gst_element_factory_list_is_type(pFactory, GST_ELEMENT_FACTORY_TYPE_DECODER |
                                                                   GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO |
                                                                   GST_ELEMENT_FACTORY_TYPE_MEDIA_IMAGE)) {
        auto* pBridge = static_cast<Bridge*>(pData);
        std::lock_guard<std::mutex> lock(pBridge->mutex);
        pBridge->strDecoder = QString::fromUtf8(GST_OBJECT_NAME(pFactory));
    }
    GObjectClass* pClass = G_OBJECT_GET_CLASS(pElement);
    if (g_object_class_find_property(pClass, "output-corrupt"))
        g_object_set(pElement, "output-corrupt", FALSE, nullptr);
    if (g_object_class_find_property(pClass, "wait-for-keyframe"))
        g_object_set(pElement, "wait-for-keyframe", TRUE, nullptr);
}

// Any thread: every message of the pipeline. The handler owns the message
// when it drops it; each one holds its source, so a message kept by mistake
// keeps the whole pipeline (and its sockets) alive.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* pMessage, gpointer pData) {
    GstPtr<GstMessage> pOwned(pMessage);
    auto* pBridge = static_cast<Bridge*>(pData);
    const GstMessageType eType = GST_MESSAGE_TYPE(pMessage);
    switch (eType) {
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_CLOCK_LOST:
    case GST_MESSAGE_BUFFERING:
    case GST_MESSAGE_LATENCY: break;
    default: return GST_BUS_DROP;
    }
    std::lock_guard<std::mutex> lock(pBridge->mutex);
    // A failing recording stops taking data at once, so that its failure
    // does not travel up into the playback.
    if (eType == GST_MESSAGE_ERROR && pBridge->pRecorder && pBridge->pRecorder->owns(GST_MESSAGE_SRC(pMessage)))
        pBridge->pRecorder->markFailed();
    if (pBridge->pOwner) pBridge->postMessage(std::move(pOwned));
    return GST_BUS_DROP;
}

}  // namespace

QJsonObject PlaySource::parse(const QJsonObject& request, PlaySource* pSource) {
    const QString strUrl = request.value(QStringLiteral("url")).toString().trimmed();
    if (strUrl.isEmpty()) return errorResult(Error::BadUrl, QStringLiteral("\"url\" is missing"));
    PlaySource source;
    const QUrl url(strUrl, QUrl::StrictMode);
    const QString strScheme = url.scheme().toLower();
    // A Windows drive letter parses as a one-letter scheme.
    if (strScheme.isEmpty() || strScheme.size() == 1 || strScheme == QLatin1String("file")) {
        source.eKind = PlaySource::Kind::File;
        source.strLocation = strScheme == QLatin1String("file") ? url.toLocalFile() : strUrl;
        if (source.strLocation.isEmpty())
            return errorResult(Error::BadUrl, QStringLiteral("not a file url: %1").arg(strUrl));
        if (!QFileInfo(source.strLocation).isFile())
            return errorResult(Error::Unreachable, QStringLiteral("no such file: %1").arg(source.strLocation));
    } else {
        if (strScheme == QLatin1String("rtsp") || strScheme == QLatin1String("rtsps")) {
            source.eKind = PlaySource::Kind::Rtsp;
        } else if (strScheme == QLatin1String("http") || strScheme == QLatin1String("https")) {
            source.eKind = PlaySource::Kind::Http;
        } else {
            return errorResult(Error::BadUrl, QStringLiteral("unsupported scheme \"%1\"").arg(url.scheme()));
        }
        if (!url.isValid() || url.host().isEmpty()) return errorResult(Error::BadUrl, QStringLiteral("malformed url"));
        source.strUser = url.userName(QUrl::FullyDecoded);
        source.strPassword = url.password(QUrl::FullyDecoded);
        source.strLocation = url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
    }
    const QJsonValue user = request.value(QStringLiteral("username"));
    const QJsonValue password = request.value(QStringLiteral("password"));
    if (user.isString()) source.strUser = user.toString();
    if (password.isString()) source.strPassword = password.toString();
    const QJsonValue live = request.value(QStringLiteral("live"));
    source.bLive = live.isBool() ? live.toBool() : source.eKind == PlaySource::Kind::Rtsp;
    *pSource = source;
    return QJsonObject();
}

QJsonObject preferredDecoders() {
    QJsonObject decoders;
    g_autolist(GstElementFactory) pDecoders = gst_element_factory_list_get_elements(
        static_cast<GstElementFactoryListType>(GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO |
                                               GST_ELEMENT_FACTORY_TYPE_MEDIA_IMAGE),
        GST_RANK_MARGINAL);
    // Highest rank first: the one decodebin picks.
    pDecoders = g_list_sort(pDecoders, gst_plugin_feature_rank_compare_func);
    for (const auto& codec : kCodecs) {
        const GstPtr<GstCaps> pCaps(gst_caps_from_string(codec.szMedia));
        g_autolist(GstElementFactory) pFitting =
            gst_element_factory_list_filter(pDecoders, pCaps.get(), GST_PAD_SINK, FALSE);
        if (pFitting) {
            auto* pFactory = static_cast<GstElementFactory*>(pFitting->data);
            const QString strKlass =
                QString::fromUtf8(gst_element_factory_get_metadata(pFactory, GST_ELEMENT_METADATA_KLASS));
            decoders.insert(QString::fromLatin1(codec.szName),
                            QJsonObject{{"element", QString::fromUtf8(GST_OBJECT_NAME(pFactory))},
                                        {"hardware", strKlass.contains(QLatin1String("Hardware"))}});
        }
    }
    return decoders;
}

QStringList decodableCodecs() {
    QStringList codecs;
    g_autolist(GstElementFactory) pDecoders =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    for (const auto& codec : kCodecs) {
        const GstPtr<GstCaps> pCaps(gst_caps_from_string(codec.szMedia));
        g_autolist(GstElementFactory) pFitting =
            gst_element_factory_list_filter(pDecoders, pCaps.get(), GST_PAD_SINK, FALSE);
        if (pFitting) codecs << QString::fromLatin1(codec.szName);
    }
    return codecs;
}

namespace {

// Every player of the process (GUI thread).
QList<const Player*>& players() {
    static QList<const Player*> s_players;
    return s_players;
}

}  // namespace

Player::Player(QObject* pParent) : QObject(pParent), m_machine(*this, m_clock) {
    players().append(this);
    m_clock.attach(&m_machine);
}

Player::~Player() {
    players().removeOne(this);
    testSeam().pretendPlaying.remove(this);
    if (m_pRecorder) finishRecording();
    teardown();
}

bool Player::isPlaying() const {
    const State eState = state();
    return eState == State::Connecting || eState == State::Playing || eState == State::Paused ||
           eState == State::Reconnecting || testSeam().pretendPlaying.contains(this);
}

bool Player::admit(QJsonObject* pError) const {
    int iPlaying = 0;
    for (const Player* pPlayer : qAsConst(players())) {
        if (pPlayer != this && pPlayer->isPlaying()) ++iPlaying;
    }
    if (iPlaying >= kMaxPlaying) {
        *pError = errorResult(Error::TooManyStreams,
                              QStringLiteral("%1 play windows play already; stop one first").arg(iPlaying));
        return false;
    }
    return admitDescriptors(kPlayDescriptors, QStringLiteral("a stream"), pError);
}

void Player::play(const PlaySource& source, const ReconnectPolicy& policy) {
    stop();
    m_iRangeStartMs = m_iRangeEndMs = -1;
    m_source = source;
    PlayerStateMachine::Source machineSource;
    machineSource.bLive = source.bLive;
    machineSource.bTimesOut = source.eKind == PlaySource::Kind::Http && !source.bLive;
    m_machine.play(machineSource, policy);
}

QJsonObject Player::startPipeline(bool bPreroll) {
    teardown();
    QJsonObject refused;
    // Refused now: the machine fails a first start and retries a reconnection.
    if (!admitDescriptors(kPlayDescriptors, QStringLiteral("a stream"), &refused)) return refused;
    m_dRate = 1.0;
    m_pBridge = std::make_shared<Bridge>();
    Bridge& bridge = *m_pBridge;
    bridge.pOwner = this;
    bridge.bLive = m_source.bLive;
    bridge.bSoundOn = m_bSoundOn;
    bridge.iVolume = m_iVolume;
    bridge.outputSize = m_outputSize;
    const int iPreRecordSeconds = m_source.bLive ? settingNumber(Setting::PreRecordSeconds) : 0;
    if (iPreRecordSeconds > 0) bridge.pPreRecord = std::make_shared<PreRecordBuffer>(iPreRecordSeconds);
    m_pPipeline = gstSink(gst_pipeline_new(nullptr));
    bridge.pPipeline = m_pPipeline.get();
    g_signal_connect(m_pPipeline.get(), "deep-element-added", G_CALLBACK(tuneElement), &bridge);
    gst_bus_set_sync_handler(GstPtr<GstBus>(gst_element_get_bus(m_pPipeline.get())).get(), onBusMessage, &bridge,
                             nullptr);

    const QByteArray location = m_source.strLocation.toUtf8();
    const QByteArray user = m_source.strUser.toUtf8();
    const QByteArray password = m_source.strPassword.toUtf8();
    GstElement* pSource = nullptr;
    switch (m_source.eKind) {
    case PlaySource::Kind::Rtsp:
        pSource = make("rtspsrc");
        if (pSource) {
            // UDP first; rtspsrc falls back to TCP when no UDP data comes.
            g_object_set(pSource, "location", location.constData(), "latency", 0u, nullptr);
            g_signal_connect(pSource, "pad-added", G_CALLBACK(onSourcePad), &bridge);
        }
        break;
    case PlaySource::Kind::Http:
        pSource = make("souphttpsrc");
        if (pSource) g_object_set(pSource, "location", location.constData(), "is-live", m_source.bLive, nullptr);
        break;
    case PlaySource::Kind::File:
        pSource = make("filesrc");
        if (pSource) g_object_set(pSource, "location", QFile::encodeName(m_source.strLocation).constData(), nullptr);
        break;
    }
    if (!pSource) return errorResult(Error::UnsupportedCodec, QStringLiteral("no GStreamer source for this url"));
    if (!user.isEmpty() && m_source.eKind != PlaySource::Kind::File)
        g_object_set(pSource, "user-id", user.constData(), "user-pw", password.constData(), nullptr);
    // The pipeline takes the new (floating) element.
    gst_bin_add(GST_BIN(m_pPipeline.get()), pSource);
    if (m_source.eKind != PlaySource::Kind::Rtsp) {
        GstElement* pParse = addParser(m_pPipeline.get(), &bridge);
        if (pParse) gst_element_link(pSource, pParse);
    }
    // A failure to start posts an error too, handled like any other (it
    // comes through the bus, after this returns). Files and HTTP preroll
    // first (their sinks are made while prerolling, so that they pause like
    // any sink later) and play once prerolled.
    if (gst_element_set_state(m_pPipeline.get(), bPreroll ? GST_STATE_PAUSED : GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE)
        qInfo("video_control: %s does not start", qPrintable(m_source.strLocation));
    return QJsonObject();
}

bool Player::setPipelineState(PipelineState eState) {
    return m_pPipeline && gst_element_set_state(m_pPipeline.get(), eState == PipelineState::Playing
                                                                       ? GST_STATE_PLAYING
                                                                       : GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
}

void Player::recalculateLatency() {
    if (m_pPipeline && !gst_bin_recalculate_latency(GST_BIN(m_pPipeline.get())))
        qInfo("video_control: the latency of %s was not recalculated", qPrintable(m_source.strLocation));
}

void Player::raise(const QString& strEvent, const QJsonObject& extra) {
    emit sigStreamEvent(strEvent, extra);
}

void Player::teardown() {
    if (!m_pBridge) return;
    {
        std::lock_guard<std::mutex> lock(m_pBridge->mutex);
        m_pBridge->pOwner = nullptr;
        m_pBridge->pRecorder = nullptr;
    }
    // A recording not finished by now goes without its end.
    m_pRecorder.reset();
    // Stops and joins every streaming thread of the pipeline; after this
    // nothing of it runs, so the bridge and the pipeline go here, on the GUI
    // thread (calls still queued hold the bridge and find no owner).
    if (gst_element_set_state(m_pPipeline.get(), GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE)
        qWarning("video_control: a pipeline did not stop");
    gst_bus_set_sync_handler(GstPtr<GstBus>(gst_element_get_bus(m_pPipeline.get())).get(), nullptr, nullptr, nullptr);
    m_pPipeline.reset();
    m_pBridge.reset();
}

void Player::stop(const QString& strReason) {
    testSeam().pretendPlaying.remove(this);
    m_dRate = 1.0;
    m_iPositionMs = -1;
    m_machine.stop(strReason);
}

void Player::endRecording() {
    if (m_pRecorder) emit sigStreamEvent(QStringLiteral("recordStopped"), finishRecording());
}

bool Player::takeFrame(QImage* pImage, qint64* pPositionMs) {
    if (!m_pBridge) return false;
    std::lock_guard<std::mutex> lock(m_pBridge->mutex);
    m_pBridge->bFramePosted = false;
    if (m_pBridge->image.isNull()) return false;
    pImage->swap(m_pBridge->image);
    *pPositionMs = m_iPositionMs = m_pBridge->iPositionMs;
    return true;
}

void Player::onFrame() {
    m_machine.handle(PlayerStateMachine::Event::Frame);
    if (!m_fpsWindow.isValid()) m_fpsWindow.start();
    ++m_iFramesCounted;
    if (m_fpsWindow.elapsed() >= 1000) {
        m_dMeasuredFps = m_iFramesCounted * 1000.0 / m_fpsWindow.restart();
        m_iFramesCounted = 0;
    }
    emit sigFrameReady();
}

void Player::onConnected() {
    m_machine.handle(PlayerStateMachine::Event::Connected);
}

void Player::onMessage(GstMessage* pMessage) {
    switch (GST_MESSAGE_TYPE(pMessage)) {
    case GST_MESSAGE_ERROR: {
        g_autoptr(GError) pError = nullptr;
        gst_message_parse_error(pMessage, &pError, nullptr);
        const Error eError = errorOf(pError);
        const QString strText = QString::fromUtf8(pError->message);
        if (m_pRecorder && m_pRecorder->owns(GST_MESSAGE_SRC(pMessage))) {
            // The recording failed (a full disk, say); playback goes on.
            QJsonObject extra = errorResult(eError == Error::DiskFull ? eError : Error::FileError, strText);
            extra.insert(QStringLiteral("path"), QDir::toNativeSeparators(m_pRecorder->path()));
            {
                std::lock_guard<std::mutex> lock(m_pBridge->mutex);
                m_pBridge->pRecorder = nullptr;
            }
            const qint64 iRecordedMs = m_pRecorder->durationMs();
            m_pRecorder.reset();
            emit sigStreamEvent(QStringLiteral("error"), extra);
            extra.insert(QStringLiteral("duration"), iRecordedMs);
            emit sigStreamEvent(QStringLiteral("recordStopped"), extra);
        } else {
            PlayerStateMachine::EventData data;
            data.eError = eError;
            data.strText = strText;
            m_machine.handle(PlayerStateMachine::Event::Error, data);
        }
        break;
    }
    case GST_MESSAGE_WARNING: {
        g_autoptr(GError) pError = nullptr;
        gst_message_parse_warning(pMessage, &pError, nullptr);
        qInfo("video_control: warning from %s: %s", GST_MESSAGE_SRC_NAME(pMessage), pError->message);
        break;
    }
    case GST_MESSAGE_EOS: {
        PlayerStateMachine::EventData data;
        data.strText = QStringLiteral("end of stream");
        m_machine.handle(PlayerStateMachine::Event::Eos, data);
        break;
    }
    case GST_MESSAGE_ASYNC_DONE:
        applyPendingRange();
        m_machine.handle(PlayerStateMachine::Event::AsyncDone);
        break;
    case GST_MESSAGE_CLOCK_LOST: m_machine.handle(PlayerStateMachine::Event::ClockLost); break;
    case GST_MESSAGE_LATENCY: m_machine.handle(PlayerStateMachine::Event::Latency); break;
    case GST_MESSAGE_BUFFERING: {
        gint iPercent = 100;
        gst_message_parse_buffering(pMessage, &iPercent);
        m_machine.buffering(iPercent);
        break;
    }
    default: break;
    }
}

bool Player::isSeekable() const {
    if (!m_pPipeline || m_source.bLive) return false;
    const GstPtr<GstQuery> pQuery(gst_query_new_seeking(GST_FORMAT_TIME));
    gboolean bSeekable = FALSE;
    if (gst_element_query(m_pPipeline.get(), pQuery.get()))
        gst_query_parse_seeking(pQuery.get(), nullptr, &bSeekable, nullptr, nullptr);
    return bSeekable;
}

Error Player::seek(double dRate, qint64 iFromNs) {
    // The part that plays: the range when one is set, else the whole file.
    // Forwards it runs from iFromNs to the range's end, backwards from
    // iFromNs down to the range's start.
    const qint64 iLowNs = m_iRangeStartMs >= 0 ? m_iRangeStartMs * GST_MSECOND : 0;
    const qint64 iHighNs = m_iRangeEndMs >= 0 ? m_iRangeEndMs * GST_MSECOND : -1;
    const auto eFlags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    // A stop of -1 plays to the end, whatever played before.
    const bool bDone =
        dRate > 0 ? gst_element_seek(m_pPipeline.get(), dRate, GST_FORMAT_TIME, eFlags, GST_SEEK_TYPE_SET,
                                     qMax(iFromNs, iLowNs), GST_SEEK_TYPE_SET, iHighNs)
                  : gst_element_seek(m_pPipeline.get(), dRate, GST_FORMAT_TIME, eFlags, GST_SEEK_TYPE_SET, iLowNs,
                                     iFromNs >= 0 ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_END, iFromNs >= 0 ? iFromNs : 0);
    return bDone ? Error::None : Error::NotSeekable;
}

Error Player::pause() {
    return m_machine.pause();
}

Error Player::resume() {
    return m_machine.resume();
}

Error Player::setRate(double dRate) {
    if (!m_pPipeline) return Error::NothingPlaying;
    if (!isSeekable()) return Error::NotSeekable;
    gint64 iPositionNs = m_iPositionMs >= 0 ? m_iPositionMs * GST_MSECOND : 0;
    if (m_iPositionMs < 0) gst_element_query_position(m_pPipeline.get(), GST_FORMAT_TIME, &iPositionNs);
    const Error eError = seek(dRate, iPositionNs);
    if (eError == Error::None) m_dRate = dRate;
    return eError;
}

Error Player::stepFrame() {
    if (!m_pPipeline) return Error::NothingPlaying;
    if (!isSeekable()) return Error::NotSeekable;
    if (state() != State::Paused) pause();
    GstPtr<GstElement> pSink;
    {
        std::lock_guard<std::mutex> lock(m_pBridge->mutex);
        pSink = gstRef(m_pBridge->pAppSink);
    }
    if (!pSink) return Error::NothingPlaying;
    gst_element_send_event(pSink.get(), gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE));
    return Error::None;
}

Error Player::setRange(qint64 iStartMs, qint64 iEndMs) {
    if (m_source.bLive && m_pPipeline) return Error::NotSeekable;
    m_iPendingStartMs = iStartMs;
    m_iPendingEndMs = iEndMs;
    if (state() == State::Playing || state() == State::Paused) applyPendingRange();
    return Error::None;
}

void Player::applyPendingRange() {
    if (m_iPendingStartMs < 0 || !isSeekable()) return;
    m_iRangeStartMs = std::exchange(m_iPendingStartMs, -1);
    m_iRangeEndMs = std::exchange(m_iPendingEndMs, -1);
    // Forwards from the range's start, backwards from its end (the file's
    // end without one).
    seek(m_dRate, m_dRate > 0 ? m_iRangeStartMs * GST_MSECOND : m_iRangeEndMs >= 0 ? m_iRangeEndMs * GST_MSECOND : -1);
}

QJsonObject Player::status() const {
    QJsonObject status{{"state", stateText(state())}, {"rate", m_dRate},          {"url", m_source.strLocation},
                       {"live", m_source.bLive},      {"seekable", isSeekable()}, {"position", m_iPositionMs}};
    if (!m_pPipeline) return status;
    GstPtr<GstElement> pTee;
    GstPtr<GstElement> pSink;
    {
        std::lock_guard<std::mutex> lock(m_pBridge->mutex);
        if (!m_pBridge->strDecoder.isEmpty()) status.insert(QStringLiteral("decoder"), m_pBridge->strDecoder);
        pTee = gstRef(m_pBridge->pTee);
        pSink = gstRef(m_pBridge->pAppSink);
    }
    double dFps = m_dMeasuredFps;
    if (pSink) {
        const GstPtr<GstPad> pPad(gst_element_get_static_pad(pSink.get(), "sink"));
        if (const GstPtr<GstCaps> pCaps{gst_pad_get_current_caps(pPad.get())}) {
            GstVideoInfo info;
            if (gst_video_info_from_caps(&info, pCaps.get())) {
                status.insert(QStringLiteral("width"), GST_VIDEO_INFO_WIDTH(&info));
                status.insert(QStringLiteral("height"), GST_VIDEO_INFO_HEIGHT(&info));
                if (GST_VIDEO_INFO_FPS_N(&info) > 0 && GST_VIDEO_INFO_FPS_D(&info) > 0)
                    dFps = static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info);
            }
        }
    }
    status.insert(QStringLiteral("fps"), dFps);
    if (pTee) {
        const GstPtr<GstPad> pPad(gst_element_get_static_pad(pTee.get(), "sink"));
        if (const GstPtr<GstCaps> pCaps{gst_pad_get_current_caps(pPad.get())})
            status.insert(QStringLiteral("codec"),
                          codecName(gst_structure_get_name(gst_caps_get_structure(pCaps.get(), 0))));
    }
    gint64 iDurationNs = -1;
    if (!m_source.bLive && gst_element_query_duration(m_pPipeline.get(), GST_FORMAT_TIME, &iDurationNs) &&
        iDurationNs >= 0)
        status.insert(QStringLiteral("duration"), static_cast<qint64>(iDurationNs / GST_MSECOND));
    return status;
}

QJsonObject Player::startRecording(const QString& strPath, bool bMatroska) {
    if (m_pRecorder) return errorResult(Error::AlreadyRecording);
    GstElement* pTee = nullptr;
    if (m_pBridge) {
        std::lock_guard<std::mutex> lock(m_pBridge->mutex);
        pTee = m_pBridge->pTee;
    }
    if (!pTee) return errorResult(Error::NothingPlaying, QStringLiteral("no video to record yet"));
    QJsonObject error;
    m_pRecorder = Recorder::start(m_pPipeline.get(), pTee, strPath, bMatroska, m_pBridge->pPreRecord, &error);
    if (!m_pRecorder) return error;
    {
        std::lock_guard<std::mutex> lock(m_pBridge->mutex);
        m_pBridge->pRecorder = m_pRecorder.get();
    }
    return QJsonObject{{"path", QDir::toNativeSeparators(m_pRecorder->path())}};
}

QJsonObject Player::stopRecording() {
    if (!m_pRecorder) return errorResult(Error::NotRecording);
    const QJsonObject result = finishRecording();
    emit sigStreamEvent(QStringLiteral("recordStopped"), result);
    return result;
}

QJsonObject Player::finishRecording() {
    if (m_pBridge) {
        std::lock_guard<std::mutex> lock(m_pBridge->mutex);
        m_pBridge->pRecorder = nullptr;
    }
    QJsonObject result = m_pRecorder->finish();
    result.insert(QStringLiteral("path"), QDir::toNativeSeparators(m_pRecorder->path()));
    if (!result.contains(QStringLiteral("duration")))
        result.insert(QStringLiteral("duration"), m_pRecorder->durationMs());
    m_pRecorder.reset();
    return result;
}

QString Player::recordingPath() const {
    return m_pRecorder ? QDir::toNativeSeparators(m_pRecorder->path()) : QString();
}

qint64 Player::recordedMs() const {
    return m_pRecorder ? m_pRecorder->durationMs() : 0;
}

void Player::setSound(bool bOn, int iVolume) {
    m_bSoundOn = bOn;
    m_iVolume = iVolume;
    if (!m_pBridge) return;
    std::lock_guard<std::mutex> lock(m_pBridge->mutex);
    m_pBridge->bSoundOn = bOn;
    m_pBridge->iVolume = iVolume;
    if (m_pBridge->pVolume) g_object_set(m_pBridge->pVolume, "mute", !bOn, "volume", iVolume / 100.0, nullptr);
}

void Player::setOutputSize(const QSize& size) {
    m_outputSize = size;
    if (!m_pBridge) return;
    std::lock_guard<std::mutex> lock(m_pBridge->mutex);
    m_pBridge->outputSize = size;
    if (m_pBridge->pScaleCaps) g_object_set(m_pBridge->pScaleCaps, "caps", pictureCaps(size).get(), nullptr);
}

}  // namespace vc
