// The video wall as an operator sees it. On a private Xvfb + openbox desktop
// the service (the release binary, driven over WebSocket as a page drives
// it) plays 1, 4, 9 and 16 tiles of camera-sim's live 1280x720 25 fps H.264
// in its native window, embedded in a 1280x720 stand-in browser window. The
// reference plays the same streams through bare GStreamer pipelines, one per
// tile, each drawing into an X window of the tile's place and size:
//
//   rtspsrc latency=0 ! rtph264depay ! h264parse ! avdec_h264 ! videoscale
//   ! video/x-raw,width=W,height=H ! videoconvert ! ximagesink sync=false
//
// all in one process, as the service holds all its tiles in one. A last run
// per round plays 16 tiles in the service with "setWndResolution" 320x180.
//
// Per run (a fresh process each): CPU of the process (utime + stime from
// /proc/<pid>/stat over the measured window) and of the X server, RSS at
// the end, pictures shown per second per tile, and source-to-screen delay:
// camera-sim (--stamp-bottom) writes its capture time into every frame as 40
// black or white blocks one block above the bottom rows, where the tiles'
// labels and frames leave the picture alone; the bench reads them back from
// the screen (one row of pixels per row of tiles, about every 3 ms) and
// takes a new stamp's age at the midpoint between the read that first shows
// it and the read before.
//
// Rounds interleave service and reference (the order swaps every round);
// each figure is the median over the rounds with its range, and each ratio
// is taken within a round. Timing is printed, never asserted.
//
//   bench_wall                              the whole comparison
//   bench_wall --one service|scaled|reference N
//                                           one run of N tiles; prints the
//                                           pid it measures first (to attach
//                                           a profiler: perf record -p PID)
//   bench_wall --reference URL XID:WxH ...  the reference pipelines (the
//                                           bench starts it)
//
// WALL_ROUNDS (default 3) and WALL_SECONDS (measured seconds per run,
// default 4); WALL_SERVICE_BIN runs another build of the service (to compare
// two builds with --one). Ports: the service 28470-28479, the camera 28480.
#include "CameraSimProcess.h"
#include "PageSocket.h"
#include "ServiceProcess.h"
#include "XDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QTest>

#include <gst/gst.h>
#include <gst/video/videooverlay.h>
#include <glib-unix.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <numeric>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kServicePort = 28470;
constexpr int kCameraPort = 28480;
constexpr int kWallWidth = 1280, kWallHeight = 720;
constexpr int kWarmUpMs = 2000;
constexpr int kReadyTimeoutMs = 20000;
constexpr int kPollUs = 3000;
// camera-sim's stamp: 40 bits of microseconds in blocks of 16 pixels of the
// 1280x720 picture, the bottom copy in rows 688-703.
constexpr int kStampBits = 40;
constexpr int kStampBlock = 16;
constexpr double kStampRow = 696.0 / 720.0;  // the middle of the bottom copy
constexpr qint64 kMaxAgeUs = 2000000;        // older: a misread stamp
const QSize kScaledSize(320, 180);

qint64 realTimeUs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// --- the reference ---------------------------------------------------------

gboolean quitLoop(gpointer pLoop) {
    g_main_loop_quit(static_cast<GMainLoop*>(pLoop));
    return G_SOURCE_REMOVE;
}

gboolean reportError(GstBus*, GstMessage* pMessage, gpointer) {
    if (GST_MESSAGE_TYPE(pMessage) == GST_MESSAGE_ERROR) {
        GError* pError = nullptr;
        gst_message_parse_error(pMessage, &pError, nullptr);
        std::fprintf(stderr, "bench_wall reference: %s\n", pError ? pError->message : "error");
        g_clear_error(&pError);
    }
    return G_SOURCE_CONTINUE;
}

