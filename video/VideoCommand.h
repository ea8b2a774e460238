// The video commands as data: one row per command, in the order in which a
// command name is compared. The dispatcher, the window registry's forwarder,
// the window's forwarding and the component all read this one table; nothing
// else lists the commands.
//
// GUI thread only, like everything that runs a row.
#ifndef VIDEO_VIDEOCOMMAND_H
#define VIDEO_VIDEOCOMMAND_H

#include "video_control.h"

#include <QJsonObject>
#include <QString>

#include <variant>

class QWidget;
class WebClientComponents;

namespace video {

using WidgetRequestFn = QJsonDocument* (*)(QWidget*, const QJsonDocument*);
using WidgetFn = QJsonDocument* (*)(QWidget*);
using RequestFn = QJsonDocument* (*)(const QJsonDocument*);
using NoArgumentFn = QJsonDocument* (*)();
// A library call that answers later (the file dialog): null when the answer
// will come through the callback, else the answer at once. Such rows are not
// window-bound.
using LaterFn = QJsonDocument* (*)(const QJsonDocument*, QObject*, VC_AnswerCallback);
// A command the component carries out itself; answers the envelope alone.
using ComponentFn = QString (WebClientComponents::*)(const QJsonObject&);

// What a row calls. std::monostate: nothing; the command answers the empty
// text. The library calls taking a request or nothing need no component.
using VideoCall =
    std::variant<std::monostate, WidgetRequestFn, WidgetFn, RequestFn, NoArgumentFn, ComponentFn, LaterFn>;

enum VideoCommandFlag : unsigned {
    kWindowBound = 1u << 0,            // the "uuid" must name a registered window
    kAddPlayGroup = 1u << 1,           // the component's play group goes in as "playGroup"
    kFullScreen = 1u << 2,             // the window prepares itself before the component runs
    kRaisedTemporaryWindow = 1u << 3,  // a temporary window is raised around the call
    kDebugLine = 1u << 4,              // "WindowControl::<name>" is logged before the call
};

struct VideoCommand {
    const char* szName;  // the command name, the part of "cmd" after "video."
    VideoCall call;
    unsigned uFlags;

    bool has(VideoCommandFlag eFlag) const { return (uFlags & eFlag) != 0; }
    // Calls nothing and answers the empty text.
    bool answersEmpty() const { return std::holds_alternative<std::monostate>(call); }
    // A library call without the component's widget: runs with or without a
    // component (WebClientComponents::runGlobal).
    bool needsNoComponent() const {
        return std::holds_alternative<RequestFn>(call) || std::holds_alternative<NoArgumentFn>(call) || answersLater();
    }
    // Its answer may come after the call returned (LaterAnswer).
    bool answersLater() const { return std::holds_alternative<LaterFn>(call); }
};

// The first row whose name equals strName exactly; null when none does.
const VideoCommand* findVideoCommand(const QString& strName);

// The whole table, in comparison order.
const VideoCommand* videoCommandsBegin();
const VideoCommand* videoCommandsEnd();

}  // namespace video

#endif  // VIDEO_VIDEOCOMMAND_H
