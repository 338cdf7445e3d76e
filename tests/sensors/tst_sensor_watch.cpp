#include "sensors/Sensor_Watch.h"

#include <QTest>

namespace {

Sys_Project::Reply batteries(int first, int second)
{
    return {Sys_Project::ReplyKind::Batteries, {quint8(first), quint8(second), 0}};
}

Sys_Project::Reply whiskers(int bits)
{
    return {Sys_Project::ReplyKind::Whiskers, {quint8(bits), 0, 0}};
}

QStringList texts(const QList<Sensor_Event> &events)
{
    QStringList list;
    for (const Sensor_Event &event : events)
        list << event.text();
    return list;
}

} // namespace

// What the robot's replies mean for an operator and a playing script: a battery's fall below
// its level told once per fall, a whisker's closing, and which of them pause a script.
class TestSensorWatch : public QObject
{
    Q_OBJECT

private slots:
    void batteryFallsAreToldOncePerCrossing_data()
    {
        QTest::addColumn<int>("threshold"); // tenths, 0: off
        QTest::addColumn<QList<int>>("readings");
        QTest::addColumn<QStringList>("told"); // what each reading told, "" when nothing
        QTest::addColumn<bool>("lowAtTheEnd");

        QTest::newRow("off by default") << 0 << QList<int>{72, 10, 0} << QStringList{"", "", ""} << false;
        QTest::newRow("a fall, then staying low")
            << 65 << QList<int>{72, 61, 60, 61} << QStringList{"", "battery 1 low: 6.1 V", "", ""} << true;
        QTest::newRow("at the level is not below it") << 65 << QList<int>{65} << QStringList{""} << false;
        QTest::newRow("wavering within the margin")
            << 65 << QList<int>{64, 66, 64, 67, 64} << QStringList{"battery 1 low: 6.4 V", "", "", "", ""} << true;
        QTest::newRow("risen above the margin, then a new fall")
            << 65 << QList<int>{60, 68, 60} << QStringList{"battery 1 low: 6 V", "", "battery 1 low: 6 V"} << true;
        QTest::newRow("back above the level") << 65 << QList<int>{60, 66} << QStringList{"battery 1 low: 6 V", ""}
                                              << false;
    }
    void batteryFallsAreToldOncePerCrossing()
    {
        QFETCH(int, threshold);
        QFETCH(QList<int>, readings);
        QFETCH(QStringList, told);
        QFETCH(bool, lowAtTheEnd);
        Sensor_Watch watch;
        Battery_Thresholds thresholds;
        thresholds.tenths = {threshold, 0};
        watch.setThresholds(thresholds);
        QStringList said;
        for (const int reading : readings)
            said << texts(watch.take(batteries(reading, 72))).join(u'|');
        QCOMPARE(said, told);
        QCOMPARE(watch.isLow(0), lowAtTheEnd);
        QVERIFY(!watch.isLow(1));
    }

    void eachBatteryHasItsOwnLevel()
    {
        Sensor_Watch watch;
        Battery_Thresholds thresholds;
        thresholds.tenths = {60, 70};
        watch.setThresholds(thresholds);
        QCOMPARE(texts(watch.take(batteries(65, 65))), QStringList{"battery 2 low: 6.5 V"});
        QCOMPARE(texts(watch.take(batteries(55, 65))), QStringList{"battery 1 low: 5.5 V"});
        // Turning a level off forgets its fall: set again, the next fall is told.
        thresholds.tenths = {0, 70};
        watch.setThresholds(thresholds);
        QVERIFY(!watch.isLow(0));
        thresholds.tenths = {60, 70};
        watch.setThresholds(thresholds);
        QCOMPARE(texts(watch.take(batteries(55, 65))), QStringList{"battery 1 low: 5.5 V"});
    }

    void whiskersClosingAreEvents_data()
    {
        QTest::addColumn<QList<int>>("reports");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("the first report of a closed one") << QList<int>{0b0010} << QStringList{"whisker 2 closed"};
        QTest::newRow("still closed is no new event") << QList<int>{0b0010, 0b0010} << QStringList{"whisker 2 closed"};
        QTest::newRow("opening is no event") << QList<int>{0b0001, 0} << QStringList{"whisker 1 closed"};
        QTest::newRow("closed again") << QList<int>{0b1000, 0, 0b1000}
                                      << QStringList{"whisker 4 closed", "whisker 4 closed"};
        QTest::newRow("two at once, in order") << QList<int>{0b0101} << QStringList{"whisker 1 closed", "whisker 3 closed"};
        QTest::newRow("bits beyond the four whiskers") << QList<int>{0xF0} << QStringList{};
    }
    void whiskersClosingAreEvents()
    {
        QFETCH(QList<int>, reports);
        QFETCH(QStringList, events);
        Sensor_Watch watch;
        QStringList said;
        for (const int bits : reports)
            said << texts(watch.take(whiskers(bits)));
        QCOMPARE(said, events);
    }

    void pauseRule_data()
    {
        QTest::addColumn<int>("whiskers");
        QTest::addColumn<bool>("onLowBattery");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("pauses");
        const int whisker = Sensor_Event::WhiskerClosed;
        const int battery = Sensor_Event::BatteryLow;
        QTest::newRow("nothing chosen") << 0 << false << whisker << 1 << false;
        QTest::newRow("any whisker") << int(Pause_Rule::AnyWhisker) << false << whisker << 3 << true;
        QTest::newRow("the whisker chosen") << 0b0010 << false << whisker << 2 << true;
        QTest::newRow("another whisker") << 0b0010 << false << whisker << 1 << false;
        QTest::newRow("whiskers only, a low battery") << int(Pause_Rule::AnyWhisker) << false << battery << 1 << false;
        QTest::newRow("low battery") << 0 << true << battery << 2 << true;
        QTest::newRow("low battery only, a whisker") << 0 << true << whisker << 1 << false;
    }
    void pauseRule()
    {
        QFETCH(int, whiskers);
        QFETCH(bool, onLowBattery);
        QFETCH(int, kind);
        QFETCH(int, number);
        QFETCH(bool, pauses);
        const Pause_Rule rule{quint8(whiskers), onLowBattery};
        QCOMPARE(rule.pausesOn({Sensor_Event::Kind(kind), number, 60}), pauses);
    }

    void voltsFromTheOperator_data()
    {
        QTest::addColumn<double>("volts");
        QTest::addColumn<int>("tenths"); // -1: refused
        QTest::newRow("a tenth") << 6.1 << 61;
        QTest::newRow("to the nearest tenth") << 6.149 << 61;
        QTest::newRow("off") << 0.0 << 0;
        QTest::newRow("the most a byte holds") << 25.5 << 255;
        QTest::newRow("above it") << 25.6 << -1;
        QTest::newRow("below zero") << -1.0 << -1;
        QTest::newRow("not a number") << qQNaN() << -1;
    }
    void voltsFromTheOperator()
    {
        QFETCH(double, volts);
        QFETCH(int, tenths);
        QCOMPARE(Battery_Thresholds::tenthsFromVolts(volts).value_or(-1), tenths);
    }
};

QTEST_GUILESS_MAIN(TestSensorWatch)
#include "tst_sensor_watch.moc"
