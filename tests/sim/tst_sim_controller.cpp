#include "sim/ControlChannel.h"
#include "sim/Controller.h"
#include "sim/ServoBank.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QString sensors(const Controller &c)
{
    return QStringLiteral("batteries %1 %2 analogues %3 %4 %5 %6 whiskers %7")
        .arg(c.battery(1))
        .arg(c.battery(2))
        .arg(c.analogue(1))
        .arg(c.analogue(2))
        .arg(c.analogue(3))
        .arg(c.analogue(4))
        .arg(c.whiskers());
}

const QString Start = QStringLiteral("batteries 72 73 analogues 100 200 300 400 whiskers 0");

} // namespace

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void servoMovesTowardsItsTargetAtItsSpeed_data();
    void servoMovesTowardsItsTargetAtItsSpeed();
    void singleServoFrameForAnUnknownServoMovesNothing();
    void controlChannelCommands_data();
    void controlChannelCommands();
};

void TestController::servoMovesTowardsItsTargetAtItsSpeed_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QList<double>>("steps"); // seconds
    QTest::addColumn<double>("position");
    QTest::addColumn<bool>("moving");

    // The eyebrow starts at 45; speed s moves 4 s degrees per second.
    QTest::newRow("speed 0 goes at once") << 10 << 0 << QList<double>{} << 10.0 << false;
    QTest::newRow("speed 10 for half a second") << 100 << 10 << QList<double>{0.5} << 65.0 << true;
    QTest::newRow("downwards") << 0 << 5 << QList<double>{1.0} << 25.0 << true;
    QTest::newRow("many small steps add up") << 100 << 10 << QList<double>(25, 0.02) << 65.0 << true;
    QTest::newRow("stops at the target") << 50 << 255 << QList<double>{1.0} << 50.0 << false;
    QTest::newRow("arrives exactly") << 85 << 10 << QList<double>{1.0} << 85.0 << false;
    QTest::newRow("no time, no move") << 100 << 10 << QList<double>{0.0} << 45.0 << true;
}

void TestController::servoMovesTowardsItsTargetAtItsSpeed()
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

void TestController::singleServoFrameForAnUnknownServoMovesNothing()
{
    Controller controller;
    QSignalSpy ignored(&controller, &Controller::ignored);
    QSignalSpy moved(&controller, &Controller::servosMoved);
    controller.handle({"mss", QByteArray::fromHex("05ff00")});
    QCOMPARE(ignored.count(), 1);
    QCOMPARE(moved.count(), 0);
    for (int i = 0; i < ServoBank::Count; ++i)
        QCOMPARE(controller.servos().servo(i).target, ServoBank::neutral(i));
}

void TestController::controlChannelCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reply"); // what the reply starts with
    QTest::addColumn<QString>("sensors");
    QTest::addColumn<int>("reports"); // "gws" frames sent

    auto row = [](const char *line, const char *reply, const QString &sensors, int reports = 0) {
        QTest::newRow(line) << QString::fromUtf8(line) << QString::fromUtf8(reply) << sensors << reports;
    };
    row("battery 1 75", "ok", "batteries 75 73 analogues 100 200 300 400 whiskers 0");
    row("battery 2 0x10", "ok", "batteries 72 16 analogues 100 200 300 400 whiskers 0");
    row("battery 3 10", "error: ", Start);
    row("battery 1 256", "error: ", Start);
    row("battery 1", "error: ", Start);
    row("analogue 4 65535", "ok", "batteries 72 73 analogues 100 200 300 65535 whiskers 0");
    row("analog 2 7", "ok", "batteries 72 73 analogues 100 7 300 400 whiskers 0");
    row("analogue 0 1", "error: ", Start);
    row("analogue 1 65536", "error: ", Start);
    row("whisker 3 on", "ok", "batteries 72 73 analogues 100 200 300 400 whiskers 4", 1);
    row("  whisker   1   closed ", "ok", "batteries 72 73 analogues 100 200 300 400 whiskers 1", 1);
    row("whisker 5 on", "error: ", Start);
    row("whisker 2 maybe", "error: ", Start);
    row("whiskers 0b1010", "ok", "batteries 72 73 analogues 100 200 300 400 whiskers 10", 1);
    row("whiskers 16", "error: ", Start);
    row("servo 18", "ok servo 18 (Right eyebrow) position 45.0 target 45 speed 0", Start);
    row("servo 5", "error: ", Start);
    row("fly away", "error: unknown command", Start);
    row("", "", Start);
    row("# a comment", "", Start);
}

void TestController::controlChannelCommands()
{
    QFETCH(QString, line);
    QFETCH(QString, reply);
    QFETCH(QString, sensors);
    QFETCH(int, reports);

    Controller controller;
    ControlChannel channel(controller);
    QSignalSpy sent(&controller, &Controller::reply);
    const ControlChannel::Result result = channel.execute(line);
    QVERIFY2(reply.isEmpty() ? result.reply.isEmpty() : result.reply.startsWith(reply), qPrintable(result.reply));
    QCOMPARE(::sensors(controller), sensors);
    QCOMPARE(sent.count(), reports);
    if (reports > 0)
        QCOMPARE(sent.back().front().toByteArray(), QByteArray("gws") + char(controller.whiskers()));
    QVERIFY(!result.quit);
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_sim_controller.moc"
