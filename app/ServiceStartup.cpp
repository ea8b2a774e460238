#include "ServiceStartup.h"

#include "AccessPolicy.h"
#include "Elevation.h"
#include "ProcessLimits.h"
#include "ProcessPlatform.h"
#include "SingleInstance.h"
#include "WebServer.h"
#include "video_control.h"

#include <QApplication>
#include <QDebug>

#include <string>

ServiceStartup::ServiceStartup(platform::ProcessPlatform& process, QString strConfigDir)
    : m_process(process), m_strConfigDir(std::move(strConfigDir)) {}

ServiceStartup::~ServiceStartup() = default;

std::optional<int> ServiceStartup::start() {
    if (enablePrivileges(m_process)) return 1;

    VC_Initialize(nullptr);

    m_config = readServiceConfig(m_strConfigDir + QLatin1String(kConfigFileName));

    const std::string strKey = m_config.strSingleInstance.toStdString();
    if (!checkSingleInstance(strKey.c_str())) return -1;

    m_pServer = std::make_unique<WebServer>(nullptr);
    qDebug() << m_config.iPortStart;
    AccessPolicy policy;
    policy.bListenAny = m_config.bListenAny;
    for (const QString& strOrigin : m_config.allowedOrigins) policy.allowedOrigins.append(strOrigin.toUtf8());
    m_pServer->setAccessPolicy(policy);
    const long iDescriptors = descriptorLimit();
    const int iCap = connectionCap(m_config.iMaxConnections, iDescriptors);
    m_pServer->setMaxConnections(iCap);

    correctPortRange(m_config);
    m_pServer->listenInRange(m_config.iPortStart, m_config.iPortEnd);
    if (m_pServer->isListening()) qDebug() << "listening on port" << m_pServer->serverPort();
    qDebug().noquote() << QStringLiteral("connection cap %1 (MaxConnections %2, descriptor limit %3 less %4 kept for play "
                                         "windows, transfers and the service)")
                              .arg(iCap)
                              .arg(m_config.iMaxConnections)
                              .arg(iDescriptors)
                              .arg(descriptorReserve(iDescriptors));
    return std::nullopt;
}

int ServiceStartup::run() {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    const int iResult = QApplication::exec();
    m_pServer.reset();
    // Objects the server scheduled for deletion go now: no loop runs again.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return iResult;
}
