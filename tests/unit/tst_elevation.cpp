// The elevation step and the start-up around it, driven through the
// simulated process backend. (A start-up that goes on is every service
// test's.)
#include "Elevation.h"
#include "ServiceStartup.h"
#include "SimulatedProcessPlatform.h"
#include "video_control_test.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QStringList s_log;

void recordLog(QtMsgType, const QMessageLogContext&, const QString& strMessage) {
    s_log << strMessage;
}
}  // namespace

class TestElevation : public QObject {
    Q_OBJECT

    QtMessageHandler m_previousHandler = nullptr;

private slots:
    void init() {
        s_log.clear();
        m_previousHandler = qInstallMessageHandler(recordLog);
    }
    void cleanup() { qInstallMessageHandler(m_previousHandler); }

    // Every way the step goes on in this process.
    void goesOn_data() {
        QTest::addColumn<bool>("bAdmin");
        QTest::addColumn<bool>("bPathAvailable");
        QTest::addColumn<quint32>("ulError");
        QTest::addColumn<QStringList>("expectedLog");
        QTest::addColumn<int>("iLaunches");
        const auto row = [](const char* szName, bool bAdmin, bool bPathAvailable, quint32 ulError,
                            const QStringList& expectedLog, int iLaunches) {
            QTest::newRow(szName) << bAdmin << bPathAvailable << ulError << expectedLog << iLaunches;
        };
        const QString strStep = QStringLiteral("enablePrivileges::enablePrivileges");
        row("already admin", true, true, 0, {"enablePrivileges::RunAsAdmin"}, 0);
        row("cancelled", false, true, 1223, {strStep, "enablePrivileges::ERROR_CANCELLED"}, 1);
        row("file not found", false, true, 2, {strStep, "enablePrivileges::ERROR_FILE_NOT_FOUND"}, 1);
        row("other error", false, true, 5, {strStep}, 1);
        row("no path", false, false, 0, {strStep}, 0);
    }
    void goesOn() {
        QFETCH(bool, bAdmin);
        QFETCH(bool, bPathAvailable);
        QFETCH(quint32, ulError);
        QFETCH(QStringList, expectedLog);
        QFETCH(int, iLaunches);
        platform::SimulatedProcessPlatform process;
        process.m_bAdmin = bAdmin;
        process.m_bPathAvailable = bPathAvailable;
        process.m_ulLaunchError = ulError;
        QVERIFY(!enablePrivileges(process));
        QCOMPARE(s_log, expectedLog);
        QCOMPARE(int(process.m_vecLaunches.size()), iLaunches);
    }

    void acceptedLaunchEndsStartUpWithOne() {
        VC_Test_Reset();
        platform::SimulatedProcessPlatform process;
        process.m_strModulePath = "/opt/service/localservice";
        QTemporaryDir dir;
        ServiceStartup startup(process, dir.path());
        const std::optional<int> exitCode = startup.start();
        QCOMPARE(exitCode, std::optional<int>(1));
        QCOMPARE(s_log, (QStringList{"enablePrivileges::enablePrivileges", "enablePrivileges::success"}));
        QCOMPARE(process.m_vecLaunches, std::vector<std::string>{"/opt/service/localservice"});
        QVERIFY(!startup.server());
        QVERIFY(!VC_Test_IsInitialized(nullptr));  // nothing after the launch ran
    }
};

QTEST_MAIN(TestElevation)
#include "tst_elevation.moc"
