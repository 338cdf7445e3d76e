#include "sensors/Frm_Sensor_Plot.h"

#include "link/Frames.h"
#include "panel/Frm_Main.h"
#include "scripts/Frm_Script_Player.h"
#include "sim/SimProcess.h"
#include "support/Script_Text.h"
#include "support/ScriptedDialogs.h"
#include "ui/Colours.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {

// The main window on orvik-sim's line, its messages recorded.
struct Rig
{
    SimProcess sim;
    Frm_Main w;
    ScriptedDialogs *dialogs = nullptr;
    QSignalSpy taken{&w, &Frm_Main::readingTaken};

    bool start()
    {
        if (!sim.start())
            return false;
        qputenv("ORVIK_COM1", QFile::encodeName(sim.link()));
        dialogs = ScriptedDialogs::install(w);
        return w.Open_Serial(1);
    }
    // Has the robot say something ("battery 1 61", "whisker 2 on") and, for a battery, asks
    // for the batteries as the poll does; returns once the reply was taken in.
    bool robot(const QString &command)
    {
        const qsizetype before = taken.size();
        if (sim.command(command) != u"ok")
            return false;
        if (command.startsWith(u"battery"))
            w.com().Output(Frames::frame(Frames::BatteriesQuery));
        return QTest::qWaitFor([&] { return taken.size() > before; }, 5000);
    }
    template <class T>
    T *child(const QString &name)
    {
        return w.findChild<T *>(name);
    }
};

QList<double> values(const QList<QPointF> &points)
{
    QList<double> ys;
    for (const QPointF &point : points)
        ys << point.y();
    return ys;
}

QLineSeries *series(Frm_Sensor_Plot &plot, const char *chart, const QString &name)
{
    for (QAbstractSeries *each : plot.findChild<QChartView *>(QLatin1StringView(chart))->chart()->series())
        if (each->name() == name)
            return qobject_cast<QLineSeries *>(each);
    return nullptr;
}

} // namespace

// The main window's sensors over time, against the virtual robot: the plot, the record, the
// low-battery warning and the player that pauses on what the robot reports.
class TestFrmSensorPlot : public QObject
{
    Q_OBJECT

