// The video library against a plain GStreamer pipeline with the same appsink,
// on live 1280x720 25 fps H.264 from camera-sim (port 28050), 1 and 4
// streams. The camera writes its capture time into every picture (40 black
// or white blocks); the delay is read back where the picture is painted:
// in the library's play window, and in a bare widget that paints what the
// plain pipeline's appsink gave it. Each run is a process of its own, so
// that its CPU time and memory are its own.
//
//   bench_video                       runs everything and prints the table
//   bench_video --run library|plain N one run, prints one JSON line
#include "CameraSimProcess.h"
#include "video_control.h"
#include "video_control_test.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr int kPort = 28050;
constexpr int kWarmUpMs = 3000;
constexpr int kMeasureMs = 8000;
constexpr int kStampBits = 40;
constexpr int kStampBlock = 16;

// Microseconds since the capture, read from the picture's blocks; -1 when
// the picture carries none.
qint64 ageOf(const QImage& picture) {
    if (picture.width() < kStampBits * kStampBlock || picture.height() < kStampBlock) return -1;
    quint64 uStamp = 0;
    for (int iBit = 0; iBit < kStampBits; ++iBit)
        uStamp = (uStamp << 1) | (qGray(picture.pixel(iBit * kStampBlock + kStampBlock / 2, kStampBlock / 2)) > 128);
    const quint64 uMask = (quint64(1) << kStampBits) - 1;
    return static_cast<qint64>((static_cast<quint64>(g_get_real_time()) - uStamp) & uMask);
}

struct Samples {
    std::vector<qint64> delaysUs;
    std::vector<qint64> firstFrameMs;
    bool bMeasuring = false;
    QElapsedTimer sinceStart;

    void add(qint64 iAgeUs) {
        if (bMeasuring && iAgeUs >= 0 && iAgeUs < 10 * 1000 * 1000) delaysUs.push_back(iAgeUs);
    }
};
Samples s_samples;
std::vector<bool> s_firstSeen;

void onLibraryPaint(QWidget*, int iWndIndex, const QImage& picture) {
    if (!s_firstSeen[iWndIndex]) {
        s_firstSeen[iWndIndex] = true;
        s_samples.firstFrameMs.push_back(s_samples.sinceStart.elapsed());
    }
    s_samples.add(ageOf(picture));
}

struct HeldBuffer {
    GstBuffer* pBuffer;
    GstMapInfo map;
};

void releaseBuffer(void* pData) {
    auto* pHeld = static_cast<HeldBuffer*>(pData);
    gst_buffer_unmap(pHeld->pBuffer, &pHeld->map);
    gst_buffer_unref(pHeld->pBuffer);
    delete pHeld;
}

// The sample's BGRx picture as an image that keeps the buffer mapped.
QImage imageOf(GstSample* pSample) {
    GstStructure* pCaps = gst_caps_get_structure(gst_sample_get_caps(pSample), 0);
    int iWidth = 0;
    int iHeight = 0;
    gst_structure_get_int(pCaps, "width", &iWidth);
    gst_structure_get_int(pCaps, "height", &iHeight);
    auto* pHeld = new HeldBuffer{gst_buffer_ref(gst_sample_get_buffer(pSample)), GstMapInfo()};
    gst_buffer_map(pHeld->pBuffer, &pHeld->map, GST_MAP_READ);
    return QImage(pHeld->map.data, iWidth, iHeight, iWidth * 4, QImage::Format_RGB32, releaseBuffer, pHeld);
}

// The plain way: the same appsink, its newest picture painted by a bare
// widget.
class PlainView : public QWidget {
public:
    PlainView(const QString& strUrl, int iIndex) : m_iIndex(iIndex) {
        const QByteArray line = "rtspsrc latency=0 location=" + strUrl.toUtf8() +
                                " ! decodebin ! videoconvert ! video/x-raw,format=BGRx ! "
                                "appsink name=sink max-buffers=1 drop=true sync=false";
        m_pPipeline = gst_parse_launch(line.constData(), nullptr);
        GstElement* pSink = gst_bin_get_by_name(GST_BIN(m_pPipeline), "sink");
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = onSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(pSink), &callbacks, this, nullptr);
        gst_object_unref(pSink);
        gst_element_set_state(m_pPipeline, GST_STATE_PLAYING);
    }
    ~PlainView() override {
        gst_element_set_state(m_pPipeline, GST_STATE_NULL);
        gst_object_unref(m_pPipeline);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QImage picture;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            picture = m_picture;
            m_bPosted = false;
        }
        QPainter painter(this);
        if (picture.isNull()) return;
        painter.drawImage(rect(), picture);
        if (!s_firstSeen[m_iIndex]) {
            s_firstSeen[m_iIndex] = true;
            s_samples.firstFrameMs.push_back(s_samples.sinceStart.elapsed());
        }
        if (picture.cacheKey() != m_iLastKey) s_samples.add(ageOf(picture));
        m_iLastKey = picture.cacheKey();
    }

private:
    static GstFlowReturn onSample(GstAppSink* pSink, gpointer pData) {
        auto* pView = static_cast<PlainView*>(pData);
        GstSample* pSample = gst_app_sink_pull_sample(pSink);
        QImage picture = imageOf(pSample);
        gst_sample_unref(pSample);
        std::lock_guard<std::mutex> lock(pView->m_mutex);
        pView->m_picture = picture;
        if (!pView->m_bPosted) {
            pView->m_bPosted = true;
            QMetaObject::invokeMethod(
                pView, [pView]() { pView->update(); }, Qt::QueuedConnection);
        }
        return GST_FLOW_OK;
    }

    int m_iIndex;
    GstElement* m_pPipeline;
    std::mutex m_mutex;
    QImage m_picture;
    bool m_bPosted = false;
    qint64 m_iLastKey = 0;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double rssMiB() {
    QFile file(QStringLiteral("/proc/self/statm"));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 / (1024.0 * 1024.0) : 0;
}

