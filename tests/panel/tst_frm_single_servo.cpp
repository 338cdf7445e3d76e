#include "panel/Frm_Main.h"
#include "panel/Frm_Single_Servo.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

class TestFrmSingleServo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loads_withServoListCaptionsAndZeroes();
    void layout_readsTopToBottom();
    void send_writesMssFrame_data();
    void send_writesMssFrame();
    void typedNumber_isNotAddedToList();
    void emptyTexts_showPlainMessage_data();
    void emptyTexts_showPlainMessage();
    void closedPort_sendsAndShowsNothing_data();
    void closedPort_sendsAndShowsNothing();
    void refusedText_namesFieldAndSendsNothing_data();
    void refusedText_namesFieldAndSendsNothing();

private:
    template <class T>
    T *control(const char *name)
    {
        T *found = m_window->findChild<T *>(QLatin1StringView(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    void type(QLineEdit *edit, const QString &text);
    void send(const QString &system, const QString &position, const QString &speed);
    // Shows that an earlier action sent nothing: a good command must be the first bytes out.
    bool nextFrameIsKnownGood();

    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<Frm_Main> m_main;
    ScriptedDialogs *m_dialogs = nullptr;
    Frm_Single_Servo *m_window = nullptr;
};

namespace {

const QByteArray KnownGood = QByteArray::fromHex("6d7373122d00"); // 18 - Right eyebrow, 45, 0

} // namespace

void TestFrmSingleServo::initTestCase()
{
    // A comma as decimal separator shows that the operator's regional format is the one read.
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
}

void TestFrmSingleServo::init()
{
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(m_peer->isValid());
    qputenv("ORVIK_COM1", m_peer->device().toLocal8Bit());
    m_main = std::make_unique<Frm_Main>();
    m_dialogs = ScriptedDialogs::install(*m_main);
    QVERIFY(m_main->Open_Serial(1));
    m_main->mnu_single_cmd_Click();
    m_window = m_main->findChild<Frm_Single_Servo *>();
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void TestFrmSingleServo::cleanup()
{
    m_main.reset();
    m_peer.reset();
}

void TestFrmSingleServo::type(QLineEdit *edit, const QString &text)
{
    // With the focus, as the operator types: the box's completion only acts then.
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->clear();
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);
}

void TestFrmSingleServo::send(const QString &system, const QString &position, const QString &speed)
{
    auto *list = control<QComboBox>("Cmb_System");
    const int index = list->findText(system, Qt::MatchExactly);
    if (index >= 0)
        list->setCurrentIndex(index);
    else
        type(list->lineEdit(), system);
    QCOMPARE(list->currentText(), system);
    type(control<QLineEdit>("Txt_Position"), position);
    type(control<QLineEdit>("Txt_Speed"), speed);
    QTest::mouseClick(control<QPushButton>("Btn_Send_Cmd"), Qt::LeftButton);
}

bool TestFrmSingleServo::nextFrameIsKnownGood()
{
    send(QStringLiteral("18 - Right eyebrow"), QStringLiteral("45"), QStringLiteral("0"));
    return m_peer->read(KnownGood.size()) == KnownGood;
}

void TestFrmSingleServo::loads_withServoListCaptionsAndZeroes()
{
    const QStringList expected{
        "18 - Right eyebrow",     "20 - Left eyebrow",       "17 - Right eye yaw",    "16 - Left eye yaw",
        "15 - Eyes Pitch",        "11 - Right Mouth Up",     "14 - Right Mouth Bottom", "13 - Left Mouth Up",
        "12 - Left Mouth Bottom", "1 - Right Elbow",         "2 - Right Shoulder Yaw", "3 - Right Shoulder Pitch",
        "6 - Left Elbow",         "7 - Left Shoulder Yaw",   "4 - Left Shoulder Pitch", "9 - Neck Pitch",
        "8 - Neck Yaw"};
    auto *list = control<QComboBox>("Cmb_System");
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    QCOMPARE(items, expected);
    QVERIFY(list->isEditable());
    QCOMPARE(list->currentText(), QString());

    QCOMPARE(m_window->windowTitle(), QStringLiteral("Single Servo"));
    QCOMPARE(control<QLabel>("Label1")->text(), QStringLiteral("Select a system to move"));
    QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("Position in degrees (ex : 45) :"));
    QCOMPARE(control<QLabel>("Label3")->text(), QStringLiteral("Speed [0 to 255] (0 = max) :"));
    QCOMPARE(control<QPushButton>("Btn_Send_Cmd")->text(), QStringLiteral("SEND"));
    QCOMPARE(control<QLineEdit>("Txt_Position")->text(), QStringLiteral("0"));
    QCOMPARE(control<QLineEdit>("Txt_Speed")->text(), QStringLiteral("0"));
}

void TestFrmSingleServo::layout_readsTopToBottom()
{
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto frame = [this](const char *name) { return control<QWidget>(name)->geometry(); };
    const QRect label1 = frame("Label1"), list = frame("Cmb_System"), label2 = frame("Label2"),
                position = frame("Txt_Position"), label3 = frame("Label3"), speed = frame("Txt_Speed"),
                sendButton = frame("Btn_Send_Cmd");

    QVERIFY(label1.bottom() <= list.top());
    QVERIFY(list.width() > m_window->width() * 3 / 4);
    QVERIFY(list.bottom() <= qMin(label2.top(), position.top()));
    QVERIFY(label2.right() < position.left());
    QVERIFY(position.top() <= label2.center().y() && label2.center().y() <= position.bottom());
    QVERIFY(position.bottom() <= speed.top());
    QVERIFY(label3.right() < speed.left());
    QVERIFY(speed.top() <= label3.center().y() && label3.center().y() <= speed.bottom());
    QVERIFY(speed.bottom() <= sendButton.top());
    QVERIFY(sendButton.right() >= list.right() - 1);
}

void TestFrmSingleServo::send_writesMssFrame_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("first entry") << "18 - Right eyebrow" << "45" << "0" << QByteArray::fromHex("6d7373122d00");
    QTest::newRow("last entry") << "8 - Neck Yaw" << "90" << "5" << QByteArray::fromHex("6d7373085a05");
    QTest::newRow("second entry") << "20 - Left eyebrow" << "30" << "255" << QByteArray::fromHex("6d7373141eff");
    QTest::newRow("typed number") << "5" << "120" << "10" << QByteArray::fromHex("6d737305780a");
    QTest::newRow("typed start of an entry") << "1" << "45" << "0" << QByteArray::fromHex("6d7373012d00");
    QTest::newRow("typed number and name") << "19 - Spare" << "0" << "0" << QByteArray::fromHex("6d7373130000");
    QTest::newRow("typed blanks") << " 5 " << " 45 " << "  7" << QByteArray::fromHex("6d7373052d07");
    QTest::newRow("half down to even") << "9 - Neck Pitch" << "44,5" << "2,5" << QByteArray::fromHex("6d7373092c02");
    QTest::newRow("half up to even") << "9 - Neck Pitch" << "45,5" << "3,5" << QByteArray::fromHex("6d7373092e04");
    QTest::newRow("fraction to nearest") << "3,4 - Odd" << "0,49" << "254,6" << QByteArray::fromHex("6d73730300ff");
    QTest::newRow("g and zero bytes") << "0" << "103" << "0" << QByteArray::fromHex("6d7373006700");
}

