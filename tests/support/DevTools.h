// Drives a page in Chromium through the browser's remote debugging protocol
// (started with --remote-debugging-port): finds a tab, runs JavaScript in
// it, opens, brings forward and closes tabs. Waits spin the Qt event loop.
#ifndef TESTS_DEVTOOLS_H
#define TESTS_DEVTOOLS_H

#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QNetworkAccessManager>
#include <QString>
#include <QWebSocket>

class DevTools {
public:
    explicit DevTools(quint16 iPort) : m_iPort(iPort) {}

    // The id of the first tab whose URL contains strUrlPart; empty when none.
    QString findTab(const QString& strUrlPart);
    // Talks to that tab from now on; false when that fails within iTimeoutMs.
    bool attach(const QString& strTabId, int iTimeoutMs = 10000);
    // The value of the expression in the page (a promise is awaited); an
    // object with "exception" when it threw, undefined on time-out.
    QJsonValue evaluate(const QString& strExpression, int iTimeoutMs = 10000);
    // Any method of the protocol on that tab: its "result" (with "error"
    // when it failed), empty on time-out.
    QJsonObject call(const QString& strMethod, const QJsonObject& params = QJsonObject(), int iTimeoutMs = 10000);
    // The page as the browser shows it (Page.captureScreenshot), PNG; empty
    // when that failed.
    QByteArray screenshot();

    // A new tab in front with the URL; its id.
    QString openTab(const QString& strUrl);
    bool activateTab(const QString& strTabId);
    bool closeTab(const QString& strTabId);

private:
    QByteArray http(const QByteArray& baVerb, const QString& strPath);

    quint16 m_iPort;
    QNetworkAccessManager m_network;
    QWebSocket m_socket;
    int m_iNextId = 1;
    QMap<int, QJsonObject> m_answers;
};

#endif  // TESTS_DEVTOOLS_H
