#include "panel/Colours.h"
#include "panel/Frm_Main.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace {

const QString AppTitle = QStringLiteral("Orvik Serial Interface");

template <class T>
T *child(QObject &parent, const QString &name)
{
    T *found = parent.findChild<T *>(name);
    if (!found)
        qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
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
    // Sends the eyebrows at rest: a frame known to the test, used to show that nothing else
    // reached the line before it.
    QByteArray sendSentinel()
    {
        button(QStringLiteral("Btn_Send_Eyebrows"))->click();
        return QByteArray::fromHex("6d65622d002d00");
    }
};

} // namespace

class tst_Frm_Main : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void startsClosedWithPanelsDisabled();
    void slidersStartAsTheRobotIsBuilt_data();
    void slidersStartAsTheRobotIsBuilt();
    void menusOfferEveryWindow_data();
    void menusOfferEveryWindow();
    void sliderLabelFollowsTheSlider();

    void sendWritesBodyPartFrame_data();
    void sendWritesBodyPartFrame();
    void sendOnClosedPortSendsNothing();
    void refusedSpeedSendsNothingAndSaysWhy_data();
    void refusedSpeedSendsNothingAndSaysWhy();

    void openSerialChoosesPortAndSettings_data();
    void openSerialChoosesPortAndSettings();
    void openSerialReopensWithNewSettings();
    void openSerialFailure_data();
    void openSerialFailure();
    void farEndHangingUpShowsDisconnected();

    void pollAlternatesQueriesAcrossStopAndStart();
    void pollStopsItselfWhenThePortIsClosed();
    void pollRunsOnItsTimer();
    void repliesAreShown_data();
    void repliesAreShown();

    void userGuideMissingSaysSo();
    void quitUnloadsEveryWindowInOrder();
};

void tst_Frm_Main::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void tst_Frm_Main::init()
{
    QLocale::setDefault(QLocale::c());
}

void tst_Frm_Main::startsClosedWithPanelsDisabled()
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
    for (const char *name : {"Lbl_Batt(0)", "Lbl_Batt(1)", "Lbl_Analogue(0)", "Lbl_Analogue(3)", "Lbl_Whisker(0)"})
        QVERIFY(rig.label(QLatin1StringView(name))->text().isEmpty());

    auto *poll = child<QTimer>(rig.w, QStringLiteral("T_Batt"));
    QVERIFY(!poll->isActive());
    QCOMPARE(poll->interval(), 500);
    QCOMPARE(poll->property("Tag").toString(), QStringLiteral("0"));

    QLabel *caption = rig.label(QStringLiteral("Panels(1)"));
    QCOMPARE(caption->text(), QStringLiteral("Serial Status :"));
    QCOMPARE(caption->toolTip(), QStringLiteral("Serial Status :"));
    QCOMPARE(rig.w.statusBar()->objectName(), QStringLiteral("StatusBar"));
    QVERIFY(rig.status().isEmpty()); // until the first tick
    QCOMPARE(child<QTimer>(rig.w, QStringLiteral("T_Serial_Detection"))->interval(), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("Disconnected"), 1500);
}

