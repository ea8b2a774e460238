// The video module's command layer: picks the command of a "video." request
// from the command table, has the window registry run it, and emits the
// answer, also when it is the empty text. It also passes the video events of
// every window (drawing, stream, fisheye, full screen, mouse) on to the page
// that owns the window.
//
// GUI thread only. Every command is answered before processMessage returns,
// but for one that answers later (the file dialog): sigAnswerDeferred then
// says so before processMessage returns, and the answer leaves later through
// sigDeferredResponse, unless this dispatcher is gone by then.
#ifndef VIDEO_VIDEOMESSAGEDISPATCH_H
#define VIDEO_VIDEOMESSAGEDISPATCH_H

#include <QJsonObject>
#include <QObject>
#include <QString>

class VideoMessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit VideoMessageDispatch(QObject* parent = nullptr);
    ~VideoMessageDispatch() override;

    // Entry for one parsed "video." request. Only the part of "cmd" between
    // the first and the second dot names the command. A request that names
    // no command gets no answer.
    void processRequest(const QJsonObject& request);
    // The same for a request text; text that is not JSON gets no answer.
    void processMessage(const QString& message);

signals:
    // The answer to a request, and the request's "uuid".
    void messageResponse(QString strUUID, QString message);
    // An event of a native or page window (the registry's and the page
    // windows' events leave here as they are), and its client's "uuid".
    void sigEvent(QString strUUID, QString message);
    // The request just given to processMessage answers later.
    void sigAnswerDeferred(QString strUUID);
    // That later answer.
    void sigDeferredResponse(QString strUUID, QString message);
};

#endif  // VIDEO_VIDEOMESSAGEDISPATCH_H
