// The user's files: VC_OpenFileBrowser and VC_OpenDirectory.
//
// VC_OpenFileBrowser opens a dialog (QFileDialog::open) and returns at once;
// no event loop of its own runs. The dialog's finished signal hands the
// path to finishFileDialog, the one place where the chosen path is known,
// which answers through the caller's callback if the caller's context still
// exists. One dialog per process: a second call while it is open answers
// Busy. A file the user chose there may be read for the page that asked
// (MediaFolders.h). GUI thread only.
//
// VC_OpenDirectory opens only folders inside the media folders.
#include "MediaFolders.h"
#include "VcLibrary.h"
#include "VcSettings.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include <utility>

using namespace vc;

namespace {

// The dialog that is open, and whom its answer goes to.
struct FileDialog {
    QPointer<QFileDialog> pDialog;
    QPointer<QObject> pContext;
    VC_AnswerCallback pfnAnswer = nullptr;
    QJsonObject request;  // the page's, for the file it may then use
};

FileDialog& openDialog() {
    static FileDialog s_dialog;
    return s_dialog;
}

QJsonObject openFileBrowser(const QJsonObject& request, QObject* pContext, VC_AnswerCallback pfnAnswer) {
    static const QStringList kModes{QStringLiteral("folder"), QStringLiteral("open"), QStringLiteral("save")};
    const int iMode = kModes.indexOf(request.value(QStringLiteral("mode")).toString(kModes.first()));
    if (iMode < 0) return errorResult(Error::BadRequest, QStringLiteral("\"mode\" must be folder, open or save"));
    if (openDialog().pDialog) return errorResult(Error::Busy);
    // The dialog starts in the media folders, not where a page would lead
    // the user.
    QString strStart;
    QJsonObject refused;
    if (!resolveReadable(request, request.value(QStringLiteral("path")).toString(), &strStart, &refused))
        strStart = setting(Setting::SnapshotPath);
    auto* pDialog = new QFileDialog(nullptr, request.value(QStringLiteral("title")).toString(), strStart,
                                    request.value(QStringLiteral("filter")).toString());
    // Over the browser, whose page asked.
    pDialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    pDialog->setAttribute(Qt::WA_QuitOnClose, false);
    pDialog->setFileMode(iMode == 0   ? QFileDialog::Directory
                         : iMode == 1 ? QFileDialog::ExistingFile
                                      : QFileDialog::AnyFile);
    pDialog->setAcceptMode(iMode == 2 ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (iMode == 0) pDialog->setOption(QFileDialog::ShowDirsOnly);
    QObject::connect(pDialog, &QDialog::finished, pDialog, [pDialog](int iResult) {
        const QStringList listChosen = pDialog->selectedFiles();
        finishFileDialog(iResult == QDialog::Accepted && !listChosen.isEmpty() ? listChosen.first() : QString());
    });
    openDialog() = FileDialog{pDialog, pContext, pfnAnswer, request};
    pDialog->open();
    return QJsonObject();
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
        return errorResult(Error::FileError,
                           QStringLiteral("no such folder: %1").arg(QDir::toNativeSeparators(strFolder)));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(strFolder)))
        return errorResult(Error::NotSupported, QStringLiteral("no file manager opened the folder"));
    return QJsonObject{{"path", QDir::toNativeSeparators(strFolder)}};
}

}  // namespace

namespace vc {

bool finishFileDialog(const QString& strPath) {
    const FileDialog dialog = std::exchange(openDialog(), FileDialog());
    if (!dialog.pDialog) return false;
    dialog.pDialog->disconnect();
    dialog.pDialog->hide();
    dialog.pDialog->deleteLater();
    const QJsonDocument result(rememberChosenFile(
        dialog.request, QJsonObject{{"path", strPath.isEmpty() ? QString() : QDir::toNativeSeparators(strPath)}}));
    if (dialog.pContext && dialog.pfnAnswer) dialog.pfnAnswer(dialog.pContext, &result);
    return true;
}

bool fileDialogOpen() {
    return openDialog().pDialog;
}

}  // namespace vc

VC_DEFINE_LATER(VC_OpenFileBrowser, openFileBrowser)
VC_DEFINE_REQUEST(VC_OpenDirectory, openDirectory)
