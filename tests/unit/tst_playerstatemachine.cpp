// The player's state machine without a pipeline: a fake bus (the events the
// player would translate from GStreamer's messages), a fake clock that runs
// the watchdog and the back-off, and a fake host that logs what the machine
// does to the pipeline and which events it raises. Each row is a script of
// steps and the log it must leave.
#include "PlayerStateMachine.h"

#include <QtTest>

using namespace vc;
using Event = PlayerStateMachine::Event;

namespace {

class FakeClock : public PlayerClock {
public:
    PlayerStateMachine* pMachine = nullptr;
    qint64 iNowMs = 0;

    qint64 nowMs() const override { return iNowMs; }
    void setTimer(Timer eTimer, int iMs) override {
        if (eTimer == Timer::Retry) {
            m_iRetryAtMs = iMs < 0 ? -1 : iNowMs + iMs;
        } else {
            m_iWatchdogEveryMs = iMs;
            m_iWatchdogAtMs = iMs < 0 ? -1 : iNowMs + iMs;
        }
    }
    // Moves time on, firing the timers that fall due on the way.
    void advance(qint64 iMs) {
        const qint64 iTargetMs = iNowMs + iMs;
        for (;;) {
            const bool bWatchdog = m_iWatchdogAtMs >= 0 && m_iWatchdogAtMs <= iTargetMs &&
                                   (m_iRetryAtMs < 0 || m_iWatchdogAtMs <= m_iRetryAtMs);
            const bool bRetry = !bWatchdog && m_iRetryAtMs >= 0 && m_iRetryAtMs <= iTargetMs;
            if (bWatchdog) {
                iNowMs = m_iWatchdogAtMs;
                m_iWatchdogAtMs += m_iWatchdogEveryMs;
                pMachine->onTimer(Timer::Watchdog);
            } else if (bRetry) {
                iNowMs = std::exchange(m_iRetryAtMs, -1);
                pMachine->onTimer(Timer::Retry);
            } else {
                break;
            }
        }
        iNowMs = iTargetMs;
    }

private:
    qint64 m_iWatchdogAtMs = -1;
    int m_iWatchdogEveryMs = 0;
    qint64 m_iRetryAtMs = -1;
};

class FakeHost : public PlayerHost {
public:
    QStringList log;
    bool bRefuseNext = false;    // no descriptors for the next start
    bool bNoSourceNext = false;  // no source element for the next start
    bool bFailNextChange = false;
    QString strStopOn;  // a listener that stops the play window on this event
    PlayerStateMachine* pMachine = nullptr;

    QJsonObject startPipeline(bool bPreroll) override {
        log << (bPreroll ? QStringLiteral("build:preroll") : QStringLiteral("build"));
        if (std::exchange(bRefuseNext, false)) return errorResult(Error::OutOfDescriptors);
        if (std::exchange(bNoSourceNext, false)) return errorResult(Error::UnsupportedCodec);
        m_bPipeline = true;
        return QJsonObject();
    }
    bool setPipelineState(PipelineState eState) override {
        log << (eState == PipelineState::Playing ? QStringLiteral("PLAYING") : QStringLiteral("PAUSED"));
        return !std::exchange(bFailNextChange, false);
    }
    void recalculateLatency() override { log << QStringLiteral("latency"); }
    void endRecording() override {}
    void teardown() override {
        if (std::exchange(m_bPipeline, false)) log << QStringLiteral("teardown");
    }
    void raise(const QString& strEvent, const QJsonObject& extra) override {
        QString strDetail;
        if (strEvent == QLatin1String("firstFrame")) {
            strDetail = extra.value(QStringLiteral("reconnected")).toBool() ? "true" : "false";
        } else if (strEvent == QLatin1String("lost") || strEvent == QLatin1String("stopped")) {
            strDetail = extra.value(QStringLiteral("reason")).toString();
        } else if (strEvent == QLatin1String("reconnecting")) {
            strDetail = QStringLiteral("%1,%2")
                            .arg(extra.value(QStringLiteral("attempt")).toInt())
                            .arg(extra.value(QStringLiteral("delay")).toInt());
        } else if (strEvent == QLatin1String("error")) {
            strDetail = QString::number(extra.value(QStringLiteral("errorCode")).toInt());
        }
        log << (strDetail.isEmpty() ? strEvent : QStringLiteral("%1(%2)").arg(strEvent, strDetail));
        if (strEvent == strStopOn) pMachine->stop(QStringLiteral("listener"));
    }

private:
    bool m_bPipeline = false;
};

}  // namespace

