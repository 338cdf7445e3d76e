#include "scripts/Script_Runner.h"

#include "link/Com.h"
#include "link/Frames.h"
#include "scripts/Script_Schedule.h"

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>

namespace {

constexpr qint64 NsPerMs = 1000000;
constexpr qint64 NsPerS = 1000000000;
// How much earlier than a step its timer is armed: the event loop wakes up to a millisecond or
// so late, and the step itself waits for the rest.
constexpr qint64 EarlyNs = 2 * NsPerMs;

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * NsPerS + now.tv_nsec;
}

const Frames::Kind *moveKind(const QString &command)
{
    for (const Frames::Kind &kind : Frames::Moves) {
        if (command == QLatin1StringView(kind.mnemonic.data(), qsizetype(kind.mnemonic.size())))
            return &kind;
    }
    return nullptr;
}

} // namespace

Script_Runner::Script_Runner(Com &com, QObject *parent)
    : QObject(parent)
    , m_com(com)
{
    m_now = monotonicNs;

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("T_Script"));
    m_timer->setTimerType(Qt::PreciseTimer);
    // Each step arms the timer for the next one itself.
    m_timer->setSingleShot(true);
    m_timer->setInterval(Step);
    connect(m_timer, &QTimer::timeout, this, &Script_Runner::stepDue);
}

void Script_Runner::setClock(Clock clock)
{
    onOwnThread([&] {
        m_ownClock = !clock;
        m_now = clock ? std::move(clock) : Clock(monotonicNs);
    });
}

void Script_Runner::stepDue()
{
    if (m_ownClock) {
        const timespec due{time_t(m_dueNs / NsPerS), long(m_dueNs % NsPerS)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
    }
    runStep();
}

void Script_Runner::setScript(Action_List script)
{
    onOwnThread([&] {
        m_script = std::move(script);
        m_currentAction = 0;
    });
}

qint32 Script_Runner::currentAction() const
{
    return onOwnThread([this] { return m_currentAction; });
}

void Script_Runner::setCurrentAction(qint32 index)
{
    onOwnThread([this, index] { m_currentAction = index; });
}

bool Script_Runner::isPlaying() const
{
    return onOwnThread([this] { return m_timer->isActive(); });
}

void Script_Runner::setLoop(bool loop)
{
    onOwnThread([this, loop] { m_loop = loop; });
}

void Script_Runner::setProfile(const Robot_Profile &profile)
{
    onOwnThread([this, profile] { m_profile = profile; });
}

void Script_Runner::play()
{
    onOwnThread([this] {
        // Playing already: starting again would cut the step now timed (a long wait) to the
        // short one.
        if (!m_timer->isActive())
            playFrom(m_now());
    });
}

void Script_Runner::playFrom(qint64 dueNs)
{
    // Play always starts with the short step, whatever the last action set.
    m_dueNs = dueNs;
    m_lengthMs = Step;
    scheduleNext(Step);
}

void Script_Runner::stop()
{
    onOwnThread([this] {
        m_timer->stop();
        m_currentAction = 0;
    });
}

void Script_Runner::halt()
{
    onOwnThread([this] { m_timer->stop(); });
}

void Script_Runner::scheduleNext(qint64 length)
{
    const qint64 now = m_now();
    qint64 due = m_dueNs + length * NsPerMs;
    // After a stall longer than a step the next step would already be late: go on from now
    // rather than fire the missed steps back to back.
    if (due < now)
        due = now + length * NsPerMs;
    m_dueNs = due;
    // In whole milliseconds, rounded down. On the runner's own clock the timer is armed early
    // and the step waits the rest; on another clock rounding down lands it on time on average.
    const qint64 remainingMs = std::max<qint64>(due - now - (m_ownClock ? EarlyNs : 0), 0) / NsPerMs;
    m_timer->start(int(std::min<qint64>(remainingMs, INT_MAX)));
}

QString Script_Runner::unsendable(const Frames::Kind &kind, const Script_Action &action)
{
    if (action.Values.size() != kind.dataBytes || action.Nb_Values != kind.dataBytes)
        return QStringLiteral("a \"%1\" move takes %2 values, not %3")
            .arg(action.Command)
            .arg(kind.dataBytes)
            .arg(action.Values.size());
    for (const qint32 value : action.Values) {
        if (value < 0 || value > 255)
            return QStringLiteral("the value %1 is not between 0 and 255").arg(value);
    }
    return {};
}

void Script_Runner::runStep()
{
    if (thread() != QThread::currentThread()) {
        onOwnThread([this] { runStep(); });
        return;
    }
    m_timer->stop();
    // A shorter script opened while playing, or none at all: nothing left to run.
    if (m_currentAction < 0 || m_currentAction >= m_script.Nb_Action) {
        stop();
        emit finished();
        return;
    }
    emit actionStarted(m_currentAction);

    Script_Action action;
    Get_Script_Action(m_script, m_currentAction, action);
    if (const Frames::Kind *kind = moveKind(action.Command)) {
        // A frame of the wrong length would throw the controller out of step with every frame
        // after it, so such a move is never written; playing stops on it.
        QString why = unsendable(*kind, action);
        if (why.isEmpty())
            why = m_profile.moveRefusal(*kind, action.Values);
        if (!why.isEmpty()) {
            halt();
            emit refused(action, why);
            return;
        }
        if (m_com.PortOpen()) {
            QByteArray data;
            for (const qint32 value : std::as_const(action.Values))
                data.append(char(value));
            // The robot is not reading: stay on this move, so that play sends it again.
            if (!m_com.Output(Frames::frame(*kind, data)) && m_com.OutputStalled()) {
                halt();
                emit stalled(m_currentAction);
                return;
            }
        }
    }
    // The timeline draws the script from the same rule.
    m_lengthMs = Script_Schedule::stepAfter(action, m_lengthMs);

    if (m_currentAction >= m_script.Nb_Action - 1) {
        const qint64 due = m_dueNs;
        stop();
        if (m_loop)
            playFrom(due);
        emit finished();
        return;
    }
    ++m_currentAction;
    scheduleNext(m_lengthMs);
}
