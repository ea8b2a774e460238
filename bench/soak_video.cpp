// The video soak of make soak: what streams hold must come back when they
// end. On an offscreen widget with 9 play windows against camera-sim (port
// 27450):
//   1. SOAK_VIDEO_CYCLES (default 1,000) cycles: every window plays the
//      camera until its first picture, then all stop;
//   2. SOAK_VIDEO_DROPS (default 50) cycles with the 9 windows playing: the
//      camera is killed and started again, every window reconnects.
// Each part prints descriptors, threads and memory at its baseline (after
// warm-up cycles), its peak and its end (after stopping), and "ok" when the
// descriptors are back exactly and the process's own memory (anonymous RSS;
// mapped library pages come and go with the machine's page cache) ends no
// more than 5 % above its baseline (else "FAULT"; the exit status counts the
// faults). Baseline and end are measured after malloc_trim, so that memory
// freed but kept by the allocator does not count. "heap in use" is what
// malloc has handed out and not had back: a leak shows there first.
//
// The process takes the service's own allocator policy
// (chooseMemoryPolicy: two arenas) and should run, as the service's launcher
// starts it, with G_SLICE=always-malloc (make soak sets it). What the end
// measured above the baseline without them, none of it a live object (the
// leaks tracer, GST_TRACERS=leaks, lists the same 25 type-find factories at
// baseline and end): with 16 arenas, pages of freed memory malloc_trim
// cannot hand back (the top of each thread's arena, pages shared with small
// free blocks), 3-10 MiB from run to run; GLib's slice allocator keeping
// freed blocks in its per-thread caches, about 1.5 MiB of heap in use after
// 100 cycles and no more after 300.
#include "CameraSimProcess.h"
#include "ProcessLimits.h"
#include "video_control.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonObject>
#include <QWidget>

#include <cstdio>
#include <malloc.h>
#include <functional>
#include <memory>

namespace {

constexpr int kPort = 27450;
constexpr int kWindows = 9;
constexpr int kPictureTimeoutMs = 20000;
// Cycles before the baseline: they load what stays loaded (plugins, the
// clock, GStreamer's and the allocator's pools).
constexpr int kWarmUpCycles = 5;
const QStringList kCameraFlags{"--size", "320x240", "--gop", "5"};

int s_iFirstFrames[kWindows] = {};

void onEvent(VC_EventType eType, QWidget*, const QJsonDocument* pData) {
    const QJsonObject data = pData->object();
    const int iWindow = data.value("wndIndex").toInt(-1);
    if (eType == VC_EVENT_NET_STREAM && data.value("event") == "firstFrame" && iWindow >= 0 && iWindow < kWindows)
        ++s_iFirstFrames[iWindow];
}

int envCount(const char* szName, int iDefault) {
    bool bOk = false;
    const int iValue = qEnvironmentVariable(szName).toInt(&bOk);
    return bOk && iValue >= 0 ? iValue : iDefault;
}

void release(QJsonDocument* pResult) {
    VC_Release(pResult);
}

void call(QJsonDocument* (*function)(QWidget*, const QJsonDocument*), QWidget* pWidget, const QJsonObject& request) {
    const QJsonDocument document(request);
    release(function(pWidget, &document));
}

struct Usage {
    int iDescriptors = 0;
    int iThreads = 0;
    double dRssMiB = 0;
    double dAnonMiB = 0;  // the part of RSS that is the process's own memory (not mapped files)
    double dHeapMiB = 0;  // what malloc has handed out and not had back

    static Usage now() {
        Usage usage;
        usage.iDescriptors =
            QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
        usage.iThreads = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
        QFile status("/proc/self/status");
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& baLine : status.readAll().split('\n')) {
                const auto kib = [&baLine]() {
                    return baLine.mid(baLine.indexOf(':') + 1).trimmed().split(' ').first().toDouble();
                };
                if (baLine.startsWith("VmRSS:")) usage.dRssMiB = kib() / 1024;
                if (baLine.startsWith("RssAnon:")) usage.dAnonMiB = kib() / 1024;
            }
        }
        const struct mallinfo2 info = mallinfo2();
        usage.dHeapMiB = double(info.uordblks + info.hblkhd) / (1 << 20);
        return usage;
    }
    void peak(const Usage& other) {
        iDescriptors = qMax(iDescriptors, other.iDescriptors);
        iThreads = qMax(iThreads, other.iThreads);
        dRssMiB = qMax(dRssMiB, other.dRssMiB);
        dAnonMiB = qMax(dAnonMiB, other.dAnonMiB);
        dHeapMiB = qMax(dHeapMiB, other.dHeapMiB);
    }
};

