#include "scripts/Script_File.h"
#include "scripts/Script_Schedule.h"
#include "support/Action_Words.h"

#include <QTest>

using namespace Script_Schedule;

namespace {

QString joined(const QList<qint64> &times)
{
    QStringList words;
    for (const qint64 t : times)
        words << QString::number(t);
    return words.join(u' ');
}

int servoNamed(const QString &name)
{
    for (size_t i = 0; i < Servos::All.size(); ++i)
        if (name == QLatin1StringView(Servos::All[i].name.data(), qsizetype(Servos::All[i].name.size())))
            return int(i);
    return -1;
}

} // namespace

class tst_Script_Schedule : public QObject
{
    Q_OBJECT

private slots:
    void startTimes_data();
    void startTimes();
    void predictedPosition_data();
    void predictedPosition();
    void lanesFollowTheServosMoved_data();
    void lanesFollowTheServosMoved();
    void actionAtTime_data();
    void actionAtTime();
};

void tst_Script_Schedule::startTimes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("starts");
    QTest::addColumn<qint64>("length");

    QTest::newRow("empty") << "" << "" << qint64(0);
    QTest::newRow("moves 20 ms apart") << "mrn;90;0;90;0 meb;1;2;3;4 end;0" << "0 20 40" << qint64(60);
    QTest::newRow("a wait by its length") << "mrn;90;0;90;0 wait;500 mrn;1;0;1;0 end;0" << "0 20 520 540"
                                          << qint64(560);
    QTest::newRow("wait 0 and below at once") << "wait;0 wait;-300 mrn;1;0;1;0 end;0" << "0 0 0 20" << qint64(40);
    QTest::newRow("end not last keeps the wait's length")
        << "wait;300 end;0 end;0 mrn;1;0;1;0" << "0 300 600 900" << qint64(920);
    QTest::newRow("unknown command keeps the move's step")
        << "mrn;1;0;1;0 jump;4 mrn;1;0;1;0 end;0" << "0 20 40 60" << qint64(80);
    QTest::newRow("unknown after a wait") << "wait;250 jump;4 end;0" << "0 250 500" << qint64(520);
    // A looping script starts again the short step after its last action, whatever that set.
    QTest::newRow("restart after a last wait") << "mrn;1;0;1;0 wait;5000" << "0 20" << qint64(40);
    QTest::newRow("longest wait") << "wait;65535 end;0" << "0 65535" << qint64(65555);
}

void tst_Script_Schedule::startTimes()
{
    QFETCH(QString, script);
    QFETCH(QString, starts);
    QFETCH(qint64, length);

    qint64 measured = -1;
    QCOMPARE(joined(Script_Schedule::startTimes(actions(script), &measured)), starts);
    QCOMPARE(measured, length);
}

void tst_Script_Schedule::predictedPosition_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<double>("degreesPerUnit");
    QTest::addColumn<QString>("servo");
    // "ms:degrees" pairs along the predicted line.
    QTest::addColumn<QString>("expected");

    // Neck: pitch position and speed, then yaw's.
    QTest::newRow("speed 0 is there at once")
        << "mrn;90;0;50;0 wait;1000 mrn;130;0;50;0 end;0" << 4.0 << "Neck Pitch" << "0:90 1019:90 1020:130 1040:130";
    // Speed 10 at 4 degrees a second a unit: 40 degrees a second, 40 degrees in one second.
    QTest::newRow("speed 10 takes a second for 40 degrees")
        << "mrn;90;0;50;0 wait;2000 mrn;130;10;50;0 end;0" << 4.0 << "Neck Pitch"
        << "2020:90 2520:110 3020:130 5000:130";
    QTest::newRow("going down") << "mrn;130;0;50;0 mrn;90;10;50;0 wait;3000 end;0" << 4.0 << "Neck Pitch"
                                << "20:130 270:120 1020:90";
    QTest::newRow("a profile's slower servos") << "mrn;90;0;50;0 mrn;130;10;50;0 wait;3000 end;0" << 2.0
                                               << "Neck Pitch" << "20:90 1020:110 2020:130";
    // The next move takes over from where the servo got to.
    QTest::newRow("cut short by the next move")
        << "mrn;90;0;50;0 mrn;130;10;50;0 wait;500 mrn;90;10;50;0 wait;2000 end;0" << 4.0 << "Neck Pitch"
        << "20:90 540:110.8 1060:90 2540:90";
    QTest::newRow("yaw from the same frame") << "mrn;90;0;50;0 mrn;90;0;70;5 wait;2000 end;0" << 4.0 << "Neck Yaw"
                                             << "0:50 20:50 520:60 1020:70";
    QTest::newRow("single servo by its number")
        << "mss;8;50;0 mss;8;70;5 mss;9;10;0 wait;2000 end;0" << 4.0 << "Neck Yaw" << "0:50 520:60 1020:70";
    QTest::newRow("eyes' third slot is the pitch") << "mre;1;0;2;0;30;0 end;0" << 4.0 << "Eyes Pitch" << "0:30 20:30";
}

