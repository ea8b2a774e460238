#ifndef APP_SERVICECONFIG_H
#define APP_SERVICECONFIG_H

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The service's whole configuration, read from "LocalServiceConfig.json"
// beside the executable.
struct ServiceConfig {
    int iPortStart = 33686;
    int iPortEnd = 33696;  // exclusive
    QString strSingleInstance = QStringLiteral("mira-client.lock");
    // "ListenAddress": "any" listens on every address; anything else (and the
    // default) on the loopback addresses only.
    bool bListenAny = false;
    // "AllowedOrigins": page origins the administrator trusts.
    QStringList allowedOrigins;
    // "TrustPolicy": "ask" (the default: the user decides about origins not
    // listed), "list" (listed origins only) or "any" (every origin, the
    // list still bounding the "Origin" header). Unknown values keep "ask".
    QString strTrustPolicy = QStringLiteral("ask");
    // "MaxConnections": open connections at most (at least 1).
    int iMaxConnections = 512;
    // "SnapshotFolder", "RecordingFolder", "DownloadFolder": the media
    // folders (absolute), as VC_SetMediaFolders takes them ("snapshots",
    // "recordings", "downloads"); a key absent here: the library's default.
    QJsonObject mediaFolders;
};

extern const char* const kConfigFileName;  // "/LocalServiceConfig.json"

// Reads the file at strFilePath over the defaults. A missing or unreadable
// file, invalid JSON or a top level that is not an object keeps every
// default; a key with the wrong JSON type keeps its own default.
ServiceConfig readServiceConfig(const QString& strFilePath);

// An end port not above the first port becomes first port + 10.
void correctPortRange(ServiceConfig& config);

#endif  // APP_SERVICECONFIG_H
