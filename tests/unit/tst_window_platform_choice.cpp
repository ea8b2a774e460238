// The window backend chosen at start-up for the Qt platform in use.
#include "NullWindowPlatform.h"
#include "WindowPlatformChoice.h"

#include <QGuiApplication>
#include <QtTest>

class TestWindowPlatformChoice : public QObject {
    Q_OBJECT

private slots:
    void byPlatformName_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("bNative");
#ifdef Q_OS_WIN
        QTest::newRow("windows") << QByteArray("windows") << true;
        QTest::newRow("offscreen") << QByteArray("offscreen") << false;
#else
        QTest::newRow("xcb") << QByteArray("xcb") << true;
        QTest::newRow("offscreen") << QByteArray("offscreen") << false;
        QTest::newRow("wayland") << QByteArray("wayland") << false;
        QTest::newRow("minimal") << QByteArray("minimal") << false;
        QTest::newRow("windows elsewhere") << QByteArray("windows") << false;
#endif
    }
    void byPlatformName() {
        QFETCH(QByteArray, name);
        QFETCH(bool, bNative);
        QCOMPARE(platform::nativeWindowsSupported(name.constData()), bNative);
    }

    void offscreenSeesNoWindows() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        platform::WindowPlatform& chosen = platform::systemWindowPlatform();
        QVERIFY(dynamic_cast<platform::NullWindowPlatform*>(&chosen));
        QCOMPARE(&platform::systemWindowPlatform(), &chosen);  // chosen once
        QCOMPARE(chosen.getForegroundWindow(), platform::Hwnd(0));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestWindowPlatformChoice test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_platform_choice.moc"
