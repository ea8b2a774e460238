// The video component and its widget against the video library:
// the play group, event texts and their routing, the play-window and Escape
// sequences, and the full-screen switch on a simulated desktop. (Response
// envelopes and which library function each command calls are
// tst_video_service's.)
#include "SimulatedWindowPlatform.h"
#include "VideoCommand.h"
#include "VideoWidget.h"
#include "WebClientComponents.h"
#include "video_control.h"
#include "video_control_test.h"

#include <QJsonDocument>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using NEVER_USE_ME::MainWindow;

namespace {

QJsonObject json(const char* szText) {
    return QJsonDocument::fromJson(szText).object();
}
QString indented(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson());
}

// The request documents a recording library call was given.
QList<QJsonObject> g_listLibraryRequests;
QJsonDocument* recordRequest(QWidget*, const QJsonDocument* pRequest) {
    g_listLibraryRequests << pRequest->object();
    return nullptr;
}

// A window with its component, and everything the component signals, in
// order: an event as "<signal> <uuid>: <text>".
struct Window {
    explicit Window(const QString& strUuid) : pComponent(std::make_unique<WebClientComponents>(&parent, strUuid)) {
        parent.resize(640, 480);
        pComponent->setVideoGeometry(0, 0, 320, 240);
#define RECORD_EVENT_SIGNAL(signal, dispatcher)                                 \
    QObject::connect(pComponent.get(), &WebClientComponents::signal,            \
                     [this](const QString& strUuid, const QString& strText) {   \
                         listSignals << #signal " " + strUuid + ": " + strText; \
                     });
        EVENT_SIGNALS(RECORD_EVENT_SIGNAL)
#undef RECORD_EVENT_SIGNAL
        QObject::connect(pComponent.get(), &WebClientComponents::sigQuitedFullScreen,
                         [this] { listSignals << "quited"; });
    }
    MainWindow* widget() const {
        return pComponent->videoWidget();
    }
    void run(const char* szCommand, const QJsonObject& request) {
        pComponent->run(*video::findVideoCommand(QLatin1String(szCommand)), request);
    }
    // "F" or "n" for full screen, then "h" or "s" per play window.
    QString state() const {
        QString strState = pComponent->isVideoFullScreen() ? "F" : "n";
        for (int i = 0; i < VC_WindowCount(widget()); ++i) strState += VC_IsWindowHidden(widget(), i) ? "h" : "s";
        return strState;
    }

    QWidget parent;
    std::unique_ptr<WebClientComponents> pComponent;
    QStringList listSignals;
};

}  // namespace

class TestVideoComponent : public QObject {
    Q_OBJECT

private slots:
    void init() {
        VC_Test_Reset();
        g_listLibraryRequests.clear();
    }
    void cleanup() { platform::setActiveWindowPlatform(nullptr); }

    // The library gets the whole request, with the component's play group as
    // "playGroup" for "startPlay" only.
    void playGroup_data() {
        QTest::addColumn<QByteArray>("playBackType");  // empty: none sent
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QJsonValue>("playGroup");
        QTest::newRow("initial") << QByteArray() << QByteArray(R"({"cmd":"video.startPlay","sequence":3})")
                                 << QJsonValue(-1);
        QTest::newRow("type missing") << QByteArray("{}") << QByteArray("{}") << QJsonValue(0);
        QTest::newRow("type 3") << QByteArray(R"({"type":3})") << QByteArray("{}") << QJsonValue(3);
        QTest::newRow("type as text") << QByteArray(R"({"type":"3"})") << QByteArray("{}") << QJsonValue(0);
        QTest::newRow("page's value replaced") << QByteArray() << QByteArray(R"({"playGroup":9})") << QJsonValue(-1);
    }
    void playGroup() {
        QFETCH(QByteArray, playBackType);
        QFETCH(QByteArray, request);
        QFETCH(QJsonValue, playGroup);
        Window window("{win}");
        if (!playBackType.isNull()) window.run("setPlayBackType", json(playBackType));
        const video::VideoCommand* pStartPlay = video::findVideoCommand("startPlay");
        const video::VideoCommand recordingStartPlay{"startPlay", video::WidgetRequestFn(recordRequest),
                                                     pStartPlay->uFlags};
        const video::VideoCommand recordingStop{"stop", video::WidgetRequestFn(recordRequest), 0};

        window.pComponent->run(recordingStartPlay, json(request));
        window.pComponent->run(recordingStop, json(request));

        QCOMPARE(g_listLibraryRequests.size(), 2);
        QJsonObject expected = json(request);
        QCOMPARE(g_listLibraryRequests[1], expected);
        expected.insert("playGroup", playGroup);
        QCOMPARE(g_listLibraryRequests[0], expected);
    }

