#include "WindowControlManager.h"

#include "CompactJson.h"
#include "PageWindows.h"
#include "Version.h"
#include "VideoCommand.h"
#include "WindowControl.h"
#include "WindowPlatform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonDocument>
#include <QTimerEvent>

namespace {

const char* const kServiceVersion = LOCALSERVICE_VERSION;
constexpr int kErrorModuleWindow = 5;

QRect rectOf(const QJsonObject& request) {
    const QJsonObject rect = request.value(QStringLiteral("rect")).toObject();
    return QRect(rect.value(QStringLiteral("left")).toInt(), rect.value(QStringLiteral("top")).toInt(),
                 rect.value(QStringLiteral("width")).toInt(), rect.value(QStringLiteral("height")).toInt());
}

}  // namespace

WindowControlManager::WindowControlManager() {
    // Windows must go while the application object still exists.
    qAddPostRoutine([] { instance()->closeAll(); });
}

WindowControlManager::~WindowControlManager() {
    closeAll();
}

void WindowControlManager::closeAll() {
    const QMap<QString, WindowControl*> mapWindows = m_mapWindows;
    m_mapWindows.clear();
    qDeleteAll(mapWindows);
    stopTimers();
    // The windows' components were released with deleteLater.
    if (!mapWindows.isEmpty()) QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void WindowControlManager::release(WindowControl* pWindow) {
    pWindow->close();
    pWindow->deleteLater();
}

QString WindowControlManager::runCommand(const QJsonObject& request,
                                         const std::function<int(const QJsonObject&, WindowControl*)>& fnCommand,
                                         bool bWithVersion, const std::function<void(int, CompactJson&)>& fnAnswer) {
    const QString strUuid = request.value(QStringLiteral("uuid")).toString();
    const int iCode = fnCommand(request, m_mapWindows.value(strUuid));
    CompactJson response;
    response.insert(QLatin1String("sequence"), request.value(QStringLiteral("sequence")).toString())
        .insert(QLatin1String("uuid"), strUuid)
        .insert(QLatin1String("errorModule"), iCode ? kErrorModuleWindow : 0)
        .insert(QLatin1String("errorCode"), iCode);
    if (fnAnswer) fnAnswer(iCode, response);
    if (bWithVersion) response.insert(QLatin1String("localServiceVersion"), QLatin1String(kServiceVersion));
    return response.toString();
}

// --- commands ------------------------------------------------------------------------

QString WindowControlManager::createWnd(const QJsonObject& request) {
    return runCommand(
        request,
        [this](const QJsonObject& request, WindowControl* pRegistered) {
            const QString strUuid = request.value(QStringLiteral("uuid")).toString();
            // A window drawn by the page has no native widget; either kind
            // replaces the other.
            if (request.value(QStringLiteral("render")).toString() == QLatin1String("page")) {
                if (pRegistered) release(m_mapWindows.take(strUuid));
                pagestream::PageWindows::instance()->create(strUuid);
                return 0;
            }
            pagestream::PageWindows::instance()->close(strUuid);
            QRect rect = rectOf(request);
            WindowControl* pWindow = new WindowControl();
            const QString strClassName = request.value(QStringLiteral("className")).toString();
            const bool bEmbed =
                request.contains(QStringLiteral("embed")) ? request.value(QStringLiteral("embed")).toBool() : true;
            const QString strParent = request.contains(QStringLiteral("parentWnd"))
                                          ? request.value(QStringLiteral("parentWnd")).toString()
                                          : QString();
            const int iResult = pWindow->createWnd(strUuid, strClassName, bEmbed, strParent);
            if (iResult != WindowControl::kCreated && iResult != WindowControl::kNoBrowser) {
                pWindow->deleteLater();
                return iResult;
            }
            video::relayEventSignals(pWindow, this);
            if (!strParent.isEmpty()) rect.moveTopLeft(QPoint(0, 0));
            pWindow->setWndGeometry(rect.left(), rect.top(), rect.width(), rect.height(), true);
            if (iResult == WindowControl::kCreated) {
                pWindow->show();
                qDebug() << "createWnd and show";
            }
            // A second window for the same client replaces the first, which
            // would otherwise stay on screen with nobody to reach it.
            if (pRegistered) release(pRegistered);
            m_mapWindows.insert(strUuid, pWindow);
            startTimers();
            // However the window ends (the desktop closes it, it is released),
            // its entry goes with it, unless a newer window holds the uuid.
            connect(pWindow, &QObject::destroyed, this, [this, strUuid](QObject* pGone) {
                const auto it = m_mapWindows.find(strUuid);
                if (it != m_mapWindows.end() && it.value() == pGone) m_mapWindows.erase(it);
            });
            return iResult;
        },
        false,
        [](int iCode, CompactJson& answer) {
            // Asking again cannot help: the page may draw the video itself at once.
            if (iCode == WindowControl::kNoBrowser && !platform::activeWindowPlatform().seesWindows())
                answer.insert(QLatin1String("nativeWindows"), false);
        });
}

QString WindowControlManager::showWnd(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject&, WindowControl* pWindow) {
        if (!pWindow || pWindow->isVideoFullScreen()) return 0;
        // A window that never found its browser takes the foreground window.
        if (!pWindow->parentHwnd()) pWindow->findParentWnd(QString(), QString());
        pWindow->show();
        if (pWindow->isEmbed()) {
            pWindow->activateBrowser();
        } else {
            pWindow->setTopMost(true);
        }
        const QRect rect = pWindow->wndRect();
        pWindow->setWndGeometry(rect.left(), rect.top(), rect.width(), rect.height(), true);
        return 0;
    });
}

