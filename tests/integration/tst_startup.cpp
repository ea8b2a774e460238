// Start-up of the real binary: configuration beside the executable, the
// single-instance lock across processes, port choice and clean shutdown.
// Ports 27100-27199 belong to this test.
#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QSharedMemory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
QString uniqueKey(const char* szName) {
    return QStringLiteral("tst_startup-%1-%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(szName));
}

QJsonObject config(int iStart, int iEnd, const QString& strKey) {
    return QJsonObject{{"ServicePortStart", iStart}, {"ServicePortEnd", iEnd}, {"SingleInstance", strKey}};
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}
}  // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void configurationIsReadBesideTheExecutable() {
        // Only a start: the range becomes start to start + 9.
        ServiceProcess service(QJsonObject{{"ServicePortStart", 27100}, {"SingleInstance", uniqueKey("config")}});
        // A file in the working directory must not be read.
        QTemporaryDir elsewhere;
        QFile decoy(elsewhere.path() + "/LocalServiceConfig.json");
        QVERIFY(decoy.open(QIODevice::WriteOnly) && decoy.write(R"({"ServicePortStart": 27150})") > 0);
        decoy.close();
        QVERIFY(service.start(elsewhere.path()));
        QCOMPARE(service.waitForListening(), quint16(27100));
        // The first port of the range, then the port taken.
        QVERIFY(service.log().contains("\n27100\nlistening on port 27100\n"));
        QVERIFY(accepts(27100));
    }

    // A taken port is passed over; with every port taken the service keeps
    // running without one.
    void portChoice() {
        QTcpServer first, second;
        QVERIFY(first.listen(QHostAddress::Any, 27110) && second.listen(QHostAddress::LocalHost, 27111));
        ServiceProcess skips(config(27110, 27115, uniqueKey("taken")));
        QVERIFY(skips.start());
        QCOMPARE(skips.waitForListening(), quint16(27112));

        ServiceProcess full(config(27110, 27112, uniqueKey("full")));
        QVERIFY(full.start());
        QVERIFY(full.waitForLog("\n27110\n"));
        QTest::qWait(1000);
        QVERIFY(full.isRunning());
        QVERIFY(!full.log().contains("listening"));
    }

    void secondInstanceWithTheSameKeyExitsMinusOne() {
        const QString strKey = uniqueKey("same");
        ServiceProcess first(config(27130, 27135, strKey));
        QVERIFY(first.start());
        QCOMPARE(first.waitForListening(), quint16(27130));

        ServiceProcess second(config(27136, 27140, strKey));
        QVERIFY(second.start());
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 255);          // -1
        QVERIFY(!second.log().contains("27136"));  // the server was never built
        QVERIFY(first.isRunning() && accepts(27130));

        // Terminated, it quits cleanly and its lock segment goes with it.
        QVERIFY(first.stop());
        QVERIFY(!QSharedMemory(strKey).attach());
    }

    void killedInstanceDoesNotBlockTheNext() {
        const QString strKey = uniqueKey("killed");
        {
            ServiceProcess victim(config(27151, 27155, strKey));
            QVERIFY(victim.start() && victim.waitForListening());
            victim.kill();
            QVERIFY(victim.waitForFinished());
        }
        ServiceProcess next(config(27156, 27160, strKey));
        QVERIFY(next.start());
        QCOMPARE(next.waitForListening(), quint16(27156));
        // ... and the new owner still keeps a third one out.
        ServiceProcess third(config(27161, 27165, strKey));
        QVERIFY(third.start() && third.waitForFinished());
        QCOMPARE(third.exitCode(), 255);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
