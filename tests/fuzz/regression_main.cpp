// Feeds every kept input of a fuzz target (crashes found once, and seeds)
// through the same entry point, built with the normal compiler.
#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

class TestFuzzRegressions : public QObject {
    Q_OBJECT

private slots:
    void keptInputs_data() {
        QTest::addColumn<QString>("path");
        const QDir dir(QStringLiteral(FUZZ_REGRESSION_DIR));
        const QStringList names = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!names.isEmpty(), "no kept inputs");
        for (const QString& strName : names) QTest::newRow(qPrintable(strName)) << dir.filePath(strName);
    }
    void keptInputs() {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        // A fault aborts the process; getting here means the input passed.
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()),
                                        static_cast<size_t>(data.size())),
                 0);
    }
};

QTEST_APPLESS_MAIN(TestFuzzRegressions)
#include "regression_main.moc"
