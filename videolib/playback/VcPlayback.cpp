// Playback in one play window: play, stop, pause, rate, step, range, status,
// the stream's clock, reconnection and https; what this library plays.
#include "GstPtr.h"
#include "MediaFolders.h"
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "Player.h"
#include "VcLibrary.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QUrl>

#include <gst/gst.h>

#include <cmath>

using namespace vc;

namespace {

constexpr double kSlowestRate = 1.0 / 8;
constexpr double kFastestRate = 8.0;
// The longest camera name a tile shows.
constexpr int kMaxTitle = 128;

QJsonObject answer(Error eError, const PlayWindow& window, const QJsonObject& extra = QJsonObject()) {
    if (eError != Error::None) return errorResult(eError);
    QJsonObject result = extra;
    result.insert(QStringLiteral("wndIndex"), window.index());
    return result;
}

// A local file to play ("url" file:// or a path, as PlaySource reads it)
// must be in the media folders or chosen by the page's user; any other one
// is refused before anything looks at it, so the answer says nothing about
// whether it exists. The request goes on with the checked path.
bool checkLocalFile(QJsonObject* pRequest, QJsonObject* pError) {
    const QString strUrl = pRequest->value(QStringLiteral("url")).toString().trimmed();
    const QUrl url(strUrl, QUrl::StrictMode);
    const QString strScheme = url.scheme().toLower();
    if (strUrl.isEmpty() || (strScheme.size() > 1 && strScheme != QLatin1String("file"))) return true;
    const QString strPath = strScheme == QLatin1String("file") ? url.toLocalFile() : strUrl;
    QString strChecked;
    if (strPath.isEmpty() || !resolveReadable(*pRequest, strPath, &strChecked, pError)) {
        *pError = errorResult(Error::PathRefused);
        return false;
    }
    pRequest->insert(QStringLiteral("url"), QUrl::fromLocalFile(strChecked).toString());
    return true;
}

QJsonObject play(PlayGrid& grid, const QJsonObject& original) {
    // Without a scheme a url names a file in the media folders, with its
    // file name's extension; anything else is no url at all.
    const QString strUrl = original.value(QStringLiteral("url")).toString().trimmed();
    if (!strUrl.isEmpty() && QUrl(strUrl).scheme().isEmpty() && QFileInfo(strUrl).isRelative() &&
        QFileInfo(strUrl).suffix().isEmpty())
        return errorResult(Error::BadUrl, QStringLiteral("not a url: %1").arg(strUrl));
    QJsonObject request = original;
    QJsonObject error;
    if (!checkLocalFile(&request, &error)) return error;
    return grid.withWindow(request, [&](PlayWindow& window) {
        PlaySource source;
        const QJsonObject sourceError = PlaySource::parse(request, &source);
        if (!sourceError.isEmpty()) return sourceError;
        if (grid.m_bHttps && source.strLocation.startsWith(QLatin1String("http://")))
            source.strLocation.replace(0, 4, QStringLiteral("https"));
        QJsonObject refused;
        if (!window.player().admit(&refused)) return refused;
        QString strTitle = request.value(QStringLiteral("title")).toString().trimmed().left(kMaxTitle);
        if (strTitle.isEmpty())
            strTitle = source.eKind == PlaySource::Kind::File ? QFileInfo(source.strLocation).fileName()
                                                              : QUrl(source.strLocation).host();
        window.play(source, grid.m_reconnectPolicy, strTitle);
        return answer(Error::None, window);
    });
}

QJsonObject stop(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        window.player().stop(QStringLiteral("request"));
        return answer(Error::None, window);
    });
}

QJsonObject stopAll(PlayGrid& grid, const QJsonObject&) {
    for (int i = 0; i < grid.windowCount(); ++i) grid.window(i)->player().stop(QStringLiteral("stopAll"));
    return QJsonObject();
}

QJsonObject pause(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        const Error eError = window.player().pause();
        window.refreshLabels();
        return eError == Error::NotSeekable
                   ? errorResult(eError, QStringLiteral("a live stream cannot pause (only files and HTTP can)"))
                   : answer(eError, window);
    });
}

QJsonObject resume(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        Player& player = window.player();
        // After reverse play, forwards again at the same speed.
        Error eError = player.rate() < 0 ? player.setRate(-player.rate()) : Error::None;
        if (eError == Error::None) eError = player.resume();
        window.refreshLabels();
        return answer(eError, window, QJsonObject{{"rate", player.rate()}});
    });
}

