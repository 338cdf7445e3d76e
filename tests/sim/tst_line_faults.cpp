#include "SimProcess.h"

#include "panel/Frm_Main.h"
#include "scripts/Frm_Script_Player.h"
#include "support/Script_Text.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

#include <sys/resource.h>

// The operator's panel against a virtual robot whose line misbehaves: noise, a robot that
// stops reading, a cable pulled out and plugged in again.
class TestLineFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void garbledRepliesCostOnlyTheRepliesTheyHit_data();
    void garbledRepliesCostOnlyTheRepliesTheyHit();
    void robotNotReadingNeverBlocksTheWindow();
    void hangUpClosesThePortAndApplyOpensItAgain_data();
    void hangUpClosesThePortAndApplyOpensItAgain();
    void scriptPlaysOnThroughAHangUpSendingNothing();

private:
    template <class Widget>
    Widget *control(const QString &name, QObject *in = nullptr)
    {
        auto *widget = (in ? in : m_main.get())->findChild<Widget *>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }
    bool startSim(const QStringList &arguments = {});
    // The simulator's counts ("frames", "replies", "hit", "line", ...).
    QHash<QString, QString> simCounts();
    qint64 simCount(const QString &name) { return simCounts().value(name).toLongLong(); }
    QString connectionPanel()
    {
        m_main->T_Serial_Detection_Timer();
        return control<QLabel>(QStringLiteral("Panels(2)"))->text();
    }
    // Whether a reply carries the readings the robot was started with.
    static bool isTrue(const Sys_Project::Reply &reply);

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Frm_Main> m_main;
    ScriptedDialogs *m_dialogs = nullptr;
    qint64 m_good = 0; // replies shown that carry the robot's readings
    qint64 m_shown = 0;
};

namespace {

constexpr std::array<int, 4> Analogues{100, 200, 300, 400}; // the robot's defaults

} // namespace

void TestLineFaults::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestLineFaults::init()
{
    m_good = m_shown = 0;
}

void TestLineFaults::cleanup()
{
    m_main.reset();
    m_sim.reset();
}

bool TestLineFaults::startSim(const QStringList &arguments)
{
    m_sim = std::make_unique<SimProcess>();
    if (!m_sim->start(arguments + QStringList{"--seed", "11"}))
        return false;
    qputenv("ORVIK_COM1", QFile::encodeName(m_sim->link()));
    m_main = std::make_unique<Frm_Main>();
    m_dialogs = ScriptedDialogs::install(*m_main);
    connect(m_main.get(), &Frm_Main::replyShown, this, [this](const Sys_Project::Reply &reply) {
        ++m_shown;
        m_good += isTrue(reply);
    });
    return m_main->Open_Serial(1);
}

QHash<QString, QString> TestLineFaults::simCounts()
{
    QHash<QString, QString> counts;
    const QString answer = m_sim->command(QStringLiteral("faults"));
    for (const QString &pair : answer.split(u' ').mid(1))
        counts.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    return counts;
}

bool TestLineFaults::isTrue(const Sys_Project::Reply &reply)
{
    switch (reply.kind) {
    case Sys_Project::ReplyKind::Batteries:
        return reply.data[0] == 72 && reply.data[1] == 73;
    case Sys_Project::ReplyKind::Analogue:
        return reply.data[0] >= 1 && reply.data[0] <= 4 && reply.analogueReading() == Analogues[reply.data[0] - 1u];
    case Sys_Project::ReplyKind::Whiskers:
        return false; // the robot's whiskers never change here
    }
    return false;
}

void TestLineFaults::garbledRepliesCostOnlyTheRepliesTheyHit_data()
{
    QTest::addColumn<QStringList>("faults");

    QTest::newRow("garbage bursts") << QStringList{"garbage=2ms"};
    QTest::newRow("corrupted bytes") << QStringList{"corrupt=0.05"};
    QTest::newRow("dropped bytes") << QStringList{"drop=0.05"};
    QTest::newRow("duplicated bytes") << QStringList{"duplicate=0.05"};
    QTest::newRow("all at once") << QStringList{"garbage=2ms", "corrupt=0.03", "drop=0.03", "duplicate=0.03"};
}

