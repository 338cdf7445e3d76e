#include "scripts/Script_Edit.h"

#include <algorithm>

namespace {

// The array without the spare element an empty list keeps.
QList<Script_Action> takeRows(Action_List &list)
{
    QList<Script_Action> rows = std::move(list.Actions);
    rows.resize(std::clamp<qsizetype>(list.Nb_Action, 0, rows.size()));
    return rows;
}

void putRows(Action_List &list, QList<Script_Action> rows)
{
    list.Nb_Action = qint32(rows.size());
    for (qint32 i = 0; i < list.Nb_Action; ++i)
        rows[i].Number = i + 1;
    list.Actions = rows.isEmpty() ? QList<Script_Action>{Script_Action{}} : std::move(rows);
}

qint32 countBelow(const QList<qint32> &rows, qint32 row)
{
    return qint32(std::lower_bound(rows.cbegin(), rows.cend(), row) - rows.cbegin());
}

QList<qint32> shifted(const QList<qint32> &rows, int by)
{
    QList<qint32> moved;
    moved.reserve(rows.size());
    for (const qint32 row : rows)
        moved.append(row + by);
    return moved;
}

QList<qint32> span(qint32 from, qsizetype count)
{
    QList<qint32> rows;
    rows.reserve(count);
    for (qint32 i = 0; i < count; ++i)
        rows.append(from + i);
    return rows;
}

} // namespace

namespace Script_Edit {

QList<Script_Action> actionsAt(const Action_List &list, const QList<qint32> &rows)
{
    QList<Script_Action> actions;
    actions.reserve(rows.size());
    for (const qint32 row : rows)
        if (row >= 0 && row < list.Nb_Action && row < list.Actions.size())
            actions.append(list.Actions[row]);
    return actions;
}

void insertActions(Action_List &list, qint32 at, const QList<Script_Action> &actions)
{
    QList<Script_Action> old = takeRows(list);
    at = std::clamp<qint32>(at, 0, qint32(old.size()));
    QList<Script_Action> rows;
    rows.reserve(old.size() + actions.size());
    for (qint32 i = 0; i < at; ++i)
        rows.append(std::move(old[i]));
    rows.append(actions);
    for (qsizetype i = at; i < old.size(); ++i)
        rows.append(std::move(old[i]));
    putRows(list, std::move(rows));
}

QList<Script_Action> removeActions(Action_List &list, const QList<qint32> &rows)
{
    QList<Script_Action> old = takeRows(list);
    QList<Script_Action> kept, removed;
    kept.reserve(old.size());
    auto next = rows.cbegin();
    for (qint32 i = 0; i < old.size(); ++i) {
        while (next != rows.cend() && *next < i)
            ++next;
        if (next != rows.cend() && *next == i)
            removed.append(std::move(old[i]));
        else
            kept.append(std::move(old[i]));
    }
    putRows(list, std::move(kept));
    return removed;
}

bool canMove(const Action_List &list, const QList<qint32> &rows, int by)
{
    if (rows.isEmpty() || (by != -1 && by != 1))
        return false;
    return by < 0 ? rows.first() > 0 : rows.last() < list.Nb_Action - 1;
}

void moveActions(Action_List &list, const QList<qint32> &rows, int by)
{
    if (!canMove(list, rows, by))
        return;
    QList<Script_Action> all = takeRows(list);
    if (by < 0) {
        for (const qint32 row : rows)
            all.swapItemsAt(row - 1, row);
    } else {
        for (auto row = rows.crbegin(); row != rows.crend(); ++row)
            all.swapItemsAt(*row, *row + 1);
    }
    putRows(list, std::move(all));
}

} // namespace Script_Edit

Script_Command::Script_Command(Script_Content &content, Script_Changed changed, const QString &text)
    : m_content(content)
    , m_changed(std::move(changed))
{
    setText(text);
}

Add_Command::Add_Command(Script_Content &content, Script_Changed changed, const Script_Action &action)
    : Script_Command(content, std::move(changed), QStringLiteral("Add"))
    , m_action(action)
{
}

void Add_Command::redo()
{
    m_action.Number = m_content.actions.Nb_Action + 1;
    Add_Script_Action(m_content.actions, m_action);
    tell({});
}

void Add_Command::undo()
{
    const qint32 last = m_content.actions.Nb_Action - 1;
    Remove_Script_Action(m_content.actions, last);
    tell({std::nullopt, [last](qint32 row) { return row == last ? -1 : row; }});
}

