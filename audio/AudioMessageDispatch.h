#ifndef AUDIO_AUDIOMESSAGEDISPATCH_H
#define AUDIO_AUDIOMESSAGEDISPATCH_H

#include <QObject>
#include <QString>

// The audio module: two-way talks with devices.
class AudioMessageDispatch : public QObject {
    Q_OBJECT
public:
    explicit AudioMessageDispatch(QObject* parent = nullptr);
    ~AudioMessageDispatch() override;

    // Entry for one "audio." request text; the answer leaves through
    // messageResponse.
    void processMessage(QString message);

signals:
    void messageResponse(QString strUUID, QString message);

public slots:
    void onMessageProcess(QString strResponse);
};

#endif  // AUDIO_AUDIOMESSAGEDISPATCH_H
