// The video library's drawing on a widget of its own (offscreen): shapes
// drawn with the mouse and the events the page gets for them. The user's
// configuration folder is a temporary one.
#define QTEST_QPA_MOUSE_HANDLING  // mouse input through the window, as a user's
#include "video_control.h"
#include "video_control_test.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

}  // namespace

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

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QWidget> m_pWidget;
};

QTEST_MAIN(TestVideoTools)
#include "tst_video_tools.moc"
