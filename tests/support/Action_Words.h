#pragma once

#include "scripts/Script_File.h"

#include <QString>

// "mrn;90;0;90;0 wait;500 end;0": one action a word, in the clipboard's form; an empty list
// when any word is not an action.
inline Action_List actions(const QString &words)
{
    Action_List list;
    QList<Script_Action> parsed;
    if (!words.isEmpty() && Parse_Action_Lines(QString(words).replace(u' ', u'\n'), parsed)) {
        list.Actions = parsed;
        list.Nb_Action = qint32(parsed.size());
    }
    return list;
}
