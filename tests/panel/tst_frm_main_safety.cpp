#include "link/Com.h"
#include "link/Robot_Profile.h"
#include "panel/Frm_Main.h"
#include "scripts/Frm_Script_Editor.h"
#include "scripts/Frm_Script_Player.h"
#include "scripts/Script_Timeline.h"
#include "support/PtyPeer.h"
#include "support/Script_Text.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The main window's safety: the robot profile's ranges, the gentle start, Stop All, against
// the far end of a pseudo-terminal.
namespace {

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

const QByteArray Mouth = QByteArray("mrm") + QByteArray::fromHex("2d002d002d002d00");

// The neck's pitch (servo 9, slider 6) narrowed to 80..100 with home 95, yaw's home 100, safe speed 9.
Robot_Profile narrowNeck()
{
    Robot_Profile profile = Robot_Profile::builtIn();
    profile.setLimits(true);
    profile.setServo(15, {QStringLiteral("Neck Pitch"), 80, 100, 95});
    profile.setServo(16, {QStringLiteral("Neck Yaw"), 50, 130, 100});
    profile.setSafeSpeed(9);
    return profile;
}

struct Rig
{
    PtyPeer peer;
    Frm_Main w;
    ScriptedDialogs *dialogs = nullptr;

    Rig()
    {
        qputenv("ORVIK_COM1", peer.device().toLocal8Bit());
        dialogs = ScriptedDialogs::install(w);
    }
    QSlider *slide(int i) { return w.findChild<QSlider *>(indexed("Slide", i)); }
    QLabel *label(const QString &name) { return w.findChild<QLabel *>(name); }
    QAction *action(const QString &name) { return w.findChild<QAction *>(name); }
    QPushButton *button(const QString &name) { return w.findChild<QPushButton *>(name); }
};

} // namespace

