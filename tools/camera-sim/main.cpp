// camera-sim: a small RTSP camera for trying and testing the video library.
// Serves a live test picture (colour bars and a clock) at
// rtsp://127.0.0.1:<port>/<path>, H.264 by default, H.265 or MJPEG on
// request, optionally with a 440 Hz tone on an audio track. It can stop
// serving after a while (every client is dropped and the port closes) and
// come back later, to test reconnection, and can ask for credentials.
//
// Prints "ready <url>" on standard output once it listens, "stopped" and
// "restarted" when it goes away and comes back.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <gst/video/video.h>
#include <glib-unix.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
    int iPort = 8554;
    std::string strPath = "/live";
    std::string strCodec = "h264";
    int iWidth = 1280;
    int iHeight = 720;
    int iFps = 25;
    int iGop = 25;
    bool bAudio = false;
    bool bStamp = false;
    bool bStampBottom = false;  // a second copy of the stamp near the bottom
    double dStopAfter = 0;
    double dRestartAfter = 0;
    std::string strUser;
    std::string strPassword;
};

struct Camera {
    Options options;
    GstRTSPServer* pServer = nullptr;
    GSource* pListenSource = nullptr;
    GMainLoop* pLoop = nullptr;
};

// Number of bits of the capture time written into each frame, and the side
// of one block in pixels (16, a whole macroblock, so that coding keeps it).
constexpr int kStampBits = 40;
constexpr int kStampBlock = 16;

// Writes the capture time (microseconds of the real-time clock, low 40 bits)
// into an I420 frame as black and white blocks, most significant bit first,
// so that a receiver can tell how old a picture is: in the top rows, and
// with --stamp-bottom again one block above the bottom rows (where a player
// that draws labels at the top or a frame around the picture leaves it
// alone).
void writeStamp(GstVideoFrame& frame, guint64 uNow, int iTop) {
    for (int iPlane = 0; iPlane < 3; ++iPlane) {
        auto* pData = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, iPlane));
        const int iStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, iPlane);
        const int iScale = iPlane == 0 ? 1 : 2;  // chroma planes are half size
        for (int iBit = 0; iBit < kStampBits; ++iBit) {
            const bool bOne = (uNow >> (kStampBits - 1 - iBit)) & 1u;
            const guint8 uValue = iPlane == 0 ? (bOne ? 235 : 16) : 128;
            for (int y = iTop / iScale; y < (iTop + kStampBlock) / iScale; ++y)
                std::memset(pData + y * iStride + iBit * kStampBlock / iScale, uValue, kStampBlock / iScale);
        }
    }
}

GstPadProbeReturn stampFrame(GstPad* pPad, GstPadProbeInfo* pInfo, gpointer pOptions) {
    const guint64 uNow = static_cast<guint64>(g_get_real_time());
    GstBuffer* pBuffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(pInfo));
    GST_PAD_PROBE_INFO_DATA(pInfo) = pBuffer;
    GstCaps* pCaps = gst_pad_get_current_caps(pPad);
    GstVideoInfo info;
    const bool bInfo = pCaps && gst_video_info_from_caps(&info, pCaps);
    if (pCaps) gst_caps_unref(pCaps);
    GstVideoFrame frame;
    if (!bInfo || GST_VIDEO_INFO_WIDTH(&info) < kStampBits * kStampBlock ||
        GST_VIDEO_INFO_HEIGHT(&info) < 3 * kStampBlock || !gst_video_frame_map(&frame, &info, pBuffer, GST_MAP_WRITE))
        return GST_PAD_PROBE_OK;
    writeStamp(frame, uNow, 0);
    if (static_cast<const Options*>(pOptions)->bStampBottom)
        writeStamp(frame, uNow, (GST_VIDEO_INFO_HEIGHT(&info) / kStampBlock - 2) * kStampBlock);
    gst_video_frame_unmap(&frame);
    return GST_PAD_PROBE_OK;
}

void onMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* pMedia, gpointer pOptions) {
    GstElement* pBin = gst_rtsp_media_get_element(pMedia);
    // Without this the pipeline holds every frame by the encoder's latency
    // before it is sent.
    if (GstObject* pParent = gst_object_get_parent(GST_OBJECT(pBin))) {
        if (GST_IS_PIPELINE(pParent)) gst_pipeline_set_latency(GST_PIPELINE(pParent), 0);
        gst_object_unref(pParent);
    }
    if (!static_cast<const Options*>(pOptions)->bStamp) {
        gst_object_unref(pBin);
        return;
    }
    if (GstElement* pStamp = gst_bin_get_by_name(GST_BIN(pBin), "stamp")) {
        GstPad* pPad = gst_element_get_static_pad(pStamp, "src");
        gst_pad_add_probe(pPad, GST_PAD_PROBE_TYPE_BUFFER, stampFrame, pOptions, nullptr);
        gst_object_unref(pPad);
        gst_object_unref(pStamp);
    }
    gst_object_unref(pBin);
}

