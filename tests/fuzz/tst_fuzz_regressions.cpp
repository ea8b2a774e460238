// Replays every saved fuzz input (seeds and inputs that once broke an
// invariant) through the fuzz entry, so they stay fixed in ordinary runs.
#include <QDir>
#include <QFile>
#include <QtTest>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

class TestFuzzRegressions : public QObject {
    Q_OBJECT
private slots:
    void replay_data() {
        QTest::addColumn<QString>("path");
        int iCount = 0;
        for (const char* szDir : {"corpus", "regressions"}) {
            const QDir dir(QStringLiteral(FUZZ_INPUT_DIR "/") + QLatin1String(szDir));
            for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(QLatin1String(szDir) + '/' + info.fileName())) << info.filePath();
                ++iCount;
            }
        }
        QVERIFY(iCount > 0);
    }
    void replay() {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())), 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzz_regressions.moc"
