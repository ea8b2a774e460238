// The configuration file over the defaults, with the port range corrected;
// the connection cap that follows from it and the descriptor limit.
#include "ProcessLimits.h"
#include "ServiceConfig.h"

#include <QTemporaryDir>
#include <QtTest>

class TestServiceConfig : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // Each row: the file's text (null: no file) and the configuration as
    // "start end key listenAny maxConnections origins...". (Slashes in the
    // JSON texts are escaped: moc reads "//" as a comment.)
    void configuration_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        const QString strDefaults = "33686 33696 mira-client.lock 0 512 ask";
        QTest::newRow("missing") << QByteArray() << strDefaults;
        QTest::newRow("empty") << QByteArray("") << strDefaults;
        QTest::newRow("invalid JSON") << QByteArray("{\"ServicePortStart\": 40000,") << strDefaults;
        QTest::newRow("array at top") << QByteArray("[{\"ServicePortStart\": 40000}]") << strDefaults;
        QTest::newRow("every key")
            << QByteArray(R"({"ServicePortStart": 40000, "ServicePortEnd": 40020, "SingleInstance": "other",
            "ListenAddress": "any", "AllowedOrigins": ["https:\/\/a.example", "null"], "MaxConnections": 20, "TrustPolicy": "any", "x": 1})")
            << "40000 40020 other 1 20 any https://a.example null";
        QTest::newRow("wrong types keep their own defaults")
            << QByteArray(
                   R"({"ServicePortStart": "40000", "ServicePortEnd": 33700, "SingleInstance": 7, "ListenAddress": 1,
                "AllowedOrigins": "https:\/\/a.example", "MaxConnections": 0, "TrustPolicy": 3})")
            << "33686 33700 mira-client.lock 0 512 ask";
        QTest::newRow("other address text is loopback") << QByteArray(R"({"ListenAddress": "0.0.0.0"})") << strDefaults;
        QTest::newRow("origins that are not texts are skipped")
            << QByteArray(R"({"AllowedOrigins": [5, "https:\/\/b.example"]})") << strDefaults + " https://b.example";
        // An end not above the start becomes start + 10.
        QTest::newRow("only a start") << QByteArray(R"({"ServicePortStart": 41000})")
                                      << "41000 41010 mira-client.lock 0 512 ask";
        QTest::newRow("end equal") << QByteArray(R"({"ServicePortStart": 41000, "ServicePortEnd": 41000})")
                                   << "41000 41010 mira-client.lock 0 512 ask";
        QTest::newRow("end one above") << QByteArray(R"({"ServicePortStart": 41000, "ServicePortEnd": 41001})")
                                       << "41000 41001 mira-client.lock 0 512 ask";
    }
    void configuration() {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QFile file(m_dir.filePath(QStringLiteral("config.json")));
        QVERIFY(text.isNull() ? !file.exists() || file.remove()
                              : file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (!text.isNull()) file.write(text);
        file.close();
        const ServiceConfig raw = readServiceConfig(file.fileName());
        ServiceConfig config = raw;
        correctPortRange(config);
        const QStringList listActual =
            QStringList{
                QString::number(config.iPortStart), QString::number(config.iPortEnd),        config.strSingleInstance,
                QString::number(config.bListenAny), QString::number(config.iMaxConnections), config.strTrustPolicy} +
            config.allowedOrigins;
        QCOMPARE(listActual.join(' '), expected);
        // A configured start does not move the end by itself.
        if (!text.contains("ServicePortEnd")) QCOMPARE(raw.iPortEnd, 33696);
    }

    // "MaxConnections" and the descriptor limit less what play windows,
    // transfers and the service itself keep back.
    void connectionCap_data() {
        QTest::addColumn<int>("iMaxConnections");
        QTest::addColumn<long>("iDescriptorLimit");
        QTest::addColumn<int>("iCap");
        QTest::newRow("no limit") << 512 << -1L << 512;
        QTest::newRow("limit far above") << 512 << 524288L << 512;
        QTest::newRow("limit less the reserve") << 4000 << 2L * kDescriptorReserve + 100 << kDescriptorReserve + 100;
        QTest::newRow("limit below twice the reserve: half") << 2000 << 1024L << 512;
        QTest::newRow("small limit: half") << 512 << 300L << 150;
        QTest::newRow("tiny limit: at least one") << 512 << 1L << 1;
    }
    void connectionCap() {
        QFETCH(int, iMaxConnections);
        QFETCH(long, iDescriptorLimit);
        QFETCH(int, iCap);
        QCOMPARE(::connectionCap(iMaxConnections, iDescriptorLimit), iCap);
    }
};

QTEST_GUILESS_MAIN(TestServiceConfig)
#include "tst_serviceconfig.moc"
