#include "link/Com.h"
#include "link/Robot_Profile.h"
#include "panel/Frm_Main.h"
#include "panel/Frm_Single_Servo.h"
#include "panel/Send_Throttle.h"
#include "scripts/Frm_Script_Editor.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"
#include "ui/Colours.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

const QString AppTitle = QStringLiteral("Orvik Serial Interface");

template <class T>
T *child(QObject &parent, const QString &name)
{
    return parent.findChild<T *>(name);
}

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

QByteArray neck(int yaw)
{
    return QByteArray("mrn") + char(90) + char(0) + char(yaw) + char(0);
}

// The texts of the editor's fields, as one line.
QString fields(QObject &editor)
{
    QStringList texts;
    for (int i = 0; i < Frm_Script_Editor::FieldCount; ++i)
        texts << child<QLineEdit>(editor, indexed("Txt_Action", i))->text();
    return texts.join(u' ');
}

// The main window with its port mapped to a pseudo-terminal and its messages recorded.
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

    QPushButton *button(const QString &name) { return child<QPushButton>(w, name); }
    QLabel *label(const QString &name) { return child<QLabel>(w, name); }
    QAction *action(const QString &name) { return child<QAction>(w, name); }
    QTimer *poll() { return child<QTimer>(w, QStringLiteral("T_Batt")); }
    QSlider *slide(int i) { return child<QSlider>(w, indexed("Slide", i)); }
    QLineEdit *speed(int i) { return child<QLineEdit>(w, indexed("Txt_Speed", i)); }
    QString status() { return label(QStringLiteral("Panels(2)"))->text(); }
    bool framesEnabled(bool enabled)
    {
        for (int f = 0; f < Frm_Main::FrameCount; ++f)
            if (child<QGroupBox>(w, indexed("Frame", f))->isEnabled() != enabled)
                return false;
        return true;
    }
    // The sensor panel as the operator reads it: both batteries and the four analogues, then
    // whiskers 1 to 4 as G green, B black, or - neither (none reported yet).
    QString sensors()
    {
        QStringList texts;
        for (const char *name : {"Lbl_Batt(0)", "Lbl_Batt(1)", "Lbl_Analogue(0)", "Lbl_Analogue(1)",
                                 "Lbl_Analogue(2)", "Lbl_Analogue(3)"})
            texts << label(QLatin1StringView(name))->text();
        QString whiskers;
        for (int k = 0; k < 4; ++k) {
            const int colour = Colours::background(label(indexed("Lbl_Whisker", k)));
            whiskers += colour == Colours::Green ? u'G' : colour == Colours::Black ? u'B' : u'-';
        }
        return texts.join(u'|') + u' ' + whiskers;
    }
    // Presses the mouth's SEND while the robot does not read, until a press is refused and the
    // line takes no more (the kernel moves bytes between the terminal's ends a little later);
    // returns how many presses were taken.
    int fillTheLine()
    {
        QLabel *writeState = label(QStringLiteral("Panels(3)"));
        int taken = 0;
        for (;;) {
            do {
                writeState->clear();
                button(QStringLiteral("Btn_Send_Mouth"))->click();
                taken += writeState->text().isEmpty();
            } while (writeState->text().isEmpty());
            const qint64 waiting = w.com().OutBufferCount();
            w.com().writeOut(100);
            if (w.com().OutBufferCount() == waiting)
                return taken;
        }
    }
    // Sends the eyebrows at rest, a frame known to the test: true when it reaches far with
    // nothing else before it.
    bool sentinelReaches(PtyPeer &far)
    {
        button(QStringLiteral("Btn_Send_Eyebrows"))->click();
        return far.read(7) == QByteArray::fromHex("6d65622d002d00");
    }
    bool sentinelReaches() { return sentinelReaches(peer); }
    // The single-servo window with its system, position and speed boxes filled in.
    Frm_Single_Servo *singleServo(const QStringList &boxes)
    {
        w.mnu_single_cmd_Click();
        auto *single = child<Frm_Single_Servo>(w, QStringLiteral("Frm_Single_Servo"));
        child<QComboBox>(*single, QStringLiteral("Cmb_System"))->setCurrentText(boxes[0]);
        child<QLineEdit>(*single, QStringLiteral("Txt_Position"))->setText(boxes[1]);
        child<QLineEdit>(*single, QStringLiteral("Txt_Speed"))->setText(boxes[2]);
        return single;
    }
    // The editor with a new script and kind k chosen.
    Frm_Script_Editor *editorWith(int k)
    {
        w.mnu_script_editor_Click();
        auto *editor = child<Frm_Script_Editor>(w, QStringLiteral("Frm_Script_Editor"));
        child<QPushButton>(*editor, QStringLiteral("Btn_New_List"))->click();
        dialogs->shown.clear();
        auto *kind = child<QComboBox>(*editor, QStringLiteral("Cmb_action"));
        kind->setCurrentIndex(k);
        emit kind->activated(k);
        return editor;
    }
};

