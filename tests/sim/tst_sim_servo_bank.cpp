#include "sim/ServoBank.h"

#include <QTest>

class TestServoBank : public QObject
{
    Q_OBJECT

private slots:
    void servoMovesTowardsItsTargetAtItsSpeed_data();
    void servoMovesTowardsItsTargetAtItsSpeed();
};

void TestServoBank::servoMovesTowardsItsTargetAtItsSpeed_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QList<double>>("steps"); // seconds
    QTest::addColumn<double>("position");
    QTest::addColumn<bool>("moving");

    // The eyebrow starts at 45; speed s moves 4 s degrees per second.
    QTest::newRow("speed 0 goes at once") << 10 << 0 << QList<double>{} << 10.0 << false;
    QTest::newRow("speed 10, half a second in two steps") << 100 << 10 << QList<double>{0.25, 0.25} << 65.0 << true;
    QTest::newRow("downwards") << 0 << 5 << QList<double>{1.0} << 25.0 << true;
    QTest::newRow("stops at the target") << 50 << 255 << QList<double>{1.0} << 50.0 << false;
}

void TestServoBank::servoMovesTowardsItsTargetAtItsSpeed()
{
    QFETCH(int, target);
    QFETCH(int, speed);
    QFETCH(QList<double>, steps);
    QFETCH(double, position);
    QFETCH(bool, moving);

    ServoBank servos;
    const int eyebrow = ServoBank::indexOfNumber(18);
    QCOMPARE(servos.servo(eyebrow).position, 45.0);
    servos.command(eyebrow, target, speed);
    for (const double seconds : steps)
        servos.advance(seconds);
    QCOMPARE(servos.servo(eyebrow).position, position);
    QCOMPARE(servos.moving(), moving);
}

QTEST_APPLESS_MAIN(TestServoBank)
#include "tst_sim_servo_bank.moc"
