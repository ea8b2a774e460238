// device-sim: a device on loopback for the audio talk path.
//
// One port serves both the device's mode request over HTTP
// (PUT /OKAPI/SecurityCP/TwoWayAudio/mode?format=json) and the talk line
// protocol ("TALK <serial>" answered with "OK" or "ERR <n>", then held open).
// What it answers is scripted per run by a JSON file and flags; every line
// written to its standard input replaces the whole script. It reports what
// happens as one JSON object per line on standard output.
//
// With --access-key and --secret-key it checks every request the way a
// device checks a cloud account: the access key and the request's signature
// (see REZivORU.h). A mode request that fails the check is answered with the
// device error "errorCode" 1073741825, a talk with "ERR 8", and the event
// "refused" is reported.
//
// Script (every key optional):
//   {
//     "mode":  { "status": 200, "answer": {"statusString": "OK", "audioTimeLeft": 60},
//                "body": "raw text instead of answer", "delayMs": 0, "libraryError": 9 },
//     "modes": { "start": { ...overrides for mode "start"... }, "end": { ... } },
//     "talk":  { "answer": "OK", "delayMs": 0, "closeAfterMs": -1, "resetAfterMs": -1 }
//   }
#include <QCommandLineParser>
#include <QMessageAuthenticationCode>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <http_parser.h>

#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kModePath = "/OKAPI/SecurityCP/TwoWayAudio/mode";
constexpr qint64 kKeyRefusedError = 0x40000001;

