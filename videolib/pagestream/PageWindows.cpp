#include "PageWindows.h"

#include "CaptureFiles.h"
#include "PageStream.h"
#include "VcError.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <algorithm>
#include <iterator>

namespace pagestream {
namespace {

const QString kMediaPrefix = QStringLiteral("/media/");

const PageCommand kPageCommands[] = {
    {"startPlay", PageMode::Stream, &PageWindows::play,
     "plays live rtsp:// H.264 as an in-page stream; answers \"stream\", the media WebSocket path"},
    {"stop", PageMode::Stream, &PageWindows::stop, "closes the play window's stream"},
    {"reversePlay", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"setTrsPlayBackParam", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"startSave", PageMode::Stream, &PageWindows::startSave,
     "records the coded stream from now on (mp4 or mkv, no decoding, no pre-record) into the recordings folder; "
     "answers \"path\""},
    {"stopSave", PageMode::Stream, &PageWindows::stopSave,
     "ends the recording: \"path\", \"duration\", and the \"recordStopped\" event (also when the stream ends)"},
    {"openSound", PageMode::Unsupported, nullptr, "no audio track to the page yet"},
    {"closeSound", PageMode::Unsupported, nullptr, "no audio track to the page yet"},
    {"pause", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"resume", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"slow", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"fast", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"frame", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"capture", PageMode::Stream, &PageWindows::capture,
     "decodes the last key frame (at most one key frame interval old) into the snapshots folder, png or jpg"},
    {"stopAll", PageMode::Stream, &PageWindows::stopAll, "closes every stream of the window"},
    {"arrangeWindow", PageMode::Stream, &PageWindows::arrange,
     "the page draws the grid; play windows beyond the new count are closed"},
    {"startTalk", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"stopTalk", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"setVolume", PageMode::Unsupported, nullptr, "no audio track to the page yet"},
    {"enableZoom", PageMode::Unsupported, nullptr, "no native picture to zoom or scale"},
    {"disableZoom", PageMode::Unsupported, nullptr, "no native picture to zoom or scale"},
    {"setFullScreenCapability", PageMode::Page, &PageWindows::answered,
     "the page client decides what a double click does"},
    {"fullScreen", PageMode::Page, &PageWindows::answered,
     "the page client takes the element to full screen (Fullscreen API)"},
    {"setPlaybackDrawType", PageMode::Same, nullptr, "answers nothing, as for a native window"},
    {"setPlayBackType", PageMode::Page, &PageWindows::answered, "kept by the page client; answered"},
    {"setSecretKey", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getEncryptString", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getDecryptString", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"setOriginalString", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"setPlayMode", PageMode::Same, nullptr, "answers nothing, as for a native window"},
    {"browseFilePath", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"openDirectory", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"startAsynUpload", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"stopAsynUpload", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"uploadFile", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getUploadErrorInfo", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getIpcImportErrorInfo", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"downloadFile", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"startUpgrade", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"stopUpgrade", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getUpgradeStatus", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getUpgradeProgress", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"exportDeviceLog", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"exportReport", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"setPTZCtrlEnable", PageMode::Same, nullptr, "answers nothing, as for a native window"},
    {"startAsyncDownload", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"stopAsyncDownload", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getDownloadStatus", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"getDownloadProgress", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"SRInit", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"SRPTZ", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"getOSDTime", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"getLastError", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"setCorrectionType", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"setPlaceType", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"startFishListener", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"stopFishListener", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"setFishBoxListInfo", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"getFishBoxListInfo", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"clearAllWndFishBoxInfo", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"setFishWndProperty", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"arrangeFECWindow", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"startFECScan", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"stopFECScan", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"fishEyePTZ", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"fishEyeZoomIn", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"fishEyeZoomOut", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"fishEyeGetPreset", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"fishEyeSetPreset", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"startFECCruise", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"stopFECCruise", PageMode::Unsupported, nullptr, "unsupported as for a native window (fisheye, SR)"},
    {"getLocalConfig", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"setLocalConfig", PageMode::Same, nullptr, "as for a native window (needs no window)"},
    {"enablePDC", PageMode::Same, nullptr, "answers nothing, as for a native window"},
    {"setDrawStatus", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"clearRegion", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setDrawShapeInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setGridInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getGridInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setRectInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getRectInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setPolygonInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getPolygonInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setTextOverlay", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getTextOverlay", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setLineInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getLineInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"clearShapeByType", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setDrawCallback", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"setPointInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getPointInfo", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"chooseShape", PageMode::Unsupported, nullptr, "no shapes over in-page video yet"},
    {"getPlayInfo", PageMode::Stream, &PageWindows::playInfo,
     "\"state\", \"url\", \"live\", \"codec\", \"recording\", \"render\" \"page\", \"selected\""},
    {"setIsHttps", PageMode::Unsupported, nullptr, "in-page streams are live only so far"},
    {"setReconnectInfo", PageMode::Unsupported, nullptr,
     "in-page streams come back with the default policy (lost after 3 s, tried after 1 s doubling to 30 s); not "
     "settable yet"},
    {"setWndResolution", PageMode::Unsupported, nullptr, "no native picture to zoom or scale"},
    {"setWndRatioMode", PageMode::Page, &PageWindows::ratio,
     "answered with \"mode\"; the page client fits the pictures (object-fit)"},
    {"setWndLabels", PageMode::Unsupported, nullptr, "no labels over in-page video yet"},
    {"getEngineSupport", PageMode::Same, nullptr, "as for a native window (needs no window)"},
};

QString randomToken() {
    quint32 auWords[4];
    QRandomGenerator::system()->fillRange(auWords);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(auWords), sizeof auWords).toHex());
}

}  // namespace

const PageCommand* pageCommandsBegin() {
    return std::begin(kPageCommands);
}
const PageCommand* pageCommandsEnd() {
    return std::end(kPageCommands);
}

const PageCommand* findPageCommand(const QString& strName) {
    for (const PageCommand& command : kPageCommands) {
        if (strName == QLatin1String(command.szName)) return &command;
    }
    return nullptr;
}

PageWindows* PageWindows::instance() {
    static PageWindows* pInstance = [] {
        // Streams must stop while the application object still exists.
        qAddPostRoutine([] {
            for (const QString& strUuid : instance()->m_mapWindows.keys()) instance()->close(strUuid);
        });
        return new PageWindows();
    }();
    return pInstance;
}

void PageWindows::create(const QString& strUuid) {
    close(strUuid);
    m_mapWindows.insert(strUuid, PageWindow());
}

void PageWindows::close(const QString& strUuid) {
    const auto it = m_mapWindows.find(strUuid);
    if (it == m_mapWindows.end()) return;
    for (const int iIndex : it->mapStreams.keys()) endStream(strUuid, *it, iIndex, false);
    m_mapWindows.erase(it);
}

void PageWindows::select(const QString& strUuid, int iWndIndex) {
    const auto it = m_mapWindows.find(strUuid);
    if (it == m_mapWindows.end() || iWndIndex < 0 || iWndIndex >= it->iPlayWindows) return;
    it->iSelected = iWndIndex;
    emitEvent(strUuid, QStringLiteral("window.onGetSelectWndInfo"),
              QJsonObject{{QStringLiteral("wndIndex"), iWndIndex}});
}

int PageWindows::streamCount() const {
    int iCount = 0;
    for (const PageWindow& window : m_mapWindows) iCount += window.mapStreams.size();
    return iCount;
}

bool PageWindows::run(const QString& strName, const QJsonObject& request, QString* pstrAnswer) {
    const QString strUuid = request.value(QStringLiteral("uuid")).toString();
    const auto it = m_mapWindows.find(strUuid);
    const PageCommand* pCommand = findPageCommand(strName);
    if (it == m_mapWindows.end() || !pCommand || pCommand->eMode == PageMode::Same) return false;
    const QJsonObject result =
        pCommand->fnRun
            ? (this->*pCommand->fnRun)(strUuid, *it, request)
            : vc::errorResult(vc::Error::NotInPageMode, QStringLiteral("\"%1\" is not supported in page mode: %2")
                                                            .arg(strName, QLatin1String(pCommand->szBehaviour)));
    // The envelope of every video answer, the result's keys over it.
    QJsonObject response;
    for (const QString& strKey : {QStringLiteral("sequence"), QStringLiteral("uuid")}) {
        const auto itKey = request.constFind(strKey);
        if (itKey != request.constEnd()) response.insert(strKey, itKey.value());
    }
    response.insert(QStringLiteral("errorCode"), 0);
    response.insert(QStringLiteral("errorModule"), QString());
    for (auto itKey = result.constBegin(); itKey != result.constEnd(); ++itKey)
        response.insert(itKey.key(), itKey.value());
    *pstrAnswer = QString::fromUtf8(QJsonDocument(response).toJson());
    return true;
}

int PageWindows::playWindowOf(const PageWindow& window, const QJsonObject& request) {
    const QJsonValue index = request.value(QStringLiteral("wndIndex"));
    const int iIndex = index.isUndefined() || index.isNull() ? window.iSelected : index.toInt(-1);
    return iIndex >= 0 && iIndex < window.iPlayWindows ? iIndex : -1;
}

int PageWindows::playingWindowOf(const PageWindow& window, const QJsonObject& request, PageStream** ppStream) {
    const int iIndex = playWindowOf(window, request);
    PageStream* pStream = iIndex < 0 ? nullptr : window.mapStreams.value(iIndex);
    *ppStream = pStream && pStream->isPlaying() ? pStream : nullptr;
    return iIndex;
}

QJsonObject PageWindows::errorResultFor(int iWndIndex) {
    return iWndIndex < 0
               ? vc::errorResult(vc::Error::NoSuchWindow)
               : vc::errorResult(vc::Error::NothingPlaying, QStringLiteral("the play window shows no picture yet"));
}

QJsonObject PageWindows::play(const QString& strUuid, PageWindow& window, const QJsonObject& request) {
    const int iIndex = playWindowOf(window, request);
    if (iIndex < 0) return vc::errorResult(vc::Error::NoSuchWindow);
    const QUrl url(request.value(QStringLiteral("url")).toString().trimmed(), QUrl::StrictMode);
    const QString strScheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (strScheme != QLatin1String("rtsp") && strScheme != QLatin1String("rtsps")))
        return vc::errorResult(vc::Error::BadUrl,
                               QStringLiteral("page mode plays rtsp:// and rtsps:// urls (live) only"));
    // The stream this play replaces does not count against the limits.
    const int iReplaced = window.mapStreams.contains(iIndex) ? 1 : 0;
    if (window.mapStreams.size() - iReplaced >= kMaxStreamsPerWindow)
        return vc::errorResult(vc::Error::StreamLimit,
                               QStringLiteral("a page window plays at most %1 streams").arg(kMaxStreamsPerWindow));
    if (streamCount() - iReplaced >= kMaxStreamsTotal)
        return vc::errorResult(vc::Error::StreamLimit,
                               QStringLiteral("the service plays at most %1 in-page streams").arg(kMaxStreamsTotal));
    endStream(strUuid, window, iIndex, false);

