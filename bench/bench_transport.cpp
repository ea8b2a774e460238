// Transport under many clients, counting every answer: 1,000 concurrent
// WebSocket clients x 100 commands with the service's peak memory, and 200
// HTTP clients long-polling while events are produced. Round trips are
// measured by bench/transport.sh with the lean client. With --seconds N both
// are repeated for N seconds (make soak). Ports 27490-27499.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {
constexpr quint16 kServicePort = 27490;
constexpr quint16 kHookedPort = 27495;
// Faults seen by every round together.
long g_iFaults = 0;

// Runs until bDone() or the time is up; false on time-out.
bool spin(const std::function<bool()>& bDone, int iTimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!bDone()) {
        if (timer.elapsed() > iTimeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// A copy of a service binary in a folder of its own with its configuration.
class Service {
public:
    Service(const QString& strBinary, quint16 port, const char* szKey) {
        const QString strCopy = m_dir.path() + "/localservice";
        QFile::copy(strBinary, strCopy);
        QFile::setPermissions(strCopy, QFile::permissions(strBinary));
        QFile config(m_dir.path() + "/LocalServiceConfig.json");
        config.open(QIODevice::WriteOnly);
        config.write(
            QJsonDocument(
                QJsonObject{{"ServicePortStart", port},
                            {"ServicePortEnd", port + 5},
                            {"MaxConnections", 2000},
                            {"SingleInstance",
                             QStringLiteral("bench-%1-%2").arg(QCoreApplication::applicationPid()).arg(szKey)}})
                .toJson());
        config.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(m_dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(env);
        m_process.start(strCopy, QStringList());
    }
    ~Service() {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) m_process.kill();
        m_process.waitForFinished(2000);
    }
    quint16 waitListening() {
        static const QRegularExpression re("listening on port (\\d+)\\n");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000) {
            m_strLog += QString::fromUtf8(m_process.readAll());
            const auto match = re.match(m_strLog);
            if (match.hasMatch()) return static_cast<quint16>(match.captured(1).toUInt());
            m_process.waitForReadyRead(100);
        }
        std::printf("service log:\n%s\n", qPrintable(m_strLog));
        return 0;
    }
    void write(const QByteArray& baText) { m_process.write(baText); }
    qint64 pid() const { return m_process.processId(); }
    // Peak and current resident memory in KiB.
    QPair<long, long> memory() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        long iHwm = 0, iRss = 0;
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("VmHWM:")) iHwm = line.mid(6).trimmed().split(' ').first().toLong();
                if (line.startsWith("VmRSS:")) iRss = line.mid(6).trimmed().split(' ').first().toLong();
            }
        }
        return {iHwm, iRss};
    }
    int threads() const {
        return QDir(QStringLiteral("/proc/%1/task").arg(pid())).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_strLog;
};

QByteArray post(const QByteArray& baBody) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain;charset=UTF-8\r\nContent-Length: " +
           QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

QByteArray versionRequest(const QString& strUuid, int iSequence) {
    return QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"%2"})")
        .arg(strUuid)
        .arg(iSequence)
        .toUtf8();
}