void tst_Frm_Main::slidersStartAsTheRobotIsBuilt_data()
{
    QTest::addColumn<int>("i");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("initial");
    QTest::addColumn<int>("tick");

    const int h = Qt::Horizontal;
    const int v = Qt::Vertical;
    QTest::newRow("eyebrow left") << 0 << h << 10 << 60 << 45 << 5;
    QTest::newRow("eyebrow right") << 1 << h << 10 << 60 << 45 << 5;
    QTest::newRow("eye left") << 2 << h << 26 << 64 << 45 << 5;
    QTest::newRow("eye right") << 3 << h << 26 << 64 << 45 << 5;
    QTest::newRow("eyes pitch") << 4 << v << 25 << 65 << 45 << 10;
    QTest::newRow("neck yaw") << 5 << h << 50 << 130 << 90 << 5;
    QTest::newRow("neck pitch") << 6 << v << 67 << 113 << 90 << 10;
    QTest::newRow("left elbow") << 7 << h << 0 << 90 << 0 << 10;
    QTest::newRow("left shoulder pitch") << 8 << h << 0 << 180 << 0 << 10;
    QTest::newRow("left shoulder yaw") << 9 << h << 0 << 90 << 0 << 10;
    QTest::newRow("right elbow") << 10 << h << 0 << 90 << 0 << 10;
    QTest::newRow("right shoulder pitch") << 11 << h << 0 << 180 << 0 << 10;
    QTest::newRow("right shoulder yaw") << 12 << h << 0 << 90 << 0 << 10;
    QTest::newRow("mouth left up") << 13 << h << 20 << 70 << 45 << 5;
    QTest::newRow("mouth right up") << 14 << h << 20 << 70 << 45 << 5;
    QTest::newRow("mouth left down") << 15 << h << 20 << 70 << 45 << 5;
    QTest::newRow("mouth right down") << 16 << h << 20 << 70 << 45 << 5;
}

void tst_Frm_Main::slidersStartAsTheRobotIsBuilt()
{
    QFETCH(int, i);
    QFETCH(int, orientation);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, initial);
    QFETCH(int, tick);

    Rig rig;
    QSlider *slide = rig.slide(i);
    QVERIFY(slide);
    QCOMPARE(int(slide->orientation()), orientation);
    QCOMPARE(slide->minimum(), minimum);
    QCOMPARE(slide->maximum(), maximum);
    QCOMPARE(slide->value(), initial);
    QCOMPARE(slide->tickInterval(), tick);
    QCOMPARE(slide->singleStep(), 1);
    QCOMPARE(slide->pageStep(), 5);
    QCOMPARE(rig.label(indexed("Lbl_Slide", i))->text(), QString::number(initial));
    QCOMPARE(rig.speed(i)->text(), QStringLiteral("0"));
}

void tst_Frm_Main::menusOfferEveryWindow_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries"); // name|text|shortcut

    QTest::newRow("file") << "mnu_File" << "&Fichier" << QStringList{"mnu_quit|Quit|Ctrl+Q"};
    QTest::newRow("serial") << "mnu_serial" << "&Serial" << QStringList{"mnu_serial_setup|Serial Setup|Ctrl+S"};
    QTest::newRow("tool") << "mnu_tool" << "&Tool"
                          << QStringList{"mnu_single_cmd|Single Command|", "mnu_script|Script Player|",
                                         "mnu_script_editor|Script Editor|"};
    QTest::newRow("help") << "mnu_help" << "?" << QStringList{"mnu_manual|User Guide|"};
}

void tst_Frm_Main::menusOfferEveryWindow()
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

void tst_Frm_Main::sliderLabelFollowsTheSlider()
{
    Rig rig;
    QSlider *yaw = rig.slide(5);
    yaw->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(rig.label(QStringLiteral("Lbl_Slide(5)"))->text(), QStringLiteral("95"));
    yaw->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(rig.label(QStringLiteral("Lbl_Slide(5)"))->text(), QStringLiteral("94"));
    QVERIFY(rig.dialogs->shown.isEmpty());
}

