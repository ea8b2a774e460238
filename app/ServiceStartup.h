#ifndef APP_SERVICESTARTUP_H
#define APP_SERVICESTARTUP_H

#include "ServiceConfig.h"

#include <QString>

#include <memory>
#include <optional>

namespace platform {
class ProcessPlatform;
}
class DialogTrustPrompt;
class OriginTrust;
class TrayIcon;
class WebServer;

// The service's start-up on an application object that already exists:
// elevation, the video library, configuration, the single-instance lock and
// the origin trust with its prompt, the listening server and the tray icon,
// then the event loop.
class ServiceStartup {
public:
    // strConfigDir is the folder that holds "LocalServiceConfig.json" (the
    // executable's folder in the service).
    ServiceStartup(platform::ProcessPlatform& process, QString strConfigDir);
    ~ServiceStartup();

    ServiceStartup(const ServiceStartup&) = delete;
    ServiceStartup& operator=(const ServiceStartup&) = delete;

    // Everything up to listening. Returns the exit code when the process must
    // end now: 1 after launching the elevated copy, -1 when another instance
    // holds the lock. Otherwise the server exists and (port permitting)
    // listens.
    std::optional<int> start();

    // Runs the event loop, then destroys the server; returns exec()'s result.
    int run();

    WebServer* server() const { return m_pServer.get(); }
    OriginTrust* trust() const { return m_pTrust.get(); }
    const ServiceConfig& config() const { return m_config; }

private:
    platform::ProcessPlatform& m_process;
    QString m_strConfigDir;
    ServiceConfig m_config;
    // Declared in the order of their lifetimes: the server's workers use the
    // trust, the tray shows the server.
    std::unique_ptr<OriginTrust> m_pTrust;
    std::unique_ptr<DialogTrustPrompt> m_pPrompt;
    std::unique_ptr<WebServer> m_pServer;
    std::unique_ptr<TrayIcon> m_pTray;
};

#endif  // APP_SERVICESTARTUP_H
