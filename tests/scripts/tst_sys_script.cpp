#include "scripts/Sys_Script.h"

#include <QTest>

namespace {

Script_Action action(qint32 number, const QString &command, QList<qint32> values = {0})
{
    return Script_Action{number, command, values, qint32(values.size())};
}

// "1 meb 120 10" per action, for readable comparisons.
QStringList describe(const Action_List &list, qsizetype elements)
{
    QStringList rows;
    for (qsizetype i = 0; i < elements; ++i) {
        const Script_Action &a = list.Actions[i];
        QString row = QString::number(a.Number) + u' ' + a.Command;
        for (qint32 v : a.Values)
            row += u' ' + QString::number(v);
        rows << row;
    }
    return rows;
}

Action_List listOf(const QStringList &rows)
{
    Action_List list;
    for (const QString &row : rows) {
        const QStringList parts = row.split(u' ');
        QList<qint32> values;
        for (qsizetype i = 2; i < parts.size(); ++i)
            values << parts[i].toInt();
        Add_Script_Action(list, action(parts[0].toInt(), parts[1], values));
    }
    return list;
}

} // namespace

class tst_Sys_Script : public QObject
{
    Q_OBJECT

private slots:
    void initLeavesOneBlankSpareElement();
    void add_data();
    void add();
    void remove_data();
    void remove();
    void getAndSetIgnoreIndexesOutsideTheArray();
    void storedRecordsAreCopies();
};

void tst_Sys_Script::initLeavesOneBlankSpareElement()
{
    Action_List list = listOf({"1 meb 1 2 3 4", "2 wait 500"});
    Init_Script(list);
    QCOMPARE(list.Nb_Action, 0);
    QCOMPARE(list.Actions.size(), 1);

    Script_Action fetched = action(9, "end");
    Get_Script_Action(list, 0, fetched);
    QCOMPARE(fetched.Number, 0);
    QVERIFY(fetched.Command.isEmpty());
    QVERIFY(fetched.Values.isEmpty());

    fetched = action(9, "end");
    Get_Script_Action(list, 1, fetched);
    QCOMPARE(fetched.Command, QStringLiteral("end"));
}

void tst_Sys_Script::add_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("empty list reuses the spare") << QStringList{} << "1 meb 1" << QStringList{"1 meb 1"};
    QTest::newRow("same number and command replaces")
        << QStringList{"1 meb 1", "2 wait 500"} << "2 wait 900" << QStringList{"1 meb 1", "2 wait 900"};
    QTest::newRow("same number, other command appends")
        << QStringList{"1 meb 1"} << "1 wait 5" << QStringList{"1 meb 1", "1 wait 5"};
    QTest::newRow("command compared with letter case")
        << QStringList{"1 meb 1"} << "1 MEB 2" << QStringList{"1 meb 1", "1 MEB 2"};
    QTest::newRow("every match replaced")
        << QStringList{"1 meb 1", "2 end 0", "1 wait 3", "1 meb 4"} << "1 meb 7"
        << QStringList{"1 meb 7", "2 end 0", "1 wait 3", "1 meb 7"};
}

void tst_Sys_Script::add()
{
    QFETCH(QStringList, before);
    QFETCH(QString, added);
    QFETCH(QStringList, after);

    // Built by hand, so that duplicates can be stored.
    Action_List list;
    for (const QString &row : before) {
        const Action_List one = listOf({row});
        if (list.Nb_Action == 0)
            list.Actions.clear();
        list.Actions << one.Actions[0];
        ++list.Nb_Action;
    }
    Add_Script_Action(list, listOf({added}).Actions[0]);
    QCOMPARE(list.Nb_Action, after.size());
    QCOMPARE(list.Actions.size(), after.size());
    QCOMPARE(describe(list, list.Actions.size()), after);
}

void tst_Sys_Script::remove_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("elements"); // the whole array afterwards

    const QStringList three{"1 meb 1", "2 wait 2", "3 end 0"};
    QTest::newRow("middle renumbers those behind") << three << 1 << 2 << QStringList{"1 meb 1", "2 end 0"};
    QTest::newRow("first") << three << 0 << 2 << QStringList{"1 wait 2", "2 end 0"};
    QTest::newRow("last") << three << 2 << 2 << QStringList{"1 meb 1", "2 wait 2"};
    QTest::newRow("only action stays as the spare") << QStringList{"1 meb 1"} << 0 << 0 << QStringList{"1 meb 1"};
    QTest::newRow("above the upper bound") << three << 3 << 3 << three;
    QTest::newRow("negative") << three << -1 << 3 << three;
    QTest::newRow("empty list") << QStringList{} << 0 << 0 << QStringList{"0 "};
}

void tst_Sys_Script::remove()
{
    QFETCH(QStringList, before);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(QStringList, elements);

    Action_List list = listOf(before);
    Remove_Script_Action(list, index);
    QCOMPARE(list.Nb_Action, count);
    QCOMPARE(describe(list, list.Actions.size()), elements);
}

void tst_Sys_Script::getAndSetIgnoreIndexesOutsideTheArray()
{
    Action_List list = listOf({"1 meb 1", "2 end 0"});
    const QStringList stored = describe(list, 2);
    for (const qint32 index : {2, -1, INT32_MAX, INT32_MIN}) {
        Set_Script_Action(list, index, action(7, "wait", {7}));
        QCOMPARE(describe(list, list.Actions.size()), stored);
        Script_Action fetched = action(5, "x", {5});
        Get_Script_Action(list, index, fetched);
        QCOMPARE(fetched.Command, QStringLiteral("x"));
    }
    Set_Script_Action(list, 1, action(2, "wait", {300}));
    QCOMPARE(describe(list, 2), (QStringList{"1 meb 1", "2 wait 300"}));
}

void tst_Sys_Script::storedRecordsAreCopies()
{
    Action_List list;
    Script_Action a = action(1, "meb", {1, 2, 3, 4});
    Add_Script_Action(list, a);
    a.Values[0] = 99;
    a.Command = QStringLiteral("mrn");
    Script_Action fetched;
    Get_Script_Action(list, 0, fetched);
    fetched.Values[1] = 77;
    QCOMPARE(describe(list, 1), QStringList{"1 meb 1 2 3 4"});
}

QTEST_GUILESS_MAIN(tst_Sys_Script)
#include "tst_sys_script.moc"
