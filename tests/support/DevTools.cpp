#include "DevTools.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTest>
#include <QUrl>

QByteArray DevTools::http(const QByteArray& baVerb, const QString& strPath) {
    QNetworkReply* pReply = m_network.sendCustomRequest(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_iPort).arg(strPath))), baVerb);
    const bool bDone = QTest::qWaitFor([&] { return pReply->isFinished(); }, 10000);
    const QByteArray baBody = bDone && pReply->error() == QNetworkReply::NoError ? pReply->readAll() : QByteArray();
    pReply->deleteLater();
    return baBody;
}

QString DevTools::findTab(const QString& strUrlPart) {
    for (const QJsonValue& target : QJsonDocument::fromJson(http("GET", QStringLiteral("/json/list"))).array()) {
        const QJsonObject object = target.toObject();
        if (object.value("type").toString() == QLatin1String("page") &&
            object.value("url").toString().contains(strUrlPart))
            return object.value("id").toString();
    }
    return QString();
}

bool DevTools::attach(const QString& strTabId, int iTimeoutMs) {
    QObject::disconnect(&m_socket, nullptr, nullptr, nullptr);
    QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& strText) {
        const QJsonObject message = QJsonDocument::fromJson(strText.toUtf8()).object();
        if (message.contains("id")) m_answers.insert(message.value("id").toInt(), message);
    });
    m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/devtools/page/%2").arg(m_iPort).arg(strTabId)));
    return QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, iTimeoutMs);
}

QJsonObject DevTools::call(const QString& strMethod, const QJsonObject& params, int iTimeoutMs) {
    const int iId = m_iNextId++;
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(QJsonObject{{"id", iId}, {"method", strMethod}, {"params", params}})
                              .toJson(QJsonDocument::Compact)));
    if (!QTest::qWaitFor([&] { return m_answers.contains(iId); }, iTimeoutMs)) return QJsonObject();
    const QJsonObject answer = m_answers.take(iId);
    if (answer.contains("error")) return QJsonObject{{"error", answer.value("error")}};
    return answer.value("result").toObject();
}

QByteArray DevTools::screenshot() {
    const QJsonObject result = call(QStringLiteral("Page.captureScreenshot"), {{"format", "png"}});
    return QByteArray::fromBase64(result.value("data").toString().toLatin1());
}

QJsonValue DevTools::evaluate(const QString& strExpression, int iTimeoutMs) {
    const QJsonObject params{{"expression", strExpression}, {"returnByValue", true}, {"awaitPromise", true}};
    const QJsonObject result = call(QStringLiteral("Runtime.evaluate"), params, iTimeoutMs);
    if (result.isEmpty()) return QJsonValue(QJsonValue::Undefined);
    if (result.contains("exceptionDetails")) return QJsonObject{{"exception", result.value("exceptionDetails")}};
    return result.value("result").toObject().value("value");
}

QString DevTools::openTab(const QString& strUrl) {
    return QJsonDocument::fromJson(http("PUT", QStringLiteral("/json/new?") + strUrl)).object().value("id").toString();
}

bool DevTools::activateTab(const QString& strTabId) {
    return !http("GET", QStringLiteral("/json/activate/") + strTabId).isEmpty();
}

bool DevTools::closeTab(const QString& strTabId) {
    return !http("GET", QStringLiteral("/json/close/") + strTabId).isEmpty();
}
