#include "WindowMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char* const kServiceVersion = "1.0.3";
constexpr int kErrorModuleWindow = 5;
constexpr int kErrorNotJson = 1;
}  // namespace

WindowMessageDispatch::WindowMessageDispatch(QObject* parent) : QObject(parent) {}

WindowMessageDispatch::~WindowMessageDispatch() = default;

void WindowMessageDispatch::processMessage(QString message) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    const QString strCommand =
        document.object().value(QStringLiteral("cmd")).toString().section(QLatin1Char('.'), 1, 1);
    QString strResponse;
    if (strCommand == QLatin1String("getLocalServiceVersion")) {
        strResponse = getLocalServiceVersion(message);
    } else {
        return;
    }
    emit messageResponse(document.object().value(QStringLiteral("uuid")).toString(), strResponse);
}

void WindowMessageDispatch::closeConnection(QString uuid) {
    // No window is registered under any client yet.
    Q_UNUSED(uuid);
}

QString WindowMessageDispatch::getLocalServiceVersion(const QString& strMessage) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(strMessage.toUtf8(), &error);
    QJsonObject response;
    if (error.error != QJsonParseError::NoError) {
        response = {{QStringLiteral("sequence"), QString()},
                    {QStringLiteral("uuid"), QString()},
                    {QStringLiteral("errorModule"), kErrorModuleWindow},
                    {QStringLiteral("errorCode"), kErrorNotJson}};
    } else {
        const QJsonObject request = document.object();
        response = {{QStringLiteral("sequence"), request.value(QStringLiteral("sequence")).toString()},
                    {QStringLiteral("uuid"), request.value(QStringLiteral("uuid")).toString()},
                    {QStringLiteral("errorModule"), 0},
                    {QStringLiteral("errorCode"), 0}};
    }
    response.insert(QStringLiteral("localServiceVersion"), QLatin1String(kServiceVersion));
    return QString::fromUtf8(QJsonDocument(response).toJson(QJsonDocument::Compact));
}

void WindowMessageDispatch::onMessageProcess(QString strResponse) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(strResponse.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    emit messageResponse(document.object().value(QStringLiteral("uuid")).toString(), strResponse);
}
