#pragma once

#include "link/Robot_Profile.h"
#include "scripts/Sys_Script.h"

#include <QList>
#include <QString>

// What would go wrong when a script plays: an action of no known kind, a wrong number of
// values, a move value that is no byte, a servo the controller does not have, a wait the
// timer cannot take, "end" anywhere but last, a position outside the robot's profile. Opening a script never depends on it; the
// windows and the command line only tell.
struct Script_Problem
{
    qint32 Index; // 0-based, as in Actions
    QString Text; // every problem of that action, joined by "; "
};

// In action order, one entry per action that has a problem.
QList<Script_Problem> Check_Script_Actions(const Action_List &List,
                                          const Robot_Profile &Profile = Robot_Profile::builtIn());
