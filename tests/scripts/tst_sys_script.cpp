#include "scripts/Sys_Script.h"

#include <QTest>

namespace {

// Rows are "number command value...", stored as they stand (duplicates included).
Action_List listOf(const QStringList &rows)
{
    Action_List list;
    if (!rows.isEmpty())
        list.Actions.clear();
    for (const QString &row : rows) {
        const QStringList parts = row.split(u' ');
        Script_Action action{parts[0].toInt(), parts[1], {}, 0};
        for (qsizetype i = 2; i < parts.size(); ++i)
            action.Values << parts[i].toInt();
        action.Nb_Values = qint32(action.Values.size());
        list.Actions << action;
    }
    list.Nb_Action = qint32(rows.size());
    return list;
}

// Every element of the array, the spare one included.
QStringList describe(const Action_List &list)
{
    QStringList rows;
    for (const Script_Action &a : list.Actions) {
        QString row = QString::number(a.Number) + u' ' + a.Command;
        for (qint32 v : a.Values)
            row += u' ' + QString::number(v);
        rows << row;
    }
    return rows;
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
};

void tst_Sys_Script::initLeavesOneBlankSpareElement()
{
    Action_List list = listOf({"1 meb 1 2 3 4", "2 wait 500"});
    Init_Script(list);
    QCOMPARE(list.Nb_Action, 0);
    QCOMPARE(describe(list), QStringList{"0 "});

    Script_Action fetched{9, QStringLiteral("end"), {0}, 1};
    Get_Script_Action(list, 1, fetched);
    QCOMPARE(fetched.Command, QStringLiteral("end"));
    Get_Script_Action(list, 0, fetched);
    QVERIFY(fetched.Command.isEmpty() && fetched.Values.isEmpty() && fetched.Number == 0);
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
        << QStringList{"1 meb 1", "2 end 0", "1 meb 4"} << "1 meb 7" << QStringList{"1 meb 7", "2 end 0", "1 meb 7"};
}

void tst_Sys_Script::add()
{
    QFETCH(QStringList, before);
    QFETCH(QString, added);
    QFETCH(QStringList, after);

    Action_List list = listOf(before);
    Add_Script_Action(list, listOf({added}).Actions[0]);
    QCOMPARE(list.Nb_Action, after.size());
    QCOMPARE(describe(list), after);
}

void tst_Sys_Script::remove_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("elements");

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
    QCOMPARE(describe(list), elements);
}

void tst_Sys_Script::getAndSetIgnoreIndexesOutsideTheArray()
{
    Action_List list = listOf({"1 meb 1", "2 end 0"});
    const Script_Action wait{2, QStringLiteral("wait"), {300}, 1};
    for (const qint32 index : {2, -1, INT32_MAX, INT32_MIN}) {
        Set_Script_Action(list, index, wait);
        Script_Action fetched = wait;
        Get_Script_Action(list, index, fetched);
        QCOMPARE(fetched.Command, QStringLiteral("wait"));
    }
    QCOMPARE(describe(list), (QStringList{"1 meb 1", "2 end 0"}));
    Set_Script_Action(list, 1, wait);
    QCOMPARE(describe(list), (QStringList{"1 meb 1", "2 wait 300"}));
}

QTEST_GUILESS_MAIN(tst_Sys_Script)
#include "tst_sys_script.moc"
