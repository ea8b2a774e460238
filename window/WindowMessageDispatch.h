#ifndef WINDOW_WINDOWMESSAGEDISPATCH_H
#define WINDOW_WINDOWMESSAGEDISPATCH_H

#include <QObject>
#include <QString>

// The window module's command layer: picks the sub-command of a "window."
// request and emits its response.
class WindowMessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit WindowMessageDispatch(QObject* parent = nullptr);
    ~WindowMessageDispatch() override;

    // Entry for one "window." request text; the answer leaves through
    // messageResponse.
    void processMessage(QString message);

    // The client with this uuid is gone; its window goes with it.
    void closeConnection(QString uuid);

    // Response to "getLocalServiceVersion" for the whole request text.
    static QString getLocalServiceVersion(const QString& strMessage);

signals:
    void messageResponse(QString strUUID, QString message);

public slots:
    void onMessageProcess(QString strResponse);
};

#endif  // WINDOW_WINDOWMESSAGEDISPATCH_H
