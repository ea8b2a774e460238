// The X11 window backend against a real browser: Chromium on a private
// Xvfb + openbox desktop, showing a page whose title carries a token.
#include "X11WindowPlatform.h"
#include "X11TestWindows.h"
#include "XDesktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>
#include <QWidget>
#include <QtTest>

#include <csignal>
#include <cstdio>

using namespace platform;

namespace {
XDesktop* s_pDesktop = nullptr;

}  // namespace

class TestX11Chromium : public QObject {
    Q_OBJECT

    X11WindowPlatform* m_pPlatform = nullptr;
    QTemporaryDir m_dir;
    QString m_strToken;
    int m_iBrowserPid = 0;

    Hwnd findByToken() { return findWindowByTitle(*m_pPlatform, m_strToken); }

private slots:
    void initTestCase() {
        m_pPlatform = new X11WindowPlatform;
        QVERIFY(m_pPlatform->isConnected());
        QVERIFY(m_dir.isValid());
        m_strToken = QUuid::createUuid().toString();
        QFile page(m_dir.filePath(QStringLiteral("page.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<!doctype html><html><head><title>video " + m_strToken.toUtf8() +
                   "</title></head><body style=\"background:#00ff00\"></body></html>");
        page.close();
        const std::string strProfile = m_dir.filePath(QStringLiteral("profile")).toStdString();
        m_iBrowserPid = s_pDesktop->spawn(
            {"chromium", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-default-browser-check", "--password-store=basic", "--ozone-platform=x11",
             "--user-data-dir=" + strProfile, "--window-position=60,40", "--window-size=900,650",
             "file://" + page.fileName().toStdString()},
            m_dir.filePath(QStringLiteral("chromium.log")).toStdString());
        QVERIFY(m_iBrowserPid > 0);
    }

    void cleanupTestCase() {
        delete m_pPlatform;
        m_pPlatform = nullptr;
        if (m_iBrowserPid > 0) ::kill(-m_iBrowserPid, SIGKILL);  // its whole process group
    }

    void findsChromiumByTitleAndClass() {
        Hwnd hBrowser = 0;
        QVERIFY2(XDesktop::waitFor([&] { return (hBrowser = findByToken()) != 0; }, 60000),
                 "no Chromium window with the token in its title");
        QVERIFY(windowText(*m_pPlatform, hBrowser).find(u" - Chromium") != std::u16string::npos);
        QCOMPARE(className(*m_pPlatform, hBrowser), std::u16string(u"Chromium"));
        // Chromium draws its content without child windows.
        QCOMPARE(m_pPlatform->getWindow(hBrowser, kGwChild), Hwnd(0));
        QVERIFY(m_pPlatform->isWindowVisible(hBrowser));
    }

    void embeddedWindowFollowsChromiumAndSurvivesItsClose() {
        const Hwnd hBrowser = findByToken();
        QVERIFY(hBrowser);
        OwnWindow own;
        const Hwnd hOwn = own.handle();
        int iHeard = 0;
        m_pPlatform->setMessageSink(hOwn, [&](Hwnd hWnd, unsigned uMsg) {
            QCOMPARE(uMsg, kWmDestroy);
            ++iHeard;
            m_pPlatform->setParent(hWnd, 0);
            if (own.isVisible()) own.hide();
        });
        m_pPlatform->setParent(hOwn, hBrowser);
        own.setGeometry(40, 200, 240, 135);
        own.show();
        QCOMPARE(m_pPlatform->getParent(hOwn), hBrowser);

        // Placed in the client area and drawn over the page.
        WinPoint origin;
        QVERIFY(m_pPlatform->clientToScreen(hBrowser, origin));
        WinRect rect;
        QVERIFY(XDesktop::waitFor([&] {
            return m_pPlatform->getWindowRect(hOwn, rect) && rect == WinRect{origin.x + 40, origin.y + 200,
                                                                            origin.x + 280, origin.y + 335};
        }));
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(origin.x + 100, origin.y + 250) == 0xff0000; }, 10000));
        // The page is around it (Chromium's repaint does not cover ours).
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(origin.x + 400, origin.y + 400) == 0x00ff00; }, 10000));

        // Chromium moves; ours goes with it.
        QCOMPARE(s_pDesktop->run({"xdotool", "windowmove", std::to_string(hBrowser), "200", "120"}), 0);
        QVERIFY(XDesktop::waitFor([&] {
            WinPoint moved;
            return m_pPlatform->clientToScreen(hBrowser, moved) && moved.x != origin.x;
        }));
        WinPoint moved;
        QVERIFY(m_pPlatform->clientToScreen(hBrowser, moved));
        QVERIFY(m_pPlatform->getWindowRect(hOwn, rect));
        QCOMPARE(rect.left, moved.x + 40);
        QCOMPARE(rect.top, moved.y + 200);
        QVERIFY(XDesktop::waitFor([&] { return s_pDesktop->pixel(moved.x + 100, moved.y + 250) == 0xff0000; }, 10000));

        // Closing the browser leaves our window alive and hidden.
        s_pDesktop->requestClose(hBrowser);
        QVERIFY(XDesktop::waitFor([&] { return iHeard == 1; }, 20000));
        QVERIFY(XDesktop::waitFor([&] { return !m_pPlatform->isWindow(hBrowser); }, 20000));
        QVERIFY(m_pPlatform->isWindow(hOwn));
        QVERIFY(!own.isVisible());
        QVERIFY(!m_pPlatform->isWindowVisible(hOwn));
        QCOMPARE(m_pPlatform->getParent(hOwn), Hwnd(0));
        m_pPlatform->setMessageSink(hOwn, MessageSink());
    }
};

int main(int argc, char** argv) {
    XDesktop desktop;
    std::string strError;
    if (!desktop.start(strError)) {
        std::fprintf(stderr, "cannot start the X desktop: %s\n", strError.c_str());
        return 1;
    }
    s_pDesktop = &desktop;
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestX11Chromium test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_chromium.moc"