    PageStream::Source source;
    source.strUrl = url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
    source.strUser = url.userName(QUrl::FullyDecoded);
    source.strPassword = url.password(QUrl::FullyDecoded);
    if (request.value(QStringLiteral("username")).isString())
        source.strUser = request.value(QStringLiteral("username")).toString();
    if (request.value(QStringLiteral("password")).isString())
        source.strPassword = request.value(QStringLiteral("password")).toString();
    auto* pStream = new PageStream(source, this);
    window.mapStreams.insert(iIndex, pStream);
    const QString strToken = randomToken();
    m_mapTokens.insert(strToken, pStream);
    connect(pStream, &PageStream::sigEvent, this, [this, pStream](const QString& strEvent, const QJsonObject& extra) {
        for (auto it = m_mapWindows.begin(); it != m_mapWindows.end(); ++it) {
            const int iAt = it->mapStreams.key(pStream, -1);
            if (iAt >= 0) streamEvent(it.key(), iAt, strEvent, extra);
        }
    });
    connect(pStream, &PageStream::sigFinished, this, [this, pStream] { onStreamFinished(pStream); });
    // A page that never opens the stream leaves nothing behind.
    QTimer::singleShot(m_iClaimTimeoutMs, this, [this, pStream = QPointer<PageStream>(pStream), strToken] {
        if (!pStream || pStream->isAttached()) return;
        m_mapTokens.remove(strToken);
        for (auto it = m_mapWindows.begin(); it != m_mapWindows.end(); ++it) {
            const int iAt = it->mapStreams.key(pStream, -1);
            if (iAt < 0) continue;
            streamEvent(it.key(), iAt, QStringLiteral("error"), vc::errorResult(vc::Error::StreamNotOpened));
            endStream(it.key(), *it, iAt, false);
            return;
        }
    });
    return QJsonObject{{QStringLiteral("wndIndex"), iIndex},
                       {QStringLiteral("stream"), kMediaPrefix + strToken},
                       {QStringLiteral("render"), QStringLiteral("page")}};
}

