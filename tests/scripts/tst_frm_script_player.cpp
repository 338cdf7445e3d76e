#include "scripts/Frm_Script_Player.h"

#include "link/Com.h"
#include "sim/SimProcess.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
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

    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<Com> m_com;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<Frm_Script_Player> m_player;
    std::unique_ptr<QTemporaryDir> m_dir;
    qint64 m_now = 0; // the player's clock, in ns
    QElapsedTimer m_elapsed;

    QString script(const QStringList &actions, const QString &fileName = QStringLiteral("test.sct"))
    {
        QByteArray text = "[GENERAL]\r\nsoftware=ORVIK\r\nName=Greeting\r\nDate=05-12-2026\r\n[COMMANDS]\r\nnb_action=" +
                          QByteArray::number(actions.size()) + "\r\n";
        for (qsizetype k = 0; k < actions.size(); ++k)
            text += "action_" + QByteArray::number(k + 1) + '=' + actions[k].toLatin1() + "\r\n";
        const QString path = m_dir->filePath(fileName);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
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
    bool openPort()
    {
        return m_com->setPortOpen(true);
    }
    // The step due now, at its time on the player's clock.
    void tickOnTime()
    {
        m_now += timer()->interval() * Ms;
        m_player->T_Script_Timer();
    }
    // The real clock, for the tests that let the timer run.
    void useRealClock()
    {
        m_elapsed.start();
        m_player->setClock([this] { return m_elapsed.nsecsElapsed(); });
    }

    template <class Widget>
    Widget *control(const QString &name)
    {
        auto *widget = m_player->findChild<Widget *>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }
    QTimer *timer() { return control<QTimer>(QStringLiteral("T_Script")); }
    QTreeWidget *view() { return control<QTreeWidget>(QStringLiteral("L_View")); }
    QPushButton *button(int index) { return control<QPushButton>(QStringLiteral("Btn_Cmd(%1)").arg(index)); }
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
    bool stepButtonsEnabled() { return button(2)->isEnabled() && button(3)->isEnabled(); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_peer = std::make_unique<PtyPeer>();
        qputenv("ORVIK_COM1", m_peer->device().toLocal8Bit());
        m_com = std::make_unique<Com>();
        QVERIFY(m_com->setSettings(QStringLiteral("57600,n,8,1")));
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_player = std::make_unique<Frm_Script_Player>(*m_com, *m_dialogs);
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
        const QString path = script({"meb;120;10;130;10", "wait;500", "end;0"}, QStringLiteral("greeting.sct"));
        open(path);
        QCOMPARE(control<QLineEdit>(QStringLiteral("Txt_Script_Path"))->text(), path);
        // The text box's line break is "\n"; the window writes "\r\n" between the lines.
        QCOMPARE(control<QPlainTextEdit>(QStringLiteral("Txt_Script_Info"))->toPlainText(),
                 QStringLiteral("Name :\t\tGreeting\nDate :\t\t05-12-2026\nSoftware :\tORVIK"));
        QCOMPARE(rows(), (QStringList{"1|meb-120-10-130-10", "2|wait-500", "3|end-0"}));
        QCOMPARE(selectedRow(), 0);
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void buttons_runStopPlayPauseBetweenPreviousAndNext()
    {
        m_player->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_player.get()));
        QList<QPushButton *> buttons;
        for (int i = 0; i < Frm_Script_Player::CommandCount; ++i)
            buttons << button(i);
        std::sort(buttons.begin(), buttons.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
        QStringList order;
        for (QPushButton *b : buttons)
            order << b->objectName() + u' ' + b->toolTip();
        QCOMPARE(order, (QStringList{"Btn_Cmd(3) Previous", "Btn_Cmd(0) Stop", "Btn_Cmd(1) Play", "Btn_Cmd(4) Pause",
                                     "Btn_Cmd(2) Next"}));
        for (QPushButton *b : buttons)
            QVERIFY(!b->icon().isNull() && b->text().isEmpty());
        QCOMPARE(timer()->timerType(), Qt::PreciseTimer);
        QVERIFY(!timer()->isActive());
        QVERIFY(!control<QCheckBox>(QStringLiteral("Chk_Loop"))->isChecked());
    }

    void open_keepsTheScriptWhenNothingLoads_data()
    {
        QTest::addColumn<QString>("answer"); // the chooser's answer, in the temporary folder
        QTest::addColumn<QByteArray>("content"); // written there first when not empty
        QTest::addColumn<QString>("message");    // what the one message says, or none

        QTest::newRow("cancelled") << QString() << QByteArray() << QString();
        QTest::newRow("no such file") << "gone.sct" << QByteArray() << QString();
        QTest::newRow("a folder") << "." << QByteArray() << QString();
        QTest::newRow("action missing within the count")
            << "short.sct" << QByteArray("[COMMANDS]\r\nnb_action=3\r\naction_1=end;0\r\naction_2=end;0\r\n")
            << "action_3 is missing";
        QTest::newRow("value not a number")
            << "bad.sct" << QByteArray("[COMMANDS]\r\nnb_action=1\r\naction_1=meb;1;x;3;4\r\n") << "not a whole number";
    }

    void open_keepsTheScriptWhenNothingLoads()
    {
        QFETCH(QString, answer);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);

        const QString kept = script({"mss;1;2;3", "wait;500", "end;0"});
        open(kept);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Next);
        const QString info = control<QPlainTextEdit>(QStringLiteral("Txt_Script_Info"))->toPlainText();

        const QString path = answer.isEmpty() ? QString() : m_dir->filePath(answer);
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        open(path);

        QCOMPARE(control<QLineEdit>(QStringLiteral("Txt_Script_Path"))->text(), kept);
        QCOMPARE(control<QPlainTextEdit>(QStringLiteral("Txt_Script_Info"))->toPlainText(), info);
        QCOMPARE(rows(), (QStringList{"1|mss-1-2-3", "2|wait-500", "3|end-0"}));
        QCOMPARE(m_player->currentAction(), 1);
        if (message.isEmpty()) {
            QVERIFY(m_dialogs->shown.isEmpty());
            return;
        }
        QCOMPARE(m_dialogs->shown.size(), 1);
        const Dialogs::Message shown = m_dialogs->shown.first();
        QCOMPARE(shown.title, QStringLiteral("ORVIK"));
        QCOMPARE(shown.icon, QMessageBox::Information);
        QVERIFY2(shown.text.contains(path) && shown.text.contains(message), qPrintable(shown.text));
    }

    void steps_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("current"); // the action the next step executes
        QTest::addColumn<int>("interval"); // ms to the next step; -1 when stopped

        const QStringList greeting{"meb;120;10;130;10", "wait;500", "end;0"};
        QTest::newRow("a move is followed 20 ms later") << greeting << false << 1 << 1 << 20;
        QTest::newRow("a wait sets the time to the next step") << greeting << false << 2 << 2 << 500;
        QTest::newRow("the last action stops at the first") << greeting << false << 3 << 0 << -1;
        QTest::newRow("looping starts again with the short step") << greeting << true << 3 << 0 << 20;
        QTest::newRow("looping one wait steps every 20 ms") << QStringList{"wait;500"} << true << 3 << 0 << 20;
        QTest::newRow("an end that is not last keeps the time before it")
            << QStringList{"wait;300", "end;0", "mss;1;2;3"} << false << 2 << 2 << 300;
        QTest::newRow("a wait of 0 goes on at once") << QStringList{"wait;0", "end;0"} << false << 1 << 1 << 0;
        QTest::newRow("a wait below 0 goes on at once") << QStringList{"wait;-5", "end;0"} << false << 1 << 1 << 0;
        QTest::newRow("a wait above 65535 ms is honoured")
            << QStringList{"wait;100000", "end;0"} << false << 1 << 1 << 100000;
    }

    void steps()
    {
        QFETCH(QStringList, actions);
        QFETCH(bool, loop);
        QFETCH(int, ticks);
        QFETCH(int, current);
        QFETCH(int, interval);

        load(actions);
        control<QCheckBox>(QStringLiteral("Chk_Loop"))->setChecked(loop);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QCOMPARE(timer()->interval(), 20);
        for (int tick = 0; tick < ticks; ++tick)
            tickOnTime();

        QCOMPARE(m_player->currentAction(), current);
        // The row shown is the action last executed, or the first after a stop.
        QCOMPARE(selectedRow(), std::max(current - 1, 0));
        QCOMPARE(timer()->isActive(), interval >= 0);
        QCOMPARE(stepButtonsEnabled(), interval < 0);
        if (interval >= 0)
            QCOMPARE(timer()->interval(), interval);
    }

    void schedule_countsFromWhenEachStepWasDue()
    {
        load({"mss;1;1;1", "wait;100", "mss;2;2;2", "mss;3;3;3", "mss;4;4;4", "end;0"});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play); // due at 20
        m_now = 23 * Ms;
        m_player->T_Script_Timer();
        QCOMPARE(timer()->interval(), 17); // due at 40, not 43
        m_now = 40 * Ms;
        m_player->T_Script_Timer();
        QCOMPARE(timer()->interval(), 100); // the wait: due at 140
        m_now = 145 * Ms;
        m_player->T_Script_Timer();
        QCOMPARE(timer()->interval(), 15); // due at 160
        // A stall longer than a step: go on from now rather than fire the missed step at once.
        m_now = 190 * Ms;
        m_player->T_Script_Timer();
        QCOMPARE(timer()->interval(), 20);
        m_now = 210 * Ms;
        m_player->T_Script_Timer();
        QCOMPARE(timer()->interval(), 20);
        QCOMPARE(m_player->currentAction(), 5);
    }

    void play_alwaysStartsWithTheShortStep()
    {
        load({"wait;500", "end;0"});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        tickOnTime();
        QCOMPARE(timer()->interval(), 500);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Pause);
        QVERIFY(!timer()->isActive());
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QCOMPARE(timer()->interval(), 20);
        QCOMPARE(m_player->currentAction(), 1);
    }

    void pauseThenPlay_goesOnWithTheNextAction()
    {
        QVERIFY(openPort());
        load({"mss;1;1;1", "mss;2;2;2", "mss;3;3;3", "end;0"});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        tickOnTime();
        tickOnTime();
        m_player->Btn_Cmd_Click(Frm_Script_Player::Pause);
        QVERIFY(!timer()->isActive());
        QVERIFY(stepButtonsEnabled());
        QCOMPARE(selectedRow(), 2);
        QCOMPARE(m_peer->read(12), QByteArray::fromHex("6d7373010101 6d7373020202"));

        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QVERIFY(!stepButtonsEnabled());
        tickOnTime();
        QCOMPARE(m_peer->read(6), QByteArray::fromHex("6d7373030303"));
    }

    void rowClick_doesNotMoveWherePlayResumes()
    {
        QVERIFY(openPort());
        load({"mss;1;1;1", "mss;2;2;2", "mss;3;3;3"});
        m_player->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_player.get()));
        const QRect third = view()->visualItemRect(view()->topLevelItem(2));
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(selectedRow(), 2);
        QCOMPARE(m_player->currentAction(), 0);

        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        m_player->T_Script_Timer();
        QCOMPARE(m_peer->read(6), QByteArray::fromHex("6d7373010101"));
        QCOMPARE(selectedRow(), 0);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Stop);
    }

    void nextAndPrevious_stayWithinTheScript()
    {
        load({"mss;1;1;1", "wait;20", "end;0"});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Previous);
        QCOMPARE(m_player->currentAction(), 0);
        for (int i = 0; i < 3; ++i)
            m_player->Btn_Cmd_Click(Frm_Script_Player::Next);
        QCOMPARE(m_player->currentAction(), 2);
        QCOMPARE(selectedRow(), 2);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Previous);
        QCOMPARE(m_player->currentAction(), 1);
        QCOMPARE(selectedRow(), 1);
        QVERIFY(m_peer->readAvailable().isEmpty());
    }

    void buttons_withoutAScriptDoNoHarm_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("message");
        QTest::newRow("stop") << 0 << QString();
        QTest::newRow("play") << 1 << "Select a script to play first";
        QTest::newRow("next") << 2 << QString();
        QTest::newRow("previous") << 3 << QString();
        QTest::newRow("pause") << 4 << QString();
        QTest::newRow("no such button") << 5 << QString();
    }

    void buttons_withoutAScriptDoNoHarm()
    {
        QFETCH(int, index);
        QFETCH(QString, message);
        m_player->Btn_Cmd_Click(index);
        m_player->Btn_Cmd_Click(index);
        m_player->T_Script_Timer();
        QCOMPARE(m_player->currentAction(), 0);
        QVERIFY(!timer()->isActive());
        QCOMPARE(m_dialogs->shown.size(), message.isEmpty() ? 0 : 2);
        if (!message.isEmpty()) {
            QCOMPARE(m_dialogs->shown.first().text, message);
            QCOMPARE(m_dialogs->shown.first().title, QStringLiteral("ORVIK"));
            QCOMPARE(m_dialogs->shown.first().icon, QMessageBox::Information);
        }
        // And a script opened afterwards plays from its first action.
        QVERIFY(openPort());
        load({"mss;7;8;9"});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        m_player->T_Script_Timer();
        QCOMPARE(m_peer->read(6), QByteArray::fromHex("6d7373070809"));
    }

    void moves_reachThePortByteForByte_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("single servo") << "mss;18;90;0" << QByteArray::fromHex("6d7373125a00");
        QTest::newRow("mouth, the longest") << "mrm;0;255;1;2;3;4;5;6" << QByteArray::fromHex("6d726d00ff010203040506");
        QTest::newRow("neck") << "mrn;103;0;10;103" << QByteArray::fromHex("6d726e67000a67");
        QTest::newRow("left arm") << "mla;1;2;3;4;5;6" << QByteArray::fromHex("6d6c61010203040506");
    }

    void moves_reachThePortByteForByte()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, frame);
        QVERIFY(openPort());
        load({action});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        m_player->T_Script_Timer();
        QCOMPARE(m_peer->read(int(frame.size())), frame);
        QVERIFY(m_peer->read(1, 50).isEmpty());
    }

    void invalidMove_stopsThereWithAMessageAndSendsNothing_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("why");
        QTest::newRow("too few values") << "meb;1;2;3" << "\"meb\" move takes 4 values, not 3";
        QTest::newRow("too many values") << "mss;1;2;3;4" << "\"mss\" move takes 3 values, not 4";
        QTest::newRow("above 255") << "mla;1;2;3;256;5;6" << "value 256 is not between 0 and 255";
        QTest::newRow("below 0") << "mrn;-1;0;0;0" << "value -1 is not between 0 and 255";
    }

    void invalidMove_stopsThereWithAMessageAndSendsNothing()
    {
        QFETCH(QString, action);
        QFETCH(QString, why);
        QVERIFY(openPort());
        load({"mss;1;2;3", action, "mss;4;5;6"});
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        tickOnTime();
        tickOnTime();

        QVERIFY(!timer()->isActive());
        QVERIFY(stepButtonsEnabled());
        QCOMPARE(m_player->currentAction(), 1);
        QCOMPARE(selectedRow(), 1);
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->shown.first().title, QStringLiteral("ORVIK"));
        QCOMPARE(m_dialogs->shown.first().icon, QMessageBox::Information);
        QVERIFY2(m_dialogs->shown.first().text.startsWith(QStringLiteral("Action 2 ")) &&
                     m_dialogs->shown.first().text.contains(why),
                 qPrintable(m_dialogs->shown.first().text));
        QCOMPARE(m_peer->read(6), QByteArray::fromHex("6d7373010203"));
        QVERIFY(m_peer->read(1, 50).isEmpty());
    }

    void robotNotReading_pausesOnTheRefusedMoveAndPlayResendsIt()
    {
        QVERIFY(openPort());
        QStringList moves;
        for (int k = 1; k <= 10; ++k)
            moves << QStringLiteral("mss;%1;%1;%1").arg(k);
        load(moves);
        control<QCheckBox>(QStringLiteral("Chk_Loop"))->setChecked(true);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
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

        // Whole frames, in order, up to the one before the refused move.
        const QByteArray backlog = m_peer->drain();
        QCOMPARE(backlog.size() % 6, 0);
        const int before = (refused + 9) % 10 + 1;
        QCOMPARE(backlog.right(6).toHex(' '), QByteArray("mss").append(3, char(before)).toHex(' '));

        QTRY_VERIFY(!m_com->OutputStalled());
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        tickOnTime();
        QCOMPARE(m_peer->read(6).toHex(' '), QByteArray("mss").append(3, char(refused + 1)).toHex(' '));
        m_player->Btn_Cmd_Click(Frm_Script_Player::Stop);
    }

    void portClosed_playRunsThroughAndStopsAtTheFirstRow()
    {
        useRealClock();
        load({"meb;120;10;130;10", "wait;30", "mss;1;2;3", "end;0"});
        QSignalSpy steps(timer(), &QTimer::timeout);
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QVERIFY(timer()->isActive());
        QTRY_VERIFY(!timer()->isActive());
        QCOMPARE(steps.size(), 4);
        QCOMPARE(m_player->currentAction(), 0);
        QCOMPARE(selectedRow(), 0);
        QVERIFY(stepButtonsEnabled());
        QVERIFY(m_dialogs->shown.isEmpty());
        QVERIFY(m_peer->readAvailable().isEmpty());
    }

    void closingWhilePlaying_stopsIt()
    {
        useRealClock();
        QVERIFY(openPort());
        QStringList moves(200, QStringLiteral("mss;1;2;3"));
        load(moves);
        QPointer<Frm_Script_Player> player = m_player.release();
        player->setAttribute(Qt::WA_DeleteOnClose);
        player->show();
        player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QCOMPARE(m_peer->read(6), QByteArray::fromHex("6d7373010203"));
        player->close();
        QTRY_VERIFY(!player);
        m_peer->readAvailable();
        QVERIFY(m_peer->read(1, 200).isEmpty());
    }

    // The greeting example played to orvik-sim, a program of its own, as the operator would:
    // every move arrives whole and in order, and each comes when the script says.
    void exampleScript_playsOnTheVirtualRobot()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        qputenv("ORVIK_COM1", QFile::encodeName(sim.link()));
        QVERIFY(openPort());
        useRealClock();
        const QString example = QStringLiteral(ORVIK_EXAMPLES "/greeting.sct");
        Action_List script;
        Script_Header header;
        QVERIFY(Read_Script_File(example, script, header));
        open(example);
        QVERIFY(m_dialogs->shown.isEmpty());

        // What should arrive: each move's frame and the time since the step before the first.
        struct Move
        {
            QByteArray frame;
            qint64 dueMs;
        };
        QList<Move> expected;
        qint64 due = Frm_Script_Player::Step;
        qint64 length = Frm_Script_Player::Step;
        for (qint32 i = 0; i < script.Nb_Action; ++i) {
            const Script_Action &action = script.Actions[i];
            if (action.Command.size() == 3 && action.Command.startsWith(u'm')) {
                QByteArray frame = action.Command.toLatin1();
                for (const qint32 value : action.Values)
                    frame.append(char(value));
                expected.append({frame, due});
                length = Frm_Script_Player::Step;
            } else if (action.Command == u"wait") {
                length = std::max(0, action.Values.value(0));
            }
            due += length;
        }
        QVERIFY(expected.size() >= 2);

        QSignalSpy steps(timer(), &QTimer::timeout);
        timespec play{}; // on the clock of the simulator's log
        clock_gettime(CLOCK_MONOTONIC, &play);
        const qint64 playUs = qint64(play.tv_sec) * 1000000 + play.tv_nsec / 1000;
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QTRY_VERIFY_WITH_TIMEOUT(!timer()->isActive(), int(due) + 10000);
        QCOMPARE(steps.size(), script.Nb_Action);

        QList<QJsonObject> received;
        QTRY_VERIFY([&] {
            received.clear();
            QFile log(sim.logPath());
            if (!log.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray &line : log.readAll().split('\n')) {
                const QJsonObject entry = QJsonDocument::fromJson(line).object();
                if (entry.value(QStringLiteral("dir")).toString() == u"rx")
                    received.append(entry);
            }
            return received.size() >= expected.size();
        }());
        QCOMPARE(received.size(), expected.size());
        for (qsizetype k = 0; k < received.size(); ++k) {
            QVERIFY2(!received[k].contains(QStringLiteral("bad")), "a frame arrived broken");
            QByteArray frame = received[k].value(QStringLiteral("mnemonic")).toString().toLatin1();
            for (const QJsonValue &value : received[k].value(QStringLiteral("data")).toArray())
                frame.append(char(value.toInt()));
            QCOMPARE(frame.toHex(' '), expected[k].frame.toHex(' '));
            // Never early (but for the timer's rounding to whole milliseconds), and late only as
            // much as a shared machine makes it.
            const qint64 atMs = (received[k].value(QStringLiteral("t_us")).toInteger() - playUs) / 1000;
            const qint64 plannedMs = expected[k].dueMs;
            QVERIFY2(atMs >= plannedMs - 1 && atMs <= plannedMs + 250,
                     qPrintable(QStringLiteral("frame %1 at %2 ms, planned at %3 ms").arg(k).arg(atMs).arg(plannedMs)));
        }
    }
};

QTEST_MAIN(TestFrmScriptPlayer)
#include "tst_frm_script_player.moc"
