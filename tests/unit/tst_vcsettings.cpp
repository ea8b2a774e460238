// The video library's settings and protected strings through its C
// interface: defaults under a fresh home folder, all-or-none stores, and the
// limits of keys, texts and cipher texts. HOME and XDG_CONFIG_HOME are
// temporary folders.
#include "video_control.h"
#include "video_control_test.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Command = QJsonDocument* (*)(const QJsonDocument*);

QJsonObject call(Command command, const QJsonObject& request) {
    const QJsonDocument document(request);
    QJsonDocument* pResult = command(&document);
    const QJsonObject result = pResult ? pResult->object() : QJsonObject();
    VC_Release(pResult);
    return result;
}

QJsonObject json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

}  // namespace

class TestVcSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

    // The settings as VC_GetLocalConfig answers them, home folder as "~".
    QJsonObject config() {
        QJsonObject config = call(VC_GetLocalConfig, {});
        for (auto it = config.begin(); it != config.end(); ++it) {
            if (it->isString()) *it = it->toString().replace(m_home.path(), "~");
        }
        return config;
    }

    QString configFile() const { return m_home.filePath("config/LocalService/video_control.json"); }

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
    }
    void init() {
        VC_Test_Reset();
        QFile::remove(configFile());
    }

    // "before" is stored first; "request" then answers iErrorCode and leaves
    // the settings as "expected" says.
    void settingsAreStoredAllOrNone_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("iErrorCode");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray defaults = R"({"snapshotPath":"~/Pictures/LocalService","snapshotFormat":"png",
                                        "recordPath":"~/Videos/LocalService","recordFormat":"mp4",
                                        "downloadPath":"~/Downloads/LocalService","preRecordSeconds":5})";
        // Folders inside the media folders, absolute as pages read them.
        const QByteArray stored = QByteArray(R"({"snapshotPath":"~/Pictures/LocalService/a","snapshotFormat":"jpg",
                                                 "recordPath":"~/Videos/LocalService/b","recordFormat":"mkv",
                                                 "downloadPath":"~/Downloads/LocalService","preRecordSeconds":0})")
                                      .replace("~", QFile::encodeName(m_home.path()));
        const QByteArray storedRead = QByteArray(stored).replace(QFile::encodeName(m_home.path()), "~");
        // Refused over the stored settings, which stay.
        const auto refused = [&](const char* szName, const QByteArray& request, int iErrorCode) {
            QTest::newRow(szName) << stored << request << iErrorCode << storedRead;
        };
        QTest::newRow("defaults") << QByteArray("{}") << QByteArray("{}") << 0 << defaults;
        QTest::newRow("others ignored") << QByteArray("{}") << QByteArray(R"({"volume":5})") << 0 << defaults;
        QTest::newRow("all stored") << QByteArray("{}") << stored << 0 << storedRead;
        QTest::newRow("upper case format") << QByteArray("{}") << QByteArray(R"({"recordFormat":"MKV"})") << 0
                                           << QByteArray(defaults).replace("mp4", "mkv");
        QTest::newRow("null: default")
            << stored << QByteArray(R"({"snapshotPath":null,"recordFormat":null,"preRecordSeconds":null})") << 0
            << QByteArray(R"({"snapshotPath":"~/Pictures/LocalService","snapshotFormat":"jpg",
                              "recordPath":"~/Videos/LocalService/b","recordFormat":"mp4",
                              "downloadPath":"~/Downloads/LocalService","preRecordSeconds":5})");
        refused("format avi", R"({"snapshotFormat":"png","recordFormat":"avi"})", 3001);
        refused("format a number", R"({"snapshotFormat":1})", 3001);
        refused("pre-record 31 s", R"({"preRecordSeconds":31})", 3001);
        refused("pre-record -1 s", R"({"preRecordSeconds":-1})", 3001);
        refused("pre-record 2.5 s", R"({"preRecordSeconds":2.5})", 3001);
        refused("pre-record a text", R"({"preRecordSeconds":"5"})", 3001);
        QTest::newRow("pre-record 30 s") << QByteArray("{}") << QByteArray(R"({"preRecordSeconds":30})") << 0
                                         << QByteArray(defaults).replace("5}", "30}");
        refused("path outside its folder", R"({"recordPath":"/tmp"})", 3024);
        refused("path a number", R"({"snapshotPath":5})", 3001);
        refused(
            "path in another media folder",
            QByteArray(R"({"snapshotPath":"~/Videos/LocalService"})").replace("~", QFile::encodeName(m_home.path())),
            3024);
    }
    void settingsAreStoredAllOrNone() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, request);
        QFETCH(int, iErrorCode);
        QFETCH(QByteArray, expected);
        QCOMPARE(call(VC_SetLocalConfig, json(before)), QJsonObject());
        QCOMPARE(call(VC_SetLocalConfig, json(request)).value("errorCode").toInt(), iErrorCode);
        QCOMPARE(config(), json(expected));
        VC_Test_Reset();  // and after a restart
        QCOMPARE(config(), json(expected));
    }

    void aBrokenConfigFileGivesTheDefaults() {
        QCOMPARE(call(VC_SetLocalConfig, json(R"({"recordFormat":"mkv"})")), QJsonObject());
        QFile file(configFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[1,");
        file.close();
        VC_Test_Reset();
        QCOMPARE(config().value("recordFormat"), "mp4");
    }

    // Each row on a page of its own: "key" set first when given, then the
    // command; iErrorCode 0: the text comes back through a round trip.
    void protectedStrings_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<int>("iErrorCode");
        const QString strLong(1024, QChar(0x00e9));
        const auto row = [](const char* szName, const QString& strKey, const char* szCommand,
                            const QJsonObject& request, int iErrorCode) {
            QTest::newRow(szName) << strKey << QString(szCommand) << request << iErrorCode;
        };
        row("key empty", "", "key", QJsonObject{{"key", ""}}, 3001);
        row("key 1025", "", "key", QJsonObject{{"key", strLong + 'x'}}, 3001);
        row("key a number", "", "key", QJsonObject{{"key", 1}}, 3001);
        row("no key", "", "encrypt", QJsonObject{{"text", "a"}}, 3018);
        row("no key to open", "", "decrypt", QJsonObject{{"cipherText", "AAAA"}}, 3018);
        row("text 4097 bytes", "k", "encrypt", QJsonObject{{"text", QString(4097, 'a')}}, 3001);
        row("original 4097 bytes", "k", "original", QJsonObject{{"text", QString(2049, QChar(0x00e9))}}, 3001);
        row("text a number", "k", "encrypt", QJsonObject{{"text", 1}}, 3001);
        row("cipher a number", "k", "decrypt", QJsonObject{{"cipherText", 1}}, 3001);
        row("cipher not base64", "k", "decrypt", QJsonObject{{"cipherText", "%%%%"}}, 3019);
        row("cipher too short", "k", "decrypt", QJsonObject{{"cipherText", "AAAA"}}, 3019);
        row("cipher empty", "k", "decrypt", QJsonObject{{"cipherText", ""}}, 3019);
        row("key 1024, text 4096 bytes", strLong, "encrypt", QJsonObject{{"text", QString(2048, QChar(0x00e9))}}, 0);
        row("empty text", "k", "encrypt", QJsonObject{{"text", ""}}, 0);
        row("original string", "k", "original", QJsonObject{{"text", "pässword"}}, 0);
    }
    void protectedStrings() {
        QFETCH(QString, key);
        QFETCH(QString, command);
        QFETCH(QJsonObject, request);
        QFETCH(int, iErrorCode);
        const QString strPage = QTest::currentDataTag();
        request.insert("uuid", strPage);
        if (!key.isEmpty()) QCOMPARE(call(VC_SetSecretKey, {{"uuid", strPage}, {"key", key}}), QJsonObject());
        const Command function = command == "key"       ? VC_SetSecretKey
                                 : command == "encrypt" ? VC_GetEncryptString
                                 : command == "decrypt" ? VC_GetDecryptString
                                                        : VC_SetOriginalString;
        const QJsonObject result = call(function, request);
        QCOMPARE(result.value("errorCode").toInt(), iErrorCode);
        if (iErrorCode) return;
        const QJsonObject encrypt = command == "original" ? QJsonObject{{"uuid", strPage}} : request;
        const QString strCipher = call(VC_GetEncryptString, encrypt).value("cipherText").toString();
        QVERIFY(strCipher !=
                call(VC_GetEncryptString, encrypt).value("cipherText").toString());  // a fresh nonce each time
        QCOMPARE(call(VC_GetDecryptString, {{"uuid", strPage}, {"cipherText", strCipher}}).value("text"),
                 request.value("text"));
        QByteArray baChanged = QByteArray::fromBase64(strCipher.toLatin1());
        baChanged[baChanged.size() - 1] = static_cast<char>(baChanged.back() ^ 1);  // the tag
        QCOMPARE(call(VC_GetDecryptString, {{"uuid", strPage}, {"cipherText", QString(baChanged.toBase64())}})
                     .value("errorCode"),
                 3019);
        // Another key, on another page or set again on this one, opens it no more.
        QCOMPARE(call(VC_SetSecretKey, {{"uuid", strPage + '2'}, {"key", "another key"}}), QJsonObject());
        QCOMPARE(call(VC_GetDecryptString, {{"uuid", strPage + '2'}, {"cipherText", strCipher}}).value("errorCode"),
                 3019);
        QCOMPARE(call(VC_SetSecretKey, {{"uuid", strPage}, {"key", "another key"}}), QJsonObject());
        QCOMPARE(call(VC_GetDecryptString, {{"uuid", strPage}, {"cipherText", strCipher}}).value("errorCode"), 3019);
    }
};

QTEST_MAIN(TestVcSettings)
#include "tst_vcsettings.moc"
