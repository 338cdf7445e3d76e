#include "panel/Frm_Main.h"
#include "panel/Frm_Single_Servo.h"
#include "scripts/Frm_Script_Editor.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

// The main window on a pseudo-terminal, and its script editor with a new script.
struct Rig
{
    PtyPeer peer;
    Frm_Main w;
    ScriptedDialogs *dialogs = nullptr;
    Frm_Script_Editor *editor = nullptr;

    Rig()
    {
        qputenv("ORVIK_COM1", peer.device().toLocal8Bit());
        dialogs = ScriptedDialogs::install(w);
    }
    template <class T>
    T *get(QObject &in, const QString &name) { return in.findChild<T *>(name); }
    void openEditor()
    {
        w.mnu_script_editor_Click();
        editor = w.findChild<Frm_Script_Editor *>();
        get<QPushButton>(*editor, QStringLiteral("Btn_New_List"))->click();
        dialogs->shown.clear(); // the new script's question
    }
    QPushButton *fromPanel() { return get<QPushButton>(*editor, QStringLiteral("Btn_From_Panel")); }
    void choose(int kind)
    {
        auto *box = get<QComboBox>(*editor, QStringLiteral("Cmb_action"));
        box->setCurrentIndex(kind);
        emit box->activated(kind);
    }
    QString fields(int count)
    {
        QStringList texts;
        for (int i = 0; i < count; ++i)
            texts << get<QLineEdit>(*editor, indexed("Txt_Action", i))->text();
        return texts.join(u' ');
    }
};

// The frame's data bytes as the editor's fields show them.
QString asFields(const QByteArray &frame)
{
    QStringList values;
    for (char byte : frame.mid(3))
        values << QString::number(quint8(byte));
    return values.join(u' ');
}

} // namespace

class tst_Pose_Capture : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void bodyPartTakesWhatSendSends_data();
    void bodyPartTakesWhatSendSends();
    void singleServoTakesItsWindowsBoxes_data();
    void singleServoTakesItsWindowsBoxes();
    void refusedSpeedFillsNothingAndSaysWhy();
};

void tst_Pose_Capture::bodyPartTakesWhatSendSends_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("send");
    QTest::addColumn<QVariantMap>("sliders"); // element -> value; each speed is element + 1
    QTest::addColumn<bool>("viaMenu");

    QTest::newRow("eyebrows") << 0 << "Btn_Send_Eyebrows" << QVariantMap{{"0", 11}, {"1", 59}} << false;
    QTest::newRow("left arm") << 1 << "Btn_Send_Left_Arm" << QVariantMap{{"7", 10}, {"8", 170}, {"9", 80}} << false;
    QTest::newRow("right arm") << 2 << "Btn_Send_Right_Arm" << QVariantMap{{"10", 20}, {"11", 160}, {"12", 70}}
                               << false;
    QTest::newRow("eyes") << 3 << "Btn_Send_Eyes" << QVariantMap{{"2", 30}, {"3", 60}, {"4", 25}} << false;
    QTest::newRow("mouth") << 4 << "Btn_Send_Mouth" << QVariantMap{{"13", 21}, {"14", 22}, {"15", 23}, {"16", 24}}
                           << true;
    QTest::newRow("neck") << 5 << "Btn_Send_Neck" << QVariantMap{{"5", 100}, {"6", 70}} << true;
}