void TestLineFaults::garbledRepliesCostOnlyTheRepliesTheyHit()
{
    QFETCH(QStringList, faults);
    QStringList arguments;
    for (const QString &fault : faults)
        arguments << "--fault" << fault;
    QVERIFY(startSim(arguments));

    // One query at a time, each answered before the next, so the bursts fall between replies.
    constexpr int Queries = 120;
    for (int sent = 1; sent <= Queries; ++sent) {
        m_main->T_Batt_Timer();
        QVERIFY(QTest::qWaitFor([&] { return simCount("replies") >= sent; }, 5000));
    }
    for (const char *off : {"fault garbage=0", "fault drop=0", "fault corrupt=0", "fault duplicate=0"})
        QCOMPARE(m_sim->command(off), QStringLiteral("ok"));
    const qint64 hit = simCount("hit");
    QVERIFY2(hit > 0, "nothing was injected; the test proves nothing");

    // On a clean line the panel is back in step after at most the reply a last fault hit:
    // every display shows the robot's readings again.
    for (int tick = 0; tick < 12; ++tick)
        m_main->T_Batt_Timer();
    QTRY_COMPARE(control<QLabel>(QStringLiteral("Lbl_Batt(0)"))->text(), QStringLiteral("7.2"));
    QTRY_COMPARE(control<QLabel>(QStringLiteral("Lbl_Batt(1)"))->text(), QStringLiteral("7.3"));
    for (int k = 0; k < 4; ++k)
        QTRY_COMPARE(control<QLabel>(QStringLiteral("Lbl_Analogue(%1)").arg(k))->text(), QString::number(Analogues[k]));
    // The displays may show the readings before the last replies came: wait for those too.
    // A fault in the last reply before the line was cleaned costs the first one after it.
    constexpr qint64 Replies = Queries + 12;
    QTRY_COMPARE(simCount("replies"), Replies);
    const qint64 hitInAll = simCount("hit");
    QTRY_VERIFY2(m_good + hitInAll >= Replies, qPrintable(QStringLiteral("%1 true replies shown, %2 hit, of %3")
                                                              .arg(m_good)
                                                              .arg(hitInAll)
                                                              .arg(Replies)));
}

void TestLineFaults::robotNotReadingNeverBlocksTheWindow()
{
    QVERIFY(startSim());
    QCOMPARE(m_sim->command("stop-reading 1min"), QStringLiteral("ok"));

    QTimer ticker;
    QSignalSpy ticks(&ticker, &QTimer::timeout);
    ticker.start(1);
    // SEND over and over, the event loop turning between presses as it does for the operator,
    // until the program refuses a move: until then no press may wait for the robot.
    auto *send = control<QPushButton>(QStringLiteral("Btn_Send_Neck"));
    int presses = 0;
    while (!m_main->com().OutputStalled() && presses < 100000) {
        send->click();
        ++presses;
        QCoreApplication::processEvents();
    }
    QVERIFY2(m_main->com().OutputStalled(), "the line never backed up");
    // Had a write waited for the line, it would only have returned once the robot read again.
    QCOMPARE(simCounts().value("reading"), QStringLiteral("no"));
    QVERIFY(QTest::qWaitFor([&] { return ticks.count() >= 3; }, 5000));
    QCOMPARE(control<QLabel>(QStringLiteral("Panels(3)"))->text(), QStringLiteral("Robot not reading: move not sent"));
    QVERIFY(m_main->com().PortOpen());

    // The robot reads again: the backlog drains and moves go through once more.
    QCOMPARE(m_sim->command("stop-reading 0"), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(QStringLiteral("Panels(3)"))->text(), QString(), 10000);
    const qint64 before = simCount("frames");
    send->click();
    QTRY_VERIFY(simCount("frames") > before);
}

