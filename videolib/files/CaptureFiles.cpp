#include "CaptureFiles.h"

#include "MediaFolders.h"
#include "VcError.h"
#include "VcSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace vc {
namespace {

// A snapshot needs at least this much free space.
constexpr qint64 kMinSnapshotBytes = 4 * 1024 * 1024;

// Makes the file to write and opens pFile on it: "path" when it names a file with one of
// the suffixes, otherwise a new name in "path" (a folder) or in the
// configured folder; inside eMedia, and a free name beside it when a file
// is there already. Empty with *pError when it cannot.
QString makeTargetFile(const QJsonObject& request, const QStringList& suffixes, const QString& strSuffix,
                       MediaFolder eMedia, Setting eFolder, const QString& strPrefix, int iWndIndex, QFile* pFile,
                       QJsonObject* pError) {
    const QString strPath = request.value(QStringLiteral("path")).toString();
    const bool bFile = !strPath.isEmpty() && suffixes.contains(QFileInfo(strPath).suffix().toLower());
    QString strResolved;
    if (!resolveIn(eMedia, strPath.isEmpty() ? setting(eFolder) : strPath, &strResolved, pError)) return QString();
    const QString strFolder = bFile ? QFileInfo(strResolved).absolutePath() : strResolved;
    if (!makeFolder(strFolder, pError)) return QString();
    const QString strName =
        bFile ? QFileInfo(strResolved).fileName()
              : QStringLiteral("%1_%2_%3.%4")
                    .arg(strPrefix, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss_zzz")))
                    .arg(iWndIndex)
                    .arg(strSuffix);
    const QString strFile = freeFileIn(strFolder, strName);
    return openForWriting(strFile, true, pFile, pError) ? strFile : QString();
}

// "format", else the suffix of "path" when it names a file, else the
// configured format; lower case.
QString formatOf(const QJsonObject& request, Setting eFormat) {
    const QString strFormat = request.value(QStringLiteral("format")).toString().toLower();
    if (!strFormat.isEmpty()) return strFormat;
    const QString strSuffix = QFileInfo(request.value(QStringLiteral("path")).toString()).suffix().toLower();
    return strSuffix.isEmpty() ? setting(eFormat) : strSuffix;
}

}  // namespace

QJsonObject savePicture(const QImage& picture, const QJsonObject& request, int iWndIndex) {
    const QString strFormat = formatOf(request, Setting::SnapshotFormat);
    const bool bJpeg = strFormat == QLatin1String("jpg") || strFormat == QLatin1String("jpeg");
    if (!strFormat.isEmpty() && !bJpeg && strFormat != QLatin1String("png"))
        return errorResult(Error::BadRequest, QStringLiteral("\"format\" must be png or jpg"));
    QJsonObject error;
    QFile output;
    const QString strFile =
        makeTargetFile(request, {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")},
                       bJpeg ? QStringLiteral("jpg") : QStringLiteral("png"), MediaFolder::Snapshots,
                       Setting::SnapshotPath, QStringLiteral("snapshot"), iWndIndex, &output, &error);
    if (strFile.isEmpty()) return error;
    const QFileInfo file(strFile);
    const QStorageInfo storage(file.absolutePath());
    const bool bRoom = !storage.isValid() || storage.bytesAvailable() >= kMinSnapshotBytes;
    if (!bRoom || !picture.save(&output, bJpeg ? "JPG" : "PNG", bJpeg ? 90 : -1) || !output.flush()) {
        output.close();
        QFile::remove(strFile);
        return bRoom ? errorResult(Error::FileError, QStringLiteral("cannot write %1").arg(file.absoluteFilePath()))
                     : errorResult(Error::DiskFull);
    }
    return QJsonObject{{"wndIndex", iWndIndex},
                       {"path", QDir::toNativeSeparators(file.absoluteFilePath())},
                       {"width", picture.width()},
                       {"height", picture.height()}};
}

bool makeRecordingFile(const QJsonObject& request, int iWndIndex, QString* pstrFile, bool* pbMatroska,
                       QJsonObject* pError) {
    const QString strFormat = formatOf(request, Setting::RecordFormat);
    *pbMatroska = strFormat == QLatin1String("mkv") || strFormat == QLatin1String("matroska");
    if (!strFormat.isEmpty() && !*pbMatroska && strFormat != QLatin1String("mp4")) {
        *pError = errorResult(Error::BadRequest, QStringLiteral("\"format\" must be mp4 or mkv"));
        return false;
    }
    // The recorder writes the empty file made here.
    QFile output;
    *pstrFile = makeTargetFile(request, {QStringLiteral("mp4"), QStringLiteral("mkv")},
                               *pbMatroska ? QStringLiteral("mkv") : QStringLiteral("mp4"), MediaFolder::Recordings,
                               Setting::RecordPath, QStringLiteral("record"), iWndIndex, &output, pError);
    return !pstrFile->isEmpty();
}

}  // namespace vc
