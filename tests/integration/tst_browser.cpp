// The demonstration page in headless Chromium against the real service: the
// page finds the service with the handshake, asks for the version over the
// image channel (cut into many pieces) and over a WebSocket, and posts what
// it read back to this test; a long poll over the image channel outlasts ten
// seconds. Ports 27780-27799 belong to this test.
#include "ServiceProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

constexpr quint16 kServicePort = 27780;
constexpr quint16 kPagePort = 27790;

// Serves the page's files and takes the page's report, one request per
// connection.
class PageServer : public QTcpServer {
public:
    explicit PageServer(const QString& strRoot) : m_strRoot(strRoot) {}

    QByteArray m_report;

protected:
    void incomingConnection(qintptr socketDescriptor) override {
        auto* pSocket = new QTcpSocket(this);
        pSocket->setSocketDescriptor(socketDescriptor);
        connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
        connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket]() { onReadyRead(pSocket); });
    }

private:
    void onReadyRead(QTcpSocket* pSocket) {
        QByteArray& buffer = m_buffers[pSocket];
        buffer += pSocket->readAll();
        const int iHeaderEnd = buffer.indexOf("\r\n\r\n");
        if (iHeaderEnd < 0) return;
        const QByteArray head = buffer.left(iHeaderEnd);
        int iLength = 0;
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:")) iLength = line.mid(15).trimmed().toInt();
        }
        if (buffer.size() < iHeaderEnd + 4 + iLength) return;
        const QByteArray body = buffer.mid(iHeaderEnd + 4, iLength);
        m_buffers.remove(pSocket);

        const QList<QByteArray> requestLine = head.left(head.indexOf('\r')).split(' ');
        const QByteArray method = requestLine.value(0);
        const QByteArray path = requestLine.value(1).split('?').value(0);
        if (method == "POST" && path == "/report") {
            m_report = body;
            reply(pSocket, "200 OK", "text/plain", "ok");
            return;
        }
        if (method == "OPTIONS") {
            reply(pSocket, "204 No Content", "text/plain", QByteArray());
            return;
        }
        QFile file(m_strRoot + QString::fromUtf8(path));
        const QString strName = QFileInfo(file).fileName();
        if (path.contains("..") || !file.open(QIODevice::ReadOnly)) {
            reply(pSocket, "404 Not Found", "text/plain", "not found");
            return;
        }
        reply(pSocket, "200 OK", strName.endsWith(".js") ? "text/javascript" : "text/html; charset=utf-8",
              file.readAll());
    }

    static void reply(QTcpSocket* pSocket, const QByteArray& status, const QByteArray& type, const QByteArray& body) {
        pSocket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                       QByteArray::number(body.size()) +
                       "\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: *\r\n"
                       "Connection: close\r\n\r\n" + body);
        pSocket->disconnectFromHost();
    }

    QString m_strRoot;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

bool isConnectReply(const QString& strText, QString* pstrUuid = nullptr) {
    const QJsonObject reply = QJsonDocument::fromJson(strText.toUtf8()).object();
    if (pstrUuid != nullptr) *pstrUuid = reply.value("uuid").toString();
    return reply.size() == 4 && reply.value("errorCode") == QJsonValue(0) && reply.value("errorModule") == QJsonValue(0) &&
           reply.value("version") == QJsonValue("1.0") && reply.value("uuid").toString().size() == 38;
}

}  // namespace