// One pipeline per "XID:WxH" window, until SIGTERM.
int runReference(int argc, char** argv) {
    gst_init(nullptr, nullptr);
    std::vector<GstElement*> pipelines;
    for (int i = 3; i < argc; ++i) {
        unsigned long ulWindow = 0;
        int iWidth = 0, iHeight = 0;
        if (std::sscanf(argv[i], "%lu:%dx%d", &ulWindow, &iWidth, &iHeight) != 3) return 2;
        const QByteArray line = QStringLiteral(
                                    "rtspsrc latency=0 location=%1 ! rtph264depay ! h264parse ! avdec_h264 ! "
                                    "videoscale ! video/x-raw,width=%2,height=%3 ! videoconvert ! "
                                    "ximagesink name=sink sync=false")
                                    .arg(QString::fromUtf8(argv[2]))
                                    .arg(iWidth)
                                    .arg(iHeight)
                                    .toUtf8();
        GError* pError = nullptr;
        GstElement* pPipeline = gst_parse_launch(line.constData(), &pError);
        if (!pPipeline) {
            std::fprintf(stderr, "bench_wall reference: %s\n", pError ? pError->message : "no pipeline");
            return 1;
        }
        GstElement* pSink = gst_bin_get_by_name(GST_BIN(pPipeline), "sink");
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(pSink), ulWindow);
        gst_object_unref(pSink);
        GstBus* pBus = gst_element_get_bus(pPipeline);
        gst_bus_add_watch(pBus, reportError, nullptr);
        gst_object_unref(pBus);
        gst_element_set_state(pPipeline, GST_STATE_PLAYING);
        pipelines.push_back(pPipeline);
    }
    GMainLoop* pLoop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, quitLoop, pLoop);
    g_main_loop_run(pLoop);
    for (GstElement* pPipeline : pipelines) {
        gst_element_set_state(pPipeline, GST_STATE_NULL);
        GstBus* pBus = gst_element_get_bus(pPipeline);
        gst_bus_remove_watch(pBus);
        gst_object_unref(pBus);
        gst_object_unref(pPipeline);
    }
    g_main_loop_unref(pLoop);
    return 0;
}

// --- the wall ----------------------------------------------------------------

// The tiles of n play windows in a wall, as the service lays them out: rows
// of ceil(sqrt(n)) cells, edges at width * column / columns.
std::vector<QRect> tilesOf(int iCount) {
    const int iColumns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(iCount))));
    std::vector<int> rows;
    for (int iLeft = iCount; iLeft > 0; iLeft -= iColumns) rows.push_back(std::min(iLeft, iColumns));
    std::vector<QRect> tiles;
    for (size_t iRow = 0; iRow < rows.size(); ++iRow) {
        const int iTop = kWallHeight * static_cast<int>(iRow) / static_cast<int>(rows.size());
        const int iBottom = kWallHeight * static_cast<int>(iRow + 1) / static_cast<int>(rows.size());
        for (int iColumn = 0; iColumn < rows[iRow]; ++iColumn) {
            const int iLeft = kWallWidth * iColumn / rows[iRow];
            const int iRight = kWallWidth * (iColumn + 1) / rows[iRow];
            tiles.emplace_back(iLeft, iTop, iRight - iLeft, iBottom - iTop);
        }
    }
    return tiles;
}

// Reads the stamps of the tiles from the screen.
class ScreenStamps {
public:
    ScreenStamps(Display* pDisplay, const QPoint& ptOrigin, const std::vector<QRect>& tiles)
        : m_pDisplay(pDisplay), m_tiles(tiles), m_vecLast(tiles.size(), 0), m_vecShown(tiles.size(), 0) {
        for (QRect& rcTile : m_tiles) rcTile.translate(ptOrigin);
    }

