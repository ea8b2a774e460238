#include "ServiceConfig.h"

#include <QTemporaryDir>
#include <QtTest>

class TestServiceConfig : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QByteArray& text) {
        const QString strPath = m_dir.path() + QLatin1String(kConfigFileName);
        QFile file(strPath);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
        return strPath;
    }

    static ServiceConfig corrected(ServiceConfig config) {
        correctPortRange(config);
        return config;
    }

private slots:
    void defaultsWhenTheFileCannotBeUsed_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("bWrite");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray("") << true;
        QTest::newRow("invalid JSON") << QByteArray("{\"ServicePortStart\": 40000,") << true;
        QTest::newRow("array at top") << QByteArray("[{\"ServicePortStart\": 40000}]") << true;
        QTest::newRow("number at top") << QByteArray("40000") << true;
    }
    void defaultsWhenTheFileCannotBeUsed() {
        QFETCH(QByteArray, text);
        QFETCH(bool, bWrite);
        const QString strPath = bWrite ? write(text) : m_dir.path() + QStringLiteral("/absent.json");
        const ServiceConfig config = corrected(readServiceConfig(strPath));
        QCOMPARE(config.iPortStart, 33686);
        QCOMPARE(config.iPortEnd, 33696);
        QCOMPARE(config.strSingleInstance, QStringLiteral("mira-client.lock"));
    }

    void completeFile() {
        const ServiceConfig config = corrected(readServiceConfig(
            write(R"({"ServicePortStart": 40000, "ServicePortEnd": 40020, "SingleInstance": "other", "x": 1})")));
        QCOMPARE(config.iPortStart, 40000);
        QCOMPARE(config.iPortEnd, 40020);
        QCOMPARE(config.strSingleInstance, QStringLiteral("other"));
    }

    void onlyStartMovesTheEndThroughTheCorrection() {
        const ServiceConfig raw = readServiceConfig(write(R"({"ServicePortStart": 40000})"));
        QCOMPARE(raw.iPortEnd, 33696);  // a configured start does not move the end by itself
        const ServiceConfig config = corrected(raw);
        QCOMPARE(config.iPortStart, 40000);
        QCOMPARE(config.iPortEnd, 40010);  // ports 40000 to 40009
    }

    void wrongTypesKeepTheirOwnDefaults() {
        const ServiceConfig config = corrected(readServiceConfig(
            write(R"({"ServicePortStart": "40000", "ServicePortEnd": 33700, "SingleInstance": 7})")));
        QCOMPARE(config.iPortStart, 33686);
        QCOMPARE(config.iPortEnd, 33700);  // the well-typed key is still read
        QCOMPARE(config.strSingleInstance, QStringLiteral("mira-client.lock"));
    }

    void endNotAboveStart_data() {
        QTest::addColumn<int>("iEnd");
        QTest::addColumn<int>("iExpected");
        QTest::newRow("equal") << 41000 << 41010;
        QTest::newRow("below") << 40999 << 41010;
        QTest::newRow("negative") << -5 << 41010;
        QTest::newRow("above is kept") << 41001 << 41001;
    }
    void endNotAboveStart() {
        QFETCH(int, iEnd);
        QFETCH(int, iExpected);
        const ServiceConfig config = corrected(readServiceConfig(
            write(QStringLiteral(R"({"ServicePortStart": 41000, "ServicePortEnd": %1})").arg(iEnd).toUtf8())));
        QCOMPARE(config.iPortEnd, iExpected);
    }

    // (Slashes in the JSON texts are escaped: moc reads "//" as a comment.)
    void accessKeys_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("bListenAny");
        QTest::addColumn<QStringList>("origins");
        QTest::addColumn<int>("iMaxConnections");
        QTest::newRow("defaults") << QByteArray("{}") << false << QStringList() << 512;
        QTest::newRow("set") << QByteArray(
            R"({"ListenAddress": "any", "AllowedOrigins": ["https:\/\/a.example", "null"], "MaxConnections": 20})")
                             << true << QStringList{"https://a.example", "null"} << 20;
        QTest::newRow("other address text is loopback") << QByteArray(R"({"ListenAddress": "0.0.0.0"})") << false
                                                        << QStringList() << 512;
        QTest::newRow("wrong types and values keep defaults")
            << QByteArray(R"({"ListenAddress": 1, "AllowedOrigins": "https:\/\/a.example", "MaxConnections": 0})") << false
            << QStringList() << 512;
        QTest::newRow("origins that are not texts are skipped")
            << QByteArray(R"({"AllowedOrigins": [5, "https:\/\/b.example"]})") << false << QStringList{"https://b.example"} << 512;
    }
    void accessKeys() {
        QFETCH(QByteArray, text);
        QFETCH(bool, bListenAny);
        QFETCH(QStringList, origins);
        QFETCH(int, iMaxConnections);
        const ServiceConfig config = readServiceConfig(write(text));
        QCOMPARE(config.bListenAny, bListenAny);
        QCOMPARE(config.allowedOrigins, origins);
        QCOMPARE(config.iMaxConnections, iMaxConnections);
    }
};

QTEST_GUILESS_MAIN(TestServiceConfig)
#include "tst_serviceconfig.moc"
