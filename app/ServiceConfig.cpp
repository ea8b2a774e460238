#include "ServiceConfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QVariant>

#include <utility>

const char* const kConfigFileName = "/LocalServiceConfig.json";

namespace {
constexpr int kDefaultRangeLength = 10;

void readNumber(const QJsonObject& object, const char* szKey, int& iValue) {
    const QJsonValue value = object.value(QLatin1String(szKey));
    if (value.isDouble()) iValue = value.toVariant().toInt();
}
}  // namespace

ServiceConfig readServiceConfig(const QString& strFilePath) {
    ServiceConfig config;
    QFile file(strFilePath);
    if (!file.open(QIODevice::ReadOnly)) return config;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error != QJsonParseError::NoError || !document.isObject()) return config;

    const QJsonObject object = document.object();
    readNumber(object, "ServicePortStart", config.iPortStart);
    readNumber(object, "ServicePortEnd", config.iPortEnd);
    const QJsonValue key = object.value(QLatin1String("SingleInstance"));
    if (key.isString()) config.strSingleInstance = key.toString();
    const QJsonValue listen = object.value(QLatin1String("ListenAddress"));
    if (listen.isString()) config.bListenAny = listen.toString() == QLatin1String("any");
    const QJsonValue origins = object.value(QLatin1String("AllowedOrigins"));
    if (origins.isArray()) {
        for (const QJsonValue& origin : origins.toArray()) {
            if (origin.isString()) config.allowedOrigins.append(origin.toString());
        }
    }
    const QJsonValue trust = object.value(QLatin1String("TrustPolicy"));
    if (trust.isString()) config.strTrustPolicy = trust.toString();
    int iMaxConnections = config.iMaxConnections;
    readNumber(object, "MaxConnections", iMaxConnections);
    if (iMaxConnections >= 1) config.iMaxConnections = iMaxConnections;
    static const std::pair<const char*, const char*> kMediaFolders[] = {
        {"SnapshotFolder", "snapshots"}, {"RecordingFolder", "recordings"}, {"DownloadFolder", "downloads"}};
    for (const auto& [szKey, szLibraryKey] : kMediaFolders) {
        const QJsonValue folder = object.value(QLatin1String(szKey));
        if (folder.isString()) config.mediaFolders.insert(QLatin1String(szLibraryKey), folder);
    }
    return config;
}

void correctPortRange(ServiceConfig& config) {
    if (config.iPortEnd <= config.iPortStart) config.iPortEnd = config.iPortStart + kDefaultRangeLength;
}