// Forwards: "rate" sets the rate; otherwise it halves (slow) or doubles
// (fast) the rate's size, between 1/8 and 8. After reverse play both play
// forwards again.
QJsonObject changeRate(PlayGrid& grid, const QJsonObject& request, double dFactor) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        Player& player = window.player();
        double dRate = std::abs(player.rate()) * dFactor;
        const QJsonValue rate = request.value(QStringLiteral("rate"));
        if (rate.isDouble()) dRate = rate.toDouble();
        if (!(dRate >= kSlowestRate && dRate <= kFastestRate)) {
            if (rate.isDouble()) return errorResult(Error::BadRequest, QStringLiteral("\"rate\" must be 1/8 to 8"));
            dRate = qBound(kSlowestRate, dRate, kFastestRate);
        }
        const Error eError = player.setRate(dRate);
        return answer(eError, window, QJsonObject{{"rate", player.rate()}});
    });
}

QJsonObject slow(PlayGrid& grid, const QJsonObject& request) {
    return changeRate(grid, request, 0.5);
}

QJsonObject fast(PlayGrid& grid, const QJsonObject& request) {
    return changeRate(grid, request, 2.0);
}

QJsonObject reversePlay(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        Player& player = window.player();
        const Error eError = player.setRate(-std::abs(player.rate()));
        return answer(eError, window, QJsonObject{{"rate", player.rate()}});
    });
}

QJsonObject frameForward(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) { return answer(window.player().stepFrame(), window); });
}

QJsonObject setPlaybackRange(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        const QJsonValue start = request.value(QStringLiteral("startTime"));
        const QJsonValue end = request.value(QStringLiteral("endTime"));
        if (!start.isDouble() || start.toDouble() < 0 || (!end.isUndefined() && !end.isDouble()) ||
            (end.isDouble() && end.toDouble() <= start.toDouble()))
            return errorResult(Error::BadRequest,
                               QStringLiteral("\"startTime\" (ms, >= 0) is required; \"endTime\" must follow it"));
        const qint64 iEndMs = end.isDouble() ? static_cast<qint64>(end.toDouble()) : -1;
        return answer(window.player().setRange(static_cast<qint64>(start.toDouble()), iEndMs), window);
    });
}

QJsonObject queryStatus(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        const Player& player = window.player();
        QJsonObject status = player.status();
        status.insert(QStringLiteral("recording"), player.isRecording());
        if (player.isRecording()) {
            status.insert(QStringLiteral("recordPath"), player.recordingPath());
            status.insert(QStringLiteral("recordDuration"), player.recordedMs());
        }
        status.insert(QStringLiteral("sound"), player.soundOn());
        status.insert(QStringLiteral("volume"), player.volume());
        status.insert(QStringLiteral("hidden"), window.isLibraryHidden());
        status.insert(QStringLiteral("selected"), grid.selectedIndex() == window.index());
        return answer(Error::None, window, status);
    });
}

// Live streams: the local time at which the newest picture arrived;
// recordings: the stream time of the picture shown.
QJsonObject osdTime(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        if (window.picture().isNull()) return errorResult(Error::NothingPlaying);
        const qint64 iPositionMs = window.picturePositionMs();
        QJsonObject result{{"position", iPositionMs}};
        if (window.player().status().value(QStringLiteral("live")).toBool()) {
            const QDateTime arrived = QDateTime::fromMSecsSinceEpoch(window.pictureArrivedMs());
            result.insert(QStringLiteral("timestamp"), window.pictureArrivedMs());
            result.insert(QStringLiteral("osdTime"), arrived.toString(Qt::ISODateWithMs));
        } else {
            result.insert(QStringLiteral("osdTime"),
                          QTime::fromMSecsSinceStartOfDay(static_cast<int>(qMax<qint64>(0, iPositionMs) % 86400000))
                              .toString(QStringLiteral("HH:mm:ss.zzz")));
        }
        return answer(Error::None, window, result);
    });
}