    // Reads every tile once; new stamps count while bRecording.
    void poll(bool bRecording) {
        const qint64 iBefore = realTimeUs();
        // One row of pixels per row of tiles, across the stamps' blocks.
        std::map<int, std::pair<int, int>> spans;  // y: left, right
        for (const QRect& rcTile : m_tiles) {
            const int y = stampY(rcTile);
            const int iRight = rcTile.left() + kStampBits * kStampBlock * rcTile.width() / kWallWidth;
            const auto it = spans.find(y);
            spans[y] = it == spans.end() ? std::make_pair(rcTile.left(), iRight)
                                         : std::make_pair(std::min(it->second.first, rcTile.left()),
                                                          std::max(it->second.second, iRight));
        }
        std::map<int, XImage*> rows;
        for (const auto& span : spans)
            rows[span.first] =
                XGetImage(m_pDisplay, DefaultRootWindow(m_pDisplay), span.second.first, span.first,
                          static_cast<unsigned>(span.second.second - span.second.first), 1, AllPlanes, ZPixmap);
        const qint64 iNow = (iBefore + realTimeUs()) / 2;
        for (size_t i = 0; i < m_tiles.size(); ++i) {
            const QRect& rcTile = m_tiles[i];
            XImage* pRow = rows[stampY(rcTile)];
            if (!pRow) continue;
            const int iRowLeft = spans[stampY(rcTile)].first;
            quint64 uStamp = 0;
            for (int iBit = 0; iBit < kStampBits; ++iBit) {
                const int x = rcTile.left() + (iBit * kStampBlock + kStampBlock / 2) * rcTile.width() / kWallWidth;
                const unsigned long ulPixel = XGetPixel(pRow, x - iRowLeft, 0);
                const int iGrey =
                    static_cast<int>(((ulPixel >> 16) & 0xff) + ((ulPixel >> 8) & 0xff) + (ulPixel & 0xff)) / 3;
                uStamp = (uStamp << 1) | (iGrey > 128 ? 1u : 0u);
            }
            if (uStamp == m_vecLast[i]) continue;
            m_vecLast[i] = uStamp;
            const quint64 uMask = (quint64(1) << kStampBits) - 1;
            // Shown between the last read and this one.
            const qint64 iSeenUs = m_iLastPollUs ? (m_iLastPollUs + iNow) / 2 : iNow;
            const qint64 iAge = static_cast<qint64>((static_cast<quint64>(iSeenUs) - uStamp) & uMask);
            if (iAge >= kMaxAgeUs) {
                if (bRecording) ++m_iMisread;
                continue;
            }
            m_iFreshTiles |= quint64(1) << i;
            if (!bRecording) continue;
            m_vecAgesUs.push_back(iAge);
            ++m_vecShown[i];
        }
        for (auto& row : rows) {
            if (row.second) XDestroyImage(row.second);
        }
        m_iLastPollUs = iNow;
    }
    // Every tile showed a new picture with a plausible stamp since the last
    // call.
    bool allFresh() {
        const bool bAll = m_iFreshTiles == (m_tiles.size() >= 64 ? ~quint64(0) : (quint64(1) << m_tiles.size()) - 1);
        m_iFreshTiles = 0;
        return bAll;
    }
    std::vector<qint64> m_vecAgesUs;
    int m_iMisread = 0;
    // Pictures per tile while recording; the fewest.
    int fewestShown() const { return *std::min_element(m_vecShown.begin(), m_vecShown.end()); }
    int allShown() const { return std::accumulate(m_vecShown.begin(), m_vecShown.end(), 0); }

private:
    static int stampY(const QRect& rcTile) { return rcTile.top() + static_cast<int>(kStampRow * rcTile.height()); }

    Display* m_pDisplay;
    std::vector<QRect> m_tiles;
    std::vector<quint64> m_vecLast;
    std::vector<int> m_vecShown;
    qint64 m_iLastPollUs = 0;
    quint64 m_iFreshTiles = 0;
};