// --- 1,000 concurrent WebSocket clients × 100 commands -------------------
void benchManyWebSockets(Service& service, quint16 port) {
    const int iClients = 1000, iCommands = 100;
    struct Client {
        std::unique_ptr<QWebSocket> pSocket;
        QString strId;
        int iNext = 0;              // next sequence to send
        std::vector<int> received;  // sequences answered
        int iWrong = 0;             // answers for another uuid
    };
    std::vector<Client> clients(iClients);
    QElapsedTimer timer;
    timer.start();
    int iConnected = 0;
    for (int i = 0; i < iClients; ++i) {
        Client& client = clients[static_cast<size_t>(i)];
        client.pSocket = std::make_unique<QWebSocket>();
        QWebSocket* pSocket = client.pSocket.get();
        QObject::connect(pSocket, &QWebSocket::connected, [&iConnected, pSocket] {
            ++iConnected;
            pSocket->sendTextMessage(R"({"cmd":"system.webconnect"})");
        });
        QObject::connect(pSocket, &QWebSocket::textMessageReceived, [&client](const QString& strText) {
            const QJsonObject object = QJsonDocument::fromJson(strText.toUtf8()).object();
            if (client.strId.isEmpty()) {
                client.strId = object.value("uuid").toString();
                return;
            }
            if (object.value("uuid").toString() != client.strId) ++client.iWrong;
            client.received.push_back(object.value("sequence").toString().toInt());
            if (client.iNext < 100) {
                client.pSocket->sendTextMessage(QString::fromUtf8(versionRequest(client.strId, client.iNext++)));
            }
        });
        pSocket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
        // Do not overrun the listen backlog.
        if (i % 100 == 99) spin([&] { return iConnected >= i + 1; }, 20000);
    }
    const bool bAllOpen = spin(
        [&] { return std::all_of(clients.begin(), clients.end(), [](const Client& c) { return !c.strId.isEmpty(); }); },
        30000);
    const double dOpenSeconds = timer.elapsed() / 1000.0;
    const auto memoryOpen = service.memory();
    const int iThreads = service.threads();

    timer.start();
    for (Client& client : clients) {
        if (client.strId.isEmpty()) continue;
        client.pSocket->sendTextMessage(QString::fromUtf8(versionRequest(client.strId, client.iNext++)));
    }
    spin(
        [&] {
            return std::all_of(clients.begin(), clients.end(),
                               [&](const Client& c) { return static_cast<int>(c.received.size()) >= iCommands; });
        },
        120000);
    const double dSeconds = timer.nsecsElapsed() / 1e9;
    // Anything late (duplicates) arrives within a short grace period.
    spin([] { return false; }, 300);

    long iLost = 0, iDuplicated = 0, iWrong = 0, iAnswers = 0;
    for (const Client& client : clients) {
        std::vector<int> counts(iCommands, 0);
        for (int iSequence : client.received) {
            if (iSequence >= 0 && iSequence < iCommands) ++counts[static_cast<size_t>(iSequence)];
        }
        for (int iCount : counts) {
            if (iCount == 0) ++iLost;
            if (iCount > 1) iDuplicated += iCount - 1;
        }
        iWrong += client.iWrong;
        iAnswers += static_cast<long>(client.received.size());
    }
    g_iFaults += iLost + iDuplicated + iWrong + (bAllOpen ? 0 : 1);
    std::printf(
        "1000 WebSocket clients x 100 commands: %s opened in %.1f s; %ld answers in %.2f s = %.0f commands/s; "
        "lost %ld, duplicated %ld, misrouted %ld %s\n",
        bAllOpen ? "all" : "NOT ALL", dOpenSeconds, iAnswers, dSeconds, iAnswers / dSeconds, iLost, iDuplicated, iWrong,
        iLost == 0 && iDuplicated == 0 && iWrong == 0 ? "ok" : "FAULT");
    const auto memoryAfter = service.memory();
    std::printf(
        "service with 1000 open connections: %d threads, RSS %.1f MiB; peak RSS %.1f MiB (target < 250 MiB) %s\n",
        iThreads, memoryOpen.second / 1024.0, memoryAfter.first / 1024.0,
        memoryAfter.first / 1024.0 < 250 ? "ok" : "OVER");
    for (Client& client : clients) client.pSocket->close();
    spin([] { return false; }, 1000);
}

// --- 200 HTTP clients long-polling while events are produced ------------
class Poller : public QObject {
public:
    Poller(quint16 port, QString strUuid) : m_port(port), m_strUuid(std::move(strUuid)) { next(); }
    void next() {
        if (m_bStopped) return;
        m_pSocket = std::make_unique<QTcpSocket>();
        m_baData.clear();
        QTcpSocket* pSocket = m_pSocket.get();
        connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket] {
            m_baData += pSocket->readAll();
            const int iHeadEnd = m_baData.indexOf("\r\n\r\n");
            if (iHeadEnd < 0) return;
            int iLength = 0;
            for (const QByteArray& line : m_baData.left(iHeadEnd).split('\n')) {
                if (line.toLower().startsWith("content-length:")) iLength = line.mid(15).trimmed().toInt();
            }
            if (m_baData.size() < iHeadEnd + 4 + iLength) return;
            const QByteArray baBody = m_baData.mid(iHeadEnd + 4, iLength);
            ++m_iPolls;
            if (baBody != "timeout" && baBody != "invalid") {
                const QJsonObject event = QJsonDocument::fromJson(baBody).object();
                if (event.value("uuid").toString() != m_strUuid) ++m_iWrong;
                m_events.push_back(event.value("n").toInt());
            }
            pSocket->disconnect(this);
            m_pSocket.release()->deleteLater();
            QTimer::singleShot(0, this, [this] { next(); });
        });
        pSocket->connectToHost(QHostAddress::LocalHost, m_port);
        pSocket->write(post(QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(m_strUuid).toUtf8()));
    }
    void stop() { m_bStopped = true; }

    quint16 m_port;
    QString m_strUuid;
    std::unique_ptr<QTcpSocket> m_pSocket;
    QByteArray m_baData;
    std::vector<int> m_events;
    int m_iWrong = 0;
    int m_iPolls = 0;
    bool m_bStopped = false;
};

