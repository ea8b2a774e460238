#include "ServiceConfig.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QVariant>

const char* const kConfigFileName = "/LocalServiceConfig.json";

namespace {
constexpr int kDefaultRangeLength = 10;

void readPort(const QJsonObject& object, const char* szKey, int& iPort) {
    const QJsonValue value = object.value(QLatin1String(szKey));
    if (value.isDouble()) iPort = value.toVariant().toInt();
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
    readPort(object, "ServicePortStart", config.iPortStart);
    readPort(object, "ServicePortEnd", config.iPortEnd);
    const QJsonValue key = object.value(QLatin1String("SingleInstance"));
    if (key.isString()) config.strSingleInstance = key.toString();
    return config;
}

void correctPortRange(ServiceConfig& config) {
    if (config.iPortEnd <= config.iPortStart) config.iPortEnd = config.iPortStart + kDefaultRangeLength;
}
