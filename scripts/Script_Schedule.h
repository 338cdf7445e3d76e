#pragma once

#include "link/Frames.h"
#include "link/Robot_Profile.h"
#include "link/Servos.h"
#include "scripts/Sys_Script.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <array>

// A script as motion over time, without a window: when each action starts as the player plays
// it, and where each servo is meant to be and is predicted to be.
namespace Script_Schedule {

inline constexpr qint64 Step = 20; // ms from a move (or from play, or a loop's restart) to the next step

// How long after an action starts the next one does, given the length set before it: a move
// sets the short step, a wait its own length (0 or below: at once), and "end" or a command
// the player does not know keep the length as it was.
qint64 stepAfter(const Script_Action &action, qint64 lengthBefore);

// The move kind of a command word, or none.
const Frames::Kind *moveKind(const QString &command);

// Start time (ms, the first action at 0) of each of the script's actions; length receives the
// time one pass takes: the last action's start plus the step to a loop's restart.
QList<qint64> startTimes(const Action_List &script, qint64 *length = nullptr);

// What a robot profile tells the timeline and ease; the defaults are those of the virtual robot
// and the main window.
struct Motion_Profile
{
    struct Range
    {
        int low = 0;
        int high = 255;
    };
    std::array<QString, Servos::All.size()> names = defaultNames();
    double degreesPerSecondPerUnit = 4.0;
    std::array<Range, Servos::All.size()> ranges{};

    static std::array<QString, Servos::All.size()> defaultNames();
    // The names, speed and ranges of the robot profile in use.
    static Motion_Profile of(const Robot_Profile &profile);
};

// One move of one servo: when the action starts, where it sends the servo, how fast.
struct Servo_Move
{
    qint32 action = 0; // 0-based index in the script
    qint64 startMs = 0;
    int target = 0;
    int speed = 0;
};

struct Servo_Lane
{
    int servo = 0; // index in Servos::All
    QList<Servo_Move> moves;
    // The predicted position as a line of (ms, degrees) points, from the first move to the
    // script's end, or on to where the last move arrives when that is later. Before its first
    // move nothing is known of a servo, so the line starts at that move's target.
    QList<QPointF> predicted;
};

struct Timeline
{
    QList<qint64> start; // per action
    qint64 length = 0;
    // One per servo the script moves, in the order of Servos::All (body part by body part).
    QList<Servo_Lane> lanes;
};

// The (servo index in Servos::All, position, speed) the move sets, for each servo it moves;
// nothing for a move that cannot be played (wrong number of values, a value outside 0..255).
struct Servo_Target
{
    int servo;
    int position;
    int speed;
};
QList<Servo_Target> targetsOf(const Script_Action &action);

Timeline plan(const Action_List &script, const Motion_Profile &profile = {});

// Where the lane's predicted line is at ms (its first point before it, its last after it).
double positionAt(const Servo_Lane &lane, qint64 ms);

// The index of the action running at ms: the last one started at or before it (-1 when none).
qint32 actionAt(const QList<qint64> &start, qint64 ms);

} // namespace Script_Schedule
