#include "scripts/Script_Check.h"

#include <QTest>

// One action before a closing "end" (or the actions as given when the row says so), and the
// problem the check finds in the first; "" for none.
class TestScriptCheck : public QObject
{
    Q_OBJECT

    static Action_List script(const QStringList &actions)
    {
        Action_List list;
        for (const QString &text : actions) {
            const QStringList fields = text.split(u';');
            Script_Action action{list.Nb_Action + 1, fields[0], {}, 0};
            for (qsizetype k = 1; k < fields.size(); ++k)
                action.Values.append(fields[k].toInt());
            action.Nb_Values = qint32(action.Values.size());
            Add_Script_Action(list, action);
        }
        return list;
    }

private slots:
    void problemOfAction_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("problem");
        const auto end = QStringLiteral("end;0");
        QTest::newRow("clean move") << QStringList{"mrm;0;1;2;3;4;5;255;7", end} << "";
        QTest::newRow("known servo") << QStringList{"mss;20;90;0", end} << "";
        QTest::newRow("waits at the edges") << QStringList{"wait;1", "wait;65535", end} << "";
        QTest::newRow("too few values") << QStringList{"mla;1;2;3;4;5", end} << "\"mla\" takes 6 values, not 5";
        QTest::newRow("too many values") << QStringList{"wait;5;6", end} << "\"wait\" takes 1 value, not 2";
        QTest::newRow("above a byte") << QStringList{"meb;120;10;256;10", end}
                                      << "the value 256 is not between 0 and 255";
        QTest::newRow("negative") << QStringList{"mrn;-1;0;90;0", end} << "the value -1 is not between 0 and 255";
        QTest::newRow("no such servo") << QStringList{"mss;5;90;0", end} << "no servo has the number 5";
        QTest::newRow("wait of 0") << QStringList{"wait;0", end} << "a wait of 0 ms is not between 1 and 65535";
        QTest::newRow("wait too long") << QStringList{"wait;65536", end}
                                       << "a wait of 65536 ms is not between 1 and 65535";
        QTest::newRow("unknown kind") << QStringList{"MEB;1;2;3;4", end} << "\"MEB\" is no action the player knows";
        QTest::newRow("end early") << QStringList{end, end} << "\"end\" before the last action does nothing";
        QTest::newRow("no end") << QStringList{"wait;5"} << "the script does not end with \"end\"";
        QTest::newRow("two problems") << QStringList{"mss;300;90"}
                                      << "\"mss\" takes 3 values, not 2; the value 300 is not between 0 and 255; "
                                         "no servo has the number 300; the script does not end with \"end\"";
    }
    void problemOfAction()
    {
        QFETCH(QStringList, actions);
        QFETCH(QString, problem);
        const QList<Script_Problem> problems = Check_Script_Actions(script(actions));
        if (problem.isEmpty()) {
            QVERIFY(problems.isEmpty());
            return;
        }
        QCOMPARE(problems.size(), 1);
        QCOMPARE(problems[0].Index, 0);
        QCOMPARE(problems[0].Text, problem);
    }

    void moveOutsideAnOwnProfile_data()
    {
        QTest::addColumn<QString>("move");
        QTest::addColumn<bool>("ownProfile");
        QTest::addColumn<QString>("problem");
        QTest::newRow("inside") << "mss;18;40;0" << true << "";
        QTest::newRow("outside") << "mss;18;41;0" << true << "Right eyebrow (servo 18) may only go from 20 to 40, not to 41";
        QTest::newRow("in a body part's frame") << "meb;45;0;19;0" << true
                                                << "Right eyebrow (servo 18) may only go from 20 to 40, not to 19";
        QTest::newRow("built-in lets it through") << "mss;18;41;0" << false << "";
        // Said once: a value that is no byte is not also outside the range.
        QTest::newRow("no byte") << "mss;18;300;0" << true << "the value 300 is not between 0 and 255";
    }
    void moveOutsideAnOwnProfile()
    {
        QFETCH(QString, move);
        QFETCH(bool, ownProfile);
        QFETCH(QString, problem);
        Robot_Profile profile = Robot_Profile::builtIn();
        profile.setLimits(ownProfile);
        profile.setServo(0, {QStringLiteral("Right eyebrow"), 20, 40, 30});
        const QList<Script_Problem> problems = Check_Script_Actions(script({move, QStringLiteral("end;0")}), profile);
        QCOMPARE(problems.isEmpty() ? QString() : problems[0].Text, problem);
    }
};

QTEST_APPLESS_MAIN(TestScriptCheck)
#include "tst_script_check.moc"
