// The video control library stand-in: per-widget play-window state and the
// process-wide event callbacks.
#include "video_control.h"
#include "video_control_test.h"

#include <QJsonObject>
#include <QWidget>
#include <QtTest>

namespace {
struct Received {
    VC_EventType eType;
    QWidget* pWidget;
    QJsonObject data;
};
QList<Received> s_received;

void recordEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument* pData) {
    s_received << Received{eType, pWidget, pData->object()};
}
void otherHandler(VC_EventType, QWidget*, const QJsonDocument*) {}

QJsonDocument layout(const char* szText) {
    return QJsonDocument::fromJson(szText);
}
}  // namespace

class TestVideoControl : public QObject {
    Q_OBJECT

private slots:
    void init() {
        VC_Test_Reset();
        s_received.clear();
    }

    void layoutGivesThePlayWindowCount_data() {
        QTest::addColumn<QByteArray>("layoutText");
        QTest::addColumn<int>("iCount");
        QTest::newRow("one") << QByteArray("[[{}]]") << 1;
        QTest::newRow("two by two") << QByteArray("[[{},{}],[{},{}]]") << 4;
        QTest::newRow("uneven rows") << QByteArray("[[{}],[{},{},{}]]") << 4;
        QTest::newRow("not an array") << QByteArray("{\"rows\":2}") << 0;
        QTest::newRow("rows not arrays") << QByteArray("[1,2]") << 0;
    }
    void layoutGivesThePlayWindowCount() {
        QFETCH(QByteArray, layoutText);
        QFETCH(int, iCount);
        QWidget widget;
        QCOMPARE(VC_WindowCount(&widget), 0);
        VC_Release(VC_Initialize(&widget));
        const QJsonDocument document = QJsonDocument::fromJson(layoutText);
        VC_Release(VC_SetLayout(&widget, &document));
        QCOMPARE(VC_WindowCount(&widget), iCount);
    }

    void widgetsKeepTheirOwnState() {
        QWidget first, second;
        const QJsonDocument four = layout("[[{},{}],[{},{}]]");
        const QJsonDocument one = layout("[[{}]]");
        VC_Initialize(&first);
        VC_Initialize(&second);
        VC_SetLayout(&first, &four);
        VC_SetLayout(&second, &one);

        const QJsonDocument playThird(QJsonObject{{"cmd", "video.startPlay"}, {"wndIndex", 2}});
        QCOMPARE(VC_Play(&first, &playThird), nullptr);  // every command succeeds
        QVERIFY(VC_IsWindowPlaying(&first, 2));
        QVERIFY(!VC_IsWindowPlaying(&first, 0));
        QVERIFY(!VC_IsWindowPlaying(&second, 0));
        QCOMPARE(VC_Test_LastCall(&first), QStringLiteral("VC_Play"));

        VC_HideWindow(&first, 1);
        QVERIFY(VC_IsWindowHidden(&first, 1));
        QVERIFY(!VC_IsWindowHidden(&second, 1));
        VC_ShowWindow(&first, 1);
        QVERIFY(!VC_IsWindowHidden(&first, 1));

        VC_StopRealPlayAll(&first);
        QVERIFY(!VC_IsWindowPlaying(&first, 2));
    }

    void outOfRangeWindowsAreNeitherPlayingNorHidden() {
        QWidget widget;
        const QJsonDocument one = layout("[[{}]]");
        VC_Initialize(&widget);
        VC_SetLayout(&widget, &one);
        VC_HideWindow(&widget, 5);
        VC_HideWindow(&widget, -1);
        QVERIFY(!VC_IsWindowHidden(&widget, 5));
        QVERIFY(!VC_IsWindowHidden(&widget, -1));
        const QJsonDocument playFar(QJsonObject{{"wndIndex", 9}});
        VC_Play(&widget, &playFar);
        QVERIFY(!VC_IsWindowPlaying(&widget, 9));
        QVERIFY(!VC_IsWindowPlaying(&widget, 0));
    }

    void aDestroyedWidgetIsForgotten() {
        const QJsonDocument four = layout("[[{},{}],[{},{}]]");
        auto* pWidget = new QWidget;
        VC_Initialize(pWidget);
        VC_SetLayout(pWidget, &four);
        QCOMPARE(VC_WindowCount(pWidget), 4);
        QWidget* pGone = pWidget;
        delete pWidget;
        QVERIFY(!VC_Test_IsInitialized(pGone));
        QCOMPARE(VC_WindowCount(pGone), 0);
    }

    void reinitialisingStartsAfresh() {
        QWidget widget;
        const QJsonDocument four = layout("[[{},{}],[{},{}]]");
        VC_Initialize(&widget);
        VC_SetLayout(&widget, &four);
        VC_Initialize(&widget);
        QCOMPARE(VC_WindowCount(&widget), 0);
    }

    void callbacksArePerTypeAndProcessWide() {
        QWidget widget;
        QVERIFY(VC_InstallEventCallback(VC_EVENT_WINDOW_SELECTED, recordEvent) == VC_EventCallback(nullptr));
        QVERIFY(VC_InstallEventCallback(VC_EVENT_MOUSE, otherHandler) == VC_EventCallback(nullptr));
        // Installing again returns the callback it replaces.
        QVERIFY(VC_InstallEventCallback(VC_EVENT_MOUSE, recordEvent) == VC_EventCallback(otherHandler));

        QVERIFY(VC_Test_FireEvent(VC_EVENT_WINDOW_SELECTED, &widget, QJsonDocument(QJsonObject{{"wndIndex", 3}})));
        QVERIFY(VC_Test_FireEvent(VC_EVENT_MOUSE, &widget, QJsonDocument(QJsonObject{{"x", 1}})));
        QVERIFY(!VC_Test_FireEvent(VC_EVENT_RESERVED, &widget, QJsonDocument(QJsonObject{})));

        QCOMPARE(s_received.size(), 2);
        QCOMPARE(s_received[0].eType, VC_EVENT_WINDOW_SELECTED);
        QCOMPARE(s_received[0].pWidget, &widget);
        QCOMPARE(s_received[0].data.value("wndIndex").toInt(), 3);
        QCOMPARE(s_received[1].eType, VC_EVENT_MOUSE);
    }

    void outOfRangeEventTypesAreRefused() {
        QVERIFY(VC_InstallEventCallback(static_cast<VC_EventType>(9), recordEvent) == VC_EventCallback(nullptr));
        QVERIFY(VC_InstallEventCallback(static_cast<VC_EventType>(-1), recordEvent) == VC_EventCallback(nullptr));
        QVERIFY(!VC_Test_FireEvent(static_cast<VC_EventType>(9), nullptr, QJsonDocument()));
    }

    void globalCallsAndReleaseOfNull() {
        const QJsonDocument request(QJsonObject{{"cmd", "video.getEngineSupport"}});
        QCOMPARE(VC_GetEngineSupport(&request), nullptr);
        QCOMPARE(VC_Test_LastCall(nullptr), QStringLiteral("VC_GetEngineSupport"));
        QCOMPARE(VC_CloseSound(), nullptr);
        QCOMPARE(VC_Test_LastCall(nullptr), QStringLiteral("VC_CloseSound"));
        VC_Release(nullptr);
    }
};

QTEST_MAIN(TestVideoControl)
#include "tst_video_control.moc"
