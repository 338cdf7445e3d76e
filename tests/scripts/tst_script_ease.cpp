#include "scripts/Script_Ease.h"
#include "scripts/Script_File.h"
#include "support/Action_Words.h"

#include <QTest>

using namespace Script_Ease;

namespace {

QString words(const QList<Script_Action> &list)
{
    return Format_Action_Lines(list).trimmed().replace(u'\n', u' ');
}

} // namespace

class tst_Script_Ease : public QObject
{
    Q_OBJECT

private slots:
    void positionsAtEachStep_data();
    void positionsAtEachStep();
    void refusals_data();
    void refusals();
};

void tst_Script_Ease::positionsAtEachStep_data()
{
    QTest::addColumn<QString>("poses");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("curve");
    QTest::addColumn<int>("pitchLow"); // the profile's range of the neck's pitch
    QTest::addColumn<int>("pitchHigh");
    QTest::addColumn<QString>("eased");

    // From pitch 0 and yaw 100 to pitch 100 and yaw 50; the second pose comes 200 ms after
    // the first (its step, then 180 ms), the steps at 50, 100 and 150 ms: a quarter, half and
    // three quarters of the way in time. Halves round away from zero.
    const QString neck = QStringLiteral("mrn;0;0;100;0 mrn;100;7;50;9");
    QTest::newRow("linear") << neck << qint64(180) << 50 << int(QEasingCurve::Linear) << 0 << 255
                            << "wait;30 mrn;25;7;88;9 wait;30 mrn;50;7;75;9 wait;30 mrn;75;7;63;9 wait;30";
    QTest::newRow("ease in") << neck << qint64(180) << 50 << int(QEasingCurve::InQuad) << 0 << 255
                             << "wait;30 mrn;6;7;97;9 wait;30 mrn;25;7;88;9 wait;30 mrn;56;7;72;9 wait;30";
    QTest::newRow("ease out") << neck << qint64(180) << 50 << int(QEasingCurve::OutQuad) << 0 << 255
                              << "wait;30 mrn;44;7;78;9 wait;30 mrn;75;7;63;9 wait;30 mrn;94;7;53;9 wait;30";
    QTest::newRow("ease in-out") << neck << qint64(180) << 50 << int(QEasingCurve::InOutQuad) << 0 << 255
                                 << "wait;30 mrn;13;7;94;9 wait;30 mrn;50;7;75;9 wait;30 mrn;88;7;56;9 wait;30";
    QTest::newRow("inside the profile's range") << neck << qint64(180) << 50 << int(QEasingCurve::Linear) << 10 << 60
                                                << "wait;30 mrn;25;7;88;9 wait;30 mrn;50;7;75;9 wait;30 mrn;60;7;63;9 wait;30";
    // A step of 20 ms needs no waits: a move is followed by the next one 20 ms later.
    QTest::newRow("step of 20 ms") << neck << qint64(60) << 20 << int(QEasingCurve::Linear) << 0 << 255
                                   << "mrn;25;7;88;9 mrn;50;7;75;9 wait;20";
    QTest::newRow("shorter than a step") << neck << qint64(30) << 50 << int(QEasingCurve::Linear) << 0 << 255
                                         << "wait;30";
    QTest::newRow("no time") << neck << qint64(0) << 50 << int(QEasingCurve::Linear) << 0 << 255 << "";
    QTest::newRow("step past its range is taken at the most") << neck << qint64(2000) << 5000
                                                              << int(QEasingCurve::Linear) << 0 << 255
                                                              << "wait;980 mrn;50;7;75;9 wait;1000";
    // A single servo's number stays; its position eases.
    QTest::newRow("single servo") << "mss;8;40;0 mss;8;80;5" << qint64(80) << 50 << int(QEasingCurve::Linear) << 0
                                  << 255 << "wait;30 mss;8;60;5 wait;30";
    QTest::newRow("one degree apart, halves rounded up")
        << "mrn;101;0;0;0 mrn;100;1;0;1" << qint64(180) << 50 << int(QEasingCurve::Linear) << 0 << 255
        << "wait;30 mrn;101;1;0;1 wait;30 mrn;101;1;0;1 wait;30 mrn;100;1;0;1 wait;30";
}

