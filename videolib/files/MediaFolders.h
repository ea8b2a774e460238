// The media folders: the only places the library writes into, and, with the
// files the user chose in the file dialog, the only files it reads for a
// page. Three folders, each with a default:
//   snapshots   QStandardPaths::PicturesLocation/LocalService
//   recordings  QStandardPaths::MoviesLocation/LocalService
//   downloads   QStandardPaths::DownloadLocation/LocalService
// The service moves them from its own configuration (VC_SetMediaFolders);
// no command of a page does.
//
// Every path a page sends goes through here. It names a file or a
// sub-folder inside the folder it belongs to: relative to that folder, or
// absolute but inside it (as VC_GetLocalConfig tells the folders). Refused
// with PathRefused (3024), and the same answer whether the path exists or
// not: a path outside, a component "..", a hidden component (leading dot),
// a symbolic link that leads outside (links of the part that exists are
// resolved before the containment check). Files are made with O_CREAT |
// O_EXCL | O_NOFOLLOW and mode 0644: never over an existing file, never
// through a link, never executable, never hidden.
//
// Reads (uploads, file:// play) may also name a file the user chose for
// the same page ("uuid") in the file dialog; at most kMaxChosenFiles per
// page and kMaxChosenOwners pages are kept, the least recently chosen go
// first.
//
// GUI thread only.
#ifndef VIDEO_CONTROL_MEDIAFOLDERS_H
#define VIDEO_CONTROL_MEDIAFOLDERS_H

#include <QJsonObject>
#include <QString>

#include <functional>

class QFile;

namespace vc {

enum class MediaFolder { Snapshots, Recordings, Downloads };

constexpr int kMaxChosenFiles = 16;
constexpr int kMaxChosenOwners = 64;

// Moves the folders: "snapshots", "recordings", "downloads" (absolute
// paths; absent or empty: the default). Stays over resetLibrary().
QJsonObject setMediaFolders(const QJsonObject& folders);

// The folder, absolute, with '/' separators (it may not exist yet).
QString mediaFolder(MediaFolder eFolder);

// The absolute path strPath names inside eFolder (links of its existing
// part resolved); the empty path names the folder. False with *pError
// (PathRefused) when it is not inside.
bool resolveIn(MediaFolder eFolder, const QString& strPath, QString* pPath, QJsonObject* pError);

// A path a page may read from: inside one of the folders (a relative path:
// the first folder that holds it, else the snapshots folder) or a file the
// user chose for the request's "uuid". *pPath is the absolute path; it may
// not exist. Refused (PathRefused) alike whether it exists or not.
bool resolveReadable(const QJsonObject& request, const QString& strPath, QString* pPath, QJsonObject* pError);

// Makes a folder that resolveIn gave, and its parents. False with
// *pError (FileError) when it cannot.
bool makeFolder(const QString& strFolder, QJsonObject* pError);

// strName in strFolder when nothing is there and bTaken does not claim
// it, else "name (1).ext", "name (2).ext" and so on. A leading dot, a
// separator or an empty name is not kept ("file" instead).
QString freeFileIn(const QString& strFolder, const QString& strName,
                   const std::function<bool(const QString&)>& bTaken = nullptr);

// Opens pFile on a new file (bNew: O_EXCL) or on an existing regular file
// (not through a link at its last component) for reading and writing, with
// mode 0644. False with *pError (FileError) when it cannot.
bool openForWriting(const QString& strPath, bool bNew, QFile* pFile, QJsonObject* pError);
// Opens pFile on an existing regular file for reading, not through a link
// at its last component.
bool openForReading(const QString& strPath, QFile* pFile, QJsonObject* pError);

// Moves a finished file into place without replacing anything: to
// *pTarget, or to a free name beside it (then *pTarget changes).
bool moveIntoPlace(const QString& strFrom, QString* pTarget, QJsonObject* pError);

// Notes the "path" of a file dialog's result as chosen for the request's
// "uuid" when it names a regular file; returns the result unchanged.
QJsonObject rememberChosenFile(const QJsonObject& request, const QJsonObject& result);
// Forgets every chosen file (resetLibrary()).
void forgetChosenFiles();

}  // namespace vc

#endif  // VIDEO_CONTROL_MEDIAFOLDERS_H
