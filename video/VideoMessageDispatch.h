#ifndef VIDEO_VIDEOMESSAGEDISPATCH_H
#define VIDEO_VIDEOMESSAGEDISPATCH_H

#include <QObject>
#include <QString>

// The video module's command layer.
class VideoMessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit VideoMessageDispatch(QObject* parent = nullptr);
    ~VideoMessageDispatch() override;

    // Entry for one "video." request text; the answer leaves through
    // messageResponse.
    void processMessage(QString message);

signals:
    void messageResponse(QString strUUID, QString message);

public slots:
    void onMessageProcess(QString strResponse);
};

#endif  // VIDEO_VIDEOMESSAGEDISPATCH_H
