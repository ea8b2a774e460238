// The video library's tools on a widget of its own (offscreen): shapes drawn
// with the mouse, settings, protected strings, transfers from an HTTP server
// of the test's own (127.0.0.1:28060), the file dialog and the functions it
// does not support. The user's configuration folder is a temporary one.
#define QTEST_QPA_MOUSE_HANDLING  // mouse input through the window, as a user's
#include "video_control.h"
#include "video_control_test.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr quint16 kHttpPort = 28060;

struct Event {
    VC_EventType eType;
    QJsonObject data;
};
QList<Event> s_events;

void recordEvent(VC_EventType eType, QWidget*, const QJsonDocument* pData) {
    s_events << Event{eType, pData->object()};
}

QJsonObject result(QJsonDocument* pResult) {
    const QJsonObject object = pResult ? pResult->object() : QJsonObject();
    VC_Release(pResult);
    return object;
}
QJsonObject call(QJsonDocument* (*function)(QWidget*, const QJsonDocument*), QWidget* pWidget,
                 const QJsonObject& request) {
    const QJsonDocument document(request);
    return result(function(pWidget, &document));
}
QJsonObject call(QJsonDocument* (*function)(const QJsonDocument*), const QJsonObject& request) {
    const QJsonDocument document(request);
    return result(function(&document));
}

QJsonObject json(const char* szText) {
    return QJsonDocument::fromJson(szText).object();
}

// Whether the numbers of two objects agree (to rounding) and the rest equals.
bool same(const QJsonValue& actual, const QJsonValue& expected) {
    if (actual.isDouble() && expected.isDouble()) return qAbs(actual.toDouble() - expected.toDouble()) < 1e-9;
    if (actual.isArray() && expected.isArray() && actual.toArray().size() == expected.toArray().size()) {
        for (int i = 0; i < actual.toArray().size(); ++i) {
            if (!same(actual.toArray()[i], expected.toArray()[i])) return false;
        }
        return true;
    }
    if (actual.isObject() && expected.isObject() && actual.toObject().keys() == expected.toObject().keys()) {
        for (const QString& strKey : actual.toObject().keys()) {
            if (!same(actual.toObject()[strKey], expected.toObject()[strKey])) return false;
        }
        return true;
    }
    return actual == expected;
}
#define COMPARE_JSON(actual, expected)                                                              \
    QVERIFY2(same(actual, expected), qPrintable(QString::fromUtf8(QJsonDocument(QJsonArray{actual}).toJson( \
                                                    QJsonDocument::Compact))))

// A bare HTTP/1.1 server: GET /video.mp4 serves the payload (from the
// Range header's start when there is one; the first answer stops after
// iHoldAt bytes and waits), POST stores the body, anything else is 404.
struct HttpServer {
    QTcpServer server;
    QByteArray baPayload;
    int iHoldAt = -1;
    QByteArrayList ranges;  // the Range header of each GET, empty without one
    QByteArray baPosted;

