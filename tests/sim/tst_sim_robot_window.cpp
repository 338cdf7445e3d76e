#include "sim/RobotWindow.h"
#include "sim/Simulator.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestRobotWindow : public QObject
{
    Q_OBJECT

private slots:
    void whiskerClickSendsTheWhiskers();
};

void TestRobotWindow::whiskerClickSendsTheWhiskers()
{
    Simulator simulator{SimOptions()};
    RobotWindow window(simulator);
    QSignalSpy sent(&simulator.controller(), &Controller::reply);

    for (const char *name : {"whisker2", "whisker4", "whisker2"}) {
        auto *whisker = window.findChild<QPushButton *>(QLatin1StringView(name));
        QVERIFY(whisker);
        whisker->click();
    }
    // Each click reports all four whiskers: bit 1, then bits 1 and 3, then bit 3 alone.
    QCOMPARE(sent.count(), 3);
    QCOMPARE(sent[0].front().toByteArray(), QByteArray::fromHex("67777302"));
    QCOMPARE(sent[1].front().toByteArray(), QByteArray::fromHex("6777730a"));
    QCOMPARE(sent[2].front().toByteArray(), QByteArray::fromHex("67777308"));
}

QTEST_MAIN(TestRobotWindow)
#include "tst_sim_robot_window.moc"