// utime + stime of a process, in seconds.
double cpuSeconds(qint64 iPid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(iPid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QByteArray baStat = file.readAll();
    const QList<QByteArray> fields = baStat.mid(baStat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A line of /proc/<pid>/status in MiB ("VmRSS", "RssAnon").
double statusMiB(qint64 iPid, const QByteArray& baKey) {
    QFile file(QStringLiteral("/proc/%1/status").arg(iPid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(baKey + ':'))
            return line.mid(baKey.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

struct RunResult {
    bool bOk = false;
    double dCpu = 0;             // % of one core
    double dXCpu = 0;            // the X server's, % of one core
    double dP50 = 0, dP95 = 0;   // ms
    double dFps = 0;             // pictures shown per second, the slowest tile
    double dCpuPerPicture = 0;   // ms of CPU per picture shown (any tile)
    double dRss = 0, dAnon = 0;  // MiB at the end
    int iMisread = 0;
};

double percentile(std::vector<qint64> values, double dFraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return static_cast<double>(values[std::min(values.size() - 1, static_cast<size_t>(dFraction * values.size()))]) /
           1000.0;
}

class Wall {
public:
    XDesktop m_desktop;
    unsigned long m_browser = 0;
    QPoint m_ptOrigin;  // the browser's content area on the screen
    QString m_strUrl;
    int m_iMeasureMs = 4000;
    bool m_bAnnounce = false;
    std::vector<double> m_vecOwnCpu;  // the bench's own, reading the screen

    // Waits until every tile shows fresh pictures, warms up, then measures
    // process iPid.
    RunResult measure(qint64 iPid, int iTiles) {
        RunResult result;
        ScreenStamps stamps(m_desktop.connection(), m_ptOrigin, tilesOf(iTiles));
        QElapsedTimer timer;
        timer.start();
        // Ready when every tile showed a new picture in each of three
        // consecutive half seconds.
        int iFreshSpells = 0;
        QElapsedTimer spell;
        spell.start();
        while (iFreshSpells < 3) {
            if (timer.elapsed() > kReadyTimeoutMs) return result;
            stamps.poll(false);
            QCoreApplication::processEvents();
            usleep(kPollUs);
            if (spell.elapsed() >= 500) {
                iFreshSpells = stamps.allFresh() ? iFreshSpells + 1 : 0;
                spell.restart();
            }
        }
        timer.restart();
        while (timer.elapsed() < kWarmUpMs) {
            stamps.poll(false);
            QCoreApplication::processEvents();
            usleep(kPollUs);
        }
        if (m_bAnnounce) {
            std::printf("measuring pid %lld for %d s\n", iPid, m_iMeasureMs / 1000);
            std::fflush(stdout);
        }
        const double dCpuStart = cpuSeconds(iPid);
        const double dOwnStart = cpuSeconds(QCoreApplication::applicationPid());
        const double dXStart = cpuSeconds(m_desktop.serverPid());
        timer.restart();
        while (timer.elapsed() < m_iMeasureMs) {
            stamps.poll(true);
            QCoreApplication::processEvents();
            usleep(kPollUs);
        }
        const double dSeconds = static_cast<double>(timer.elapsed()) / 1000.0;
        result.dCpu = (cpuSeconds(iPid) - dCpuStart) / dSeconds * 100.0;
        result.dXCpu = (cpuSeconds(m_desktop.serverPid()) - dXStart) / dSeconds * 100.0;
        m_vecOwnCpu.push_back((cpuSeconds(QCoreApplication::applicationPid()) - dOwnStart) / dSeconds * 100.0);
        result.dRss = statusMiB(iPid, "VmRSS");
        result.dAnon = statusMiB(iPid, "RssAnon");
        result.dP50 = percentile(stamps.m_vecAgesUs, 0.5);
        result.dP95 = percentile(stamps.m_vecAgesUs, 0.95);
        result.dFps = stamps.fewestShown() / dSeconds;
        if (stamps.allShown() > 0) result.dCpuPerPicture = result.dCpu * 10.0 * dSeconds / stamps.allShown();
        result.iMisread = stamps.m_iMisread;
        result.bOk = !stamps.m_vecAgesUs.empty();
        return result;
    }

    RunResult runService(int iTiles, bool bScaled) {
        ServiceProcess service(ServiceProcess::config(kServicePort, QStringLiteral("bench_wall")),
                               qEnvironmentVariable("WALL_SERVICE_BIN", QStringLiteral(LOCALSERVICE_BIN)));
        service.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        const quint16 port = service.startListening();
        if (!port) return fail("the service did not start");
        PageSocket page(port);
        if (!page.open()) return fail("no WebSocket to the service");
        int iSequence = 0;
        const auto request = [&](const QString& strCommand, QJsonObject params) {
            const QString strSequence = QString::number(++iSequence);
            params.insert(QStringLiteral("cmd"), strCommand);
            params.insert(QStringLiteral("uuid"), page.uuid());
            params.insert(QStringLiteral("sequence"), strSequence);
            page.send(QJsonDocument(params).toJson(QJsonDocument::Compact));
            return QTest::qWaitFor(
                [&] {
                    for (const QString& strText : qAsConst(page.m_listReceived)) {
                        if (QJsonDocument::fromJson(strText.toUtf8()).object().value(QStringLiteral("sequence")) ==
                            strSequence)
                            return true;
                    }
                    return false;
                },
                10000);
        };
        const QJsonObject rect{{"left", 0}, {"top", 0}, {"width", kWallWidth}, {"height", kWallHeight}};
        if (!request(QStringLiteral("window.createWnd"), {{"rect", rect}, {"parentWnd", QString::number(m_browser)}}) ||
            !request(QStringLiteral("video.arrangeWindow"), {{"layout", iTiles}}))
            return fail("the service did not answer");
        for (int i = 0; i < iTiles; ++i)
            request(QStringLiteral("video.startPlay"), {{"url", m_strUrl}, {"wndIndex", i}});
        if (bScaled)
            request(QStringLiteral("video.setWndResolution"),
                    {{"width", kScaledSize.width()}, {"height", kScaledSize.height()}});
        return measure(service.processId(), iTiles);
    }

    RunResult runReference(int iTiles) {
        // The pipelines draw into windows of the tiles' places and sizes,
        // children of the browser as the service's window is.
        Display* pDisplay = m_desktop.connection();
        std::vector<Window> windows;
        QStringList args{QStringLiteral("--reference"), m_strUrl};
        for (const QRect& rcTile : tilesOf(iTiles)) {
            const Window window =
                XCreateSimpleWindow(pDisplay, m_browser, rcTile.x(), rcTile.y(), static_cast<unsigned>(rcTile.width()),
                                    static_cast<unsigned>(rcTile.height()), 0, 0, 0);
            XMapWindow(pDisplay, window);
            windows.push_back(window);
            args << QStringLiteral("%1:%2x%3").arg(window).arg(rcTile.width()).arg(rcTile.height());
        }
        XSync(pDisplay, False);
        QProcess reference;
        reference.setProcessChannelMode(QProcess::ForwardedChannels);
        reference.start(QCoreApplication::applicationFilePath(), args);
        RunResult result =
            reference.waitForStarted() ? measure(reference.processId(), iTiles) : fail("the reference did not start");
        reference.terminate();
        if (!reference.waitForFinished(5000)) {
            reference.kill();
            reference.waitForFinished(5000);
        }
        for (Window window : windows) XDestroyWindow(pDisplay, window);
        XSync(pDisplay, False);
        return result;
    }

    static RunResult fail(const char* szWhy) {
        std::fprintf(stderr, "bench_wall: %s\n", szWhy);
        return RunResult();
    }
};

struct Range {
    double dMedian = 0, dLow = 0, dHigh = 0;
};

Range rangeOf(std::vector<double> values) {
    Range range;
    if (values.empty()) return range;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    range.dMedian = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    range.dLow = values.front();
    range.dHigh = values.back();
    return range;
}

QByteArray text(const Range& range, int iDecimals = 1, const char* szUnit = "") {
    return QStringLiteral("%1%4 (%2-%3)")
        .arg(range.dMedian, 0, 'f', iDecimals)
        .arg(range.dLow, 0, 'f', iDecimals)
        .arg(range.dHigh, 0, 'f', iDecimals)
        .arg(QLatin1String(szUnit))
        .toUtf8();
}

// The runs of one path at one size, over the rounds.
struct Series {
    std::vector<RunResult> runs;
    Range of(double RunResult::*pField) const {
        std::vector<double> values;
        for (const RunResult& run : runs) {
            if (run.bOk) values.push_back(run.*pField);
        }
        return rangeOf(values);
    }
};

Range ratioOf(const Series& a, const Series& b, double RunResult::*pField) {
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(a.runs.size(), b.runs.size()); ++i) {
        if (a.runs[i].bOk && b.runs[i].bOk && b.runs[i].*pField > 0)
            ratios.push_back(a.runs[i].*pField / (b.runs[i].*pField));
    }
    return rangeOf(ratios);
}

void printSeries(const char* szName, const Series& series) {
    int iMisread = 0;
    for (const RunResult& run : series.runs) iMisread += run.iMisread;
    std::printf(
        "  %-22s %-20s %-17s %-20s %-20s %-20s %-17s %-20s %s\n", szName, text(series.of(&RunResult::dCpu)).constData(),
        text(series.of(&RunResult::dCpuPerPicture), 2).constData(), text(series.of(&RunResult::dXCpu)).constData(),
        text(series.of(&RunResult::dP50)).constData(), text(series.of(&RunResult::dP95)).constData(),
        text(series.of(&RunResult::dFps)).constData(), text(series.of(&RunResult::dRss), 0).constData(),
        QByteArray::number(series.of(&RunResult::dAnon).dMedian, 'f', 0).constData());
    if (iMisread) std::printf("  (%d stamps misread and left out)\n", iMisread);
}

const char* verdict(const Range& ratio, double dTarget, bool bBelow = false) {
    if (ratio.dMedian <= 0) return "no figures";
    return (bBelow ? ratio.dMedian < dTarget : ratio.dMedian <= dTarget) ? "met" : "NOT met";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--reference") return runReference(argc, argv);

    Wall wall;
    std::string strError;
    if (!wall.m_desktop.start(strError)) {
        std::fprintf(stderr, "bench_wall: %s\n", strError.c_str());
        return 1;
    }
    QCoreApplication app(argc, argv);
    const int iRounds =
        qMax(1, qEnvironmentVariableIntValue("WALL_ROUNDS") ? qEnvironmentVariableIntValue("WALL_ROUNDS") : 3);
    if (qEnvironmentVariableIntValue("WALL_SECONDS") > 0)
        wall.m_iMeasureMs = qEnvironmentVariableIntValue("WALL_SECONDS") * 1000;

    CameraSimProcess camera(QStringLiteral(CAMERA_SIM_BIN), kCameraPort);
    if (!camera.start({QStringLiteral("--stamp-bottom")})) {
        std::fprintf(stderr, "bench_wall: camera-sim did not start\n");
        return 1;
    }
    wall.m_strUrl = camera.url();
    wall.m_browser = wall.m_desktop.createBrowser("video wall - Test Browser", "TestBrowser", 0, 0, kWallWidth,
                                                  kWallHeight, 0x202020);
    int x = 0, y = 0, iWidth = 0, iHeight = 0;
    if (!wall.m_browser || !wall.m_desktop.geometry(wall.m_browser, x, y, iWidth, iHeight)) {
        std::fprintf(stderr, "bench_wall: no browser window\n");
        return 1;
    }
    wall.m_ptOrigin = QPoint(x, y);

    if (argc == 4 && std::string(argv[1]) == "--one") {
        wall.m_bAnnounce = true;
        const int iTiles = std::atoi(argv[3]);
        const std::string strPath = argv[2];
        Series one;
        one.runs.push_back(strPath == "reference" ? wall.runReference(iTiles)
                                                  : wall.runService(iTiles, strPath == "scaled"));
        printSeries(argv[2], one);
        return one.runs.front().bOk ? 0 : 1;
    }

    const int kSizes[] = {1, 4, 9, 16};
    std::map<int, Series> service, reference;
    Series scaled;
    for (int iRound = 0; iRound < iRounds; ++iRound) {
        for (int iTiles : kSizes) {
            const bool bServiceFirst = iRound % 2 == 1;
            if (bServiceFirst) service[iTiles].runs.push_back(wall.runService(iTiles, false));
            reference[iTiles].runs.push_back(wall.runReference(iTiles));
            if (!bServiceFirst) service[iTiles].runs.push_back(wall.runService(iTiles, false));
        }
        scaled.runs.push_back(wall.runService(16, true));
    }

    std::printf(
        "live H.264 1280x720 25 fps from camera-sim, a 1280x720 wall on Xvfb + openbox; %d rounds of %d s "
        "per run, A/B interleaved; median (range)\n",
        iRounds, wall.m_iMeasureMs / 1000);
    std::printf("  %-22s %-20s %-17s %-20s %-20s %-20s %-17s %-20s %s\n", "", "CPU % of a core", "CPU ms/picture",
                "X server %", "p50 ms", "p95 ms", "shown fps/tile", "RSS MiB", "anon MiB");
    bool bFailed = false;
    for (int iTiles : kSizes) {
        const QRect rcTile = tilesOf(iTiles).front();
        std::printf("%d tile%s of %dx%d\n", iTiles, iTiles > 1 ? "s" : "", rcTile.width(), rcTile.height());
        printSeries("reference (ximagesink)", reference[iTiles]);
        printSeries("service", service[iTiles]);
        for (const Series* pSeries : {&service[iTiles], &reference[iTiles]}) {
            for (const RunResult& run : pSeries->runs) bFailed |= !run.bOk;
        }
        const Range cpu = ratioOf(service[iTiles], reference[iTiles], &RunResult::dCpu);
        const Range perPicture = ratioOf(service[iTiles], reference[iTiles], &RunResult::dCpuPerPicture);
        const Range p50 = ratioOf(service[iTiles], reference[iTiles], &RunResult::dP50);
        std::printf(
            "  service / reference    CPU %s (target <= 1.15x: %s), per picture shown %s; p50 %s (target <= "
            "1.15x: %s)\n",
            text(cpu, 2, "x").constData(), verdict(cpu, 1.15), text(perPicture, 2, "x").constData(),
            text(p50, 2, "x").constData(), verdict(p50, 1.15));
    }
    std::printf("16 tiles, \"setWndResolution\" %dx%d\n", kScaledSize.width(), kScaledSize.height());
    printSeries("service, scaled", scaled);
    for (const RunResult& run : scaled.runs) bFailed |= !run.bOk;
    const Range rss = ratioOf(service[16], reference[16], &RunResult::dRss);
    const Range cheaper = ratioOf(scaled, service[16], &RunResult::dCpu);
    const Range cheaperPerPicture = ratioOf(scaled, service[16], &RunResult::dCpuPerPicture);
    const Range rssScaled = ratioOf(scaled, reference[16], &RunResult::dRss);
    std::printf("RSS at 16 tiles, service / reference: %s (target <= 1.3x: %s); scaled service / reference: %s\n",
                text(rss, 2, "x").constData(), verdict(rss, 1.3), text(rssScaled, 2, "x").constData());
    std::printf("16 tiles, scaled service / reference: CPU %s, per picture shown %s, p50 %s\n",
                text(ratioOf(scaled, reference[16], &RunResult::dCpu), 2, "x").constData(),
                text(ratioOf(scaled, reference[16], &RunResult::dCpuPerPicture), 2, "x").constData(),
                text(ratioOf(scaled, reference[16], &RunResult::dP50), 2, "x").constData());
    std::printf("CPU at 16 tiles, scaled / unscaled: %s (target < 1x: %s), per picture shown %s\n",
                text(cheaper, 2, "x").constData(), verdict(cheaper, 1.0, true),
                text(cheaperPerPicture, 2, "x").constData());
    std::printf("the bench itself, reading the screen while measuring: %s %% of a core\n",
                text(rangeOf(wall.m_vecOwnCpu)).constData());
    if (bFailed) std::printf("some runs showed no pictures (figures of 0): see the messages above\n");
    return bFailed ? 1 : 0;
}
