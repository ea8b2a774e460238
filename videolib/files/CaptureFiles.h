// The files of snapshots and recordings that a play window writes, native
// or drawn by the page: always new files inside their media folders
// (MediaFolders.h), named from the request's "path" (a file with a known
// suffix, or a folder) or made up in the configured folder.
//
// GUI thread (the settings and folders are read there).
#ifndef VIDEO_CONTROL_CAPTUREFILES_H
#define VIDEO_CONTROL_CAPTUREFILES_H

#include <QImage>
#include <QJsonObject>
#include <QString>

namespace vc {

// Writes picture as the request asks ("path", "format" png or jpg):
// {"wndIndex", "path", "width", "height"}, or the error keys.
QJsonObject savePicture(const QImage& picture, const QJsonObject& request, int iWndIndex);

// Makes the empty file a recording writes ("path", "format" mp4 or mkv):
// true with *pstrFile and *pbMatroska, else false with *pError.
bool makeRecordingFile(const QJsonObject& request, int iWndIndex, QString* pstrFile, bool* pbMatroska,
                       QJsonObject* pError);

}  // namespace vc

#endif  // VIDEO_CONTROL_CAPTUREFILES_H
