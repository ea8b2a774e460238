#include "CameraSimProcess.h"

#include <QDeadlineTimer>

CameraSimProcess::CameraSimProcess(QString strBinary, int iPort) : m_strBinary(std::move(strBinary)), m_iPort(iPort) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

CameraSimProcess::~CameraSimProcess() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) m_process.kill();
    m_process.waitForFinished(2000);
}

bool CameraSimProcess::start(const QStringList& flags, int iTimeoutMs) {
    m_process.start(m_strBinary, QStringList{QStringLiteral("--port"), QString::number(m_iPort)} + flags);
    const QDeadlineTimer deadline(iTimeoutMs);
    while (!deadline.hasExpired()) {
        const int iReady = output().indexOf(QLatin1String("ready "));
        if (iReady >= 0 && m_strOutput.indexOf('\n', iReady) > 0) {
            m_strUrl = m_strOutput.mid(iReady + 6, m_strOutput.indexOf('\n', iReady) - iReady - 6).trimmed();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning && !m_process.waitForStarted(0)) return false;
        m_process.waitForReadyRead(100);
    }
    return false;
}

QString CameraSimProcess::output() {
    m_strOutput += QString::fromUtf8(m_process.readAllStandardOutput());
    return m_strOutput;
}
