#include "Transfers.h"

#include "Admission.h"
#include "MediaFolders.h"
#include "VcLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <algorithm>

namespace vc {

namespace {

bool isLocalAddress(const QHostAddress& address) {
    bool bMapped = false;
    const quint32 iV4 = address.toIPv4Address(&bMapped);
    if (bMapped) return (iV4 >> 24) == 127 || (iV4 >> 24) == 0;  // IPv4, or mapped into IPv6
    return address.isLoopback() || address == QHostAddress(QHostAddress::AnyIPv6);
}

}  // namespace

Transfer::Transfer(const QString& strOwner, int iId, Kind eKind, const QUrl& url, const QString& strPath,
                   const QString& strField, QNetworkAccessManager* pNetwork, QObject* pParent)
    : QObject(pParent),
      m_strOwner(strOwner),
      m_iId(iId),
      m_eKind(eKind),
      m_url(url),
      m_strPath(strPath),
      m_strField(strField),
      m_pNetwork(pNetwork) {}

Transfer::~Transfer() {
    dropReply();
}

QString Transfer::idKey(Kind eKind) {
    return eKind == Kind::Download ? QStringLiteral("downloadId") : QStringLiteral("uploadId");
}

QJsonObject Transfer::localRefusal(const QString& strHost) {
    return errorResult(Error::LocalAddress,
                       QStringLiteral("%1 is this machine; transfers go to other hosts only").arg(strHost));
}

bool Transfer::isLocalHost(const QString& strHost) {
    if (testSeam().bAllowLocalTransfers) return false;
    const QString strName = strHost.toLower();
    if (strName == QLatin1String("localhost") || strName.endsWith(QLatin1String(".localhost"))) return true;
    const QHostAddress address(strName);
    return !address.isNull() && isLocalAddress(address);
}

bool Transfer::start(bool bResume, QJsonObject* pError) {
    if (m_eStatus == Status::Running) return true;
    if (!admitDescriptors(kTransferDescriptors, QStringLiteral("a transfer"), pError)) return false;
    if (m_eKind == Kind::Download) {
        const QFileInfo part(partPath());
        if (!openForWriting(partPath(), !part.exists() && !part.isSymLink(), &m_file, pError)) return false;
        if ((!bResume && !m_file.resize(0)) || !m_file.seek(m_file.size())) {
            *pError = errorResult(Error::FileError,
                                  QStringLiteral("cannot write %1: %2").arg(partPath(), m_file.errorString()));
            m_file.close();
            return false;
        }
        m_iResumeFrom = m_iBytes = m_file.size();
    } else {
        QFile file;
        if (!openForReading(m_strPath, &file, pError)) return false;
        m_iBytes = 0;
        m_iTotal = file.size();
    }
    m_failure = QJsonObject();
    m_eStatus = Status::Running;
    m_iRedirects = 0;
    send(m_url);
    return true;
}

void Transfer::send(const QUrl& url) {
    m_current = url;
    const int iAttempt = ++m_iAttempt;
    if (isLocalHost(url.host())) {
        failWith(localRefusal(url.host()));
        return;
    }
    QHostInfo::lookupHost(url.host(), this, [this, iAttempt](const QHostInfo& host) { onResolved(iAttempt, host); });
}

void Transfer::onResolved(int iAttempt, const QHostInfo& host) {
    if (iAttempt != m_iAttempt || m_eStatus != Status::Running) return;  // stopped, or started again
    const QList<QHostAddress> addresses = host.addresses();
    if (host.error() != QHostInfo::NoError || addresses.isEmpty()) {
        fail(Error::TransferFailed, QStringLiteral("cannot resolve %1: %2").arg(m_current.host(), host.errorString()));
        return;
    }
    if (!testSeam().bAllowLocalTransfers && std::any_of(addresses.begin(), addresses.end(), isLocalAddress)) {
        failWith(localRefusal(m_current.host()));
        return;
    }
    QUrl target = m_current;
    QNetworkRequest request;
    if (m_current.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0) {
        request.setRawHeader("Host", m_current.authority(QUrl::RemoveUserInfo | QUrl::FullyEncoded).toUtf8());
        target.setHost(addresses.first().toString());
    }
    request.setUrl(target);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (m_eKind == Kind::Download) {
        if (m_iResumeFrom > 0) request.setRawHeader("Range", "bytes=" + QByteArray::number(m_iResumeFrom) + '-');
        m_pReply = m_pNetwork->get(request);
        connect(m_pReply, &QNetworkReply::metaDataChanged, this, &Transfer::onMetaData);
        connect(m_pReply, &QNetworkReply::readyRead, this, &Transfer::onReadyRead);
    } else {
        auto pFile = std::make_unique<QFile>();
        QJsonObject error;
        if (!openForReading(m_strPath, pFile.get(), &error)) {
            failWith(error);
            return;
        }
        auto* pForm = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart part;
        QString strName = QFileInfo(m_strPath).fileName();
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"")
                           .arg(m_strField, strName.replace('"', QStringLiteral("%22"))));
        part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
        m_iBytes = 0;
        m_iTotal = pFile->size();
        part.setBodyDevice(pFile.get());
        pFile.release()->setParent(pForm);
        pForm->append(part);
        m_pReply = m_pNetwork->post(request, pForm);
        pForm->setParent(m_pReply);
        connect(m_pReply, &QNetworkReply::uploadProgress, this, &Transfer::onProgress);
    }
    connect(m_pReply, &QNetworkReply::finished, this, &Transfer::onFinished);
    m_bAnswered = false;
}

