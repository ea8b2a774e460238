// Downloads and uploads (see Transfers.h): VC_Download, VC_StartDownload,
// VC_StopDownload, VC_GetDownloadStatus, VC_GetDownloadProgress,
// VC_StartAsynUpload, VC_UploadFile, VC_StopAsynUpload,
// VC_GetUploadErrorInfo.
#include "Transfers.h"

#include "VcLibrary.h"
#include "VcSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QNetworkAccessManager>

using namespace vc;

namespace {

constexpr int kMaxTransfers = 64;
constexpr int kTransferTimeoutMs = 60000;

// Every transfer, by id (so the oldest first), and the network they use.
// Goes with the application.
class TransferTable : public QObject {
public:
    explicit TransferTable(QObject* pParent) : QObject(pParent), m_pNetwork(new QNetworkAccessManager(this)) {
        m_pNetwork->setTransferTimeout(kTransferTimeoutMs);
    }

    QNetworkAccessManager* network() const { return m_pNetwork; }
    int nextId() { return ++m_iLastId; }

    // The transfer of the kind the request names by "downloadId" or
    // "uploadId"; null with *pError when there is none.
    Transfer* find(const QJsonObject& request, Transfer::Kind eKind, QJsonObject* pError) const {
        const QJsonValue id = request.value(Transfer::idKey(eKind));
        Transfer* pTransfer = m_transfers.value(id.isDouble() ? id.toInt() : 0);
        if (pTransfer && pTransfer->kind() == eKind) return pTransfer;
        *pError = errorResult(Error::NoSuchTransfer, QStringLiteral("no transfer with that \"%1\"").arg(Transfer::idKey(eKind)));
        return nullptr;
    }

    // Whether a download that is not done writes that file.
    bool isWriting(const QString& strPath) const {
        for (const Transfer* pTransfer : m_transfers) {
            if (pTransfer->kind() == Transfer::Kind::Download && pTransfer->status() != Transfer::Status::Done &&
                QFileInfo(pTransfer->path()) == QFileInfo(strPath))
                return true;
        }
        return false;
    }

    // Room for one more: drops the oldest that does not run when full.
    bool makeRoom() {
        if (m_transfers.size() < kMaxTransfers) return true;
        for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it) {
            if (it.value()->status() != Transfer::Status::Running) {
                delete it.value();
                m_transfers.erase(it);
                return true;
            }
        }
        return false;
    }

    void add(Transfer* pTransfer) { m_transfers.insert(pTransfer->id(), pTransfer); }

private:
    QNetworkAccessManager* m_pNetwork;
    QMap<int, Transfer*> m_transfers;  // children of the table
    int m_iLastId = 0;
};

QPointer<TransferTable>& tablePointer() {
    static QPointer<TransferTable> s_pTable;
    return s_pTable;
}

TransferTable& transfers() {
    if (!tablePointer()) tablePointer() = new TransferTable(QCoreApplication::instance());
    return *tablePointer();
}

// A file in the folder that is not there yet and no download writes: the
// name itself, else "name (1).ext", "name (2).ext" and so on.
QString freeFileIn(const QString& strFolder, const QString& strName) {
    const QFileInfo name(strName);
    const QString strSuffix = name.suffix().isEmpty() ? QString() : QLatin1Char('.') + name.suffix();
    for (int i = 0;; ++i) {
        const QString strPath = QDir(strFolder).filePath(
            i ? QStringLiteral("%1 (%2)%3").arg(name.completeBaseName()).arg(i).arg(strSuffix) : strName);
        if (!QFileInfo::exists(strPath) && !QFileInfo::exists(strPath + QStringLiteral(".part")) &&
            !transfers().isWriting(strPath))
            return strPath;
    }
}

// Where a download goes: "path" when it names a file; else a free file
// named after the url in "path" (a folder) or in the record folder.
QString downloadTarget(const QJsonObject& request, const QUrl& url, QJsonObject* pError) {
    const QString strPath = QDir::fromNativeSeparators(request.value(QStringLiteral("path")).toString());
    const bool bFolder = strPath.isEmpty() || strPath.endsWith('/') || QFileInfo(strPath).isDir();
    const QString strFolder =
        bFolder ? (strPath.isEmpty() ? QDir::fromNativeSeparators(setting(Setting::RecordPath)) : strPath)
                : QFileInfo(strPath).absolutePath();
    if (!QDir().mkpath(strFolder)) {
        *pError = errorResult(Error::FileError, QStringLiteral("cannot make the folder %1").arg(strFolder));
        return QString();
    }
    if (!bFolder && transfers().isWriting(strPath)) {
        *pError = errorResult(Error::BadRequest, QStringLiteral("another download writes %1").arg(strPath));
        return QString();
    }
    const QString strName = url.fileName().isEmpty() ? QStringLiteral("download") : url.fileName();
    return bFolder ? freeFileIn(strFolder, strName) : strPath;
}

