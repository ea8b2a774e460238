// The page client's plain-script form in headless Chromium against the real
// service: a page connects over the image channel (answers read out of <img>
// pixels, the request cut into many pieces) and over a WebSocket, each with
// the port-detection handshake and a Base64 challenge, asks for the version,
// and posts what it got back to this test. Ports 27780-27799.
#include "ServiceProcess.h"

#include <QDir>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

constexpr quint16 kServicePort = 27780;
constexpr quint16 kPagePort = 27790;

// Serves files from its folders (the first that has the file) and takes the
// page's report, one request per connection.
class PageServer : public QTcpServer {
public:
    explicit PageServer(const QStringList& roots) : m_roots(roots) {}

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
        QFile file;
        for (const QString& strRoot : m_roots) {
            if (file.fileName().isEmpty() && QFileInfo::exists(strRoot + QString::fromUtf8(path)))
                file.setFileName(strRoot + QString::fromUtf8(path));
        }
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

    QStringList m_roots;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

}  // namespace

class TestBrowser : public QObject {
    Q_OBJECT

private slots:
    void pageReadsTheServiceThroughBothChannels() {
        const QString strChromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        QVERIFY2(!strChromium.isEmpty(), "chromium is installed by scripts/install-deps");

        ServiceProcess service(QJsonObject{{"ServicePortStart", kServicePort},
                                           {"ServicePortEnd", kServicePort + 5},
                                           {"SingleInstance", QStringLiteral("tst_browser-%1").arg(QCoreApplication::applicationPid())}});
        QVERIFY(service.start());
        const quint16 iPort = service.waitForListening();
        QVERIFY2(iPort != 0, qPrintable(service.log()));

        PageServer pages({QStringLiteral(LOCALSERVICE_PAGE_DIR), QStringLiteral(LOCALSERVICE_WEB_BUILD_DIR)});
        QVERIFY(pages.listen(QHostAddress::LocalHost, kPagePort));

        QTemporaryDir profile;
        const QString strBase = QStringLiteral("http://127.0.0.1:%1").arg(kPagePort);
        // Pieces of 40 characters: the version request goes out in about ten.
        const QString strUrl = QStringLiteral("%1/channels_page.html?portStart=%2&portEnd=%3&pieceLength=40&report=%1/report")
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
        QStringList uuids;
        for (const QString& strKind : {QStringLiteral("image"), QStringLiteral("websocket")}) {
            const QJsonObject result = report.value(strKind).toObject();
            QVERIFY2(result.value("kind").toString() == strKind, what.constData());
            uuids << result.value("uuid").toString();
            QCOMPARE(uuids.last().size(), 38);
            const QJsonObject answer = result.value("answer").toObject();
            QCOMPARE(answer.value("localServiceVersion").toString(), QStringLiteral("1.0.3"));
            QCOMPARE(answer.value("uuid").toString(), uuids.last());
            // A wrong (upper-case) login id finds no service.
            QCOMPARE(report.value(strKind + "Wrong").toString(), QStringLiteral("error: not-found"));
        }
        QVERIFY(uuids[0] != uuids[1]);
    }
};

QTEST_GUILESS_MAIN(TestBrowser)
#include "tst_browser.moc"