bool Transfer::followRedirect() {
    const int iStatus = m_pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl location = m_pReply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (iStatus < 300 || iStatus >= 400 || location.isEmpty()) return false;
    const QUrl next = m_current.resolved(location);
    const QString strScheme = next.scheme().toLower();
    if (++m_iRedirects > kMaxRedirects) {
        fail(Error::TransferFailed, QStringLiteral("more than %1 redirects").arg(kMaxRedirects));
    } else if ((strScheme != QLatin1String("http") && strScheme != QLatin1String("https")) || next.host().isEmpty() ||
               (m_current.scheme().toLower() == QLatin1String("https") && strScheme == QLatin1String("http"))) {
        fail(Error::TransferFailed,
             QStringLiteral("refused a redirect to %1").arg(next.toString(QUrl::RemoveUserInfo)));
    } else {
        releaseReply();
        send(next);
    }
    return true;
}

void Transfer::stop() {
    if (m_eStatus != Status::Running) return;
    ++m_iAttempt;  // a lookup under way is not used
    dropReply();
    m_eStatus = Status::Stopped;
}

void Transfer::onMetaData() {
    const int iStatus = m_pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_bAnswered || m_eStatus != Status::Running || iStatus < 200 || iStatus >= 300)
        return;  // redirects are followed; errors end in onFinished
    m_bAnswered = true;
    if (iStatus == 206) {
        // "bytes <first>-<last>/<total or *>"
        static const QRegularExpression kRange(QStringLiteral("^bytes (\\d+)-\\d+/(\\d+|\\*)$"));
        const QRegularExpressionMatch match =
            kRange.match(QString::fromLatin1(m_pReply->rawHeader("Content-Range")).trimmed());
        if (!match.hasMatch() || match.captured(1).toLongLong() != m_iResumeFrom) {
            m_file.resize(0);  // the next start begins afresh
            fail(Error::TransferFailed, QStringLiteral("the server sent another part of the file than asked for"));
            return;
        }
        m_iTotal = match.captured(2) == QLatin1String("*") ? -1 : match.captured(2).toLongLong();
    } else {
        // The whole file (a server that ignores Range, or a first request).
        m_file.resize(0);
        m_file.seek(0);
        m_iBytes = 0;
        const QVariant length = m_pReply->header(QNetworkRequest::ContentLengthHeader);
        m_iTotal = length.isValid() ? length.toLongLong() : -1;
    }
}

void Transfer::onReadyRead() {
    if (!m_pReply) return;
    onMetaData();
    if (!m_bAnswered) {
        m_pReply->readAll();  // a redirect's or an error's body
        return;
    }
    const QByteArray baData = m_pReply->readAll();
    if (m_file.write(baData) != baData.size()) {
        fail(Error::FileError, QStringLiteral("cannot write %1: %2").arg(partPath(), m_file.errorString()));
        return;
    }
    m_iBytes += baData.size();
}

void Transfer::onProgress(qint64 iBytes, qint64 iTotal) {
    m_iBytes = iBytes;
    if (iTotal > 0) m_iTotal = iTotal;
}

void Transfer::onFinished() {
    if (!m_pReply || followRedirect()) return;
    const int iStatus = m_pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_pReply->error() != QNetworkReply::NoError || iStatus >= 400) {
        QString strWhy = m_pReply->errorString();
        if (iStatus >= 400) {
            strWhy = QStringLiteral("HTTP %1 %2")
                         .arg(iStatus)
                         .arg(m_pReply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
        } else if (m_pReply->error() == QNetworkReply::OperationCanceledError) {
            strWhy = QStringLiteral("no data for too long");
        }
        fail(Error::TransferFailed, strWhy, iStatus);
        return;
    }
    if (m_eKind == Kind::Download) {
        onReadyRead();
        if (m_eStatus != Status::Running) return;
        m_file.close();
        const QString strPart = partPath();
        QJsonObject error;
        if (!moveIntoPlace(strPart, &m_strPath, &error)) {
            failWith(error);
            return;
        }
    }
    m_iTotal = m_iBytes = std::max(m_iBytes, m_iTotal);
    m_eStatus = Status::Done;
    dropReply();
}

void Transfer::fail(Error eError, const QString& strWhy, int iHttpStatus) {
    QJsonObject failure = errorResult(eError, strWhy);
    if (iHttpStatus) failure.insert(QStringLiteral("httpStatus"), iHttpStatus);
    failWith(failure);
}

void Transfer::failWith(const QJsonObject& failure) {
    m_failure = failure;
    m_eStatus = Status::Failed;
    dropReply();
}

void Transfer::releaseReply() {
    if (m_pReply) {
        m_pReply->disconnect(this);
        m_pReply->abort();
        m_pReply->deleteLater();
        m_pReply = nullptr;
    }
}

void Transfer::dropReply() {
    releaseReply();
    m_file.close();
}

QJsonObject Transfer::progress() const {
    const int iPercent = m_eStatus == Status::Done ? 100
                         : m_iTotal > 0            ? static_cast<int>(m_iBytes * 100 / m_iTotal)
                                                   : -1;
    return QJsonObject{{idKey(m_eKind), m_iId}, {"bytes", m_iBytes}, {"total", m_iTotal}, {"progress", iPercent}};
}

QJsonObject Transfer::state() const {
    static const char* const kStatus[] = {"running", "stopped", "done", "failed"};
    QJsonObject state = progress();
    state.insert(QStringLiteral("status"), QLatin1String(kStatus[static_cast<int>(m_eStatus)]));
    state.insert(QStringLiteral("url"), m_url.toString(QUrl::RemoveUserInfo));
    state.insert(QStringLiteral("path"), QDir::toNativeSeparators(m_strPath));
    if (!m_failure.isEmpty()) state.insert(QStringLiteral("failure"), m_failure);
    return state;
}

}  // namespace vc
