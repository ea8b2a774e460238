#include "PageWindows.h"
#include "TestHooks.h"

#include "MessageDispatch.h"
#include "WebClientComponents.h"
#include "WebServer.h"
#include "WindowControl.h"
#include "WindowControlManager.h"
#include "video_control_test.h"

#include <QColor>
#include <QCoreApplication>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QPalette>
#include <QWidget>
#include <QSocketNotifier>

#include <unistd.h>

#include <utility>

namespace {
// The first space-separated word of baText and the rest after that space.
std::pair<QByteArray, QByteArray> firstWord(const QByteArray& baText) {
    const int iSpace = baText.indexOf(' ');
    if (iSpace < 0) return {baText, QByteArray()};
    return {baText.left(iSpace), baText.mid(iSpace + 1)};
}

// The video widget of the window registered under baUuid.
NEVER_USE_ME::MainWindow* videoWidget(const QByteArray& baUuid) {
    const WindowControl* pWindow = WindowControlManager::instance()->window(QString::fromUtf8(baUuid));
    if (pWindow && pWindow->component()) return pWindow->component()->videoWidget();
    qDebug().noquote() << "test hook: no video widget for" << baUuid;
    return nullptr;
}
}  // namespace

TestHooks::TestHooks(WebServer* pServer, OriginTrust* pTrust, QObject* parent)
    : QObject(parent),
      m_pServer(pServer),
      m_pTrust(pTrust),
      m_pNotifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this)) {
    connect(m_pNotifier, &QSocketNotifier::activated, this, &TestHooks::onReadable);
    qDebug() << "test hook: ready";
}

void TestHooks::ask(const QByteArray& baOrigin) {
    qDebug().noquote() << "test hook: asked" << QString::fromUtf8(baOrigin);
}

void TestHooks::withdraw(const QByteArray& baOrigin) {
    qDebug().noquote() << "test hook: withdrawn" << QString::fromUtf8(baOrigin);
}

void TestHooks::onReadable() {
    char buffer[65536];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        m_pNotifier->setEnabled(false);
        return;
    }
    m_baPending.append(buffer, static_cast<int>(n));
    int iEnd;
    while ((iEnd = m_baPending.indexOf('\n')) >= 0) {
        const QByteArray baLine = m_baPending.left(iEnd);
        m_baPending.remove(0, iEnd + 1);
        runLine(baLine.trimmed());
    }
}

