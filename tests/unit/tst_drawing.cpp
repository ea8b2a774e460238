// The drawing commands of the video library through its C interface: every
// refused request answers its error code and changes nothing, shapes set come
// back as given, limits per kind hold and clearing removes what it says.
// No mouse, no streams: tst_video_control draws with the mouse.
#include "video_control.h"
#include "video_control_test.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>
#include <QtTest>

#include <memory>

namespace {

using Command = QJsonDocument* (*)(QWidget*, const QJsonDocument*);

#define DRAW_COMMANDS(X)                                                                                          \
    X(VC_SetRectInfo)                                                                                             \
    X(VC_GetRectInfo)                                                                                             \
    X(VC_SetPolygonInfo) X(VC_GetPolygonInfo) X(VC_SetLineInfo) X(VC_SetPointInfo) X(VC_SetGridInfo)              \
        X(VC_SetTextOverlay) X(VC_SetDrawShapeInfo) X(VC_SelectShape) X(VC_ClearShapeByType) X(VC_ClearShapeById) \
            X(VC_SetDrawStatus) X(VC_SetDrawCallback)
#define DRAW_GETTERS(X) X(VC_GetLineInfo) X(VC_GetPointInfo) X(VC_GetGridInfo) X(VC_GetTextOverlay)

const QHash<QString, Command>& commands() {
#define DRAW_ENTRY(name) {QStringLiteral(#name), name},
    static const QHash<QString, Command> kCommands{DRAW_COMMANDS(DRAW_ENTRY)};
#undef DRAW_ENTRY
    return kCommands;
}

QJsonObject json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

QJsonObject take(QJsonDocument* pResult) {
    const QJsonObject result = pResult ? pResult->object() : QJsonObject();
    VC_Release(pResult);
    return result;
}

QJsonObject call(const QString& strCommand, QWidget* pWidget, const QJsonObject& request) {
    const QJsonDocument document(request);
    return take(commands().value(strCommand)(pWidget, &document));
}

QJsonObject call(QJsonDocument* (*getter)(QWidget*), QWidget* pWidget) {
    return take(getter(pWidget));
}

// n copies of one shape's JSON, as the text of an array.
QByteArray repeated(const QByteArray& shape, int n) {
    QByteArrayList list;
    for (int i = 0; i < n; ++i) list << shape;
    return '[' + list.join(',') + ']';
}

QByteArray corners(int n) {  // n points on a circle
    QByteArrayList list;
    for (int i = 0; i < n; ++i)
        list << QByteArray(R"({"x":%1,"y":%2})")
                    .replace("%1", QByteArray::number(0.5 + 0.4 * std::cos(i * 2 * M_PI / n)))
                    .replace("%2", QByteArray::number(0.5 + 0.4 * std::sin(i * 2 * M_PI / n)));
    return '[' + list.join(',') + ']';
}

const QByteArray kRect = R"({"x":0.1,"y":0.1,"width":0.2,"height":0.2})";
const QByteArray kPoint = R"({"x":0.5,"y":0.5})";
const QByteArray kTriangle = R"({"points":[{"x":0,"y":0},{"x":1,"y":0},{"x":1,"y":1}]})";
const QByteArray kLine = R"({"points":[{"x":0,"y":0},{"x":1,"y":1}]})";
const QByteArray kText = R"({"text":"gate","x":0,"y":0})";

// What play window 1 (the selected one) holds at the start of each test:
// rects 1 and 2, polygon 3, line 4, point 5, two grid cells on, one text.
const char* const kBaseline[][2] = {
    {"VC_SetRectInfo", R"({"rects":[{"id":1,"x":0,"y":0,"width":0.5,"height":0.5,"zone":"door"},
                                    {"id":2,"x":0.5,"y":0.5,"width":0.5,"height":0.5}]})"},
    {"VC_SetPolygonInfo", R"({"polygons":[{"id":3,"points":[{"x":0,"y":0},{"x":1,"y":0},{"x":0,"y":1}]}]})"},
    {"VC_SetLineInfo", R"({"lines":[{"id":4,"points":[{"x":0,"y":1},{"x":1,"y":0}]}]})"},
    {"VC_SetPointInfo", R"({"points":[{"id":5,"x":0.25,"y":0.75}]})"},
    {"VC_SetGridInfo", R"({"rows":2,"columns":2,"cells":["10","01"]})"},
    {"VC_SetTextOverlay", R"({"texts":[{"text":"entrance","x":0.1,"y":0.9,"color":"yellow","size":20}]})"}};

