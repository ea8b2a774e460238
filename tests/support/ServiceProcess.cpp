#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <csignal>

ServiceProcess::ServiceProcess(const QJsonObject& config) : ServiceProcess(config, binaryPath()) {}

ServiceProcess::ServiceProcess(const QJsonObject& config, const QString& strSource) {
    const QString strBinary = dir() + QStringLiteral("/localservice");
    QFile::copy(strSource, strBinary);
    QFile::setPermissions(strBinary, QFile::permissions(strSource));
    if (!config.isEmpty()) writeConfigText(QJsonDocument(config).toJson());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
}

ServiceProcess::~ServiceProcess() {
    if (isRunning()) {
        kill();
        m_process.waitForFinished(5000);
    }
}

QString ServiceProcess::binaryPath() {
    return qEnvironmentVariable("LOCALSERVICE_BIN");
}

QString ServiceProcess::testHooksBinaryPath() {
    return qEnvironmentVariable("LOCALSERVICE_TESTHOOKS_BIN");
}

bool ServiceProcess::writeInput(const QByteArray& baText) {
    if (m_process.write(baText) != baText.size()) return false;
    return m_process.waitForBytesWritten(5000) || m_process.bytesToWrite() == 0;
}

void ServiceProcess::setEnvironment(const QString& strName, const QString& strValue) {
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(strName, strValue);
    m_process.setProcessEnvironment(env);
}

void ServiceProcess::writeConfigText(const QByteArray& text) {
    QFile file(dir() + QStringLiteral("/LocalServiceConfig.json"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text);
}

bool ServiceProcess::start(const QString& strWorkingDir) {
    m_process.setWorkingDirectory(strWorkingDir.isEmpty() ? dir() : strWorkingDir);
    m_process.start(dir() + QStringLiteral("/localservice"), QStringList());
    return m_process.waitForStarted(5000);
}

void ServiceProcess::collect() {
    m_strLog += QString::fromUtf8(m_process.readAll());
}

QString ServiceProcess::log() {
    collect();
    return m_strLog;
}

bool ServiceProcess::waitForLog(const QString& strText, int iTimeoutMs) {
    QDeadlineTimer deadline(iTimeoutMs);
    while (!log().contains(strText)) {
        if (deadline.hasExpired()) return false;
        if (!isRunning()) return log().contains(strText);
        m_process.waitForReadyRead(qMax<qint64>(1, qMin<qint64>(100, deadline.remainingTime())));
    }
    return true;
}

quint16 ServiceProcess::waitForListening(int iTimeoutMs) {
    if (!waitForLog(QStringLiteral("listening on port "), iTimeoutMs)) return 0;
    // The line may still be arriving: wait for its end.
    static const QRegularExpression re(QStringLiteral("listening on port (\\d+)\\n"));
    QDeadlineTimer deadline(2000);
    QRegularExpressionMatch match;
    while (!(match = re.match(log())).hasMatch() && !deadline.hasExpired()) m_process.waitForReadyRead(50);
    return match.hasMatch() ? static_cast<quint16>(match.captured(1).toUInt()) : 0;
}

bool ServiceProcess::waitForFinished(int iTimeoutMs) {
    const bool bFinished = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(iTimeoutMs);
    collect();
    return bFinished;
}

bool ServiceProcess::isRunning() const {
    return m_process.state() != QProcess::NotRunning;
}

int ServiceProcess::exitCode() const {
    return m_process.exitCode();
}

QProcess::ExitStatus ServiceProcess::exitStatus() const {
    return m_process.exitStatus();
}

qint64 ServiceProcess::pid() const {
    return m_process.processId();
}

void ServiceProcess::terminate() {
    m_process.terminate();
}

void ServiceProcess::kill() {
    m_process.kill();
}
