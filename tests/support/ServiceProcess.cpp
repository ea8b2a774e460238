#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <csignal>

ServiceProcess::ServiceProcess(const QJsonObject& config)
    : ServiceProcess(config, qEnvironmentVariable("LOCALSERVICE_BIN")) {}

ServiceProcess::ServiceProcess(const QJsonObject& config, const QString& strSource) {
    const QString strBinary = m_dir.filePath(QStringLiteral("localservice"));
    QFile::copy(strSource, strBinary);
    QFile::setPermissions(strBinary, QFile::permissions(strSource));
    QFile file(m_dir.filePath(QStringLiteral("LocalServiceConfig.json")));
    if (!config.isEmpty() && file.open(QIODevice::WriteOnly)) file.write(QJsonDocument(config).toJson());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The user's settings (remembered origins) stay in the test's folder.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_process.setProcessEnvironment(env);
}

ServiceProcess::~ServiceProcess() {
    // Ended as a user's session ends it, so that a leak checker runs too.
    if (isRunning()) {
        terminate();
        if (!m_process.waitForFinished(5000)) {
            kill();
            m_process.waitForFinished(5000);
        }
    }
    // In a sanitizer build the service reports into the output captured
    // here, which no test reads for that: a report fails the test.
    static const QRegularExpression report(
        QStringLiteral("ERROR: AddressSanitizer|WARNING: ThreadSanitizer|ERROR: LeakSanitizer|runtime error:"));
    if (log().contains(report)) qFatal("the service reported a sanitizer error:\n%s", qPrintable(m_strLog));
}

QString ServiceProcess::testHooksBinaryPath() {
    return qEnvironmentVariable("LOCALSERVICE_TESTHOOKS_BIN");
}

QJsonObject ServiceProcess::config(int iStart, const QString& strName, const QJsonObject& extra) {
    QJsonObject object = extra;
    object.insert("ServicePortStart", iStart);
    object.insert("ServicePortEnd", iStart + 10);
    object.insert("SingleInstance", QStringLiteral("%1-%2").arg(strName).arg(QCoreApplication::applicationPid()));
    return object;
}

bool ServiceProcess::writeInput(const QByteArray& baText) {
    if (m_process.write(baText) != baText.size()) return false;
    return m_process.waitForBytesWritten(5000) || m_process.bytesToWrite() == 0;
}

QString ServiceProcess::ask(const QByteArray& baLine, const QString& strPrefix, int iTimeoutMs) {
    const int iFrom = log().size();
    if (!writeInput(baLine + '\n')) return QString();
    QDeadlineTimer deadline(iTimeoutMs);
    while (!deadline.hasExpired()) {
        const QString strLog = log();
        const int iAt = strLog.indexOf(strPrefix, iFrom);
        const int iEnd = iAt < 0 ? -1 : strLog.indexOf('\n', iAt);
        if (iEnd >= 0) return strLog.mid(iAt + strPrefix.size(), iEnd - iAt - strPrefix.size());
        if (!isRunning()) break;
        m_process.waitForReadyRead(50);
    }
    return QString();
}

void ServiceProcess::setEnvironment(const QString& strName, const QString& strValue) {
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(strName, strValue);
    m_process.setProcessEnvironment(env);
}

bool ServiceProcess::start(const QString& strWorkingDir) {
    m_process.setWorkingDirectory(strWorkingDir.isEmpty() ? m_dir.path() : strWorkingDir);
    m_process.start(m_dir.filePath(QStringLiteral("localservice")), QStringList());
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

void ServiceProcess::terminate() {
    m_process.terminate();
}

void ServiceProcess::kill() {
    m_process.kill();
}

bool ServiceProcess::stop(int iTimeoutMs) {
    terminate();
    return waitForFinished(iTimeoutMs) && exitStatus() == QProcess::NormalExit && exitCode() == 0;
}