class TstPlayerStateMachine : public QObject {
    Q_OBJECT
private slots:
    void scripts_data();
    void scripts();
};

// Steps: "live", "file", "http" (a file over HTTP) play; "off" (no
// reconnection) and "max:N" (attempts) set the policy of the next play;
// bus: "connected", "frame", "async", "eos", "error", "buffer:N",
// "clocklost", "latency"; requests "pause", "resume" (their error logged as
// "pause:N"), "stop" or "stop:reason"; "stopon:event" makes a listener stop
// the play window on that event; "refuse", "nosource" and "failset" make the
// next start or state change fail; "wait:N" lets N ms pass; "in"
// logs the time to the next attempt; "=State" checks the state.
namespace {

// One script per row: its name, its steps and the log it must leave.
struct Script {
    const char* szName;
    const char* szSteps;
    const char* szExpected;
};
const Script kScripts[] = {
    // Live streams: connect, first picture, losses and the back-off.
    {"live plays until stopped", "live connected =Connecting frame =Playing stop =Idle wait:60000",
     "build, connected, firstFrame(false), teardown, stopped(request)"},
    {"silence loses, the back-off doubles 1/2/4/8 s, a picture is back",
     "live connected frame wait:3000 =Playing wait:250 =Waiting in wait:999 =Waiting wait:1 =Rejoining error in "
     "wait:2000 error wait:4000 error in wait:7999 =Waiting wait:1 connected frame =Playing wait:3000",
     "build, connected, firstFrame(false), lost(no picture for 3250 ms), teardown, reconnecting(1,1000), in:1000, "
     "build, teardown, reconnecting(2,2000), in:2000, build, teardown, reconnecting(3,4000), build, teardown, "
     "reconnecting(4,8000), in:8000, build, connected, firstFrame(true)"},
    {"an attempt without a picture gives way after 6 s",
     "live frame wait:3250 wait:1000 =Rejoining wait:6000 =Rejoining wait:250 =Waiting",
     "build, firstFrame(false), lost(no picture for 3250 ms), teardown, reconnecting(1,1000), build, teardown, "
     "reconnecting(2,2000)"},
    {"a listener that stops on the loss hears no reconnecting", "live frame stopon:lost error =Idle wait:60000 =Idle",
     "build, firstFrame(false), lost(bus error), teardown, stopped(listener)"},
    {"end of a live stream loses it", "live frame eos =Waiting",
     "build, firstFrame(false), lost(end of stream), teardown, reconnecting(1,1000)"},
    {"an error of a live stream loses it", "live frame error =Waiting",
     "build, firstFrame(false), lost(bus error), teardown, reconnecting(1,1000)"},
    {"an error before the first picture fails", "live connected error =Failed wait:60000",
     "build, connected, teardown, error(3009), stopped(error)"},
    {"end before the first picture ends", "live eos =Ended", "build, ended, stopped(ended)"},
    {"without reconnection a drop fails", "off live frame error =Failed",
     "build, firstFrame(false), teardown, error(3009), stopped(error)"},
    {"without reconnection silence is no loss", "off live frame wait:60000 =Playing", "build, firstFrame(false)"},
    {"the last attempt gives up", "max:2 live frame error wait:1000 error wait:2000 error =Failed wait:60000",
     "build, firstFrame(false), lost(bus error), teardown, reconnecting(1,1000), build, teardown, "
     "reconnecting(2,2000), build, teardown, error(3006), stopped(error)"},
    {"no descriptors: a first start fails", "refuse live =Failed", "build, error(3023), stopped(error)"},
    {"no descriptors: an attempt waits again", "live frame error refuse wait:1000 =Waiting",
     "build, firstFrame(false), lost(bus error), teardown, reconnecting(1,1000), build, reconnecting(2,2000)"},
    {"no source element fails", "nosource file =Failed", "build:preroll, error(3008), stopped(error)"},
    {"a live stream does not pause", "live frame pause =Playing", "build, firstFrame(false), pause:3005"},
    {"a lost clock is chosen again, latency recalculated", "live frame clocklost latency =Playing",
     "build, firstFrame(false), PAUSED, PLAYING, latency"},
    {"a live stream does not wait for its buffer", "live frame buffer:10 =Playing", "build, firstFrame(false)"},
    {"playing again stops first", "live frame live =Connecting",
     "build, firstFrame(false), teardown, stopped(request), build"},
    // Files and HTTP: preroll, pause, buffering, time-outs, failed changes.
    {"a file prerolls, plays and ends",
     "file =Prerolling frame =Previewing async =Playing eos =Ended wait:60000 stop =Idle",
     "build:preroll, firstFrame(false), PLAYING, ended, stopped(ended), teardown"},
    {"prerolled before its first picture", "file async =Connecting frame =Playing",
     "build:preroll, PLAYING, firstFrame(false)"},
    {"pause and resume", "file frame async pause =Paused pause resume =Playing resume",
     "build:preroll, firstFrame(false), PLAYING, PAUSED, PLAYING"},
    {"paused before the first picture", "file pause =Holding async =Holding frame =Paused resume =Playing",
     "build:preroll, PAUSED, firstFrame(false), PLAYING"},
    {"resumed before the first picture", "file pause resume =Connecting", "build:preroll, PAUSED, PLAYING"},
    {"a refused pause keeps playing", "file frame async failset pause =Playing",
     "build:preroll, firstFrame(false), PLAYING, PAUSED, pause:3009"},
    {"a refused start to play fails", "file frame failset async =Failed",
     "build:preroll, firstFrame(false), PLAYING, teardown, error(3009), stopped(error)"},
    {"nothing to resume after the end", "file async eos resume pause",
     "build:preroll, PLAYING, ended, stopped(ended), resume:3004, pause:3004"},
    {"an empty buffer pauses until full",
     "file frame async buffer:40 =Buffering buffer:80 resume =Buffering buffer:100 =Playing",
     "build:preroll, firstFrame(false), PLAYING, PAUSED, PLAYING"},
    {"a silent HTTP server times out", "http wait:6000 =Prerolling wait:250 =Failed",
     "build:preroll, teardown, error(3026), stopped(error)"},
    {"an HTTP server that stops sending times out", "http frame async wait:6000 =Playing wait:250 =Failed",
     "build:preroll, firstFrame(false), PLAYING, teardown, error(3026), stopped(error)"},
    {"a paused file does not time out", "http frame async pause wait:60000 =Paused",
     "build:preroll, firstFrame(false), PLAYING, PAUSED"},
    // A stop in every state: "stopped" once per play, no timer left behind.
    {"stop: Idle", "stop =Idle", ""},
    {"stop: Prerolling", "file stop:layout =Idle", "build:preroll, teardown, stopped(layout)"},
    {"stop: Previewing", "file frame stop =Idle", "build:preroll, firstFrame(false), teardown, stopped(request)"},
    {"stop: Connecting", "live stop =Idle wait:60000", "build, teardown, stopped(request)"},
    {"stop: Rejoining", "live frame error wait:1000 =Rejoining stop =Idle wait:60000",
     "build, firstFrame(false), lost(bus error), teardown, reconnecting(1,1000), build, teardown, stopped(request)"},
    {"stop: Buffering", "file frame async buffer:0 =Buffering stop =Idle",
     "build:preroll, firstFrame(false), PLAYING, PAUSED, teardown, stopped(request)"},
    {"stop: Holding", "file pause =Holding stop =Idle", "build:preroll, PAUSED, teardown, stopped(request)"},
    {"stop: Paused", "file frame async pause stop =Idle",
     "build:preroll, firstFrame(false), PLAYING, PAUSED, teardown, stopped(request)"},
    {"stop: Waiting", "live frame error =Waiting stop =Idle in wait:60000",
     "build, firstFrame(false), lost(bus error), teardown, reconnecting(1,1000), stopped(request), in:-1"},
    {"stop: Failed", "live error =Failed stop =Idle", "build, teardown, error(3009), stopped(error)"},
};

}  // namespace