void TestFrmSingleServo::send_writesMssFrame()
{
    QFETCH(QString, system);
    QFETCH(QString, position);
    QFETCH(QString, speed);
    QFETCH(QByteArray, frame);

    send(system, position, speed);
    QVERIFY(m_dialogs->shown.isEmpty());
    QVERIFY(m_window->isVisible());
    // The good command that follows shows where this frame ends.
    send(QStringLiteral("18 - Right eyebrow"), QStringLiteral("45"), QStringLiteral("0"));
    const QByteArray expected = frame + KnownGood;
    QCOMPARE(m_peer->read(expected.size()).toHex(' '), expected.toHex(' '));
}

void TestFrmSingleServo::typedNumber_isNotAddedToList()
{
    auto *list = control<QComboBox>("Cmb_System");
    type(list->lineEdit(), QStringLiteral("5"));
    QTest::keyClick(list->lineEdit(), Qt::Key_Return);
    QCOMPARE(list->count(), 17);
    QCOMPARE(list->findText(QStringLiteral("5")), -1);
    QCOMPARE(list->currentText(), QStringLiteral("5"));
}

void TestFrmSingleServo::emptyTexts_showPlainMessage_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("message");

    const QString noSystem = QStringLiteral("Select a system first !");
    const QString noValue = QStringLiteral("Enter valid position and speed");
    QTest::newRow("no system") << "" << "45" << "0" << true << noSystem;
    QTest::newRow("no system, no values") << "" << "" << "" << true << noSystem;
    QTest::newRow("no system, bad values") << "" << "abc" << "-1" << true << noSystem;
    QTest::newRow("no position") << "18 - Right eyebrow" << "" << "0" << true << noValue;
    QTest::newRow("no speed") << "8 - Neck Yaw" << "45" << "" << true << noValue;
    QTest::newRow("no values, bad servo") << "abc" << "" << "" << true << noValue;
    // The empty texts are looked at before the port.
    QTest::newRow("no system, port closed") << "" << "45" << "0" << false << noSystem;
    QTest::newRow("no speed, port closed") << "5" << "45" << "" << false << noValue;
}

