// Snapshots and recordings of a play window, written only into their media
// folders (MediaFolders.h) and never over an existing file.
#include "CaptureFiles.h"
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "Player.h"
#include "VcLibrary.h"

#include <QFile>

using namespace vc;

namespace {

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
        return savePicture(picture, request, window.index());
    });
}

QJsonObject startSave(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        QString strFile;
        bool bMatroska = false;
        QJsonObject error;
        if (!makeRecordingFile(request, window.index(), &strFile, &bMatroska, &error)) return error;
        QJsonObject result = window.player().startRecording(strFile, bMatroska);
        if (result.contains(QStringLiteral("errorCode"))) {
            QFile::remove(strFile);
            return result;
        }
        window.refreshLabels();
        result.insert(QStringLiteral("wndIndex"), window.index());
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
