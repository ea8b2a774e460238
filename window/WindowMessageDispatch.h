#ifndef WINDOW_WINDOWMESSAGEDISPATCH_H
#define WINDOW_WINDOWMESSAGEDISPATCH_H

#include <QJsonObject>
#include <QObject>
#include <QString>

// The window module's command layer: picks the command of a "window." request
// (the second dot-separated field of "cmd", compared exactly), runs the
// registry's operation of that name and emits its response. Unknown commands
// and requests that are not JSON get no answer. GUI thread only.
class WindowMessageDispatch : public QObject {
    Q_OBJECT
public:
    // Creates the window registry on first use and relays its events
    // routed here (EventSignals.h) to the window's client.
    explicit WindowMessageDispatch(QObject* parent = nullptr);
    ~WindowMessageDispatch() override;

    // Entry for one parsed "window." request; the answer leaves through
    // messageResponse.
    void processRequest(const QJsonObject& request);
    // The same for a request text.
    void processMessage(const QString& message);

    // The client with this uuid is gone; its window goes with it.
    void closeConnection(QString uuid);

signals:
    // The answer to a request, and the request's "uuid".
    void messageResponse(QString strUUID, QString message);
    // An event of a window (EventSignals.h), and its client's "uuid".
    void sigEvent(QString strUUID, QString message);
};

#endif  // WINDOW_WINDOWMESSAGEDISPATCH_H
