// The video library on its own widget (offscreen): the play-window grid,
// live video from the test camera, recording, pause, rate and step,
// reconnection, mouse events, shapes drawn with the mouse, the documented
// errors, settings, protected strings, transfers and the media folders
// every path of a page must stay in. Cameras listen on 28000-28049, the
// transfers' HTTP server on 28060. The user's configuration folder and the
// media folders are temporary ones.
#define QTEST_QPA_MOUSE_HANDLING  // mouse input through the window, as a user's
#include "CameraSimProcess.h"
#include "PreRecordBuffer.h"
#include "video_control.h"
#include "video_control_test.h"

#include <QDateTime>
#include <QDirIterator>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <gst/gst.h>

#include <functional>

#include <sys/resource.h>

namespace {

struct Event {
    VC_EventType eType;
    QWidget* pWidget;
    QJsonObject data;
};
QList<Event> s_events;

void recordEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument* pData) {
    s_events << Event{eType, pWidget, pData->object()};
}

// The number of stream events (type 3) named strEvent so far.
int streamEvents(const QString& strEvent, int iWndIndex = 0) {
    int iCount = 0;
    for (const Event& event : qAsConst(s_events)) {
        if (event.eType == VC_EVENT_NET_STREAM && event.data.value("event").toString() == strEvent &&
            event.data.value("wndIndex").toInt() == iWndIndex)
            ++iCount;
    }
    return iCount;
}

// Calls a command function and returns its result object (released).
template <typename F, typename... A>
QJsonObject call(F function, A... arguments) {
    QJsonDocument* pResult = function(arguments...);
    const QJsonObject result = pResult ? pResult->object() : QJsonObject();
    VC_Release(pResult);
    return result;
}

QJsonObject call(QJsonDocument* (*function)(QWidget*, const QJsonDocument*), QWidget* pWidget,
                 const QJsonObject& request) {
    const QJsonDocument document(request);
    return call(function, pWidget, &document);
}

// The draw events (types 2, 7 and 8) so far.
QList<Event> drawEvents() {
    QList<Event> events;
    for (const Event& event : qAsConst(s_events)) {
        if (event.eType == VC_EVENT_DRAW_CALLBACK || event.eType == VC_EVENT_DRAW_7 || event.eType == VC_EVENT_DRAW_8)
            events << event;
    }
    return events;
}

// Entries of a /proc/self folder: open descriptors ("fd") or threads ("task").
int procEntries(const char* szFolder) {
    return QDir(QStringLiteral("/proc/self/") + QLatin1String(szFolder))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}
int processDescriptors() {
    return procEntries("fd");
}
int processThreads() {
    return procEntries("task");
}

QJsonObject json(const char* szText) {
    return QJsonDocument::fromJson(szText).object();
}

// Numbers rounded to six places, so that computed fractions compare.
QJsonValue rounded(const QJsonValue& value) {
    if (value.isDouble()) return std::round(value.toDouble() * 1e6) / 1e6;
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& item : value.toArray()) array << rounded(item);
        return array;
    }
    if (!value.isObject()) return value;
    QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) *it = rounded(*it);
    return object;
}
#define COMPARE_JSON(actual, expected)             \
    QVERIFY2(rounded(actual) == rounded(expected), \
             QJsonDocument(QJsonArray{actual}).toJson(QJsonDocument::Compact).constData())

qint64 positionOf(QWidget* pWidget, int iWndIndex = 0) {
    return call(VC_QueryPlayStatus, pWidget, QJsonObject{{"wndIndex", iWndIndex}}).value("position").toInt(-1);
}

QJsonObject call(QJsonDocument* (*function)(const QJsonDocument*), const QJsonObject& request) {
    const QJsonDocument document(request);
    return call(function, &document);
}

// Writes a 6 s 25 fps 320x240 H.264 file with a key frame every second.
bool writeTestFile(const QString& strPath) {
    const QByteArray line =
        "videotestsrc num-buffers=150 ! video/x-raw,width=320,height=240,framerate=25/1 ! "
        "x264enc key-int-max=25 speed-preset=ultrafast ! mp4mux ! filesink location=" +
        QFile::encodeName(strPath);
    GstElement* pPipeline = gst_parse_launch(line.constData(), nullptr);
    if (!pPipeline) return false;
    gst_element_set_state(pPipeline, GST_STATE_PLAYING);
    GstBus* pBus = gst_element_get_bus(pPipeline);
    GstMessage* pMessage = gst_bus_timed_pop_filtered(pBus, 30 * GST_SECOND,
                                                      static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool bDone = pMessage && GST_MESSAGE_TYPE(pMessage) == GST_MESSAGE_EOS;
    if (pMessage) gst_message_unref(pMessage);
    gst_object_unref(pBus);
    gst_element_set_state(pPipeline, GST_STATE_NULL);
    gst_object_unref(pPipeline);
    return bDone;
}

// A bare HTTP/1.1 server on 127.0.0.1:28060: GET /video.mp4 serves the
// payload from the Range header's start (the first answer, or every one,
// stops after iHoldAt bytes and waits); GET /to?<target> redirects there,
// GET /loop to itself; a POST is kept whole in baPosted; anything else is
// 404.
struct HttpServer {
    QTcpServer server;
    QByteArray baPayload;
    int iHoldAt = -1;
    bool bHoldEvery = false;  // every answer stops there, not only the first
    QByteArrayList ranges;    // the Range header of each GET, empty without one
    QByteArray baPosted;      // the body of the last POST

    bool listen() {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* pSocket = server.nextPendingConnection();
            QObject::connect(pSocket, &QTcpSocket::readyRead, pSocket, [this, pSocket] { onData(pSocket); });
            QObject::connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
        });
        return server.listen(QHostAddress::LocalHost, 28060);
    }
    void onData(QTcpSocket* pSocket) {
        const QByteArray baRequest = pSocket->property("request").toByteArray() + pSocket->readAll();
        pSocket->setProperty("request", baRequest);
        const int iEnd = baRequest.indexOf("\r\n\r\n");
        if (iEnd < 0) return;  // not all there yet
        QByteArray baRange;
        int iLength = 0;
        for (const QByteArray& baLine : baRequest.left(iEnd).split('\n')) {
            if (baLine.toLower().startsWith("range:")) baRange = baLine.mid(6).trimmed();
            if (baLine.toLower().startsWith("content-length:")) iLength = baLine.mid(15).trimmed().toInt();
        }
        if (baRequest.size() < iEnd + 4 + iLength) return;  // the body is not all there yet
        QByteArray baHead = "404 Not Found\r\nContent-Length: 0\r\n";
        QByteArray baBody;
        const QByteArray baTarget = baRequest.mid(4, baRequest.indexOf(' ', 4) - 4);
        if (baRequest.startsWith("POST ")) {
            baPosted = baRequest.mid(iEnd + 4);
            baHead = "200 OK\r\nContent-Length: 0\r\n";
        } else if (baTarget == "/loop" || baTarget.startsWith("/to?")) {
            baHead = "302 Found\r\nLocation: " + (baTarget == "/loop" ? baTarget : baTarget.mid(4)) +
                     "\r\nContent-Length: 0\r\n";
        } else if (baTarget == "/video.mp4") {
            ranges << baRange;
            const int iFrom = baRange.startsWith("bytes=") ? baRange.mid(6, baRange.indexOf('-') - 6).toInt() : 0;
            baBody = baPayload.mid(iFrom);
            baHead = (iFrom ? "206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(iFrom) + '-' +
                                  QByteArray::number(baPayload.size() - 1) + '/' + QByteArray::number(baPayload.size())
                            : QByteArray("200 OK")) +
                     "\r\nContent-Length: " + QByteArray::number(baBody.size()) + "\r\n";
        }
        pSocket->write("HTTP/1.1 " + baHead + "Connection: close\r\n\r\n");
        if (iHoldAt >= 0 && !baBody.isEmpty()) {
            pSocket->write(baBody.left(bHoldEvery ? iHoldAt : std::exchange(iHoldAt, -1)));
            return;
        }
        pSocket->write(baBody);
        pSocket->disconnectFromHost();
    }
};

}  // namespace