QJsonObject PageWindows::stop(const QString& strUuid, PageWindow& window, const QJsonObject& request) {
    const int iIndex = playWindowOf(window, request);
    if (iIndex < 0) return vc::errorResult(vc::Error::NoSuchWindow);
    endStream(strUuid, window, iIndex, true);
    return QJsonObject{{QStringLiteral("wndIndex"), iIndex}};
}

QJsonObject PageWindows::stopAll(const QString& strUuid, PageWindow& window, const QJsonObject&) {
    for (const int iIndex : window.mapStreams.keys()) endStream(strUuid, window, iIndex, true);
    return QJsonObject();
}

QJsonObject PageWindows::arrange(const QString& strUuid, PageWindow& window, const QJsonObject& request) {
    const QJsonValue layout = request.value(QStringLiteral("layout"));
    int iCount = 0;
    if (layout.isArray()) {
        for (const QJsonValue& row : layout.toArray()) iCount += row.toArray().size();
    } else {
        iCount = layout.toInt(0);
    }
    if (iCount < 1 || iCount > kMaxPlayWindows)
        return vc::errorResult(vc::Error::BadRequest,
                               QStringLiteral("\"layout\": 1 to %1 play windows").arg(kMaxPlayWindows));
    for (const int iIndex : window.mapStreams.keys()) {
        if (iIndex >= iCount) endStream(strUuid, window, iIndex, true);
    }
    window.iPlayWindows = iCount;
    if (window.iSelected >= iCount) window.iSelected = 0;
    return QJsonObject{{QStringLiteral("windowCount"), iCount}};
}

