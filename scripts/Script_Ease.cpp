#include "scripts/Script_Ease.h"

#include <algorithm>
#include <cmath>

namespace Script_Ease {

namespace {

bool playable(const Script_Action &action)
{
    const Frames::Kind *kind = Script_Schedule::moveKind(action.Command);
    if (!kind || action.Values.size() != kind->dataBytes)
        return false;
    return std::all_of(action.Values.cbegin(), action.Values.cend(), [](qint32 v) { return v >= 0 && v <= 255; });
}

bool isSingleServo(const Script_Action &action)
{
    return action.Command == QLatin1StringView(Frames::SingleServo.mnemonic.data(), 3);
}

// The servo (index in Servos::All) whose position is the value at index, or -1 when the
// value is a speed or a servo's number.
int servoOfPosition(const Script_Action &action, int index)
{
    if (isSingleServo(action)) {
        if (index != 1)
            return -1;
        for (size_t i = 0; i < Servos::All.size(); ++i)
            if (Servos::All[i].number == action.Values[0])
                return int(i);
        return -1;
    }
    if (index % 2 != 0)
        return -1;
    for (size_t i = 0; i < Servos::All.size(); ++i)
        if (QLatin1StringView(Servos::All[i].bodyPart.mnemonic.data(), 3) == action.Command
            && Servos::All[i].slot == index / 2 + 1)
            return int(i);
    return -1;
}

bool isPosition(const Script_Action &action, int index)
{
    return isSingleServo(action) ? index == 1 : index % 2 == 0;
}

Script_Action wait(qint64 ms)
{
    return {0, QStringLiteral("wait"), {qint32(ms)}, 1};
}

} // namespace

QString refusal(const Action_List &script, qint32 first, qint32 last)
{
    const qint32 count = qint32(std::min<qsizetype>(script.Nb_Action, script.Actions.size()));
    if (first < 0 || last >= count || last <= first)
        return QStringLiteral("Select two moves of the same kind: the first and the last action selected are eased "
                              "between.");
    const Script_Action &from = script.Actions[first];
    const Script_Action &to = script.Actions[last];
    for (const Script_Action *move : {&from, &to}) {
        if (!Script_Schedule::moveKind(move->Command))
            return QStringLiteral("Action %1 is no move: the first and the last action selected must be moves.")
                .arg(move == &from ? first + 1 : last + 1);
        if (!playable(*move))
            return QStringLiteral("Action %1 cannot be played, so it cannot be eased from.")
                .arg(move == &from ? first + 1 : last + 1);
    }
    if (from.Command != to.Command)
        return QStringLiteral("Actions %1 and %2 are moves of different kinds (\"%3\" and \"%4\").")
            .arg(first + 1)
            .arg(last + 1)
            .arg(from.Command, to.Command);
    if (isSingleServo(from) && from.Values[0] != to.Values[0])
        return QStringLiteral("Actions %1 and %2 move different servos.").arg(first + 1).arg(last + 1);
    for (qint32 i = first + 1; i < last; ++i)
        if (script.Actions[i].Command != u"wait")
            return QStringLiteral("Only waits may stand between the two moves: action %1 is \"%2\".")
                .arg(i + 1)
                .arg(script.Actions[i].Command);
    return {};
}

qint64 waitsBetween(const Action_List &script, qint32 first, qint32 last)
{
    qint64 total = 0;
    for (qint32 i = std::max(first + 1, 0); i < last && i < script.Actions.size(); ++i)
        if (script.Actions[i].Command == u"wait")
            total += std::max<qint64>(script.Actions[i].Values.value(0), 0);
    return total;
}

qint64 countBetween(const Settings &settings)
{
    const qint64 step = std::clamp<qint64>(settings.stepMs, MinStep, MaxStep);
    const qint64 duration = std::max<qint64>(settings.durationMs, 0);
    const qint64 moves = duration > 0 ? (duration - 1) / step : 0;
    return moves + (step > Script_Schedule::Step ? moves : 0) + (duration > 0 ? 1 : 0);
}

QList<Script_Action> between(const Script_Action &from, const Script_Action &to, const Settings &settings,
                             const Script_Schedule::Motion_Profile &profile)
{
    const qint64 step = std::clamp<qint64>(settings.stepMs, MinStep, MaxStep);
    const qint64 duration = std::max<qint64>(settings.durationMs, 0);
    const qint64 moveStep = Script_Schedule::Step;
    // Times from the first move's start: the second move comes at moveStep + duration, the
    // steps at step, 2 x step... while a wait of at least a millisecond still goes before it.
    const qint64 end = moveStep + duration;
    const QEasingCurve curve(settings.curve);
    QList<Script_Action> actions;
    qint64 at = 0; // when the last action put in (or from) started
    for (qint64 t = step; t < duration; t += step) {
        if (t - at > moveStep)
            actions.append(wait(t - at - moveStep));
        Script_Action move = to;
        const double progress = curve.valueForProgress(double(t) / double(end));
        for (int i = 0; i < move.Values.size(); ++i) {
            if (!isPosition(to, i))
                continue;
            const qint32 a = from.Values[i];
            const qint32 b = to.Values[i];
            qint32 low = std::min(a, b), high = std::max(a, b);
            if (const int servo = servoOfPosition(to, i); servo >= 0) {
                low = std::max(low, profile.ranges[size_t(servo)].low);
                high = std::max(low, std::min(high, profile.ranges[size_t(servo)].high));
            }
            move.Values[i] = std::clamp<qint32>(qint32(std::lround(a + (b - a) * progress)), low, high);
        }
        actions.append(move);
        at = t;
    }
    if (end - at > moveStep)
        actions.append(wait(end - at - moveStep));
    return actions;
}

} // namespace Script_Ease