// Starts a transfer: again when the request names one by its id, else a new
// one from "url" ("username" and "password" may come as keys).
QJsonObject start(const QJsonObject& request, Transfer::Kind eKind) {
    TransferTable& table = transfers();
    QJsonObject error;
    if (request.contains(Transfer::idKey(eKind))) {
        Transfer* pTransfer = table.find(request, eKind, &error);
        if (!pTransfer || !pTransfer->start(true, &error)) return error;
        return pTransfer->state();
    }
    QUrl url(request.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
    const QString strScheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (strScheme != QLatin1String("http") && strScheme != QLatin1String("https")))
        return errorResult(Error::BadUrl, QStringLiteral("\"url\" must be an http:// or https:// url"));
    if (request.value(QStringLiteral("username")).isString()) url.setUserName(request.value(QStringLiteral("username")).toString());
    if (request.value(QStringLiteral("password")).isString()) url.setPassword(request.value(QStringLiteral("password")).toString());

    QString strPath;
    if (eKind == Transfer::Kind::Download) {
        strPath = downloadTarget(request, url, &error);
        if (strPath.isEmpty()) return error;
    } else {
        strPath = QDir::fromNativeSeparators(request.value(QStringLiteral("path")).toString());
        if (!QFileInfo(strPath).isFile())
            return errorResult(Error::FileError, QStringLiteral("\"path\" must name a file to send"));
    }
    const QString strField = request.value(QStringLiteral("field")).toString(QStringLiteral("file"));
    if (!table.makeRoom())
        return errorResult(Error::BadRequest, QStringLiteral("%1 transfers run already").arg(kMaxTransfers));
    auto* pTransfer = new Transfer(table.nextId(), eKind, url, strPath, strField, table.network(), &table);
    if (!pTransfer->start(false, &error)) {
        delete pTransfer;
        return error;
    }
    table.add(pTransfer);
    return pTransfer->state();
}

template <Transfer::Kind eKind>
QJsonObject startTransfer(const QJsonObject& request) {
    return start(request, eKind);
}

template <Transfer::Kind eKind>
QJsonObject stopTransfer(const QJsonObject& request) {
    QJsonObject error;
    Transfer* pTransfer = transfers().find(request, eKind, &error);
    if (!pTransfer) return error;
    pTransfer->stop();
    return pTransfer->state();
}

template <Transfer::Kind eKind>
QJsonObject transferState(const QJsonObject& request) {
    QJsonObject error;
    const Transfer* pTransfer = transfers().find(request, eKind, &error);
    return pTransfer ? pTransfer->state() : error;
}

QJsonObject downloadProgress(const QJsonObject& request) {
    QJsonObject error;
    const Transfer* pTransfer = transfers().find(request, Transfer::Kind::Download, &error);
    return pTransfer ? pTransfer->progress() : error;
}

}  // namespace

void vc::resetTransfers() {
    delete tablePointer().data();
}

constexpr auto kDownload = Transfer::Kind::Download;
constexpr auto kUpload = Transfer::Kind::Upload;
VC_DEFINE_REQUEST(VC_Download, startTransfer<kDownload>)
VC_DEFINE_REQUEST(VC_StartDownload, startTransfer<kDownload>)
VC_DEFINE_REQUEST(VC_StopDownload, stopTransfer<kDownload>)
VC_DEFINE_REQUEST(VC_GetDownloadStatus, transferState<kDownload>)
VC_DEFINE_REQUEST(VC_GetDownloadProgress, downloadProgress)
VC_DEFINE_REQUEST(VC_StartAsynUpload, startTransfer<kUpload>)
VC_DEFINE_REQUEST(VC_UploadFile, startTransfer<kUpload>)
VC_DEFINE_REQUEST(VC_StopAsynUpload, stopTransfer<kUpload>)
VC_DEFINE_REQUEST(VC_GetUploadErrorInfo, transferState<kUpload>)
