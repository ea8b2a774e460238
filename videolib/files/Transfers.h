// HTTP(S) transfers that run on while the library answers other calls:
// downloads into a file and uploads of a file (a multipart/form-data POST).
//
// Every transfer runs through one QNetworkAccessManager on the GUI thread;
// starting, stopping and asking never wait for the network. A download
// writes into "<file>.part" (MediaFolders.h: mode 0644, never through a
// link) and moves it to a free name when complete; started again after a
// stop or a failure it asks for the rest with a Range header (a server that
// ignores it sends the whole file again). An upload started again sends the
// whole file again. Up to kMaxRedirects redirects are followed unless they
// lead from https to http; a transfer that gets no data for 60 s fails.
//
// The machine itself is not a page's proxy: before every request (and
// every redirect) the host is resolved, and a host with a loopback or
// unspecified address (127/8, ::1, 0/8, ::, "localhost") fails with
// LocalAddress; plain http then goes to the address checked (the Host
// header keeps the name), so a name cannot resolve elsewhere a second time;
// https keeps the name, whose certificate a local service cannot show.
//
// Transfers belong to the page ("uuid") that started them: ids count per
// page and another page's ids are unknown to it. At most 64 transfers are
// kept in all; a new one drops the oldest that is not running. A start that
// would bring the process near its descriptor limit is refused
// (OutOfDescriptors, Admission.h). GUI thread only.
#ifndef VIDEO_CONTROL_TRANSFERS_H
#define VIDEO_CONTROL_TRANSFERS_H

#include "VcError.h"

#include <QFile>
#include <QHostInfo>
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

    // strOwner: the page's "uuid"; strPath: the file to write (download,
    // inside the media folders) or to send (upload, checked); strField: the
    // form field of an upload.
    Transfer(const QString& strOwner, int iId, Kind eKind, const QUrl& url, const QString& strPath,
             const QString& strField, QNetworkAccessManager* pNetwork, QObject* pParent);
    ~Transfer() override;

    // "downloadId" or "uploadId": the key of a transfer's id.
    static QString idKey(Kind eKind);

    // Whether the url names this machine by itself (an address or
    // "localhost"), before any lookup.
    static bool isLocalHost(const QString& strHost);
    // The LocalAddress error for a host of this machine.
    static QJsonObject localRefusal(const QString& strHost);

    const QString& owner() const { return m_strOwner; }
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
    static constexpr int kMaxRedirects = 10;

    // Resolves the url's host, then sends the request there.
    void send(const QUrl& url);
    void onResolved(int iAttempt, const QHostInfo& host);
    // Follows the answer's redirect; false when it is none.
    bool followRedirect();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onProgress(qint64 iBytes, qint64 iTotal);
    void fail(Error eError, const QString& strWhy, int iHttpStatus = 0);
    void failWith(const QJsonObject& failure);
    void releaseReply();
    void dropReply();
    QString partPath() const { return m_strPath + QStringLiteral(".part"); }

    QString m_strOwner;
    int m_iId;
    Kind m_eKind;
    QUrl m_url;
    QUrl m_current;  // the url of the request under way (after redirects)
    int m_iRedirects = 0;
    int m_iAttempt = 0;  // which lookup is awaited
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