class TestBrowser : public QObject {
    Q_OBJECT

private slots:
    void pageReadsTheServiceThroughBothChannels() {
        const QString strChromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        QVERIFY2(!strChromium.isEmpty(), "chromium is installed by scripts/install-deps");

        ServiceProcess service(QJsonObject{{"ServicePortStart", kServicePort},
                                           {"ServicePortEnd", kServicePort + 5},
                                           {"SingleInstance", QStringLiteral("tst_browser-%1").arg(QCoreApplication::applicationPid())}},
                               ServiceProcess::testHooksBinaryPath());
        QVERIFY(service.start());
        const quint16 iPort = service.waitForListening();
        QVERIFY2(iPort != 0, qPrintable(service.log()));
        // Polls that wait longer than ten seconds.
        QVERIFY(service.waitForLog("test hook: ready"));
        QCOMPARE(service.ask("poll 12000", "test hook: poll "), QStringLiteral("12000"));

        PageServer pages(QStringLiteral(LOCALSERVICE_WEB_DIR));
        QVERIFY(pages.listen(QHostAddress::LocalHost, kPagePort));

        QTemporaryDir profile;
        const QString strBase = QStringLiteral("http://127.0.0.1:%1").arg(kPagePort);
        // Pieces of 40 characters: the version request goes out in about ten.
        const QString strUrl = QStringLiteral("%1/index.html?auto=1&poll=1&portStart=%2&portEnd=%3&pieceLength=40&report=%1/report")
                                   .arg(strBase).arg(iPort).arg(iPort + 1);
        QProcess chromium;
        chromium.setProcessChannelMode(QProcess::MergedChannels);
        chromium.start(strChromium, {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                     "--disable-dev-shm-usage", "--user-data-dir=" + profile.path(), strUrl});
        QVERIFY(chromium.waitForStarted(10000));

        QTRY_VERIFY_WITH_TIMEOUT(!pages.m_report.isEmpty() || chromium.state() == QProcess::NotRunning, 90000);
        chromium.terminate();
        if (!chromium.waitForFinished(10000)) {
            chromium.kill();
            chromium.waitForFinished(5000);
        }
        QVERIFY2(!pages.m_report.isEmpty(), chromium.readAll().right(4000).constData());

        const QJsonObject report = QJsonDocument::fromJson(pages.m_report).object();
        const QByteArray what = pages.m_report + "\n--- service log ---\n" + service.log().right(4000).toUtf8();

        // Handshake over the image channel: the "detect" image; a wrong
        // (upper-case) login id gets no image at all.
        QVERIFY2(report.value("imageDetect") == QJsonValue("detect"), what.constData());
        QVERIFY2(report.value("imageDetectWrong").toString().startsWith("error: no image"), what.constData());
        QVERIFY2(report.value("imageDetectBase64") == QJsonValue("detect"), what.constData());

        // Image channel: a connect reply, then the version answer, both read
        // out of images; the version request needed at least three pieces
        // and every piece before the last was answered "continue".
        QString strImageUuid;
        QVERIFY2(isConnectReply(report.value("imageConnect").toString(), &strImageUuid), what.constData());
        QCOMPARE(report.value("imageUuid").toString(), strImageUuid);
        const QJsonObject imageVersion = QJsonDocument::fromJson(report.value("imageVersion").toString().toUtf8()).object();
        QVERIFY2(imageVersion.value("localServiceVersion") == QJsonValue("1.0.3"), what.constData());
        QCOMPARE(imageVersion.value("uuid").toString(), strImageUuid);
        QCOMPARE(imageVersion.value("errorCode").toInt(-1), 0);
        const int iPieces = report.value("imagePieces").toInt();
        QVERIFY2(iPieces >= 3, what.constData());
        const QJsonArray continues = report.value("imageContinues").toArray();
        QCOMPARE(continues.size(), iPieces - 1);
        for (const QJsonValue& value : continues) QCOMPARE(value.toString(), QStringLiteral("continue"));
        QVERIFY2(report.value("imagePoll") == QJsonValue("timeout"), what.constData());

        // WebSocket: "detectport" gets the connect reply, the version request
        // its answer; a wrong login id gets nothing.
        QString strWsUuid;
        QVERIFY2(isConnectReply(report.value("wsDetect").toString(), &strWsUuid), what.constData());
        QCOMPARE(report.value("wsUuid").toString(), strWsUuid);
        QVERIFY(strWsUuid != strImageUuid);
        const QJsonObject wsVersion = QJsonDocument::fromJson(report.value("wsVersion").toString().toUtf8()).object();
        QVERIFY2(wsVersion.value("localServiceVersion") == QJsonValue("1.0.3"), what.constData());
        QCOMPARE(wsVersion.value("uuid").toString(), strWsUuid);
        QCOMPARE(wsVersion.value("errorCode").toInt(-1), 0);
        QVERIFY2(report.value("wsDetectWrong").toString().startsWith("error: no answer"), what.constData());
    }
};

QTEST_GUILESS_MAIN(TestBrowser)
#include "tst_browser.moc"
