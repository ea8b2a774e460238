// HTTP(S) transfers that run on while the library answers other calls:
// downloads into a file and uploads of a file (a multipart/form-data POST).
//
// Every transfer runs through one QNetworkAccessManager on the GUI thread;
// starting, stopping and asking never wait for the network. A download
// writes into "<file>.part" and renames it when complete; started again
// after a stop or a failure it asks for the rest with a Range header (a
// server that ignores it sends the whole file again). An upload started
// again sends the whole file again. Redirects are followed unless they
// lead from https to http; a transfer that gets no data for 60 s fails.
//
// At most 64 transfers are kept; a new one drops the oldest that is not
// running. A start that would bring the process near its descriptor limit
// is refused (OutOfDescriptors, Admission.h). GUI thread only.
#ifndef VIDEO_CONTROL_TRANSFERS_H
#define VIDEO_CONTROL_TRANSFERS_H

#include "VcError.h"

#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace vc {

class Transfer : public QObject {
    Q_OBJECT
public:
    enum class Kind { Download, Upload };
    enum class Status { Running, Stopped, Done, Failed };

    // strPath: the file to write (download) or to send (upload); strField:
    // the form field of an upload.
    Transfer(int iId, Kind eKind, const QUrl& url, const QString& strPath, const QString& strField,
             QNetworkAccessManager* pNetwork, QObject* pParent);
    ~Transfer() override;

    // "downloadId" or "uploadId": the key of a transfer's id.
    static QString idKey(Kind eKind);

    int id() const { return m_iId; }
    Kind kind() const { return m_eKind; }
    Status status() const { return m_eStatus; }
    QString path() const { return m_strPath; }

    // Starts (bResume: a download from where it stopped, else afresh), or
    // starts again after a stop or a failure. False with *pError when it
    // cannot start.
    bool start(bool bResume, QJsonObject* pError);
    void stop();
    // "<kind>Id", "status" (running, stopped, done, failed), "url" (without
    // credentials), "path", "bytes", "total" (-1: not known yet),
    // "progress" (0-100, -1 while the total is not known) and, after a
    // failure, "failure" {"errorCode", "errorMessage", "httpStatus"}.
    QJsonObject state() const;
    QJsonObject progress() const;

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onProgress(qint64 iBytes, qint64 iTotal);
    void fail(Error eError, const QString& strWhy, int iHttpStatus = 0);
    void dropReply();
    QString partPath() const { return m_strPath + QStringLiteral(".part"); }

    int m_iId;
    Kind m_eKind;
    QUrl m_url;
    QString m_strPath;
    QString m_strField;
    QNetworkAccessManager* m_pNetwork;
    Status m_eStatus = Status::Stopped;
    qint64 m_iBytes = 0;
    qint64 m_iTotal = -1;
    qint64 m_iResumeFrom = 0;  // what the partial file held when the request went out
    bool m_bAnswered = false;  // the answer's status line and headers were read
    QJsonObject m_failure;
    QPointer<QNetworkReply> m_pReply;
    QFile m_file;  // the partial file of a running download
};

// Stops and forgets every transfer.
void resetTransfers();

}  // namespace vc

#endif  // VIDEO_CONTROL_TRANSFERS_H