void report(const QJsonObject& event) {
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

QJsonObject defaultScript() {
    QJsonObject mode;
    mode.insert("status", 200);
    mode.insert("answer", QJsonObject{{"statusString", "OK"}, {"audioTimeLeft", 60}});
    mode.insert("delayMs", 0);
    QJsonObject talk;
    talk.insert("answer", "OK");
    talk.insert("delayMs", 0);
    talk.insert("closeAfterMs", -1);
    talk.insert("resetAfterMs", -1);
    return QJsonObject{{"mode", mode}, {"modes", QJsonObject()}, {"talk", talk}};
}

// Keys of overlay replace those of base, one level deep.
QJsonObject merged(QJsonObject base, const QJsonObject& overlay) {
    for (auto it = overlay.begin(); it != overlay.end(); ++it) base.insert(it.key(), it.value());
    return base;
}

QJsonObject completeScript(const QJsonObject& script) {
    QJsonObject full = defaultScript();
    full.insert("mode", merged(full.value("mode").toObject(), script.value("mode").toObject()));
    full.insert("modes", script.value("modes").toObject());
    full.insert("talk", merged(full.value("talk").toObject(), script.value("talk").toObject()));
    return full;
}

// One HTTP request being read.
struct HttpRequest {
    http_parser parser;
    QByteArray method;
    QByteArray url;
    QByteArray field;
    bool bLastWasValue = false;
    QMap<QByteArray, QByteArray> headers;  // lowercase names
    QByteArray body;
    bool bComplete = false;
};

int onUrl(http_parser* p, const char* at, size_t n) {
    static_cast<HttpRequest*>(p->data)->url.append(at, static_cast<int>(n));
    return 0;
}
int onHeaderField(http_parser* p, const char* at, size_t n) {
    auto* r = static_cast<HttpRequest*>(p->data);
    if (r->bLastWasValue) r->field.clear();
    r->field.append(at, static_cast<int>(n));
    r->bLastWasValue = false;
    return 0;
}
int onHeaderValue(http_parser* p, const char* at, size_t n) {
    auto* r = static_cast<HttpRequest*>(p->data);
    r->bLastWasValue = true;
    r->headers[r->field.toLower()].append(at, static_cast<int>(n));
    return 0;
}
int onBody(http_parser* p, const char* at, size_t n) {
    static_cast<HttpRequest*>(p->data)->body.append(at, static_cast<int>(n));
    return 0;
}
int onMessageComplete(http_parser* p) {
    auto* r = static_cast<HttpRequest*>(p->data);
    r->method = http_method_str(static_cast<http_method>(p->method));
    r->bComplete = true;
    return 0;
}

class DeviceSimulator : public QObject {
public:
    explicit DeviceSimulator(const QJsonObject& script, QObject* parent = nullptr)
        : QObject(parent), m_script(completeScript(script)) {
        connect(&m_server, &QTcpServer::newConnection, this, [this] { onNewConnection(); });
    }

    bool listen(quint16 iPort) {
        if (!m_server.listen(QHostAddress::LocalHost, iPort)) {
            report({{"event", "error"}, {"message", m_server.errorString()}});
            return false;
        }
        report({{"event", "listening"}, {"port", m_server.serverPort()}});
        return true;
    }

    void requireKeys(const QByteArray& baAccessKey, const QByteArray& baSecretKey) {
        m_baAccessKey = baAccessKey;
        m_baSecretKey = baSecretKey;
    }

    void setScript(const QJsonObject& script) {
        m_script = completeScript(script);
        report({{"event", "script"}, {"script", m_script}});
    }

private:
    // Empty when the key and the signature are right (or nothing is
    // required), else what was wrong.
    QString keyRefusal(const QByteArray& baAccessKey, const QByteArray& baSignature, const QByteArray& baSigned) const {
        if (m_baAccessKey.isEmpty()) return QString();
        if (QByteArray::fromPercentEncoding(baAccessKey) != m_baAccessKey) return QStringLiteral("access key");
        const QByteArray baExpected =
            QMessageAuthenticationCode::hash(baSigned, m_baSecretKey, QCryptographicHash::Sha256).toHex();
        return baSignature == baExpected ? QString() : QStringLiteral("signature");
    }

    void onNewConnection() {
        while (QTcpSocket* pSocket = m_server.nextPendingConnection()) {
            pSocket->setParent(this);
            connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket] { onReadyRead(pSocket); });
            connect(pSocket, &QTcpSocket::disconnected, this, [this, pSocket] { onDisconnected(pSocket); });
        }
    }

    void onDisconnected(QTcpSocket* pSocket) {
        if (pSocket->property("talkSerial").isValid() && !pSocket->property("closedBySim").toBool())
            report(
                {{"event", "talk-closed"}, {"serial", pSocket->property("talkSerial").toString()}, {"by", "client"}});
        m_requests.remove(pSocket);
        pSocket->deleteLater();
    }

    void onReadyRead(QTcpSocket* pSocket) {
        if (pSocket->property("talkSerial").isValid()) {
            pSocket->readAll();  // talk data is not played
            return;
        }
        if (!m_requests.contains(pSocket)) {
            const QByteArray head = pSocket->peek(5);
            if (head.size() < 5 && !head.contains('\n')) return;
            if (head == "TALK ") {
                if (!pSocket->canReadLine()) return;
                // "TALK <serial> <access key> <signature>"
                QList<QByteArray> parts = pSocket->readLine().trimmed().mid(5).split(' ');
                const QByteArray baSignature = parts.size() >= 3 ? parts.takeLast() : QByteArray();
                const QByteArray baAccessKey = parts.size() >= 2 ? parts.takeLast() : QByteArray();
                const QByteArray baSerial = parts.join(' ');
                const QString strRefusal = keyRefusal(baAccessKey, baSignature, "TALK " + baSerial);
                if (!strRefusal.isEmpty()) {
                    report({{"event", "refused"}, {"what", "talk"}, {"reason", strRefusal}});
                    pSocket->write("ERR 8\n");
                    pSocket->disconnectFromHost();
                    return;
                }
                onTalk(pSocket, QString::fromUtf8(baSerial));
                return;
            }
            auto request = QSharedPointer<HttpRequest>::create();
            http_parser_init(&request->parser, HTTP_REQUEST);
            request->parser.data = request.data();
            m_requests.insert(pSocket, request);
        }
        const QSharedPointer<HttpRequest> request = m_requests.value(pSocket);
        const QByteArray data = pSocket->readAll();
        http_parser_settings settings;
        http_parser_settings_init(&settings);
        settings.on_url = onUrl;
        settings.on_header_field = onHeaderField;
        settings.on_header_value = onHeaderValue;
        settings.on_body = onBody;
        settings.on_message_complete = onMessageComplete;
        http_parser_execute(&request->parser, &settings, data.constData(), static_cast<size_t>(data.size()));
        if (HTTP_PARSER_ERRNO(&request->parser) != HPE_OK) {
            pSocket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            pSocket->disconnectFromHost();
            return;
        }
        if (request->bComplete) onHttpRequest(pSocket, *request);
    }

    void onHttpRequest(QTcpSocket* pSocket, const HttpRequest& request) {
        const QByteArray path =
            request.url.left(request.url.indexOf('?') < 0 ? request.url.size() : request.url.indexOf('?'));
        const QJsonDocument bodyDocument = QJsonDocument::fromJson(request.body);
        const QString strMode = bodyDocument.object().value("mode").toString();
        report(
            {{"event", "mode"},
             {"method", QString::fromLatin1(request.method)},
             {"path", QString::fromUtf8(request.url)},
             {"serial", QString::fromUtf8(request.headers.value("x-device-serial"))},
             {"accessKey", QString::fromUtf8(QByteArray::fromPercentEncoding(request.headers.value("x-access-key")))},
             {"body", QString::fromUtf8(request.body)},
             {"mode", strMode}});

        QJsonObject rule = m_script.value("mode").toObject();
        rule = merged(rule, m_script.value("modes").toObject().value(strMode).toObject());
        int iStatus = rule.value("status").toInt(200);
        QByteArray body;
        const QString strRefusal =
            keyRefusal(request.headers.value("x-access-key"), request.headers.value("x-signature"),
                       request.method + ' ' + request.url + '\n' + request.body);
        if (path != kModePath || request.method != "PUT") {
            iStatus = 404;
        } else if (!strRefusal.isEmpty()) {
            report({{"event", "refused"}, {"what", "mode"}, {"reason", strRefusal}});
            iStatus = 200;
            body = QJsonDocument(QJsonObject{{"statusCode", 4},
                                             {"statusString", "Invalid Operation"},
                                             {"errorCode", kKeyRefusedError}})
                       .toJson(QJsonDocument::Compact);
        } else if (rule.contains("body")) {
            body = rule.value("body").toString().toUtf8();
        } else {
            body = QJsonDocument(rule.value("answer").toObject()).toJson(QJsonDocument::Compact);
        }
        QByteArray answer = "HTTP/1.1 " + QByteArray::number(iStatus) + (iStatus == 200 ? " OK" : " Error") + "\r\n";
        answer += "Content-Type: application/json\r\n";
        if (rule.contains("libraryError"))
            answer +=
                "X-Library-Error: " + QByteArray::number(rule.value("libraryError").toVariant().toLongLong()) + "\r\n";
        answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;

        QPointer<QTcpSocket> socket(pSocket);
        QTimer::singleShot(rule.value("delayMs").toInt(), this, [socket, answer] {
            if (!socket) return;
            socket->write(answer);
            socket->disconnectFromHost();
        });
    }

    void onTalk(QTcpSocket* pSocket, const QString& strSerial) {
        const QJsonObject rule = m_script.value("talk").toObject();
        const QString strAnswer = rule.value("answer").toString("OK");
        report({{"event", "talk"}, {"serial", strSerial}, {"answer", strAnswer}});
        const bool bOk = strAnswer == "OK";
        if (bOk) pSocket->setProperty("talkSerial", strSerial);

        QPointer<QTcpSocket> socket(pSocket);
        const int iCloseAfterMs = rule.value("closeAfterMs").toInt(-1);
        const int iResetAfterMs = rule.value("resetAfterMs").toInt(-1);
        QTimer::singleShot(rule.value("delayMs").toInt(), this,
                           [this, socket, strAnswer, bOk, iCloseAfterMs, iResetAfterMs, strSerial] {
                               if (!socket) return;
                               socket->write(strAnswer.toUtf8() + '\n');
                               if (!bOk) {
                                   socket->disconnectFromHost();
                                   return;
                               }
                               if (iCloseAfterMs >= 0) {
                                   QTimer::singleShot(iCloseAfterMs, this, [socket, strSerial] {
                                       if (!socket || socket->state() != QAbstractSocket::ConnectedState) return;
                                       socket->setProperty("closedBySim", true);
                                       report({{"event", "talk-closed"}, {"serial", strSerial}, {"by", "device"}});
                                       socket->disconnectFromHost();
                                   });
                               }
                               if (iResetAfterMs >= 0) {
                                   QTimer::singleShot(iResetAfterMs, this, [socket, strSerial] {
                                       if (!socket || socket->state() != QAbstractSocket::ConnectedState) return;
                                       socket->setProperty("closedBySim", true);
                                       report({{"event", "talk-closed"}, {"serial", strSerial}, {"by", "reset"}});
                                       // A zero linger time makes the close a reset.
                                       linger reset{1, 0};
                                       ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                                                    &reset, sizeof(reset));
                                       socket->abort();
                                   });
                               }
                           });
    }

    QTcpServer m_server;
    QJsonObject m_script;
    QByteArray m_baAccessKey;
    QByteArray m_baSecretKey;
    QHash<QTcpSocket*, QSharedPointer<HttpRequest>> m_requests;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("device-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulated device for two-way audio: mode requests and talks on one loopback port.\n"
        "Each line on standard input is a JSON script that replaces the current one.");
    parser.addHelpOption();
    const QCommandLineOption port("port", "Port on 127.0.0.1 (0: any free port).", "n", "0");
    const QCommandLineOption scriptFile("script", "JSON script file.", "file");
    const QCommandLineOption timeLeft("time-left", "Answer \"audioTimeLeft\" N.", "n");
    const QCommandLineOption errorCode("error-code", "Answer device \"errorCode\" X.", "x");
    const QCommandLineOption statusString("status-string", "Answer \"statusString\" S.", "s");
    const QCommandLineOption notJson("not-json", "Answer the mode request with text that is not JSON.");
    const QCommandLineOption status("status", "HTTP status of the mode answer.", "code");
    const QCommandLineOption delay("delay", "Delay the mode answer by N ms.", "ms");
    const QCommandLineOption libraryError("library-error", "Send the header X-Library-Error N.", "n");
    const QCommandLineOption talkErr("talk-err", "Answer the talk with \"ERR N\".", "n");
    const QCommandLineOption talkDelay("talk-delay", "Delay the talk answer by N ms.", "ms");
    const QCommandLineOption talkCloseAfter("talk-close-after", "Close an open talk after N ms.", "ms");
    const QCommandLineOption talkResetAfter("talk-reset-after", "Reset an open talk after N ms.", "ms");
    const QCommandLineOption exitOnEof("exit-on-eof", "End when standard input ends.");
    const QCommandLineOption accessKey("access-key", "Refuse requests without this access key.", "key");
    const QCommandLineOption secretKey("secret-key", "Refuse requests not signed with this secret key.", "key");
    parser.addOptions({port, exitOnEof, accessKey, secretKey, scriptFile, timeLeft, errorCode, statusString, notJson,
                       status, delay, libraryError, talkErr, talkDelay, talkCloseAfter, talkResetAfter});
    parser.process(app);

    QJsonObject script;
    if (parser.isSet(scriptFile)) {
        QFile file(parser.value(scriptFile));
        QJsonParseError error{};
        const QJsonDocument document =
            file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll(), &error) : QJsonDocument();
        if (!document.isObject()) {
            std::fprintf(stderr, "device-sim: cannot read the script %s\n", qPrintable(file.fileName()));
            return 2;
        }
        script = document.object();
    }
    QJsonObject mode = script.value("mode").toObject();
    QJsonObject answer = mode.contains("answer") ? mode.value("answer").toObject()
                                                 : defaultScript().value("mode").toObject().value("answer").toObject();
    if (parser.isSet(timeLeft)) answer.insert("audioTimeLeft", parser.value(timeLeft).toInt());
    if (parser.isSet(errorCode)) answer.insert("errorCode", parser.value(errorCode).toLongLong());
    if (parser.isSet(statusString)) answer.insert("statusString", parser.value(statusString));
    mode.insert("answer", answer);
    if (parser.isSet(notJson)) mode.insert("body", "this is not JSON");
    if (parser.isSet(status)) mode.insert("status", parser.value(status).toInt());
    if (parser.isSet(delay)) mode.insert("delayMs", parser.value(delay).toInt());
    if (parser.isSet(libraryError)) mode.insert("libraryError", parser.value(libraryError).toLongLong());
    script.insert("mode", mode);
    QJsonObject talk = script.value("talk").toObject();
    if (parser.isSet(talkErr)) talk.insert("answer", "ERR " + parser.value(talkErr));
    if (parser.isSet(talkDelay)) talk.insert("delayMs", parser.value(talkDelay).toInt());
    if (parser.isSet(talkCloseAfter)) talk.insert("closeAfterMs", parser.value(talkCloseAfter).toInt());
    if (parser.isSet(talkResetAfter)) talk.insert("resetAfterMs", parser.value(talkResetAfter).toInt());
    script.insert("talk", talk);

    DeviceSimulator simulator(script);
    if (parser.isSet(accessKey) || parser.isSet(secretKey))
        simulator.requireKeys(parser.value(accessKey).toUtf8(), parser.value(secretKey).toUtf8());
    if (!simulator.listen(static_cast<quint16>(parser.value(port).toUInt()))) return 1;

    // Scripts on standard input; its end stops the reading (or the simulator).
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof(buffer));
        if (n <= 0) {
            input.setEnabled(false);
            if (parser.isSet(exitOnEof)) QCoreApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<int>(n));
        int iEnd;
        while ((iEnd = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(iEnd).trimmed();
            pending.remove(0, iEnd + 1);
            if (line.isEmpty()) continue;
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                simulator.setScript(document.object());
            else
                report({{"event", "error"}, {"message", "script line is not a JSON object"}});
        }
    });
    return app.exec();
}
