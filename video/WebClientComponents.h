// The video component of one native window: owns the video widget (as a
// child of the window), initialises the video library on it, carries out the
// window's video commands and relays the library's events of that widget.
//
// GUI thread only: construction, every command, every library call and
// every event.
#ifndef VIDEO_WEBCLIENTCOMPONENTS_H
#define VIDEO_WEBCLIENTCOMPONENTS_H

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include "EventSignals.h"
#include "VideoWidget.h"

class QWidget;

namespace video {
struct VideoCommand;
}

// The pending answer of one request whose command answers later (the file
// dialog): the video dispatcher makes it, the library gets it as the answer
// callback's context. GUI thread only. It is a child of the dispatcher and
// the library holds it through a QPointer, so an answer whose dispatcher is
// gone is dropped; once it has answered it deletes itself. Whether the
// client is still there is the transport's to know: it drops an answer for
// a client that left.
class LaterAnswer : public QObject {
    Q_OBJECT
public:
    LaterAnswer(const QJsonObject& request, QObject* pParent);
    // The library's answer callback (VC_AnswerCallback): pContext is a
    // LaterAnswer.
    static void deliver(QObject* pContext, const QJsonDocument* pResult);

signals:
    // The response, for the request's "uuid".
    void sigAnswer(QString strUuid, QString strResponse);

private:
    QJsonObject m_request;
};

class WebClientComponents : public QObject {
    Q_OBJECT
public:
    // pParent is the owning window; the video widget becomes its child and
    // is named strUuid, the "uuid" that the widget's events carry.
    WebClientComponents(QWidget* pParent, QString strUuid);
    // Makes no library call. The widget goes with its window; only a widget
    // that no window holds any more (the window went while the widget was
    // in full screen) is deleted here.
    ~WebClientComponents() override;

    // Runs a row that needs the component (a library call with the widget,
    // or one of the component's own commands) and returns the response text.
    QString run(const video::VideoCommand& command, const QJsonObject& request);
    // Runs a row whose library call takes no widget; no component needed.
    // A row that answers later takes pLater: the null text then means that
    // pLater will answer (any other text is the answer, given at once).
    static QString runGlobal(const video::VideoCommand& command, const QJsonObject& request,
                             LaterAnswer* pLater = nullptr);

    // Stops every play window; the window registry calls it before it closes
    // the window of a departed client.
    QString stopAll(const QJsonObject& request);
    // Removes one shape by its identifier (no command reaches it).
    QString clearShapeById(const QJsonObject& request);
    // Selects a play window; the response is dropped.
    void selectPlayWindow(const QJsonObject& request);

    // The component's own commands; each answers the envelope alone
    // (tools/web/make-reference.mjs reads this table):
    // | component | what it does | request keys | result keys |
    // |---|---|---|---|
    // | setFullScreen | enters full screen remembering the foreground window; "full" false, or true while already in full screen, leaves it | "full" (default true; any other JSON type counts as true) | none |
    // | setFullScreenCapability | whether a double click on a playing picture switches full screen | "mode" (a number: 0 off) | none |
    // | setPlayBackType | the "playGroup" sent with every startPlay from now on (-1 until then) | "type" | none |
    QString setFullScreen(const QJsonObject& request);
    QString setFullScreenCapability(const QJsonObject& request);
    QString setPlayBackType(const QJsonObject& request);

    // The video widget's geometry within its window; ignored in full screen.
    void setVideoGeometry(int x, int y, int width, int height);
    QRect videoGeometry() const;
    bool isVideoFullScreen() const;
    NEVER_USE_ME::MainWindow* videoWidget() const { return m_pMainWindow; }

signals:
    // The widget's events, relayed as they are.
    EVENT_SIGNALS(DECLARE_EVENT_SIGNAL)
    void sigQuitedFullScreen();
    void sigDrawEvent(QString graphicsDescriptor);  // declared, never emitted

private:
    QPointer<NEVER_USE_ME::MainWindow> m_pMainWindow;
};

#endif  // VIDEO_WEBCLIENTCOMPONENTS_H
