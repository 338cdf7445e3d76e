#include "SimProcess.h"

#include "ui/Colours.h"
#include "panel/Frm_Main.h"
#include "support/ScriptedDialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <memory>

// The operator's panel against the virtual robot, each a program of its own: what the
// panel sends must reach the robot byte for byte, and what the robot reports must show.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sendButtonsReachTheRobot_data();
    void sendButtonsReachTheRobot();
    void sensorPanelShowsTheRobotsReadings();

private:
    template <class Widget>
    Widget *control(const QString &name)
    {
        auto *widget = m_main->findChild<Widget *>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Frm_Main> m_main;
};

void TestEndToEnd::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    m_sim = std::make_unique<SimProcess>();
    QVERIFY(m_sim->start({"--battery1", "72", "--battery2", "73", "--analogue", "1=5", "--analogue", "2=500",
                          "--analogue", "3=1023", "--analogue", "4=32767"}));
    qputenv("ORVIK_COM1", QFile::encodeName(m_sim->link()));

    m_main = std::make_unique<Frm_Main>();
    const ScriptedDialogs *dialogs = ScriptedDialogs::install(*m_main);
    QVERIFY(m_main->Open_Serial(1));
    QVERIFY(dialogs->shown.isEmpty());
}

void TestEndToEnd::cleanupTestCase()
{
    m_main.reset();
    m_sim.reset();
}

void TestEndToEnd::sendButtonsReachTheRobot_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("mnemonic");
    QTest::addColumn<QList<int>>("elements"); // Slide(i) and Txt_Speed(i), in frame order
    QTest::addColumn<QList<int>>("servos");   // the robot's servo moved by each pair

    QTest::newRow("eyebrows") << "Btn_Send_Eyebrows" << QByteArray("meb") << QList<int>{0, 1} << QList<int>{20, 18};
    QTest::newRow("eyes") << "Btn_Send_Eyes" << QByteArray("mre") << QList<int>{2, 3, 4} << QList<int>{16, 17, 15};
    QTest::newRow("neck") << "Btn_Send_Neck" << QByteArray("mrn") << QList<int>{6, 5} << QList<int>{9, 8};
    QTest::newRow("left arm") << "Btn_Send_Left_Arm" << QByteArray("mla") << QList<int>{7, 9, 8}
                              << QList<int>{6, 7, 4};
    QTest::newRow("right arm") << "Btn_Send_Right_Arm" << QByteArray("mra") << QList<int>{10, 12, 11}
                               << QList<int>{1, 2, 3};
    QTest::newRow("mouth") << "Btn_Send_Mouth" << QByteArray("mrm") << QList<int>{13, 15, 14, 16}
                           << QList<int>{13, 12, 11, 14};
}

void TestEndToEnd::sendButtonsReachTheRobot()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, mnemonic);
    QFETCH(QList<int>, elements);
    QFETCH(QList<int>, servos);

    // A different position and speed for every servo, so a pair out of order shows.
    QByteArray frame = mnemonic;
    QStringList sent; // what the robot should say of each servo
    for (const int i : elements) {
        auto *slide = control<QSlider>(QStringLiteral("Slide(%1)").arg(i));
        slide->setValue(slide->minimum() + 1 + i);
        control<QLineEdit>(QStringLiteral("Txt_Speed(%1)").arg(i))->setText(QString::number(20 + i));
        frame.append(char(slide->value())).append(char(20 + i));
        sent.append(QStringLiteral("target %1 speed %2").arg(slide->value()).arg(20 + i));
    }
    control<QPushButton>(button)->click();
    QTRY_VERIFY2(m_sim->logged("rx", frame), qPrintable(QStringLiteral("no %1 in the log").arg(frame.toHex(' '))));

    // And the robot gives each pair to the servo it is meant for.
    for (qsizetype slot = 0; slot < servos.size(); ++slot)
        QCOMPARE(m_sim->command(QStringLiteral("servo %1").arg(servos[slot])).section(u' ', -4), sent[slot]);
}

void TestEndToEnd::sensorPanelShowsTheRobotsReadings()
{
    control<QPushButton>(QStringLiteral("Btn_Start"))->click();
    // Ticks by hand, so the four analogue channels need not wait four seconds of polling.
    for (int tick = 0; tick < 8; ++tick)
        m_main->T_Batt_Timer();

    QTRY_COMPARE(control<QLabel>(QStringLiteral("Lbl_Batt(0)"))->text(), QStringLiteral("7.2"));
    QTRY_COMPARE(control<QLabel>(QStringLiteral("Lbl_Batt(1)"))->text(), QStringLiteral("7.3"));
    const QStringList analogues{"5", "500", "1023", "32767"};
    for (int k = 0; k < 4; ++k)
        QTRY_COMPARE(control<QLabel>(QStringLiteral("Lbl_Analogue(%1)").arg(k))->text(), analogues[k]);

    // A whisker closed on the robot shows at once, with no query.
    QCOMPARE(m_sim->command("whisker 3 on"), QStringLiteral("ok"));
    QTRY_COMPARE(Colours::background(control<QLabel>(QStringLiteral("Lbl_Whisker(2)"))), Colours::Green);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_sim_end_to_end.moc"
