#include "MediaFolders.h"

#include "VcError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <map>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vc {
namespace {

struct FolderInfo {
    const char* szKey;  // in VC_SetMediaFolders
    QStandardPaths::StandardLocation eBase;
};
constexpr FolderInfo kFolders[] = {{"snapshots", QStandardPaths::PicturesLocation},
                                   {"recordings", QStandardPaths::MoviesLocation},
                                   {"downloads", QStandardPaths::DownloadLocation}};
constexpr MediaFolder kAllFolders[] = {MediaFolder::Snapshots, MediaFolder::Recordings, MediaFolder::Downloads};

QString& configured(MediaFolder eFolder) {
    static QString s_folders[std::size(kFolders)];
    return s_folders[static_cast<int>(eFolder)];
}

// What a page chose in the file dialog, per "uuid".
struct ChosenFiles {
    QStringList files;  // canonical paths, the newest last
    quint64 iTouched = 0;
};
struct Chosen {
    std::map<QString, ChosenFiles> owners;
    quint64 iClock = 0;
};
Chosen& chosen() {
    static Chosen s_chosen;
    return s_chosen;
}

QJsonObject refused() {
    return errorResult(Error::PathRefused);
}

bool isInside(const QString& strPath, const QString& strFolder) {
    return strPath == strFolder || strPath.startsWith(strFolder + QLatin1Char('/'));
}

// The canonical form of the part of strPath that exists (links resolved),
// with the rest appended; empty when the existing part is a dangling link.
QString resolveLinks(const QString& strPath) {
    QString strExisting = strPath;
    QString strRest;
    for (;;) {
        const QFileInfo info(strExisting);
        if (info.exists() || info.isSymLink()) break;
        const int iSlash = strExisting.lastIndexOf(QLatin1Char('/'));
        if (iSlash <= 0) return QString();
        strRest = strExisting.mid(iSlash) + strRest;
        strExisting.truncate(iSlash);
    }
    const QString strCanonical = QFileInfo(strExisting).canonicalFilePath();
    return strCanonical.isEmpty() ? QString() : strCanonical + strRest;
}

// The components a page wrote: none empty of meaning ("..", ".") or hidden.
bool plainComponents(const QString& strRelative) {
    const QStringList parts = strRelative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return std::none_of(parts.begin(), parts.end(), [](const QString& strPart) { return strPart.startsWith('.'); });
}

// *pRelative: strPath (a page's, '/' separators) relative to strFolder as
// written, or as its canonical form; false when strPath is absolute and in
// neither.
bool relativeTo(const QString& strFolder, const QString& strPath, QString* pRelative) {
    if (!QDir::isAbsolutePath(strPath)) {
        *pRelative = strPath;
        return true;
    }
    for (const QString& strBase : {strFolder, QFileInfo(strFolder).canonicalFilePath()}) {
        if (!strBase.isEmpty() && isInside(strPath, strBase)) {
            *pRelative = strPath.mid(strBase.size());
            return true;
        }
    }
    return false;
}

}  // namespace

QJsonObject setMediaFolders(const QJsonObject& folders) {
    for (MediaFolder eFolder : kAllFolders) {
        const QString strKey = QLatin1String(kFolders[static_cast<int>(eFolder)].szKey);
        const QString strPath = QDir::fromNativeSeparators(folders.value(strKey).toString());
        if (!strPath.isEmpty() && !QDir::isAbsolutePath(strPath))
            return errorResult(Error::BadRequest, QStringLiteral("\"%1\" must be an absolute folder").arg(strKey));
    }
    for (MediaFolder eFolder : kAllFolders) {
        const QString strKey = QLatin1String(kFolders[static_cast<int>(eFolder)].szKey);
        const QString strPath = QDir::fromNativeSeparators(folders.value(strKey).toString());
        configured(eFolder) = strPath.isEmpty() ? QString() : QDir::cleanPath(strPath);
    }
    return QJsonObject();
}

QString mediaFolder(MediaFolder eFolder) {
    const QString& strConfigured = configured(eFolder);
    if (!strConfigured.isEmpty()) return strConfigured;
    QString strBase = QStandardPaths::writableLocation(kFolders[static_cast<int>(eFolder)].eBase);
    if (strBase.isEmpty()) strBase = QDir::homePath();
    return QDir::cleanPath(strBase + QStringLiteral("/LocalService"));
}

bool resolveIn(MediaFolder eFolder, const QString& strPath, QString* pPath, QJsonObject* pError) {
    const QString strFolder = mediaFolder(eFolder);
    QString strRelative;
    if (!relativeTo(strFolder, QDir::fromNativeSeparators(strPath), &strRelative) || !plainComponents(strRelative)) {
        *pError = refused();
        return false;
    }
    // Nothing is made here: a folder that is not there yet resolves as its
    // nearest existing parent does.
    const QString strCanonicalFolder = resolveLinks(strFolder);
    const QString strResolved = resolveLinks(QDir::cleanPath(strCanonicalFolder + QLatin1Char('/') + strRelative));
    if (strCanonicalFolder.isEmpty() || strResolved.isEmpty() || !isInside(strResolved, strCanonicalFolder)) {
        *pError = refused();
        return false;
    }
    *pPath = strResolved;
    return true;
}