struct ServoStart
{
    const char *caption;
    Qt::Orientation orientation;
    int minimum, maximum, initial, tick;
};
// Slide(i), Lbl_Slide(i) and Txt_Speed(i) for i = 0 to 16.
const ServoStart ServoStarts[Frm_Main::ServoCount] = {
    {"Left", Qt::Horizontal, 10, 60, 45, 5},          {"Right", Qt::Horizontal, 10, 60, 45, 5},
    {"Left", Qt::Horizontal, 26, 64, 45, 5},          {"Right", Qt::Horizontal, 26, 64, 45, 5},
    {"Pitch", Qt::Vertical, 25, 65, 45, 10},          {"Yaw", Qt::Horizontal, 50, 130, 90, 5},
    {"Pitch", Qt::Vertical, 67, 113, 90, 10},         {"Elbow pitch", Qt::Horizontal, 0, 90, 0, 10},
    {"Should pitch", Qt::Horizontal, 0, 180, 0, 10},  {"Should yaw", Qt::Horizontal, 0, 90, 0, 10},
    {"Elbow pitch", Qt::Horizontal, 0, 90, 0, 10},    {"Should pitch", Qt::Horizontal, 0, 180, 0, 10},
    {"Should yaw", Qt::Horizontal, 0, 90, 0, 10},     {"Left Up", Qt::Horizontal, 20, 70, 45, 5},
    {"Right Up", Qt::Horizontal, 20, 70, 45, 5},      {"Left Down", Qt::Horizontal, 20, 70, 45, 5},
    {"Right Down", Qt::Horizontal, 20, 70, 45, 5},
};

// Stands in for the desktop's opener of files.
class Opener : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

class CloseRecorder : public QObject
{
public:
    QStringList closed;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            closed << watched->objectName();
        return false;
    }
};

} // namespace

class tst_Frm_Main : public QObject
{
    Q_OBJECT