    bool listen() {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* pSocket = server.nextPendingConnection();
            QObject::connect(pSocket, &QTcpSocket::readyRead, pSocket, [this, pSocket] { onData(pSocket); });
            QObject::connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
        });
        return server.listen(QHostAddress::LocalHost, kHttpPort);
    }

    void onData(QTcpSocket* pSocket) {
        QByteArray baRequest = pSocket->property("request").toByteArray() + pSocket->readAll();
        pSocket->setProperty("request", baRequest);
        const int iEnd = baRequest.indexOf("\r\n\r\n");
        QByteArray baLength;
        QByteArray baRange;
        for (const QByteArray& baLine : baRequest.left(iEnd).split('\n')) {
            if (baLine.toLower().startsWith("content-length:")) baLength = baLine.mid(15).trimmed();
            if (baLine.toLower().startsWith("range:")) baRange = baLine.mid(6).trimmed();
        }
        if (iEnd < 0 || baRequest.size() < iEnd + 4 + baLength.toInt()) return;  // not all there yet
        QByteArray baStatus = "404 Not Found";
        QByteArray baHeaders;
        QByteArray baBody = "missing";
        if (baRequest.startsWith("POST")) {
            baPosted = baRequest.mid(iEnd + 4);
            baStatus = "200 OK";
            baBody = "stored";
        } else if (baRequest.startsWith("GET /video.mp4 ")) {
            ranges << baRange;
            const int iFrom = baRange.startsWith("bytes=") ? baRange.mid(6, baRange.indexOf('-') - 6).toInt() : 0;
            baStatus = iFrom ? "206 Partial Content" : "200 OK";
            if (iFrom)
                baHeaders = "Content-Range: bytes " + QByteArray::number(iFrom) + '-' +
                            QByteArray::number(baPayload.size() - 1) + '/' + QByteArray::number(baPayload.size()) +
                            "\r\n";
            baBody = baPayload.mid(iFrom);
        }
        pSocket->write("HTTP/1.1 " + baStatus + "\r\nContent-Length: " + QByteArray::number(baBody.size()) +
                       "\r\nConnection: close\r\n" + baHeaders + "\r\n");
        if (iHoldAt >= 0 && baStatus == "200 OK" && !baRequest.startsWith("POST")) {
            pSocket->write(baBody.left(std::exchange(iHoldAt, -1)));
            return;
        }
        pSocket->write(baBody);
        pSocket->disconnectFromHost();
    }
};

}  // namespace

// Takes the URL the library hands to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestVideoTools : public QObject {
    Q_OBJECT