std::string launchLine(const Options& options) {
    const std::string strRaw =
        "videotestsrc is-live=true pattern=smpte ! video/x-raw,format=I420,width=" + std::to_string(options.iWidth) +
        ",height=" + std::to_string(options.iHeight) + ",framerate=" + std::to_string(options.iFps) +
        "/1 ! clockoverlay halignment=right valignment=bottom "
        "font-desc=\"Sans 24\" time-format=\"%H:%M:%S\" ! identity name=stamp ! ";
    std::string strEncode;
    if (options.strCodec == "h265") {
        strEncode = "x265enc tune=zerolatency speed-preset=ultrafast key-int-max=" + std::to_string(options.iGop) +
                    " ! rtph265pay name=pay0 pt=96";
    } else if (options.strCodec == "mjpeg") {
        strEncode = "jpegenc quality=85 ! rtpjpegpay name=pay0 pt=26";
    } else {
        strEncode = "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=" + std::to_string(options.iGop) +
                    " ! rtph264pay name=pay0 pt=96 config-interval=-1";
    }
    std::string strAudio;
    if (options.bAudio)
        strAudio =
            " audiotestsrc is-live=true wave=sine freq=440 volume=0.3 ! audio/x-raw,rate=8000,channels=1 "
            "! alawenc ! rtppcmapay name=pay1 pt=8";
    return "( " + strRaw + strEncode + strAudio + " )";
}

