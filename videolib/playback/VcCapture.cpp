// Snapshots and recordings of a play window.
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "Player.h"
#include "VcLibrary.h"
#include "VcSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

using namespace vc;

namespace {

// A snapshot needs at least this much free space.
constexpr qint64 kMinSnapshotBytes = 4 * 1024 * 1024;

// The file to write: "path" when it names a file with one of the suffixes,
// otherwise a new name in "path" (a folder) or in the configured folder.
QString targetFile(const QJsonObject& request, const QStringList& suffixes, const QString& strSuffix,
                   Setting eFolder, const QString& strPrefix, int iWndIndex) {
    const QString strPath = request.value(QStringLiteral("path")).toString();
    if (!strPath.isEmpty() && suffixes.contains(QFileInfo(strPath).suffix().toLower())) return strPath;
    const QString strFolder = strPath.isEmpty() ? setting(eFolder) : strPath;
    const QString strName = QStringLiteral("%1_%2_%3.%4")
                                .arg(strPrefix, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss_zzz")))
                                .arg(iWndIndex)
                                .arg(strSuffix);
    return QDir(strFolder).filePath(strName);
}

// "format", else the suffix of "path" when it names a file, else the
// configured format; lower case.
QString formatOf(const QJsonObject& request, Setting eFormat) {
    const QString strFormat = request.value(QStringLiteral("format")).toString().toLower();
    if (!strFormat.isEmpty()) return strFormat;
    const QString strSuffix = QFileInfo(request.value(QStringLiteral("path")).toString()).suffix().toLower();
    return strSuffix.isEmpty() ? setting(eFormat) : strSuffix;
}

QJsonObject snapshot(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        const QImage whole = window.picture();
        if (whole.isNull()) return errorResult(Error::NothingPlaying, QStringLiteral("no picture yet"));
        // What the operator sees: the zoomed part (and the part the ratio
        // mode shows), at the picture's own resolution.
        const QRectF shown = window.shownPart();
        const QRect rcShown = QRectF(shown.x() * whole.width(), shown.y() * whole.height(),
                                     shown.width() * whole.width(), shown.height() * whole.height())
                                  .toAlignedRect()
                                  .intersected(whole.rect());
        const QImage picture = rcShown == whole.rect() || rcShown.isEmpty() ? whole : whole.copy(rcShown);
        const QString strFormat = formatOf(request, Setting::SnapshotFormat);
        const bool bJpeg = strFormat == QLatin1String("jpg") || strFormat == QLatin1String("jpeg");
        if (!strFormat.isEmpty() && !bJpeg && strFormat != QLatin1String("png"))
            return errorResult(Error::BadRequest, QStringLiteral("\"format\" must be png or jpg"));
        const QString strFile =
            targetFile(request, {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")},
                       bJpeg ? QStringLiteral("jpg") : QStringLiteral("png"), Setting::SnapshotPath,
                       QStringLiteral("snapshot"), window.index());
        const QFileInfo file(strFile);
        if (!QDir().mkpath(file.absolutePath()))
            return errorResult(Error::FileError, QStringLiteral("cannot make the folder %1").arg(file.absolutePath()));
        const QStorageInfo storage(file.absolutePath());
        if (storage.isValid() && storage.bytesAvailable() < kMinSnapshotBytes) return errorResult(Error::DiskFull);
        if (!picture.save(file.absoluteFilePath(), bJpeg ? "JPG" : "PNG", bJpeg ? 90 : -1))
            return errorResult(Error::FileError, QStringLiteral("cannot write %1").arg(file.absoluteFilePath()));
        return QJsonObject{{"wndIndex", window.index()},
                           {"path", QDir::toNativeSeparators(file.absoluteFilePath())},
                           {"width", picture.width()},
                           {"height", picture.height()}};
    });
}

QJsonObject startSave(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        const QString strFormat = formatOf(request, Setting::RecordFormat);
        const bool bMatroska = strFormat == QLatin1String("mkv") || strFormat == QLatin1String("matroska");
        if (!strFormat.isEmpty() && !bMatroska && strFormat != QLatin1String("mp4"))
            return errorResult(Error::BadRequest, QStringLiteral("\"format\" must be mp4 or mkv"));
        const QString strFile = targetFile(request, {QStringLiteral("mp4"), QStringLiteral("mkv")},
                                           bMatroska ? QStringLiteral("mkv") : QStringLiteral("mp4"),
                                           Setting::RecordPath, QStringLiteral("record"), window.index());
        QJsonObject result = window.player().startRecording(strFile, bMatroska);
        window.refreshLabels();
        if (!result.contains(QStringLiteral("errorCode"))) result.insert(QStringLiteral("wndIndex"), window.index());
        return result;
    });
}

QJsonObject stopSave(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        QJsonObject result = window.player().stopRecording();
        window.refreshLabels();
        if (!result.contains(QStringLiteral("errorCode"))) result.insert(QStringLiteral("wndIndex"), window.index());
        return result;
    });
}

}  // namespace

VC_DEFINE_WIDGET_REQUEST(VC_Snapshot, snapshot)
VC_DEFINE_WIDGET_REQUEST(VC_StartSave, startSave)
VC_DEFINE_WIDGET_REQUEST(VC_StopSave, stopSave)