Modify_Command::Modify_Command(Script_Content &content, Script_Changed changed, qint32 row,
                               const Script_Action &action)
    : Script_Command(content, std::move(changed), QStringLiteral("Modify"))
    , m_row(row)
    , m_new(action)
{
    Get_Script_Action(content.actions, row, m_old);
    m_new.Number = row + 1;
}

void Modify_Command::redo()
{
    Set_Script_Action(m_content.actions, m_row, m_new);
    tell({});
}

void Modify_Command::undo()
{
    Set_Script_Action(m_content.actions, m_row, m_old);
    tell({QList<qint32>{m_row}});
}

Rows_In_Command::Rows_In_Command(Script_Content &content, Script_Changed changed, const QString &text, qint32 at,
                                 const QList<Script_Action> &actions)
    : Script_Command(content, std::move(changed), text)
    , m_at(std::clamp<qint32>(at, 0, content.actions.Nb_Action))
    , m_actions(actions)
{
}

void Rows_In_Command::redo()
{
    Script_Edit::insertActions(m_content.actions, m_at, m_actions);
    const qint32 at = m_at;
    const qint32 count = qint32(m_actions.size());
    tell({span(at, count), [at, count](qint32 row) { return row < at ? row : row + count; }});
}

void Rows_In_Command::undo()
{
    const qint32 at = m_at;
    const qint32 count = qint32(m_actions.size());
    Script_Edit::removeActions(m_content.actions, span(at, count));
    tell({QList<qint32>{std::min(at, m_content.actions.Nb_Action - 1)}, [at, count](qint32 row) {
              return row < at ? row : row < at + count ? -1 : row - count;
          }});
}

Insert_Command::Insert_Command(Script_Content &content, Script_Changed changed, qint32 at, const Script_Action &action)
    : Rows_In_Command(content, std::move(changed), QStringLiteral("Insert"), at, {action})
{
}

Paste_Command::Paste_Command(Script_Content &content, Script_Changed changed, qint32 at,
                             const QList<Script_Action> &actions)
    : Rows_In_Command(content, std::move(changed), QStringLiteral("Paste"), at, actions)
{
}

Duplicate_Command::Duplicate_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows)
    : Rows_In_Command(content, std::move(changed), QStringLiteral("Duplicate"), rows.isEmpty() ? 0 : rows.last() + 1,
                      Script_Edit::actionsAt(content.actions, rows))
{
}

Rows_Out_Command::Rows_Out_Command(Script_Content &content, Script_Changed changed, const QString &text,
                                   const QList<qint32> &rows, bool selectFirstRow)
    : Script_Command(content, std::move(changed), text)
    , m_rows(rows)
    , m_selectFirstRow(selectFirstRow)
{
}

void Rows_Out_Command::redo()
{
    m_removed = Script_Edit::removeActions(m_content.actions, m_rows);
    const QList<qint32> rows = m_rows;
    auto map = [rows](qint32 row) {
        const qint32 below = countBelow(rows, row);
        return below < rows.size() && rows[below] == row ? -1 : row - below;
    };
    if (m_selectFirstRow || m_content.actions.Nb_Action == 0 || rows.isEmpty()) {
        tell({std::nullopt, map});
        return;
    }
    // The row now where the first one went out.
    tell({QList<qint32>{std::min(rows.first(), m_content.actions.Nb_Action - 1)}, map});
}

void Rows_Out_Command::undo()
{
    QList<Script_Action> old = takeRows(m_content.actions);
    QList<Script_Action> rows;
    rows.reserve(old.size() + m_removed.size());
    qsizetype fromOld = 0;
    for (qsizetype i = 0; i < m_removed.size(); ++i) {
        while (rows.size() < m_rows[i] && fromOld < old.size())
            rows.append(std::move(old[fromOld++]));
        rows.append(m_removed[i]);
    }
    while (fromOld < old.size())
        rows.append(std::move(old[fromOld++]));
    putRows(m_content.actions, std::move(rows));
    const QList<qint32> back = m_rows;
    tell({back, [back](qint32 row) {
              for (const qint32 restored : back)
                  if (restored <= row)
                      ++row;
              return row;
          }});
}

Remove_Command::Remove_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows)
    : Rows_Out_Command(content, std::move(changed), QStringLiteral("Remove"), rows, true)
{
}

Cut_Command::Cut_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows)
    : Rows_Out_Command(content, std::move(changed), QStringLiteral("Cut"), rows, false)
{
}

