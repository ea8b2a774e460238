// Runs the real service binary for integration tests: a copy of the binary in
// a temporary folder with its own "LocalServiceConfig.json" beside it (the
// service reads its configuration from its own folder), started on Qt's
// offscreen platform, with its log collected.
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

    // Writes this text as the configuration file (replacing any).
    void writeConfigText(const QByteArray& text);

    // Sets one variable of the service's environment (before start), for
    // example QT_QPA_PLATFORM=xcb to run it on an X display.
    void setEnvironment(const QString& strName, const QString& strValue);

    bool start(const QString& strWorkingDir = QString());

    // Waits for the "listening on port N" line; returns N, or 0.
    quint16 waitForListening(int iTimeoutMs = 10000);
    // Waits until the log holds strText.
    bool waitForLog(const QString& strText, int iTimeoutMs = 10000);

    bool waitForFinished(int iTimeoutMs = 10000);
    bool isRunning() const;
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    qint64 pid() const;

    void terminate();  // SIGTERM
    void kill();       // SIGKILL

    QString log();  // everything the process wrote so far
    QString dir() const { return m_dir.path(); }

    // Writes to the process's standard input (the test-hooks build reads
    // commands there).
    bool writeInput(const QByteArray& baText);

    // The service binary under test (LOCALSERVICE_BIN).
    static QString binaryPath();
    // The same service built with test hooks (LOCALSERVICE_TESTHOOKS_BIN).
    static QString testHooksBinaryPath();

private:
    void collect();

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_strLog;
};

#endif  // TESTS_SERVICEPROCESS_H
