// Runs tools/device-sim for tests: a simulated device on a loopback port
// whose answers are scripted, and which reports every mode request and talk
// it sees.
#ifndef TESTS_DEVICESIMPROCESS_H
#define TESTS_DEVICESIMPROCESS_H

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class DeviceSimProcess {
public:
    DeviceSimProcess() = default;
    ~DeviceSimProcess();

    // Starts the simulator on the port with extra flags and waits until it
    // listens.
    bool start(quint16 iPort, const QStringList& extraArguments = QStringList());

    // Replaces the whole script and waits until the simulator took it.
    bool setScript(const QJsonObject& script);

    // Waits for the next reported event named strEvent ("mode", "talk",
    // "talk-closed") that was not taken yet; an empty object on time-out.
    QJsonObject waitForEvent(const QString& strEvent, int iTimeoutMs = 5000);
    // Every event named strEvent reported so far and not taken; takes them.
    QList<QJsonObject> takeEvents(const QString& strEvent);
    // Forgets every event reported so far.
    void clearEvents();

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_iPort); }

    // An "audio." request of a page to this device with every key a talk
    // start takes (the keys "ak" and "sk", protected as a page would).
    QJsonObject talkRequest(const QString& strCommand, const QString& strUuid, const QString& strSequence) const;

private:
    void collect();

    QProcess m_process;
    QByteArray m_pending;
    QList<QJsonObject> m_events;
    quint16 m_iPort = 0;
};

#endif  // TESTS_DEVICESIMPROCESS_H
