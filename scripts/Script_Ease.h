#pragma once

#include "scripts/Script_Schedule.h"
#include "scripts/Sys_Script.h"

#include <QEasingCurve>
#include <QList>
#include <QString>

// Easing between two poses: the waits between two moves of the same kind give way to moves
// through a curve's positions, so the servos travel the way the curve says and the second
// pose still comes when it came.
namespace Script_Ease {

inline constexpr int MinStep = 20;
inline constexpr int MaxStep = 1000;
inline constexpr int DefaultStep = 50;

struct Settings
{
    // From the end of the first move's step (when the first wait used to begin) to the
    // second move: the waits' total keeps the second pose where it was.
    qint64 durationMs = 0;
    int stepMs = DefaultStep;
    QEasingCurve::Type curve = QEasingCurve::Linear;
};

// The curves offered, with their names as the dialog shows them.
struct Curve
{
    QEasingCurve::Type type;
    const char *name;
};
inline constexpr Curve Curves[]{
    {QEasingCurve::Linear, "Linear"},
    {QEasingCurve::InQuad, "Ease in"},
    {QEasingCurve::OutQuad, "Ease out"},
    {QEasingCurve::InOutQuad, "Ease in-out"},
};

// Why rows first and last cannot be eased, or "" when they can: both moves of one kind that
// can be played, the same servo for single-servo moves, and only waits between them.
QString refusal(const Action_List &script, qint32 first, qint32 last);

// The total of the waits between rows first and last (each wait below 0 counting 0).
qint64 waitsBetween(const Action_List &script, qint32 first, qint32 last);

// How many actions between() gives for the settings, counted without making them.
qint64 countBetween(const Settings &settings);

// The actions that take the place of the waits between the moves from and to: moves of their
// kind at every step, each followed by the wait to the next step, and before to the wait left.
// Positions are whole degrees between the two poses' (and inside the profile's ranges); the
// speeds are to's.
QList<Script_Action> between(const Script_Action &from, const Script_Action &to, const Settings &settings,
                             const Script_Schedule::Motion_Profile &profile = {});

} // namespace Script_Ease