void tst_Frm_Main::sendWritesBodyPartFrame_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QVariantMap>("sliders"); // element -> value
    QTest::addColumn<QVariantMap>("speeds");  // element -> text
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("eyebrows") << "Btn_Send_Eyebrows" << QVariantMap{{"0", 45}, {"1", 45}}
                              << QVariantMap{{"0", "0"}, {"1", "10"}} << QByteArray::fromHex("6d65622d002d0a");
    QTest::newRow("eyes left right pitch") << "Btn_Send_Eyes" << QVariantMap{{"2", 30}, {"3", 60}, {"4", 25}}
                                           << QVariantMap{{"2", "1"}, {"3", "2"}, {"4", "3"}}
                                           << QByteArray::fromHex("6d72651e013c021903");
    QTest::newRow("eyes at rest") << "Btn_Send_Eyes" << QVariantMap{} << QVariantMap{}
                                  << QByteArray::fromHex("6d72652d002d002d00");
    QTest::newRow("neck pitch first") << "Btn_Send_Neck" << QVariantMap{{"5", 90}, {"6", 100}}
                                      << QVariantMap{{"5", "5"}, {"6", "5"}} << QByteArray::fromHex("6d726e64055a05");
    QTest::newRow("neck yaw moved") << "Btn_Send_Neck" << QVariantMap{{"5", 100}} << QVariantMap{}
                                    << QByteArray::fromHex("6d726e5a006400");
    QTest::newRow("mouth lefts before rights")
        << "Btn_Send_Mouth" << QVariantMap{{"13", 21}, {"14", 22}, {"15", 23}, {"16", 24}}
        << QVariantMap{{"13", "13"}, {"14", "14"}, {"15", "15"}, {"16", "16"}}
        << QByteArray::fromHex("6d726d150d170f160e1810");
    QTest::newRow("left arm yaw before pitch") << "Btn_Send_Left_Arm" << QVariantMap{{"7", 10}, {"8", 180}, {"9", 90}}
                                               << QVariantMap{{"7", "1"}, {"8", "2"}, {"9", "3"}}
                                               << QByteArray::fromHex("6d6c610a015a03b402");
    QTest::newRow("right arm yaw before pitch")
        << "Btn_Send_Right_Arm" << QVariantMap{{"10", 20}, {"11", 170}, {"12", 80}}
        << QVariantMap{{"10", "4"}, {"11", "5"}, {"12", "6"}} << QByteArray::fromHex("6d72611404500" "6aa05");
    QTest::newRow("halves to even") << "Btn_Send_Eyebrows" << QVariantMap{} << QVariantMap{{"0", "2.5"}, {"1", "3.5"}}
                                    << QByteArray::fromHex("6d65622d022d04");
    QTest::newRow("blanks and top speed") << "Btn_Send_Eyebrows" << QVariantMap{{"0", 10}, {"1", 60}}
                                          << QVariantMap{{"0", " 255 "}, {"1", "254.5"}}
                                          << QByteArray::fromHex("6d65620aff3cfe");
}

void tst_Frm_Main::sendWritesBodyPartFrame()
{
    QFETCH(QString, button);
    QFETCH(QVariantMap, sliders);
    QFETCH(QVariantMap, speeds);
    QFETCH(QByteArray, frame);

    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    for (auto it = sliders.cbegin(); it != sliders.cend(); ++it) {
        rig.slide(it.key().toInt())->setValue(it.value().toInt());
        QCOMPARE(rig.label(indexed("Lbl_Slide", it.key().toInt()))->text(), it.value().toString());
    }
    for (auto it = speeds.cbegin(); it != speeds.cend(); ++it)
        rig.speed(it.key().toInt())->setText(it.value().toString());

    rig.button(button)->click();
    QCOMPARE(rig.peer.read(frame.size()).toHex(' '), frame.toHex(' '));
    // Pressing again sends the same values again.
    rig.button(button)->click();
    QCOMPARE(rig.peer.read(frame.size()).toHex(' '), frame.toHex(' '));
    QVERIFY(rig.dialogs->shown.isEmpty());
}

void tst_Frm_Main::sendOnClosedPortSendsNothing()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.w.com().setPortOpen(false);
    // The panels stay usable, but every SEND finds the port closed.
    QVERIFY(rig.framesEnabled(true));
    for (QPushButton *send : rig.w.findChildren<QPushButton *>(QRegularExpression(QStringLiteral("^Btn_Send_"))))
        send->click();
    QVERIFY(rig.dialogs->shown.isEmpty());

    QVERIFY(rig.w.Open_Serial(1));
    const QByteArray sentinel = rig.sendSentinel();
    QCOMPARE(rig.peer.read(sentinel.size()), sentinel);
}

