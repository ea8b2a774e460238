// The README's tables of commands and error codes against the tables the
// code runs from: a row added, dropped or renumbered on one side only fails
// here.
#include "AudioError.h"
#include "VcError.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <initializer_list>

namespace {

QString readFile(const QString& strPath) {
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(strPath));
    return QString::fromUtf8(file.readAll());
}

// The text of the README's "## <strHeading>" section, up to the next one.
QString readmeSection(const QString& strHeading) {
    const QString strReadme = readFile(QStringLiteral(LOCALSERVICE_SOURCE_DIR "/README.md"));
    const int iStart = strReadme.indexOf(QStringLiteral("\n## ") + strHeading + QLatin1Char('\n'));
    if (iStart < 0) return QString();
    const int iEnd = strReadme.indexOf(QStringLiteral("\n## "), iStart + 1);
    return strReadme.mid(iStart, iEnd < 0 ? -1 : iEnd - iStart);
}

// Capture group 1 of every line of strText that matches strPattern, sorted.
QStringList captures(const QString& strText, const QString& strPattern) {
    QStringList list;
    const QRegularExpression re(strPattern, QRegularExpression::MultilineOption);
    for (auto it = re.globalMatch(strText); it.hasNext();) list << it.next().captured(1);
    list.sort();
    return list;
}

QStringList codes(std::initializer_list<int> listCodes) {
    QStringList list;
    for (int iCode : listCodes) list << QString::number(iCode);
    list.sort();
    return list;
}

}  // namespace

class TestReadmeTables : public QObject {
    Q_OBJECT
private slots:
    void tableMatchesCode_data();
    void tableMatchesCode();
};

void TestReadmeTables::tableMatchesCode_data() {
    QTest::addColumn<QStringList>("listReadme");
    QTest::addColumn<QStringList>("listCode");

    const QString strHeader = readFile(QStringLiteral(LOCALSERVICE_SOURCE_DIR "/videolib/api/video_control.h"));
    const QString strVideo = readmeSection(QStringLiteral("Video library"));
    const QString strAudio = readmeSection(QStringLiteral("Two-way audio"));
    const QString strCodeRow = QStringLiteral("^\\| (3\\d{3}) \\|");

    // The header's own table is what the page client's reference is made
    // from; the README carries it word for word.
    QTest::newRow("video functions, whole rows") << captures(strVideo, QStringLiteral("^(\\| VC_.*)$"))
                                                 << captures(strHeader, QStringLiteral("^// (\\| VC_.*)$"));
    QStringList listDeclared = captures(strHeader, QStringLiteral("X\\((VC_\\w+)\\)")) +
                               captures(strHeader, QStringLiteral("^VC_API [\\w\\s*]+?\\b(VC_\\w+)\\("));
    listDeclared.removeAll(QStringLiteral("VC_SetMediaFolders"));  // the service's, not a page's
    listDeclared.sort();
    QTest::newRow("video functions, every one declared")
        << captures(strVideo, QStringLiteral("^\\| (VC_\\w+) \\|")) << listDeclared;
#define CODE_OF(name, code, text) code,
    // In-page video's own codes are listed in its section.
    QTest::newRow("video errors") << captures(strVideo + readmeSection(QStringLiteral("Video inside the page")),
                                              strCodeRow)
                                  << codes({VC_ERROR_TABLE(CODE_OF)});
#undef CODE_OF
#define ROW_OF(name, code, text) << QStringLiteral("| %1 | %2 |").arg(code).arg(QStringLiteral(text))
    QStringList listAudio = QStringList() AUDIO_ERROR_TABLE(ROW_OF);
#undef ROW_OF
    listAudio.sort();
    QTest::newRow("audio errors, whole rows") << captures(strAudio, QStringLiteral("^(\\| \\d+ \\|.*)$")) << listAudio;
}

void TestReadmeTables::tableMatchesCode() {
    QFETCH(QStringList, listReadme);
    QFETCH(QStringList, listCode);
    QVERIFY(!listCode.isEmpty());
    QCOMPARE(listReadme, listCode);
}

QTEST_APPLESS_MAIN(TestReadmeTables)
#include "tst_readme_tables.moc"
