#include "scripts/Sys_Script.h"

#include <algorithm>

namespace {

// Indexes are checked against the array itself, not Nb_Action, so a list a caller left
// inconsistent is never read or written past its end.
bool inArray(const Action_List &List, qint32 Index)
{
    return Index >= 0 && Index < List.Actions.size();
}

} // namespace

void Init_Script(Action_List &List)
{
    List.Nb_Action = 0;
    List.Actions = {Script_Action{}};
}

void Add_Script_Action(Action_List &List, const Script_Action &Action)
{
    const qint32 count = std::clamp<qint32>(List.Nb_Action, 0, qint32(List.Actions.size()));
    bool replaced = false;
    // Every match is replaced: the scan does not stop at the first.
    for (qint32 i = 0; i < count; ++i) {
        Script_Action &stored = List.Actions[i];
        if (stored.Number == Action.Number && stored.Command == Action.Command) {
            stored = Action;
            replaced = true;
        }
    }
    if (replaced)
        return;

    // Upper bound Nb_Action: an empty list reuses its one spare element.
    List.Actions.resize(count + 1);
    List.Actions[count] = Action;
    List.Nb_Action = count + 1;
}

void Remove_Script_Action(Action_List &List, qint32 Index)
{
    if (!inArray(List, Index))
        return;
    const qint32 upper = qint32(List.Actions.size()) - 1;
    for (qint32 i = Index; i < upper; ++i) {
        List.Actions[i] = List.Actions[i + 1];
        --List.Actions[i].Number;
    }
    --List.Nb_Action;
    if (List.Nb_Action <= 0) {
        // The last element stays as the spare one the array always keeps.
        List.Nb_Action = 0;
        return;
    }
    List.Actions.resize(std::min<qint32>(List.Nb_Action, qint32(List.Actions.size())));
}

void Get_Script_Action(const Action_List &List, qint32 Index, Script_Action &Action)
{
    if (inArray(List, Index))
        Action = List.Actions[Index];
}

void Set_Script_Action(Action_List &List, qint32 Index, const Script_Action &Action)
{
    if (inArray(List, Index))
        List.Actions[Index] = Action;
}