void tst_Frm_Main::refusedSpeedSendsNothingAndSaysWhy_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "  ";
    QTest::newRow("letters") << "fast";
    QTest::newRow("above 255") << "256";
    QTest::newRow("rounds above 255") << "255.5";
    QTest::newRow("negative") << "-1";
    QTest::newRow("foreign decimal comma") << "1,5";
}

void tst_Frm_Main::refusedSpeedSendsNothingAndSaysWhy()
{
    QFETCH(QString, text);
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.speed(5)->setText(text); // neck yaw
    rig.button(QStringLiteral("Btn_Send_Neck"))->click();

    QCOMPARE(rig.dialogs->shown.size(), 1);
    const Dialogs::Message message = rig.dialogs->shown.first();
    QCOMPARE(message.title, AppTitle);
    QCOMPARE(message.icon, QMessageBox::Information);
    QVERIFY2(message.text.contains(QStringLiteral("NECK")), qPrintable(message.text));
    QVERIFY2(message.text.contains(QStringLiteral("\"%1\"").arg(text)), qPrintable(message.text));

    // The other panels are not affected, and the refused frame never left.
    const QByteArray sentinel = rig.sendSentinel();
    QCOMPARE(rig.peer.read(sentinel.size()), sentinel);
}

void tst_Frm_Main::openSerialChoosesPortAndSettings_data()
{
    QTest::addColumn<bool>("withArguments");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("openedPort");
    QTest::addColumn<QString>("openedSettings");

    QTest::newRow("no arguments") << false << 0 << "" << 1 << "57600,n,8,1";
    QTest::newRow("port 0") << true << 0 << "9600, n, 8, 1" << 1 << "9600,n,8,1";
    QTest::newRow("port 5") << true << 5 << "9600, e, 7, 2" << 1 << "9600,e,7,2";
    QTest::newRow("port -3") << true << -3 << "19200,o,8,1" << 1 << "19200,o,8,1";
    QTest::newRow("port 4") << true << 4 << "115200, n, 8, 1" << 4 << "115200,n,8,1";
    QTest::newRow("empty settings") << true << 4 << "" << 4 << "57600,n,8,1";
}

void tst_Frm_Main::openSerialChoosesPortAndSettings()
{
    QFETCH(bool, withArguments);
    QFETCH(int, port);
    QFETCH(QString, settings);
    QFETCH(int, openedPort);
    QFETCH(QString, openedSettings);

    PtyPeer com4;
    qputenv("ORVIK_COM4", com4.device().toLocal8Bit());
    Rig rig;
    QVERIFY(withArguments ? rig.w.Open_Serial(port, settings) : rig.w.Open_Serial());
    QVERIFY(rig.w.com().PortOpen());
    QCOMPARE(int(rig.w.com().CommPort()), openedPort);
    QCOMPARE(rig.w.com().Settings(), openedSettings);
    QVERIFY(rig.framesEnabled(true));
    QVERIFY(rig.dialogs->shown.isEmpty());

    // The frame reaches the device the port number maps to.
    PtyPeer &far = openedPort == 4 ? com4 : rig.peer;
    const QByteArray sentinel = rig.sendSentinel();
    QCOMPARE(far.read(sentinel.size()), sentinel);
    rig.w.T_Serial_Detection_Timer();
    QCOMPARE(rig.status(), QStringLiteral("Connected"));
    qunsetenv("ORVIK_COM4");
}

void tst_Frm_Main::openSerialReopensWithNewSettings()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1, QStringLiteral("9600, e, 7, 2")));
    QCOMPARE(rig.w.com().Settings(), QStringLiteral("9600,e,7,2"));
    QVERIFY(rig.w.Open_Serial(1, QStringLiteral("57600, n, 8, 1")));
    QCOMPARE(rig.w.com().Settings(), QStringLiteral("57600,n,8,1"));
    QVERIFY(rig.w.com().PortOpen());
    const QByteArray sentinel = rig.sendSentinel();
    QCOMPARE(rig.peer.read(sentinel.size()), sentinel);
}

