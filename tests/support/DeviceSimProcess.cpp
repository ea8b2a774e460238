#include "DeviceSimProcess.h"

#include "CredentialSender.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

// Closing its standard input ends the simulator (--exit-on-eof).
DeviceSimProcess::~DeviceSimProcess() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool DeviceSimProcess::start(quint16 iPort, const QStringList& extraArguments) {
    m_iPort = iPort;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(qEnvironmentVariable("DEVICE_SIM_BIN"),
                    QStringList{QStringLiteral("--port"), QString::number(iPort), QStringLiteral("--exit-on-eof")} +
                        extraArguments);
    if (!m_process.waitForStarted(5000)) return false;
    return !waitForEvent(QStringLiteral("listening"), 20000).isEmpty();
}

bool DeviceSimProcess::setScript(const QJsonObject& script) {
    takeEvents(QStringLiteral("script"));
    m_process.write(QJsonDocument(script).toJson(QJsonDocument::Compact) + '\n');
    return !waitForEvent(QStringLiteral("script")).isEmpty();
}

void DeviceSimProcess::collect() {
    m_pending += m_process.readAllStandardOutput();
    int iEnd;
    while ((iEnd = m_pending.indexOf('\n')) >= 0) {
        const QJsonDocument document = QJsonDocument::fromJson(m_pending.left(iEnd));
        m_pending.remove(0, iEnd + 1);
        if (document.isObject()) m_events.append(document.object());
    }
}

QJsonObject DeviceSimProcess::waitForEvent(const QString& strEvent, int iTimeoutMs) {
    const QDeadlineTimer deadline(iTimeoutMs);
    for (;;) {
        collect();
        for (int i = 0; i < m_events.size(); ++i) {
            if (m_events.at(i).value(QStringLiteral("event")).toString() == strEvent) return m_events.takeAt(i);
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) return QJsonObject();
        m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, qMin<qint64>(deadline.remainingTime(), 50))));
    }
}

QList<QJsonObject> DeviceSimProcess::takeEvents(const QString& strEvent) {
    // Pick up whatever already arrived.
    m_process.waitForReadyRead(0);
    collect();
    QList<QJsonObject> taken;
    for (int i = 0; i < m_events.size();) {
        if (m_events.at(i).value(QStringLiteral("event")).toString() == strEvent)
            taken.append(m_events.takeAt(i));
        else
            ++i;
    }
    return taken;
}

void DeviceSimProcess::clearEvents() {
    m_process.waitForReadyRead(0);
    collect();
    m_events.clear();
}

QJsonObject DeviceSimProcess::talkRequest(const QString& strCommand, const QString& strUuid,
                                          const QString& strSequence) const {
    const unsigned char iv[16] = {1};
    std::string strAk, strSk;
    if (!protectCredential("ak", iv, strAk) || !protectCredential("sk", iv, strSk)) return QJsonObject();
    return QJsonObject{{"cmd", "audio." + strCommand},
                       {"uuid", strUuid},
                       {"sequence", strSequence},
                       {"talkId", "t"},
                       {"handle", -1},
                       {"ZBCInfo", QJsonObject{{"address", address()},
                                               {"AK", QString::fromStdString(strAk)},
                                               {"SK", QString::fromStdString(strSk)}}},
                       {"deviceSerial", "D"},
                       {"alarmTime", "x"},
                       {"Security", 1},
                       {"Iv", QString::fromStdString(toHexText(iv, 16))}};
}
