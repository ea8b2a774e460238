// Runs the real service binary for integration tests: a copy of the binary in
// a temporary folder with its own "LocalServiceConfig.json" beside it (the
// service reads its configuration from its own folder), started on Qt's
// offscreen platform with a settings folder of its own (XDG_CONFIG_HOME),
// with its log collected.
#ifndef TESTS_SERVICEPROCESS_H
#define TESTS_SERVICEPROCESS_H

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class ServiceProcess {
public:
    // An empty config writes no file at all.
    explicit ServiceProcess(const QJsonObject& config = QJsonObject());
    // Runs a copy of strBinary instead of the service binary under test.
    ServiceProcess(const QJsonObject& config, const QString& strBinary);
    ~ServiceProcess();

    // Sets one variable of the service's environment (before start), for
    // example QT_QPA_PLATFORM=xcb to run it on an X display.
    void setEnvironment(const QString& strName, const QString& strValue);

    bool start(const QString& strWorkingDir = QString());
    // start() and waitForListening(): the port, or 0.
    quint16 startListening() { return start() ? waitForListening() : 0; }

    // Waits for the "listening on port N" line; returns N, or 0.
    quint16 waitForListening(int iTimeoutMs = 10000);
    // Waits until the log holds strText.
    bool waitForLog(const QString& strText, int iTimeoutMs = 10000);

    bool waitForFinished(int iTimeoutMs = 10000);
    bool isRunning() const;
    qint64 processId() const { return m_process.processId(); }
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;

    void terminate();  // SIGTERM
    void kill();       // SIGKILL
    // terminate() and waitForFinished(): true when it exited with 0 (a
    // sanitizer report on the way out makes that fail).
    bool stop(int iTimeoutMs = 30000);

    QString log();  // everything the process wrote so far

    // Writes to the process's standard input (the test-hooks build reads
    // commands there).
    bool writeInput(const QByteArray& baText);
    // Writes one hook line and returns the rest of the first log line after
    // that starts with strPrefix (empty when none comes in time).
    QString ask(const QByteArray& baLine, const QString& strPrefix, int iTimeoutMs = 10000);
    // The test hooks' "shown", "hidden" or "none" for the window of a client.
    QString windowState(const QString& strUuid) {
        return ask("window " + strUuid.toUtf8(), QStringLiteral("test hook: window %1 ").arg(strUuid));
    }

    // The service built with test hooks (LOCALSERVICE_TESTHOOKS_BIN).
    static QString testHooksBinaryPath();
    // A configuration of ten ports from iStart, a lock key of its own (the
    // name and this process's id) and the extra keys.
    static QJsonObject config(int iStart, const QString& strName, const QJsonObject& extra = QJsonObject());

private:
    void collect();

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_strLog;
};

#endif  // TESTS_SERVICEPROCESS_H