void tst_Frm_Main::openSerialFailure_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("messageStart");
    QTest::addColumn<QString>("messageMentions");

    QTest::newRow("missing device") << false << 2 << "" << "COM2 (/nonexistent/tty): " << "";
    QTest::newRow("reopen on missing device") << true << 2 << "" << "COM2 (/nonexistent/tty): " << "";
    QTest::newRow("refused settings") << false << 1 << "57600, x, 8, 1" << "COM1 (" << "57600, x, 8, 1";
    QTest::newRow("reopen with refused settings") << true << 1 << "300000,n,8,1" << "COM1 (" << "300000";
}

void tst_Frm_Main::openSerialFailure()
{
    QFETCH(bool, openFirst);
    QFETCH(int, port);
    QFETCH(QString, settings);
    QFETCH(QString, messageStart);
    QFETCH(QString, messageMentions);

    qputenv("ORVIK_COM2", "/nonexistent/tty");
    Rig rig;
    if (openFirst)
        QVERIFY(rig.w.Open_Serial(1));

    QVERIFY(!rig.w.Open_Serial(port, settings));
    QVERIFY(!rig.w.com().PortOpen());
    QVERIFY(rig.framesEnabled(false));
    QCOMPARE(rig.dialogs->shown.size(), 1);
    const Dialogs::Message message = rig.dialogs->shown.first();
    QCOMPARE(message.title, AppTitle);
    QCOMPARE(message.icon, QMessageBox::Information);
    QCOMPARE(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(message.text.startsWith(messageStart), qPrintable(message.text));
    QVERIFY2(message.text.contains(messageMentions), qPrintable(message.text));
    rig.w.T_Serial_Detection_Timer();
    QCOMPARE(rig.status(), QStringLiteral("Disconnected"));
    qunsetenv("ORVIK_COM2");
}

void tst_Frm_Main::farEndHangingUpShowsDisconnected()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.w.T_Serial_Detection_Timer();
    QCOMPARE(rig.status(), QStringLiteral("Connected"));

    rig.peer.hangUp();
    QTRY_VERIFY(!rig.w.com().PortOpen());
    rig.w.T_Serial_Detection_Timer();
    QCOMPARE(rig.status(), QStringLiteral("Disconnected"));
    rig.button(QStringLiteral("Btn_Send_Neck"))->click();
    QVERIFY(rig.dialogs->shown.isEmpty()); // the status bar says it
}

void tst_Frm_Main::pollAlternatesQueriesAcrossStopAndStart()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    auto *poll = child<QTimer>(rig.w, QStringLiteral("T_Batt"));
    QPushButton *start = rig.button(QStringLiteral("Btn_Start"));
    QPushButton *stop = rig.button(QStringLiteral("Btn_Stop"));

    start->click();
    QVERIFY(poll->isActive());
    QVERIFY(!start->isEnabled());
    QVERIFY(stop->isEnabled());
    rig.w.T_Batt_Timer();
    QCOMPARE(rig.peer.read(3), QByteArray("gbv"));

    stop->click();
    QVERIFY(!poll->isActive());
    QVERIFY(start->isEnabled());
    QVERIFY(!stop->isEnabled());

    // The poll picks up where it stopped: the first tick after a "gbv" asks for "gav".
    start->click();
    rig.w.T_Batt_Timer();
    rig.w.T_Batt_Timer();
    rig.w.T_Batt_Timer();
    QCOMPARE(rig.peer.read(9), QByteArray("gavgbvgav"));
}

void tst_Frm_Main::pollStopsItselfWhenThePortIsClosed()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    auto *poll = child<QTimer>(rig.w, QStringLiteral("T_Batt"));
    rig.button(QStringLiteral("Btn_Start"))->click();
    rig.w.com().setPortOpen(false);

    rig.w.T_Batt_Timer();
    QVERIFY(!poll->isActive());
    QVERIFY(rig.button(QStringLiteral("Btn_Start"))->isEnabled());
    QVERIFY(!rig.button(QStringLiteral("Btn_Stop"))->isEnabled());
    QCOMPARE(poll->property("Tag").toString(), QStringLiteral("0"));
    QVERIFY(rig.dialogs->shown.isEmpty());

    QVERIFY(rig.w.Open_Serial(1));
    const QByteArray sentinel = rig.sendSentinel();
    QCOMPARE(rig.peer.read(sentinel.size()), sentinel);
}