void benchLongPolls(Service& service, quint16 port) {
    const int iClients = 200, iEvents = 20;
    service.write("poll 1000\n");
    std::vector<std::unique_ptr<Poller>> pollers;
    for (int i = 0; i < iClients; ++i)
        pollers.push_back(std::make_unique<Poller>(port, QStringLiteral("lp-%1").arg(i)));
    spin([] { return false; }, 500);
    QElapsedTimer timer;
    timer.start();
    // Events are produced in rounds, one per client per round, while the
    // clients keep polling.
    for (int n = 0; n < iEvents; ++n) {
        QByteArray baBatch;
        for (int i = 0; i < iClients; ++i) {
            baBatch += QStringLiteral("emit {\"cmd\":\"video.onDrawEvent\",\"uuid\":\"lp-%1\",\"n\":%2}\n")
                           .arg(i)
                           .arg(n)
                           .toUtf8();
        }
        service.write(baBatch);
        spin([] { return false; }, 20);
    }
    const bool bAll = spin(
        [&] {
            return std::all_of(pollers.begin(), pollers.end(),
                               [&](const auto& p) { return static_cast<int>(p->m_events.size()) >= iEvents; });
        },
        60000);
    const double dSeconds = timer.nsecsElapsed() / 1e9;
    spin([] { return false; }, 1200);  // a late duplicate would arrive here
    for (auto& pPoller : pollers) pPoller->stop();
    long iLost = 0, iDuplicated = 0, iWrong = 0, iPolls = 0;
    for (const auto& pPoller : pollers) {
        std::vector<int> counts(iEvents, 0);
        for (int n : pPoller->m_events) {
            if (n >= 0 && n < iEvents) ++counts[static_cast<size_t>(n)];
        }
        for (int iCount : counts) {
            if (iCount == 0) ++iLost;
            if (iCount > 1) iDuplicated += iCount - 1;
        }
        iWrong += pPoller->m_iWrong;
        iPolls += pPoller->m_iPolls;
    }
    g_iFaults += iLost + iDuplicated + iWrong + (bAll ? 0 : 1);
    std::printf(
        "200 HTTP long-polling clients, %d events each: %s delivered in %.2f s with %ld polls; "
        "lost %ld, duplicated %ld, misrouted %ld %s\n",
        iEvents, bAll ? "all" : "NOT ALL", dSeconds, iPolls, iLost, iDuplicated, iWrong,
        iLost == 0 && iDuplicated == 0 && iWrong == 0 ? "ok" : "FAULT");
    spin([] { return false; }, 1500);
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int iSeconds = argc > 2 && QByteArray(argv[1]) == "--seconds" ? QByteArray(argv[2]).toInt() : 0;
    QElapsedTimer total;
    total.start();
    int iRounds = 0;
    do {
        {
            Service service(LOCALSERVICE_BIN, kServicePort, "main");
            const quint16 port = service.waitListening();
            if (!port) {
                std::printf("service did not start\n");
                return 1;
            }
            benchManyWebSockets(service, port);
        }
        {
            Service hooked(LOCALSERVICE_TESTHOOKS_BIN, kHookedPort, "hooks");
            const quint16 port = hooked.waitListening();
            if (!port) {
                std::printf("test-hooks service did not start\n");
                return 1;
            }
            benchLongPolls(hooked, port);
        }
        ++iRounds;
    } while (total.elapsed() < iSeconds * 1000LL);
    if (iSeconds) {
        std::printf("soak: %d rounds in %.0f s, %ld faults (lost, duplicated, misrouted or not all served) %s\n",
                    iRounds, total.elapsed() / 1000.0, g_iFaults, g_iFaults == 0 ? "ok" : "FAULT");
    }
    return g_iFaults == 0 ? 0 : 1;
}
