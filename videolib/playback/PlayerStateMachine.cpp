#include "PlayerStateMachine.h"

namespace vc {

namespace {

using State = PlayerStateMachine::State;
using Event = PlayerStateMachine::Event;
using Action = PlayerStateMachine::Action;
using Guard = PlayerStateMachine::Guard;

// How often a watched state checks for silence.
constexpr int kWatchdogMs = 250;

constexpr unsigned bit(State eState) {
    return 1u << static_cast<unsigned>(eState);
}

constexpr unsigned kAny = ~0u;
// Playing towards a first picture of a first connection.
constexpr unsigned kStarting = bit(State::Prerolling) | bit(State::Connecting);
// Pictures came.
constexpr unsigned kShowing = bit(State::Previewing) | bit(State::Playing) | bit(State::Buffering);
// Shown as connecting or playing.
constexpr unsigned kRunning = kStarting | bit(State::Rejoining) | kShowing;
constexpr unsigned kPaused = bit(State::Holding) | bit(State::Paused);
constexpr unsigned kPipeline = kRunning | kPaused | bit(State::Ended);
// A live stream that may come back after a loss.
constexpr unsigned kRejoinable = bit(State::Playing) | bit(State::Rejoining);

}  // namespace

// clang-format off
const PlayerStateMachine::Transition PlayerStateMachine::kTable[] = {
    // states                   event              guard               next                action
    {kAny,                      Event::Stop,       Guard::Always,      State::Idle,        Action::Stop},
    {bit(State::Idle),          Event::Start,      Guard::Live,        State::Connecting,  Action::Build},
    {bit(State::Idle),          Event::Start,      Guard::Always,      State::Prerolling,  Action::Build},
    {bit(State::Waiting),       Event::RetryDue,   Guard::Always,      State::Rejoining,   Action::Build},

    {kStarting,                 Event::Pause,      Guard::Always,      State::Holding,     Action::PauseIt},
    {kShowing,                  Event::Pause,      Guard::Always,      State::Paused,      Action::PauseIt},
    {kPaused,                   Event::Pause,      Guard::Always,      kStay,              Action::None},
    {bit(State::Holding),       Event::Resume,     Guard::Always,      State::Connecting,  Action::Resume},
    {bit(State::Paused),        Event::Resume,     Guard::Always,      State::Playing,     Action::Resume},
    {kRunning,                  Event::Resume,     Guard::Always,      kStay,              Action::None},

    {kAny,                      Event::Connected,  Guard::Always,      kStay,              Action::Connected},
    {bit(State::Prerolling),    Event::Frame,      Guard::Always,      State::Previewing,  Action::FirstPicture},
    {bit(State::Connecting) | bit(State::Rejoining),
                                Event::Frame,      Guard::Always,      State::Playing,     Action::FirstPicture},
    {bit(State::Holding),       Event::Frame,      Guard::Always,      State::Paused,      Action::FirstPicture},
    {bit(State::Prerolling),    Event::AsyncDone,  Guard::Always,      State::Connecting,  Action::Play},
    {bit(State::Previewing),    Event::AsyncDone,  Guard::Always,      State::Playing,     Action::Play},
    {bit(State::Playing),       Event::BufferLow,  Guard::Always,      State::Buffering,   Action::PauseIt},
    {bit(State::Buffering),     Event::BufferFull, Guard::Always,      State::Playing,     Action::Play},
    {bit(State::Connecting) | bit(State::Rejoining) | bit(State::Playing),
                                Event::ClockLost,  Guard::Always,      kStay,              Action::Reclock},
    {kPipeline,                 Event::Latency,    Guard::Always,      kStay,              Action::Latency},

    // A live stream that drops comes back after a back-off, until the
    // policy's last attempt; anything else ends or fails.
    {kRejoinable,               Event::Error,      Guard::GivesUp,     State::Failed,      Action::GiveUp},
    {kRejoinable,               Event::Error,      Guard::Reconnects,  State::Waiting,     Action::Lose},
    {kPipeline,                 Event::Error,      Guard::Always,      State::Failed,      Action::Fail},
    {kRejoinable,               Event::Eos,        Guard::GivesUp,     State::Failed,      Action::GiveUp},
    {kRejoinable,               Event::Eos,        Guard::Reconnects,  State::Waiting,     Action::Lose},
    {kRunning | kPaused,        Event::Eos,        Guard::Always,      State::Ended,       Action::End},
    {kRejoinable,               Event::Stall,      Guard::GivesUp,     State::Failed,      Action::GiveUp},
    {kRejoinable,               Event::Stall,      Guard::Reconnects,  State::Waiting,     Action::Lose},
    {kRunning,                  Event::Stall,      Guard::Always,      State::Failed,      Action::Fail},
    {bit(State::Rejoining),     Event::Refused,    Guard::GivesUp,     State::Failed,      Action::GiveUp},
    {bit(State::Rejoining),     Event::Refused,    Guard::Reconnects,  State::Waiting,     Action::Lose},
    {kAny,                      Event::Refused,    Guard::Always,      State::Failed,      Action::Fail},
    {kAny,                      Event::Broken,     Guard::Always,      State::Failed,      Action::Fail},
};
// clang-format on

PlayState PlayerStateMachine::shownState() const {
#define VC_PLAYER_STATE_SHOWN(name, shown, watched) \
    case State::name: return PlayState::shown;
    switch (m_eState) { VC_PLAYER_STATES(VC_PLAYER_STATE_SHOWN) }
#undef VC_PLAYER_STATE_SHOWN
    return PlayState::Stopped;
}

bool PlayerStateMachine::watched(State eState) {
#define VC_PLAYER_STATE_WATCHED(name, shown, watched) \
    case State::name: return watched;
    switch (eState) { VC_PLAYER_STATES(VC_PLAYER_STATE_WATCHED) }
#undef VC_PLAYER_STATE_WATCHED
    return false;
}

QString PlayerStateMachine::name(State eState) {
#define VC_PLAYER_STATE_NAME(name, shown, watched) \
    case State::name: return QStringLiteral(#name);
    switch (eState) { VC_PLAYER_STATES(VC_PLAYER_STATE_NAME) }
#undef VC_PLAYER_STATE_NAME
    return QString();
}

void PlayerStateMachine::play(const Source& source, const ReconnectPolicy& policy) {
    stop(QStringLiteral("request"));
    m_bStopRaised = false;
    m_failure = QJsonObject();
    m_source = source;
    m_policy = policy;
    m_iAttempt = 0;
    handle(Event::Start);
}

void PlayerStateMachine::stop(const QString& strReason) {
    EventData data;
    data.strText = strReason;
    handle(Event::Stop, data);
}

Error PlayerStateMachine::pause() {
    if (m_source.bLive && m_eState != State::Idle) return Error::NotSeekable;
    return handle(Event::Pause);
}

Error PlayerStateMachine::resume() {
    return handle(Event::Resume);
}

void PlayerStateMachine::buffering(int iPercent) {
    if (!m_source.bLive) handle(iPercent < 100 ? Event::BufferLow : Event::BufferFull);
}

void PlayerStateMachine::onTimer(PlayerClock::Timer eTimer) {
    if (eTimer == PlayerClock::Timer::Retry) {
        handle(Event::RetryDue);
        return;
    }
    EventData data;
    data.strText = stall();
    data.eError = Error::TimedOut;
    if (!data.strText.isEmpty()) handle(Event::Stall, data);
}

int PlayerStateMachine::retryInMs() const {
    return m_eState == State::Waiting ? static_cast<int>(qMax<qint64>(0, m_iRetryAtMs - m_clock.nowMs())) : -1;
}

Error PlayerStateMachine::handle(Event eEvent, const EventData& data) {
    if (eEvent == Event::Frame) m_iLastPictureMs = m_clock.nowMs();
    return step(eEvent, data);
}

Error PlayerStateMachine::step(Event eEvent, const EventData& data) {
    const bool bRequest = eEvent == Event::Pause || eEvent == Event::Resume;
    const Transition* pRow = find(eEvent);
    if (!pRow) return bRequest ? Error::NothingPlaying : Error::None;
    const State ePrevious = m_eState;
    enter(pRow->eNext == kStay ? ePrevious : pRow->eNext);
    Event eFollowUp = Event::Broken;
    EventData followUp;
    if (run(pRow->eAction, data, &eFollowUp, &followUp)) return Error::None;
    if (bRequest) {
        enter(ePrevious);
        return Error::StreamError;
    }
    return step(eFollowUp, followUp);
}

const PlayerStateMachine::Transition* PlayerStateMachine::find(Event eEvent) const {
    for (const Transition& row : kTable) {
        if ((row.iStates & bit(m_eState)) && row.eEvent == eEvent && holds(row.eGuard)) return &row;
    }
    return nullptr;
}

bool PlayerStateMachine::holds(Guard eGuard) const {
    const bool bReconnects = m_source.bLive && m_policy.bEnabled;
    const bool bLastAttempt = m_policy.iMaxAttempts > 0 && m_iAttempt >= m_policy.iMaxAttempts;
    switch (eGuard) {
    case Guard::Always: return true;
    case Guard::Live: return m_source.bLive;
    case Guard::Reconnects: return bReconnects;
    case Guard::GivesUp: return bReconnects && bLastAttempt;
    }
    return false;
}

void PlayerStateMachine::enter(State eState) {
    if (watched(eState) != watched(m_eState))
        m_clock.setTimer(PlayerClock::Timer::Watchdog, watched(eState) ? kWatchdogMs : -1);
    if (m_eState == State::Waiting && eState != State::Waiting) {
        m_clock.setTimer(PlayerClock::Timer::Retry, -1);
        m_iRetryAtMs = -1;
    }
    m_eState = eState;
}

bool PlayerStateMachine::run(Action eAction, const EventData& data, Event* pFollowUp, EventData* pFollowUpData) {
    using Pipeline = PlayerHost::PipelineState;
    switch (eAction) {
    case Action::None: return true;
    case Action::Build: {
        m_iConnectingMs = m_clock.nowMs();
        const QJsonObject refused = m_host.startPipeline(m_eState == State::Prerolling);
        if (refused.isEmpty()) return true;
        pFollowUpData->eError = static_cast<Error>(refused.value(QStringLiteral("errorCode")).toInt());
        pFollowUpData->strText = refused.value(QStringLiteral("errorMessage")).toString();
        *pFollowUp = pFollowUpData->eError == Error::OutOfDescriptors ? Event::Refused : Event::Broken;
        return false;
    }
    case Action::Stop:
        m_host.endRecording();
        m_host.teardown();
        raiseStopped(data.strText);
        return true;
    case Action::Connected: m_host.raise(QStringLiteral("connected"), QJsonObject()); return true;
    case Action::FirstPicture: {
        const bool bReconnected = m_iAttempt > 0;
        m_iAttempt = 0;
        m_host.raise(QStringLiteral("firstFrame"), QJsonObject{{"reconnected", bReconnected}});
        return true;
    }
    case Action::Play:
    case Action::Resume:
    case Action::PauseIt:
    case Action::Reclock: {
        // A stream resumed counts its silence afresh.
        if (eAction == Action::Resume) m_iLastPictureMs = m_iConnectingMs = m_clock.nowMs();
        const bool bDone =
            eAction == Action::Play || eAction == Action::Resume ? m_host.setPipelineState(Pipeline::Playing)
            : eAction == Action::PauseIt
                ? m_host.setPipelineState(Pipeline::Paused)
                : m_host.setPipelineState(Pipeline::Paused) && m_host.setPipelineState(Pipeline::Playing);
        if (bDone) return true;
        pFollowUpData->eError = Error::StreamError;
        pFollowUpData->strText = QStringLiteral("the stream does not play");
        *pFollowUp = Event::Broken;
        return false;
    }
    case Action::Latency: m_host.recalculateLatency(); return true;
    case Action::End:
        m_host.endRecording();
        m_host.raise(QStringLiteral("ended"), QJsonObject());
        raiseStopped(QStringLiteral("ended"));
        return true;
    case Action::Lose: {
        // Only the first loss of a connection is reported; failed attempts
        // to come back only reschedule.
        if (m_iAttempt == 0) {
            m_host.raise(QStringLiteral("lost"), QJsonObject{{"reason", data.strText}});
            // A listener may have stopped or replaced the play from inside
            // the event: then nothing of this loss goes on.
            if (m_eState != State::Waiting) return true;
        }
        // A recording started while coming back ends with this connection too.
        m_host.endRecording();
        m_host.teardown();
        const int iDelay = m_policy.delayMs(m_iAttempt);
        ++m_iAttempt;
        m_iRetryAtMs = m_clock.nowMs() + iDelay;
        m_clock.setTimer(PlayerClock::Timer::Retry, iDelay);
        m_host.raise(QStringLiteral("reconnecting"), QJsonObject{{"attempt", m_iAttempt}, {"delay", iDelay}});
        return true;
    }
    case Action::Fail: fail(data.eError, data.strText); return true;
    case Action::GiveUp:
        fail(Error::Unreachable, QStringLiteral("gave up after %1 attempts: %2").arg(m_iAttempt).arg(data.strText));
        return true;
    }
    return true;
}

void PlayerStateMachine::fail(Error eError, const QString& strDetail) {
    m_host.endRecording();
    m_host.teardown();
    m_failure = errorResult(eError, strDetail);
    m_host.raise(QStringLiteral("error"), m_failure);
    raiseStopped(QStringLiteral("error"));
}

void PlayerStateMachine::raiseStopped(const QString& strReason) {
    if (m_bStopRaised) return;
    m_bStopRaised = true;
    m_host.raise(QStringLiteral("stopped"), QJsonObject{{"reason", strReason}});
}

QString PlayerStateMachine::stall() const {
    const qint64 iNowMs = m_clock.nowMs();
    const qint64 iConnectLimitMs = qMax(2 * m_policy.iLostAfterMs, 5000);
    const bool bShowing = (kShowing & bit(m_eState)) != 0;
    if (m_source.bTimesOut) {
        // A server that stops sending a file fails as a time-out (before
        // the demuxer calls the stalled stream an internal error).
        const qint64 iSilentMs = iNowMs - (bShowing ? m_iLastPictureMs : m_iConnectingMs);
        if ((kRunning & bit(m_eState)) && iSilentMs > iConnectLimitMs)
            return QStringLiteral("no data from the server for %1 ms").arg(iSilentMs);
        return QString();
    }
    if (!m_source.bLive || !m_policy.bEnabled) return QString();
    if (m_eState == State::Playing && iNowMs - m_iLastPictureMs > m_policy.iLostAfterMs)
        return QStringLiteral("no picture for %1 ms").arg(iNowMs - m_iLastPictureMs);
    if (m_eState == State::Rejoining && iNowMs - m_iConnectingMs > iConnectLimitMs)
        return QStringLiteral("no picture within %1 ms of reconnecting").arg(iConnectLimitMs);
    return QString();
}

SteadyPlayerClock::SteadyPlayerClock() {
    m_clock.start();
    m_retry.setSingleShot(true);
    QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
        if (m_pMachine) m_pMachine->onTimer(Timer::Watchdog);
    });
    QObject::connect(&m_retry, &QTimer::timeout, [this] {
        if (m_pMachine) m_pMachine->onTimer(Timer::Retry);
    });
}

void SteadyPlayerClock::setTimer(Timer eTimer, int iMs) {
    QTimer& timer = eTimer == Timer::Watchdog ? m_watchdog : m_retry;
    if (iMs < 0) {
        timer.stop();
    } else {
        timer.start(iMs);
    }
}

}  // namespace vc
