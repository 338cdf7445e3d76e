#include "scripts/Script_Edit.h"
#include "scripts/Script_File.h"
#include "support/Action_Words.h"

#include <QTest>
#include <QUndoStack>

namespace {

QList<qint32> rows(const QString &text)
{
    QList<qint32> rows;
    for (const QString &row : text.split(u',', Qt::SkipEmptyParts))
        rows.append(row.toInt());
    return rows;
}

// The script as its file has it, byte for byte.
QByteArray written(const Script_Content &content)
{
    QByteArray bytes;
    if (!Format_Script(content.title, content.date, content.actions, bytes))
        return "not writable";
    return bytes;
}

QString shown(const Action_List &list)
{
    QStringList words;
    for (qint32 i = 0; i < list.Nb_Action; ++i) {
        const Script_Action &a = list.Actions[i];
        QString word = QString::number(a.Number) + u':' + a.Command;
        for (const qint32 v : a.Values)
            word += u';' + QString::number(v);
        words << word;
    }
    return words.join(u' ');
}

} // namespace

class tst_Script_Edit : public QObject
{
    Q_OBJECT

private slots:
    void commandAndItsUndo_data();
    void commandAndItsUndo();
    void movingRowsThatCannotMoveDoesNothing_data();
    void movingRowsThatCannotMoveDoesNothing();
    void typingIsOneStep();
};

void tst_Script_Edit::commandAndItsUndo_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("command"); // kind|rows or row|actions
    QTest::addColumn<QString>("after");   // as shown(), numbers renumbered
    QTest::addColumn<QString>("name");    // the step the menu names
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("rowMap"); // where rows 0..4 of before stand after, -1 when gone

    const QString abcd = QStringLiteral("a;1 b;2 c;3 d;4");
    QTest::newRow("add") << abcd << "add||e;5" << "1:a;1 2:b;2 3:c;3 4:d;4 5:e;5" << "Add" << "first" << "0,1,2,3,-1";
    QTest::newRow("add to none") << "" << "add||e;5" << "1:e;5" << "Add" << "first" << "-1,-1,-1,-1,-1";
    QTest::newRow("modify") << abcd << "modify|2|x;9;9" << "1:a;1 2:b;2 3:x;9;9 4:d;4" << "Modify" << "first"
                            << "0,1,2,3,-1";
    QTest::newRow("insert before a row") << abcd << "insert|1|x;0" << "1:a;1 2:x;0 3:b;2 4:c;3 5:d;4" << "Insert"
                                         << "1" << "0,2,3,4,-1";
    QTest::newRow("insert at the end") << abcd << "insert|4|x;0" << "1:a;1 2:b;2 3:c;3 4:d;4 5:x;0" << "Insert"
                                       << "4" << "0,1,2,3,-1";
    QTest::newRow("insert into none") << "" << "insert|0|x;0" << "1:x;0" << "Insert" << "0" << "-1,-1,-1,-1,-1";
    QTest::newRow("paste") << abcd << "paste|0|x;0 y;1" << "1:x;0 2:y;1 3:a;1 4:b;2 5:c;3 6:d;4" << "Paste" << "0,1"
                           << "2,3,4,5,-1";
    QTest::newRow("duplicate rows apart") << abcd << "duplicate|0,2" << "1:a;1 2:b;2 3:c;3 4:a;1 5:c;3 6:d;4"
                                          << "Duplicate" << "3,4" << "0,1,2,5,-1";
    QTest::newRow("remove rows apart") << abcd << "remove|1,3" << "1:a;1 2:c;3" << "Remove" << "first" << "0,-1,1,-1,-1";
    QTest::newRow("remove all") << abcd << "remove|0,1,2,3" << "" << "Remove" << "first" << "-1,-1,-1,-1,-1";
    QTest::newRow("cut") << abcd << "cut|1,2" << "1:a;1 2:d;4" << "Cut" << "1" << "0,-1,-1,1,-1";
    QTest::newRow("cut the last") << abcd << "cut|3" << "1:a;1 2:b;2 3:c;3" << "Cut" << "2" << "0,1,2,-1,-1";
    QTest::newRow("move up a block") << abcd << "up|2,3" << "1:a;1 2:c;3 3:d;4 4:b;2" << "Move Up" << "1,2"
                                     << "0,3,1,2,-1";
    QTest::newRow("move up rows apart") << abcd << "up|1,3" << "1:b;2 2:a;1 3:d;4 4:c;3" << "Move Up" << "0,2"
                                        << "1,0,3,2,-1";
    QTest::newRow("move down a block") << abcd << "down|0,1" << "1:c;3 2:a;1 3:b;2 4:d;4" << "Move Down" << "1,2"
                                       << "1,2,0,3,-1";
    QTest::newRow("clear") << abcd << "clear|" << "" << "Clear Script" << "first" << "-1,-1,-1,-1,-1";
    QTest::newRow("new") << abcd << "new|" << "" << "New Script" << "first" << "-1,-1,-1,-1,-1";
    QTest::newRow("title") << abcd << "title||Hello" << "1:a;1 2:b;2 3:c;3 4:d;4" << "Title" << "kept"
                           << "0,1,2,3,-1";
    QTest::newRow("date") << abcd << "date||01-02-2027" << "1:a;1 2:b;2 3:c;3 4:d;4" << "Date" << "kept"
                          << "0,1,2,3,-1";
}

