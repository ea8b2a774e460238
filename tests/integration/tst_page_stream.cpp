// In-page video without a browser: a page's WebSocket asks for a window
// drawn by the page and its plays, and opens each stream's media WebSocket
// as the page client does. The life cycle (play, the fragmented MP4 that
// arrives, stop, a client that goes, a stream never opened, descriptors and
// threads that come back), the limits and the page-mode rows of the command
// table (checked from that table, and against the README's), recording,
// snapshots and a camera that comes back.
// Ports 28730-28749.
#include "CameraSimProcess.h"
#include "PageSocket.h"
#include "PageWindows.h"
#include "ServiceProcess.h"
#include "VideoCommand.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImage>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>

using pagestream::PageMode;

namespace {

constexpr int kWaitMs = 20000;
constexpr int kServicePort = 28730, kCameraPort = 28740, kH265CameraPort = 28741, kComingBackCameraPort = 28742;

QJsonObject parse(const QString& strText) {
    return QJsonDocument::fromJson(strText.toUtf8()).object();
}

// A page: its control WebSocket with a window drawn by the page.
class Page {
public:
    explicit Page(quint16 port) : m_socket(port) {}

    bool open() {
        return m_socket.open() && request("window.createWnd", {{"render", "page"}}).value("errorCode").toInt() == 0;
    }
    QString uuid() const { return m_socket.uuid(); }
    PageSocket& socket() { return m_socket; }

    // The answer to the request (events that come first are kept).
    QJsonObject request(const QString& strCmd, QJsonObject params = QJsonObject()) {
        const QString strSequence = QString::number(++m_iSequence);
        params.insert("cmd", strCmd);
        params.insert("uuid", uuid());
        params.insert("sequence", strSequence);
        m_socket.send(QJsonDocument(params).toJson(QJsonDocument::Compact));
        QJsonObject answer;
        (void)QTest::qWaitFor(
            [&] {
                for (const QString& strText : m_socket.m_listReceived) {
                    const QJsonObject object = parse(strText);
                    if (!object.contains("cmd") && object.value("sequence").toString() == strSequence) answer = object;
                }
                return !answer.isEmpty();
            },
            kWaitMs);
        return answer;
    }

    // Waits for a play-window event ("connected", "stopped", ...).
    QJsonObject event(const QString& strEvent, int iWndIndex = 0) {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (const QString& strText : m_socket.m_listReceived) {
                    const QJsonObject object = parse(strText);
                    if (object.value("cmd") == "window.onPluginEventHandler" && object.value("event") == strEvent &&
                        object.value("wndIndex").toInt() == iWndIndex)
                        found = object;
                }
                return !found.isEmpty();
            },
            kWaitMs);
        return found;
    }

private:
    PageSocket m_socket;
    int m_iSequence = 0;
};

// A stream's media WebSocket, as the page opens it.
struct Media {
    QWebSocket socket;
    QList<QByteArray> listReceived;
    bool bClosed = false;

    explicit Media(const QString& strUrl, const QByteArray& baOrigin = QByteArray()) {
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray& ba) { listReceived << ba; });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { bClosed = true; });
        QNetworkRequest request{QUrl(strUrl)};
        if (!baOrigin.isEmpty()) request.setRawHeader("Origin", baOrigin);
        socket.open(request);
    }
    // The MP4 boxes that began the messages so far.
    QByteArrayList boxes() const {
        QByteArrayList list;
        for (const QByteArray& ba : listReceived) list << ba.mid(4, 4);
        return list;
    }
};

QString mediaUrl(quint16 port, const QJsonObject& play) {
    return QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(play.value("stream").toString());
}

QString modeText(PageMode eMode) {
    switch (eMode) {
    case PageMode::Stream: return QStringLiteral("stream");
    case PageMode::Page: return QStringLiteral("page");
    case PageMode::Same: return QStringLiteral("as native");
    case PageMode::Unsupported: return QStringLiteral("error 3030");
    }
    return QString();
}

}  // namespace

class TestPageStream : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;
    std::unique_ptr<ServiceProcess> m_pService;
    std::unique_ptr<CameraSimProcess> m_pCamera;
    quint16 m_port = 0;

    int streams() { return m_pService->ask("page-streams", QStringLiteral("test hook: page-streams ")).toInt(); }

