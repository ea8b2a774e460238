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
        QTest::newRow("equal") << 41000;
        QTest::newRow("below") << 40999;
        QTest::newRow("negative") << -5;
    }
    void endNotAboveStart() {
        QFETCH(int, iEnd);
        const ServiceConfig config = corrected(readServiceConfig(
            write(QStringLiteral(R"({"ServicePortStart": 41000, "ServicePortEnd": %1})").arg(iEnd).toUtf8())));
        QCOMPARE(config.iPortEnd, 41010);
    }

    void endAboveStartIsKept() {
        const ServiceConfig config = corrected(readServiceConfig(write(R"({"ServicePortStart": 41000, "ServicePortEnd": 41001})")));
        QCOMPARE(config.iPortEnd, 41001);
    }
};

QTEST_GUILESS_MAIN(TestServiceConfig)
#include "tst_serviceconfig.moc"