void tst_Script_Edit::commandAndItsUndo()
{
    QFETCH(QString, before);
    QFETCH(QString, command);
    QFETCH(QString, after);
    QFETCH(QString, name);
    QFETCH(QString, selected);
    QFETCH(QString, rowMap);

    Script_Content content{actions(before), QStringLiteral("Greeting"), QStringLiteral("05-12-2026"),
                           QStringLiteral("/tmp/g.sct"), true};
    const QByteArray original = written(content);
    QList<Script_Change> told;
    Script_Changed changed = [&told](const Script_Change &change) { told.append(change); };

    const QStringList parts = command.split(u'|');
    const QString kind = parts[0];
    const QList<qint32> at = rows(parts[1]);
    const QList<Script_Action> given = actions(parts.value(2)).Nb_Action ? [&] {
        const Action_List list = actions(parts.value(2));
        return list.Actions;
    }() : QList<Script_Action>{};
    Script_Command *step = nullptr;
    if (kind == u"add")
        step = new Add_Command(content, changed, given.first());
    else if (kind == u"modify")
        step = new Modify_Command(content, changed, at.first(), given.first());
    else if (kind == u"insert")
        step = new Insert_Command(content, changed, at.first(), given.first());
    else if (kind == u"paste")
        step = new Paste_Command(content, changed, at.first(), given);
    else if (kind == u"duplicate")
        step = new Duplicate_Command(content, changed, at);
    else if (kind == u"remove")
        step = new Remove_Command(content, changed, at);
    else if (kind == u"cut")
        step = new Cut_Command(content, changed, at);
    else if (kind == u"up" || kind == u"down")
        step = new Move_Command(content, changed, at, kind == u"up" ? -1 : 1);
    else if (kind == u"clear")
        step = new Clear_Command(content, changed);
    else if (kind == u"new")
        step = new New_Command(content, changed, QStringLiteral("07-12-2026"));
    else if (kind == u"title" || kind == u"date")
        step = new Text_Command(content, changed, kind == u"title" ? Text_Command::Title : Text_Command::Date,
                                parts[2]);
    QVERIFY(step);

    QUndoStack stack;
    stack.push(step);
    QCOMPARE(shown(content.actions), after);
    QCOMPARE(content.actions.Actions.size(), qMax(content.actions.Nb_Action, 1)); // the spare one when empty
    QCOMPARE(stack.undoText(), name);
    QCOMPARE(told.size(), 1);
    const Script_Change change = told.last();
    QString select = QStringLiteral("kept");
    if (change.listChanged) {
        select = QStringLiteral("first");
        if (change.select) {
            QStringList list;
            for (const qint32 row : *change.select)
                list << QString::number(row);
            select = list.join(u',');
        }
    }
    QCOMPARE(select, selected);
    QStringList mapped;
    for (qint32 row = 0; row < 5; ++row)
        mapped << QString::number(row < actions(before).Nb_Action ? change.rowMap(row) : -1);
    QCOMPARE(mapped.join(u','), rowMap);
    const QByteArray changedBytes = written(content);

    stack.undo();
    QCOMPARE(written(content), original);
    QCOMPARE(content.path, QStringLiteral("/tmp/g.sct"));
    // Undo's map takes the rows back where they stood.
    if (told.last().listChanged)
        for (qint32 row = 0; row < actions(before).Nb_Action; ++row)
            if (const qint32 now = change.rowMap(row); now >= 0)
                QCOMPARE(told.last().rowMap(now), row);
    stack.redo();
    QCOMPARE(written(content), changedBytes);
    QCOMPARE(shown(content.actions), after);
}

void tst_Script_Edit::movingRowsThatCannotMoveDoesNothing_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<int>("by");
    QTest::addColumn<bool>("can");

    QTest::newRow("first up") << "0,2" << -1 << false;
    QTest::newRow("last down") << "1,3" << 1 << false;
    QTest::newRow("none") << "" << 1 << false;
    QTest::newRow("middle up") << "1,2" << -1 << true;
    QTest::newRow("by two") << "1" << 2 << false;
}

void tst_Script_Edit::movingRowsThatCannotMoveDoesNothing()
{
    QFETCH(QString, rows);
    QFETCH(int, by);
    QFETCH(bool, can);

    Action_List list = actions(QStringLiteral("a;1 b;2 c;3 d;4"));
    QCOMPARE(Script_Edit::canMove(list, ::rows(rows), by), can);
    Script_Edit::moveActions(list, ::rows(rows), by);
    QCOMPARE(shown(list) == QStringLiteral("1:a;1 2:b;2 3:c;3 4:d;4"), !can);
}

void tst_Script_Edit::typingIsOneStep()
{
    Script_Content content;
    Script_Changed changed = [](const Script_Change &) {};
    QUndoStack stack;
    for (const char *text : {"G", "Gr", "Gre"})
        stack.push(new Text_Command(content, changed, Text_Command::Title, QString::fromLatin1(text)));
    stack.push(new Text_Command(content, changed, Text_Command::Date, QStringLiteral("1")));
    QCOMPARE(stack.count(), 2);
    stack.undo();
    QCOMPARE(content.title, QStringLiteral("Gre"));
    stack.undo();
    QCOMPARE(content.title, QString());
    QCOMPARE(content.date, QString());
}

QTEST_GUILESS_MAIN(tst_Script_Edit)
#include "tst_script_edit.moc"
