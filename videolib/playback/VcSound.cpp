// Sound: one play window's sound at a time, across every widget.
#include "PlayGrid.h"
#include "PlayWindow.h"
#include "Player.h"
#include "VcLibrary.h"

#include <QPointer>

using namespace vc;

namespace {

QPointer<PlayWindow>& soundWindow() {
    static QPointer<PlayWindow> s_pWindow;
    return s_pWindow;
}

QJsonObject openSound(PlayGrid& grid, const QJsonObject& request) {
    return grid.withWindow(request, [&](PlayWindow& window) {
        if (soundWindow() && soundWindow() != &window)
            soundWindow()->player().setSound(false, soundWindow()->player().volume());
        soundWindow() = &window;
        window.player().setSound(true, window.player().volume());
        return QJsonObject{{"wndIndex", window.index()}};
    });
}

QJsonObject closeSound(const QJsonObject&) {
    if (soundWindow()) soundWindow()->player().setSound(false, soundWindow()->player().volume());
    soundWindow() = nullptr;
    return QJsonObject();
}

QJsonObject setVolume(PlayGrid& grid, const QJsonObject& request) {
    const QJsonValue volume = request.value(QStringLiteral("volume"));
    if (!volume.isDouble() || volume.toDouble() < 0 || volume.toDouble() > 100)
        return errorResult(Error::BadRequest, QStringLiteral("\"volume\" must be 0 to 100"));
    return grid.withWindow(request, [&](PlayWindow& window) {
        window.player().setSound(window.player().soundOn(), qRound(volume.toDouble()));
        return QJsonObject{{"wndIndex", window.index()}, {"volume", qRound(volume.toDouble())}};
    });
}

}  // namespace

VC_DEFINE_WIDGET_REQUEST(VC_OpenSound, openSound)
VC_DEFINE_NO_ARGUMENT(VC_CloseSound, closeSound)
VC_DEFINE_WIDGET_REQUEST(VC_SetVolume, setVolume)
