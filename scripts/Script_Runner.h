#pragma once

#include "link/Robot_Profile.h"
#include "scripts/Sys_Script.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>

class QTimer;
class Com;
namespace Frames {
struct Kind;
}

// Plays a script on the robot one step at a time, with no window: a move is written to the
// port as its frame, a wait sets the time to the next step, and after the last action it
// stops or, looping, starts again. The player window and `orvik --play` both drive it.
//
// Steps keep to a schedule: each one is due a fixed time after the previous one was due
// (20 ms after a move, the wait's length after a wait), so the time a step takes to run
// never adds up over a long script. On the runner's own clock (the monotonic one) a step's
// timer is armed a little early and the step waits the rest precisely, so that it lands on its
// time rather than whenever the event loop next wakes up.
//
// It runs on the thread it lives on: the player window hands it to the line's thread
// (Com::adopt), where the window's own work cannot delay a step. Its functions may be called
// from another thread: they run on its own, and the caller waits for them. Its signals reach
// the windows queued.
class Script_Runner : public QObject
{
    Q_OBJECT

public:
    static constexpr int Step = 20; // ms from a move (or from play) to the next step

    explicit Script_Runner(Com &com, QObject *parent = nullptr);

    // Read only on the runner's own thread, or while it does not play.
    const Action_List &script() const { return m_script; }
    // Goes on playing if it plays, from the new script's first action.
    void setScript(Action_List script);

    // The action the next step executes (0-based), which is also where play resumes.
    qint32 currentAction() const;
    void setCurrentAction(qint32 index);
    bool isPlaying() const;
    void setLoop(bool loop);
    // A move outside an own profile is refused as one that cannot be sent; the runner keeps
    // its own copy.
    void setProfile(const Robot_Profile &profile);

    // Starts playing from the current action after the short step; does nothing while playing.
    void play();
    // Timer off, back to the first action.
    void stop();
    // Timer off, the position kept.
    void halt();
    // Runs the action due, as the timer does; tests call it where order, not clock, counts.
    void runStep();

    // Where the schedule reads the time: a monotonic clock in nanoseconds. Another clock than
    // the runner's own (tests) is only read: steps then run when the timer fires, unwaited.
    // An empty clock gives the runner its own back.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock);

    // Why the move cannot be written as a frame the robot reads, or "" when it can.
    static QString unsendable(const Frames::Kind &kind, const Script_Action &action);

signals:
    // The action at index is about to run.
    void actionStarted(qint32 index);
    // The last action ran (or the script had none left); isPlaying() tells whether it loops.
    void finished();
    // Playing halted on a move that cannot be sent; it stays the current action.
    void refused(const Script_Action &action, const QString &why);
    // Playing halted on a move the robot did not take (it is not reading); play sends it again.
    void stalled(qint32 index);

private:
    // Runs f on the runner's thread; from another thread, the caller waits for it.
    template <class F>
    auto onOwnThread(F f) const
    {
        if (thread() == QThread::currentThread())
            return f();
        using Result = decltype(f());
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(const_cast<Script_Runner *>(this), f, Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(
                const_cast<Script_Runner *>(this), [&] { result = f(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }
    // The timer fired: on the runner's own clock, waits for the step's exact time, then runs it.
    void stepDue();
    void playFrom(qint64 dueNs);
    // Arms the timer so that the next step comes `length` ms after the one just due.
    void scheduleNext(qint64 length);

    Com &m_com;
    Action_List m_script;
    qint32 m_currentAction = 0;
    bool m_loop = false;
    Robot_Profile m_profile = Robot_Profile::builtIn();

    Clock m_now;
    bool m_ownClock = true;
    qint64 m_dueNs = 0;       // when the step now running (or about to run) was due
    qint64 m_lengthMs = Step; // the step length last set; "end" and unknown commands keep it
    QTimer *m_timer = nullptr;
};
