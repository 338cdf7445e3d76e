#pragma once

#include "scripts/Sys_Script.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QFile;

// The script file (.sct): a [GENERAL] section with software, Name and Date, and a [COMMANDS]
// section with nb_action and one line "action_k=command;value;value..." per action, each line
// ended by CR LF. Values are read by the private-profile rules of Read_INI_Value.

struct Script_Header
{
    QString Script_Name, Script_Date, Script_Software;
    qint32 Script_Nb_Action = 0;
};

// Appends the file's actions to List (callers empty it first) and fills Header. A file that
// cannot be loaded whole is refused: false, List and Header untouched, the first problem in Why.
bool Read_Script_File(const QString &File_Name, Action_List &List, Script_Header &Header, QString *Why = nullptr);
// The same from a file the caller has already opened for reading (the command line opens a
// name that is not valid text itself); anything but a regular file is refused.
bool Read_Script_File(QFile &File, Action_List &List, Script_Header &Header, QString *Why = nullptr);

// Creates or replaces the file; a failed save leaves the old file as it was and says why,
// naming the file.
bool Write_Script_File(const QString &File_Name, const QString &Title, const QString &Date,
                       const Action_List &List, QString *Why = nullptr);

// The reader's work on the file's bytes, as Read_Script_File does it after reading them.
bool Parse_Script(QByteArrayView Bytes, Action_List &List, Script_Header &Header, QString *Why = nullptr);

// The bytes Write_Script_File writes, or false with the reason when the list cannot be written
// so that it reads back the same.
bool Format_Script(const QString &Title, const QString &Date, const Action_List &List, QByteArray &Bytes,
                   QString *Why = nullptr);

// The clipboard's form of actions: one a line, as the file holds its value ("mrn;96;0;108;0"),
// so that actions go between scripts and to and from a text editor.
QString Format_Action_Lines(const QList<Script_Action> &Actions);

// Each line read by the file's rules for an action's value, with or without an "action_N=" in
// front; blank lines are skipped. Text with a line the file reader would refuse, or with no
// action at all, is refused whole: false, Actions untouched, the first bad line named in Why.
bool Parse_Action_Lines(QStringView Text, QList<Script_Action> &Actions, QString *Why = nullptr);