void TstPlayerStateMachine::scripts_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    for (const Script& script : kScripts)
        QTest::newRow(script.szName) << QString::fromLatin1(script.szSteps) << QString::fromLatin1(script.szExpected);
}

void TstPlayerStateMachine::scripts() {
    QFETCH(QString, script);
    QFETCH(QString, expected);
    FakeHost host;
    FakeClock clock;
    PlayerStateMachine machine(host, clock);
    clock.pMachine = &machine;
    host.pMachine = &machine;
    ReconnectPolicy policy;
    // Bus events with the text they carry, and the host's one-shot failures.
    const QHash<QString, std::pair<Event, QString>> kBus{
        {"connected", {Event::Connected, {}}},  {"frame", {Event::Frame, {}}},
        {"async", {Event::AsyncDone, {}}},      {"eos", {Event::Eos, "end of stream"}},
        {"error", {Event::Error, "bus error"}}, {"clocklost", {Event::ClockLost, {}}},
        {"latency", {Event::Latency, {}}}};
    const QHash<QString, bool*> kFailNext{
        {"refuse", &host.bRefuseNext}, {"nosource", &host.bNoSourceNext}, {"failset", &host.bFailNextChange}};
    const auto request = [&](const QString& strName, Error eError) {
        if (eError != Error::None) host.log << QStringLiteral("%1:%2").arg(strName).arg(static_cast<int>(eError));
    };
    for (const QString& strStep : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString strName = strStep.section(QLatin1Char(':'), 0, 0);
        const QString strArgument = strStep.section(QLatin1Char(':'), 1);
        if (strStep == QLatin1String("live") || strStep == QLatin1String("file") || strStep == QLatin1String("http")) {
            PlayerStateMachine::Source source;
            source.bLive = strStep == QLatin1String("live");
            source.bTimesOut = strStep == QLatin1String("http");
            machine.play(source, policy);
        } else if (strStep == QLatin1String("off")) {
            policy.bEnabled = false;
        } else if (strName == QLatin1String("max")) {
            policy.iMaxAttempts = strArgument.toInt();
        } else if (kBus.contains(strStep)) {
            PlayerStateMachine::EventData data;
            data.strText = kBus[strStep].second;
            machine.handle(kBus[strStep].first, data);
        } else if (kFailNext.contains(strStep)) {
            *kFailNext[strStep] = true;
        } else if (strName == QLatin1String("buffer")) {
            machine.buffering(strArgument.toInt());
        } else if (strStep == QLatin1String("pause")) {
            request(strStep, machine.pause());
        } else if (strStep == QLatin1String("resume")) {
            request(strStep, machine.resume());
        } else if (strName == QLatin1String("stop")) {
            machine.stop(strArgument.isEmpty() ? QStringLiteral("request") : strArgument);
        } else if (strName == QLatin1String("stopon")) {
            host.strStopOn = strArgument;
        } else if (strName == QLatin1String("wait")) {
            clock.advance(strArgument.toInt());
        } else if (strStep == QLatin1String("in")) {
            host.log << QStringLiteral("in:%1").arg(machine.retryInMs());
        } else if (strStep.startsWith(QLatin1Char('='))) {
            const QString strState = PlayerStateMachine::name(machine.state());
            if (strState != strStep.mid(1)) {
                QFAIL(qPrintable(QStringLiteral("at %1 (t=%2 ms, after \"%3\"): %4")
                                     .arg(strStep)
                                     .arg(clock.iNowMs)
                                     .arg(host.log.join(QStringLiteral(", ")), strState)));
            }
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step %1").arg(strStep)));
        }
    }
    QCOMPARE(host.log.join(QStringLiteral(", ")), expected);
}

QTEST_GUILESS_MAIN(TstPlayerStateMachine)
#include "tst_playerstatemachine.moc"
