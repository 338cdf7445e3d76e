#include "link/Servos.h"
#include "sim/RobotView.h"
#include "sim/RobotWindow.h"
#include "sim/Simulator.h"

#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

namespace {

FrameReader::Event singleServo(int number, int position)
{
    QByteArray data;
    data.append(char(number)).append(char(position)).append(char(0));
    return {"mss", data};
}

} // namespace

class TestRobotWindow : public QObject
{
    Q_OBJECT

private slots:
    void whiskerClickSendsTheWhiskers();
    void controlsAndRobotStayInStep();
    void pictureFollowsEveryServo_data();
    void pictureFollowsEveryServo();
    void pictureSurvivesAnyPositionAndSize();

private:
    template <class Widget>
    Widget *child(RobotWindow &window, const char *name)
    {
        auto *widget = window.findChild<Widget *>(QLatin1StringView(name));
        if (!widget)
            qFatal("no %s in the robot's window", name);
        return widget;
    }
};

void TestRobotWindow::whiskerClickSendsTheWhiskers()
{
    Simulator simulator{SimOptions()};
    RobotWindow window(simulator);
    QSignalSpy sent(&simulator.controller(), &Controller::reply);

    child<QPushButton>(window, "whisker2")->click();
    child<QPushButton>(window, "whisker4")->click();
    child<QPushButton>(window, "whisker2")->click();

    QCOMPARE(sent.count(), 3);
    QCOMPARE(sent[0].front().toByteArray(), QByteArray::fromHex("67777302"));
    QCOMPARE(sent[1].front().toByteArray(), QByteArray::fromHex("6777730a"));
    QCOMPARE(sent[2].front().toByteArray(), QByteArray::fromHex("67777308"));
}

void TestRobotWindow::controlsAndRobotStayInStep()
{
    Simulator simulator{SimOptions()};
    RobotWindow window(simulator);
    ControlChannel channel(simulator.controller());
    QSignalSpy sent(&simulator.controller(), &Controller::reply);

    child<QSpinBox>(window, "battery2")->setValue(84);
    child<QSpinBox>(window, "analogue3")->setValue(40000);
    QCOMPARE(simulator.controller().battery(2), quint8(84));
    QCOMPARE(simulator.controller().analogue(3), quint16(40000));

    channel.execute(QStringLiteral("battery 1 99"));
    channel.execute(QStringLiteral("analogue 1 7"));
    channel.execute(QStringLiteral("whiskers 5"));
    QCOMPARE(child<QSpinBox>(window, "battery1")->value(), 99);
    QCOMPARE(child<QSpinBox>(window, "analogue1")->value(), 7);
    QVERIFY(child<QPushButton>(window, "whisker1")->isChecked());
    QVERIFY(!child<QPushButton>(window, "whisker2")->isChecked());
    QVERIFY(child<QPushButton>(window, "whisker3")->isChecked());
    // Showing the new state must not report it a second time.
    QCOMPARE(sent.count(), 1);
}

void TestRobotWindow::pictureFollowsEveryServo_data()
{
    QTest::addColumn<int>("number");
    for (const Servos::Servo &servo : Servos::All)
        QTest::newRow(servo.name.data()) << servo.number;
}

void TestRobotWindow::pictureFollowsEveryServo()
{
    QFETCH(int, number);

    Simulator simulator{SimOptions()};
    RobotView view(simulator.controller());
    view.resize(440, 556);
    const QImage before = view.grab().toImage();

    const int neutral = ServoBank::neutral(ServoBank::indexOfNumber(number));
    simulator.controller().handle(singleServo(number, neutral + 40));
    QVERIFY(view.grab().toImage() != before);
}

void TestRobotWindow::pictureSurvivesAnyPositionAndSize()
{
    Simulator simulator{SimOptions()};
    RobotView view(simulator.controller());
    for (const int position : {0, 255, 128}) {
        for (const Servos::Servo &servo : Servos::All)
            simulator.controller().handle(singleServo(servo.number, position));
        for (const QSize size : {QSize(1, 1), QSize(300, 900), QSize(900, 300)}) {
            view.resize(size);
            QCOMPARE(view.grab().size(), size);
        }
    }
}

QTEST_MAIN(TestRobotWindow)
#include "tst_sim_robot_window.moc"