private slots:
    void initTestCase() {
        m_pService = std::make_unique<ServiceProcess>(
            ServiceProcess::config(kServicePort, QStringLiteral("tst_page_stream"),
                                   {{"AllowedOrigins", QJsonArray{"http://portal.test"}},
                                    {"SnapshotFolder", m_folder.filePath("snapshots")},
                                    {"RecordingFolder", m_folder.filePath("recordings")}}),
            ServiceProcess::testHooksBinaryPath());
        QVERIFY((m_port = m_pService->startListening()) != 0);
        m_pCamera = std::make_unique<CameraSimProcess>(CAMERA_SIM_BIN, kCameraPort);
        QVERIFY(m_pCamera->start({"--size", "320x240"}));
    }

    void cleanupTestCase() {
        if (!m_pService) return;
        QVERIFY(m_pService->stop());
    }

    // Every video command has one page-mode row, the README lists each row
    // as the table says, and the rows that run as for a native window need
    // no native widget.
    void tableCoversEveryCommand() {
        QFile readme(QStringLiteral(LOCALSERVICE_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString strReadme = QString::fromUtf8(readme.readAll());
        QCOMPARE(pagestream::pageCommandsEnd() - pagestream::pageCommandsBegin(),
                 video::videoCommandsEnd() - video::videoCommandsBegin());
        for (const video::VideoCommand* pCommand = video::videoCommandsBegin(); pCommand != video::videoCommandsEnd();
             ++pCommand) {
            const pagestream::PageCommand* pRow = pagestream::findPageCommand(QLatin1String(pCommand->szName));
            QVERIFY2(pRow, pCommand->szName);
            if (pRow->eMode == PageMode::Same && pCommand->has(video::kWindowBound))
                QVERIFY2(pCommand->answersEmpty() || pCommand->needsNoComponent(), pCommand->szName);
            QVERIFY2((pRow->eMode == PageMode::Stream || pRow->eMode == PageMode::Page) == (pRow->fnRun != nullptr),
                     pRow->szName);
            const QString strLine =
                QStringLiteral("| %1 | %2 | %3 |")
                    .arg(QLatin1String(pRow->szName), modeText(pRow->eMode), QLatin1String(pRow->szBehaviour));
            QVERIFY2(strReadme.contains(strLine), qPrintable(strLine));
        }
    }

    // What each row answers for a page window; the stream rows are the
    // life cycle's.
    void pageModeAnswers_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mode");
        for (const pagestream::PageCommand* pRow = pagestream::pageCommandsBegin();
             pRow != pagestream::pageCommandsEnd(); ++pRow) {
            if (pRow->eMode == PageMode::Unsupported || pRow->eMode == PageMode::Page)
                QTest::newRow(pRow->szName) << QString::fromLatin1(pRow->szName) << int(pRow->eMode);
        }
    }
    void pageModeAnswers() {
        QFETCH(QString, name);
        QFETCH(int, mode);
        Page page(m_port);
        QVERIFY(page.open());
        const QJsonObject answer = page.request("video." + name, {{"wndIndex", 0}, {"mode", "fill"}, {"full", false}});
        if (PageMode(mode) == PageMode::Unsupported) {
            QCOMPARE(answer.value("errorCode").toInt(), 3030);
            QVERIFY(answer.value("errorMessage").toString().contains(name));
        } else {
            QCOMPARE(answer.value("errorCode").toInt(), 0);
        }
    }

    // Play, the fragmented MP4 on the media socket, stop: nothing left.
    void playAndStop() {
        Page page(m_port);
        QVERIFY(page.open());
        const QJsonObject play = page.request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 0}});
        QCOMPARE(play.value("errorCode").toInt(), 0);
        QVERIFY(play.value("stream").toString().startsWith("/media/"));
        Media media(mediaUrl(m_port, play), "http://portal.test");
        QVERIFY(!page.event("firstFrame").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(media.listReceived.size() >= 4, kWaitMs);
        QCOMPARE(media.boxes().mid(0, 3), (QByteArrayList{"ftyp", "moov", "moof"}));
        const QJsonObject info = page.request("video.getPlayInfo", {{"wndIndex", 0}});
        QCOMPARE(info.value("state").toString(), QStringLiteral("playing"));
        QCOMPARE(info.value("codec").toString(), QStringLiteral("H.264"));
        // A path is good for one connection.
        Media second(mediaUrl(m_port, play), "http://portal.test");
        QTRY_VERIFY_WITH_TIMEOUT(second.bClosed, kWaitMs);

        QCOMPARE(page.request("video.stop", {{"wndIndex", 0}}).value("errorCode").toInt(), 0);
        QVERIFY(!page.event("stopped").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(media.bClosed, kWaitMs);
        QCOMPARE(streams(), 0);
    }

    // Recording and snapshots of a page window: the coded stream into the
    // recordings folder (a file a demuxer reads back), the last key frame
    // decoded into the snapshots folder; paths outside them are refused, a
    // window that shows nothing answers so, and a recording that its
    // stream's end cuts short is completed and reported.
    void recordAndSnapshot_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("snapshot png") << "capture" << QJsonObject() << 0 << "png";
        QTest::newRow("snapshot jpg in a subfolder")
            << "capture" << QJsonObject{{"path", m_folder.filePath("snapshots/a/b.jpg")}} << 0 << "jpg";
        QTest::newRow("snapshot outside")
            << "capture" << QJsonObject{{"path", m_folder.filePath("elsewhere/x.png")}} << 3024 << "";
        QTest::newRow("snapshot bad format") << "capture" << QJsonObject{{"format", "gif"}} << 3001 << "";
        QTest::newRow("snapshot of nothing") << "capture" << QJsonObject{{"wndIndex", 1}} << 3004 << "";
        QTest::newRow("record mp4") << "startSave" << QJsonObject() << 0 << "mp4";
        QTest::newRow("record mkv") << "startSave" << QJsonObject{{"format", "mkv"}} << 0 << "mkv";
        QTest::newRow("record outside") << "startSave" << QJsonObject{{"path", "/tmp/x.mp4"}} << 3024 << "";
        QTest::newRow("record nothing") << "startSave" << QJsonObject{{"wndIndex", 1}} << 3004 << "";
        QTest::newRow("stop no recording") << "stopSave" << QJsonObject() << 3012 << "";
    }
    void recordAndSnapshot() {
        QFETCH(QString, command);
        QFETCH(QJsonObject, params);
        QFETCH(int, errorCode);
        QFETCH(QString, suffix);
        Page page(m_port);
        QVERIFY(page.open());
        QCOMPARE(page.request("video.arrangeWindow", {{"layout", 4}}).value("windowCount").toInt(), 4);
        const QJsonObject play = page.request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 0}});
        Media media(mediaUrl(m_port, play), "http://portal.test");
        QVERIFY(!page.event("firstFrame").isEmpty());
        if (!params.contains("wndIndex")) params.insert("wndIndex", 0);
        const QJsonObject answer = page.request("video." + command, params);
        QCOMPARE(answer.value("errorCode").toInt(), errorCode);
        if (errorCode != 0) return;
        const QString strPath = answer.value("path").toString();
        QVERIFY2(strPath.startsWith(m_folder.path()) && strPath.endsWith("." + suffix), qPrintable(strPath));
        if (command == "capture") {
            const QImage picture(strPath);
            QCOMPARE(picture.size(), QSize(320, 240));
            QCOMPARE(QSize(answer.value("width").toInt(), answer.value("height").toInt()), QSize(320, 240));
            // The colour bars: white at the left, blue at the right.
            QVERIFY(qGray(picture.pixel(10, 100)) > 150 && qBlue(picture.pixel(310, 100)) > 150);
            return;
        }
        QCOMPARE(page.request("video.getPlayInfo", {{"wndIndex", 0}}).value("recording").toString(), strPath);
        QCOMPARE(page.request("video.startSave", {{"wndIndex", 0}}).value("errorCode").toInt(), 3013);
        QTest::qWait(1500);
        // The second recording ends with its stream: completed and reported.
        const QJsonObject stopped = suffix == "mp4"
                                        ? page.request("video.stopSave", {{"wndIndex", 0}})
                                        : (page.request("video.stop", {{"wndIndex", 0}}), page.event("recordStopped"));
        QCOMPARE(stopped.value("path").toString(), strPath);
        QVERIFY2(stopped.value("duration").toInt() > 500, qPrintable(QJsonDocument(stopped).toJson()));
        QVERIFY(!page.event("recordStopped").isEmpty());
        // A whole file: demuxed, decoded at the camera's size, to its end.
        QProcess decode;
        decode.setProcessChannelMode(QProcess::MergedChannels);
        decode.start("gst-launch-1.0", {"-q", "filesrc", "location=" + strPath, "!", "decodebin", "!",
                                        "video/x-raw,width=320,height=240", "!", "fakesink"});
        QVERIFY(decode.waitForFinished(kWaitMs));
        QVERIFY2(decode.exitCode() == 0, decode.readAll().constData());
    }

    // The client goes (its control socket closes) with two streams open:
    // both media sockets close and no stream is left.
    void clientGoneClosesEverything() {
        auto pPage = std::make_unique<Page>(m_port);
        QVERIFY(pPage->open());
        QCOMPARE(pPage->request("video.arrangeWindow", {{"layout", 4}}).value("windowCount").toInt(), 4);
        std::vector<std::unique_ptr<Media>> media;
        for (int i = 0; i < 2; ++i) {
            const QJsonObject play = pPage->request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", i}});
            media.push_back(std::make_unique<Media>(mediaUrl(m_port, play), "http://portal.test"));
            QVERIFY(!pPage->event("firstFrame", i).isEmpty());
        }
        QCOMPARE(streams(), 2);
        pPage.reset();
        for (const auto& pMedia : media) QTRY_VERIFY_WITH_TIMEOUT(pMedia->bClosed, kWaitMs);
        QCOMPARE(streams(), 0);
    }

    // A page that never opens a stream, or opens it from an origin that is
    // not allowed, or with a made-up path, gets nothing and leaves nothing.
    void streamsNobodyOpens() {
        QVERIFY(!m_pService->ask("page-claim 300", QStringLiteral("test hook: page-claim")).isNull());
        Page page(m_port);
        QVERIFY(page.open());
        const QJsonObject play = page.request("video.startPlay", {{"url", m_pCamera->url()}});
        Media foreign(mediaUrl(m_port, play), "http://evil.test");
        Media madeUp(QStringLiteral("ws://127.0.0.1:%1/media/0123456789abcdef0123456789abcdef").arg(m_port),
                     "http://portal.test");
        QTRY_VERIFY_WITH_TIMEOUT(foreign.bClosed && madeUp.bClosed, kWaitMs);
        QCOMPARE(page.event("error").value("errorCode").toInt(), 3032);
        QCOMPARE(streams(), 0);
        Media late(mediaUrl(m_port, play), "http://portal.test");
        QTRY_VERIFY_WITH_TIMEOUT(late.bClosed, kWaitMs);
        QVERIFY(late.listReceived.isEmpty() && foreign.listReceived.isEmpty());
        QVERIFY(!m_pService->ask("page-claim 10000", QStringLiteral("test hook: page-claim")).isNull());
    }

    // 16 streams per window, 64 in all: the next play is refused and
    // changes nothing; replacing a stream is not a new one.
    void limits() {
        std::vector<std::unique_ptr<Page>> pages;
        for (int iPage = 0; iPage < 5; ++iPage) {
            pages.push_back(std::make_unique<Page>(m_port));
            QVERIFY(pages.back()->open());
            QCOMPARE(pages.back()->request("video.arrangeWindow", {{"layout", 25}}).value("windowCount").toInt(), 25);
        }
        for (int iPage = 0; iPage < 4; ++iPage) {
            for (int i = 0; i < pagestream::PageWindows::kMaxStreamsPerWindow; ++i)
                QCOMPARE(pages[iPage]
                             ->request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", i}})
                             .value("errorCode")
                             .toInt(),
                         0);
        }
        const QJsonObject perWindow =
            pages[0]->request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 20}});
        QCOMPARE(perWindow.value("errorCode").toInt(), 3031);
        QCOMPARE(pages[0]
                     ->request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 3}})
                     .value("errorCode")
                     .toInt(),
                 0);
        const QJsonObject total = pages[4]->request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 0}});
        QCOMPARE(total.value("errorCode").toInt(), 3031);
        QCOMPARE(streams(), pagestream::PageWindows::kMaxStreamsTotal);
        QCOMPARE(pages[4]
                     ->request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 99}})
                     .value("errorCode")
                     .toInt(),
                 3003);
        QCOMPARE(pages[4]->request("video.startPlay", {{"url", "http://127.0.0.1/x.mp4"}}).value("errorCode").toInt(),
                 3002);
        pages.clear();
        QTRY_COMPARE_WITH_TIMEOUT(streams(), 0, kWaitMs);
    }

    // What a stream holds goes back when it ends: the service's descriptors
    // exactly, its threads (GStreamer's idle pool threads may linger a while).
    void streamsGiveBackDescriptorsAndThreads() {
        const auto entries = [this](const char* szFolder) {
            return QDir(QStringLiteral("/proc/%1/%2").arg(m_pService->processId()).arg(QLatin1String(szFolder)))
                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                .size();
        };
        Page page(m_port);
        QVERIFY(page.open());
        const auto cycle = [&] {
            const QJsonObject play = page.request("video.startPlay", {{"url", m_pCamera->url()}, {"wndIndex", 0}});
            Media media(mediaUrl(m_port, play), "http://portal.test");
            QTRY_VERIFY_WITH_TIMEOUT(media.listReceived.size() >= 4, kWaitMs);
            QCOMPARE(page.request("video.stop", {{"wndIndex", 0}}).value("errorCode").toInt(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(media.bClosed, kWaitMs);
        };
        // The first stream loads what stays loaded (plugins, the clock).
        cycle();
        const int iDescriptors = entries("fd");
        const int iThreads = entries("task");
        for (int i = 0; i < 3 && !QTest::currentTestFailed(); ++i) cycle();
        QTRY_COMPARE_WITH_TIMEOUT(entries("fd"), iDescriptors, kWaitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(
            entries("task") <= iThreads,
            qPrintable(QStringLiteral("%1 threads, %2 before").arg(entries("task")).arg(iThreads)), kWaitMs);
    }

    // The camera goes and comes back: the stream comes back on the same
    // media socket (a new "ftyp" and "moov") with a native play window's
    // events.
    void cameraComesBack() {
        CameraSimProcess camera(CAMERA_SIM_BIN, kComingBackCameraPort);
        QVERIFY(camera.start({"--size", "320x240", "--gop", "5", "--stop-after", "3", "--restart-after", "1"}));
        Page page(m_port);
        QVERIFY(page.open());
        const QJsonObject play = page.request("video.startPlay", {{"url", camera.url()}});
        Media media(mediaUrl(m_port, play), "http://portal.test");
        QVERIFY(!page.event("firstFrame").isEmpty());
        QVERIFY(!page.event("lost").value("reason").toString().isEmpty());
        QCOMPARE(page.event("reconnecting").value("attempt").toInt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(page.event("firstFrame").value("reconnected").toBool(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(media.boxes().count("ftyp"), 2, kWaitMs);
        QVERIFY(!media.bClosed);
        QCOMPARE(page.request("video.getPlayInfo").value("state").toString(), QStringLiteral("playing"));
        QCOMPARE(page.request("video.stop").value("errorCode").toInt(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(media.bClosed, kWaitMs);
        QCOMPARE(streams(), 0);
    }

    // H.265, which the browser cannot decode, is refused by name.
    void h265IsRefused() {
        CameraSimProcess camera(CAMERA_SIM_BIN, kH265CameraPort);
        QVERIFY(camera.start({"--size", "320x240", "--codec", "h265"}));
        Page page(m_port);
        QVERIFY(page.open());
        const QJsonObject play = page.request("video.startPlay", {{"url", camera.url()}});
        Media media(mediaUrl(m_port, play), "http://portal.test");
        const QJsonObject error = page.event("error");
        QCOMPARE(error.value("errorCode").toInt(), 3008);
        QVERIFY2(error.value("errorMessage").toString().contains("H.265"),
                 qPrintable(error.value("errorMessage").toString()));
        QTRY_VERIFY_WITH_TIMEOUT(media.bClosed, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(streams(), 0, kWaitMs);
    }
};

QTEST_GUILESS_MAIN(TestPageStream)
#include "tst_page_stream.moc"