qint64 percentile(std::vector<qint64> values, double dFraction) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(dFraction * values.size()))];
}

// One run in this process: prints {"p50", "p95", "cpu", "rss", "first",
// "samples"} on standard output.
int runOnce(const QString& strPath, int iStreams, const QString& strUrl) {
    // Memory per stream counts from here: GStreamer started, no stream yet.
    gst_init(nullptr, nullptr);
    const double dRssBefore = rssMiB();
    s_firstSeen.assign(iStreams, false);
    s_samples.sinceStart.start();
    std::vector<std::unique_ptr<QWidget>> views;
    if (strPath == QLatin1String("library")) {
        VC_Release(VC_Initialize(nullptr));
        VC_Test_SetPaintObserver(onLibraryPaint);
        auto pHost = std::make_unique<QWidget>();
        pHost->resize(1280, 720);
        pHost->show();
        VC_Release(VC_Initialize(pHost.get()));
        const QJsonDocument layout(QJsonObject{{"layout", iStreams}});
        VC_Release(VC_ArrangeWindow(pHost.get(), &layout));
        for (int i = 0; i < iStreams; ++i) {
            const QJsonDocument play(QJsonObject{{"url", strUrl}, {"wndIndex", i}});
            VC_Release(VC_Play(pHost.get(), &play));
        }
        views.push_back(std::move(pHost));
    } else {
        const int iColumns = iStreams == 1 ? 1 : 2;
        for (int i = 0; i < iStreams; ++i) {
            auto pView = std::make_unique<PlainView>(strUrl, i);
            pView->setGeometry((i % iColumns) * 1280 / iColumns, (i / iColumns) * 720 / iColumns, 1280 / iColumns,
                               720 / iColumns);
            pView->show();
            views.push_back(std::move(pView));
        }
    }
    double dCpuStart = 0;
    double dRss = 0;
    QTimer::singleShot(kWarmUpMs, [&]() {
        s_samples.bMeasuring = true;
        dCpuStart = cpuSeconds();
    });
    QTimer::singleShot(kWarmUpMs + kMeasureMs, [&]() {
        s_samples.bMeasuring = false;
        dRss = rssMiB();
        const double dCpu = (cpuSeconds() - dCpuStart) / (kMeasureMs / 1000.0) * 100.0;
        qint64 iFirst = 0;
        for (qint64 iMs : s_samples.firstFrameMs) iFirst = std::max(iFirst, iMs);
        const QJsonObject result{{"p50", percentile(s_samples.delaysUs, 0.5) / 1000.0},
                                 {"p95", percentile(s_samples.delaysUs, 0.95) / 1000.0},
                                 {"cpu", dCpu / iStreams},
                                 {"rss", (dRss - dRssBefore) / iStreams},
                                 {"first", static_cast<int>(s_samples.firstFrameMs.size()) == iStreams ? iFirst : -1},
                                 {"samples", static_cast<int>(s_samples.delaysUs.size())}};
        std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        qApp->quit();
    });
    const int iCode = qApp->exec();
    views.clear();
    return iCode;
}

QJsonObject runChild(const QString& strPath, int iStreams, const QString& strUrl) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--run"), strPath, QString::number(iStreams), strUrl});
    child.waitForFinished(kWarmUpMs + kMeasureMs + 30000);
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    return QJsonDocument::fromJson(lines.last()).object();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 5 && arguments[1] == QLatin1String("--run"))
        return runOnce(arguments[2], arguments[3].toInt(), arguments[4]);

    CameraSimProcess camera(QStringLiteral(CAMERA_SIM_BIN), kPort);
    if (!camera.start({QStringLiteral("--stamp")})) {
        std::fprintf(stderr, "bench_video: camera-sim did not start\n");
        return 1;
    }
    std::printf("live H.264 1280x720 25 fps from camera-sim on loopback; capture -> paint, %d s per run\n",
                kMeasureMs / 1000);
    std::printf("%-8s %-8s %10s %10s %12s %14s %12s %8s\n", "streams", "path", "p50 ms", "p95 ms", "CPU %/strm",
                "RSS MiB/strm", "1st frame ms", "samples");
    for (int iStreams : {1, 4}) {
        QJsonObject results[2];
        const char* kPaths[] = {"plain", "library"};
        for (int iPath = 0; iPath < 2; ++iPath) {
            results[iPath] = runChild(QString::fromLatin1(kPaths[iPath]), iStreams, camera.url());
            const QJsonObject& r = results[iPath];
            std::printf("%-8d %-8s %10.1f %10.1f %12.1f %14.1f %12d %8d\n", iStreams, kPaths[iPath],
                        r.value("p50").toDouble(), r.value("p95").toDouble(), r.value("cpu").toDouble(),
                        r.value("rss").toDouble(), r.value("first").toInt(), r.value("samples").toInt());
        }
        const auto ratio = [&](const char* szKey) {
            const double dPlain = results[0].value(szKey).toDouble();
            return dPlain > 0 ? results[1].value(szKey).toDouble() / dPlain : 0.0;
        };
        std::printf("%-8d ratio    %9.2fx %9.2fx %11.2fx   (library / plain; delay aim <= 1.2x%s)\n", iStreams,
                    ratio("p50"), ratio("p95"), ratio("cpu"), iStreams == 4 ? ", 4 streams < 40 % of a core" : "");
    }
    return 0;
}