void tst_Frm_Main::pollRunsOnItsTimer()
{
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    rig.button(QStringLiteral("Btn_Start"))->click();
    QCOMPARE(rig.peer.read(6, 5000), QByteArray("gbvgav"));
}

void tst_Frm_Main::repliesAreShown_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QVariantMap>("shown"); // label -> text, or whisker -> colour value

    const QString c = QStringLiteral("C");
    const QVariantMap noAnalogue{{"Lbl_Analogue(0)", ""}, {"Lbl_Analogue(1)", ""}, {"Lbl_Analogue(2)", ""},
                                 {"Lbl_Analogue(3)", ""}};
    auto with = [](QVariantMap map, const QVariantMap &more) {
        map.insert(more);
        return map;
    };

    QTest::newRow("batteries") << c << QList<QByteArray>{QByteArray::fromHex("6762764849")}
                               << QVariantMap{{"Lbl_Batt(0)", "7.2"}, {"Lbl_Batt(1)", "7.3"}};
    QTest::newRow("batteries whole and zero") << c << QList<QByteArray>{QByteArray::fromHex("6762764600")}
                                              << QVariantMap{{"Lbl_Batt(0)", "7"}, {"Lbl_Batt(1)", "0"}};
    QTest::newRow("batteries top and tenths") << c << QList<QByteArray>{QByteArray::fromHex("676276ff03")}
                                              << QVariantMap{{"Lbl_Batt(0)", "25.5"}, {"Lbl_Batt(1)", "0.3"}};
    QTest::newRow("batteries regional") << "fr_FR" << QList<QByteArray>{QByteArray::fromHex("6762764849")}
                                        << QVariantMap{{"Lbl_Batt(0)", "7,2"}, {"Lbl_Batt(1)", "7,3"}};
    QTest::newRow("batteries in two pieces")
        << c << QList<QByteArray>{QByteArray::fromHex("6762"), QByteArray::fromHex("764849")}
        << QVariantMap{{"Lbl_Batt(0)", "7.2"}, {"Lbl_Batt(1)", "7.3"}};
    QTest::newRow("analogue 4 only") << c << QList<QByteArray>{QByteArray::fromHex("6761760403ff")}
                                     << with(noAnalogue, {{"Lbl_Analogue(3)", "1023"}});
    QTest::newRow("analogue 2") << c << QList<QByteArray>{QByteArray::fromHex("67617602" "01f4")}
                                << with(noAnalogue, {{"Lbl_Analogue(1)", "500"}});
    QTest::newRow("analogue unsigned") << c << QList<QByteArray>{QByteArray::fromHex("67617601" "ffff")}
                                       << with(noAnalogue, {{"Lbl_Analogue(0)", "65535"}});
    QTest::newRow("analogue channels 0 and 5 change nothing")
        << c << QList<QByteArray>{QByteArray::fromHex("676176000102" "676176050102" "6762764849")}
        << with(noAnalogue, {{"Lbl_Batt(0)", "7.2"}});
    QTest::newRow("whiskers all closed") << c << QList<QByteArray>{QByteArray::fromHex("6777730f")}
                                         << QVariantMap{{"Lbl_Whisker(0)", Colours::Green},
                                                        {"Lbl_Whisker(1)", Colours::Green},
                                                        {"Lbl_Whisker(2)", Colours::Green},
                                                        {"Lbl_Whisker(3)", Colours::Green}};
    QTest::newRow("whiskers high bits ignored") << c << QList<QByteArray>{QByteArray::fromHex("677773f0")}
                                                << QVariantMap{{"Lbl_Whisker(0)", Colours::Black},
                                                               {"Lbl_Whisker(1)", Colours::Black},
                                                               {"Lbl_Whisker(2)", Colours::Black},
                                                               {"Lbl_Whisker(3)", Colours::Black}};
    QTest::newRow("whiskers 1 and 3") << c << QList<QByteArray>{QByteArray::fromHex("67777305")}
                                      << QVariantMap{{"Lbl_Whisker(0)", Colours::Green},
                                                     {"Lbl_Whisker(1)", Colours::Black},
                                                     {"Lbl_Whisker(2)", Colours::Green},
                                                     {"Lbl_Whisker(3)", Colours::Black}};
    QTest::newRow("back to back after garbage")
        << c << QList<QByteArray>{QByteArray::fromHex("00ff" "6762764849" "6761760300" "07" "67777302")}
        << with(noAnalogue, {{"Lbl_Batt(1)", "7.3"}, {"Lbl_Analogue(2)", "7"}, {"Lbl_Whisker(1)", Colours::Green}});
}