    QTemporaryDir m_settings; // never the settings of whoever runs the tests
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path()); }
    void init()
    {
        QLocale::setDefault(QLocale::c());
        QSettings().clear();
    }

    // Readings the robot sent at known moments: the plot's series hold them in order with
    // their values, and Save Readings writes exactly them.
    void plotAndSavedReadingsHoldWhatTheRobotSent()
    {
        Rig rig;
        QVERIFY(rig.start());
        for (const char *command : {"whisker 3 on", "battery 1 72", "battery 1 65", "whisker 3 off", "battery 1 61",
                                    "battery 1 58"})
            QVERIFY(rig.robot(QLatin1StringView(command)));

        rig.w.mnu_sensor_plot_Click();
        auto *plot = rig.child<Frm_Sensor_Plot>(QStringLiteral("Frm_Sensor_Plot"));
        QVERIFY(plot);
        plot->refresh();
        // Each reply's sample, in order; a battery's line starts at its first reading.
        QCOMPARE(values(series(*plot, "Chart_Batteries", QStringLiteral("Battery 1"))->points()),
                 (QList<double>{7.2, 6.5, 6.5, 6.1, 5.8}));
        QCOMPARE(values(series(*plot, "Chart_Batteries", QStringLiteral("Battery 2"))->points()),
                 (QList<double>{7.3, 7.3, 7.3, 7.3, 7.3}));
        // Whisker 3's lane (2 to 3) steps down from closed to open at the reply that opened it.
        QCOMPARE(values(series(*plot, "Chart_Whiskers", QStringLiteral("Whisker 3"))->points()),
                 (QList<double>{2.75, 2.75, 2.25, 2.25}));
        const QList<QPointF> points = series(*plot, "Chart_Batteries", QStringLiteral("Battery 1"))->points();
        QVERIFY(std::is_sorted(points.begin(), points.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));

        const QString path = m_dir.filePath(QStringLiteral("readings.csv"));
        rig.dialogs->fileNames << path;
        plot->Btn_Save_Readings_Click();
        QVERIFY(rig.dialogs->shown.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + 6 + 1); // the header, six rows, nothing after the last line's end
        QList<QByteArray> battery1, whisker3;
        for (qsizetype k = 1; k <= 6; ++k) {
            const QList<QByteArray> fields = lines[k].split(',');
            QCOMPARE(fields.size(), 12);
            battery1 << fields[1];
            whisker3 << fields[9];
        }
        QCOMPARE(battery1, (QList<QByteArray>{"", "7.2", "6.5", "6.5", "6.1", "5.8"}));
        QCOMPARE(whisker3, (QList<QByteArray>{"1", "1", "1", "0", "0", "0"}));
    }

    // An hour of readings shown at once is thinned to a few points per pixel, the spike and
    // the newest reading kept.
    void anHourShownKeepsSpikesAndTheNewestReading()
    {
        Sensor_Ring ring;
        qint64 ms = 0;
        for (qsizetype k = 0; k < ring.capacity(); ++k, ms += 250) {
            const int reading = k == 5000 ? 65000 : k == ring.capacity() - 1 ? 7 : 100 + int(k % 3);
            ring.take({Sys_Project::ReplyKind::Analogue, {2, quint8(reading >> 8), quint8(reading & 0xFF)}}, ms);
        }
        ScriptedDialogs dialogs;
        Frm_Sensor_Plot plot(ring, [ms] { return ms; }, dialogs);
        plot.findChild<QSpinBox *>(QStringLiteral("Spn_Window"))->setValue(Frm_Sensor_Plot::MaximumWindow);
        plot.refresh();
        const QList<QPointF> points = series(plot, "Chart_Analogues", QStringLiteral("Analogue 2"))->points();
        QVERIFY2(points.size() <= 2001, qPrintable(QString::number(points.size())));
        QVERIFY(values(points).contains(65000));
        QCOMPARE(points.constLast(), QPointF((ms - 250) / 1000.0, 7));
        QVERIFY(std::is_sorted(points.begin(), points.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    }

    // Record to File writes each reading as it arrives, times from when it started, until
    // pressed again.
    void recordWritesEachReadingAsItArrives()
    {
        Sensor_Ring ring;
        qint64 now = 5000;
        ScriptedDialogs dialogs;
        Frm_Sensor_Plot plot(ring, [&now] { return now; }, dialogs);
        const QString path = m_dir.filePath(QStringLiteral("record.csv"));
        dialogs.fileNames << path;
        auto *record = plot.findChild<QPushButton *>(QStringLiteral("Btn_Record"));
        record->click();
        QVERIFY(record->isChecked());
        for (const int tenths : {72, 71, 70}) {
            const Sys_Project::Reply reply{Sys_Project::ReplyKind::Batteries, {quint8(tenths), 73, 0}};
            plot.readingTaken(*ring.take(reply, now += 500));
        }
        record->click();
        // Taken after the record stopped: not in it.
        plot.readingTaken(*ring.take({Sys_Project::ReplyKind::Whiskers, {1, 0, 0}}, now += 500));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(Sensor_Csv::Header) + "0.500,7.2,7.3,,,,,,,,,\n1.000,7.1,7.3,,,,,,,,,\n"
                                                                   "1.500,7.0,7.3,,,,,,,,,\n");
        QVERIFY(dialogs.shown.isEmpty());
    }

    // Neither way of keeping readings writes over what is not a regular file.
    void keepingReadingsLeavesAloneWhatIsNotAFile_data()
    {
        QTest::addColumn<bool>("record");
        QTest::addColumn<bool>("pipe"); // else a folder
        QTest::addColumn<QString>("message");
        const QString save = QStringLiteral("The readings cannot be saved to \"%1\": it is %2, not a regular file.");
        const QString record = QStringLiteral("The record to \"%1\" cannot start: it is %2, not a regular file.");
        QTest::newRow("save over a folder") << false << false << save.arg(u"%1", u"a directory");
        QTest::newRow("save over a pipe") << false << true << save.arg(u"%1", u"a named pipe");
        QTest::newRow("record over a folder") << true << false << record.arg(u"%1", u"a directory");
        QTest::newRow("record over a pipe") << true << true << record.arg(u"%1", u"a named pipe");
    }
    void keepingReadingsLeavesAloneWhatIsNotAFile()
    {
        QFETCH(bool, record);
        QFETCH(bool, pipe);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("target"));
        QVERIFY(pipe ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 : QDir().mkdir(path));
        Sensor_Ring ring;
        ring.take({Sys_Project::ReplyKind::Whiskers, {1, 0, 0}}, 0);
        ScriptedDialogs dialogs;
        dialogs.fileNames << path;
        Frm_Sensor_Plot plot(ring, [] { return qint64(0); }, dialogs);
        auto *button = plot.findChild<QPushButton *>(QLatin1StringView(record ? "Btn_Record" : "Btn_Save_Readings"));
        button->click();
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].text, message.arg(path));
        QVERIFY(!button->isChecked());
        struct stat left{};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &left), 0);
        QVERIFY(pipe ? S_ISFIFO(left.st_mode) : S_ISDIR(left.st_mode));
    }

    // The level set in the plot window holds for the panel at once, and stays for the next run.
    void lowBatteryWarnsOncePerCrossing()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.w.mnu_sensor_plot_Click();
        rig.child<QDoubleSpinBox>(QStringLiteral("Spn_Low_Battery(0)"))->setValue(6.5);
        QCOMPARE(Battery_Thresholds::load().tenths[0], 65);
        // The level is drawn across the battery chart; a battery not watched has no line.
        auto *plot = rig.child<Frm_Sensor_Plot>(QStringLiteral("Frm_Sensor_Plot"));
        QCOMPARE(values(series(*plot, "Chart_Batteries", QStringLiteral("Battery 1 low"))->points()),
                 (QList<double>{6.5, 6.5}));
        QVERIFY(series(*plot, "Chart_Batteries", QStringLiteral("Battery 2 low"))->points().isEmpty());

        QLabel *field = rig.child<QLabel>(QStringLiteral("Lbl_Batt(0)"));
        QLabel *status = rig.child<QLabel>(QStringLiteral("Panels(5)"));
        // No box while the reply is handled: it waits for the handler to return.
        qsizetype shownInHandler = -1;
        connect(&rig.w, &Frm_Main::replyShown, this, [&] { shownInHandler = rig.dialogs->shown.size(); });

        struct Step
        {
            int tenths;
            qsizetype messages; // told so far
            bool red;
        };
        // Wavering within the margin (0.2 V above the level) is the same fall.
        const QList<Step> steps{{72, 0, false}, {61, 1, true},  {60, 1, true},  {66, 1, false},
                                {62, 1, true},  {68, 1, false}, {61, 2, true}};
        for (const Step &step : steps) {
            const qsizetype before = rig.dialogs->shown.size();
            QVERIFY(rig.robot(QStringLiteral("battery 1 %1").arg(step.tenths)));
            QCOMPARE(shownInHandler, before);
            QTRY_COMPARE(rig.dialogs->shown.size(), step.messages);
            QCOMPARE(Colours::background(field) == Colours::Red, step.red);
            QCOMPARE(status->text(), step.red ? QStringLiteral("Battery 1 low: %1 V").arg(step.tenths / 10.0)
                                              : QString());
        }
        QTest::qWait(0);
        QCOMPARE(rig.dialogs->shown.size(), 2);
        for (const Dialogs::Message &message : std::as_const(rig.dialogs->shown))
            QCOMPARE(message.text, QStringLiteral("Battery 1 low: 6.1 V"));
    }

    // A profile of the operator's own sets the levels: the plot shows them and cannot change
    // them. Back on the built-in profile, the level kept in the settings holds again.
    void ownProfileSetsTheLowBatteryLevels()
    {
        Battery_Thresholds kept;
        kept.tenths = {70, 0};
        kept.save();
        Rig rig;
        QVERIFY(rig.start());
        rig.w.mnu_sensor_plot_Click();
        auto *first = rig.child<QDoubleSpinBox>(QStringLiteral("Spn_Low_Battery(0)"));
        auto *second = rig.child<QDoubleSpinBox>(QStringLiteral("Spn_Low_Battery(1)"));
        QCOMPARE(first->value(), 7.0);
        QVERIFY(first->isEnabled());

        Robot_Profile own = Robot_Profile::builtIn();
        own.setLimits(true);
        own.setLowBatteryTenths(1, 65);
        rig.w.useProfile(own, m_dir.filePath(QStringLiteral("robot.json")));
        QCOMPARE(first->value(), 0.0);
        QCOMPARE(second->value(), 6.5);
        QVERIFY(!first->isEnabled() && !second->isEnabled());
        QLabel *status = rig.child<QLabel>(QStringLiteral("Panels(5)"));
        QVERIFY(rig.robot(QStringLiteral("battery 1 66")));
        QCOMPARE(status->text(), QString());
        QVERIFY(rig.robot(QStringLiteral("battery 2 61")));
        QCOMPARE(status->text(), QStringLiteral("Battery 2 low: 6.1 V"));

        rig.w.useProfile(Robot_Profile::builtIn(), QString());
        QCOMPARE(first->value(), 7.0);
        QVERIFY(first->isEnabled());
        QVERIFY(rig.robot(QStringLiteral("battery 1 66")));
        QCOMPARE(status->text(), QStringLiteral("Battery 1 low: 6.6 V"));
        QTRY_COMPARE(rig.dialogs->shown.size(), 2);
        QCOMPARE(rig.dialogs->shown[0].text, QStringLiteral("Battery 2 low: 6.1 V"));
        QCOMPARE(rig.dialogs->shown[1].text, QStringLiteral("Battery 1 low: 6.6 V"));
    }

    // Whisker 2 chosen: whisker 1 closing goes unheeded, whisker 2 closing during a wait halts
    // the player before the next move, which Play then sends.
    void whiskerClosingPausesThePlayerBeforeItsNextStep()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.w.mnu_script_Click();
        auto *player = rig.child<Frm_Script_Player>(QStringLiteral("Frm_Script_Player"));
        rig.child<QCheckBox>(QStringLiteral("Chk_Pause_Whisker"))->setChecked(true);
        rig.child<QComboBox>(QStringLiteral("Cmb_Pause_Whisker"))->setCurrentIndex(2);

        const QString path = m_dir.filePath(QStringLiteral("pause.sct"));
        QVERIFY(writeScript(path, "mss;9;50;0\nwait;60000\nmss;9;60;0", "Pause"));
        rig.dialogs->fileNames << path;
        player->Btn_Open_Script_Click();
        player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QTRY_COMPARE(player->currentAction(), 2); // in the wait

        QVERIFY(rig.robot(QStringLiteral("whisker 1 on")));
        QVERIFY(rig.robot(QStringLiteral("whisker 2 on")));
        QLabel *paused = rig.child<QLabel>(QStringLiteral("Lbl_Paused"));
        QCOMPARE(paused->text(), QStringLiteral("Paused: whisker 2 closed at action 2"));
        QVERIFY(!player->isPlaying());
        QCOMPARE(player->currentAction(), 2);
        const QByteArray last = QByteArray::fromHex("6d7373093c00");
        QVERIFY(!rig.sim.logged(QStringLiteral("rx"), last));

        player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QVERIFY(paused->text().isEmpty());
        QTRY_VERIFY(rig.sim.logged(QStringLiteral("rx"), last));
        // The plot's markers: every action started, in order.
        QTRY_VERIFY(!player->isPlaying());
        QList<qint32> marked;
        for (const Action_Mark &mark : rig.w.readings().marks())
            marked << mark.action;
        QCOMPARE(marked, (QList<qint32>{1, 2, 3}));

        // The choice stays for the next player.
        player->close();
        QTRY_VERIFY(!rig.child<Frm_Script_Player>(QStringLiteral("Frm_Script_Player")));
        rig.w.mnu_script_Click();
        QVERIFY(rig.child<QCheckBox>(QStringLiteral("Chk_Pause_Whisker"))->isChecked());
        QCOMPARE(rig.child<QComboBox>(QStringLiteral("Cmb_Pause_Whisker"))->currentIndex(), 2);
        QVERIFY(!rig.child<QCheckBox>(QStringLiteral("Chk_Pause_Low_Battery"))->isChecked());
    }
};

QTEST_MAIN(TestFrmSensorPlot)
#include "tst_frm_sensor_plot.moc"