// Runs the event loop until done() holds or the time is up.
bool waitFor(const std::function<bool()>& done, int iTimeoutMs) {
    const QDeadlineTimer deadline(iTimeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Every window shows at least iCount first pictures.
bool allPictures(int iCount) {
    return waitFor(
        [iCount]() {
            for (int iFrames : s_iFirstFrames) {
                if (iFrames < iCount) return false;
            }
            return true;
        },
        kPictureTimeoutMs);
}

// Prints one part's line; true when it holds.
bool report(const char* szPart, int iCycles, int iMissed, const Usage& base, const Usage& top, const Usage& end) {
    const bool bOk = end.iDescriptors == base.iDescriptors && end.dAnonMiB <= 1.05 * base.dAnonMiB;
    std::printf(
        "%s, %d cycles: descriptors %d / %d / %d, threads %d / %d / %d, RSS %.1f / %.1f / %.1f MiB, "
        "anonymous %.1f / %.1f / %.1f MiB, heap in use %.1f / %.1f / %.1f MiB (baseline / peak / end); %d cycle(s) "
        "without every picture %s\n",
        szPart, iCycles, base.iDescriptors, top.iDescriptors, end.iDescriptors, base.iThreads, top.iThreads,
        end.iThreads, base.dRssMiB, top.dRssMiB, end.dRssMiB, base.dAnonMiB, top.dAnonMiB, end.dAnonMiB, base.dHeapMiB,
        top.dHeapMiB, end.dHeapMiB, iMissed, bOk && iMissed == 0 ? "ok" : "FAULT");
    std::fflush(stdout);
    return bOk && iMissed == 0;
}

// After a stop: what the streams' threads hand back comes back from the
// event loop; give it a moment, then measure.
Usage settled(const Usage& base) {
    waitFor([&base]() { return Usage::now().iDescriptors <= base.iDescriptors; }, 3000);
    waitFor([]() { return false; }, 1000);
    malloc_trim(0);
    return Usage::now();
}

}  // namespace

int main(int argc, char** argv) {
    chooseMemoryPolicy();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int iCycles = envCount("SOAK_VIDEO_CYCLES", 1000);
    const int iDrops = envCount("SOAK_VIDEO_DROPS", 50);
    release(VC_Initialize(nullptr));
    VC_InstallEventCallback(VC_EVENT_NET_STREAM, onEvent);
    auto pCamera = std::make_unique<CameraSimProcess>(QStringLiteral(CAMERA_SIM_BIN), kPort);
    if (!pCamera->start(kCameraFlags)) {
        std::printf("camera-sim did not start\n");
        return 1;
    }
    const QString strUrl = pCamera->url();
    QWidget widget;
    widget.resize(960, 540);
    widget.show();
    release(VC_Initialize(&widget));
    call(VC_ArrangeWindow, &widget, QJsonObject{{"layout", kWindows}});
    call(VC_SetReconnectInfo, &widget, QJsonObject{{"interval", 100}, {"maxInterval", 400}, {"timeout", 1000}});
    const auto playAll = [&]() {
        std::fill(std::begin(s_iFirstFrames), std::end(s_iFirstFrames), 0);
        for (int i = 0; i < kWindows; ++i) call(VC_Play, &widget, QJsonObject{{"url", strUrl}, {"wndIndex", i}});
    };
    const auto stopAll = [&]() { release(VC_StopRealPlayAll(&widget)); };
    int iFaults = 0;

    std::printf("== video soak: %d windows, %d play/stop cycles, %d camera kill/restart cycles\n", kWindows, iCycles,
                iDrops);
    for (int i = 0; i < kWarmUpCycles; ++i) {
        playAll();
        allPictures(1);
        stopAll();
    }
    Usage base = settled(Usage::now());
    Usage top = base;
    int iMissed = 0;
    for (int iCycle = 0; iCycle < iCycles; ++iCycle) {
        playAll();
        if (!allPictures(1)) ++iMissed;
        top.peak(Usage::now());
        stopAll();
    }
    Usage end = settled(base);
    iFaults += !report("play/stop", iCycles, iMissed, base, top, end);

    playAll();
    allPictures(1);
    stopAll();
    base = settled(Usage::now());
    top = base;
    iMissed = 0;
    playAll();
    if (!allPictures(1)) ++iMissed;
    for (int iCycle = 0; iCycle < iDrops; ++iCycle) {
        std::fill(std::begin(s_iFirstFrames), std::end(s_iFirstFrames), 0);
        pCamera.reset(new CameraSimProcess(QStringLiteral(CAMERA_SIM_BIN), kPort));
        if (!pCamera->start(kCameraFlags)) {
            std::printf("camera-sim did not start again\n");
            return 1;
        }
        if (!allPictures(1)) ++iMissed;
        top.peak(Usage::now());
    }
    stopAll();
    end = settled(base);
    iFaults += !report("camera kill/restart", iDrops, iMissed, base, top, end);
    return iFaults;
}
