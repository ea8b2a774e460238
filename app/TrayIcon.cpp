#include "TrayIcon.h"

#include "OriginTrust.h"
#include "WebServer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QStandardPaths>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QUrl>

TrayIcon::TrayIcon(WebServer* pServer, OriginTrust* pTrust, QObject* parent)
    : QObject(parent), m_pServer(pServer), m_pTrust(pTrust), m_pMenu(new QMenu), m_pIcon(new QSystemTrayIcon(this)) {
    m_pIcon->setIcon(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
    m_pIcon->setToolTip(QStringLiteral("LocalService on port %1").arg(m_pServer->serverPort()));
    m_pIcon->setContextMenu(m_pMenu);
    // (Some trays show the menu without aboutToShow: it is also kept current
    // with the trusted origins. Queued: a change comes from the menu's own
    // "Revoke", whose action the rebuild deletes.)
    connect(m_pMenu, &QMenu::aboutToShow, this, &TrayIcon::rebuild);
    connect(m_pTrust, &OriginTrust::sigChanged, this, &TrayIcon::rebuild, Qt::QueuedConnection);
    rebuild();
    m_pIcon->show();
}

TrayIcon::~TrayIcon() {
    m_pIcon->hide();
    delete m_pMenu;
}

bool TrayIcon::available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QStringList TrayIcon::mediaFolders() {
    QStringList list;
    for (const auto location :
         {QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation, QStandardPaths::DownloadLocation}) {
        list.append(QStandardPaths::writableLocation(location) + QStringLiteral("/LocalService"));
    }
    return list;
}

void TrayIcon::rebuild() {
    m_pMenu->clear();
    m_pMenu->addAction(QStringLiteral("LocalService is running on port %1").arg(m_pServer->serverPort()))
        ->setEnabled(false);

    m_pMenu->addSection(QStringLiteral("Pages connected now"));
    const QList<WebServer::PageConnection> pages = m_pServer->pages();
    if (pages.isEmpty()) m_pMenu->addAction(QStringLiteral("none"))->setEnabled(false);
    for (const WebServer::PageConnection& page : pages) {
        m_pMenu
            ->addAction(QStringLiteral("%1 (%2, %3)")
                            .arg(QString::fromUtf8(page.baOrigin), page.strTransport)
                            .arg(page.iConnections))
            ->setEnabled(false);
    }

    m_pMenu->addSection(QStringLiteral("Trusted sites"));
    if (m_pTrust->adminTrusted().isEmpty() && m_pTrust->userTrusted().isEmpty())
        m_pMenu->addAction(QStringLiteral("none"))->setEnabled(false);
    for (const QByteArray& baOrigin : m_pTrust->adminTrusted()) {
        m_pMenu->addAction(QStringLiteral("%1 (administrator)").arg(QString::fromUtf8(baOrigin)))->setEnabled(false);
    }
    for (const QByteArray& baOrigin : m_pTrust->userTrusted()) {
        QMenu* pOrigin = m_pMenu->addMenu(QString::fromUtf8(baOrigin));
        QPointer<OriginTrust> pTrust = m_pTrust;
        connect(pOrigin->addAction(QStringLiteral("Revoke")), &QAction::triggered, this, [pTrust, baOrigin] {
            if (pTrust) pTrust->revoke(baOrigin);
        });
    }

    m_pMenu->addSeparator();
    connect(m_pMenu->addAction(QStringLiteral("Open the media folders")), &QAction::triggered, this, [] {
        for (const QString& strFolder : mediaFolders()) {
            if (QDir(strFolder).exists()) QDesktopServices::openUrl(QUrl::fromLocalFile(strFolder));
        }
    });
    connect(m_pMenu->addAction(QStringLiteral("Quit")), &QAction::triggered, qApp, &QCoreApplication::quit);
}