void TestFrmSingleServo::emptyTexts_showPlainMessage()
{
    QFETCH(QString, system);
    QFETCH(QString, position);
    QFETCH(QString, speed);
    QFETCH(bool, portOpen);
    QFETCH(QString, message);

    if (!portOpen)
        m_main->com().setPortOpen(false);
    send(system, position, speed);

    QCOMPARE(m_dialogs->shown.size(), 1);
    const Dialogs::Message shown = m_dialogs->shown.first();
    QCOMPARE(shown.text, message);
    QCOMPARE(shown.title, QStringLiteral("Orvik Serial Interface"));
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    if (!portOpen)
        QVERIFY(m_main->Open_Serial(1));
    QVERIFY(nextFrameIsKnownGood());
}

void TestFrmSingleServo::closedPort_sendsAndShowsNothing_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("speed");

    QTest::newRow("good command") << "18 - Right eyebrow" << "45" << "0";
    QTest::newRow("servo not a number") << "abc" << "45" << "0";
    QTest::newRow("position too large") << "8 - Neck Yaw" << "256" << "0";
    QTest::newRow("speed negative") << "8 - Neck Yaw" << "45" << "-1";
}

void TestFrmSingleServo::closedPort_sendsAndShowsNothing()
{
    QFETCH(QString, system);
    QFETCH(QString, position);
    QFETCH(QString, speed);

    m_main->com().setPortOpen(false);
    send(system, position, speed);
    QVERIFY(m_dialogs->shown.isEmpty());

    QVERIFY(m_main->Open_Serial(1));
    QVERIFY(nextFrameIsKnownGood());
}

void TestFrmSingleServo::refusedText_namesFieldAndSendsNothing_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("message");

    const auto refused = [](const char *field, const char *text) {
        return QStringLiteral("The %1 \"%2\" is not a number from 0 to 255. Nothing was sent.")
            .arg(QLatin1StringView(field), QString::fromUtf8(text));
    };
    QTest::newRow("servo letters") << "abc" << "45" << "0" << refused("servo number", "abc");
    QTest::newRow("servo before separator") << "x1 - Neck" << "45" << "0" << refused("servo number", "x1");
    QTest::newRow("servo blank") << " " << "45" << "0" << refused("servo number", " ");
    QTest::newRow("servo too large") << "300 - Big" << "45" << "0" << refused("servo number", "300");
    QTest::newRow("servo first of three") << "abc" << "256" << "-1" << refused("servo number", "abc");
    QTest::newRow("position too large") << "8 - Neck Yaw" << "256" << "0" << refused("position", "256");
    QTest::newRow("position half above") << "8 - Neck Yaw" << "255,5" << "0" << refused("position", "255,5");
    QTest::newRow("position letters") << "8 - Neck Yaw" << "abc" << "0" << refused("position", "abc");
    QTest::newRow("position before speed") << "8 - Neck Yaw" << "1e3" << "x" << refused("position", "1e3");
    QTest::newRow("speed negative") << "8 - Neck Yaw" << "45" << "-1" << refused("speed", "-1");
    QTest::newRow("speed letters") << "8 - Neck Yaw" << "45" << "fast" << refused("speed", "fast");
}

void TestFrmSingleServo::refusedText_namesFieldAndSendsNothing()
{
    QFETCH(QString, system);
    QFETCH(QString, position);
    QFETCH(QString, speed);
    QFETCH(QString, message);

    send(system, position, speed);
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown.first().text, message);
    QCOMPARE(m_dialogs->shown.first().icon, QMessageBox::NoIcon);
    QCOMPARE(m_dialogs->shown.first().title, QStringLiteral("Orvik Serial Interface"));

    // The refused command leaves what the operator typed for correction.
    QCOMPARE(control<QComboBox>("Cmb_System")->currentText(), system);
    QCOMPARE(control<QLineEdit>("Txt_Position")->text(), position);
    QCOMPARE(control<QLineEdit>("Txt_Speed")->text(), speed);
    QVERIFY(nextFrameIsKnownGood());
}

QTEST_MAIN(TestFrmSingleServo)
#include "tst_frm_single_servo.moc"