class TestVideoControl : public QObject {
    Q_OBJECT

private:
    // A shown (exposed) video widget with the library on it and one play window.
    std::unique_ptr<QWidget> makeWidget(const char* szLayout = "[[{}]]") {
        auto pWidget = std::make_unique<QWidget>();
        pWidget->resize(640, 360);
        pWidget->show();
        VC_Release(VC_Initialize(pWidget.get()));
        const QJsonDocument layout = QJsonDocument::fromJson(szLayout);
        VC_Release(VC_SetLayout(pWidget.get(), &layout));
        // Mouse input goes through the window: it must be exposed.
        if (!QTest::qWaitForWindowExposed(pWidget.get())) qWarning("the video widget was not exposed");
        return pWidget;
    }
    // Presses at the first point, moves through the others and releases at
    // the last.
    static void drag(QWidget* pPlayWindow, const QVector<QPoint>& points) {
        QTest::mousePress(pPlayWindow, Qt::LeftButton, Qt::NoModifier, points.first());
        for (const QPoint& pt : points) QTest::mouseMove(pPlayWindow, pt);
        QTest::mouseRelease(pPlayWindow, Qt::LeftButton, Qt::NoModifier, points.last());
    }

private slots:
    // A media folder, or a path in it.
    QString media(const char* szFolder, const QString& strPath = QString()) const {
        return QDir::cleanPath(m_folder.filePath(QLatin1String(szFolder)) + '/' + strPath);
    }
    // Every file and folder under the folders pages must not reach.
    QStringList outsideFiles() const {
        QStringList files;
        for (const char* szFolder : {"outside", "home"}) {
            QDirIterator it(m_folder.filePath(szFolder), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) files << it.next();
        }
        return files;
    }
private slots:
    void initTestCase() {
        QVERIFY(m_folder.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.filePath("config")));
        VC_Release(VC_Initialize(nullptr));
        const QJsonDocument folders(QJsonObject{
            {"snapshots", media("snapshots")}, {"recordings", media("recordings")}, {"downloads", media("downloads")}});
        QCOMPARE(call(VC_SetMediaFolders, &folders), QJsonObject());
        // What pages must not reach: files outside, a home with dot files, a
        // link from the downloads folder out, a hidden folder inside.
        for (const char* szFolder : {"outside", "home/.ssh", "downloads/.hidden", "recordings", "snapshots"})
            QVERIFY(QDir().mkpath(m_folder.filePath(szFolder)));
        for (const char* szFile : {"outside/secret.mp4", "outside/chosen.mp4", "home/.bashrc", "home/.ssh/id_rsa",
                                   "downloads/taken.txt", "snapshots/shot.png"}) {
            QFile file(m_folder.filePath(szFile));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not for pages");
        }
        QVERIFY(QFile::link(m_folder.filePath("outside"), media("downloads", "link")));
    }

    void init() {
        VC_Test_Reset();
        s_events.clear();
        for (int iType : {0, 1, 2, 3, 5, 7, 8}) VC_InstallEventCallback(static_cast<VC_EventType>(iType), recordEvent);
    }

    void layoutsAndHiddenWindows_data() {
        QTest::addColumn<QByteArray>("layout");
        QTest::addColumn<int>("iCount");
        QTest::addColumn<int>("iFirstRowWidth");  // width of window 0 with window 1 hidden
        QTest::newRow("one") << QByteArray("[[{}]]") << 1 << 640;
        QTest::newRow("two by two") << QByteArray("[[{},{}],[{},{}]]") << 4 << 640;
        QTest::newRow("uneven rows") << QByteArray("[[{},{},{}],[{}]]") << 4 << 320;
        QTest::newRow("count 9") << QByteArray("{\"layout\":9}") << 9 << 320;
        QTest::newRow("count 6") << QByteArray("{\"layout\":6}") << 6 << 320;
        QTest::newRow("no cells") << QByteArray("[[]]") << 1 << 640;
        QTest::newRow("rows not arrays") << QByteArray("[1,2]") << 1 << 640;
        QTest::newRow("too many") << QByteArray("{\"layout\":65}") << 1 << 640;
    }
    void layoutsAndHiddenWindows() {
        QFETCH(QByteArray, layout);
        QFETCH(int, iCount);
        QFETCH(int, iFirstRowWidth);
        auto pWidget = makeWidget();
        const QJsonDocument document = QJsonDocument::fromJson(layout);
        const QJsonObject result = call(VC_SetLayout, pWidget.get(), &document);
        QCOMPARE(VC_WindowCount(pWidget.get()), iCount);
        // A layout the library cannot use changes nothing and says why.
        QCOMPARE(result.value("errorCode").toInt(), iCount == 1 && layout != "[[{}]]" ? 3001 : 0);

        VC_HideWindow(pWidget.get(), 1);
        QCOMPARE(VC_IsWindowHidden(pWidget.get(), 1), iCount > 1);
        VC_Test_SetWindowPlaying(pWidget.get(), 1, true);
        QCOMPARE(VC_IsWindowPlaying(pWidget.get(), 1), iCount > 1);
        QWidget* pFirst = pWidget->childAt(5, 5);
        QVERIFY(pFirst);
        QCOMPARE(pFirst->width(), iFirstRowWidth);
        // The grid follows the widget's size (as in full screen).
        pWidget->resize(1280, 720);
        QCOMPARE(pWidget->childAt(5, 5)->width(), iFirstRowWidth * 2);
        VC_ShowWindow(pWidget.get(), 1);
        QVERIFY(!VC_IsWindowHidden(pWidget.get(), 1));
        QVERIFY(!VC_IsWindowHidden(pWidget.get(), 99));
    }

    void clicksSelectAndDoubleClicksRaiseThePlayWindowEvent() {
        auto pWidget = makeWidget("[[{},{}],[{},{}]]");
        QWidget* pFourth = pWidget->childAt(480, 270);
        QVERIFY(pFourth);
        QTest::mouseClick(pFourth, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
        QTRY_VERIFY(std::any_of(s_events.begin(), s_events.end(), [&](const Event& event) {
            return event.eType == VC_EVENT_WINDOW_SELECTED && event.pWidget == pWidget.get() &&
                   event.data.value("wndIndex") == 3;
        }));
        QCOMPARE(call(VC_QueryPlayStatus, pWidget.get(), QJsonObject()).value("wndIndex").toInt(), 3);
        QTRY_VERIFY(std::any_of(s_events.begin(), s_events.end(), [](const Event& event) {
            return event.eType == VC_EVENT_MOUSE && event.data.value("type") == "release" &&
                   event.data.value("x") == 10 && event.data.value("y") == 20 && event.data.value("wndIndex") == 3;
        }));

        s_events.clear();
        QTest::mouseDClick(pWidget->childAt(100, 270), Qt::LeftButton);
        QTRY_VERIFY(std::any_of(s_events.begin(), s_events.end(), [](const Event& event) {
            return event.eType == VC_EVENT_PLAY_WINDOW && event.data.value("wndIndex") == 2;
        }));
    }

    void aDraggedRectangleIsReportedReadBackAndMoved() {
        auto pWidget = makeWidget();
        QCOMPARE(call(VC_SetDrawStatus, pWidget.get(), json(R"({"type":"rect"})")).value("enable"), true);
        drag(pWidget->childAt(5, 5), {{64, 36}, {200, 100}, {320, 180}});
        QTRY_COMPARE(drawEvents().size(), 1);
        const QJsonObject drawn = json(R"({"id":1,"x":0.1,"y":0.1,"width":0.4,"height":0.4})");
        QJsonObject expected = drawn;
        expected.insert("type", "rect");
        expected.insert("wndIndex", 0);
        QCOMPARE(drawEvents()[0].eType, VC_EVENT_DRAW_CALLBACK);
        COMPARE_JSON(drawEvents()[0].data, expected);
        COMPARE_JSON(call(VC_GetRectInfo, pWidget.get(), QJsonObject()).value("rects"), QJsonArray{drawn});

        // Dragging it moves it (type 7); the same in a resized window.
        pWidget->resize(1280, 720);
        drag(pWidget->childAt(5, 5), {{400, 300}, {528, 372}});
        QTRY_COMPARE(drawEvents().size(), 2);
        const Event moved = drawEvents()[1];
        QCOMPARE(moved.eType, VC_EVENT_DRAW_7);
        QCOMPARE(moved.data.value("action"), "moved");
        COMPARE_JSON(moved.data.value("x"), 0.2);
        COMPARE_JSON(moved.data.value("y"), 0.2);
    }

    void aPolygonClosesOnADoubleClick() {
        auto pWidget = makeWidget();
        QWidget* pPlayWindow = pWidget->childAt(5, 5);
        call(VC_SetDrawStatus, pWidget.get(), json(R"({"type":"polygon"})"));
        for (const QPoint& pt : {QPoint(64, 36), QPoint(320, 36), QPoint(320, 180)})
            QTest::mouseClick(pPlayWindow, Qt::LeftButton, Qt::NoModifier, pt);
        QTest::qWait(50);
        QVERIFY(drawEvents().isEmpty());
        QTest::mouseDClick(pPlayWindow, Qt::LeftButton, Qt::NoModifier, QPoint(64, 180));
        QTRY_COMPARE(drawEvents().size(), 1);
        const QJsonArray corners = QJsonDocument::fromJson(R"([{"x":0.1,"y":0.1},{"x":0.5,"y":0.1},
            {"x":0.5,"y":0.5},{"x":0.1,"y":0.5}])")
                                       .array();
        QCOMPARE(drawEvents()[0].eType, VC_EVENT_DRAW_CALLBACK);
        COMPARE_JSON(drawEvents()[0].data.value("points"), corners);
        const QJsonArray polygons = call(VC_GetPolygonInfo, pWidget.get(), QJsonObject()).value("polygons").toArray();
        QCOMPARE(polygons.size(), 1);
        COMPARE_JSON(polygons[0].toObject().value("points"), corners);
    }

    void aGridIsToggledByDragging() {
        auto pWidget = makeWidget();
        QCOMPARE(call(VC_SetGridInfo, pWidget.get(), json(R"({"rows":4,"columns":4})")).value("cells"),
                 QJsonArray({"0000", "0000", "0000", "0000"}));
        call(VC_SetDrawStatus, pWidget.get(), json(R"({"type":"grid"})"));
        // Along the first row: all on; down the second column from a cell
        // that is on: all off.
        drag(pWidget->childAt(5, 5), {{40, 45}, {600, 45}});
        QTRY_COMPARE(drawEvents().size(), 1);
        QCOMPARE(drawEvents()[0].data,
                 json(R"({"type":"grid","wndIndex":0,"rows":4,"columns":4,"cells":["1111","0000","0000","0000"]})"));
        drag(pWidget->childAt(5, 5), {{200, 45}, {200, 315}});
        QTRY_COMPARE(drawEvents().size(), 2);
        QCOMPARE(call(VC_GetGridInfo, pWidget.get()).value("cells"), QJsonArray({"1011", "0000", "0000", "0000"}));
    }

    void badRequestsAnswerTheDocumentedErrors_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("iErrorCode");
        QTest::newRow("no url") << QByteArray("{}") << 3002;
        QTest::newRow("unsupported scheme") << QByteArray("{\"url\":\"ftp://127.0.0.1/a.mp4\"}") << 3002;
        QTest::newRow("no host") << QByteArray("{\"url\":\"rtsp:///live\"}") << 3002;
        QTest::newRow("missing file") << QByteArray("{\"url\":\"missing/a.mp4\"}") << 3006;
        QTest::newRow("not a url") << QByteArray("{\"url\":\"not a url\"}") << 3002;
        QTest::newRow("no such window") << QByteArray("{\"url\":\"rtsp://127.0.0.1/a\",\"wndIndex\":4}") << 3003;
    }
    void badRequestsAnswerTheDocumentedErrors() {
        QFETCH(QByteArray, request);
        QFETCH(int, iErrorCode);
        auto pWidget = makeWidget();
        const QJsonObject result = call(VC_Play, pWidget.get(), QJsonDocument::fromJson(request).object());
        QCOMPARE(result.value("errorCode").toInt(), iErrorCode);
        QCOMPARE(result.value("errorModule").toString(), QStringLiteral("video_control"));
        QVERIFY(!VC_IsWindowPlaying(pWidget.get(), 0));
    }

    void stateErrors() {
        auto pWidget = makeWidget();
        QCOMPARE(call(VC_Pause, pWidget.get(), QJsonObject()).value("errorCode").toInt(), 3004);
        QCOMPARE(call(VC_StopSave, pWidget.get(), QJsonObject()).value("errorCode").toInt(), 3012);
        QCOMPARE(call(VC_Snapshot, pWidget.get(), QJsonObject()).value("errorCode").toInt(), 3004);
        QWidget bare;
        QCOMPARE(call(VC_Play, &bare, QJsonObject{{"url", "rtsp://127.0.0.1/a"}}).value("errorCode").toInt(), 3014);
    }

    void liveCameraShowsTheTestPicture_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("strCodec");
        QTest::addColumn<int>("iTolerance");  // sum of the three channels' differences
        QTest::newRow("H.264") << QStringList() << QStringLiteral("H.264") << 40;
        QTest::newRow("H.265") << QStringList{"--codec", "h265"} << QStringLiteral("H.265") << 40;
        // The camera's JPEG pictures carry video-range levels: white is 234.
        QTest::newRow("MJPEG with sound")
            << QStringList{"--codec", "mjpeg", "--audio"} << QStringLiteral("MJPEG") << 80;
    }
    void liveCameraShowsTheTestPicture() {
        QFETCH(QStringList, flags);
        QFETCH(QString, strCodec);
        QFETCH(int, iTolerance);
        CameraSimProcess camera(CAMERA_SIM_BIN, 28000);
        QVERIFY(camera.start(QStringList{"--size", "640x360"} + flags));
        auto pWidget = makeWidget();
        QCOMPARE(call(VC_Play, pWidget.get(), QJsonObject{{"url", camera.url()}}).value("wndIndex").toInt(), 0);
        QVERIFY(VC_IsWindowPlaying(pWidget.get(), 0));
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents("firstFrame"), 1, 10000);
        QCOMPARE(streamEvents("connected"), 1);
        // Joining a live stream can start in the middle of a key frame; the
        // next one (a second later) makes the whole picture.
        const qint64 iFirst = positionOf(pWidget.get());
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(pWidget.get()) > iFirst + 1200, 5000);

        const QJsonObject status = call(VC_QueryPlayStatus, pWidget.get(), QJsonObject());
        QCOMPARE(status.value("codec").toString(), strCodec);
        QCOMPARE(status.value("width").toInt(), 640);
        // The decoder that plays is the one the engine names for the codec.
        QVERIFY(!status.value("decoder").toString().isEmpty());
        QCOMPARE(status.value("decoder"), call(VC_GetEngineSupport, QJsonObject())
                                              .value("decoders")
                                              .toObject()
                                              .value(strCodec)
                                              .toObject()
                                              .value("element"));
        // Without a sound device sound still opens.
        QCOMPARE(call(VC_OpenSound, pWidget.get(), QJsonObject()).value("errorCode").toInt(), 0);
        QCOMPARE(status.value("state").toString(), QStringLiteral("playing"));
        QCOMPARE(call(VC_FrameForward, pWidget.get(), QJsonObject()).value("errorCode").toInt(), 3005);

        // The colour bars of the test picture, left to right, at a third of
        // the height: white, yellow, cyan, green, magenta, red, blue; at the
        // stream's size, scaled in the pipeline while it plays, and back.
        const QRgb kBars[] = {qRgb(255, 255, 255), qRgb(255, 255, 0), qRgb(0, 255, 255), qRgb(0, 255, 0),
                              qRgb(255, 0, 255),   qRgb(255, 0, 0),   qRgb(0, 0, 255)};
        for (const QSize& size : {QSize(640, 360), QSize(320, 180), QSize(640, 360)}) {
            const bool bNative = size.width() == 640;
            call(VC_SetWndResolution, pWidget.get(),
                 QJsonObject{{"width", bNative ? 0 : size.width()}, {"height", bNative ? 0 : size.height()}});
            QImage picture;
            QTRY_COMPARE_WITH_TIMEOUT(
                (picture = QImage(call(VC_Snapshot, pWidget.get(), QJsonObject()).value("path").toString())).size(),
                size, 5000);
            for (int iBar = 0; iBar < 7; ++iBar) {
                const QRgb pixel = picture.pixel((2 * iBar + 1) * size.width() / 14, size.height() / 3);
                const int iDistance = qAbs(qRed(pixel) - qRed(kBars[iBar])) +
                                      qAbs(qGreen(pixel) - qGreen(kBars[iBar])) +
                                      qAbs(qBlue(pixel) - qBlue(kBars[iBar]));
                QVERIFY2(
                    iDistance < iTolerance,
                    qPrintable(QStringLiteral("%1 wide, bar %2: %3").arg(size.width()).arg(iBar).arg(pixel, 8, 16)));
            }
        }
        QVERIFY(call(VC_Snapshot, pWidget.get(), QJsonObject())
                    .value("path")
                    .toString()
                    .startsWith(media("snapshots") + '/'));

        // The library's state goes with the widget, also while it plays.
        QWidget* pGone = pWidget.get();
        pWidget.reset();
        QCOMPARE(VC_WindowCount(pGone), 0);
    }

    void credentialsAndUnreachableCameras_data() {
        QTest::addColumn<QString>("strUserInfo");
        QTest::addColumn<QJsonObject>("keys");
        QTest::addColumn<QString>("strUrl");  // empty: the camera's
        QTest::addColumn<int>("iErrorCode");  // 0: it plays
        QTest::newRow("in the url") << "viewer:s%40cret@" << QJsonObject() << "" << 0;
        QTest::newRow("as keys") << "" << QJsonObject{{"username", "viewer"}, {"password", "s@cret"}} << "" << 0;
        QTest::newRow("wrong") << "viewer:guess@" << QJsonObject() << "" << 3007;
        QTest::newRow("unreachable") << "viewer:guess@" << QJsonObject() << "rtsp://127.0.0.1:28049/live" << 3006;
    }
    void credentialsAndUnreachableCameras() {
        QFETCH(QString, strUserInfo);
        QFETCH(QJsonObject, keys);
        QFETCH(QString, strUrl);
        QFETCH(int, iErrorCode);
        CameraSimProcess camera(CAMERA_SIM_BIN, 28003);
        QVERIFY(camera.start({"--size", "320x240", "--user", "viewer", "--password", "s@cret"}));
        auto pWidget = makeWidget();
        QJsonObject request = keys;
        request.insert("url", (strUrl.isEmpty() ? camera.url() : strUrl).replace("rtsp://", "rtsp://" + strUserInfo));
        call(VC_Play, pWidget.get(), request);
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents(iErrorCode ? "error" : "firstFrame"), 1, 15000);
        if (iErrorCode) {
            // The error, then the tile's stop.
            QCOMPARE(s_events.last().data.value("reason").toString(), QStringLiteral("error"));
            QCOMPARE(s_events[s_events.size() - 2].data.value("errorCode").toInt(), iErrorCode);
        }
        QCOMPARE(VC_IsWindowPlaying(pWidget.get(), 0), !iErrorCode);
        QVERIFY(!call(VC_QueryPlayStatus, pWidget.get(), QJsonObject()).value("url").toString().contains("viewer"));
    }

    // A recording of a live stream starts with its pre-record buffer: the
    // file's first picture (the capture time the camera stamps into it) is
    // from before the request, by the pre-record time and at most one group
    // of pictures (1 s) and the stream's delay more; without the buffer it
    // is the next key frame. The file, in the folder asked for, is complete
    // when the stop is answered, as long as the answer says.
    void aRecordingStartsBeforeItsRequest_data() {
        QTest::addColumn<int>("iSeconds");  // "preRecordSeconds"
        QTest::addColumn<QString>("strFormat");
        QTest::addColumn<int>("iMinAgeMs");  // the first picture's age at the request
        QTest::addColumn<int>("iMaxAgeMs");
        QTest::newRow("2 s, mp4") << 2 << QStringLiteral("mp4") << 1800 << 4500;
        QTest::newRow("2 s, matroska") << 2 << QStringLiteral("mkv") << 1800 << 4500;
        QTest::newRow("off") << 0 << QStringLiteral("mp4") << -1500 << 300;
    }
    void aRecordingStartsBeforeItsRequest() {
        QFETCH(int, iSeconds);
        QFETCH(QString, strFormat);
        QFETCH(int, iMinAgeMs);
        QFETCH(int, iMaxAgeMs);
        QCOMPARE(call(VC_SetLocalConfig, QJsonObject{{"preRecordSeconds", iSeconds}}), QJsonObject());
        const auto restore = qScopeGuard([] {
            call(VC_SetLocalConfig, QJsonObject{{"preRecordSeconds", QJsonValue()}});
        });
        CameraSimProcess camera(CAMERA_SIM_BIN, 28012);
        QVERIFY(camera.start({"--size", "640x360", "--stamp"}));  // a key frame every second
        auto pWidget = makeWidget();
        call(VC_Play, pWidget.get(), QJsonObject{{"url", camera.url()}});
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents("firstFrame"), 1, 10000);
        const qint64 iFirst = positionOf(pWidget.get());
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(pWidget.get()) > iFirst + 1000 * iSeconds + 1500, 10000);

        const qint64 iRequestUs = QDateTime::currentMSecsSinceEpoch() * 1000;
        const QString strPath = call(VC_StartSave, pWidget.get(), QJsonObject{{"path", "clips"}, {"format", strFormat}})
                                    .value("path")
                                    .toString();
        QVERIFY2(strPath.startsWith(media("recordings", "clips") + '/') && strPath.endsWith('.' + strFormat),
                 qPrintable(strPath));
        const auto recorded = [&] {
            return call(VC_QueryPlayStatus, pWidget.get(), QJsonObject()).value("recordDuration").toInt();
        };
        QTRY_VERIFY_WITH_TIMEOUT(recorded() >= 1000 * iSeconds + 1000, 10000);
        const int iRecordedMs = recorded();
        const QJsonObject stopped = call(VC_StopSave, pWidget.get(), QJsonObject());
        QCOMPARE(stopped.value("path").toString(), strPath);
        const int iDurationMs = stopped.value("duration").toInt();
        QVERIFY2(iDurationMs >= iRecordedMs - 80 && iDurationMs <= iRecordedMs + 400,
                 qPrintable(QStringLiteral("%1 ms, %2 when asked").arg(iDurationMs).arg(iRecordedMs)));

        // The first picture of the file, at its start, and the file's length.
        const QByteArray line = "filesrc location=" + QFile::encodeName(stopped.value("path").toString()) +
                                " ! decodebin ! videoconvert ! video/x-raw,format=GRAY8 ! appsink name=sink";
        GstElement* pPipeline = gst_parse_launch(line.constData(), nullptr);
        QVERIFY(pPipeline);
        const auto release = qScopeGuard([pPipeline] {
            gst_element_set_state(pPipeline, GST_STATE_NULL);
            gst_object_unref(pPipeline);
        });
        gst_element_set_state(pPipeline, GST_STATE_PAUSED);
        QCOMPARE(gst_element_get_state(pPipeline, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
        gint64 iLengthNs = -1;
        QVERIFY(gst_element_query_duration(pPipeline, GST_FORMAT_TIME, &iLengthNs));
        QVERIFY2(qAbs(iLengthNs / 1000000 - stopped.value("duration").toInt()) <= 80,
                 qPrintable(QStringLiteral("%1 ms long, %2 recorded")
                                .arg(iLengthNs / 1000000)
                                .arg(stopped.value("duration").toInt())));
        GstElement* pSink = gst_bin_get_by_name(GST_BIN(pPipeline), "sink");
        GstSample* pSample = nullptr;
        g_signal_emit_by_name(pSink, "pull-preroll", &pSample);
        gst_object_unref(pSink);
        QVERIFY(pSample);
        GstMapInfo map;
        GstBuffer* pBuffer = gst_sample_get_buffer(pSample);
        QVERIFY(gst_buffer_map(pBuffer, &map, GST_MAP_READ));
        QVERIFY(GST_BUFFER_PTS(pBuffer) < 100 * GST_MSECOND);
        // The stamp: 40 blocks of 16x16 pixels along the top, white a one.
        qint64 iStampUs = 0;
        for (int iBit = 0; iBit < 40; ++iBit) iStampUs = (iStampUs << 1) | (map.data[8 * 640 + iBit * 16 + 8] > 128);
        gst_buffer_unmap(pBuffer, &map);
        gst_sample_unref(pSample);
        // It holds the low 40 bits of the camera's clock (the same machine's).
        constexpr qint64 kStampSpan = 1ll << 40;
        qint64 iAgeMs = ((iRequestUs % kStampSpan - iStampUs + kStampSpan) % kStampSpan) / 1000;
        if (iAgeMs > kStampSpan / 2000) iAgeMs -= kStampSpan / 1000;
        QVERIFY2(iAgeMs >= iMinAgeMs && iAgeMs <= iMaxAgeMs, qPrintable(QString::number(iAgeMs)));
    }

    // The pre-record buffer alone, fed 25 pictures a second (a key frame
    // every iGroup) of iBytes each from the iFirst-th on (the iUntimed-th
    // without a presentation time): what it keeps
    // before its newest picture starts at a key frame, at the time the
    // setting and the byte cap allow, and never holds more than the cap.
    void preRecordBufferKeepsWholeGroupsWithinItsBounds_data() {
        QTest::addColumn<int>("iSeconds");
        QTest::addColumn<int>("iGroup");
        QTest::addColumn<int>("iBytes");
        QTest::addColumn<int>("iFirst");
        QTest::addColumn<int>("iUntimed");
        QTest::addColumn<int>("iFirstKeptMs");  // -1: nothing kept
        // The newest picture is the 200th, at 7960 ms.
        QTest::newRow("2 s: from the key frame at or before 5960 ms") << 2 << 25 << 1000 << 0 << -1 << 5000;
        QTest::newRow("key frame just at 5960 ms") << 2 << 149 << 1000 << 0 << -1 << 5960;
        QTest::newRow("joined between key frames") << 30 << 25 << 1000 << 10 << -1 << 1000;
        QTest::newRow("over the cap: groups go from the front") << 5 << 25 << 20000 << 0 << -1 << 7000;
        QTest::newRow("one group larger than the cap") << 5 << 250 << 20000 << 0 << -1 << -1;
        QTest::newRow("a picture without a time: from the next key frame") << 30 << 25 << 1000 << 0 << 160 << 7000;
        QTest::newRow("off") << 0 << 25 << 1000 << 0 << -1 << -1;
    }
    void preRecordBufferKeepsWholeGroupsWithinItsBounds() {
        QFETCH(int, iSeconds);
        QFETCH(int, iGroup);
        QFETCH(int, iBytes);
        QFETCH(int, iFirst);
        QFETCH(int, iUntimed);
        QFETCH(int, iFirstKeptMs);
        constexpr qint64 kCap = 1000000;
        vc::PreRecordBuffer buffer(iSeconds, kCap);
        vc::GstPtr<GstBuffer> pNewest;
        for (int i = iFirst; i < 200; ++i) {
            pNewest.reset(gst_buffer_new_allocate(nullptr, iBytes, nullptr));
            GST_BUFFER_PTS(pNewest.get()) = i == iUntimed ? GST_CLOCK_TIME_NONE : i * 40 * GST_MSECOND;
            GST_BUFFER_DTS(pNewest.get()) = i * 40 * GST_MSECOND;
            if (i % iGroup) GST_BUFFER_FLAG_SET(pNewest.get(), GST_BUFFER_FLAG_DELTA_UNIT);
            buffer.add(pNewest.get());
            QVERIFY(buffer.bytes() <= kCap);
        }
        QVERIFY(buffer.before(nullptr).empty());  // not the newest picture: no run to join
        const std::vector<vc::GstPtr<GstBuffer>> kept = buffer.before(pNewest.get());
        if (iFirstKeptMs < 0) {
            QVERIFY(kept.empty());
            return;
        }
        QVERIFY(!kept.empty());
        QVERIFY(!GST_BUFFER_FLAG_IS_SET(kept.front().get(), GST_BUFFER_FLAG_DELTA_UNIT));
        QCOMPARE(qint64(GST_BUFFER_PTS(kept.front().get()) / GST_MSECOND), qint64(iFirstKeptMs));
        // Every picture from there up to the newest, in order.
        QCOMPARE(int(kept.size()), (7960 - iFirstKeptMs) / 40);
        QCOMPARE(qint64(GST_BUFFER_PTS(kept.back().get()) / GST_MSECOND), qint64(7920));
    }

    void pauseRateAndStepOnAFile() {
        const QString strFile = media("recordings", "six-seconds.mp4");
        QVERIFY(writeTestFile(strFile));
        auto pWidget = makeWidget();
        QWidget* pVideo = pWidget.get();
        call(VC_Play, pVideo, QJsonObject{{"url", QUrl::fromLocalFile(strFile).toString()}});
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(pVideo) >= 400, 10000);

        QCOMPARE(call(VC_Pause, pVideo, QJsonObject()).value("errorCode").toInt(), 0);
        QCOMPARE(call(VC_QueryPlayStatus, pVideo, QJsonObject()).value("state").toString(), QStringLiteral("paused"));
        // Pausing shows one more picture (the one the pipeline holds), then
        // none: nothing may move for a while.
        QTest::qWait(300);
        const qint64 iPaused = positionOf(pVideo);
        QTest::qWait(300);
        QCOMPARE(positionOf(pVideo), iPaused);

        // Each step shows the next picture: 40 ms later.
        for (int iStep = 1; iStep <= 3; ++iStep) {
            QCOMPARE(call(VC_FrameForward, pVideo, QJsonObject()).value("errorCode").toInt(), 0);
            QTRY_COMPARE(positionOf(pVideo), iPaused + 40 * iStep);
        }

        // Twice as fast: the position moves about twice as fast as the clock.
        QCOMPARE(call(VC_Fast, pVideo, QJsonObject()).value("rate").toDouble(), 2.0);
        QCOMPARE(call(VC_Resume, pVideo, QJsonObject()).value("errorCode").toInt(), 0);
        QTRY_VERIFY(positionOf(pVideo) > iPaused + 200);
        const qint64 iFrom = positionOf(pVideo);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(pVideo) >= iFrom + 1600, 5000);
        const double dSpeed = static_cast<double>(positionOf(pVideo) - iFrom) / clock.elapsed();
        QVERIFY2(dSpeed > 1.5 && dSpeed < 2.6, qPrintable(QString::number(dSpeed)));

        // Backwards, where the file allows it.
        const qint64 iForward = positionOf(pVideo);
        QCOMPARE(call(VC_ReversePlay, pVideo, QJsonObject()).value("rate").toDouble(), -2.0);
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(pVideo) < iForward - 200, 5000);

        // "fast", "slow" and "resume" play forwards again.
        for (const auto pfnForward : {VC_Fast, VC_Slow, VC_Resume}) {
            QCOMPARE(call(VC_ReversePlay, pVideo, QJsonObject()).value("rate").toDouble() < 0, true);
            QCOMPARE(call(pfnForward, pVideo, QJsonObject{{"rate", 1}}).value("rate").toDouble(), 1.0);
            const qint64 iTurned = positionOf(pVideo);
            QTRY_VERIFY_WITH_TIMEOUT(positionOf(pVideo) > iTurned + 200, 5000);
        }
        // A range set during reverse play runs from its end down to its start.
        call(VC_ReversePlay, pVideo, QJsonObject());
        call(VC_SetTrsPlayBackParam, pVideo, QJsonObject{{"startTime", 2000}, {"endTime", 3000}});
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents("ended"), 1, 10000);
        QVERIFY2(qAbs(positionOf(pVideo) - 2000) <= 80, qPrintable(QString::number(positionOf(pVideo))));
    }

    // What streams hold goes back when they end: their descriptors exactly,
    // their threads (GStreamer's idle pool threads may linger a while).
    void streamsGiveBackDescriptorsAndThreads_data() {
        QTest::addColumn<QByteArray>("layout");
        QTest::addColumn<QString>("strEnd");  // "stop", "close" (the widget goes) or "drop" (reconnects, then stop)
        QTest::newRow("play and stop") << QByteArray("[[{},{}],[{},{}]]") << "stop";
        QTest::newRow("widget closed while playing") << QByteArray("[[{},{}]]") << "close";
        QTest::newRow("camera killed and restarted") << QByteArray("[[{},{}]]") << "drop";
    }
    void streamsGiveBackDescriptorsAndThreads() {
        QFETCH(QByteArray, layout);
        QFETCH(QString, strEnd);
        auto pCamera = std::make_unique<CameraSimProcess>(CAMERA_SIM_BIN, 28004);
        QVERIFY(pCamera->start({"--size", "320x240", "--gop", "5"}));
        const QString strUrl = pCamera->url();
        const auto cycle = [&]() {
            s_events.clear();
            auto pWidget = makeWidget(layout.constData());
            const int iWindows = VC_WindowCount(pWidget.get());
            call(VC_SetReconnectInfo, pWidget.get(),
                 QJsonObject{{"interval", 100}, {"maxInterval", 400}, {"timeout", 500}});
            for (int i = 0; i < iWindows; ++i)
                call(VC_Play, pWidget.get(), QJsonObject{{"url", strUrl}, {"wndIndex", i}});
            for (int i = 0; i < iWindows; ++i) QTRY_COMPARE_WITH_TIMEOUT(streamEvents("firstFrame", i), 1, 15000);
            if (strEnd == "drop") {
                pCamera.reset(new CameraSimProcess(CAMERA_SIM_BIN, 28004));
                QVERIFY(pCamera->start({"--size", "320x240", "--gop", "5"}));
                for (int i = 0; i < iWindows; ++i) QTRY_COMPARE_WITH_TIMEOUT(streamEvents("firstFrame", i), 2, 15000);
            }
            if (strEnd != "close") call(VC_StopRealPlayAll, pWidget.get());
        };
        // The first streams load what stays loaded (plugins, the clock).
        cycle();
        const int iDescriptors = processDescriptors();
        const int iThreads = processThreads();
        for (int i = 0; i < 2 && !QTest::currentTestFailed(); ++i) cycle();
        QCOMPARE(processDescriptors(), iDescriptors);
        QTRY_VERIFY2_WITH_TIMEOUT(
            processThreads() <= iThreads,
            qPrintable(QStringLiteral("%1 threads, %2 before").arg(processThreads()).arg(iThreads)), 20000);
    }

    // New work is refused before a limit is reached, and admitted again once
    // there is room.
    void admissionRefusesNearALimit_data() {
        QTest::addColumn<QString>("strWork");    // "play" or "download"
        QTest::addColumn<bool>("bDescriptors");  // near the descriptor limit, else 64 windows play
        QTest::addColumn<int>("iErrorCode");
        QTest::newRow("65th playing window") << "play" << false << 3022;
        QTest::newRow("play near the descriptor limit") << "play" << true << 3023;
        QTest::newRow("download near the descriptor limit") << "download" << true << 3023;
    }
    void admissionRefusesNearALimit() {
        QFETCH(QString, strWork);
        QFETCH(bool, bDescriptors);
        QFETCH(int, iErrorCode);
        auto pFull = makeWidget(R"({"layout": 64})");
        auto pWidget = makeWidget();
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        const auto setRoom = [&](bool bRoom) {
            if (bDescriptors) {
                rlimit limit = saved;
                if (!bRoom) limit.rlim_cur = static_cast<rlim_t>(processDescriptors() + 20);
                setrlimit(RLIMIT_NOFILE, &limit);
            } else {
                for (int i = 0; i < VC_WindowCount(pFull.get()); ++i) VC_Test_SetWindowPlaying(pFull.get(), i, !bRoom);
            }
        };
        const auto start = [&]() {
            return strWork == "play"
                       ? call(VC_Play, pWidget.get(), QJsonObject{{"url", "rtsp://127.0.0.1:28049/live"}})
                       : call(VC_StartDownload, QJsonObject{{"url", "http://192.0.2.1/video.mp4"},  // never answers
                                                            {"path", "admitted/"}});
        };
        setRoom(false);
        const QJsonObject refused = start();
        setRoom(true);
        QCOMPARE(refused.value("errorCode").toInt(), iErrorCode);
        QVERIFY(!VC_IsWindowPlaying(pWidget.get(), 0));
        QCOMPARE(start().value("errorCode").toInt(), 0);
    }

    // The tile tells a stale picture from a live one: once no picture came
    // for the stall time (3 s) the picture is dimmed under a no-signal label.
    void aStoppedCameraShowsNoSignal() {
        CameraSimProcess camera(CAMERA_SIM_BIN, 28004);
        QVERIFY(camera.start({"--size", "640x360", "--stop-after", "3"}));
        auto pWidget = makeWidget();
        call(VC_Play, pWidget.get(), QJsonObject{{"url", camera.url()}, {"title", "Gate"}});
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents("firstFrame"), 1, 10000);
        QWidget* pTile = pWidget->childAt(5, 5);
        // The white bar, away from the labels.
        const auto whiteBar = [pTile] { return qGray(pTile->grab().toImage().pixel(45, 120)); };
        const auto noSignalLabel = [pTile] {
            const QImage grab = pTile->grab().toImage();
            for (int y = 0; y < grab.height(); ++y) {
                if (grab.pixel(grab.width() / 2 - 1, y) == qRgb(255, 160, 0)) return true;
                for (int x = 0; x < grab.width(); x += 2)
                    if (grab.pixel(x, y) == qRgb(255, 160, 0)) return true;
            }
            return false;
        };
        QTRY_VERIFY(whiteBar() > 200);
        QVERIFY(!noSignalLabel());
        QCOMPARE(call(VC_Pause, pWidget.get(), QJsonObject()).value("errorCode").toInt(), 3005);  // live
        QTRY_VERIFY_WITH_TIMEOUT(camera.output().contains("stopped"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(whiteBar() < 130 && noSignalLabel(), 5000);
        // A snapshot is the picture itself, without the labels, and while
        // zoomed the zoomed part.
        call(VC_EnableEZoom, pWidget.get(), json(R"({"rect":{"x":0,"y":0,"width":0.5,"height":0.5}})"));
        const QImage shot(call(VC_Snapshot, pWidget.get(), QJsonObject{}).value("path").toString());
        QCOMPARE(shot.size(), QSize(320, 180));
        QVERIFY(qGray(shot.pixel(22, 120)) > 200);
    }

    // Every way a tile stops tells the page: the recording's end (file and
    // duration) first, then "stopped" with its reason.
    void everyStopIsReported_data() {
        QTest::addColumn<QString>("strHow");
        QTest::newRow("layout shrinks") << "layout";
        QTest::newRow("stop all") << "stopAll";
        QTest::newRow("widget closed") << "closed";
    }
    void everyStopIsReported() {
        QFETCH(QString, strHow);
        CameraSimProcess camera(CAMERA_SIM_BIN, 28005);
        QVERIFY(camera.start({"--size", "320x240", "--gop", "5"}));
        auto pWidget = makeWidget("{\"layout\":4}");
        call(VC_Play, pWidget.get(), QJsonObject{{"url", camera.url()}, {"wndIndex", 3}});
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents("firstFrame", 3), 1, 10000);
        const QString strPath =
            call(VC_StartSave, pWidget.get(), QJsonObject{{"wndIndex", 3}}).value("path").toString();
        QTRY_VERIFY_WITH_TIMEOUT(
            call(VC_QueryPlayStatus, pWidget.get(), QJsonObject{{"wndIndex", 3}}).value("recordDuration").toInt() >=
                400,
            10000);
        if (strHow == "layout") call(VC_ArrangeWindow, pWidget.get(), QJsonObject{{"layout", 1}});
        if (strHow == "stopAll") call(VC_StopRealPlayAll, pWidget.get());
        if (strHow == "closed") VC_Uninitialize(pWidget.get());
        QTRY_COMPARE(streamEvents("stopped", 3), 1);
        QList<QJsonObject> ends;
        for (const Event& event : qAsConst(s_events)) {
            if (event.data.value("wndIndex") == 3 && event.data.value("event").toString().contains("top"))
                ends << event.data;
        }
        QCOMPARE(ends.size(), 2);
        QCOMPARE(ends[0].value("event"), "recordStopped");
        QCOMPARE(ends[0].value("path").toString(), strPath);
        QVERIFY(ends[0].value("duration").toInt() >= 400);
        QCOMPARE(ends[1].value("reason").toString(), strHow);
    }

    void downloadsResumeAfterAStopAndReportErrors() {
        HttpServer http;
        for (int i = 0; i < 400000; ++i) http.baPayload += static_cast<char>(i * 7 % 251);
        http.iHoldAt = 150000;
        QVERIFY(http.listen());
        VC_Test_AllowLocalTransfers(true);
        const QString strUrl = QStringLiteral("http://127.0.0.1:28060/");
        const QString strFolder = media("downloads", "resumed");

        const QJsonObject started =
            call(VC_StartDownload, QJsonObject{{"url", strUrl + "video.mp4"}, {"path", strFolder + "/"}});
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
        QCOMPARE(file.permissions() & (QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther), QFile::Permissions());

        const QJsonObject missing = call(VC_Download, QJsonObject{{"url", strUrl + "gone.mp4"}, {"path", strFolder}});
        const QJsonObject missingId{{"downloadId", missing.value("downloadId")}};
        QTRY_COMPARE(call(VC_GetDownloadStatus, missingId).value("status"), "failed");
        const QJsonObject failure = call(VC_GetDownloadStatus, missingId).value("failure").toObject();
        QCOMPARE(failure.value("httpStatus"), 404);
        QCOMPARE(failure.value("errorCode"), 3021);
    }

    // Each row: a transfer from the local server (its path there) and the
    // end it comes to: done with the file whole at the other end, or failed
    // for the reason given.
    void transfersFollowRedirectsAndUpload_data() {
        QTest::addColumn<QString>("strPath");
        QTest::addColumn<QString>("strWhy");  // in the failure's "errorMessage"; empty: done
        QTest::newRow("redirect followed") << "to?/video.mp4"
                                           << "";
        QTest::newRow("redirect to a file refused") << "to?file:///etc/hostname"
                                                    << "refused a redirect";
        QTest::newRow("endless redirects") << "loop"
                                           << "more than 10 redirects";
        QTest::newRow("upload") << "upload"
                                << "";
    }
    void transfersFollowRedirectsAndUpload() {
        QFETCH(QString, strPath);
        QFETCH(QString, strWhy);
        HttpServer http;
        http.baPayload = "the video";
        QVERIFY(http.listen());
        VC_Test_AllowLocalTransfers(true);
        const QString strUrl = "http://127.0.0.1:28060/" + strPath;
        const QString strFolder = media("downloads", "redirected");
        const bool bUpload = strPath == "upload";
        const char* szId = bUpload ? "uploadId" : "downloadId";
        const QJsonObject answer =
            bUpload
                ? call(VC_UploadFile, QJsonObject{{"url", strUrl}, {"path", "shot.png"}, {"uuid", "page-1"}})
                : call(VC_StartDownload, QJsonObject{{"url", strUrl}, {"path", strFolder + "/"}, {"uuid", "page-1"}});
        const QJsonObject id{{szId, answer.value(szId)}, {"uuid", "page-1"}};
        const auto state = [&] { return call(bUpload ? VC_GetUploadErrorInfo : VC_GetDownloadStatus, id); };
        QTRY_VERIFY(state().value("status") != "running");
        QCOMPARE(state().value("status").toString(), strWhy.isEmpty() ? "done" : "failed");
        if (!strWhy.isEmpty()) {
            const QString strMessage = state().value("failure").toObject().value("errorMessage").toString();
            QVERIFY2(strMessage.contains(strWhy), qPrintable(strMessage));
        } else if (bUpload) {
            QVERIFY(http.baPosted.contains("filename=\"shot.png\"\r\n"));
            QVERIFY(http.baPosted.contains("\r\n\r\nnot for pages\r\n--"));
        } else {
            QFile file(answer.value("path").toString());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), http.baPayload);
        }
    }

    // Each row: a command with a path (or url) a page sent; the error code
    // it answers (for a transfer: its answer, else its failure), or 0 and
    // where the file goes. Nothing outside the media folders changes.
    void filesStayInTheMediaFolders_data() {
        QTest::addColumn<QString>("strCall");
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<int>("iErrorCode");
        QTest::addColumn<QString>("strPath");                        // the answer's "path"
        const QString strFar = QStringLiteral("http://192.0.2.1/");  // a host that never answers
        const auto download = [&](const QString& strPath, const QString& strFile = QStringLiteral("x.sh")) {
            return QJsonObject{{"url", strFar + strFile}, {"path", strPath}, {"uuid", "page-1"}};
        };
        QTest::newRow("download to .bashrc") << "download" << download(m_folder.filePath("home/.bashrc")) << 3024 << "";
        QTest::newRow("download outside") << "download" << download(m_folder.filePath("outside/x.sh")) << 3024 << "";
        QTest::newRow("download ..") << "download" << download("../outside/x.sh") << 3024 << "";
        QTest::newRow("download .. inside")
            << "download" << download(media("downloads") + "/../outside/x.sh") << 3024 << "";
        QTest::newRow("download hidden") << "download" << download(".config/autostart/x.desktop") << 3024 << "";
        QTest::newRow("download hidden folder")
            << "download" << download(media("downloads", ".hidden/x.sh")) << 3024 << "";
        QTest::newRow("download through a link out") << "download" << download("link/x.sh") << 3024 << "";
        QTest::newRow("download relative") << "download" << download("sub/x.sh") << 0 << media("downloads", "sub/x.sh");
        QTest::newRow("download absolute inside")
            << "download" << download(media("downloads", "y.sh")) << 0 << media("downloads", "y.sh");
        QTest::newRow("download free name")
            << "download" << download("taken.txt") << 0 << media("downloads", "taken (1).txt");
        QTest::newRow("download hidden url name")
            << "download" << download("", ".profile") << 0 << media("downloads", "profile");
        for (const char* szHost : {"127.0.0.1", "127.1.2.3", "localhost", "[::1]", "0.0.0.0", "[::ffff:127.0.0.1]"})
            QTest::newRow(szHost) << "download" << QJsonObject{{"url", QStringLiteral("http://%1:28060/x").arg(szHost)}}
                                  << 3025 << "";
        const QString strOwnName = QHostInfo::localHostName();
        const QList<QHostAddress> ownAddresses = QHostInfo::fromName(strOwnName).addresses();
        if (!ownAddresses.isEmpty() && std::all_of(ownAddresses.begin(), ownAddresses.end(),
                                                   [](const QHostAddress& address) { return address.isLoopback(); }))
            QTest::newRow("a name of this machine")
                << "download" << QJsonObject{{"url", "http://" + strOwnName + ":28060/x"}} << 3025 << "";
        QTest::newRow("another page's download") << "otherPage" << download("") << 3020 << "";

        const auto upload = [&](const QString& strPath, const char* szUuid = "page-1") {
            return QJsonObject{{"url", strFar}, {"path", strPath}, {"uuid", szUuid}};
        };
        QTest::newRow("upload id_rsa") << "upload" << upload(m_folder.filePath("home/.ssh/id_rsa")) << 3024 << "";
        QTest::newRow("upload outside") << "upload" << upload(m_folder.filePath("outside/secret.mp4")) << 3024 << "";
        QTest::newRow("upload through a link")
            << "upload" << upload(media("downloads", "link/secret.mp4")) << 3024 << "";
        QTest::newRow("upload inside") << "upload" << upload(media("snapshots", "shot.png")) << 0
                                       << media("snapshots", "shot.png");
        QTest::newRow("upload relative") << "upload" << upload("shot.png") << 0 << media("snapshots", "shot.png");
        QTest::newRow("upload chosen") << "upload" << upload(m_folder.filePath("outside/chosen.mp4")) << 0
                                       << m_folder.filePath("outside/chosen.mp4");
        QTest::newRow("upload chosen by another page")
            << "upload" << upload(m_folder.filePath("outside/chosen.mp4"), "page-2") << 3024 << "";

        const auto play = [](const QString& strUrl, const char* szUuid = "page-1") {
            return QJsonObject{{"url", strUrl}, {"uuid", szUuid}};
        };
        const auto fileUrl = [&](const char* szPath) {
            return QUrl::fromLocalFile(m_folder.filePath(szPath)).toString();
        };
        QTest::newRow("play a file outside") << "play" << play(fileUrl("outside/secret.mp4")) << 3024 << "";
        QTest::newRow("play no file outside") << "play" << play(fileUrl("outside/none.mp4")) << 3024 << "";
        QTest::newRow("play a path outside") << "play" << play(m_folder.filePath("outside/secret.mp4")) << 3024 << "";
        QTest::newRow("play ..") << "play" << play(media("recordings") + "/../outside/secret.mp4") << 3024 << "";
        QTest::newRow("play no file inside") << "play" << play(fileUrl("recordings/none.mp4")) << 3006 << "";
        QTest::newRow("play chosen") << "play" << play(fileUrl("outside/chosen.mp4")) << 0 << "";
        QTest::newRow("play chosen by another page")
            << "play" << play(fileUrl("outside/chosen.mp4"), "page-2") << 3024 << "";

        QTest::newRow("record outside") << "record" << QJsonObject{{"path", m_folder.filePath("outside/x.mp4")}} << 3024
                                        << "";
        QTest::newRow("record into a new folder outside")
            << "record" << QJsonObject{{"path", m_folder.filePath("outside/new")}} << 3024 << "";
        QTest::newRow("record inside, nothing playing") << "record" << QJsonObject{{"path", "x.mp4"}} << 3004 << "";
        QTest::newRow("setLocalConfig outside")
            << "setLocalConfig" << QJsonObject{{"recordPath", m_folder.filePath("outside/new")}} << 3024 << "";
        QTest::newRow("setLocalConfig ..") << "setLocalConfig" << QJsonObject{{"downloadPath", "../new"}} << 3024 << "";
        QTest::newRow("setLocalConfig inside") << "setLocalConfig" << QJsonObject{{"downloadPath", "new"}} << 0 << "";
        QTest::newRow("open a folder outside")
            << "openDirectory" << QJsonObject{{"path", m_folder.filePath("outside")}} << 3024 << "";
    }
    void filesStayInTheMediaFolders() {
        QFETCH(QString, strCall);
        QFETCH(QJsonObject, request);
        QFETCH(int, iErrorCode);
        QFETCH(QString, strPath);
        const QStringList before = outsideFiles();
        VC_Test_ChooseFile("page-1", m_folder.filePath("outside/chosen.mp4"));
        auto pWidget = makeWidget();
        const QMap<QString, std::function<QJsonObject()>> kCalls{
            {"download", [&] { return call(VC_StartDownload, request); }},
            {"otherPage",
             [&] {
                 const QJsonValue id = call(VC_StartDownload, request).value("downloadId");
                 return call(VC_GetDownloadStatus, QJsonObject{{"downloadId", id}, {"uuid", "page-2"}});
             }},
            {"upload", [&] { return call(VC_UploadFile, request); }},
            {"play", [&] { return call(VC_Play, pWidget.get(), request); }},
            {"record", [&] { return call(VC_StartSave, pWidget.get(), request); }},
            {"setLocalConfig", [&] { return call(VC_SetLocalConfig, request); }},
            {"openDirectory", [&] { return call(VC_OpenDirectory, request); }},
        };
        const QJsonObject answer = kCalls.value(strCall)();
        int iCode = answer.value("errorCode").toInt();
        const QString strIdKey = strCall == "upload" ? "uploadId" : "downloadId";
        if (iErrorCode && !iCode && answer.contains(strIdKey)) {
            const QJsonObject id{{strIdKey, answer.value(strIdKey)}, {"uuid", request.value("uuid")}};
            const auto status = [&] {
                return call(strCall == "upload" ? VC_GetUploadErrorInfo : VC_GetDownloadStatus, id);
            };
            QTRY_COMPARE(status().value("status"), "failed");
            iCode = status().value("failure").toObject().value("errorCode").toInt();
        }
        QCOMPARE(iCode, iErrorCode);
        if (!strPath.isEmpty()) QCOMPARE(answer.value("path").toString(), QDir::toNativeSeparators(strPath));
        QCOMPARE(outsideFiles(), before);
        QVERIFY(!QFile::exists(media("recordings", "x.mp4")));  // a recording that did not start leaves nothing
    }

    void aHangingHttpSourceTimesOut() {
        const QString strFile = m_folder.filePath("hang.mp4");
        QVERIFY(writeTestFile(strFile));
        QFile file(strFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        HttpServer http;
        http.baPayload = file.readAll();
        http.iHoldAt = 4000;
        http.bHoldEvery = true;
        QVERIFY(http.listen());
        auto pWidget = makeWidget();
        call(VC_Play, pWidget.get(), QJsonObject{{"url", "http://127.0.0.1:28060/video.mp4"}});
        QTRY_COMPARE_WITH_TIMEOUT(streamEvents("error"), 1, 12000);
        const auto it = std::find_if(s_events.begin(), s_events.end(),
                                     [](const Event& event) { return event.data.value("event") == "error"; });
        QCOMPARE(it->data.value("errorCode").toInt(), 3026);
    }

    // White text on white and black on black keep an outline.
    void overlayTextIsLegibleOnAnyPicture() {
        auto pWidget = makeWidget();
        QWidget* pTile = pWidget->childAt(5, 5);
        for (const QColor& colour : {QColor(Qt::white), QColor(Qt::black)}) {
            QPalette palette = pTile->palette();
            palette.setColor(QPalette::Window, colour);
            pTile->setPalette(palette);
            pTile->setAutoFillBackground(true);
            call(VC_SetTextOverlay, pWidget.get(),
                 QJsonObject{{"texts",
                              QJsonArray{QJsonObject{
                                  {"text", "WWWW"}, {"x", 0.1}, {"y", 0.1}, {"size", 40}, {"color", colour.name()}}}}});
            const QImage grab = pTile->grab().toImage().copy(QRect(64, 36, 200, 50));
            int iContrasting = 0;
            for (int y = 0; y < grab.height(); ++y)
                for (int x = 0; x < grab.width(); ++x)
                    iContrasting += qAbs(qGray(grab.pixel(x, y)) - colour.lightness()) > 128;
            QVERIFY2(iContrasting > 200, qPrintable(colour.name() + ": " + QString::number(iContrasting)));
        }
    }

    void unsupportedFunctionsSaySo() {
        auto pWidget = makeWidget();
        QCOMPARE(call(VC_FishEyePTZ, pWidget.get(), QJsonObject()).value("errorCode"), 3015);
        QCOMPARE(call(VC_StartUpgrade, QJsonObject()).value("errorCode"), 3015);
    }

private:
    QTemporaryDir m_folder;
};

QTEST_MAIN(TestVideoControl)
#include "tst_video_control.moc"