    void events_data() {
        QTest::addColumn<int>("iType");
        QTest::addColumn<QString>("signal");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](int iType, const char* szSignal, const QByteArray& baText) {
            QTest::addRow("%d %s", iType, szSignal)
                << iType << szSignal << R"({"uuid":"{second}","errorModule":"",)" + baText + "}";
        };
        row(0, "sigWindowSelected", R"("cmd":"window.onGetSelectWndInfo","errorCode":5,"wndIndex":2)");
        row(2, "sigDrawEnd",
            R"("cmd":"video.onDrawCallback","errorCode":0,"type":"ended","shapeInfo":{"errorCode":5,"wndIndex":2})");
        row(3, "sigNetStreamEvent", R"("cmd":"window.onPluginEventHandler","errorCode":5,"wndIndex":2)");
        row(4, "sigNetStreamEvent", R"("cmd":"window.onPluginEventHandler","errorCode":5,"wndIndex":2)");
        row(5, "sigMouseEvent",
            R"("cmd":"window.onMouseEvent","errorCode":0,"mouseInfo":{"errorCode":5,"wndIndex":2})");
        row(7, "sigDrawEnd", R"("cmd":"video.onDrawEvent","errorCode":5,"wndIndex":2)");
        row(8, "sigDrawEnd", R"("cmd":"video.onDrawEvent","errorCode":5,"wndIndex":2)");
    }
    // Each event reaches only the component whose widget the library named,
    // with that widget's uuid.
    void events() {
        QFETCH(int, iType);
        QFETCH(QString, signal);
        QFETCH(QByteArray, expected);
        Window first("{first}"), second("{second}");
        QWidget stranger;

        const QJsonDocument data(json(R"({"errorCode":5,"wndIndex":2})"));
        QVERIFY(VC_Test_FireEvent(VC_EventType(iType), second.widget(), data));
        QVERIFY(VC_Test_FireEvent(VC_EventType(iType), &stranger, data));

        QCOMPARE(second.listSignals, QStringList{signal + " {second}: " + indented(json(expected))});
        QCOMPARE(first.listSignals, QStringList());
    }

    // A "uuid" in the fisheye data stays in the text; the event still goes
    // to the widget's own client.
    void unboundTypeAndFisheyeBuilder() {
        Window window("{win}");
        QVERIFY(!VC_Test_FireEvent(VC_EVENT_RESERVED, window.widget(), QJsonDocument(QJsonObject())));
        window.widget()->reportFisheyePTZInfo(json(R"({"uuid":"other","pan":4})"));
        QCOMPARE(window.listSignals, QStringList{"sigFisheyePTZEvent {win}: " +
                                                 indented(json(R"({"cmd":"window.onFisheyePTZInfo","uuid":"other",)"
                                                               R"("errorCode":0,"errorModule":"","pan":4})"))});
    }

    // Steps on four play windows of which window 1 plays; the state after
    // each step ("F"/"n" full screen, "h"/"s" per play window).
    void fullScreenSequences_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("states");
        QTest::newRow("command, two events, Escape") << "full ev1 ev1 esc"
                                                     << "Fssss Fhshh Fssss nssss";
        QTest::newRow("event enters, event leaves") << "ev1 ev1"
                                                    << "Fhshh nssss";
        QTest::newRow("event, then Escape") << "ev1 esc"
                                            << "Fhshh nssss";
        QTest::newRow("not playing") << "ev2 full ev2"
                                     << "nssss Fssss Fssss";
        QTest::newRow("capability off leaves") << "full cap0 ev2"
                                               << "Fssss Fssss nssss";
        QTest::newRow("capability off out of full screen") << "cap0 ev1"
                                                           << "nssss nssss";
        QTest::newRow("capability as text") << "capText ev1"
                                            << "nssss Fhshh";
        QTest::newRow("capability 2") << "cap0 cap2 ev1"
                                      << "nssss nssss Fhshh";
        QTest::newRow("full twice leaves") << "full full"
                                           << "Fssss nssss";
        QTest::newRow("full false") << "unfull full unfull"
                                    << "nssss Fssss nssss";
        QTest::newRow("full of another type") << "fullText"
                                              << "Fssss";
        QTest::newRow("other key, Escape out") << "esc full key"
                                               << "nssss Fssss Fssss";
    }
    void fullScreenSequences() {
        QFETCH(QString, steps);
        QFETCH(QString, states);
        Window window("{win}");
        MainWindow* pWidget = window.widget();
        const QJsonDocument layout = QJsonDocument::fromJson("[[{},{}],[{},{}]]");
        VC_Release(VC_SetLayout(pWidget, &layout));
        VC_Test_SetWindowPlaying(pWidget, 1, true);

        QStringList listStates;
        int iLeaves = 0;
        for (const QString& strStep : steps.split(' ')) {
            const bool bWasFull = window.pComponent->isVideoFullScreen();
            if (strStep.startsWith("ev")) {
                const QJsonObject data{{"wndIndex", strStep.mid(2).toInt()}};
                QVERIFY(VC_Test_FireEvent(VC_EVENT_PLAY_WINDOW, pWidget, QJsonDocument(data)));
            } else if (strStep == "esc" || strStep == "key") {
                QTest::keyClick(pWidget, strStep == "esc" ? Qt::Key_Escape : Qt::Key_Return);
            } else if (strStep.startsWith("cap")) {
                const QJsonValue mode = strStep == "capText" ? QJsonValue("1") : QJsonValue(strStep.mid(3).toInt());
                window.run("setFullScreenCapability", QJsonObject{{"mode", mode}});
            } else {
                const QJsonObject request = strStep == "full"       ? QJsonObject()
                                            : strStep == "fullText" ? QJsonObject{{"full", "false"}}
                                                                    : QJsonObject{{"full", false}};
                window.run("fullScreen", request);
            }
            listStates << window.state();
            if (window.pComponent->isVideoFullScreen()) window.pComponent->setVideoGeometry(5, 6, 70, 80);  // ignored
            if (bWasFull && !window.pComponent->isVideoFullScreen()) ++iLeaves;
        }

        QCOMPARE(listStates.join(' '), states);
        // Every leave: one change event with "full" false, then the quit
        // signal; entering: nothing.
        const QString strChange =
            "sigFullScreenChange {win}: " + indented(json(R"({"cmd":"window.onFullScreenChange","uuid":"{win}",)"
                                                          R"("errorCode":0,"errorModule":"","full":false})"));
        QStringList listExpected;
        for (int i = 0; i < iLeaves; ++i) listExpected << strChange << "quited";
        QCOMPARE(window.listSignals, listExpected);
        if (!window.pComponent->isVideoFullScreen()) {
            QCOMPARE(pWidget->parentWidget(), &window.parent);
            QCOMPARE(window.pComponent->videoGeometry(), QRect(0, 0, 320, 240));
        }
    }

    // The command remembers the foreground window and gives the foreground
    // back to it on leaving; the play-window event leaves it alone.
    void foregroundWindow() {
        platform::SimulatedWindowPlatform desktop;
        const platform::Hwnd hOther = desktop.createBrowser(u"other", u"Editor", platform::WinRect{0, 0, 300, 200});
        const platform::Hwnd hBrowser = desktop.createBrowser(u"page", u"Chrome", platform::WinRect{0, 0, 800, 600});
        platform::setActiveWindowPlatform(&desktop);
        Window window("{win}");
        VC_Test_SetWindowPlaying(window.widget(), 0, true);
        for (const bool bByCommand : {true, false}) {
            desktop.activate(hBrowser);
            if (bByCommand)
                window.run("fullScreen", QJsonObject());
            else
                VC_Test_FireEvent(VC_EVENT_PLAY_WINDOW, window.widget(), QJsonDocument(json(R"({"wndIndex":0})")));
            QVERIFY(window.pComponent->isVideoFullScreen());
            desktop.activate(hOther);
            QTest::keyClick(window.widget(), Qt::Key_Escape);
            QVERIFY(!window.pComponent->isVideoFullScreen());
            QCOMPARE(desktop.getForegroundWindow(), bByCommand ? hBrowser : hOther);
        }
    }

    // A window that goes while its widget is in full screen (the widget is
    // then no child of it) does not leave the widget behind.
    void widgetInFullScreenGoesWithTheComponent() {
        auto pParent = std::make_unique<QWidget>();
        auto pComponent = std::make_unique<WebClientComponents>(pParent.get(), "{win}");
        pComponent->setFullScreen(QJsonObject());
        QPointer<MainWindow> pWidget = pComponent->videoWidget();
        pParent.reset();
        QVERIFY(!pWidget.isNull());
        pComponent.reset();
        QVERIFY(pWidget.isNull());
    }
};

QTEST_MAIN(TestVideoComponent)
#include "tst_videocomponent.moc"