void tst_Script_Schedule::predictedPosition()
{
    QFETCH(QString, script);
    QFETCH(double, degreesPerUnit);
    QFETCH(QString, servo);
    QFETCH(QString, expected);

    Motion_Profile profile;
    profile.degreesPerSecondPerUnit = degreesPerUnit;
    const Timeline timeline = plan(actions(script), profile);
    const int index = servoNamed(servo);
    QVERIFY(index >= 0);
    const auto lane = std::find_if(timeline.lanes.cbegin(), timeline.lanes.cend(),
                                   [index](const Servo_Lane &l) { return l.servo == index; });
    QVERIFY(lane != timeline.lanes.cend());
    for (const QString &pair : expected.split(u' ')) {
        const qint64 ms = pair.section(u':', 0, 0).toLongLong();
        const double degrees = pair.section(u':', 1, 1).toDouble();
        QVERIFY2(qAbs(positionAt(*lane, ms) - degrees) < 1e-6,
                 qPrintable(QStringLiteral("at %1 ms: %2, not %3").arg(ms).arg(positionAt(*lane, ms)).arg(degrees)));
    }
}

void tst_Script_Schedule::lanesFollowTheServosMoved_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("lanes");

    QTest::newRow("none") << "wait;100 end;0" << QStringList{};
    QTest::newRow("a body part's servos, grouped")
        << "mrn;1;0;2;0 meb;1;0;2;0" << QStringList{"Right eyebrow", "Left eyebrow", "Neck Pitch", "Neck Yaw"};
    QTest::newRow("unknown servo number") << "mss;99;1;0" << QStringList{};
    // Moves the player refuses move nothing.
    QTest::newRow("too few values") << "mrn;1;0;2" << QStringList{};
    QTest::newRow("value past a byte") << "mrn;1;0;256;0" << QStringList{};
    QTest::newRow("upper case is no move") << "MRN;1;0;2;0" << QStringList{};
}

void tst_Script_Schedule::lanesFollowTheServosMoved()
{
    QFETCH(QString, script);
    QFETCH(QStringList, lanes);

    QStringList names;
    const Motion_Profile profile;
    for (const Servo_Lane &lane : plan(actions(script)).lanes)
        names << profile.names[size_t(lane.servo)];
    QCOMPARE(names, lanes);
}

void tst_Script_Schedule::actionAtTime_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<qint32>("action");

    // Starts 0 20 20 520 540: a wait of 0 shares its start with the action after it.
    QTest::newRow("before the start") << qint64(-1) << -1;
    QTest::newRow("first") << qint64(0) << 0;
    QTest::newRow("the later of two at once") << qint64(20) << 2;
    QTest::newRow("inside the wait") << qint64(519) << 2;
    QTest::newRow("last, and after it") << qint64(10000) << 4;
}

void tst_Script_Schedule::actionAtTime()
{
    QFETCH(qint64, ms);
    QFETCH(qint32, action);

    const QList<qint64> start = Script_Schedule::startTimes(actions("mrn;1;0;1;0 wait;0 wait;500 mrn;2;0;2;0 end;0"));
    QCOMPARE(actionAt(start, ms), action);
}

QTEST_GUILESS_MAIN(tst_Script_Schedule)
#include "tst_script_schedule.moc"