QString WindowControlManager::hideWnd(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject&, WindowControl* pWindow) {
        if (pWindow && !pWindow->isVideoFullScreen()) pWindow->hide();
        return 0;
    });
}

QString WindowControlManager::destroyWnd(const QJsonObject& request) {
    return runCommand(request, [this](const QJsonObject& request, WindowControl* pWindow) {
        if (pWindow) {
            release(pWindow);
            m_mapWindows.remove(request.value(QStringLiteral("uuid")).toString());
        }
        pagestream::PageWindows::instance()->close(request.value(QStringLiteral("uuid")).toString());
        return 0;
    });
}

QString WindowControlManager::setWndGeometry(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject& request, WindowControl* pWindow) {
        if (!pWindow) return 0;
        const QRect rect = rectOf(request);
        pWindow->setWndGeometry(rect.left(), rect.top(), rect.width(), rect.height(), true);
        if (pWindow->isVisible()) pWindow->redrawByHideAndShow();
        return 0;
    });
}

QString WindowControlManager::setWndZOrder(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject& request, WindowControl* pWindow) {
        if (pWindow) pWindow->setZOrder(request.value(QStringLiteral("flag")).toInt());
        return 0;
    });
}

QString WindowControlManager::setWndCover(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject& request, WindowControl* pWindow) {
        if (pWindow) {
            pWindow->setCover(request.value(QStringLiteral("position")).toString(),
                              request.value(QStringLiteral("size")).toInt());
        }
        return 0;
    });
}

QString WindowControlManager::updateParentWnd(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject&, WindowControl* pWindow) {
        if (pWindow) pWindow->updateParentWnd();
        return 0;
    });
}

QString WindowControlManager::getLocalServiceVersion(const QJsonObject& request) {
    return runCommand(
        request, [](const QJsonObject&, WindowControl*) { return 0; }, true);
}

QString WindowControlManager::cuttingPartWindow(const QJsonObject& request) {
    return runPartCommand(request, &WindowControl::cuttingPartWindow);
}

QString WindowControlManager::repairPartWindow(const QJsonObject& request) {
    return runPartCommand(request, &WindowControl::repairPartWindow);
}

QString WindowControlManager::runPartCommand(const QJsonObject& request, PartFn fnPart) {
    return runCommand(request, [fnPart](const QJsonObject& request, WindowControl* pWindow) {
        if (!pWindow) return 0;
        // "round" is read from the request itself, not from "rect".
        const QRect rect = rectOf(request);
        (pWindow->*fnPart)(rect.left(), rect.top(), rect.width(), rect.height(),
                           request.value(QStringLiteral("round")).toInt());
        return 0;
    });
}

QString WindowControlManager::setWindowSelected(const QJsonObject& request) {
    return runCommand(request, [](const QJsonObject& request, WindowControl* pWindow) {
        if (pWindow) pWindow->selectPlayWindow(request);
        pagestream::PageWindows::instance()->select(request.value(QStringLiteral("uuid")).toString(),
                                                    request.value(QStringLiteral("wndIndex")).toInt(-1));
        return 0;
    });
}

// --- clients, video and timers ------------------------------------------------------------

void WindowControlManager::closeByUuid(QString uuid) {
    pagestream::PageWindows::instance()->close(uuid);
    WindowControl* pWindow = m_mapWindows.value(uuid);
    if (!pWindow) return;
    pWindow->stopAll(QJsonObject());
    release(pWindow);
    m_mapWindows.remove(uuid);
}

QString WindowControlManager::forwardVideo(const video::VideoCommand& command, const QJsonObject& request,
                                           LaterAnswer* pLater) {
    if (!command.has(video::kWindowBound)) return WindowControl::forwardGlobal(command, request, pLater);
    QString strPageAnswer;
    if (pagestream::PageWindows::instance()->run(QLatin1String(command.szName), request, &strPageAnswer))
        return strPageAnswer;
    if (pagestream::PageWindows::instance()->has(request.value(QStringLiteral("uuid")).toString()))
        return WindowControl::forwardGlobal(command, request, pLater);
    WindowControl* pWindow = m_mapWindows.value(request.value(QStringLiteral("uuid")).toString());
    return pWindow ? pWindow->forwardVideo(command, request) : QString();
}

void WindowControlManager::startTimers() {
    if (m_nFastTimerId <= 0) m_nFastTimerId = startTimer(15, Qt::CoarseTimer);
    if (m_nSlowTimerId <= 0) m_nSlowTimerId = startTimer(100, Qt::CoarseTimer);
}

void WindowControlManager::stopTimers() {
    if (m_nFastTimerId > 0) killTimer(m_nFastTimerId);
    if (m_nSlowTimerId > 0) killTimer(m_nSlowTimerId);
    m_nFastTimerId = m_nSlowTimerId = 0;
}

void WindowControlManager::timerEvent(QTimerEvent* event) {
    // A copy: nothing a tick does may disturb the walk.
    const QMap<QString, WindowControl*> mapWindows = m_mapWindows;
    if (mapWindows.isEmpty() && (event->timerId() == m_nFastTimerId || event->timerId() == m_nSlowTimerId)) {
        stopTimers();
        return;
    }
    if (event->timerId() == m_nFastTimerId) {
        for (WindowControl* pWindow : mapWindows) {
            if (!pWindow->isEmbed()) pWindow->followBrowser();
        }
    } else if (event->timerId() == m_nSlowTimerId) {
        for (WindowControl* pWindow : mapWindows) {
            pWindow->checkForeground();
            pWindow->checkBrowserMove();
        }
    } else {
        QObject::timerEvent(event);
    }
}
