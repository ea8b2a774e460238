#include "ServiceStartup.h"

#include "AccessPolicy.h"
#include "Elevation.h"
#include "PageWindows.h"
#include "ProcessLimits.h"
#include "ProcessPlatform.h"
#include "OriginTrust.h"
#include "SingleInstance.h"
#include "TrayIcon.h"
#include "TrustDialog.h"
#include "WebServer.h"
#include "Worker.h"
#include "video_control.h"

#include <QApplication>
#include <QDebug>
#include <QStandardPaths>

#include <string>

ServiceStartup::ServiceStartup(platform::ProcessPlatform& process, QString strConfigDir)
    : m_process(process), m_strConfigDir(std::move(strConfigDir)) {}

ServiceStartup::~ServiceStartup() = default;

std::optional<int> ServiceStartup::start() {
    if (enablePrivileges(m_process)) return 1;

    VC_Initialize(nullptr);

    m_config = readServiceConfig(m_strConfigDir + QLatin1String(kConfigFileName));
    const QJsonDocument mediaFolders(m_config.mediaFolders);
    if (QJsonDocument* pRefused = VC_SetMediaFolders(&mediaFolders)) {
        qWarning("media folders: %s; the defaults apply",
                 qPrintable(pRefused->object().value(QStringLiteral("errorMessage")).toString()));
        VC_Release(pRefused);
    }

    const std::string strKey = m_config.strSingleInstance.toStdString();
    if (!checkSingleInstance(strKey.c_str())) return -1;

    m_pServer = std::make_unique<WebServer>(nullptr);
    // In-page video: the page opens each stream's WebSocket on this port.
    Worker::setMediaRoute([](const QString& strPath, QWebSocket* pSocket) {
        return pagestream::PageWindows::instance()->attachMedia(strPath, pSocket);
    });
    qDebug() << m_config.iPortStart;
    AccessPolicy policy;
    policy.bListenAny = m_config.bListenAny;
    for (const QString& strOrigin : m_config.allowedOrigins) policy.allowedOrigins.append(strOrigin.toUtf8());
    OriginTrust::Policy trustPolicy = OriginTrust::Policy::Ask;
    if (!OriginTrust::parsePolicy(m_config.strTrustPolicy, &trustPolicy)) {
        qDebug().noquote() << "unknown TrustPolicy" << m_config.strTrustPolicy << ": the user is asked";
        m_config.strTrustPolicy = QStringLiteral("ask");
    }
    m_pTrust = std::make_unique<OriginTrust>(trustPolicy, policy.allowedOrigins);
    m_pTrust->setStoreFile(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
                           QLatin1String("/trusted-origins.json"));
    if (DialogTrustPrompt::canAsk()) {
        m_pPrompt = std::make_unique<DialogTrustPrompt>(m_pTrust.get());
        m_pTrust->setPrompt(m_pPrompt.get());
    }
    policy.pTrust = m_pTrust.get();
    m_pServer->setAccessPolicy(policy);
    const long iDescriptors = descriptorLimit();
    const int iCap = connectionCap(m_config.iMaxConnections, iDescriptors);
    m_pServer->setMaxConnections(iCap);

    correctPortRange(m_config);
    m_pServer->listenInRange(m_config.iPortStart, m_config.iPortEnd);
    if (m_pServer->isListening()) qDebug() << "listening on port" << m_pServer->serverPort();
    qDebug().noquote() << QStringLiteral(
                              "connection cap %1 (MaxConnections %2, descriptor limit %3 less %4 kept for play "
                              "windows, transfers and the service)")
                              .arg(iCap)
                              .arg(m_config.iMaxConnections)
                              .arg(iDescriptors)
                              .arg(descriptorReserve(iDescriptors));
    qDebug().noquote() << "origin trust policy:" << m_config.strTrustPolicy;
    if (m_pServer->isListening() && TrayIcon::available())
        m_pTray = std::make_unique<TrayIcon>(m_pServer.get(), m_pTrust.get());
    return std::nullopt;
}

int ServiceStartup::run() {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    const int iResult = QApplication::exec();
    m_pTray.reset();
    m_pServer.reset();
    // Objects the server scheduled for deletion go now: no loop runs again.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return iResult;
}
