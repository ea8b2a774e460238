// Snapshots and recordings of a play window.
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "Player.h"
#include "VcLibrary.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

using namespace vc;

namespace {

// A snapshot needs at least this much free space.
constexpr qint64 kMinSnapshotBytes = 4 * 1024 * 1024;

// A folder of the user's, with a LocalService folder inside.
QString defaultFolder(QStandardPaths::StandardLocation eLocation) {
    QString strBase = QStandardPaths::writableLocation(eLocation);
    if (strBase.isEmpty()) strBase = QDir::tempPath();
    return QDir(strBase).filePath(QStringLiteral("LocalService"));
}

// The file to write: "path" when it names a file with one of the suffixes,
// otherwise a new name in "path" (a folder) or in the default folder.
QString targetFile(const QJsonObject& request, const QStringList& suffixes, const QString& strSuffix,
                   QStandardPaths::StandardLocation eDefault, const QString& strPrefix, int iWndIndex) {
    const QString strPath = request.value(QStringLiteral("path")).toString();
    if (!strPath.isEmpty() && suffixes.contains(QFileInfo(strPath).suffix().toLower())) return strPath;
    const QString strFolder = strPath.isEmpty() ? defaultFolder(eDefault) : strPath;
    const QString strName = QStringLiteral("%1_%2_%3.%4")
                                .arg(strPrefix, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss_zzz")))
                                .arg(iWndIndex)
                                .arg(strSuffix);
    return QDir(strFolder).filePath(strName);
}

// "format" (or the suffix of "path"), lower case, or the empty text.
QString formatOf(const QJsonObject& request) {
    const QString strFormat = request.value(QStringLiteral("format")).toString().toLower();
    return strFormat.isEmpty() ? QFileInfo(request.value(QStringLiteral("path")).toString()).suffix().toLower()
                               : strFormat;
}

QJsonObject snapshot(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        const QImage picture = window.picture();
        if (picture.isNull()) return errorResult(Error::NothingPlaying, QStringLiteral("no picture yet"));
        const QString strFormat = formatOf(request);
        const bool bJpeg = strFormat == QLatin1String("jpg") || strFormat == QLatin1String("jpeg");
        if (!strFormat.isEmpty() && !bJpeg && strFormat != QLatin1String("png"))
            return errorResult(Error::BadRequest, QStringLiteral("\"format\" must be png or jpg"));
        const QString strFile =
            targetFile(request, {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")},
                       bJpeg ? QStringLiteral("jpg") : QStringLiteral("png"), QStandardPaths::PicturesLocation,
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
        const QString strFormat = formatOf(request);
        const bool bMatroska = strFormat == QLatin1String("mkv") || strFormat == QLatin1String("matroska");
        if (!strFormat.isEmpty() && !bMatroska && strFormat != QLatin1String("mp4"))
            return errorResult(Error::BadRequest, QStringLiteral("\"format\" must be mp4 or mkv"));
        const QString strFile = targetFile(request, {QStringLiteral("mp4"), QStringLiteral("mkv")},
                                           bMatroska ? QStringLiteral("mkv") : QStringLiteral("mp4"),
                                           QStandardPaths::MoviesLocation, QStringLiteral("record"), window.index());
        QJsonObject result = window.player().startRecording(strFile, bMatroska);
        if (!result.contains(QStringLiteral("errorCode"))) result.insert(QStringLiteral("wndIndex"), window.index());
        return result;
    });
}

QJsonObject stopSave(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        QJsonObject result = window.player().stopRecording();
        if (!result.contains(QStringLiteral("errorCode"))) result.insert(QStringLiteral("wndIndex"), window.index());
        return result;
    });
}

}  // namespace

VC_DEFINE_WIDGET_REQUEST(VC_Snapshot, snapshot)
VC_DEFINE_WIDGET_REQUEST(VC_StartSave, startSave)
VC_DEFINE_WIDGET_REQUEST(VC_StopSave, stopSave)
