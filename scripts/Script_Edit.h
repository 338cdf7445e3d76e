#pragma once

#include "scripts/Sys_Script.h"

#include <QList>
#include <QString>
#include <QUndoCommand>

#include <functional>
#include <optional>

// The script as the editor holds it: its actions, its description and the file it came from.
struct Script_Content
{
    Action_List actions;
    QString title;
    QString date;
    QString path;
    bool editable = false; // false until NEW SCRIPT or a script is opened
};

// Operations on the action list. Rows are 0-based, sorted and without repeats; after each the
// actions' numbers are their positions again, counted from 1.
namespace Script_Edit {

QList<Script_Action> actionsAt(const Action_List &list, const QList<qint32> &rows);
// The actions go in before row at (at the end when at is the count).
void insertActions(Action_List &list, qint32 at, const QList<Script_Action> &actions);
// Returns the actions it removed.
QList<Script_Action> removeActions(Action_List &list, const QList<qint32> &rows);
// Whether every row can move one place up (by -1) or down (by +1) within the list.
bool canMove(const Action_List &list, const QList<qint32> &rows, int by);
// Each row swaps with its neighbour in turn, so a block of rows moves as one and the row it
// passes lands on its other side.
void moveActions(Action_List &list, const QList<qint32> &rows, int by);

} // namespace Script_Edit

// What a command tells the editor after it changed the script.
struct Script_Change
{
    // The rows to select; none: the first row, as the list shows after ADD, MODIFY and Remove.
    std::optional<QList<qint32>> select;
    // Where the action that stood at a row before the change stands now, -1 when it is gone.
    std::function<qint32(qint32)> rowMap = [](qint32 row) { return row; };
    // False when only the description changed: the list and its selection stay as they are.
    bool listChanged = true;
};
using Script_Changed = std::function<void(const Script_Change &)>;

// One class per kind of change; each holds just what it needs to do and undo itself, and
// tells the editor through changed.
class Script_Command : public QUndoCommand
{
protected:
    Script_Command(Script_Content &content, Script_Changed changed, const QString &text);
    void tell(Script_Change change) const { m_changed(change); }
    Script_Content &m_content;

private:
    Script_Changed m_changed;
};

class Add_Command : public Script_Command
{
public:
    Add_Command(Script_Content &content, Script_Changed changed, const Script_Action &action);
    void redo() override;
    void undo() override;

private:
    Script_Action m_action;
};

class Modify_Command : public Script_Command
{
public:
    Modify_Command(Script_Content &content, Script_Changed changed, qint32 row, const Script_Action &action);
    void redo() override;
    void undo() override;

private:
    qint32 m_row;
    Script_Action m_new, m_old;
};

// Rows that go in together: Insert, Paste and Duplicate.
class Rows_In_Command : public Script_Command
{
public:
    void redo() override;
    void undo() override;

protected:
    Rows_In_Command(Script_Content &content, Script_Changed changed, const QString &text, qint32 at,
                    const QList<Script_Action> &actions);

private:
    qint32 m_at;
    QList<Script_Action> m_actions;
};

class Insert_Command : public Rows_In_Command
{
public:
    Insert_Command(Script_Content &content, Script_Changed changed, qint32 at, const Script_Action &action);
};

class Paste_Command : public Rows_In_Command
{
public:
    Paste_Command(Script_Content &content, Script_Changed changed, qint32 at, const QList<Script_Action> &actions);
};

class Duplicate_Command : public Rows_In_Command
{
public:
    // The copies go in after the last of the rows.
    Duplicate_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows);
};

// Rows that go out together: Remove and Cut.
class Rows_Out_Command : public Script_Command
{
public:
    void redo() override;
    void undo() override;

protected:
    Rows_Out_Command(Script_Content &content, Script_Changed changed, const QString &text, const QList<qint32> &rows,
                     bool selectFirstRow);

private:
    QList<qint32> m_rows;
    QList<Script_Action> m_removed;
    bool m_selectFirstRow;
};

class Remove_Command : public Rows_Out_Command
{
public:
    Remove_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows);
};

class Cut_Command : public Rows_Out_Command
{
public:
    Cut_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows);
};

class Move_Command : public Script_Command
{
public:
    // by is -1 (Move Up) or +1 (Move Down); the rows must be able to move.
    Move_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows, int by);
    void redo() override;
    void undo() override;

private:
    void apply(const QList<qint32> &rows, int by);
    QList<qint32> m_rows;
    int m_by;
};

// Rows at to at + count - 1 give way to other actions, as one step: Ease Between and Record.
// Afterwards the new rows are selected, with margin rows more on each side.
class Replace_Command : public Script_Command
{
public:
    Replace_Command(Script_Content &content, Script_Changed changed, const QString &text, qint32 at, qint32 count,
                    const QList<Script_Action> &actions, qint32 margin = 0);
    void redo() override;
    void undo() override;

private:
    void swap(const QList<Script_Action> &in, qint32 outCount, QList<Script_Action> *out);
    qint32 m_at;
    qint32 m_count;
    QList<Script_Action> m_new, m_old;
    qint32 m_margin;
};

// CLEAR SCRIPT: the actions go, the description stays.
class Clear_Command : public Script_Command
{
public:
    Clear_Command(Script_Content &content, Script_Changed changed);
    void redo() override;
    void undo() override;

private:
    Action_List m_old;
};

// NEW SCRIPT: an empty script dated date, in place of the whole script in hand.
class New_Command : public Script_Command
{
public:
    New_Command(Script_Content &content, Script_Changed changed, const QString &date);
    void redo() override;
    void undo() override;

private:
    Script_Content m_old;
    QString m_date;
};

// The title or the date as typed; a run of typing in one field is one step.
class Text_Command : public Script_Command
{
public:
    enum Field { Title = 1, Date };
    Text_Command(Script_Content &content, Script_Changed changed, Field field, const QString &text);
    void redo() override;
    void undo() override;
    int id() const override { return m_field; }
    bool mergeWith(const QUndoCommand *other) override;

private:
    QString &target() const { return m_field == Title ? m_content.title : m_content.date; }
    Field m_field;
    QString m_new, m_old;
};
