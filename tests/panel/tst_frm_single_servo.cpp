#include "panel/Frm_Main.h"
#include "panel/Frm_Single_Servo.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestFrmSingleServo : public QObject
{
    Q_OBJECT

    static inline const QByteArray KnownGood = QByteArray::fromHex("6d7373122d00"); // 18 - Right eyebrow, 45, 0

    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<Frm_Main> m_main;
    ScriptedDialogs *m_dialogs = nullptr;
    Frm_Single_Servo *m_window = nullptr;
    QTemporaryDir m_settings;
    QComboBox *m_system = nullptr;

    // With the focus, as the operator types (the box's completion only acts then), and confirmed with Enter.
    void type(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    void send(const QString &system, const QString &position, const QString &speed)
    {
        type(m_system->lineEdit(), system);
        QCOMPARE(m_system->currentText(), system);
        type(m_window->findChild<QLineEdit *>("Txt_Position"), position);
        type(m_window->findChild<QLineEdit *>("Txt_Speed"), speed);
        QTest::mouseClick(m_window->findChild<QPushButton *>("Btn_Send_Cmd"), Qt::LeftButton);
    }

private slots:
    void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path()); }

    void init()
    {
        // A comma as decimal separator shows that the operator's regional format is the one read.
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        m_peer = std::make_unique<PtyPeer>();
        qputenv("ORVIK_COM1", m_peer->device().toLocal8Bit());
        m_main = std::make_unique<Frm_Main>();
        m_dialogs = ScriptedDialogs::install(*m_main);
        QVERIFY(m_main->Open_Serial(1));
        m_main->mnu_single_cmd_Click();
        m_window = m_main->findChild<Frm_Single_Servo *>();
        QVERIFY(m_window && QTest::qWaitForWindowActive(m_window));
        m_system = m_window->findChild<QComboBox *>("Cmb_System");
    }

    void load_listsTheServosAndShowsZeroes()
    {
        QStringList items;
        for (int i = 0; i < m_system->count(); ++i)
            items << m_system->itemText(i);
        QCOMPARE(items, QStringList({
            "18 - Right eyebrow", "20 - Left eyebrow", "17 - Right eye yaw", "16 - Left eye yaw", "15 - Eyes Pitch",
            "11 - Right Mouth Up", "14 - Right Mouth Bottom", "13 - Left Mouth Up", "12 - Left Mouth Bottom",
            "1 - Right Elbow", "2 - Right Shoulder Yaw", "3 - Right Shoulder Pitch", "6 - Left Elbow",
            "7 - Left Shoulder Yaw", "4 - Left Shoulder Pitch", "9 - Neck Pitch", "8 - Neck Yaw"}));
        QCOMPARE(m_window->windowTitle(), "Single Servo");
        QCOMPARE(m_window->findChild<QLabel *>("Label1")->text(), "Select a system to move");
        QCOMPARE(m_window->findChild<QLabel *>("Label2")->text(), "Position in degrees (ex : 45) :");
        QCOMPARE(m_window->findChild<QLabel *>("Label3")->text(), "Speed [0 to 255] (0 = max) :");
        QCOMPARE(m_window->findChild<QPushButton *>("Btn_Send_Cmd")->text(), "SEND");
        QCOMPARE(m_window->findChild<QLineEdit *>("Txt_Position")->text(), "0");
        QCOMPARE(m_window->findChild<QLineEdit *>("Txt_Speed")->text(), "0");
    }

    void send_writesTheFrameOrSaysWhyNot_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message"); // all those shown, one a line

        const auto frame = [](const char *hex) { return QByteArray::fromHex(hex); };
        const auto refused = [](const QString &field, const QString &text) {
            return QStringLiteral("The %1 \"%2\" is not a number from 0 to 255. Nothing was sent.").arg(field, text);
        };
        const QByteArray nothing;
        const QString noValue = QStringLiteral("Enter valid position and speed");
        QTest::newRow("first entry") << "18 - Right eyebrow" << "45" << "0" << true << frame("6d7373122d00") << "";
        QTest::newRow("last, to even") << "8 - Neck Yaw" << "44,5" << "45,5" << true << frame("6d7373082c2e") << "";
        QTest::newRow("typed number") << "5" << "120" << "10" << true << frame("6d737305780a") << "";
        QTest::newRow("typed start of an entry") << "1" << "45" << "0" << true << frame("6d7373012d00") << "";
        QTest::newRow("no system") << "" << "45" << "0" << true << nothing << "Select a system first !";
        QTest::newRow("no position") << "18 - Right eyebrow" << "" << "0" << true << nothing << noValue;
        QTest::newRow("no speed, port closed: texts first") << "5" << "45" << "" << false << nothing << noValue;
        QTest::newRow("port closed") << "abc" << "45" << "0" << false << nothing << "";
        QTest::newRow("servo") << "x1 - Neck" << "256" << "-1" << true << nothing << refused("servo number", "x1");
        QTest::newRow("position") << "8 - Neck Yaw" << "256" << "x" << true << nothing << refused("position", "256");
        QTest::newRow("speed") << "8 - Neck Yaw" << "45" << "-1" << true << nothing << refused("speed", "-1");
    }

    void send_writesTheFrameOrSaysWhyNot()
    {
        QFETCH(QString, system);
        QFETCH(QString, position);
        QFETCH(QString, speed);
        QFETCH(bool, portOpen);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);

        QVERIFY(m_main->com().setPortOpen(portOpen));
        send(system, position, speed);
        QCOMPARE(m_system->count(), 17); // the robot's list, whatever was typed
        QStringList shown;
        for (const Dialogs::Message &box : m_dialogs->shown) {
            shown << box.text;
            QCOMPARE(box.title, "Orvik Serial Interface");
            QCOMPARE(box.icon, QMessageBox::NoIcon);
        }
        QCOMPARE(shown.join('\n'), message);

        QVERIFY(m_main->com().setPortOpen(true));
        send("18 - Right eyebrow", "45", "0"); // a known good command shows where what was sent ends
        QCOMPARE(m_peer->read(frame.size() + KnownGood.size()).toHex(' '), (frame + KnownGood).toHex(' '));
    }

    void send_keepsToAnOwnProfile_data()
    {
        QTest::addColumn<bool>("ownProfile");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message");
        QTest::newRow("inside") << true << "18 - Right eyebrow" << "40" << QByteArray::fromHex("6d7373122800") << "";
        QTest::newRow("above") << true << "18 - Right eyebrow" << "41" << QByteArray()
                               << "Right eyebrow (servo 18) may only go from 20 to 40, not to 41. Nothing was sent.";
        QTest::newRow("below, typed number") << true << "18" << "19" << QByteArray()
                                             << "Right eyebrow (servo 18) may only go from 20 to 40, not to 19. "
                                                "Nothing was sent.";
        QTest::newRow("a number not in the list has no range") << true << "5" << "250"
                                                               << QByteArray::fromHex("6d737305fa00") << "";
        QTest::newRow("built-in sends any byte") << false << "18 - Right eyebrow" << "250"
                                                 << QByteArray::fromHex("6d737312fa00") << "";
    }

    void send_keepsToAnOwnProfile()
    {
        QFETCH(bool, ownProfile);
        QFETCH(QString, system);
        QFETCH(QString, position);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        Robot_Profile profile = Robot_Profile::builtIn();
        profile.setLimits(ownProfile);
        profile.setServo(0, {QStringLiteral("Right eyebrow"), 20, 40, 30});
        m_main->useProfile(profile, ownProfile ? QStringLiteral("/nowhere/robot.json") : QString());
        send(system, position, "0");
        QCOMPARE(m_dialogs->shown.isEmpty() ? QString() : m_dialogs->shown.first().text, message);
        send("5", "45", "0"); // shows where what was sent ends
        const QByteArray known = QByteArray::fromHex("6d7373052d00");
        QCOMPARE(m_peer->read(frame.size() + known.size()).toHex(' '), (frame + known).toHex(' '));
    }

    void robotNotReading_getsOnlyWholeFrames()
    {
        send("18 - Right eyebrow", "45", "0");
        QCOMPARE(m_peer->read(KnownGood.size()), KnownGood);
        // The robot reads nothing while the operator keeps pressing SEND: far more than the line holds.
        auto *button = m_window->findChild<QPushButton *>("Btn_Send_Cmd");
        for (int press = 0; press < 6000; ++press) {
            button->click();
            if (press % 100 == 0)
                QCoreApplication::processEvents();
        }
        QVERIFY(m_main->com().PortOpen());
        QVERIFY(m_main->com().OutputStalled());
        QVERIFY(m_dialogs->shown.isEmpty()); // the main window's status bar says it

        const QByteArray backlog = m_peer->drain();
        QCOMPARE(backlog.size() % KnownGood.size(), 0);
        QCOMPARE(backlog, KnownGood.repeated(backlog.size() / KnownGood.size()));
        send("8 - Neck Yaw", "90", "20");
        QCOMPARE(m_peer->read(6).toHex(' '), QByteArray::fromHex("6d7373085a14").toHex(' '));
    }
};

QTEST_MAIN(TestFrmSingleServo)
#include "tst_frm_single_servo.moc"