void tst_Script_Ease::positionsAtEachStep()
{
    QFETCH(QString, poses);
    QFETCH(qint64, duration);
    QFETCH(int, step);
    QFETCH(int, curve);
    QFETCH(int, pitchLow);
    QFETCH(int, pitchHigh);
    QFETCH(QString, eased);

    const Action_List list = actions(poses);
    QCOMPARE(list.Nb_Action, 2);
    Script_Schedule::Motion_Profile profile;
    profile.ranges[15] = {pitchLow, pitchHigh}; // Neck Pitch
    const Settings settings{duration, step, QEasingCurve::Type(curve)};
    const QList<Script_Action> result = between(list.Actions[0], list.Actions[1], settings, profile);
    QCOMPARE(words(result), eased);
    QCOMPARE(countBetween(settings), result.size());

    // Played, the second pose still comes the first's step and the duration after the first.
    Action_List played = list;
    played.Actions = QList<Script_Action>{list.Actions[0]} + result + QList<Script_Action>{list.Actions[1]};
    played.Nb_Action = qint32(played.Actions.size());
    QCOMPARE(Script_Schedule::startTimes(played).last(), Script_Schedule::Step + duration);
}

void tst_Script_Ease::refusals_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<qint32>("first");
    QTest::addColumn<qint32>("last");
    QTest::addColumn<QString>("why");
    QTest::addColumn<qint64>("waits");

    QTest::newRow("two moves, waits between") << "mrn;1;0;1;0 wait;300 wait;-5 wait;200 mrn;2;0;2;0" << 0 << 4 << ""
                                              << qint64(500);
    QTest::newRow("side by side") << "mrn;1;0;1;0 mrn;2;0;2;0" << 0 << 1 << "" << qint64(0);
    QTest::newRow("one row") << "mrn;1;0;1;0" << 0 << 0
                             << "Select two moves of the same kind: the first and the last action selected are eased "
                                "between."
                             << qint64(0);
    QTest::newRow("no move") << "wait;5 mrn;2;0;2;0" << 0 << 1
                             << "Action 1 is no move: the first and the last action selected must be moves." << qint64(0);
    QTest::newRow("different kinds") << "mrn;1;0;1;0 wait;5 meb;2;0;2;0" << 0 << 2
                                     << "Actions 1 and 3 are moves of different kinds (\"mrn\" and \"meb\")."
                                     << qint64(5);
    QTest::newRow("a move between") << "mrn;1;0;1;0 wait;5 meb;1;0;1;0 mrn;2;0;2;0" << 0 << 3
                                    << "Only waits may stand between the two moves: action 3 is \"meb\"." << qint64(5);
    QTest::newRow("an end between") << "mrn;1;0;1;0 end;0 mrn;2;0;2;0" << 0 << 2
                                    << "Only waits may stand between the two moves: action 2 is \"end\"." << qint64(0);
    QTest::newRow("different servos") << "mss;8;1;0 mss;9;2;0" << 0 << 1
                                      << "Actions 1 and 2 move different servos." << qint64(0);
    QTest::newRow("a value past a byte") << "mrn;1;0;1;0 mrn;256;0;2;0" << 0 << 1
                                         << "Action 2 cannot be played, so it cannot be eased from." << qint64(0);
}

void tst_Script_Ease::refusals()
{
    QFETCH(QString, script);
    QFETCH(qint32, first);
    QFETCH(qint32, last);
    QFETCH(QString, why);
    QFETCH(qint64, waits);

    const Action_List list = actions(script);
    QCOMPARE(refusal(list, first, last), why);
    QCOMPARE(waitsBetween(list, first, last), waits);
}

QTEST_GUILESS_MAIN(tst_Script_Ease)
#include "tst_script_ease.moc"