void TestHooks::runLine(const QByteArray& baLine) {
    const auto [baVerb, baArgument] = firstWord(baLine);
    if (baVerb == "poll") {
        m_pServer->setPollTimeoutMs(baArgument.toInt());
        qDebug().noquote() << "test hook: poll" << baArgument.toInt();
    } else if (baVerb == "idle") {
        m_pServer->setIdleTimeoutMs(baArgument.toInt());
        qDebug().noquote() << "test hook: idle" << baArgument.toInt();
    } else if (baVerb == "page-claim") {
        pagestream::PageWindows::instance()->setClaimTimeoutMs(baArgument.toInt());
        qDebug().noquote() << "test hook: page-claim" << baArgument.toInt();
    } else if (baVerb == "page-streams") {
        qDebug().noquote() << "test hook: page-streams" << pagestream::PageWindows::instance()->streamCount();
    } else if (baVerb == "emit") {
        // An object with a "cmd" is an event, any other text an answer.
        const QJsonObject output = QJsonDocument::fromJson(baArgument).object();
        const QString strUuid = output.value(QStringLiteral("uuid")).toString();
        MessageDispatch* pDispatch = m_pServer->dispatcher();
        if (output.contains(QStringLiteral("cmd"))) {
            emit pDispatch->sigEvent(strUuid, QString::fromUtf8(baArgument));
        } else {
            emit pDispatch->messageResponse(strUuid, QString::fromUtf8(baArgument));
        }
    } else if (baVerb == "vc-event") {
        const auto [baType, baRest] = firstWord(baArgument);
        const auto [baUuid, baData] = firstWord(baRest);
        if (NEVER_USE_ME::MainWindow* pWidget = videoWidget(baUuid)) {
            VC_Test_FireEvent(VC_EventType(baType.toInt()), pWidget, QJsonDocument::fromJson(baData));
            qDebug().noquote() << "test hook: vc-event" << baType << baUuid;
        }
    } else if (baVerb == "vc-key") {
        const auto [baUuid, baKey] = firstWord(baArgument);
        if (NEVER_USE_ME::MainWindow* pWidget = videoWidget(baUuid)) {
            QKeyEvent event(QEvent::KeyPress, baKey.toInt(), Qt::NoModifier);
            QCoreApplication::sendEvent(pWidget, &event);
            qDebug().noquote() << "test hook: vc-key" << baUuid << baKey;
        }
    } else if (baVerb == "vc-result") {
        const auto [baFunction, baResult] = firstWord(baArgument);
        VC_Test_ScriptResult(QString::fromUtf8(baFunction), QJsonDocument::fromJson(baResult).object());
        qDebug().noquote() << "test hook: vc-result" << baFunction;
    } else if (baVerb == "vc-dialog") {
        // No argument: whether a file dialog is open; else it is answered.
        const bool bOpen =
            baArgument.isEmpty() ? VC_Test_FileDialogOpen() : VC_Test_AnswerFileDialog(QString::fromUtf8(baArgument));
        qDebug().noquote() << "test hook: vc-dialog" << (bOpen ? (baArgument.isEmpty() ? "open" : "answered") : "none");
    } else if (baVerb == "window") {
        const QString strUuid = QString::fromUtf8(baArgument);
        const WindowControl* pWindow = WindowControlManager::instance()->window(strUuid);
        qDebug().noquote() << "test hook: window" << strUuid
                           << (pWindow ? (pWindow->isVisible() ? "shown" : "hidden") : "none");
    } else if (baVerb == "paint") {
        const QList<QByteArray> listArgs = baArgument.split(' ');
        WindowControl* pWindow = WindowControlManager::instance()->window(QString::fromUtf8(listArgs.value(0)));
        const QColor colour(QLatin1Char('#') + QString::fromLatin1(listArgs.value(1)));
        if (pWindow && colour.isValid()) {
            QList<QWidget*> listWidgets = pWindow->findChildren<QWidget*>();
            listWidgets.prepend(pWindow);
            for (QWidget* pWidget : listWidgets) {
                pWidget->setAttribute(Qt::WA_OpaquePaintEvent, false);
                pWidget->setAttribute(Qt::WA_NoSystemBackground, false);
                QPalette palette = pWidget->palette();
                palette.setColor(QPalette::Window, colour);
                pWidget->setPalette(palette);
                pWidget->setAutoFillBackground(true);
                pWidget->update();
            }
        }
        qDebug().noquote() << "test hook: paint" << baArgument << (pWindow ? "done" : "none");
    } else if (baVerb == "prompt") {
        m_pTrust->setPrompt(this, baArgument.toInt());
        qDebug().noquote() << "test hook: prompt" << baArgument.toInt();
    } else if (baVerb == "answer") {
        const QList<QByteArray> listArgs = baArgument.split(' ');
        m_pTrust->answer(listArgs.value(0), listArgs.value(1) == "allow", listArgs.value(2) == "remember");
    } else if (baVerb == "pages") {
        QStringList listPages;
        for (const WebServer::PageConnection& page : m_pServer->pages()) {
            listPages.append(QStringLiteral("%1 %2 %3")
                                 .arg(QString::fromUtf8(page.baOrigin), page.strTransport)
                                 .arg(page.iConnections));
        }
        qDebug().noquote() << "test hook: pages" << listPages.join(QStringLiteral("; "));
    } else if (baVerb == "trusted") {
        qDebug().noquote() << "test hook: trusted" << QString::fromUtf8(m_pTrust->userTrusted().join(' '));
    } else if (baVerb == "waiting") {
        qDebug().noquote() << "test hook: waiting" << m_pTrust->waitingRequests();
    } else if (baVerb == "revoke") {
        m_pTrust->revoke(baArgument);
    } else {
        qDebug().noquote() << "test hook: unknown" << baLine;
    }
}