bool resolveReadable(const QJsonObject& request, const QString& strPath, QString* pPath, QJsonObject* pError) {
    const auto owner = chosen().owners.find(request.value(QStringLiteral("uuid")).toString());
    if (owner != chosen().owners.end() && QDir::isAbsolutePath(QDir::fromNativeSeparators(strPath))) {
        const QString strCanonical = QFileInfo(strPath).canonicalFilePath();
        if (!strCanonical.isEmpty() && owner->second.files.contains(strCanonical)) {
            *pPath = strCanonical;
            return true;
        }
    }
    QString strFirst;
    for (MediaFolder eFolder : kAllFolders) {
        QString strResolved;
        QJsonObject error;
        if (!resolveIn(eFolder, strPath, &strResolved, &error)) continue;
        if (QFileInfo::exists(strResolved)) {
            *pPath = strResolved;
            return true;
        }
        if (strFirst.isEmpty()) strFirst = strResolved;
    }
    if (strFirst.isEmpty()) {
        *pError = refused();
        return false;
    }
    *pPath = strFirst;
    return true;
}

bool makeFolder(const QString& strFolder, QJsonObject* pError) {
    if (QDir().mkpath(strFolder)) return true;
    *pError = errorResult(Error::FileError,
                          QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(strFolder)));
    return false;
}

QString freeFileIn(const QString& strFolder, const QString& strName,
                   const std::function<bool(const QString&)>& bTaken) {
    QString strPlain = QFileInfo(QDir::fromNativeSeparators(strName)).fileName();
    while (strPlain.startsWith('.')) strPlain.remove(0, 1);
    if (strPlain.isEmpty()) strPlain = QStringLiteral("file");
    const QFileInfo name(strPlain);
    const QString strSuffix = name.suffix().isEmpty() ? QString() : QLatin1Char('.') + name.suffix();
    for (int i = 0;; ++i) {
        const QString strPath = QDir(strFolder).filePath(
            i ? QStringLiteral("%1 (%2)%3").arg(name.completeBaseName()).arg(i).arg(strSuffix) : strPlain);
        const QFileInfo info(strPath);
        if (!info.exists() && !info.isSymLink() && !(bTaken && bTaken(strPath))) return strPath;
    }
}

bool openForWriting(const QString& strPath, bool bNew, QFile* pFile, QJsonObject* pError) {
    const int iFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (bNew ? O_CREAT | O_EXCL : 0);
    const int iFd = ::open(QFile::encodeName(strPath).constData(), iFlags, 0644);
    struct stat status {};
    if (iFd >= 0 && ::fstat(iFd, &status) == 0 && S_ISREG(status.st_mode) &&
        ::fchmod(iFd, status.st_mode & 0644) == 0 &&
        pFile->open(iFd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle))
        return true;
    const QString strWhy = QString::fromLocal8Bit(strerror(errno));
    if (iFd >= 0) ::close(iFd);
    *pError = errorResult(Error::FileError,
                          QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(strPath), strWhy));
    return false;
}

bool openForReading(const QString& strPath, QFile* pFile, QJsonObject* pError) {
    const int iFd = ::open(QFile::encodeName(strPath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat status {};
    if (iFd >= 0 && ::fstat(iFd, &status) == 0 && S_ISREG(status.st_mode) &&
        pFile->open(iFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    if (iFd >= 0) ::close(iFd);
    *pError = errorResult(Error::FileError, QStringLiteral("\"path\" must name a file to send"));
    return false;
}

bool moveIntoPlace(const QString& strFrom, QString* pTarget, QJsonObject* pError) {
    const QString strFolder = QFileInfo(*pTarget).absolutePath();
    const QString strName = QFileInfo(*pTarget).fileName();
    for (int iTry = 0; iTry < 100; ++iTry) {
        if (::renameat2(AT_FDCWD, QFile::encodeName(strFrom).constData(), AT_FDCWD,
                        QFile::encodeName(*pTarget).constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EEXIST) break;
        *pTarget = freeFileIn(strFolder, strName);
    }
    *pError =
        errorResult(Error::FileError, QStringLiteral("cannot rename %1 to %2: %3")
                                          .arg(QDir::toNativeSeparators(strFrom), QDir::toNativeSeparators(*pTarget),
                                               QString::fromLocal8Bit(strerror(errno))));
    return false;
}

QJsonObject rememberChosenFile(const QJsonObject& request, const QJsonObject& result) {
    const QString strCanonical = QFileInfo(result.value(QStringLiteral("path")).toString()).canonicalFilePath();
    if (strCanonical.isEmpty() || !QFileInfo(strCanonical).isFile()) return result;
    Chosen& all = chosen();
    const QString strOwner = request.value(QStringLiteral("uuid")).toString();
    if (!all.owners.count(strOwner) && all.owners.size() >= static_cast<size_t>(kMaxChosenOwners)) {
        all.owners.erase(std::min_element(all.owners.begin(), all.owners.end(), [](const auto& a, const auto& b) {
            return a.second.iTouched < b.second.iTouched;
        }));
    }
    ChosenFiles& files = all.owners[strOwner];
    files.iTouched = ++all.iClock;
    files.files.removeAll(strCanonical);
    files.files.append(strCanonical);
    while (files.files.size() > kMaxChosenFiles) files.files.removeFirst();
    return result;
}

void forgetChosenFiles() {
    chosen().owners.clear();
}

}  // namespace vc