private:
    QWidget* playWindow() const { return m_pWidget->childAt(5, 5); }
    // Presses at the first point, moves through the others and releases at
    // the last.
    void drag(const QVector<QPoint>& points) {
        QTest::mousePress(playWindow(), Qt::LeftButton, Qt::NoModifier, points.first());
        for (const QPoint& pt : points) QTest::mouseMove(playWindow(), pt);
        QTest::mouseRelease(playWindow(), Qt::LeftButton, Qt::NoModifier, points.last());
    }
    // The data of the first event of the type, when it came.
    QJsonObject event(VC_EventType eType) {
        for (const Event& event : qAsConst(s_events)) {
            if (event.eType == eType) return event.data;
        }
        return QJsonObject();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
        VC_Release(VC_Initialize(nullptr));
    }

    void init() {
        VC_Test_Reset();
        s_events.clear();
        for (VC_EventType eType : {VC_EVENT_DRAW_CALLBACK, VC_EVENT_DRAW_7, VC_EVENT_DRAW_8})
            VC_InstallEventCallback(eType, recordEvent);
        m_pWidget = std::make_unique<QWidget>();
        m_pWidget->resize(640, 360);
        m_pWidget->show();
        VC_Release(VC_Initialize(m_pWidget.get()));
        const QJsonDocument layout = QJsonDocument::fromJson("[[{}]]");
        VC_Release(VC_SetLayout(m_pWidget.get(), &layout));
        QVERIFY(QTest::qWaitForWindowExposed(m_pWidget.get()));
    }

    void aDraggedRectangleIsReportedReadBackAndMoved() {
        QWidget* pVideo = m_pWidget.get();
        QCOMPARE(call(VC_SetDrawStatus, pVideo, json(R"({"type":"rect"})")).value("enable"), true);
        drag({{64, 36}, {200, 100}, {320, 180}});
        QTRY_COMPARE(s_events.size(), 1);
        const QJsonObject drawn = json(R"({"id":1,"x":0.1,"y":0.1,"width":0.4,"height":0.4})");
        QJsonObject expected = drawn;
        expected.insert("type", "rect");
        expected.insert("wndIndex", 0);
        QCOMPARE(s_events[0].eType, VC_EVENT_DRAW_CALLBACK);
        COMPARE_JSON(s_events[0].data, expected);
        COMPARE_JSON(call(VC_GetRectInfo, pVideo, {}).value("rects"), QJsonArray{drawn});

        // Dragging it moves it (type 7); the same in a resized window.
        m_pWidget->resize(1280, 720);
        drag({{400, 300}, {528, 372}});
        QTRY_COMPARE(s_events.size(), 2);
        QCOMPARE(s_events[1].eType, VC_EVENT_DRAW_7);
        QCOMPARE(s_events[1].data.value("action"), "moved");
        COMPARE_JSON(s_events[1].data.value("x"), 0.2);
        COMPARE_JSON(s_events[1].data.value("y"), 0.2);
    }

    void aPolygonClosesOnADoubleClick() {
        QWidget* pVideo = m_pWidget.get();
        call(VC_SetDrawStatus, pVideo, json(R"({"type":"polygon"})"));
        for (const QPoint& pt : {QPoint(64, 36), QPoint(320, 36), QPoint(320, 180)})
            QTest::mouseClick(playWindow(), Qt::LeftButton, Qt::NoModifier, pt);
        QTest::qWait(50);
        QVERIFY(s_events.isEmpty());
        QTest::mouseDClick(playWindow(), Qt::LeftButton, Qt::NoModifier, QPoint(64, 180));
        QTRY_COMPARE(s_events.size(), 1);
        const QJsonArray corners = QJsonDocument::fromJson(R"([{"x":0.1,"y":0.1},{"x":0.5,"y":0.1},
            {"x":0.5,"y":0.5},{"x":0.1,"y":0.5}])").array();
        COMPARE_JSON(event(VC_EVENT_DRAW_CALLBACK).value("points"), corners);
        const QJsonArray polygons = call(VC_GetPolygonInfo, pVideo, {}).value("polygons").toArray();
        QCOMPARE(polygons.size(), 1);
        COMPARE_JSON(polygons[0].toObject().value("points"), corners);
    }

    void aGridIsToggledByDragging() {
        QWidget* pVideo = m_pWidget.get();
        QCOMPARE(call(VC_SetGridInfo, pVideo, json(R"({"rows":4,"columns":4})")).value("cells"),
                 QJsonArray({"0000", "0000", "0000", "0000"}));
        call(VC_SetDrawStatus, pVideo, json(R"({"type":"grid"})"));
        // Along the first row: all on.
        drag({{40, 45}, {600, 45}});
        QTRY_COMPARE(s_events.size(), 1);
        QCOMPARE(event(VC_EVENT_DRAW_CALLBACK),
                 json(R"({"type":"grid","wndIndex":0,"rows":4,"columns":4,"cells":["1111","0000","0000","0000"]})"));
        // Down the second column from a cell that is on: all off.
        drag({{200, 45}, {200, 315}});
        QTRY_COMPARE(s_events.size(), 2);
        QCOMPARE(result(VC_GetGridInfo(pVideo)).value("cells"), QJsonArray({"1011", "0000", "0000", "0000"}));
    }

    void shapesSetAreKeptAndClearedByTypeAndId() {
        QWidget* pVideo = m_pWidget.get();
        const QJsonObject rects = json(R"({"rects":[{"id":5,"x":0,"y":0,"width":0.5,"height":0.5,"name":"door"},
                                                    {"x":0.5,"y":0.5,"width":0.25,"height":0.5}]})");
        const QJsonArray stored = call(VC_SetRectInfo, pVideo, rects).value("rects").toArray();
        QCOMPARE(stored[0], rects["rects"].toArray()[0]);  // as given, extra keys too
        QCOMPARE(stored[1].toObject().value("id"), 6);    // the next free id
        call(VC_SetLineInfo, pVideo, json(R"({"lines":[{"points":[{"x":0,"y":0},{"x":1,"y":1}]}]})"));
        // A bad rectangle changes nothing.
        QCOMPARE(call(VC_SetRectInfo, pVideo, json(R"({"rects":[{"x":0.8,"y":0,"width":0.5,"height":0.5}]})"))
                     .value("errorCode"),
                 3001);

        QCOMPARE(call(VC_ClearShapeById, pVideo, json(R"({"id":5})")).value("id"), 5);
        QCOMPARE(call(VC_ClearShapeById, pVideo, json(R"({"id":5})")).value("errorCode"), 3016);
        QCOMPARE(call(VC_GetRectInfo, pVideo, {}).value("rects").toArray(), QJsonArray{stored[1]});
        QCOMPARE(call(VC_ClearShapeByType, pVideo, json(R"({"type":"rect"})")).value("removed"), 1);
        QCOMPARE(call(VC_GetRectInfo, pVideo, {}).value("rects").toArray(), QJsonArray());
        QCOMPARE(result(VC_GetLineInfo(pVideo)).value("lines").toArray().size(), 1);
    }

    void settingsSurviveARestartAndBadValuesChangeNothing() {
        const QString strSnapshots = QDir::toNativeSeparators(m_dir.filePath("snapshots"));
        QCOMPARE(call(VC_SetLocalConfig, QJsonObject{{"snapshotPath", strSnapshots}, {"recordFormat", "MKV"}}),
                 QJsonObject());
        QFile file(call(VC_GetLocalConfig, {}).value("configFile").toString());
        QVERIFY(file.fileName().startsWith(m_dir.path()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray baStored = file.readAll();
        file.close();

        VC_Test_Reset();  // as after a restart
        const QJsonObject config = call(VC_GetLocalConfig, {});
        QCOMPARE(config.value("snapshotPath").toString(), strSnapshots);
        QCOMPARE(config.value("recordFormat").toString(), QStringLiteral("mkv"));
        QCOMPARE(config.value("snapshotFormat").toString(), QStringLiteral("png"));  // the default

        const std::pair<QJsonObject, int> kRefused[] = {
            {QJsonObject{{"snapshotFormat", "jpg"}, {"recordFormat", "avi"}}, 3001},
            {QJsonObject{{"recordPath", "relative/folder"}}, 3001},
            {QJsonObject{{"snapshotFormat", 2}}, 3001},
            {QJsonObject{{"recordPath", "/proc/localservice-test"}}, 3011}};
        for (const auto& [request, iErrorCode] : kRefused) {
            QCOMPARE(call(VC_SetLocalConfig, request).value("errorCode").toInt(), iErrorCode);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), baStored);
            file.close();
        }
    }

    void protectedStringsComeBackAndChangedOnesAreRefused() {
        const auto page = [](QJsonObject request, const char* szUuid = "page-1") {
            request.insert("uuid", szUuid);
            return request;
        };
        QCOMPARE(call(VC_GetEncryptString, page({{"text", "x"}})).value("errorCode"), 3018);  // no key yet
        QCOMPARE(call(VC_SetSecretKey, page({{"key", "a long and random key"}})), QJsonObject());
        call(VC_SetOriginalString, page({{"text", "pässword 1"}}));
        const QString strCipher = call(VC_GetEncryptString, page({})).value("cipherText").toString();
        QVERIFY(strCipher != call(VC_GetEncryptString, page({})).value("cipherText").toString());  // fresh nonce
        QCOMPARE(call(VC_GetDecryptString, page({{"cipherText", strCipher}})).value("text"), "pässword 1");

        QByteArray baChanged = QByteArray::fromBase64(strCipher.toLatin1());
        baChanged[20] = static_cast<char>(baChanged[20] ^ 1);
        QCOMPARE(call(VC_GetDecryptString, page({{"cipherText", QString(baChanged.toBase64())}})).value("errorCode"), 3019);
        // Another page's key does not open it.
        call(VC_SetSecretKey, page({{"key", "another key"}}, "page-2"));
        QCOMPARE(call(VC_GetDecryptString, page({{"cipherText", strCipher}}, "page-2")).value("errorCode"), 3019);
    }

    void downloadsResumeAfterAStopAndReportErrors() {
        HttpServer http;
        for (int i = 0; i < 400000; ++i) http.baPayload += static_cast<char>(i * 7 % 251);
        http.iHoldAt = 150000;
        QVERIFY(http.listen());
        const QString strUrl = QStringLiteral("http://127.0.0.1:%1/").arg(kHttpPort);
        const QString strFolder = m_dir.filePath("downloads");

        const QJsonObject started = call(VC_StartDownload, QJsonObject{{"url", strUrl + "video.mp4"}, {"path", strFolder + "/"}});
        QCOMPARE(started.value("status"), "running");
        const QJsonObject id{{"downloadId", started.value("downloadId")}};
        QTRY_COMPARE(call(VC_GetDownloadProgress, id).value("bytes").toInt(), 150000);
        QCOMPARE(call(VC_GetDownloadProgress, id).value("progress").toInt(), 37);
        QCOMPARE(call(VC_StopDownload, id).value("status"), "stopped");
        QCOMPARE(call(VC_StartDownload, id).value("status"), "running");
        QTRY_COMPARE(call(VC_GetDownloadStatus, id).value("status"), "done");
        QCOMPARE(http.ranges, QByteArrayList({"", "bytes=150000-"}));
        QFile file(QDir(strFolder).filePath("video.mp4"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == http.baPayload);
        QVERIFY(!QFile::exists(file.fileName() + ".part"));

        const QJsonObject missing = call(VC_Download, QJsonObject{{"url", strUrl + "gone.mp4"}, {"path", strFolder}});
        const QJsonObject missingId{{"downloadId", missing.value("downloadId")}};
        QTRY_COMPARE(call(VC_GetDownloadStatus, missingId).value("status"), "failed");
        const QJsonObject failure = call(VC_GetDownloadStatus, missingId).value("failure").toObject();
        QCOMPARE(failure.value("httpStatus"), 404);
        QCOMPARE(failure.value("errorCode"), 3021);

        // An upload posts the file as a form field.
        const QJsonObject upload = call(VC_UploadFile, QJsonObject{{"url", strUrl + "upload"}, {"path", file.fileName()}});
        const QJsonObject uploadId{{"uploadId", upload.value("uploadId")}};
        QTRY_COMPARE(call(VC_GetUploadErrorInfo, uploadId).value("status"), "done");
        QVERIFY(http.baPosted.contains("name=\"file\"; filename=\"video.mp4\""));
        QVERIFY(http.baPosted.contains(http.baPayload));
    }

    void theFileBrowserAnswersTheChoiceAndFoldersOpenOnTheDesktop() {
        const QString strFolder = m_dir.path();
        for (const bool bChoose : {true, false}) {
            QTimer closer;  // the dialog is modal: answer it from the event loop it runs
            // Accepting takes the folder it shows: the one the request named.
            connect(&closer, &QTimer::timeout, [&closer, bChoose] {
                auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (!pDialog) return;
                closer.stop();
                QDialog* pBase = pDialog;  // where accept() is public
                bChoose ? pBase->accept() : pBase->reject();
            });
            closer.start(20);
            QCOMPARE(call(VC_OpenFileBrowser, QJsonObject{{"mode", "folder"}, {"path", strFolder}}).value("path").toString(),
                     bChoose ? QDir::toNativeSeparators(strFolder) : QString());
        }

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QCOMPARE(call(VC_OpenDirectory, QJsonObject{{"path", strFolder}}).value("path").toString(),
                 QDir::toNativeSeparators(strFolder));
        QCOMPARE(call(VC_OpenDirectory, QJsonObject{{"path", "/nonexistent/folder"}}).value("errorCode"), 3011);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(strFolder)});
    }

    void unsupportedFunctionsSaySo() {
        QCOMPARE(call(VC_FishEyePTZ, m_pWidget.get(), {}).value("errorCode"), 3015);
        QCOMPARE(call(VC_StartUpgrade, {}).value("errorCode"), 3015);
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QWidget> m_pWidget;
};

QTEST_MAIN(TestVideoTools)
#include "tst_video_tools.moc"