Move_Command::Move_Command(Script_Content &content, Script_Changed changed, const QList<qint32> &rows, int by)
    : Script_Command(content, std::move(changed), by < 0 ? QStringLiteral("Move Up") : QStringLiteral("Move Down"))
    , m_rows(rows)
    , m_by(by)
{
}

void Move_Command::apply(const QList<qint32> &rows, int by)
{
    Script_Edit::moveActions(m_content.actions, rows, by);
    // The same swaps, followed for one row.
    auto map = [rows, by](qint32 row) {
        auto follow = [&row](qint32 a, qint32 b) {
            if (row == a)
                row = b;
            else if (row == b)
                row = a;
        };
        if (by < 0) {
            for (const qint32 r : rows)
                follow(r - 1, r);
        } else {
            for (auto r = rows.crbegin(); r != rows.crend(); ++r)
                follow(*r, *r + 1);
        }
        return row;
    };
    tell({shifted(rows, by), map});
}

void Move_Command::redo()
{
    apply(m_rows, m_by);
}

void Move_Command::undo()
{
    apply(shifted(m_rows, m_by), -m_by);
}

Replace_Command::Replace_Command(Script_Content &content, Script_Changed changed, const QString &text, qint32 at,
                                 qint32 count, const QList<Script_Action> &actions, qint32 margin)
    : Script_Command(content, std::move(changed), text)
    , m_at(std::clamp<qint32>(at, 0, content.actions.Nb_Action))
    , m_count(std::clamp<qint32>(count, 0, content.actions.Nb_Action - m_at))
    , m_new(actions)
    , m_margin(margin)
{
}

void Replace_Command::swap(const QList<Script_Action> &in, qint32 outCount, QList<Script_Action> *out)
{
    QList<Script_Action> removed = Script_Edit::removeActions(m_content.actions, span(m_at, outCount));
    if (out)
        *out = std::move(removed);
    Script_Edit::insertActions(m_content.actions, m_at, in);
    const qint32 at = m_at;
    const qint32 inCount = qint32(in.size());
    const qint32 first = std::max(at - m_margin, 0);
    const qint32 last = std::min(at + inCount - 1 + m_margin, m_content.actions.Nb_Action - 1);
    tell({span(first, std::max(last - first + 1, 0)), [at, outCount, inCount](qint32 row) {
              return row < at ? row : row < at + outCount ? -1 : row - outCount + inCount;
          }});
}

void Replace_Command::redo()
{
    swap(m_new, m_count, &m_old);
}

void Replace_Command::undo()
{
    swap(m_old, qint32(m_new.size()), nullptr);
}

Clear_Command::Clear_Command(Script_Content &content, Script_Changed changed)
    : Script_Command(content, std::move(changed), QStringLiteral("Clear Script"))
{
}

void Clear_Command::redo()
{
    m_old = m_content.actions;
    Init_Script(m_content.actions);
    tell({std::nullopt, [](qint32) { return -1; }});
}

void Clear_Command::undo()
{
    m_content.actions = m_old;
    tell({std::nullopt, [](qint32) { return -1; }});
}

New_Command::New_Command(Script_Content &content, Script_Changed changed, const QString &date)
    : Script_Command(content, std::move(changed), QStringLiteral("New Script"))
    , m_date(date)
{
}

void New_Command::redo()
{
    m_old = m_content;
    m_content = Script_Content{};
    m_content.date = m_date;
    m_content.editable = true;
    tell({std::nullopt, [](qint32) { return -1; }});
}

void New_Command::undo()
{
    m_content = m_old;
    tell({std::nullopt, [](qint32) { return -1; }});
}

Text_Command::Text_Command(Script_Content &content, Script_Changed changed, Field field, const QString &text)
    : Script_Command(content, std::move(changed), field == Title ? QStringLiteral("Title") : QStringLiteral("Date"))
    , m_field(field)
    , m_new(text)
    , m_old(field == Title ? content.title : content.date)
{
}

void Text_Command::redo()
{
    target() = m_new;
    tell({std::nullopt, [](qint32 row) { return row; }, false});
}

void Text_Command::undo()
{
    target() = m_old;
    tell({std::nullopt, [](qint32 row) { return row; }, false});
}

bool Text_Command::mergeWith(const QUndoCommand *other)
{
    m_new = static_cast<const Text_Command *>(other)->m_new;
    return true;
}