GstRTSPServer* makeServer(const Options& options) {
    GstRTSPServer* pServer = gst_rtsp_server_new();
    gst_rtsp_server_set_address(pServer, "127.0.0.1");
    gst_rtsp_server_set_service(pServer, std::to_string(options.iPort).c_str());

    GstRTSPMediaFactory* pFactory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(pFactory, launchLine(options).c_str());
    gst_rtsp_media_factory_set_shared(pFactory, TRUE);
    // Without this every frame is held one frame before it is sent.
    gst_rtsp_media_factory_set_latency(pFactory, 0);
    g_signal_connect(pFactory, "media-configure", G_CALLBACK(onMediaConfigure), const_cast<Options*>(&options));

    if (!options.strUser.empty()) {
        GstRTSPAuth* pAuth = gst_rtsp_auth_new();
        gchar* szBasic = gst_rtsp_auth_make_basic(options.strUser.c_str(), options.strPassword.c_str());
        GstRTSPToken* pToken = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
        gst_rtsp_auth_add_basic(pAuth, szBasic, pToken);
        g_free(szBasic);
        gst_rtsp_token_unref(pToken);
        gst_rtsp_server_set_auth(pServer, pAuth);
        g_object_unref(pAuth);
        gst_rtsp_media_factory_add_role(pFactory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                        GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
    }

    GstRTSPMountPoints* pMounts = gst_rtsp_server_get_mount_points(pServer);
    gst_rtsp_mount_points_add_factory(pMounts, options.strPath.c_str(), pFactory);
    g_object_unref(pMounts);
    return pServer;
}

bool listen(Camera& camera) {
    GError* pError = nullptr;
    camera.pListenSource = gst_rtsp_server_create_source(camera.pServer, nullptr, &pError);
    if (!camera.pListenSource) {
        std::fprintf(stderr, "camera-sim: cannot listen on port %d: %s\n", camera.options.iPort,
                     pError ? pError->message : "unknown error");
        g_clear_error(&pError);
        return false;
    }
    g_source_attach(camera.pListenSource, nullptr);
    return true;
}

GstRTSPFilterResult dropClient(GstRTSPServer*, GstRTSPClient*, gpointer) {
    return GST_RTSP_FILTER_REMOVE;
}

gboolean restart(gpointer pData) {
    auto& camera = *static_cast<Camera*>(pData);
    camera.pServer = makeServer(camera.options);
    if (!listen(camera)) {
        g_main_loop_quit(camera.pLoop);
        return G_SOURCE_REMOVE;
    }
    std::printf("restarted\n");
    std::fflush(stdout);
    return G_SOURCE_REMOVE;
}

// The camera goes away: the port closes and every client is dropped.
gboolean stop(gpointer pData) {
    auto& camera = *static_cast<Camera*>(pData);
    g_source_destroy(camera.pListenSource);
    g_source_unref(camera.pListenSource);
    camera.pListenSource = nullptr;
    gst_rtsp_server_client_filter(camera.pServer, dropClient, nullptr);
    g_object_unref(camera.pServer);
    camera.pServer = nullptr;
    std::printf("stopped\n");
    std::fflush(stdout);
    if (camera.options.dRestartAfter > 0)
        g_timeout_add(static_cast<guint>(camera.options.dRestartAfter * 1000), restart, &camera);
    return G_SOURCE_REMOVE;
}

gboolean quitOnSignal(gpointer pData) {
    g_main_loop_quit(static_cast<GMainLoop*>(pData));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    gchar* szPath = nullptr;
    gchar* szCodec = nullptr;
    gchar* szSize = nullptr;
    gchar* szUser = nullptr;
    gchar* szPassword = nullptr;
    gboolean bAudio = FALSE;
    gboolean bStamp = FALSE;
    gboolean bStampBottom = FALSE;
    const GOptionEntry entries[] = {
        {"port", 0, 0, G_OPTION_ARG_INT, &options.iPort, "RTSP port on 127.0.0.1 (8554)", "N"},
        {"path", 0, 0, G_OPTION_ARG_STRING, &szPath, "mount path (/live)", "PATH"},
        {"codec", 0, 0, G_OPTION_ARG_STRING, &szCodec, "h264 (default), h265 or mjpeg", "CODEC"},
        {"size", 0, 0, G_OPTION_ARG_STRING, &szSize, "picture size (1280x720)", "WxH"},
        {"fps", 0, 0, G_OPTION_ARG_INT, &options.iFps, "frames per second (25)", "N"},
        {"gop", 0, 0, G_OPTION_ARG_INT, &options.iGop, "frames from one key frame to the next (25)", "N"},
        {"audio", 0, 0, G_OPTION_ARG_NONE, &bAudio, "add a 440 Hz tone (G.711 A-law)", nullptr},
        {"stamp", 0, 0, G_OPTION_ARG_NONE, &bStamp,
         "write the capture time into the top rows of every frame (40 blocks of 16x16)", nullptr},
        {"stamp-bottom", 0, 0, G_OPTION_ARG_NONE, &bStampBottom,
         "as --stamp, and the same blocks again one block above the bottom rows", nullptr},
        {"stop-after", 0, 0, G_OPTION_ARG_DOUBLE, &options.dStopAfter, "stop serving after S seconds", "S"},
        {"restart-after", 0, 0, G_OPTION_ARG_DOUBLE, &options.dRestartAfter, "serve again S seconds after stopping",
         "S"},
        {"user", 0, 0, G_OPTION_ARG_STRING, &szUser, "require this user (basic authentication)", "NAME"},
        {"password", 0, 0, G_OPTION_ARG_STRING, &szPassword, "password of --user", "TEXT"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    GOptionContext* pContext = g_option_context_new("- a live RTSP test camera");
    g_option_context_add_main_entries(pContext, entries, nullptr);
    g_option_context_add_group(pContext, gst_init_get_option_group());
    GError* pError = nullptr;
    if (!g_option_context_parse(pContext, &argc, &argv, &pError)) {
        std::fprintf(stderr, "camera-sim: %s\n", pError->message);
        return 2;
    }
    g_option_context_free(pContext);
    if (szPath) options.strPath = szPath[0] == '/' ? szPath : std::string("/") + szPath;
    if (szCodec) options.strCodec = szCodec;
    if (szSize && std::sscanf(szSize, "%dx%d", &options.iWidth, &options.iHeight) != 2) {
        std::fprintf(stderr, "camera-sim: --size wants WxH\n");
        return 2;
    }
    if (szUser) options.strUser = szUser;
    if (szPassword) options.strPassword = szPassword;
    options.bAudio = bAudio;
    options.bStamp = bStamp || bStampBottom;
    options.bStampBottom = bStampBottom;
    g_free(szPath);
    g_free(szCodec);
    g_free(szSize);
    g_free(szUser);
    g_free(szPassword);
    if (options.strCodec != "h264" && options.strCodec != "h265" && options.strCodec != "mjpeg") {
        std::fprintf(stderr, "camera-sim: unknown codec '%s'\n", options.strCodec.c_str());
        return 2;
    }
    Camera camera;
    camera.options = options;
    camera.pLoop = g_main_loop_new(nullptr, FALSE);
    camera.pServer = makeServer(camera.options);
    if (!listen(camera)) {
        g_object_unref(camera.pServer);
        g_main_loop_unref(camera.pLoop);
        return 1;
    }
    if (options.dStopAfter > 0) g_timeout_add(static_cast<guint>(options.dStopAfter * 1000), stop, &camera);
    g_unix_signal_add(SIGTERM, quitOnSignal, camera.pLoop);
    g_unix_signal_add(SIGINT, quitOnSignal, camera.pLoop);

    std::printf("ready rtsp://127.0.0.1:%d%s\n", options.iPort, options.strPath.c_str());
    std::fflush(stdout);
    g_main_loop_run(camera.pLoop);

    if (camera.pListenSource) {
        g_source_destroy(camera.pListenSource);
        g_source_unref(camera.pListenSource);
    }
    if (camera.pServer) g_object_unref(camera.pServer);
    g_main_loop_unref(camera.pLoop);
    return 0;
}