void tst_Frm_Main::repliesAreShown()
{
    QFETCH(QString, locale);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QVariantMap, shown);

    QLocale::setDefault(QLocale(locale));
    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    for (const QByteArray &piece : pieces) {
        QVERIFY(rig.peer.write(piece));
        QTRY_COMPARE(rig.w.com().InBufferCount(), 0);
    }
    // Labels with something to show are waited for; those that must stay empty are read after.
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        QLabel *label = rig.label(it.key());
        if (it.key().startsWith(QStringLiteral("Lbl_Whisker")))
            QTRY_COMPARE(Colours::background(label), it.value().toInt());
        else if (!it.value().toString().isEmpty())
            QTRY_COMPARE(label->text(), it.value().toString());
    }
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
        if (!it.key().startsWith(QStringLiteral("Lbl_Whisker")) && it.value().toString().isEmpty())
            QCOMPARE(rig.label(it.key())->text(), QString());
}

void tst_Frm_Main::userGuideMissingSaysSo()
{
    Rig rig;
    child<QAction>(rig.w, QStringLiteral("mnu_manual"))->trigger();
    QCOMPARE(rig.dialogs->shown.size(), 1);
    QCOMPARE(rig.dialogs->shown.first().text, QStringLiteral("Unable to load help file"));
    QCOMPARE(rig.dialogs->shown.first().title, QStringLiteral("ORVIK"));
    QCOMPARE(rig.dialogs->shown.first().icon, QMessageBox::Information);
}

namespace {
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

void tst_Frm_Main::quitUnloadsEveryWindowInOrder()
{
    Rig rig;
    rig.w.show();
    // Opened in another order than they are unloaded in.
    child<QAction>(rig.w, QStringLiteral("mnu_serial_setup"))->trigger();
    child<QAction>(rig.w, QStringLiteral("mnu_single_cmd"))->trigger();
    child<QAction>(rig.w, QStringLiteral("mnu_serial_setup"))->trigger();
    QWidget *setup = child<QWidget>(rig.w, QStringLiteral("Frm_Setup"));
    QWidget *single = child<QWidget>(rig.w, QStringLiteral("Frm_Single_Servo"));
    QVERIFY(setup && single && setup->isVisible() && single->isVisible());
    QCOMPARE(rig.w.findChildren<QWidget *>(QStringLiteral("Frm_Setup")).size(), 1);

    CloseRecorder recorder;
    for (QWidget *window : {setup, single, static_cast<QWidget *>(&rig.w)})
        window->installEventFilter(&recorder);
    QPointer<QWidget> setupAlive = setup;
    QPointer<QWidget> singleAlive = single;

    child<QAction>(rig.w, QStringLiteral("mnu_quit"))->trigger();
    QCOMPARE(recorder.closed, (QStringList{"Frm_Single_Servo", "Frm_Setup", "Frm_Main"}));
    QVERIFY(!rig.w.isVisible());
    QTRY_VERIFY(!setupAlive && !singleAlive);
    QVERIFY(rig.dialogs->shown.isEmpty());
}

QTEST_MAIN(tst_Frm_Main)
#include "tst_frm_main.moc"