void tst_Pose_Capture::bodyPartTakesWhatSendSends()
{
    QFETCH(int, kind);
    QFETCH(QString, send);
    QFETCH(QVariantMap, sliders);
    QFETCH(bool, viaMenu);

    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    for (auto it = sliders.cbegin(); it != sliders.cend(); ++it) {
        const int i = it.key().toInt();
        rig.get<QSlider>(rig.w, indexed("Slide", i))->setValue(it.value().toInt());
        rig.get<QLineEdit>(rig.w, indexed("Txt_Speed", i))->setText(QString::number(i + 1));
    }
    rig.get<QPushButton>(rig.w, send)->click();
    const QByteArray frame = rig.peer.read(3 + 2 * int(sliders.size()));

    rig.openEditor();
    rig.choose(kind);
    QVERIFY(rig.fromPanel()->isEnabled());
    if (viaMenu)
        rig.get<QAction>(*rig.editor, QStringLiteral("mnu_script_from_panel"))->trigger();
    else
        rig.fromPanel()->click();
    QCOMPARE(rig.fields(frame.size() - 3), asFields(frame));
    QVERIFY(rig.dialogs->shown.isEmpty());
    QVERIFY(rig.peer.drain(100).isEmpty()); // taking the pose sends nothing
}

void tst_Pose_Capture::singleServoTakesItsWindowsBoxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("windowOpen");
    QTest::addColumn<QStringList>("boxes"); // servo, position, speed
    QTest::addColumn<bool>("enabled");

    QTest::newRow("listed servo") << 6 << true << QStringList{"8 - Neck Yaw", "100", "7"} << true;
    QTest::newRow("typed number, rounded") << 6 << true << QStringList{"5", "44.5", "0"} << true;
    QTest::newRow("window closed") << 6 << false << QStringList{} << false;
    QTest::newRow("position not a byte") << 6 << true << QStringList{"8 - Neck Yaw", "300", "0"} << false;
    QTest::newRow("no servo") << 6 << true << QStringList{"", "10", "0"} << false;
    QTest::newRow("end: no pose") << 7 << true << QStringList{"8 - Neck Yaw", "100", "7"} << false;
    QTest::newRow("wait: no pose") << 8 << true << QStringList{"8 - Neck Yaw", "100", "7"} << false;
}

void tst_Pose_Capture::singleServoTakesItsWindowsBoxes()
{
    QFETCH(int, kind);
    QFETCH(bool, windowOpen);
    QFETCH(QStringList, boxes);
    QFETCH(bool, enabled);

    Rig rig;
    QVERIFY(rig.w.Open_Serial(1));
    QByteArray frame;
    if (windowOpen) {
        rig.w.mnu_single_cmd_Click();
        auto *single = rig.w.findChild<Frm_Single_Servo *>();
        rig.get<QComboBox>(*single, QStringLiteral("Cmb_System"))->setCurrentText(boxes[0]);
        rig.get<QLineEdit>(*single, QStringLiteral("Txt_Position"))->setText(boxes[1]);
        rig.get<QLineEdit>(*single, QStringLiteral("Txt_Speed"))->setText(boxes[2]);
        if (enabled) {
            rig.get<QPushButton>(*single, QStringLiteral("Btn_Send_Cmd"))->click();
            frame = rig.peer.read(6);
        }
    }
    rig.openEditor();
    rig.choose(kind);
    QCOMPARE(rig.fromPanel()->isEnabled(), enabled);
    const QString before = rig.fields(3);
    rig.get<QAction>(*rig.editor, QStringLiteral("mnu_script_from_panel"))->trigger();
    QCOMPARE(rig.fields(3), enabled ? asFields(frame) : before);
    QVERIFY(rig.dialogs->shown.isEmpty());
}

void tst_Pose_Capture::refusedSpeedFillsNothingAndSaysWhy()
{
    Rig rig;
    rig.get<QLineEdit>(rig.w, QStringLiteral("Txt_Speed(5)"))->setText(QStringLiteral("fast"));
    rig.openEditor();
    rig.choose(5);
    QVERIFY(rig.fromPanel()->isEnabled());
    rig.fromPanel()->click();
    QCOMPARE(rig.dialogs->shown.size(), 1);
    QCOMPARE(rig.dialogs->shown.first().text,
             QStringLiteral("NECK, Yaw: the speed \"fast\" is not a number from 0 to 255. Nothing was filled in."));
    QCOMPARE(rig.fields(4), QStringLiteral("   "));
}

QTEST_MAIN(tst_Pose_Capture)
#include "tst_pose_capture.moc"
