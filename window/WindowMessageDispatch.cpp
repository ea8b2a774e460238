#include "WindowMessageDispatch.h"

#include "WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

using CommandFn = QString (WindowControlManager::*)(const QJsonObject&);

struct WindowCommand {
    const char* szName;
    CommandFn fnRun;
};

// What each command takes and answers besides the envelope ("sequence",
// "uuid", "errorModule" 0 or 5, "errorCode"); tools/web/make-reference.mjs
// makes the page authors' reference from this and the table below.
//
// | command | request keys | result keys |
// |---|---|---|
// | createWnd | "rect" {"left", "top", "width", "height"} (screen pixels from the browser's content area); "className" ("Chrome": found by the uuid in its title); "embed" (true: a child of the browser window); "parentWnd" (a window handle as decimal text, optional) | "errorCode" 5000 (no video component) or 5001 (no browser window yet: the window waits hidden; with "nativeWindows" false where the service can never see the browser's window, e.g. a Wayland desktop) |
// | showWnd | - | none |
// | hideWnd | - | none |
// | destroyWnd | - | none |
// | setWndGeometry | "rect" {"left", "top", "width", "height"} | none |
// | setWndZOrder | "flag" (read, nothing changes) | none |
// | setWndCover | "position" ("left", "top", "right", "bottom"), "size" (pixels of the window covered on that side) | none |
// | updateParentWnd | - (takes the foreground window as the browser window) | none |
// | getLocalServiceVersion | - | "localServiceVersion" |
// | cuttingPartWindow | "rect" {"left", "top", "width", "height"} relative to the window, "round" (diameter of rounded corners) | none |
// | repairPartWindow | as cuttingPartWindow | none |
// | setWindowSelected | "wndIndex" (the play window to select) | none |

// In the order in which the names are compared.
const WindowCommand kCommands[] = {
    {"createWnd", &WindowControlManager::createWnd},
    {"showWnd", &WindowControlManager::showWnd},
    {"hideWnd", &WindowControlManager::hideWnd},
    {"destroyWnd", &WindowControlManager::destroyWnd},
    {"setWndGeometry", &WindowControlManager::setWndGeometry},
    {"setWndZOrder", &WindowControlManager::setWndZOrder},
    {"setWndCover", &WindowControlManager::setWndCover},
    {"updateParentWnd", &WindowControlManager::updateParentWnd},
    {"getLocalServiceVersion", &WindowControlManager::getLocalServiceVersion},
    {"cuttingPartWindow", &WindowControlManager::cuttingPartWindow},
    {"repairPartWindow", &WindowControlManager::repairPartWindow},
    {"setWindowSelected", &WindowControlManager::setWindowSelected},
};

}  // namespace

WindowMessageDispatch::WindowMessageDispatch(QObject* parent) : QObject(parent) {
    video::connectEventSignals(WindowControlManager::instance(), video::EventDispatcher::Window, this,
                               &WindowMessageDispatch::sigEvent);
}

WindowMessageDispatch::~WindowMessageDispatch() = default;

void WindowMessageDispatch::processMessage(const QString& message) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    processRequest(document.object());
}

void WindowMessageDispatch::processRequest(const QJsonObject& request) {
    // The command: what lies between the first full stop and the next.
    const QString strCmd = request.value(QStringLiteral("cmd")).toString();
    const int iStart = strCmd.indexOf(QLatin1Char('.')) + 1;
    if (iStart == 0) return;
    const int iEnd = strCmd.indexOf(QLatin1Char('.'), iStart);
    const QStringView strCommand = QStringView(strCmd).mid(iStart, (iEnd < 0 ? strCmd.size() : iEnd) - iStart);
    for (const WindowCommand& command : kCommands) {
        if (strCommand != QLatin1String(command.szName)) continue;
        const QString strResponse = (WindowControlManager::instance()->*command.fnRun)(request);
        emit messageResponse(request.value(QStringLiteral("uuid")).toString(), strResponse);
        return;
    }
}

void WindowMessageDispatch::closeConnection(QString uuid) {
    WindowControlManager::instance()->closeByUuid(uuid);
}
