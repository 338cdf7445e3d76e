#pragma once

#include <QList>
#include <QString>

// One script's actions and the five operations every script window uses on them. Records are
// copied whole on every store and fetch, so a caller's copy never aliases the list.

struct Script_Action
{
    qint32 Number = 0; // position in its script, counted from 1
    QString Command;
    QList<qint32> Values;
    qint32 Nb_Values = 0;
};

// Actions(0) to Actions(Nb_Action - 1) are the script in order. The array never becomes empty:
// while Nb_Action is 0 it still holds one spare element that is not part of the script.
struct Action_List
{
    QList<Script_Action> Actions{Script_Action{}};
    qint32 Nb_Action = 0;
}; // as after Init_Script

void Init_Script(Action_List &List);
// Replaces every action with the same Number and Command, or appends Action if none matches.
void Add_Script_Action(Action_List &List, const Script_Action &Action);
// Removes the action at Index and renumbers those behind it; an index past the array is ignored.
void Remove_Script_Action(Action_List &List, qint32 Index);
// Leaves Action as it was when Index is past the array.
void Get_Script_Action(const Action_List &List, qint32 Index, Script_Action &Action);
void Set_Script_Action(Action_List &List, qint32 Index, const Script_Action &Action);
