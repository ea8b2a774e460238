// Downloads and uploads (see Transfers.h): VC_Download, VC_StartDownload,
// VC_StopDownload, VC_GetDownloadStatus, VC_GetDownloadProgress,
// VC_StartAsynUpload, VC_UploadFile, VC_StopAsynUpload,
// VC_GetUploadErrorInfo.
#include "Transfers.h"

#include "Admission.h"
#include "MediaFolders.h"
#include "VcLibrary.h"
#include "VcSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>

using namespace vc;

namespace {

constexpr int kTransferTimeoutMs = 60000;

QString ownerOf(const QJsonObject& request) {
    return request.value(QStringLiteral("uuid")).toString();
}

// Every transfer, the oldest first, and the network they use. Goes with the
// application.
class TransferTable : public QObject {
public:
    explicit TransferTable(QObject* pParent) : QObject(pParent), m_pNetwork(new QNetworkAccessManager(this)) {
        m_pNetwork->setTransferTimeout(kTransferTimeoutMs);
    }

    QNetworkAccessManager* network() const { return m_pNetwork; }

    // The next id of the page's transfers.
    int nextId(const QString& strOwner) const {
        int iLast = 0;
        for (const Transfer* pTransfer : m_transfers) {
            if (pTransfer->owner() == strOwner) iLast = std::max(iLast, pTransfer->id());
        }
        return iLast + 1;
    }

    // The page's transfer of the kind the request names by "downloadId" or
    // "uploadId"; null with *pError when there is none.
    Transfer* find(const QJsonObject& request, Transfer::Kind eKind, QJsonObject* pError) const {
        const QJsonValue id = request.value(Transfer::idKey(eKind));
        const QString strOwner = ownerOf(request);
        for (Transfer* pTransfer : m_transfers) {
            if (id.isDouble() && pTransfer->id() == id.toInt() && pTransfer->owner() == strOwner &&
                pTransfer->kind() == eKind)
                return pTransfer;
        }
        *pError = errorResult(Error::NoSuchTransfer,
                              QStringLiteral("no transfer with that \"%1\"").arg(Transfer::idKey(eKind)));
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
            if ((*it)->status() != Transfer::Status::Running) {
                delete *it;
                m_transfers.erase(it);
                return true;
            }
        }
        return false;
    }

    void add(Transfer* pTransfer) { m_transfers.append(pTransfer); }

private:
    QNetworkAccessManager* m_pNetwork;
    QList<Transfer*> m_transfers;  // children of the table, the oldest first
};

QPointer<TransferTable>& tablePointer() {
    static QPointer<TransferTable> s_pTable;
    return s_pTable;
}

TransferTable& transfers() {
    if (!tablePointer()) tablePointer() = new TransferTable(QCoreApplication::instance());
    return *tablePointer();
}

// Where a download goes, inside the downloads folder: "path" when it names
// a file (a free name beside it when that is taken), else a free file named
// after the url in "path" (a folder) or in the download folder.
QString downloadTarget(const QJsonObject& request, const QUrl& url, QJsonObject* pError) {
    const QString strPath = QDir::fromNativeSeparators(request.value(QStringLiteral("path")).toString());
    QString strResolved;
    if (!resolveIn(MediaFolder::Downloads, strPath.isEmpty() ? setting(Setting::DownloadPath) : strPath, &strResolved,
                   pError))
        return QString();
    const bool bFolder = strPath.isEmpty() || strPath.endsWith('/') || QFileInfo(strResolved).isDir();
    const QString strFolder = bFolder ? strResolved : QFileInfo(strResolved).absolutePath();
    if (!makeFolder(strFolder, pError)) return QString();
    const QString strName = bFolder ? (url.fileName().isEmpty() ? QStringLiteral("download") : url.fileName())
                                    : QFileInfo(strResolved).fileName();
    return freeFileIn(strFolder, strName, [](const QString& strFile) {
        return QFileInfo::exists(strFile + QStringLiteral(".part")) || transfers().isWriting(strFile);
    });
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
    if (!url.isValid() || url.host().isEmpty() ||
        (strScheme != QLatin1String("http") && strScheme != QLatin1String("https")))
        return errorResult(Error::BadUrl, QStringLiteral("\"url\" must be an http:// or https:// url"));
    if (Transfer::isLocalHost(url.host())) return Transfer::localRefusal(url.host());
    if (request.value(QStringLiteral("username")).isString())
        url.setUserName(request.value(QStringLiteral("username")).toString());
    if (request.value(QStringLiteral("password")).isString())
        url.setPassword(request.value(QStringLiteral("password")).toString());

    QString strPath;
    if (eKind == Transfer::Kind::Download) {
        strPath = downloadTarget(request, url, &error);
        if (strPath.isEmpty()) return error;
    } else {
        const QString strAsked = request.value(QStringLiteral("path")).toString();
        if (strAsked.isEmpty())
            return errorResult(Error::BadRequest, QStringLiteral("\"path\" must name a file to send"));
        if (!resolveReadable(request, strAsked, &strPath, &error)) return error;
    }
    const QString strField = request.value(QStringLiteral("field")).toString(QStringLiteral("file"));
    if (!table.makeRoom())
        return errorResult(Error::BadRequest, QStringLiteral("%1 transfers run already").arg(kMaxTransfers));
    auto* pTransfer = new Transfer(ownerOf(request), table.nextId(ownerOf(request)), eKind, url, strPath, strField,
                                   table.network(), &table);
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