void TestLineFaults::hangUpClosesThePortAndApplyOpensItAgain_data()
{
    QTest::addColumn<bool>("fromSettingsWindow");

    QTest::newRow("Open_Serial") << false;
    QTest::newRow("APPLY in the settings window") << true;
}

void TestLineFaults::hangUpClosesThePortAndApplyOpensItAgain()
{
    QFETCH(bool, fromSettingsWindow);
    QVERIFY(startSim());
    QCOMPARE(connectionPanel(), QStringLiteral("Connected"));
    const auto apply = [&] {
        if (!fromSettingsWindow)
            return m_main->Open_Serial(1);
        m_main->mnu_serial_setup_Click();
        control<QPushButton>(QStringLiteral("Btn_Ok_Setup"))->click();
        return m_main->com().PortOpen();
    };

    QCOMPARE(m_sim->command("hangup 1min"), QStringLiteral("ok"));
    QTRY_VERIFY(!m_main->com().PortOpen());
    QCOMPARE(connectionPanel(), QStringLiteral("Disconnected"));
    QVERIFY(m_dialogs->shown.isEmpty());

    // While the robot is gone APPLY fails and says why; the port stays closed.
    QVERIFY(!apply());
    QCOMPARE(m_dialogs->shown.size(), 1);
    QVERIFY2(m_dialogs->shown[0].text.contains(m_sim->link()), qPrintable(m_dialogs->shown[0].text));
    QCOMPARE(connectionPanel(), QStringLiteral("Disconnected"));

    QCOMPARE(m_sim->command("hangup 0"), QStringLiteral("ok"));
    QTRY_COMPARE(simCounts().value("line"), QStringLiteral("up"));
    QVERIFY(QFileInfo::exists(m_sim->link()));
    QVERIFY(apply());
    QCOMPARE(connectionPanel(), QStringLiteral("Connected"));
    QCOMPARE(m_dialogs->shown.size(), 1);

    // And the robot answers on the new line.
    m_main->T_Batt_Timer();
    QTRY_COMPARE(m_good, 1);
}

void TestLineFaults::scriptPlaysOnThroughAHangUpSendingNothing()
{
    QVERIFY(startSim());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nod.sct"));
    QVERIFY(writeScript(path, "mrn;90;20;90;20\nwait;30\nmrn;110;30;90;20\nwait;30", "Nod"));

    Frm_Script_Player player(m_main->com(), m_main->dialogs());
    m_dialogs->fileNames << path;
    player.Btn_Open_Script_Click();
    control<QCheckBox>(QStringLiteral("Chk_Loop"), &player)->setChecked(true);
    player.Btn_Cmd_Click(Frm_Script_Player::Play);
    QTRY_VERIFY(simCount("frames") >= 4);

    QCOMPARE(m_sim->command("hangup 1min"), QStringLiteral("ok"));
    QTRY_VERIFY(!m_main->com().PortOpen());
    QSignalSpy sent(&m_main->com(), &Com::written);

    // A second of playing on a closed port: the steps go on, on their own time, and the
    // process stays nearly idle (a spinning loop would take the whole second).
    const auto cpuMs = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    };
    QSignalSpy steps(control<QTreeWidget>(QStringLiteral("L_View"), &player), &QTreeWidget::itemSelectionChanged);
    const long cpuBefore = cpuMs();
    QTest::qWait(1000);
    const long cpuUsed = cpuMs() - cpuBefore;
    QVERIFY2(cpuUsed < 500, qPrintable(QStringLiteral("%1 ms of CPU in a second").arg(cpuUsed)));
    QVERIFY(steps.count() >= 4);
    QCOMPARE(connectionPanel(), QStringLiteral("Disconnected"));
    QVERIFY(m_dialogs->shown.isEmpty());

    // As on a port closed from the settings window, no move was even handed to the port.
    QCOMPARE(sent.count(), 0);
    player.Btn_Cmd_Click(Frm_Script_Player::Stop);
}

QTEST_MAIN(TestLineFaults)
#include "tst_line_faults.moc"
