// The playback state of one player: one state, one transition table, and
// the little the transitions need to remember (reconnection attempts, the
// time of the last picture, when the connection started, when the next
// attempt is due).
//
// The machine knows no GStreamer: it is fed events (the player's requests,
// the bus messages the player translates, pictures and its own timers) and
// drives the pipeline through PlayerHost and time through PlayerClock. A
// unit test feeds it from a fake bus and a fake clock.
//
// Threads: GUI thread only. Streaming threads never reach the machine; what
// they see reaches it as an event the player posts to the GUI thread.
// An action that fails raises its follow-up event (Refused, Broken), handled
// right after it.
#ifndef VIDEO_CONTROL_PLAYERSTATEMACHINE_H
#define VIDEO_CONTROL_PLAYERSTATEMACHINE_H

#include "VcError.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace vc {

struct ReconnectPolicy {
    bool bEnabled = true;
    int iFirstDelayMs = 1000;  // doubles after each failed attempt ...
    int iMaxDelayMs = 30000;   // ... up to this
    int iLostAfterMs = 3000;   // a live stream without a picture this long is lost
    int iMaxAttempts = 0;      // 0: no limit

    // The wait before attempt iAttempt + 1 (iAttempt made so far).
    int delayMs(int iAttempt) const {
        return static_cast<int>(qMin<qint64>(static_cast<qint64>(iFirstDelayMs) << qMin(iAttempt, 20), iMaxDelayMs));
    }
};

// What a play window shows and reports ("state" of the status).
enum class PlayState { Stopped, Connecting, Playing, Paused, Reconnecting, Ended, Failed };

// Time for the machine: a monotonic clock and its two timers. When a timer
// fires, the clock's owner calls PlayerStateMachine::onTimer.
class PlayerClock {
public:
    enum class Timer { Watchdog, Retry };
    virtual ~PlayerClock() = default;
    virtual qint64 nowMs() const = 0;
    // Starts the timer anew (the watchdog repeats every iMs, the retry
    // fires once); iMs < 0 stops it.
    virtual void setTimer(Timer eTimer, int iMs) = 0;
};

// The pipeline and the outside world as the machine drives them.
class PlayerHost {
public:
    enum class PipelineState { Paused, Playing };
    virtual ~PlayerHost() = default;
    // Builds a pipeline and starts it towards PAUSED (bPreroll) or PLAYING.
    // An error object when it cannot start: OutOfDescriptors (may succeed
    // later) or another error (will not).
    virtual QJsonObject startPipeline(bool bPreroll) = 0;
    // false when the pipeline refuses the change.
    virtual bool setPipelineState(PipelineState eState) = 0;
    virtual void recalculateLatency() = 0;
    // Finishes a running recording ("recordStopped").
    virtual void endRecording() = 0;
    // Stops and drops the pipeline (nothing when there is none).
    virtual void teardown() = 0;
    virtual void raise(const QString& strEvent, const QJsonObject& extra) = 0;
};

class PlayerStateMachine {
public:
    // Each state, what a play window shows for it, and whether it watches
    // for silence (a live stream without pictures is lost, a file over HTTP
    // without data times out).
    //   Prerolling  a source that is not live prerolls (paused) before it plays
    //   Previewing  ... and showed its first picture while prerolling
    //   Connecting  asked to play, no picture yet
    //   Rejoining   a reconnection attempt, no picture yet
    //   Buffering   paused until the source's buffer fills again
    //   Holding     paused by request before the first picture
    //   Waiting     torn down; the next attempt waits for its time
#define VC_PLAYER_STATES(X)                                                                                      \
    X(Idle, Stopped, false)                                                                                      \
    X(Prerolling, Connecting, true)                                                                              \
    X(Previewing, Playing, true) X(Connecting, Connecting, true) X(Rejoining, Connecting, true)                  \
        X(Playing, Playing, true) X(Buffering, Playing, true) X(Holding, Paused, false) X(Paused, Paused, false) \
            X(Waiting, Reconnecting, false) X(Ended, Ended, false) X(Failed, Failed, false)
#define VC_PLAYER_STATE_ENUM(name, shown, watched) name,
    enum class State { VC_PLAYER_STATES(VC_PLAYER_STATE_ENUM) };
#undef VC_PLAYER_STATE_ENUM
    // The next state of a row that keeps the state.
    static constexpr State kStay = static_cast<State>(-1);