QJsonObject PageWindows::playInfo(const QString&, PageWindow& window, const QJsonObject& request) {
    const int iIndex = playWindowOf(window, request);
    if (iIndex < 0) return vc::errorResult(vc::Error::NoSuchWindow);
    QJsonObject info{{QStringLiteral("wndIndex"), iIndex},
                     {QStringLiteral("render"), QStringLiteral("page")},
                     {QStringLiteral("selected"), iIndex == window.iSelected},
                     {QStringLiteral("state"), QStringLiteral("stopped")}};
    if (PageStream* pStream = window.mapStreams.value(iIndex)) {
        info.insert(QStringLiteral("state"), pStream->stateName());
        info.insert(QStringLiteral("url"), pStream->url());
        info.insert(QStringLiteral("live"), true);
        info.insert(QStringLiteral("codec"), pStream->codec());
        if (pStream->isRecording()) info.insert(QStringLiteral("recording"), pStream->recordingPath());
    }
    return info;
}

QJsonObject PageWindows::startSave(const QString&, PageWindow& window, const QJsonObject& request) {
    PageStream* pStream = nullptr;
    const int iIndex = playingWindowOf(window, request, &pStream);
    if (!pStream) return errorResultFor(iIndex);
    if (pStream->isRecording()) return vc::errorResult(vc::Error::AlreadyRecording);
    QString strFile;
    bool bMatroska = false;
    QJsonObject error;
    if (!vc::makeRecordingFile(request, iIndex, &strFile, &bMatroska, &error)) return error;
    QJsonObject result = pStream->startRecording(strFile, bMatroska);
    if (result.contains(QStringLiteral("errorCode"))) {
        QFile::remove(strFile);
        return result;
    }
    result.insert(QStringLiteral("wndIndex"), iIndex);
    return result;
}