QJsonObject setReconnect(PlayGrid& grid, const QJsonObject& request) {
    ReconnectPolicy policy = grid.m_reconnectPolicy;
    const QJsonValue enable = request.value(QStringLiteral("enable"));
    if (enable.isBool()) policy.bEnabled = enable.toBool();
    const struct {
        const char* szKey;
        int* pValue;
        int iMin;
    } kNumbers[] = {{"interval", &policy.iFirstDelayMs, 50},
                    {"maxInterval", &policy.iMaxDelayMs, 50},
                    {"timeout", &policy.iLostAfterMs, 200},
                    {"maxRetries", &policy.iMaxAttempts, 0}};
    for (const auto& number : kNumbers) {
        const QJsonValue value = request.value(QLatin1String(number.szKey));
        if (value.isUndefined()) continue;
        if (!value.isDouble() || value.toDouble() < number.iMin || value.toDouble() > 24 * 3600 * 1000)
            return errorResult(Error::BadRequest,
                               QStringLiteral("\"%1\" must be a number from %2").arg(number.szKey).arg(number.iMin));
        *number.pValue = value.toInt();
    }
    policy.iMaxDelayMs = qMax(policy.iMaxDelayMs, policy.iFirstDelayMs);
    grid.m_reconnectPolicy = policy;
    for (int i = 0; i < grid.windowCount(); ++i) grid.window(i)->player().setReconnectPolicy(policy);
    return QJsonObject();
}

QJsonObject setHttps(PlayGrid& grid, const QJsonObject& request) {
    const QJsonValue enable = request.value(QStringLiteral("enable"));
    if (!enable.isBool()) return errorResult(Error::BadRequest, QStringLiteral("\"enable\" must be true or false"));
    grid.m_bHttps = enable.toBool();
    return QJsonObject{{"https", grid.m_bHttps}};
}

QJsonObject setLabels(PlayGrid& grid, const QJsonObject& request) {
    const QJsonValue enable = request.value(QStringLiteral("enable"));
    if (!enable.isBool()) return errorResult(Error::BadRequest, QStringLiteral("\"enable\" must be true or false"));
    QJsonObject error;
    const QVector<PlayWindow*> windows = grid.windowsFor(request, &error);
    for (PlayWindow* pWindow : windows) pWindow->setLabelsShown(enable.toBool());
    return windows.isEmpty() ? error : QJsonObject{{"enable", enable.toBool()}};
}

QJsonObject engineSupport(const QJsonObject&) {
    if (!gst_is_initialized() && !gst_init_check(nullptr, nullptr, nullptr))
        return errorResult(Error::NotSupported, QStringLiteral("GStreamer does not start"));
    guint iMajor = 0, iMinor = 0, iMicro = 0, iNano = 0;
    gst_version(&iMajor, &iMinor, &iMicro, &iNano);
    const auto has = [](const char* szElement) {
        return GstPtr<GstElementFactory>(gst_element_factory_find(szElement)) != nullptr;
    };
    QJsonArray schemes{"file"};
    if (has("rtspsrc"))
        schemes << "rtsp"
                << "rtsps";
    if (has("souphttpsrc"))
        schemes << "http"
                << "https";
    QJsonArray recordFormats;
    if (has("mp4mux")) recordFormats << "mp4";
    if (has("matroskamux")) recordFormats << "mkv";
    return QJsonObject{{"engine", "gstreamer"},
                       {"version", QStringLiteral("%1.%2.%3").arg(iMajor).arg(iMinor).arg(iMicro)},
                       {"codecs", QJsonArray::fromStringList(decodableCodecs())},
                       {"decoders", preferredDecoders()},
                       {"schemes", schemes},
                       {"recordFormats", recordFormats},
                       {"snapshotFormats", QJsonArray{"png", "jpg"}}};
}

}  // namespace

VC_DEFINE_WIDGET_REQUEST(VC_Play, play)
VC_DEFINE_WIDGET_REQUEST(VC_Stop, stop)
VC_DEFINE_WIDGET(VC_StopRealPlayAll, stopAll)
VC_DEFINE_WIDGET_REQUEST(VC_Pause, pause)
VC_DEFINE_WIDGET_REQUEST(VC_Resume, resume)
VC_DEFINE_WIDGET_REQUEST(VC_Slow, slow)
VC_DEFINE_WIDGET_REQUEST(VC_Fast, fast)
VC_DEFINE_WIDGET_REQUEST(VC_ReversePlay, reversePlay)
VC_DEFINE_WIDGET_REQUEST(VC_FrameForward, frameForward)
VC_DEFINE_WIDGET_REQUEST(VC_SetTrsPlayBackParam, setPlaybackRange)
VC_DEFINE_WIDGET_REQUEST(VC_QueryPlayStatus, queryStatus)
VC_DEFINE_WIDGET_REQUEST(VC_GetOSDTime, osdTime)
VC_DEFINE_WIDGET_REQUEST(VC_SetReconnectInfo, setReconnect)
VC_DEFINE_WIDGET_REQUEST(VC_SetHttps, setHttps)
VC_DEFINE_WIDGET_REQUEST(VC_SetWndLabels, setLabels)
VC_DEFINE_REQUEST(VC_GetEngineSupport, engineSupport)