    QTemporaryDir m_settings; // the devices chosen for the ports, never those of whoever runs the tests

private slots:
    void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path()); }
    void init()
    {
        QLocale::setDefault(QLocale::c());
        qunsetenv("ORVIK_COM2");
        qunsetenv("ORVIK_COM4");
        QSettings().clear();
    }

    void startsClosedWithPanelsDisabled()
    {
        Rig rig;
        rig.w.show();
        QCOMPARE(rig.w.windowTitle(), QStringLiteral("Menu"));
        QVERIFY(!rig.w.com().PortOpen());
        QVERIFY(rig.framesEnabled(false));

        const QStringList captions{"EYEBROWS", "EYES", "NECK", "LEFT ARM", "RIGHT ARM", "MOUTH",
                                   "BATTERIES && WHISKERS && ANALOGUES"};
        for (int f = 0; f < captions.size(); ++f)
            QCOMPARE(child<QGroupBox>(rig.w, indexed("Frame", f))->title(), captions[f]);
        for (const char *send : {"Btn_Send_Eyebrows", "Btn_Send_Eyes", "Btn_Send_Neck", "Btn_Send_Mouth",
                                 "Btn_Send_Left_Arm", "Btn_Send_Right_Arm"})
            QCOMPARE(rig.button(QLatin1StringView(send))->text(), QStringLiteral("SEND"));

        // The sensor panel is disabled as a whole; inside it START is ready and STOP is not.
        auto *sensors = child<QGroupBox>(rig.w, QStringLiteral("Frame(6)"));
        QCOMPARE(rig.button(QStringLiteral("Btn_Start"))->text(), QStringLiteral("START READING"));
        QVERIFY(rig.button(QStringLiteral("Btn_Start"))->isEnabledTo(sensors));
        QCOMPARE(rig.button(QStringLiteral("Btn_Stop"))->text(), QStringLiteral("STOP READING"));
        QVERIFY(!rig.button(QStringLiteral("Btn_Stop"))->isEnabledTo(sensors));
        QCOMPARE(rig.sensors(), QStringLiteral("||||| ----"));
        QVERIFY(rig.label(QStringLiteral("Lbl_Whisker(0)"))->text().isEmpty());
        QVERIFY(!rig.poll()->isActive());
        QCOMPARE(rig.poll()->interval(), 500);
        QCOMPARE(rig.poll()->property("Tag").toString(), QStringLiteral("0"));

        QLabel *caption = rig.label(QStringLiteral("Panels(1)"));
        QCOMPARE(caption->text(), QStringLiteral("Serial Status :"));
        QCOMPARE(caption->toolTip(), QStringLiteral("Serial Status :"));
        QCOMPARE(rig.w.statusBar()->objectName(), QStringLiteral("StatusBar"));
        QVERIFY(rig.status().isEmpty()); // until the first tick
        QCOMPARE(child<QTimer>(rig.w, QStringLiteral("T_Serial_Detection"))->interval(), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("Disconnected"), 1500);
    }

    void slidersStartAsTheRobotIsBuilt_data()
    {
        QTest::addColumn<int>("i");
        for (int i = 0; i < Frm_Main::ServoCount; ++i)
            QTest::addRow("Slide(%d)", i) << i;
    }
    void slidersStartAsTheRobotIsBuilt()
    {
        QFETCH(int, i);
        const ServoStart &expected = ServoStarts[i];
        Rig rig;
        QSlider *slide = rig.slide(i);
        QVERIFY(slide);
        QCOMPARE(slide->orientation(), expected.orientation);
        QCOMPARE(slide->minimum(), expected.minimum);
        QCOMPARE(slide->maximum(), expected.maximum);
        QCOMPARE(slide->value(), expected.initial);
        QCOMPARE(slide->tickInterval(), expected.tick);
        QCOMPARE(slide->singleStep(), 1);
        QCOMPARE(slide->pageStep(), 5);
        QCOMPARE(rig.label(indexed("Lbl_Slide", i))->text(), QString::number(expected.initial));
        QCOMPARE(rig.speed(i)->text(), QStringLiteral("0"));
        // The caption and "Speed :" stand beside the slider, not somewhere else in the window.
        QStringList near;
        for (const QLabel *label : slide->parentWidget()->findChildren<QLabel *>())
            near << label->text();
        QVERIFY2(near.contains(QLatin1StringView(expected.caption)) && near.contains(QStringLiteral("Speed :")),
                 qPrintable(near.join(u'|')));
    }

    void menusOfferEveryWindow_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("entries"); // name|text|shortcut

        QTest::newRow("file") << "mnu_File" << "&Fichier" << QStringList{"mnu_quit|Quit|Ctrl+Q"};
        QTest::newRow("serial") << "mnu_serial" << "&Serial"
                                << QStringList{"mnu_serial_setup|Serial Setup|Ctrl+S", "mnu_devices|Devices…|Ctrl+D",
                                               "mnu_serial_sep_1||", "mnu_live_moves|Live Moves|Ctrl+L", "mnu_serial_sep_2||",
                                               "mnu_robot_profile|Robot Profile…|",
                                               "mnu_ease_to_home|Ease to Home on Connect|",
                                               "mnu_gentle_first_moves|Gentle First Moves|",
                                               "mnu_start_from_last_pose|Start from the Last Pose Sent|",
                                               "mnu_serial_sep_3||", "mnu_stop_all|Stop All|Esc"};
        QTest::newRow("tool") << "mnu_tool" << "&Tool"
                              << QStringList{"mnu_single_cmd|Single Command|", "mnu_script|Script Player|",
                                             "mnu_script_editor|Script Editor|", "mnu_traffic|Traffic Monitor|Ctrl+T",
                                             "mnu_sensor_plot|Sensor Plot|Ctrl+G"};
        QTest::newRow("help") << "mnu_help" << "?" << QStringList{"mnu_manual|User Guide|", "mnu_about|About|"};
    }
    void menusOfferEveryWindow()
    {
        QFETCH(QString, menu);
        QFETCH(QString, title);
        QFETCH(QStringList, entries);
        Rig rig;
        QMenu *m = child<QMenu>(rig.w, menu);
        QVERIFY(m);
        QCOMPARE(m->title(), title);
        QStringList actual;
        for (const QAction *a : m->actions())
            actual << QStringLiteral("%1|%2|%3").arg(a->objectName(), a->text(),
                                                     a->shortcut().toString(QKeySequence::PortableText));
        QCOMPARE(actual, entries);
    }

    void sendWritesBodyPartFrame_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("servos"); // slider=position/speed ...; an empty side is left as it starts
        QTest::addColumn<QByteArray>("frame");

        QTest::newRow("eyebrows") << "Btn_Send_Eyebrows" << "0=45/0|1=45/10" << QByteArray::fromHex("6d65622d002d0a");
        QTest::newRow("eyes left right pitch")
            << "Btn_Send_Eyes" << "2=30/1|3=60/2|4=25/3" << QByteArray::fromHex("6d72651e013c021903");
        QTest::newRow("neck pitch first") << "Btn_Send_Neck" << "5=90/5|6=100/5" << QByteArray::fromHex("6d726e64055a05");
        QTest::newRow("neck yaw moved") << "Btn_Send_Neck" << "5=100/" << QByteArray::fromHex("6d726e5a006400");
        QTest::newRow("mouth lefts before rights")
            << "Btn_Send_Mouth" << "13=21/13|14=22/14|15=23/15|16=24/16" << QByteArray::fromHex("6d726d150d170f160e1810");
        QTest::newRow("left arm yaw before pitch")
            << "Btn_Send_Left_Arm" << "7=10/1|8=180/2|9=90/3" << QByteArray::fromHex("6d6c610a015a03b402");
        QTest::newRow("right arm yaw before pitch")
            << "Btn_Send_Right_Arm" << "10=20/4|11=170/5|12=80/6" << QByteArray::fromHex("6d726114045006aa05");
        QTest::newRow("halves to even") << "Btn_Send_Eyebrows" << "0=/2.5|1=/3.5" << QByteArray::fromHex("6d65622d022d04");
        QTest::newRow("blanks and top speed")
            << "Btn_Send_Eyebrows" << "0=10/ 255 |1=60/254.5" << QByteArray::fromHex("6d65620aff3cfe");
    }
    void sendWritesBodyPartFrame()
    {
        QFETCH(QString, button);
        QFETCH(QString, servos);
        QFETCH(QByteArray, frame);
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        for (const QString &servo : servos.split(u'|')) {
            const int i = servo.section(u'=', 0, 0).toInt();
            const QString position = servo.section(u'=', 1).section(u'/', 0, 0);
            const QString speed = servo.section(u'/', 1);
            if (!position.isEmpty()) {
                rig.slide(i)->setValue(position.toInt());
                QCOMPARE(rig.label(indexed("Lbl_Slide", i))->text(), position);
            }
            if (!speed.isEmpty())
                rig.speed(i)->setText(speed);
        }
        // Pressing again sends the same values again.
        for (int press = 0; press < 2; ++press) {
            rig.button(button)->click();
            QCOMPARE(rig.peer.read(frame.size()).toHex(' '), frame.toHex(' '));
        }
        QVERIFY(rig.dialogs->shown.isEmpty());
    }

    // A speed that cannot become a byte: SEND sends nothing and the editor's From panel fills
    // nothing, and either says why.
    void refusedSpeedSaysWhy_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fill"); // From panel, else SEND
        QTest::newRow("empty") << "" << false;
        QTest::newRow("letters") << "fast" << false;
        QTest::newRow("above 255") << "256" << false;
        QTest::newRow("rounds above 255") << "255.5" << false;
        QTest::newRow("foreign decimal comma") << "1,5" << false;
        QTest::newRow("letters, taken into the editor") << "fast" << true;
    }
    void refusedSpeedSaysWhy()
    {
        QFETCH(QString, text);
        QFETCH(bool, fill);
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        rig.speed(5)->setText(text); // neck yaw
        Frm_Script_Editor *editor = fill ? rig.editorWith(5) : nullptr;
        fill ? child<QPushButton>(*editor, QStringLiteral("Btn_From_Panel"))->click()
             : rig.button(QStringLiteral("Btn_Send_Neck"))->click();

        QCOMPARE(rig.dialogs->shown.size(), 1);
        const Dialogs::Message message = rig.dialogs->shown.first();
        QCOMPARE(message.icon, QMessageBox::Information);
        QCOMPARE(message.text, QStringLiteral("NECK, Yaw: the speed \"%1\" is not a number from 0 to 255. %2")
                                   .arg(text, fill ? QStringLiteral("Nothing was filled in.")
                                                   : QStringLiteral("Nothing was sent.")));
        if (fill)
            QCOMPARE(fields(*editor), QStringLiteral("       "));
        else
            QCOMPARE(message.title, AppTitle);
        // The other panels are not affected, and the refused frame never left.
        QVERIFY(rig.sentinelReaches());
    }

    // Open_Serial on a window whose port is open already (first), or closed (first 0).
    void openSerial_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<bool>("withArguments");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("opened");     // the port it ends open on; 0: it failed
        QTest::addColumn<QString>("expect"); // the settings read back, or how the message starts
        QTest::addColumn<QString>("mentions");

        QTest::newRow("no arguments") << 4 << false << 0 << "" << 1 << "57600,n,8,1" << "";
        QTest::newRow("port 0") << 4 << true << 0 << "9600, n, 8, 1" << 1 << "9600,n,8,1" << "";
        QTest::newRow("port 5") << 4 << true << 5 << "9600, e, 7, 2" << 1 << "9600,e,7,2" << "";
        QTest::newRow("port -3") << 4 << true << -3 << "19200,o,8,1" << 1 << "19200,o,8,1" << "";
        QTest::newRow("port 4") << 4 << true << 4 << "115200, n, 8, 1" << 4 << "115200,n,8,1" << "";
        QTest::newRow("empty settings") << 4 << true << 4 << "" << 4 << "57600,n,8,1" << "";
        QTest::newRow("missing device") << 0 << true << 2 << "" << 0 << "COM2 (/nonexistent/tty): " << "";
        QTest::newRow("reopen on missing device") << 1 << true << 2 << "" << 0 << "COM2 (/nonexistent/tty): " << "";
        QTest::newRow("reopen with refused settings") << 1 << true << 1 << "300000,n,8,1" << 0 << "COM1 (" << "300000";
    }
    void openSerial()
    {
        QFETCH(int, first);
        QFETCH(bool, withArguments);
        QFETCH(int, port);
        QFETCH(QString, settings);
        QFETCH(int, opened);
        QFETCH(QString, expect);
        QFETCH(QString, mentions);
        PtyPeer com4;
        qputenv("ORVIK_COM4", com4.device().toLocal8Bit());
        qputenv("ORVIK_COM2", "/nonexistent/tty");
        Rig rig;
        if (first)
            QVERIFY(rig.w.Open_Serial(first, QStringLiteral("19200,n,8,1")));

        QCOMPARE(withArguments ? rig.w.Open_Serial(port, settings) : rig.w.Open_Serial(), opened != 0);
        QCOMPARE(rig.w.com().PortOpen(), opened != 0);
        QVERIFY(rig.framesEnabled(opened != 0));
        rig.w.T_Serial_Detection_Timer();
        QCOMPARE(rig.status(), opened ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
        if (opened) {
            QCOMPARE(int(rig.w.com().CommPort()), opened);
            QCOMPARE(rig.w.com().Settings(), expect);
            QVERIFY(rig.dialogs->shown.isEmpty());
            // The frame reaches the device the port number maps to.
            QVERIFY(rig.sentinelReaches(opened == 4 ? com4 : rig.peer));
            return;
        }
        QCOMPARE(rig.dialogs->shown.size(), 1);
        const Dialogs::Message message = rig.dialogs->shown.first();
        QCOMPARE(message.title, AppTitle);
        QCOMPARE(message.icon, QMessageBox::Information);
        QCOMPARE(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY2(message.text.startsWith(expect), qPrintable(message.text));
        QVERIFY2(message.text.contains(mentions), qPrintable(message.text));
    }

    // The panels stay usable with the port closed, by the program or by the far end hanging
    // up: every SEND finds it closed, the poll stops itself at its next tick, nothing is shown.
    void closedPortDropsSendsAndStopsThePoll_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("closed") << false;
        QTest::newRow("far end hung up") << true;
    }
    void closedPortDropsSendsAndStopsThePoll()
    {
        QFETCH(bool, hangUp);
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        if (hangUp) {
            rig.peer.hangUp();
            QTRY_VERIFY(!rig.w.com().PortOpen());
        }
        rig.button(QStringLiteral("Btn_Start"))->click();
        rig.w.com().setPortOpen(false);
        rig.w.T_Serial_Detection_Timer();
        QCOMPARE(rig.status(), QStringLiteral("Disconnected"));
        QVERIFY(rig.framesEnabled(true));
        for (QPushButton *send : rig.w.findChildren<QPushButton *>(QRegularExpression(QStringLiteral("^Btn_Send_"))))
            send->click();

        rig.w.T_Batt_Timer();
        QVERIFY(!rig.poll()->isActive());
        QVERIFY(rig.button(QStringLiteral("Btn_Start"))->isEnabled());
        QVERIFY(!rig.button(QStringLiteral("Btn_Stop"))->isEnabled());
        QCOMPARE(rig.poll()->property("Tag").toString(), QStringLiteral("0"));
        QVERIFY(rig.dialogs->shown.isEmpty()); // the status bar says it
        if (!hangUp) {
            QVERIFY(rig.w.Open_Serial(1));
            QVERIFY(rig.sentinelReaches());
        }
    }

    void floodOfRepliesKeepsWhatIsHeldBounded()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        // A board that ignores the baud rate floods the line with battery replies.
        const QByteArray flood = QByteArray::fromHex("6762763232").repeated(820); // about 4 KB
        qsizetype offered = 0;
        int mostHeld = 0;
        while (offered < 1024 * 1024) {
            rig.peer.offer(flood);
            offered += flood.size();
            QCoreApplication::processEvents();
            mostHeld = std::max(mostHeld, rig.w.com().InBufferCount());
        }
        QVERIFY2(mostHeld <= Com::ReadBufferLimit, qPrintable(QString::number(mostHeld)));

        // Once the line calms, its latest reply is shown.
        QTRY_COMPARE_WITH_TIMEOUT(rig.label(QStringLiteral("Lbl_Batt(0)"))->text(), QStringLiteral("5"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.w.com().InBufferCount(), 0, 10000);
        // Twice: the flood may have ended inside a reply, which costs the reply that follows.
        QVERIFY(rig.peer.write(QByteArray::fromHex("6762764849").repeated(2)));
        QTRY_COMPARE_WITH_TIMEOUT(rig.label(QStringLiteral("Lbl_Batt(0)"))->text(), QStringLiteral("7.2"), 5000);
        QCOMPARE(rig.label(QStringLiteral("Lbl_Batt(1)"))->text(), QStringLiteral("7.3"));
    }

    // The robot stops reading while the operator keeps pressing SEND, far past what the line
    // holds: the port stays open and takes no part of a frame, until the robot reads again
    // (whole frames only, then a live move refused meanwhile), APPLY reopens the port or the
    // far end hangs up (what was left unwritten is told once).
    void robotNotReadingGetsOnlyWholeFrames_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("report");
        QTest::newRow("reads again") << "read" << "";
        QTest::newRow("a live move refused, then reads") << "live" << "";
        QTest::newRow("reopened") << "reopen" << "%1 moves not sent: the robot was not reading";
        QTest::newRow("hung up") << "hang up" << "%1 moves not sent: the robot's line was closed";
    }
    void robotNotReadingGetsOnlyWholeFrames()
    {
        QFETCH(QString, then);
        QFETCH(QString, report);
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        const QByteArray mouth = QByteArray("mrm") + QByteArray::fromHex("2d002d002d002d00");
        QLabel *writeState = rig.label(QStringLiteral("Panels(3)"));
        QVERIFY(writeState->text().isEmpty());
        if (then == u"live")
            rig.action(QStringLiteral("mnu_live_moves"))->trigger();
        const int accepted = rig.fillTheLine();
        const int queued = rig.w.com().queuedFrames();
        QVERIFY(queued > 1);
        QVERIFY(rig.w.com().PortOpen());
        QVERIFY(!rig.w.com().Output(mouth));
        if (then == u"live")
            rig.slide(5)->setValue(125); // refused, and sent once the robot reads
        QVERIFY2(rig.w.com().errorDescription().contains(QStringLiteral("not reading")),
                 qPrintable(rig.w.com().errorDescription()));
        QCOMPARE(writeState->text(), QStringLiteral("Robot not reading: move not sent"));
        rig.w.T_Serial_Detection_Timer();
        QCOMPARE(rig.status(), QStringLiteral("Connected"));

        if (then == u"hang up") {
            rig.peer.hangUp();
            QTRY_VERIFY(!rig.w.com().PortOpen());
            QCOMPARE(writeState->text(), report.arg(queued));
        } else if (then == u"reopen") {
            QVERIFY(rig.w.Open_Serial(1));
            // The robot gets what was written before the port closed, and the rest is counted.
            const int received = int(rig.peer.drain().size() / mouth.size());
            QVERIFY(received < accepted);
            QCOMPARE(writeState->text(), report.arg(accepted - received));
        } else {
            QByteArray backlog = rig.peer.drain();
            if (then == u"live") {
                QVERIFY2(backlog.endsWith(neck(125)), qPrintable(backlog.right(11).toHex(' ')));
                backlog.chop(7);
                QCOMPARE(rig.label(QStringLiteral("Panels(4)"))->text(), QStringLiteral("Live"));
            }
            QVERIFY(!backlog.isEmpty());
            QCOMPARE(backlog, mouth.repeated(backlog.size() / mouth.size()));
            QVERIFY(writeState->text().isEmpty());
        }
        if (then != u"hang up") {
            // A report stays until the next move goes out, whole.
            QVERIFY(rig.sentinelReaches());
            QVERIFY(writeState->text().isEmpty());
            QVERIFY(rig.w.com().PortOpen());
        }
        QVERIFY(rig.dialogs->shown.isEmpty());
    }

    void pollAlternatesQueriesAcrossStopAndStart()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        QPushButton *start = rig.button(QStringLiteral("Btn_Start"));
        QPushButton *stop = rig.button(QStringLiteral("Btn_Stop"));

        start->click();
        QVERIFY(rig.poll()->isActive());
        QVERIFY(!start->isEnabled());
        QVERIFY(stop->isEnabled());
        rig.w.T_Batt_Timer();
        QCOMPARE(rig.peer.read(3), QByteArray("gbv"));

        stop->click();
        QVERIFY(!rig.poll()->isActive());
        QVERIFY(start->isEnabled());
        QVERIFY(!stop->isEnabled());

        // The poll picks up where it stopped: the first tick after a "gbv" asks for "gav".
        start->click();
        rig.w.T_Batt_Timer();
        rig.w.T_Batt_Timer();
        rig.w.T_Batt_Timer();
        QCOMPARE(rig.peer.read(9), QByteArray("gavgbvgav"));
        // And the timer itself ticks on.
        QCOMPARE(rig.peer.read(3, 5000), QByteArray("gbv"));
    }

    void repliesAreShown_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("replies"); // in hex; | the port is opened again
        QTest::addColumn<QString>("shown");   // as Rig::sensors() reads them

        const QString c = QStringLiteral("C");
        QTest::newRow("batteries") << c << "6762764849" << "7.2|7.3|||| ----";
        QTest::newRow("batteries whole and top") << c << "67627646ff" << "7|25.5|||| ----";
        QTest::newRow("batteries zero and tenths") << c << "6762760003" << "0|0.3|||| ----";
        QTest::newRow("batteries regional") << "fr_FR" << "6762764849" << "7,2|7,3|||| ----";
        // A row that shows nothing on a channel ends with a battery reply: once it shows, the rest was taken.
        QTest::newRow("analogue 4 alone") << c << "6761760403ff 6762760102" << "0.1|0.2||||1023 ----";
        QTest::newRow("analogue unsigned, back to back")
            << c << "67617601ffff 6761760201f4 6762760102" << "0.1|0.2|65535|500|| ----";
        QTest::newRow("analogue channels 0 and 5") << c << "676176000102 676176050102 6762760102" << "0.1|0.2|||| ----";
        QTest::newRow("whiskers all closed") << c << "6777730f" << "||||| GGGG";
        QTest::newRow("whiskers' high bits ignored") << c << "677773f0" << "||||| BBBB";
        QTest::newRow("whiskers 1 and 3") << c << "67777305" << "||||| GBGB";
        QTest::newRow("last whiskers report holds") << c << "6777730f 6777730a" << "||||| BGBG";
        // Half an analogue reply from the last connection is not glued to the next one's bytes.
        QTest::newRow("assembly starts afresh on open") << c << "6762764849 67617601 | 6762760102" << "0.1|0.2|||| ----";
    }
    void repliesAreShown()
    {
        QFETCH(QString, locale);
        QFETCH(QString, replies);
        QFETCH(QString, shown);
        QLocale::setDefault(QLocale(locale));
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        const QStringList connections = replies.split(u'|');
        for (qsizetype k = 0; k < connections.size(); ++k) {
            if (k > 0) {
                QTRY_VERIFY(!rig.sensors().startsWith(u'|')); // the last connection's battery reply shown
                QTRY_COMPARE(rig.w.com().InBufferCount(), 0);
                QVERIFY(rig.w.Open_Serial(1));
            }
            QVERIFY(rig.peer.write(QByteArray::fromHex(connections[k].toLatin1())));
        }
        QTRY_COMPARE(rig.sensors(), shown);
    }

    void userGuideOpensThePdfBesideTheProgram_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("in place") << true;
        QTest::newRow("missing") << false;
    }
    void userGuideOpensThePdfBesideTheProgram()
    {
        QFETCH(bool, present);
        const QDir files(QCoreApplication::applicationDirPath() + QStringLiteral("/Files"));
        const QString guide = files.filePath(QStringLiteral("User_Guide.pdf"));
        auto cleanUp = qScopeGuard([&] {
            QFile::remove(guide);
            files.rmdir(QStringLiteral("."));
            QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        });
        if (present) {
            QFile file(guide);
            QVERIFY(files.mkpath(QStringLiteral(".")) && file.open(QIODevice::WriteOnly) && file.write("%PDF-1.4\n") > 0);
        }
        Opener desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");

        Rig rig;
        rig.action(QStringLiteral("mnu_manual"))->trigger();
        QCOMPARE(desktop.opened, present ? QList<QUrl>{QUrl::fromLocalFile(QFileInfo(guide).canonicalFilePath())}
                                         : QList<QUrl>{});
        QCOMPARE(rig.dialogs->shown.size(), present ? 0 : 1);
        if (present)
            return;
        QCOMPARE(rig.dialogs->shown.first().text, QStringLiteral("Unable to load help file"));
        QCOMPARE(rig.dialogs->shown.first().title, QStringLiteral("ORVIK"));
        QCOMPARE(rig.dialogs->shown.first().icon, QMessageBox::Information);
    }

    void aboutNamesVersionAndPlaces()
    {
        Rig rig;
        rig.action(QStringLiteral("mnu_about"))->trigger();
        QCOMPARE(rig.dialogs->shown.size(), 1);
        const QString text = rig.dialogs->shown.first().text;
        const QDir folder(QCoreApplication::applicationDirPath());
        const QString licence = QStringLiteral("Free software under the GNU General Public License, version 3 or later.");
        for (const QString &part : {QStringLiteral("Orvik Serial Interface " ORVIK_VERSION), QStringLiteral(QT_VERSION_STR),
                                    licence, folder.filePath(QStringLiteral("Files/User_Guide.pdf")),
                                    folder.filePath(QStringLiteral("examples"))})
            QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" is not in: ") + text));
    }

    void quitUnloadsEveryWindowInOrder()
    {
        Rig rig;
        rig.w.show();
        // Opened in another order than they are unloaded in.
        for (const char *entry : {"mnu_script_editor", "mnu_traffic", "mnu_serial_setup", "mnu_single_cmd",
                                  "mnu_serial_setup", "mnu_script", "mnu_sensor_plot"})
            rig.action(QLatin1StringView(entry))->trigger();
        QCOMPARE(rig.w.findChildren<QWidget *>(QStringLiteral("Frm_Setup")).size(), 1);

        CloseRecorder recorder;
        rig.w.installEventFilter(&recorder);
        QList<QPointer<QWidget>> windows;
        for (const char *name : {"Frm_Setup", "Frm_Single_Servo", "Frm_Script_Player", "Frm_Script_Editor",
                                 "Frm_Traffic", "Frm_Sensor_Plot"}) {
            QWidget *window = child<QWidget>(rig.w, QLatin1StringView(name));
            QVERIFY2(window && window->isVisible(), name);
            window->installEventFilter(&recorder);
            windows << window;
        }

        rig.action(QStringLiteral("mnu_quit"))->trigger();
        QCOMPARE(recorder.closed,
                 (QStringList{"Frm_Script_Player", "Frm_Single_Servo", "Frm_Setup", "Frm_Traffic", "Frm_Sensor_Plot",
                              "Frm_Main", "Frm_Script_Editor"}));
        QVERIFY(!rig.w.isVisible());
        QTRY_VERIFY(std::none_of(windows.cbegin(), windows.cend(), [](const QPointer<QWidget> &window) { return !window.isNull(); }));
        QVERIFY(rig.dialogs->shown.isEmpty());
    }

    void throttleSendsFirstAtOnceAndLastAtTheEnd_data()
    {
        QTest::addColumn<QString>("steps"); // c<key>@ms a change, e<key>@ms its interval's end, s@ms stop
        QTest::addColumn<QString>("sends"); // key@ms

        QTest::newRow("burst: first now, last at the end") << "c0@0 c0@10 c0@49 e0@50" << "0@0 0@50";
        QTest::newRow("early timer waits for the clock") << "c0@0 c0@10 e0@45 e0@50" << "0@0 0@50";
        QTest::newRow("a late send opens an interval") << "c0@0 c0@10 e0@70 c0@80 e0@120" << "0@0 0@70 0@120";
        QTest::newRow("keys apart") << "c0@0 c1@5 c0@10 e0@50" << "0@0 1@5 0@50";
        QTest::newRow("stop drops, then at once") << "c0@0 c0@10 s@20 e0@50 c0@51" << "0@0 0@51";
        // Whole milliseconds would count 0.99 as 0 and 50.5 as 50, and send after 49.5 ms.
        QTest::newRow("fractions of a millisecond count") << "c0@0.99 c0@50.5 e0@50.99" << "0@0.99 0@50.99";
    }
    void throttleSendsFirstAtOnceAndLastAtTheEnd()
    {
        QFETCH(QString, steps);
        QFETCH(QString, sends);
        qint64 now = 0;
        QStringList sent;
        Send_Throttle throttle(2, [&](int key) { sent << QStringLiteral("%1@%2").arg(key).arg(double(now) / 1e6); });
        throttle.setClock([&] { return now; });
        for (const QString &step : steps.split(u' ')) {
            now = qRound64(step.section(u'@', 1).toDouble() * 1e6);
            const int key = step.mid(1, step.indexOf(u'@') - 1).toInt();
            step[0] == u'c' ? throttle.changed(key) : step[0] == u'e' ? throttle.intervalEnded(key) : throttle.stop();
        }
        QCOMPARE(sent.join(u' '), sends);
    }

    void liveMovesFollowTheSliderOnlyWhileTickedAndOpen()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        qint64 now = 1000;
        auto *throttle = rig.w.findChild<Send_Throttle *>();
        throttle->setClock([&] { return now; });
        QAction *live = rig.action(QStringLiteral("mnu_live_moves"));
        QLabel *panel = rig.label(QStringLiteral("Panels(4)"));
        rig.slide(5)->setValue(99); // unticked
        QVERIFY(rig.sentinelReaches());

        live->trigger();
        QCOMPARE(panel->text(), QStringLiteral("Live"));
        for (int v = 100; v <= 110; ++v)
            rig.slide(5)->setValue(v);
        QCOMPARE(rig.peer.read(7), neck(100));
        now += Send_Throttle::Interval; // the interval's timer now sends the last position
        QCOMPARE(rig.peer.read(7), neck(110));

        now += Send_Throttle::Interval;
        rig.slide(5)->setValue(111);
        rig.slide(5)->setValue(112); // waits, and unticking drops it
        live->trigger();
        QVERIFY(panel->text().isEmpty());
        now += Send_Throttle::Interval;
        throttle->intervalEnded(2);
        QCOMPARE(rig.peer.read(7), neck(111));
        QVERIFY(rig.sentinelReaches());

        live->trigger();
        rig.w.com().setPortOpen(false);
        rig.slide(5)->setValue(113);
        QVERIFY(rig.w.Open_Serial(1));
        rig.speed(5)->setText(QStringLiteral("fast"));
        rig.slide(5)->setValue(114); // no message box in the middle of a drag: the status bar says it
        QVERIFY2(panel->text().contains(QStringLiteral("\"fast\"")), qPrintable(panel->text()));
        QVERIFY(rig.sentinelReaches());
        QVERIFY(rig.dialogs->shown.isEmpty());
    }

    // What a take records: each move SEND, the single-servo window and a live move hand to the
    // port, told once, exactly as written.
    void everyMoveSentIsTold()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        QSignalSpy told(&rig.w, &Frm_Main::moveSent);
        rig.button(QStringLiteral("Btn_Send_Neck"))->click();
        Frm_Single_Servo *single = rig.singleServo({"8 - Neck Yaw", "100", "7"});
        child<QPushButton>(*single, QStringLiteral("Btn_Send_Cmd"))->click();
        rig.action(QStringLiteral("mnu_live_moves"))->trigger();
        rig.slide(5)->setValue(100);

        QByteArray frames;
        for (const QList<QVariant> &signal : std::as_const(told))
            frames += signal.first().toByteArray();
        QCOMPARE(told.size(), 3);
        QCOMPARE(rig.peer.drain(200), frames);
    }

    void poseFillsWhatSendSends_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("send");       // the SEND whose bytes the fields must hold; "" none
        QTest::addColumn<QStringList>("single"); // the single-servo window's boxes; none: closed

        QTest::newRow("eyebrows") << 0 << "Btn_Send_Eyebrows" << QStringList{};
        QTest::newRow("left arm") << 1 << "Btn_Send_Left_Arm" << QStringList{};
        QTest::newRow("right arm") << 2 << "Btn_Send_Right_Arm" << QStringList{};
        QTest::newRow("eyes") << 3 << "Btn_Send_Eyes" << QStringList{};
        QTest::newRow("mouth") << 4 << "Btn_Send_Mouth" << QStringList{};
        QTest::newRow("neck") << 5 << "Btn_Send_Neck" << QStringList{};
        QTest::newRow("single servo") << 6 << "Btn_Send_Cmd" << QStringList{"8 - Neck Yaw", "100.5", "7"};
        QTest::newRow("single servo closed") << 6 << "" << QStringList{};
        QTest::newRow("position not a byte") << 6 << "" << QStringList{"8 - Neck Yaw", "300", "0"};
        QTest::newRow("end") << 7 << "" << QStringList{"8 - Neck Yaw", "100", "7"};
    }
    void poseFillsWhatSendSends()
    {
        QFETCH(int, kind);
        QFETCH(QString, send);
        QFETCH(QStringList, single);
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        for (int i = 0; i < Frm_Main::ServoCount; ++i) {
            rig.slide(i)->setValue(rig.slide(i)->minimum() + i);
            rig.speed(i)->setText(QString::number(i + 1));
        }
        QWidget *sender = single.isEmpty() ? static_cast<QWidget *>(&rig.w) : rig.singleServo(single);
        QStringList bytes;
        if (!send.isEmpty()) {
            child<QPushButton>(*sender, send)->click();
            for (char byte : rig.peer.drain(100).mid(3))
                bytes << QString::number(quint8(byte));
        }
        while (bytes.size() < Frm_Script_Editor::FieldCount)
            bytes << QString(); // the kind's hidden fields stay empty

        Frm_Script_Editor *editor = rig.editorWith(kind);
        QCOMPARE(child<QPushButton>(*editor, QStringLiteral("Btn_From_Panel"))->isEnabled(), !send.isEmpty());
        const QString before = fields(*editor);
        child<QAction>(*editor, QStringLiteral("mnu_script_from_panel"))->trigger();
        QCOMPARE(fields(*editor), send.isEmpty() ? before : bytes.join(u' '));
        QVERIFY(rig.dialogs->shown.isEmpty());
        QVERIFY(rig.peer.drain(100).isEmpty()); // taking the pose sent nothing
    }

    void poseTakenKeepsToTheProfile()
    {
        Rig rig;
        Robot_Profile profile = Robot_Profile::builtIn();
        profile.setLimits(true);
        profile.setServo(15, {QStringLiteral("Neck Pitch"), 80, 100, 95});
        rig.w.useProfile(profile, m_settings.filePath(QStringLiteral("robot.json")));
        rig.slide(6)->setValue(113);
        Frm_Script_Editor *editor = rig.editorWith(5);
        child<QPushButton>(*editor, QStringLiteral("Btn_From_Panel"))->click();
        QCOMPARE(fields(*editor), QStringLiteral("100 0 90 0    "));
    }

    void deviceChoiceDecidesWhatAPortOpens_data()
    {
        QTest::addColumn<QString>("typed"); // into COM2's box; "#0" picks its first item
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("opens");

        QTest::newRow("typed, blanks around") << " /dev/ttyACM0 " << "Btn_Ok_Devices" << "" << "/dev/ttyACM0";
        QTest::newRow("default item") << "#0" << "Btn_Ok_Devices" << "" << "/dev/ttyS1";
        QTest::newRow("cancelled") << "/dev/ttyUSB7" << "Btn_Cancel_Devices" << "" << "/dev/ttyS1";
        QTest::newRow("environment wins") << "/dev/ttyUSB7" << "Btn_Ok_Devices" << "/dev/pts/99" << "/dev/pts/99";
    }
    void deviceChoiceDecidesWhatAPortOpens()
    {
        QFETCH(QString, typed);
        QFETCH(QString, button);
        QFETCH(QString, environment);
        QFETCH(QString, opens);
        if (!environment.isEmpty())
            qputenv("ORVIK_COM2", environment.toLocal8Bit());
        Rig rig;
        rig.action(QStringLiteral("mnu_devices"))->trigger();
        auto *box = child<QComboBox>(rig.w, QStringLiteral("Cmb_Device(2)"));
        QCOMPARE(box->currentText(), QStringLiteral("/dev/ttyS1 (default)"));
        QLabel *note = rig.label(QStringLiteral("Lbl_Override(2)"));
        QCOMPARE(note->isVisibleTo(note->window()) && note->text().contains(environment), !environment.isEmpty());

        box->setEditText(QStringLiteral("/dev/ttyUSB3"));
        typed == u"#0" ? box->setCurrentIndex(0) : box->setEditText(typed);
        rig.button(button)->click();
        QVERIFY(!box->window()->isVisible());
        QCOMPARE(Com::deviceFor(2), opens);
        QCOMPARE(Com::deviceFor(3), QStringLiteral("/dev/ttyS2"));
    }

    void chosenAdapterIsOpenedAndKeptAcrossARestart()
    {
        PtyPeer adapter;
        for (bool choose : {true, false}) { // the second window is the next run's
            Rig rig;
            rig.action(QStringLiteral("mnu_devices"))->trigger();
            auto *box = child<QComboBox>(rig.w, QStringLiteral("Cmb_Device(2)"));
            if (choose) {
                box->setEditText(adapter.device());
                rig.button(QStringLiteral("Btn_Ok_Devices"))->click();
            }
            QCOMPARE(box->currentText(), adapter.device());
            QVERIFY(rig.w.Open_Serial(2));
            QVERIFY(rig.sentinelReaches(adapter));
        }
        QSettings().sync();
        const QSettings onDisk(QSettings().fileName(), QSettings::IniFormat);
        QCOMPARE(onDisk.value("Devices/COM2").toString(), adapter.device());
    }
};

QTEST_MAIN(tst_Frm_Main)
#include "tst_frm_main.moc"
