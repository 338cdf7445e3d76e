#include "scripts/Script_Schedule.h"

#include <algorithm>
#include <cmath>

namespace Script_Schedule {

const Frames::Kind *moveKind(const QString &command)
{
    for (const Frames::Kind &kind : Frames::Moves) {
        if (command == QLatin1StringView(kind.mnemonic.data(), qsizetype(kind.mnemonic.size())))
            return &kind;
    }
    return nullptr;
}

qint64 stepAfter(const Script_Action &action, qint64 lengthBefore)
{
    if (moveKind(action.Command))
        return Step;
    if (action.Command == u"wait")
        return std::max<qint64>(action.Values.value(0), 0);
    return lengthBefore;
}

QList<qint64> startTimes(const Action_List &script, qint64 *length)
{
    const qint32 count = qint32(std::clamp<qsizetype>(script.Nb_Action, 0, script.Actions.size()));
    QList<qint64> start;
    start.reserve(count);
    qint64 at = 0;
    qint64 step = Step;
    for (qint32 i = 0; i < count; ++i) {
        start.append(at);
        step = stepAfter(script.Actions[i], step);
        at += step;
    }
    if (length)
        *length = count == 0 ? 0 : start.last() + Step;
    return start;
}

Motion_Profile Motion_Profile::of(const Robot_Profile &profile)
{
    Motion_Profile motion;
    motion.degreesPerSecondPerUnit = profile.degreesPerSecond();
    for (size_t i = 0; i < Servos::All.size(); ++i) {
        const Robot_Profile::Servo &servo = profile.servo(int(i));
        motion.names[i] = servo.name;
        motion.ranges[i] = {servo.low, servo.high};
    }
    return motion;
}

std::array<QString, Servos::All.size()> Motion_Profile::defaultNames()
{
    std::array<QString, Servos::All.size()> names;
    for (size_t i = 0; i < Servos::All.size(); ++i)
        names[i] = QString::fromLatin1(Servos::All[i].name.data(), qsizetype(Servos::All[i].name.size()));
    return names;
}

QList<Servo_Target> targetsOf(const Script_Action &action)
{
    const Frames::Kind *kind = moveKind(action.Command);
    if (!kind || action.Values.size() != kind->dataBytes)
        return {};
    for (const qint32 value : action.Values)
        if (value < 0 || value > 255)
            return {};
    QList<Servo_Target> targets;
    if (kind->mnemonic == Frames::SingleServo.mnemonic) {
        for (size_t i = 0; i < Servos::All.size(); ++i)
            if (Servos::All[i].number == action.Values[0])
                targets.append({int(i), action.Values[1], action.Values[2]});
        return targets;
    }
    for (size_t i = 0; i < Servos::All.size(); ++i) {
        const Servos::Servo &servo = Servos::All[i];
        if (servo.bodyPart.mnemonic != kind->mnemonic)
            continue;
        const int at = 2 * (servo.slot - 1);
        if (at + 1 < action.Values.size())
            targets.append({int(i), action.Values[at], action.Values[at + 1]});
    }
    return targets;
}

namespace {

// The predicted line through the lane's moves: each move starts where the servo is and goes
// towards its target at its speed until it gets there or the next move takes over.
QList<QPointF> predict(const QList<Servo_Move> &moves, qint64 endMs, double degreesPerMs)
{
    QList<QPointF> line;
    if (moves.isEmpty())
        return line;
    double position = moves.first().target;
    for (qsizetype i = 0; i < moves.size(); ++i) {
        const Servo_Move &move = moves[i];
        // The last move goes on after the script's end until the servo gets there.
        const double next = i + 1 < moves.size() ? double(moves[i + 1].startMs) : HUGE_VAL;
        const double t0 = double(move.startMs);
        line.append({t0, position});
        const double distance = move.target - position;
        if (move.speed == 0 || distance == 0 || degreesPerMs <= 0) {
            if (move.speed == 0 || degreesPerMs <= 0)
                position = move.target;
            line.append({t0, position});
            continue;
        }
        const double rate = move.speed * degreesPerMs;
        const double reach = t0 + std::abs(distance) / rate;
        if (reach <= next) {
            position = move.target;
            line.append({reach, position});
        } else {
            position += std::copysign(rate * (next - t0), distance);
            line.append({next, position});
        }
    }
    line.append({std::max(double(endMs), line.last().x()), position});
    // Points at the same place one after the other add nothing to draw.
    QList<QPointF> kept;
    kept.reserve(line.size());
    for (const QPointF &point : std::as_const(line))
        if (kept.isEmpty() || kept.last() != point)
            kept.append(point);
    return kept;
}

} // namespace

Timeline plan(const Action_List &script, const Motion_Profile &profile)
{
    Timeline timeline;
    timeline.start = startTimes(script, &timeline.length);
    std::array<QList<Servo_Move>, Servos::All.size()> moves;
    for (qint32 i = 0; i < timeline.start.size(); ++i)
        for (const Servo_Target &target : targetsOf(script.Actions[i]))
            moves[size_t(target.servo)].append({i, timeline.start[i], target.position, target.speed});
    const double degreesPerMs = profile.degreesPerSecondPerUnit / 1000.0;
    for (size_t servo = 0; servo < moves.size(); ++servo) {
        if (moves[servo].isEmpty())
            continue;
        Servo_Lane lane;
        lane.servo = int(servo);
        lane.predicted = predict(moves[servo], timeline.length, degreesPerMs);
        lane.moves = std::move(moves[servo]);
        timeline.lanes.append(std::move(lane));
    }
    return timeline;
}

double positionAt(const Servo_Lane &lane, qint64 ms)
{
    const QList<QPointF> &line = lane.predicted;
    if (line.isEmpty())
        return 0;
    const double t = double(ms);
    // The last point at or before t: where two points share a time, the later one holds.
    auto after = std::upper_bound(line.cbegin(), line.cend(), t, [](double x, const QPointF &p) { return x < p.x(); });
    if (after == line.cbegin())
        return line.first().y();
    if (after == line.cend())
        return line.last().y();
    const QPointF &a = *(after - 1);
    const QPointF &b = *after;
    return a.y() + (b.y() - a.y()) * (t - a.x()) / (b.x() - a.x());
}

qint32 actionAt(const QList<qint64> &start, qint64 ms)
{
    return qint32(std::upper_bound(start.cbegin(), start.cend(), ms) - start.cbegin()) - 1;
}

} // namespace Script_Schedule