// Everything the drawing commands can change on the widget, as JSON.
QJsonObject snapshot(QWidget* pWidget) {
    QJsonObject state;
    for (int i = 0; i < 4; ++i) {
        state.insert(QString("rects%1").arg(i), call("VC_GetRectInfo", pWidget, {{"wndIndex", i}}));
        state.insert(QString("polygons%1").arg(i), call("VC_GetPolygonInfo", pWidget, {{"wndIndex", i}}));
    }
#define DRAW_SNAPSHOT(name) state.insert(#name, call(name, pWidget));
    DRAW_GETTERS(DRAW_SNAPSHOT)
#undef DRAW_SNAPSHOT
    for (const char* szKind : {"rect", "polygon", "line", "point", "grid"})  // styles, unchanged
        state.insert(szKind, call("VC_SetDrawShapeInfo", pWidget, {{"type", szKind}, {"wndIndex", 1}}));
    return state;
}

QJsonObject get(QWidget* pWidget, const QString& strGetter) {
#define DRAW_GET(name) \
    if (strGetter == #name) return call(name, pWidget);
    DRAW_GETTERS(DRAW_GET)
#undef DRAW_GET
    return call(strGetter, pWidget, {});
}

}  // namespace

class TestDrawing : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_pWidget;

    QWidget* widget() { return m_pWidget.get(); }