QJsonObject PageWindows::stopSave(const QString&, PageWindow& window, const QJsonObject& request) {
    const int iIndex = playWindowOf(window, request);
    if (iIndex < 0) return vc::errorResult(vc::Error::NoSuchWindow);
    PageStream* pStream = window.mapStreams.value(iIndex);
    if (!pStream || !pStream->isRecording()) return vc::errorResult(vc::Error::NotRecording);
    QJsonObject result = pStream->stopRecording();
    if (!result.contains(QStringLiteral("errorCode"))) result.insert(QStringLiteral("wndIndex"), iIndex);
    return result;
}

QJsonObject PageWindows::capture(const QString&, PageWindow& window, const QJsonObject& request) {
    PageStream* pStream = nullptr;
    const int iIndex = playingWindowOf(window, request, &pStream);
    if (!pStream) return errorResultFor(iIndex);
    QJsonObject error;
    const QImage picture = pStream->decodeKeyFrame(&error);
    return picture.isNull() ? error : vc::savePicture(picture, request, iIndex);
}

QJsonObject PageWindows::ratio(const QString&, PageWindow& window, const QJsonObject& request) {
    window.ratioMode = request.value(QStringLiteral("mode"));
    return QJsonObject{{QStringLiteral("mode"), window.ratioMode}};
}

QJsonObject PageWindows::answered(const QString&, PageWindow&, const QJsonObject&) {
    return QJsonObject();
}

bool PageWindows::attachMedia(const QString& strPath, QWebSocket* pSocket) {
    if (!strPath.startsWith(kMediaPrefix)) return false;
    const QPointer<PageStream> pStream = m_mapTokens.take(strPath.mid(kMediaPrefix.size()));
    if (!pStream || pStream->isAttached()) return false;
    pStream->attach(pSocket);
    return true;
}

void PageWindows::emitEvent(const QString& strUuid, const QString& strName, const QJsonObject& content) {
    QJsonObject event{{QStringLiteral("cmd"), strName},
                      {QStringLiteral("uuid"), strUuid},
                      {QStringLiteral("errorCode"), 0},
                      {QStringLiteral("errorModule"), QString()}};
    for (auto it = content.constBegin(); it != content.constEnd(); ++it) event.insert(it.key(), it.value());
    emit sigEvent(strUuid, QString::fromUtf8(QJsonDocument(event).toJson()));
}

void PageWindows::streamEvent(const QString& strUuid, int iWndIndex, const QString& strEvent,
                              const QJsonObject& extra) {
    QJsonObject data = extra;
    data.insert(QStringLiteral("event"), strEvent);
    data.insert(QStringLiteral("wndIndex"), iWndIndex);
    data.insert(QStringLiteral("render"), QStringLiteral("page"));
    emitEvent(strUuid, QStringLiteral("window.onPluginEventHandler"), data);
}

void PageWindows::endStream(const QString& strUuid, PageWindow& window, int iWndIndex, bool bReport) {
    PageStream* pStream = window.mapStreams.value(iWndIndex);
    if (!pStream) return;
    // The page hears of the recording this ends ("recordStopped"), while
    // the stream is still the play window's.
    if (pStream->isRecording()) pStream->stopRecording();
    window.mapStreams.remove(iWndIndex);
    for (auto it = m_mapTokens.begin(); it != m_mapTokens.end();) {
        it = it.value() == pStream ? m_mapTokens.erase(it) : std::next(it);
    }
    pStream->disconnect(this);
    delete pStream;
    if (bReport) streamEvent(strUuid, iWndIndex, QStringLiteral("stopped"), QJsonObject());
}

void PageWindows::onStreamFinished(PageStream* pStream) {
    for (auto it = m_mapWindows.begin(); it != m_mapWindows.end(); ++it) {
        const int iAt = it->mapStreams.key(pStream, -1);
        if (iAt < 0) continue;
        // Not from inside the stream's own signal.
        it->mapStreams.remove(iAt);
        pStream->disconnect(this);
        pStream->deleteLater();
        streamEvent(it.key(), iAt, QStringLiteral("stopped"), QJsonObject());
        return;
    }
}

}  // namespace pagestream