class tst_Frm_Main_Safety : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }
    void init()
    {
        QSettings().clear();
        QFile::remove(Frm_Main::lastPoseFile());
    }

    void ownProfileNarrowsTheSlidersAndLiveMoves()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        rig.w.useProfile(narrowNeck(), m_dir.filePath(QStringLiteral("robot.json")));
        QCOMPARE(rig.slide(6)->minimum(), 80);
        QCOMPARE(rig.slide(6)->maximum(), 100);
        QCOMPARE(rig.label(QStringLiteral("Panels(6)"))->text(), QStringLiteral("Profile: robot.json"));

        rig.action(QStringLiteral("mnu_live_moves"))->trigger();
        rig.slide(6)->setValue(113);
        QCOMPARE(rig.peer.read(7), QByteArray("mrn") + char(100) + char(0) + char(90) + char(0));

        rig.w.useProfile(Robot_Profile::builtIn(), QString());
        QCOMPARE(rig.slide(6)->maximum(), 113);
        QCOMPARE(rig.label(QStringLiteral("Panels(6)"))->text(), QStringLiteral("Profile: built-in"));
        rig.w.mnu_about_Click();
        QVERIFY(rig.dialogs->shown.last().text.endsWith(QStringLiteral("Robot profile: built-in")));
    }

    // The player's and the editor's timelines draw the script shown with the profile put in
    // use: at half the degrees per second, the eyebrows' move of 50 at speed 10 takes twice as long.
    void timelinesFollowTheProfileInUse()
    {
        Rig rig;
        const QString path = m_dir.filePath(QStringLiteral("brows.sct"));
        QVERIFY(writeScript(path, "meb;10;10;10;10\nmeb;60;10;60;10", "Brows"));
        rig.w.mnu_script_Click();
        auto *player = rig.w.findChild<Frm_Script_Player *>();
        rig.dialogs->fileNames << path;
        player->Btn_Open_Script_Click();
        player->findChild<QCheckBox *>(QStringLiteral("Chk_Timeline"))->setChecked(true);
        rig.w.mnu_script_editor_Click();
        auto *editor = rig.w.findChild<Frm_Script_Editor *>();
        rig.dialogs->fileNames << path;
        editor->mnu_script_open_Click();
        rig.action(QStringLiteral("mnu_script_timeline"))->trigger();

        auto arrival = [](QWidget *window) {
            const Script_Schedule::Timeline &timeline = window->findChild<Script_Timeline *>()->timeline();
            return timeline.lanes.isEmpty() ? -1.0 : timeline.lanes.first().predicted.last().x();
        };
        const double before = arrival(player);
        QVERIFY(before > 0);
        QCOMPARE(arrival(editor), before);
        Robot_Profile slow = Robot_Profile::builtIn();
        slow.setLimits(true);
        slow.setDegreesPerSecond(Robot_Profile::DefaultDegreesPerSecond / 2);
        rig.w.useProfile(slow, m_dir.filePath(QStringLiteral("slow.json")));
        // 50 at 10 units of speed: 1.25 s at the default 4 degrees per second a unit, 2.5 s at 2.
        QCOMPARE(arrival(player) - before, 1250.0);
        QCOMPARE(arrival(editor) - before, 1250.0);
    }

    void keptProfileIsUsedAtStart_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("pitchHigh");
        QTest::addColumn<QString>("shown");
        QTest::newRow("readable") << narrowNeck().toJson() << 100 << "Profile: robot.json";
        QTest::newRow("malformed") << QByteArray("{\"format\":") << 113
                                   << "Profile: built-in (the kept one cannot be used)";
        QTest::newRow("gone") << QByteArray() << 113 << "Profile: built-in (the kept one cannot be used)";
    }
    void keptProfileIsUsedAtStart()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, pitchHigh);
        QFETCH(QString, shown);
        const QString path = m_dir.filePath(QStringLiteral("robot.json"));
        QFile::remove(path);
        if (!file.isEmpty()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file);
        }
        QSettings().setValue(Frm_Main::ProfileKey, path);
        Rig rig;
        QCOMPARE(rig.slide(6)->maximum(), pitchHigh);
        QCOMPARE(rig.label(QStringLiteral("Panels(6)"))->text(), shown);
        // Never forgotten or overwritten because it could not be read.
        QCOMPARE(QSettings().value(Frm_Main::ProfileKey).toString(), path);
        QCOMPARE(QFile::exists(path), !file.isEmpty());
    }

    void easeToHomeSendsTheHomeFramesAtTheSafeSpeed_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void easeToHomeSendsTheHomeFramesAtTheSafeSpeed()
    {
        QFETCH(bool, on);
        QSettings().setValue(Frm_Main::EaseToHomeKey, on);
        Rig rig;
        QCOMPARE(rig.action(QStringLiteral("mnu_ease_to_home"))->isChecked(), on);
        rig.w.useProfile(narrowNeck(), m_dir.filePath(QStringLiteral("robot.json")));
        rig.slide(5)->setValue(60);
        QVERIFY(rig.w.Open_Serial(1));
        const QByteArray expected = on ? QByteArray::fromHex("6d6562 2d092d09 6d7265 2d092d092d09 6d726e 5f096409"
                                                             "6d6c61 00090009 0009 6d7261 000900090009"
                                                             "6d726d 2d092d092d092d09")
                                       : QByteArray();
        QCOMPARE(rig.peer.drain(200).toHex(' '), expected.toHex(' '));
        QCOMPARE(rig.slide(5)->value(), on ? 100 : 60);
        QCOMPARE(rig.slide(6)->value(), on ? 95 : 90);
    }

    void gentleFirstMovesRewriteOnlyTheFirstFrame_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("first");
        QTest::newRow("fastest") << true << "0" << 9;
        QTest::newRow("faster than safe") << true << "200" << 9;
        QTest::newRow("slower than safe") << true << "3" << 3;
        QTest::newRow("off") << false << "0" << 0;
    }
    void gentleFirstMovesRewriteOnlyTheFirstFrame()
    {
        QFETCH(bool, on);
        QFETCH(QString, speed);
        QFETCH(int, first);
        QSettings().setValue(Frm_Main::GentleKey, on);
        Rig rig;
        rig.w.useProfile(narrowNeck(), m_dir.filePath(QStringLiteral("robot.json")));
        for (int i : {0, 1})
            rig.w.findChild<QLineEdit *>(indexed("Txt_Speed", i))->setText(speed);
        const QByteArray asSet = QByteArray("meb") + char(45) + char(speed.toInt()) + char(45) + char(speed.toInt());
        const QByteArray gentle = QByteArray("meb") + char(45) + char(first) + char(45) + char(first);
        for (int open = 0; open < 2; ++open) {
            QVERIFY(rig.w.Open_Serial(1));
            rig.button(QStringLiteral("Btn_Send_Eyebrows"))->click();
            rig.button(QStringLiteral("Btn_Send_Eyebrows"))->click();
            // Again after every open.
            QCOMPARE(rig.peer.read(14).toHex(' '), (gentle + asSet).toHex(' '));
        }
    }

    void stopAllDropsWhatWaitsAndNothingElse_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc") << "Esc";
        QTest::newRow("STOP button") << "Btn_Stop_All";
        QTest::newRow("menu") << "mnu_stop_all";
        QTest::newRow("Esc in the player") << "player";
        QTest::newRow("Esc in the editor") << "editor";
    }
    void stopAllDropsWhatWaitsAndNothingElse()
    {
        QFETCH(QString, how);
        Rig rig;
        rig.w.show();
        QVERIFY(QTest::qWaitForWindowActive(&rig.w));
        QVERIFY(rig.w.Open_Serial(1));
        rig.action(QStringLiteral("mnu_live_moves"))->trigger();
        QWidget *target = &rig.w;
        if (how == u"player" || how == u"editor") {
            if (how == u"player")
                rig.w.mnu_script_Click();
            else
                rig.w.mnu_script_editor_Click();
            target = how == u"player" ? static_cast<QWidget *>(rig.w.findChild<Frm_Script_Player *>())
                                      : rig.w.findChild<Frm_Script_Editor *>();
            QVERIFY(target && QTest::qWaitForWindowActive(target));
            // The offscreen platform may leave the main window the active one; Esc must work
            // in the window the operator is in.
            QApplication::setActiveWindow(target);
        }

        // The robot reads nothing while the operator keeps pressing SEND.
        int taken = 0;
        while (rig.w.com().Output(Mouth) || !rig.w.com().OutputStalled())
            ++taken;
        rig.slide(5)->setValue(125); // a live move held back for the stalled line
        const int queued = rig.w.com().queuedFrames();
        const bool started = rig.w.com().OutBufferCount() % Mouth.size() != 0;
        const int dropped = queued - (started ? 1 : 0);

        if (how == u"Esc" || how == u"player" || how == u"editor") {
            QTest::keyClick(target, Qt::Key_Escape);
        } else if (how.startsWith(u"Btn")) {
            rig.button(how)->click();
        } else {
            rig.action(how)->trigger();
        }
        QCOMPARE(rig.label(QStringLiteral("Panels(3)"))->text(),
                 QStringLiteral("Stopped: %1 moves discarded").arg(dropped + 1));
        QVERIFY(!rig.action(QStringLiteral("mnu_live_moves"))->isChecked());

        // It reads again: what the driver held, whole frames only, and nothing of the program's queue.
        const QByteArray arrived = rig.peer.drain();
        QCOMPARE(arrived.size() % Mouth.size(), 0);
        QCOMPARE(arrived, Mouth.repeated(taken - dropped));
        QCOMPARE(rig.w.com().queuedFrames(), 0);
    }

    void stopAllStopsThePlayingScript()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        const QString script = m_dir.filePath(QStringLiteral("long.sct"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[GENERAL]\r\nName=long\r\n[COMMANDS]\r\nnb_action=2\r\naction_1=wait;60000\r\naction_2=end;0\r\n");
        file.close();
        rig.dialogs->fileNames << script;
        rig.w.mnu_script_Click();
        auto *player = rig.w.findChild<Frm_Script_Player *>();
        player->Btn_Open_Script_Click();
        player->Btn_Cmd_Click(Frm_Script_Player::Play);
        QVERIFY(player->isPlaying());
        rig.w.mnu_stop_all_Click();
        QVERIFY(!player->isPlaying());
        QCOMPARE(rig.label(QStringLiteral("Panels(3)"))->text(), QStringLiteral("Stopped: 0 moves discarded"));
        QVERIFY(rig.peer.drain(100).isEmpty());
    }

    void lastPoseSentIsWhereTheSlidersStart()
    {
        QSettings().setValue(Frm_Main::LastPoseKey, true);
        {
            Rig rig;
            QVERIFY(rig.w.Open_Serial(1));
            rig.slide(5)->setValue(70);
            rig.button(QStringLiteral("Btn_Send_Neck"))->click();
            QCOMPARE(rig.peer.read(7).size(), 7);
            QTRY_VERIFY(QFile::exists(Frm_Main::lastPoseFile()));
        }
        Rig next;
        QCOMPARE(next.slide(5)->value(), 70);
        QCOMPARE(next.slide(6)->value(), 90);
        QCOMPARE(next.slide(0)->value(), 45); // never sent: where it always starts

        QSettings().setValue(Frm_Main::LastPoseKey, false);
        Rig off;
        QCOMPARE(off.slide(5)->value(), 90);
    }
};

QTEST_MAIN(tst_Frm_Main_Safety)
#include "tst_frm_main_safety.moc"