    enum class Event {
        Start,  // play() (after a stop)
        Stop,   // stop() (the reason in strText)
        Pause,  // requests: their failure is answered, the state stays
        Resume,
        Connected,   // the source found its first stream
        Frame,       // a picture arrived
        AsyncDone,   // bus: a state change or a seek completed
        Eos,         // bus: end of stream
        Error,       // bus: error (eError, strText)
        BufferLow,   // bus: buffering below 100 % (not live)
        BufferFull,  // bus: buffering at 100 % (not live)
        ClockLost,   // bus: the pipeline's clock went away
        Latency,     // bus: the latency of the pipeline changed
        Stall,       // the watchdog: silence for too long (strText)
        Refused,     // the pipeline could not start now (no descriptors)
        Broken,      // an action failed for good (eError, strText)
        RetryDue,    // the back-off ended
    };
    enum class Action {
        None,
        Build,         // start a pipeline (prerolling when the next state is Prerolling)
        Stop,          // end recording and pipeline; "stopped" (once per play)
        Connected,     // "connected"
        FirstPicture,  // "firstFrame" with "reconnected"
        Play,          // pipeline to PLAYING
        Resume,        // Play, counting the silence afresh
        PauseIt,       // pipeline to PAUSED
        Reclock,       // PAUSED and PLAYING again: a new clock is chosen
        Latency,       // recalculate the latency
        End,           // "ended", "stopped" with "ended"; the pipeline stays
        Lose,          // "lost" (first loss only), tear down, "reconnecting" after the back-off
        Fail,          // tear down, "error", "stopped" with "error"
        GiveUp,        // Fail with Unreachable after the last allowed attempt
    };
    // Live: the source is live; Reconnects: a live source whose policy
    // reconnects; GivesUp: ... and the last allowed attempt failed.
    enum class Guard { Always, Live, Reconnects, GivesUp };
    struct Transition {
        unsigned iStates;  // bit mask of State
        Event eEvent;
        Guard eGuard;
        State eNext;
        Action eAction;
    };
    struct EventData {
        Error eError = Error::StreamError;
        QString strText;
    };
    struct Source {
        bool bLive = false;
        // Files over HTTP: a server that stops sending times out.
        bool bTimesOut = false;
    };

    PlayerStateMachine(PlayerHost& host, PlayerClock& clock) : m_host(host), m_clock(clock) {}

    // Stops (raising "stopped" with "request" when something played) and
    // starts anew.
    void play(const Source& source, const ReconnectPolicy& policy);
    void stop(const QString& strReason);
    Error pause();
    Error resume();
    void setPolicy(const ReconnectPolicy& policy) {
        m_policy = policy;
    }
    const ReconnectPolicy& policy() const {
        return m_policy;
    }
    // Inputs: the player feeds what the bus and the pictures tell.
    Error handle(Event eEvent, const EventData& data);
    Error handle(Event eEvent) {
        return handle(eEvent, EventData());
    }
    // A buffering message: below 100 % pauses a stream that is not live.
    void buffering(int iPercent);
    void onTimer(PlayerClock::Timer eTimer);

    State state() const {
        return m_eState;
    }
    PlayState shownState() const;
    // Whether the state watches for silence (its watchdog runs).
    static bool watched(State eState);
    // The state's name in the table.
    static QString name(State eState);
    int attempt() const {
        return m_iAttempt;
    }
    // Until the next attempt starts, -1 when none waits.
    int retryInMs() const;
    QJsonObject failure() const {
        return m_failure;
    }
    bool isLive() const {
        return m_source.bLive;
    }

private:
    // The first matching row wins; a state without a row for an event
    // ignores it. Requests answer Error::NothingPlaying when no row takes
    // them.
    static const Transition kTable[];

    Error step(Event eEvent, const EventData& data);
    const Transition* find(Event eEvent) const;
    bool holds(Guard eGuard) const;
    // Runs the action of a row; false with the follow-up event when it
    // failed.
    bool run(Action eAction, const EventData& data, Event* pFollowUp, EventData* pFollowUpData);
    void enter(State eState);
    void raiseStopped(const QString& strReason);
    void fail(Error eError, const QString& strDetail);
    // Why the stream counts as silent for too long (empty: it does not).
    QString stall() const;

    PlayerHost& m_host;
    PlayerClock& m_clock;
    Source m_source;
    ReconnectPolicy m_policy;
    State m_eState = State::Idle;
    bool m_bStopRaised = true;  // "stopped" went out since the last play
    int m_iAttempt = 0;         // reconnection attempts since the last picture
    qint64 m_iLastPictureMs = 0;
    qint64 m_iConnectingMs = 0;  // when the pipeline was built (or resumed)
    qint64 m_iRetryAtMs = -1;
    QJsonObject m_failure;
};

// The clock of a real player: a monotonic clock and two QTimers that call
// the machine back (GUI thread).
class SteadyPlayerClock : public PlayerClock {
public:
    SteadyPlayerClock();
    void attach(PlayerStateMachine* pMachine) { m_pMachine = pMachine; }
    qint64 nowMs() const override { return m_clock.elapsed(); }
    void setTimer(Timer eTimer, int iMs) override;

private:
    QElapsedTimer m_clock;
    QTimer m_watchdog;
    QTimer m_retry;
    PlayerStateMachine* m_pMachine = nullptr;
};

}  // namespace vc

#endif  // VIDEO_CONTROL_PLAYERSTATEMACHINE_H
