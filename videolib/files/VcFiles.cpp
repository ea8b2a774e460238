// The user's files: VC_OpenFileBrowser and VC_OpenDirectory.
//
// VC_OpenFileBrowser shows a modal dialog and answers when the user closes
// it. While it is open a nested event loop runs: other commands, events and
// playback go on, and their answers may leave before this one. A file the
// user chose there may be read for the page that asked (MediaFolders.h).
//
// VC_OpenDirectory opens only folders inside the media folders.
#include "MediaFolders.h"
#include "VcLibrary.h"
#include "VcSettings.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

using namespace vc;

namespace {

QJsonObject openFileBrowser(const QJsonObject& request) {
    static const QStringList kModes{QStringLiteral("folder"), QStringLiteral("open"), QStringLiteral("save")};
    const int iMode = kModes.indexOf(request.value(QStringLiteral("mode")).toString(kModes.first()));
    if (iMode < 0) return errorResult(Error::BadRequest, QStringLiteral("\"mode\" must be folder, open or save"));
    // The dialog starts in the media folders, not where a page would lead
    // the user.
    QString strStart;
    QJsonObject refused;
    if (!resolveReadable(request, request.value(QStringLiteral("path")).toString(), &strStart, &refused))
        strStart = setting(Setting::SnapshotPath);
    QFileDialog dialog(nullptr, request.value(QStringLiteral("title")).toString(), strStart,
                       request.value(QStringLiteral("filter")).toString());
    // Over the browser, whose page asked.
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.setFileMode(iMode == 0 ? QFileDialog::Directory : iMode == 1 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setAcceptMode(iMode == 2 ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (iMode == 0) dialog.setOption(QFileDialog::ShowDirsOnly);
    const bool bChosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    return rememberChosenFile(
        request, QJsonObject{{"path", bChosen ? QDir::toNativeSeparators(dialog.selectedFiles().first()) : QString()}});
}

// "path": a folder, or a file whose folder opens, inside the media folders;
// the snapshot folder when absent.
QJsonObject openDirectory(const QJsonObject& request) {
    QString strPath;
    QJsonObject error;
    if (!resolveReadable(QJsonObject(), request.value(QStringLiteral("path")).toString(setting(Setting::SnapshotPath)),
                         &strPath, &error))
        return error;
    const QFileInfo path(strPath);
    const QString strFolder = path.isDir() ? path.absoluteFilePath() : path.absolutePath();
    if (!QFileInfo(strFolder).isDir())
        return errorResult(Error::FileError, QStringLiteral("no such folder: %1").arg(QDir::toNativeSeparators(strFolder)));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(strFolder)))
        return errorResult(Error::NotSupported, QStringLiteral("no file manager opened the folder"));
    return QJsonObject{{"path", QDir::toNativeSeparators(strFolder)}};
}

}  // namespace

VC_DEFINE_REQUEST(VC_OpenFileBrowser, openFileBrowser)
VC_DEFINE_REQUEST(VC_OpenDirectory, openDirectory)
