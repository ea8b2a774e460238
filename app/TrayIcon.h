// The service in the desktop's tray, where the desktop has one: that it runs
// and on which port, the pages connected now (origin, transport), the
// trusted origins with "Revoke", the media folders, and "Quit". The menu is
// built anew from WebServer::pages() and OriginTrust each time it opens, so
// it holds no state of its own.
//
// Thread rules: main (GUI) thread only.
#ifndef APP_TRAYICON_H
#define APP_TRAYICON_H

#include <QObject>
#include <QPointer>
#include <QStringList>

class OriginTrust;
class QMenu;
class QSystemTrayIcon;
class WebServer;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    // Both must outlive the icon.
    TrayIcon(WebServer* pServer, OriginTrust* pTrust, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop shows tray icons.
    static bool available();
    // The folders the service writes snapshots, recordings and downloads to.
    static QStringList mediaFolders();

private:
    void rebuild();

    WebServer* m_pServer;
    OriginTrust* m_pTrust;
    QMenu* m_pMenu;
    QSystemTrayIcon* m_pIcon;
};

#endif  // APP_TRAYICON_H
