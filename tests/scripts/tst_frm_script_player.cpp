#include "scripts/Frm_Script_Player.h"
#include "scripts/Script_Timeline.h"

#include "link/Com.h"
#include "sim/SimProcess.h"
#include "support/PtyPeer.h"
#include "support/Script_Text.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

#include <ctime>

// The player against a pseudo-terminal standing in for the robot. Where the order of steps is
// what a test checks, it calls the timer's handler itself, with the player's clock set to the
// moment each step is due, so that a busy machine changes nothing.
class TestFrmScriptPlayer : public QObject
{
    Q_OBJECT

    static constexpr qint64 Ms = 1000000;
    using Player = Frm_Script_Player;

    QTemporaryDir m_settings; // the pause choices, never those of whoever runs the tests
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<Com> m_com;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<Player> m_player;
    qint64 m_now = 0; // the player's clock, in ns
    QElapsedTimer m_elapsed;

    QString script(const QStringList &actions)
    {
        return write(QStringLiteral("test.sct"), scriptText(actions.join(u'\n').toLatin1(), -1, "Greeting"));
    }
    QString write(const QString &name, const QByteArray &text)
    {
        QFile file(m_dir->filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }
    void open(const QString &path)
    {
        m_dialogs->fileNames << path;
        m_player->Btn_Open_Script_Click();
    }
    void load(const QStringList &actions)
    {
        open(script(actions));
        if (view()->topLevelItemCount() != actions.size())
            qFatal("the script did not load");
    }
    void click(int button) { m_player->Btn_Cmd_Click(button); }
    // The step due next, run at its time on the player's clock.
    void tickOnTime()
    {
        m_now += timer()->interval() * Ms;
        m_player->T_Script_Timer();
    }
    void useRealClock()
    {
        m_elapsed.start();
        m_player->setClock([this] { return m_elapsed.nsecsElapsed(); });
    }
    // The runner's own clock, its steps on the line's thread as the operator plays them.
    void useLineClock() { m_player->setClock({}); }

    template <class Widget>
    Widget *child(const QString &name)
    {
        auto *widget = m_player->findChild<Widget *>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }
    QTimer *timer() { return child<QTimer>(QStringLiteral("T_Script")); }
    QTreeWidget *view() { return child<QTreeWidget>(QStringLiteral("L_View")); }
    QPushButton *button(int index) { return child<QPushButton>(QStringLiteral("Btn_Cmd(%1)").arg(index)); }
    QString info() { return child<QPlainTextEdit>(QStringLiteral("Txt_Script_Info"))->toPlainText(); }
    int selectedRow()
    {
        const QList<QTreeWidgetItem *> selected = view()->selectedItems();
        return selected.size() == 1 ? view()->indexOfTopLevelItem(selected.first()) : -1;
    }
    QStringList rows()
    {
        QStringList rows;
        for (int i = 0; i < view()->topLevelItemCount(); ++i)
            rows << view()->topLevelItem(i)->text(0) + u'|' + view()->topLevelItem(i)->text(1);
        return rows;
    }
    // The player's port on orvik-sim instead of the pseudo-terminal, the steps on the line's thread.
    bool onTheVirtualRobot(SimProcess &sim)
    {
        if (!sim.start())
            return false;
        qputenv("ORVIK_COM1", QFile::encodeName(sim.link()));
        if (!m_com->setPortOpen(false) || !m_com->setPortOpen(true))
            return false;
        useLineClock();
        return true;
    }
    // The clock of the simulator's log.
    static qint64 monotonicUs()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    }
    bool stepButtonsEnabled() { return button(Player::Next)->isEnabled() && button(Player::Previous)->isEnabled(); }
    static QByteArray mss(int value) { return QByteArray("mss").append(3, char(value)); }

private slots:
    void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path()); }

    void init()
    {
        QSettings().clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_peer = std::make_unique<PtyPeer>();
        qputenv("ORVIK_COM1", m_peer->device().toLocal8Bit());
        m_com = std::make_unique<Com>();
        QVERIFY(m_com->setSettings(QStringLiteral("57600,n,8,1")));
        QVERIFY(m_com->setPortOpen(true));
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_player = std::make_unique<Player>(*m_com, *m_dialogs);
        m_now = 0;
        m_player->setClock([this] { return m_now; });
    }

    void cleanup()
    {
        m_player.reset();
        m_com.reset();
        m_peer.reset();
    }

    void open_showsThePathTheInfoAndOneRowPerAction()
    {
        const QString path = script({"meb;120;10;130;10", "wait;500", "end;0"});
        open(path);
        QCOMPARE(child<QLineEdit>(QStringLiteral("Txt_Script_Path"))->text(), path);
        // The text box's line break is "\n" where the window writes "\r\n".
        QCOMPARE(info(), QStringLiteral("Name :\t\tGreeting\nDate :\t\t05-12-2026\nSoftware :\tORVIK"));
        QCOMPARE(rows(), (QStringList{"1|meb-120-10-130-10", "2|wait-500", "3|end-0"}));
        QCOMPARE(selectedRow(), 0);
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void buttons_runPreviousStopPlayPauseNext()
    {
        m_player->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_player.get()));
        QList<QPushButton *> buttons;
        for (int i = 0; i < Player::CommandCount; ++i)
            buttons << button(i);
        std::sort(buttons.begin(), buttons.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
        QStringList order;
        for (QPushButton *b : buttons)
            order << b->objectName() + u' ' + b->toolTip();
        QCOMPARE(order, (QStringList{"Btn_Cmd(3) Previous", "Btn_Cmd(0) Stop", "Btn_Cmd(1) Play", "Btn_Cmd(4) Pause",
                                     "Btn_Cmd(2) Next"}));
    }

    void open_keepsTheScriptWhenNothingLoads_data()
    {
        QTest::addColumn<QString>("answer");     // the chooser's answer, in the temporary folder
        QTest::addColumn<QByteArray>("content"); // written there first when not empty
        QTest::addColumn<QString>("message");    // what the one message says, or none

        QTest::newRow("cancelled") << QString() << QByteArray() << QString();
        QTest::newRow("no such file") << "gone.sct" << QByteArray() << QString();
        QTest::newRow("a folder") << "." << QByteArray() << QString();
        QTest::newRow("malformed") << "short.sct" << QByteArray("[COMMANDS]\r\nnb_action=2\r\naction_1=end;0\r\n")
                                   << "action_2 is missing";
    }

    void open_keepsTheScriptWhenNothingLoads()
    {
        QFETCH(QString, answer);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString kept = script({"mss;1;2;3", "wait;500", "end;0"});
        open(kept);
        click(Player::Next);
        const QString keptInfo = info();

        const QString path = answer.isEmpty() ? QString() : m_dir->filePath(answer);
        if (!content.isEmpty())
            write(answer, content);
        open(path);

        QCOMPARE(child<QLineEdit>(QStringLiteral("Txt_Script_Path"))->text(), kept);
        QCOMPARE(info(), keptInfo);
        QCOMPARE(rows(), (QStringList{"1|mss-1-2-3", "2|wait-500", "3|end-0"}));
        QCOMPARE(m_player->currentAction(), 1);
        QCOMPARE(m_dialogs->shown.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            const Dialogs::Message shown = m_dialogs->shown.first();
            QCOMPARE(shown.title, QStringLiteral("ORVIK"));
            QCOMPARE(shown.icon, QMessageBox::Information);
            QVERIFY2(shown.text.contains(path) && shown.text.contains(message), qPrintable(shown.text));
        }
    }

    void steps_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("then"); // "play" or "pause play", 500 ms after the ticks
        QTest::addColumn<int>("current");  // the action the next step executes
        QTest::addColumn<int>("interval"); // ms to the next step; -1 when stopped

        const QStringList greeting{"meb;120;10;130;10", "wait;500", "end;0"};
        QTest::newRow("a move is followed 20 ms later") << greeting << false << 1 << "" << 1 << 20;
        QTest::newRow("a wait sets the time to the next step") << greeting << false << 2 << "" << 2 << 500;
        QTest::newRow("the last action stops at the first") << greeting << false << 3 << "" << 0 << -1;
        QTest::newRow("looping starts again with the short step") << greeting << true << 3 << "" << 0 << 20;
        QTest::newRow("looping one wait steps every 20 ms") << QStringList{"wait;500"} << true << 3 << "" << 0 << 20;
        QTest::newRow("an end that is not last keeps the time before it")
            << QStringList{"wait;300", "end;0", "mss;1;2;3"} << false << 2 << "" << 2 << 300;
        QTest::newRow("a wait of 0 goes on at once") << QStringList{"wait;0", "end;0"} << false << 1 << "" << 1 << 0;
        QTest::newRow("a wait below 0 goes on at once")
            << QStringList{"wait;-5", "end;0"} << false << 1 << "" << 1 << 0;
        QTest::newRow("a wait above 65535 ms is honoured")
            << QStringList{"wait;100000", "end;0"} << false << 1 << "" << 1 << 100000;
        const QStringList longWait{"mss;1;1;1", "wait;2000", "mss;3;3;3", "end;0"};
        QTest::newRow("play while playing keeps the wait's length")
            << longWait << false << 2 << "play" << 2 << 2000;
        QTest::newRow("play after pause starts with the short step")
            << longWait << false << 2 << "pause play" << 2 << 20;
    }

    void steps()
    {
        QFETCH(QStringList, actions);
        QFETCH(bool, loop);
        QFETCH(int, ticks);
        QFETCH(QString, then);
        QFETCH(int, current);
        QFETCH(int, interval);
        load(actions);
        child<QCheckBox>(QStringLiteral("Chk_Loop"))->setChecked(loop);
        click(Player::Play);
        for (int tick = 0; tick < ticks; ++tick)
            tickOnTime();
        m_now += 500 * Ms;
        for (const QString &button : then.split(u' ', Qt::SkipEmptyParts))
            click(button == u"play" ? Player::Play : Player::Pause);

        QCOMPARE(m_player->currentAction(), current);
        // The row shown is the action last executed, the first after a stop, or after a pause
        // the one play resumes at.
        QCOMPARE(selectedRow(), then.contains(u"pause") ? current : std::max(current - 1, 0));
        QCOMPARE(timer()->isActive(), interval >= 0);
        QCOMPARE(stepButtonsEnabled(), interval < 0);
        if (interval >= 0)
            QCOMPARE(timer()->interval(), interval);
    }

    void schedule_countsFromWhenEachStepWasDue()
    {
        load({"mss;1;1;1", "wait;100", "mss;2;2;2", "mss;3;3;3", "mss;4;4;4", "end;0"});
        click(Player::Play); // the first step is due at 20 ms
        // Each row: when the step runs, and the ms the timer is then set to.
        const QList<std::pair<int, int>> steps{
            {23, 17},  // a move run 3 ms late: the next is still due at 40
            {40, 100}, // the wait: due at 140
            {145, 15}, // due at 160
            {190, 20}, // a stall longer than a step: on from now, the missed step is not fired at once
            {210, 20},
        };
        for (const auto &[at, interval] : steps) {
            m_now = at * Ms;
            m_player->T_Script_Timer();
            QCOMPARE(timer()->interval(), interval);
        }
    }

    void openWhilePlaying_goesOnFromTheFirstActionAndStopsOnAnEmptyScript()
    {
        load({"mss;1;1;1", "wait;700", "end;0"});
        click(Player::Play);
        tickOnTime();
        tickOnTime();
        load({"mss;5;5;5", "end;0"});
        QVERIFY(timer()->isActive());
        QCOMPARE(timer()->interval(), 700); // the wait goes on as timed
        tickOnTime();
        QCOMPARE(m_peer->read(12), mss(1) + mss(5));

        load({});
        tickOnTime();
        QVERIFY(!timer()->isActive());
        QCOMPARE(m_player->currentAction(), 0);
        QVERIFY(m_peer->read(1, 50).isEmpty());
    }

    void rowClick_doesNotMoveWherePlayResumes()
    {
        load({"mss;1;1;1", "mss;2;2;2", "mss;3;3;3"});
        m_player->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_player.get()));
        const QRect third = view()->visualItemRect(view()->topLevelItem(2));
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(selectedRow(), 2);

        click(Player::Play);
        m_player->T_Script_Timer();
        QCOMPARE(m_peer->read(6), mss(1));
        QCOMPARE(selectedRow(), 0);
        click(Player::Stop);
    }

    void nextAndPrevious_stayWithinTheScript()
    {
        load({"mss;1;1;1", "wait;20", "end;0"});
        QList<int> visited;
        for (int button : {Player::Previous, Player::Next, Player::Next, Player::Next, Player::Previous}) {
            click(button);
            QCOMPARE(selectedRow(), m_player->currentAction());
            visited << m_player->currentAction();
        }
        QCOMPARE(visited, (QList<int>{0, 1, 2, 2, 1}));
        QVERIFY(m_peer->readAvailable().isEmpty());
    }

    void buttons_withoutAScriptDoNoHarm_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("stop") << 0;
        QTest::newRow("play") << 1;
        QTest::newRow("next") << 2;
        QTest::newRow("previous") << 3;
        QTest::newRow("pause") << 4;
        QTest::newRow("no such button") << 5;
    }

    void buttons_withoutAScriptDoNoHarm()
    {
        QFETCH(int, index);
        click(index);
        m_player->T_Script_Timer();
        QVERIFY(!timer()->isActive());
        QCOMPARE(m_dialogs->shown.size(), index == Player::Play ? 1 : 0);
        if (index == Player::Play) {
            QCOMPARE(m_dialogs->shown.first().text, QStringLiteral("Select a script to play first"));
            QCOMPARE(m_dialogs->shown.first().title, QStringLiteral("ORVIK"));
            QCOMPARE(m_dialogs->shown.first().icon, QMessageBox::Information);
        }
        // A script opened afterwards still plays from its first action.
        load({"mss;7;7;7", "end;0"});
        click(Player::Play);
        m_player->T_Script_Timer();
        QCOMPARE(m_peer->read(6), mss(7));
    }

    void moves_reachThePortByteForByte_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("single servo") << "mss;18;90;0" << QByteArray::fromHex("6d7373125a00");
        QTest::newRow("mouth, the longest") << "mrm;0;255;1;2;3;4;5;6" << QByteArray::fromHex("6d726d00ff010203040506");
    }

    void moves_reachThePortByteForByte()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, frame);
        load({action});
        click(Player::Play);
        m_player->T_Script_Timer();
        QCOMPARE(m_peer->read(int(frame.size())).toHex(' '), frame.toHex(' '));
        QVERIFY(m_peer->read(1, 50).isEmpty());
    }

    void invalidMove_stopsThereWithAMessageAndSendsNothing_data()
    {
        QTest::addColumn<QString>("action"); // the second, after mss 18 40 1
        QTest::addColumn<bool>("ownProfile"); // servo 18 kept within 20 to 40
        QTest::addColumn<bool>("lineThread"); // the steps on the line's thread, the refusal as its news
        QTest::addColumn<QString>("why");
        QTest::newRow("too few values") << "meb;1;2;3" << false << false << "a \"meb\" move takes 4 values, not 3";
        QTest::newRow("too few values, on the line's thread")
            << "meb;1;2;3" << false << true << "a \"meb\" move takes 4 values, not 3";
        QTest::newRow("too many values") << "mss;1;2;3;4" << false << false << "a \"mss\" move takes 3 values, not 4";
        QTest::newRow("above 255") << "mla;1;2;3;256;5;6" << false << false << "the value 256 is not between 0 and 255";
        QTest::newRow("below 0") << "mrn;-1;0;0;0" << false << false << "the value -1 is not between 0 and 255";
        QTest::newRow("outside an own profile") << "mss;18;41;2" << true << false
                                                << "Right eyebrow (servo 18) may only go from 20 to 40, not to 41";
    }

    void invalidMove_stopsThereWithAMessageAndSendsNothing()
    {
        QFETCH(QString, action);
        QFETCH(bool, ownProfile);
        QFETCH(bool, lineThread);
        QFETCH(QString, why);
        if (ownProfile) {
            Robot_Profile profile = Robot_Profile::builtIn();
            profile.setLimits(true);
            profile.setServo(0, {QStringLiteral("Right eyebrow"), 20, 40, 30});
            m_player->setProfile(profile);
        }
        if (lineThread)
            useLineClock();
        load({"mss;18;40;1", action, "mss;4;4;4"});
        click(Player::Play);
        if (lineThread) {
            QTRY_COMPARE(m_dialogs->shown.size(), 1);
        } else {
            tickOnTime();
            tickOnTime();
        }

        QVERIFY(!m_player->isPlaying());
        QVERIFY(lineThread || !timer()->isActive()); // the line's thread holds its timer itself
        QVERIFY(stepButtonsEnabled());
        QCOMPARE(m_player->currentAction(), 1);
        QCOMPARE(selectedRow(), 1);
        QCOMPARE(m_dialogs->shown.size(), 1);
        const Dialogs::Message shown = m_dialogs->shown.first();
        QCOMPARE(shown.title, QStringLiteral("ORVIK"));
        QCOMPARE(shown.icon, QMessageBox::Information);
        QCOMPARE(shown.text, QStringLiteral("Action 2 cannot be sent to the robot: %1.").arg(why));
        QCOMPARE(m_peer->read(6), QByteArray::fromHex("6d7373122801"));
        QVERIFY(m_peer->read(1, 50).isEmpty());
    }

    void profileChange_marksAndUnmarksTheRows()
    {
        load({"mss;18;41;2", "end;0"});
        QVERIFY(view()->topLevelItem(0)->icon(0).isNull());
        Robot_Profile profile = Robot_Profile::builtIn();
        profile.setLimits(true);
        profile.setServo(0, {QStringLiteral("Right eyebrow"), 20, 40, 30});
        m_player->setProfile(profile);
        QVERIFY(!view()->topLevelItem(0)->icon(0).isNull());
        QCOMPARE(child<QLabel>(QStringLiteral("Lbl_Check"))->text(), QStringLiteral("1 action has a problem"));
        m_player->setProfile(Robot_Profile::builtIn());
        QVERIFY(view()->topLevelItem(0)->icon(0).isNull());
        QCOMPARE(view()->topLevelItem(0)->toolTip(1), QString());
        QCOMPARE(child<QLabel>(QStringLiteral("Lbl_Check"))->text(), QStringLiteral("No problem found"));
    }

    // A move refused on the line's thread pauses the player and is told on the window's
    // thread, where the main window's status bar listens.
    void robotNotReading_onTheLinesThreadIsToldToTheWindows()
    {
        QList<bool> told;
        connect(m_com.get(), &Com::outputStalledChanged, this, [&](bool stalled) { told << stalled; });
        useLineClock();
        load(QStringList(10, QStringLiteral("mss;1;1;1")));
        child<QCheckBox>(QStringLiteral("Chk_Loop"))->setChecked(true);
        click(Player::Play);
        // The robot reads nothing: far more steps than the line holds, each on the line's thread.
        for (int tick = 0; tick < 20000 && !m_com->OutputStalled(); ++tick)
            m_player->T_Script_Timer();
        QVERIFY(m_com->OutputStalled());
        QTRY_COMPARE(told, QList<bool>{true});
        QTRY_VERIFY(stepButtonsEnabled());
        QVERIFY(!m_player->isPlaying());
        QCOMPARE(selectedRow(), m_player->currentAction());
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void robotNotReading_pausesOnTheRefusedMoveAndPlaySendsItAgain()
    {
        QStringList moves;
        for (int k = 1; k <= 10; ++k)
            moves << QStringLiteral("mss;%1;%1;%1").arg(k);
        load(moves);
        child<QCheckBox>(QStringLiteral("Chk_Loop"))->setChecked(true);
        click(Player::Play);
        // The robot reads nothing: far more steps than the line holds.
        for (int tick = 0; tick < 20000 && timer()->isActive(); ++tick) {
            tickOnTime();
            if (tick % 100 == 0)
                QCoreApplication::processEvents();
        }
        QVERIFY(m_com->OutputStalled());
        QVERIFY(!timer()->isActive());
        QVERIFY(stepButtonsEnabled());
        const int refused = m_player->currentAction();
        QCOMPARE(selectedRow(), refused);
        QVERIFY(m_dialogs->shown.isEmpty()); // the main window's status bar says it

        // Whole frames, up to the one before the refused move.
        const QByteArray backlog = m_peer->drain();
        QCOMPARE(backlog.size() % 6, 0);
        QCOMPARE(backlog.right(6), mss((refused + 9) % 10 + 1));
        QTRY_VERIFY(!m_com->OutputStalled());
        click(Player::Play);
        tickOnTime();
        QCOMPARE(m_peer->read(6), mss(refused + 1));
        click(Player::Stop);
    }

    void portClosed_playRunsThroughAndStopsAtTheFirstRow()
    {
        QVERIFY(m_com->setPortOpen(false));
        useRealClock();
        load({"meb;120;10;130;10", "wait;30", "mss;1;2;3", "end;0"});
        QSignalSpy steps(timer(), &QTimer::timeout);
        click(Player::Play);
        QTRY_VERIFY(!timer()->isActive());
        QCOMPARE(steps.size(), 4);
        QCOMPARE(m_player->currentAction(), 0);
        QCOMPARE(selectedRow(), 0);
        QVERIFY(stepButtonsEnabled());
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void closingWhilePlaying_stopsIt()
    {
        useLineClock();
        load(QStringList(200, QStringLiteral("mss;1;1;1")));
        QPointer<Player> player = m_player.release();
        player->setAttribute(Qt::WA_DeleteOnClose);
        player->show();
        player->Btn_Cmd_Click(Player::Play);
        // The steps go on on the line's thread while the test waits: one move or more.
        QCOMPARE(m_peer->read(6).left(6), mss(1));
        player->close();
        QTRY_VERIFY(!player);
        m_peer->readAvailable();
        QVERIFY(m_peer->read(1, 200).isEmpty());
    }

    void open_marksTheActionsThatWouldNotPlayAsWritten_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QStringList>("tips"); // per row; "" for a row without a mark
        QTest::addColumn<QString>("count");
        QTest::newRow("clean") << QStringList{"meb;120;10;130;10", "wait;500", "end;0"} << QStringList{"", "", ""}
                               << "No problem found";
        QTest::newRow("one") << QStringList{"mss;5;90;0", "end;0"} << QStringList{"no servo has the number 5", ""}
                             << "1 action has a problem";
        QTest::newRow("two, still loaded") << QStringList{"wait;0", "meb;300;0;0;0"}
                                           << QStringList{"a wait of 0 ms is not between 1 and 65535",
                                                          "the value 300 is not between 0 and 255; "
                                                          "the script does not end with \"end\""}
                                           << "2 actions have a problem";
    }
    void open_marksTheActionsThatWouldNotPlayAsWritten()
    {
        QFETCH(QStringList, actions);
        QFETCH(QStringList, tips);
        QFETCH(QString, count);
        load(actions);
        for (int row = 0; row < tips.size(); ++row) {
            QTreeWidgetItem *item = view()->topLevelItem(row);
            QCOMPARE(item->toolTip(1), tips[row]);
            QCOMPARE(item->icon(0).isNull(), tips[row].isEmpty());
        }
        QCOMPARE(child<QLabel>(QStringLiteral("Lbl_Check"))->text(), count);
    }

    // The window's own work (a long repaint, a long list) does not hold a playing script up:
    // its moves keep reaching the robot while the window's thread is busy.
    void busyWindow_doesNotHoldTheStepsUp()
    {
        SimProcess sim;
        QVERIFY(onTheVirtualRobot(sim));
        load(QStringList(100, QStringLiteral("mss;1;1;1"))); // a move every 20 ms
        click(Player::Play);
        const qint64 busyFrom = monotonicUs();
        while (monotonicUs() - busyFrom < 500000) {
        }
        const qint64 busyTo = monotonicUs();
        click(Player::Stop);

        // About 25 moves are due while the window is busy; a shared machine may delay a few.
        const auto duringBusy = [&] {
            const QList<SimProcess::LoggedFrame> received = sim.loggedFrames(QStringLiteral("rx"));
            return std::count_if(received.begin(), received.end(), [&](const SimProcess::LoggedFrame &frame) {
                return frame.us >= busyFrom && frame.us <= busyTo;
            });
        };
        QTRY_VERIFY2(duringBusy() >= 5, qPrintable(QStringLiteral("%1 moves arrived while busy").arg(duringBusy())));
    }

    // Only what the operator chose pauses, and only while playing: the step after the event
    // never runs, and the window says why.
    void sensorEvent_pausesOnWhatWasChosen_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("whisker"); // -1: Pause on Whisker unticked, 0: any, else that one
        QTest::addColumn<bool>("lowBattery");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("paused"); // empty: plays on
        const int whisker = Sensor_Event::WhiskerClosed;
        const int battery = Sensor_Event::BatteryLow;
        QTest::newRow("any whisker") << true << 0 << false << whisker << 3
                                     << QStringLiteral("Paused: whisker 3 closed at action 1");
        QTest::newRow("the whisker chosen") << true << 2 << false << whisker << 2
                                            << QStringLiteral("Paused: whisker 2 closed at action 1");
        QTest::newRow("another whisker") << true << 1 << false << whisker << 2 << QString();
        QTest::newRow("nothing chosen") << true << -1 << false << whisker << 1 << QString();
        QTest::newRow("low battery") << true << -1 << true << battery << 1
                                     << QStringLiteral("Paused: battery 1 low: 6.1 V at action 1");
        QTest::newRow("low battery, not chosen") << true << 0 << false << battery << 1 << QString();
        QTest::newRow("not playing") << false << 0 << true << whisker << 1 << QString();
    }
    void sensorEvent_pausesOnWhatWasChosen()
    {
        QFETCH(bool, playing);
        QFETCH(int, whisker);
        QFETCH(bool, lowBattery);
        QFETCH(int, kind);
        QFETCH(int, number);
        QFETCH(QString, paused);
        child<QCheckBox>(QStringLiteral("Chk_Pause_Whisker"))->setChecked(whisker >= 0);
        child<QComboBox>(QStringLiteral("Cmb_Pause_Whisker"))->setCurrentIndex(std::max(whisker, 0));
        child<QCheckBox>(QStringLiteral("Chk_Pause_Low_Battery"))->setChecked(lowBattery);
        load({"mss;9;50;0", "wait;500", "mss;9;60;0"});
        if (playing) {
            click(Player::Play);
            tickOnTime(); // action 1
        }
        m_player->sensorEvent({Sensor_Event::Kind(kind), number, 61});
        QCOMPARE(child<QLabel>(QStringLiteral("Lbl_Paused"))->text(), paused);
        QCOMPARE(timer()->isActive(), playing && paused.isEmpty());
        QCOMPARE(m_player->currentAction(), playing ? 1 : 0);
        QCOMPARE(stepButtonsEnabled(), !playing || !paused.isEmpty());
    }

    // The greeting example played to orvik-sim, a program of its own: every move arrives whole
    // and in order, each when the script says.
    void exampleScript_playsOnTheVirtualRobot()
    {
        SimProcess sim;
        QVERIFY(onTheVirtualRobot(sim));
        const QString example = QStringLiteral(ORVIK_EXAMPLES "/greeting.sct");
        open(example);
        QVERIFY(m_dialogs->shown.isEmpty());

        // Each move's frame, and when it is due after play.
        Action_List script;
        Script_Header header;
        QVERIFY(Read_Script_File(example, script, header));
        QList<std::pair<QByteArray, qint64>> expected;
        qint64 due = Player::Step;
        qint64 length = Player::Step;
        for (qint32 i = 0; i < script.Nb_Action; ++i) {
            const Script_Action &action = script.Actions[i];
            if (action.Command == u"wait") {
                length = std::max(0, action.Values.value(0));
            } else if (action.Command != u"end") {
                QByteArray frame = action.Command.toLatin1();
                for (const qint32 value : action.Values)
                    frame.append(char(value));
                expected.append({frame, due});
                length = Player::Step;
            }
            due += length;
        }

        const qint64 playUs = monotonicUs();
        click(Player::Play);
        QTRY_VERIFY_WITH_TIMEOUT(!m_player->isPlaying(), int(due) + 10000);

        QList<SimProcess::LoggedFrame> received;
        QTRY_VERIFY((received = sim.loggedFrames(QStringLiteral("rx"))).size() >= expected.size());
        QCOMPARE(received.size(), expected.size());
        for (qsizetype k = 0; k < received.size(); ++k) {
            QCOMPARE(received[k].bytes.toHex(' '), expected[k].first.toHex(' '));
            // Never early, late only as much as a shared machine makes it.
            const qint64 atMs = (received[k].us - playUs) / 1000;
            QVERIFY2(atMs >= expected[k].second && atMs <= expected[k].second + 250,
                     qPrintable(QStringLiteral("move %1 at %2 ms, due at %3 ms").arg(k).arg(atMs).arg(expected[k].second)));
        }
    }

    // The timeline's cursor is on the step now playing; stopped, a click in it says where play
    // resumes; playing, the runner's step stays.
    void timeline_cursorFollowsPlayAndAClickMovesIt()
    {
        m_player->resize(1200, 700);
        m_player->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_player.get()));
        load({"mss;1;2;3", "wait;500", "mss;4;5;6", "end;0"});
        QCOMPARE(child<QLabel>(QStringLiteral("Lbl_Script_Length"))->text(), QStringLiteral("Length: 0.56 s"));
        child<QCheckBox>(QStringLiteral("Chk_Timeline"))->setChecked(true);
        auto *timeline = child<Script_Timeline>(QStringLiteral("Script_Timeline"));
        QCOMPARE(timeline->cursorAction(), 0);
        click(Player::Play);
        tickOnTime();
        tickOnTime();
        QCOMPARE(timeline->cursorAction(), 1);
        timeline->zoom(10.0, Script_Timeline::NameWidth);
        const int y = timeline->viewport()->height() - 3;
        auto clickAt = [&](qint64 ms) {
            QTest::mouseClick(timeline->viewport(), Qt::LeftButton, {}, QPoint(int(std::lround(timeline->xOf(ms))), y));
        };
        clickAt(10);
        QCOMPARE(m_player->currentAction(), 2);
        QCOMPARE(timeline->cursorAction(), 1);
        click(Player::Pause);
        clickAt(10);
        QCOMPARE(m_player->currentAction(), 0);
        QCOMPARE(timeline->cursorAction(), 0);
        clickAt(530); // the second move
        QCOMPARE(m_player->currentAction(), 2);
        QCOMPARE(timeline->cursorAction(), 2);
        QCOMPARE(selectedRow(), 2);
    }
};

QTEST_MAIN(TestFrmScriptPlayer)
#include "tst_frm_script_player.moc"
