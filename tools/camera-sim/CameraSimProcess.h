// Runs build/tools/camera-sim for tests and benchmarks and waits until it
// serves. The camera stops with the object.
#ifndef TOOLS_CAMERASIMPROCESS_H
#define TOOLS_CAMERASIMPROCESS_H

#include <QProcess>
#include <QString>
#include <QStringList>

class CameraSimProcess {
public:
    // The camera-sim binary at strBinary, serving on 127.0.0.1:iPort.
    CameraSimProcess(QString strBinary, int iPort);
    ~CameraSimProcess();

    // Starts it with the extra flags (--gop 5, --stop-after 2 ...); true once
    // it printed its address, within iTimeoutMs.
    bool start(const QStringList& flags = QStringList(), int iTimeoutMs = 10000);
    // rtsp://127.0.0.1:<port>/live
    QString url() const { return m_strUrl; }
    // Everything it printed so far.
    QString output();

private:
    QString m_strBinary;
    int m_iPort;
    QString m_strUrl;
    QString m_strOutput;
    QProcess m_process;
};

#endif  // TOOLS_CAMERASIMPROCESS_H