private slots:
    void initTestCase() { VC_Release(VC_Initialize(nullptr)); }

    void init() {
        VC_Test_Reset();
        m_pWidget = std::make_unique<QWidget>();
        m_pWidget->resize(640, 360);
        VC_Release(VC_Initialize(widget()));
        const QJsonDocument layout = QJsonDocument::fromJson("[[{},{}],[{},{}]]");
        VC_Release(VC_SetLayout(widget(), &layout));
        const QJsonDocument select(QJsonObject{{"wndIndex", 1}});
        VC_Release(VC_SelectPlayWindow(widget(), &select));
        for (const auto& step : kBaseline) QVERIFY(!call(step[0], widget(), json(step[1])).contains("errorCode"));
    }
    void cleanup() { m_pWidget.reset(); }

    void refusedRequestsChangeNothing_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("iErrorCode");
        const auto row = [](const char* szName, const char* szCommand, const QByteArray& request, int iCode) {
            QTest::newRow(szName) << QString(szCommand) << request << iCode;
        };
        row("rects missing", "VC_SetRectInfo", "{}", 3001);
        row("rects not a list", "VC_SetRectInfo", R"({"rects":{}})", 3001);
        row("rect not an object", "VC_SetRectInfo", R"({"rects":[1]})", 3001);
        row("rect without x", "VC_SetRectInfo", R"({"rects":[{"y":0,"width":0.5,"height":0.5}]})", 3001);
        row("rect x negative", "VC_SetRectInfo", R"({"rects":[{"x":-0.1,"y":0,"width":0.5,"height":0.5}]})", 3001);
        row("rect x a text", "VC_SetRectInfo", R"({"rects":[{"x":"0","y":0,"width":0.5,"height":0.5}]})", 3001);
        row("rect empty", "VC_SetRectInfo", R"({"rects":[{"x":0,"y":0,"width":0,"height":0.5}]})", 3001);
        row("rect out right", "VC_SetRectInfo", R"({"rects":[{"x":0.8,"y":0,"width":0.5,"height":0.1}]})", 3001);
        row("rect out bottom", "VC_SetRectInfo", R"({"rects":[{"x":0,"y":0.6,"width":0.1,"height":0.5}]})", 3001);
        row("id 0", "VC_SetRectInfo", R"({"rects":[{"id":0,"x":0,"y":0,"width":0.5,"height":0.5}]})", 3001);
        row("id a fraction", "VC_SetRectInfo", R"({"rects":[{"id":1.5,"x":0,"y":0,"width":0.5,"height":0.5}]})", 3001);
        row("id a text", "VC_SetRectInfo", R"({"rects":[{"id":"7","x":0,"y":0,"width":0.5,"height":0.5}]})", 3001);
        row("id too big", "VC_SetRectInfo", R"({"rects":[{"id":2e9,"x":0,"y":0,"width":0.5,"height":0.5}]})", 3001);
        row("id of another kind", "VC_SetRectInfo", R"({"rects":[{"id":3,"x":0,"y":0,"width":0.5,"height":0.5}]})",
            3001);
        row("id twice", "VC_SetRectInfo",
            "{\"rects\":" + repeated(R"({"id":9,"x":0,"y":0,"width":1,"height":1})", 2) + '}', 3001);
        row("bad after good", "VC_SetRectInfo", "{\"rects\":[" + kRect + R"(,{"x":2}]})", 3001);
        row("9 rects", "VC_SetRectInfo", "{\"rects\":" + repeated(kRect, 9) + '}', 3017);
        row("no such window", "VC_SetRectInfo", "{\"rects\":[],\"wndIndex\":4}", 3003);
        row("window a fraction", "VC_SetRectInfo", "{\"rects\":[],\"wndIndex\":0.5}", 3003);
        row("window a text", "VC_GetRectInfo", R"({"wndIndex":"1"})", 3003);
        row("polygon of 2", "VC_SetPolygonInfo", R"({"polygons":[{"points":[{"x":0,"y":0},{"x":1,"y":1}]}]})", 3001);
        row("polygon of 33", "VC_SetPolygonInfo", "{\"polygons\":[{\"points\":" + corners(33) + "}]}", 3001);
        row("polygon corner out", "VC_SetPolygonInfo",
            R"({"polygons":[{"points":[{"x":0,"y":0},{"x":1,"y":0},{"x":1.1,"y":1}]}]})", 3001);
        row("polygon corner no object", "VC_SetPolygonInfo",
            R"({"polygons":[{"points":[{"x":0,"y":0},{"x":1,"y":0},5]}]})", 3001);
        row("polygon no points", "VC_SetPolygonInfo", R"({"polygons":[{}]})", 3001);
        row("9 polygons", "VC_SetPolygonInfo", "{\"polygons\":" + repeated(kTriangle, 9) + '}', 3017);
        row("polygon window", "VC_GetPolygonInfo", R"({"wndIndex":-1})", 3003);
        row("line of 1", "VC_SetLineInfo", R"({"lines":[{"points":[{"x":0,"y":0}]}]})", 3001);
        row("line of 3", "VC_SetLineInfo", R"({"lines":[{"points":[{"x":0,"y":0},{"x":1,"y":1},{"x":0,"y":1}]}]})",
            3001);
        row("line of one point", "VC_SetLineInfo", R"({"lines":[{"points":[{"x":0.5,"y":0.5},{"x":0.5,"y":0.5}]}]})",
            3001);
        row("line end out", "VC_SetLineInfo", R"({"lines":[{"points":[{"x":0,"y":-0.1},{"x":1,"y":1}]}]})", 3001);
        row("9 lines", "VC_SetLineInfo", "{\"lines\":" + repeated(kLine, 9) + '}', 3017);
        row("point without x", "VC_SetPointInfo", R"({"points":[{"y":0.5}]})", 3001);
        row("point x null", "VC_SetPointInfo", R"({"points":[{"x":null,"y":0.5}]})", 3001);
        row("point y out", "VC_SetPointInfo", R"({"points":[{"x":0.5,"y":2}]})", 3001);
        row("9 points", "VC_SetPointInfo", "{\"points\":" + repeated(kPoint, 9) + '}', 3017);
        row("grid 0 rows", "VC_SetGridInfo", R"({"rows":0,"columns":2})", 3001);
        row("grid 65 rows", "VC_SetGridInfo", R"({"rows":65,"columns":2})", 3001);
        row("grid rows a text", "VC_SetGridInfo", R"({"rows":"2","columns":2})", 3001);
        row("grid no columns", "VC_SetGridInfo", R"({"rows":2})", 3001);
        row("grid 65 columns", "VC_SetGridInfo", R"({"rows":1,"columns":65})", 3001);
        row("grid cells a text", "VC_SetGridInfo", R"({"rows":1,"columns":2,"cells":"10"})", 3001);
        row("grid too few rows", "VC_SetGridInfo", R"({"rows":2,"columns":2,"cells":["10"]})", 3001);
        row("grid row too short", "VC_SetGridInfo", R"({"rows":2,"columns":2,"cells":["10","1"]})", 3001);
        row("grid cell 2", "VC_SetGridInfo", R"({"rows":2,"columns":2,"cells":["10","21"]})", 3001);
        row("grid row a number", "VC_SetGridInfo", R"({"rows":1,"columns":2,"cells":[10]})", 3001);
        row("grid window", "VC_SetGridInfo", R"({"rows":1,"columns":1,"wndIndex":9})", 3003);
        row("texts missing", "VC_SetTextOverlay", "{}", 3001);
        row("texts not a list", "VC_SetTextOverlay", R"({"texts":"gate"})", 3001);
        row("17 texts", "VC_SetTextOverlay", "{\"texts\":" + repeated(kText, 17) + '}', 3001);
        row("text not an object", "VC_SetTextOverlay", R"({"texts":["gate"]})", 3001);
        row("text not a text", "VC_SetTextOverlay", R"({"texts":[{"text":1,"x":0,"y":0}]})", 3001);
        row("text 257 long", "VC_SetTextOverlay",
            "{\"texts\":[{\"text\":\"" + QByteArray(257, 'a') + "\",\"x\":0,\"y\":0}]}", 3001);
        row("text x out", "VC_SetTextOverlay", R"({"texts":[{"text":"a","x":1.5,"y":0}]})", 3001);
        row("text without y", "VC_SetTextOverlay", R"({"texts":[{"text":"a","x":0}]})", 3001);
        row("text colour", "VC_SetTextOverlay", R"({"texts":[{"text":"a","x":0,"y":0,"color":"nocolour"}]})", 3001);
        row("text size 5", "VC_SetTextOverlay", R"({"texts":[{"text":"a","x":0,"y":0,"size":5}]})", 3001);
        row("text size 129", "VC_SetTextOverlay", R"({"texts":[{"text":"a","x":0,"y":0,"size":129}]})", 3001);
        row("text size a text", "VC_SetTextOverlay", R"({"texts":[{"text":"a","x":0,"y":0,"size":"16"}]})", 3001);
        row("text window", "VC_SetTextOverlay", R"({"texts":[],"wndIndex":4})", 3003);
        row("style without type", "VC_SetDrawShapeInfo", R"({"color":"red"})", 3001);
        row("style type circle", "VC_SetDrawShapeInfo", R"({"type":"circle"})", 3001);
        row("style colour", "VC_SetDrawShapeInfo", R"({"type":"rect","color":"bogus"})", 3001);
        row("style colour a number", "VC_SetDrawShapeInfo", R"({"type":"rect","color":5})", 3001);
        row("style width 0", "VC_SetDrawShapeInfo", R"({"type":"rect","lineWidth":0})", 3001);
        row("style width 21", "VC_SetDrawShapeInfo", R"({"type":"rect","lineWidth":21})", 3001);
        row("style width 2.5", "VC_SetDrawShapeInfo", R"({"type":"rect","lineWidth":2.5})", 3001);
        row("style width null", "VC_SetDrawShapeInfo", R"({"type":"rect","lineWidth":null})", 3001);
        row("style max 0", "VC_SetDrawShapeInfo", R"({"type":"rect","maxCount":0})", 3001);
        row("style max 65", "VC_SetDrawShapeInfo", R"({"type":"rect","maxCount":65})", 3001);
        row("style max below rects", "VC_SetDrawShapeInfo", R"({"type":"rect","maxCount":1,"lineWidth":5})", 3017);
        row("style max below, window", "VC_SetDrawShapeInfo", R"({"type":"rect","maxCount":1,"wndIndex":1})", 3017);
        row("style window", "VC_SetDrawShapeInfo", R"({"type":"rect","color":"red","wndIndex":4})", 3003);
        row("select no such shape", "VC_SelectShape", R"({"id":99})", 3016);
        row("select id -1", "VC_SelectShape", R"({"id":-1})", 3001);
        row("select id a text", "VC_SelectShape", R"({"id":"1"})", 3001);
        row("select window", "VC_SelectShape", R"({"id":1,"wndIndex":4})", 3003);
        row("clear type missing", "VC_ClearShapeByType", "{}", 3001);
        row("clear type circle", "VC_ClearShapeByType", R"({"type":"circle"})", 3001);
        row("clear type window", "VC_ClearShapeByType", R"({"type":"rect","wndIndex":4})", 3003);
        row("clear id missing", "VC_ClearShapeById", "{}", 3001);
        row("clear id 0", "VC_ClearShapeById", R"({"id":0})", 3001);
        row("clear no such shape", "VC_ClearShapeById", R"({"id":99})", 3016);
        row("clear id elsewhere", "VC_ClearShapeById", R"({"id":1,"wndIndex":0})", 3016);
        row("draw type missing", "VC_SetDrawStatus", "{}", 3001);
        row("draw enable a text", "VC_SetDrawStatus", R"({"type":"rect","enable":"yes"})", 3001);
        row("draw window", "VC_SetDrawStatus", R"({"type":"rect","wndIndex":4})", 3003);
        row("events missing", "VC_SetDrawCallback", "{}", 3001);
        row("event 3", "VC_SetDrawCallback", R"({"events":[2,3]})", 3001);
        row("event a text", "VC_SetDrawCallback", R"({"events":["2"]})", 3001);
    }
    void refusedRequestsChangeNothing() {
        QFETCH(QString, command);
        QFETCH(QByteArray, request);
        QFETCH(int, iErrorCode);
        const QJsonObject before = snapshot(widget());
        const QJsonObject result = call(command, widget(), json(request));
        QCOMPARE(result.value("errorCode").toInt(), iErrorCode);
        QCOMPARE(result.value("errorModule").toString(), QStringLiteral("video_control"));
        QVERIFY(!result.value("errorMessage").toString().isEmpty());
        QCOMPARE(snapshot(widget()), before);
        // Nor the id the next shape gets.
        if (QByteArray(QTest::currentDataTag()) == "id twice")
            QEXPECT_FAIL("", "a refused list still moves the next id past the ids it named", Continue);
        QCOMPARE(call("VC_SetPointInfo", widget(), json("{\"points\":[" + kPoint + "]}")).value("points")[0]["id"], 6);
    }

    // A widget the library was not given answers 3014 to every command.
    void everyCommandNeedsAnInitializedWidget() {
        QWidget bare;
        for (const QString& strCommand : commands().keys())
            QVERIFY2(call(strCommand, &bare, {}).value("errorCode") == 3014, qPrintable(strCommand));
        QCOMPARE(call(VC_GetGridInfo, &bare).value("errorCode"), 3014);
        QCOMPARE(call(VC_ClearGraphics, &bare).value("errorCode"), 3014);
    }

    // Set, get, and set what came back: the same each time. "expected":
    // null, as given; empty, ids given out (only the round trip checked).
    void shapesComeBackAsGiven_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("getter");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* szName, const char* szCommand, const char* szGetter, const QByteArray& request,
                            const QByteArray& expected = QByteArray()) {
            QTest::newRow(szName) << QString(szCommand) << QString(szGetter) << request << expected;
        };
        row("rects, page keys", "VC_SetRectInfo", "VC_GetRectInfo",
            R"({"rects":[{"id":7,"x":0,"y":0,"width":1,"height":1,"a":[1]}]})");
        row("rects, next ids", "VC_SetRectInfo", "VC_GetRectInfo", "{\"rects\":" + repeated(kRect, 2) + '}',
            R"({"rects":[{"id":6,"x":0.1,"y":0.1,"width":0.2,"height":0.2},{"id":7,"x":0.1,"y":0.1,"width":0.2,"height":0.2}]})");
        row("8 rects", "VC_SetRectInfo", "VC_GetRectInfo", "{\"rects\":" + repeated(kRect, 8) + '}', "");
        row("no rects", "VC_SetRectInfo", "VC_GetRectInfo", R"({"rects":[]})");
        row("rects, largest id", "VC_SetRectInfo", "VC_GetRectInfo",
            "{\"rects\":[" + kRect + R"(,{"id":1000000000,"x":0,"y":0,"width":1,"height":1}]})", "");
        row("polygon of 32", "VC_SetPolygonInfo", "VC_GetPolygonInfo",
            "{\"polygons\":[{\"id\":8,\"points\":" + corners(32) + "}]}");
        row("polygon, page keys", "VC_SetPolygonInfo", "VC_GetPolygonInfo",
            "{\"polygons\":[" + kTriangle.chopped(1) + R"(,"id":8,"name":"lawn"}]})");
        row("lines", "VC_SetLineInfo", "VC_GetLineInfo",
            R"({"lines":[{"id":8,"points":[{"x":0,"y":0},{"x":1,"y":1}]},{"id":9,"points":[{"x":1,"y":0},{"x":0,"y":1}]}]})");
        row("points", "VC_SetPointInfo", "VC_GetPointInfo",
            R"({"points":[{"id":8,"x":0,"y":0},{"id":9,"x":1,"y":1,"label":"gate"}]})");
        row("grid 1x1", "VC_SetGridInfo", "VC_GetGridInfo", R"({"rows":1,"columns":1,"cells":["1"]})");
        row("grid all off", "VC_SetGridInfo", "VC_GetGridInfo", R"({"rows":2,"columns":3})",
            R"({"rows":2,"columns":3,"cells":["000","000"]})");
        row("grid 64x64", "VC_SetGridInfo", "VC_GetGridInfo",
            "{\"rows\":64,\"columns\":64,\"cells\":" + repeated("\"" + QByteArray(63, '0') + "1\"", 64) + '}');
        row("texts at the limits", "VC_SetTextOverlay", "VC_GetTextOverlay",
            QByteArray("{\"texts\":[{\"text\":\"A\",\"x\":1,\"y\":1,\"size\":128},"
                       "{\"text\":\"\",\"x\":0,\"y\":0,\"size\":6,\"color\":\"#80ff0000\"}]}")
                .replace("A", QByteArray(256, 'a')));
        row("16 texts", "VC_SetTextOverlay", "VC_GetTextOverlay", "{\"texts\":" + repeated(kText, 16) + '}');
        row("no texts", "VC_SetTextOverlay", "VC_GetTextOverlay", R"({"texts":[]})");
    }
    void shapesComeBackAsGiven() {
        QFETCH(QString, command);
        QFETCH(QString, getter);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const QJsonObject set = call(command, widget(), json(request));
        QVERIFY2(!set.contains("errorCode"), qPrintable(set.value("errorMessage").toString()));
        const QJsonObject got = get(widget(), getter);
        QCOMPARE(got, set);
        QJsonObject wanted = json(expected.isNull() ? request : expected);
        wanted.insert("wndIndex", 1);  // the selected play window
        if (!expected.isEmpty() || expected.isNull()) QCOMPARE(got, wanted);
        // Play window 0 holds none of them.
        if (getter == "VC_GetRectInfo")
            QCOMPARE(call(getter, widget(), {{"wndIndex", 0}}).value("rects"), QJsonArray());
        if (QByteArray(QTest::currentDataTag()) == "rects, largest id")
            QEXPECT_FAIL("", "the id after 1000000000 is given out but refused when set again", Continue);
        QCOMPARE(call(command, widget(), got), set);
    }

    // Each kind holds at most "maxCount" shapes (1 to 64) per play window.
    void maxCountLimitsEachKind_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("shape");
        QTest::newRow("rect") << QString("VC_SetRectInfo") << kRect;
        QTest::newRow("polygon") << QString("VC_SetPolygonInfo") << kTriangle;
        QTest::newRow("line") << QString("VC_SetLineInfo") << kLine;
        QTest::newRow("point") << QString("VC_SetPointInfo") << kPoint;
    }
    void maxCountLimitsEachKind() {
        QFETCH(QString, command);
        QFETCH(QByteArray, shape);
        const QString strKind = command.mid(6).chopped(4).toLower();
        const QString strList = strKind == "point" ? "points" : strKind + 's';
        const auto set = [&](int n) {
            return call(command, widget(), {{strList, json("{\"a\":" + repeated(shape, n) + '}').value("a")}});
        };
        QCOMPARE(set(0).value(strList), QJsonArray());
        QCOMPARE(call("VC_SetDrawShapeInfo", widget(),
                      {{"type", strKind}, {"maxCount", 1}, {"color", "#80ff0000"}, {"lineWidth", 20}}),
                 (QJsonObject{{"type", strKind}, {"maxCount", 1}, {"color", "#80ff0000"}, {"lineWidth", 20}}));
        QCOMPARE(set(2).value("errorCode"), 3017);
        QCOMPARE(set(1).value(strList).toArray().size(), 1);
        QCOMPARE(call("VC_SetDrawShapeInfo", widget(), {{"type", strKind}, {"maxCount", 64}}).value("maxCount"), 64);
        QCOMPARE(set(64).value(strList).toArray().size(), 64);
        QCOMPARE(set(65).value("errorCode"), 3017);
    }

    // Clearing by kind answers how many went; the other kinds stay.
    void clearingRemovesWhatItSays_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("getter");
        QTest::addColumn<int>("iRemoved");
        QTest::newRow("rect") << "rect"
                              << "VC_GetRectInfo" << 2;
        QTest::newRow("polygon") << "polygon"
                                 << "VC_GetPolygonInfo" << 1;
        QTest::newRow("line") << "line"
                              << "VC_GetLineInfo" << 1;
        QTest::newRow("point") << "point"
                               << "VC_GetPointInfo" << 1;
        QTest::newRow("grid") << "grid"
                              << "VC_GetGridInfo" << 2;
    }
    void clearingRemovesWhatItSays() {
        QFETCH(QString, type);
        QFETCH(QString, getter);
        QFETCH(int, iRemoved);
        QJsonObject expected = snapshot(widget());
        const QJsonObject empty =
            type == "grid"
                ? json(R"({"rows":2,"columns":2,"cells":["00","00"],"wndIndex":1})")
                : QJsonObject{{getter == "VC_GetPointInfo" ? "points" : type + 's', QJsonArray()}, {"wndIndex", 1}};
        expected.insert(expected.contains(getter) ? getter : type + "s1", empty);
        QCOMPARE(call("VC_ClearShapeByType", widget(), {{"type", type}}),
                 (QJsonObject{{"type", type}, {"removed", iRemoved}, {"wndIndex", 1}}));
        QCOMPARE(snapshot(widget()), expected);
        QCOMPARE(call("VC_ClearShapeByType", widget(), {{"type", type}}).value("removed"), 0);
    }

    // Clearing by id takes that shape alone, once.
    void clearingById() {
        QCOMPARE(call("VC_ClearShapeById", widget(), {{"id", 1}}), (QJsonObject{{"id", 1}, {"wndIndex", 1}}));
        QCOMPARE(call("VC_GetRectInfo", widget(), {}).value("rects")[0]["id"], 2);
        QCOMPARE(call("VC_GetRectInfo", widget(), {}).value("rects").toArray().size(), 1);
        QCOMPARE(call("VC_ClearShapeById", widget(), {{"id", 1}}).value("errorCode"), 3016);
    }

    void clearGraphicsKeepsTheTexts() {
        QCOMPARE(
            call("VC_SetRectInfo", widget(), {{"rects", json("{\"a\":[" + kRect + "]}").value("a")}, {"wndIndex", 3}})
                .value("rects")
                .toArray()
                .size(),
            1);
        QCOMPARE(call("VC_SelectShape", widget(), {{"id", 1}}), (QJsonObject{{"id", 1}, {"wndIndex", 1}}));
        const QJsonValue texts = call(VC_GetTextOverlay, widget()).value("texts");
        QCOMPARE(call(VC_ClearGraphics, widget()), QJsonObject());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(call("VC_GetRectInfo", widget(), {{"wndIndex", i}}).value("rects"), QJsonArray());
        QCOMPARE(call(VC_GetLineInfo, widget()).value("lines"), QJsonArray());
        QCOMPARE(call(VC_GetGridInfo, widget()).value("cells"), QJsonArray({"00", "00"}));
        QCOMPARE(call(VC_GetTextOverlay, widget()).value("texts"), texts);
        QCOMPARE(call("VC_SelectShape", widget(), {{"id", 1}}).value("errorCode"), 3016);  // gone with it
        QCOMPARE(call("VC_SelectShape", widget(), {}), (QJsonObject{{"id", 0}, {"wndIndex", 1}}));
    }
};

QTEST_MAIN(TestDrawing)
#include "tst_drawing.moc"
