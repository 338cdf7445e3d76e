#include "ui/Colours.h"
#include "panel/Frm_Main.h"
#include "settings/Frm_Setup.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using Prepare = std::function<void(Frm_Setup &)>;
Q_DECLARE_METATYPE(Prepare)

namespace {

const QStringList Boxes{"Cmb_Port", "Cmb_Baud", "Cmb_Data", "Cmb_Parity", "Cmb_Stop"};

QStringList shownTexts(Frm_Setup &setup)
{
    QStringList texts;
    for (const QString &name : Boxes)
        texts << setup.findChild<QComboBox *>(name)->currentText();
    return texts;
}

// As the operator does from the box's list, which Qt reports as an activation.
void pick(Frm_Setup &setup, const QString &name, const QString &item)
{
    auto *box = setup.findChild<QComboBox *>(name);
    box->setCurrentIndex(box->findText(item));
    emit box->activated(box->currentIndex());
}

// The main window at start-up, COM1 closed at 9600,n,8,1; openSetup() returns once activation has run.
struct Rig
{
    Frm_Main w;
    ScriptedDialogs *dialogs = ScriptedDialogs::install(w);

    Frm_Setup *openSetup()
    {
        w.mnu_serial_setup_Click();
        auto *setup = w.findChild<Frm_Setup *>();
        if (!setup || !QTest::qWaitForWindowActive(setup))
            qFatal("the settings window did not open");
        return setup;
    }
};

} // namespace

class TestFrmSetup : public QObject
{
    Q_OBJECT

    // COM1 to COM3 lead to these far ends; COM4 to a device that does not exist.
    PtyPeer m_peers[3];

private slots:
    void initTestCase()
    {
        for (int i = 0; i < 3; ++i)
            qputenv(qPrintable(QStringLiteral("ORVIK_COM%1").arg(i + 1)), m_peers[i].device().toLocal8Bit());
        qputenv("ORVIK_COM4", "/nonexistent/tty");
    }

    void creation_showsCaptionsItemsAndFirstTexts()
    {
        Frm_Main w;
        Frm_Setup setup(w.com(), w.dialogs(), [](int, const QString &) { return Open_Result::Opened; });
        QCOMPARE(shownTexts(setup), QStringList({"COM1", "9600", "8 bits", "none", "1 bit"}));
        const QList<QStringList> items{
            {"COM1", "COM2", "COM3", "COM4"},
            {"600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"},
            {"7 bits", "8 bits"}, {"none", "even", "odd"}, {"1 bit", "2 bits"}};
        for (int i = 0; i < Boxes.size(); ++i) {
            const auto *box = setup.findChild<QComboBox *>(Boxes[i]);
            QStringList listed;
            for (int k = 0; k < box->count(); ++k)
                listed << box->itemText(k);
            QCOMPARE(listed, items[i]);
        }

        QCOMPARE(setup.windowTitle(), "Serial Settings");
        QStringList captions;
        for (int row = 1; row <= 6; ++row)
            captions << setup.findChild<QLabel *>(QStringLiteral("Label%1").arg(row))->text();
        QCOMPARE(captions, QStringList({"PORT :", "BAUD RATE :", "DATA :", "PARITY :", "STOP :", "STATUS :"}));
        for (const auto &[name, text] : {std::pair{"Btn_Ok_Setup", "APPLY"}, std::pair{"Btn_Close_Port", "CLOSE"},
                                         std::pair{"btn_Cancel_setup", "CANCEL"}})
            QCOMPARE(setup.findChild<QPushButton *>(name)->text(), text);
    }

    void apply_opensThePortWithWhatActivationAndTheOperatorSet_data()
    {
        QTest::addColumn<int>("openPort"); // 0: the port is still closed, as at start-up
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");

        QTest::newRow("COM2 open, as activated") << 2 << Prepare([](Frm_Setup &) {})
            << QStringList{"COM2", "57600", "8 bits", "none", "1 bit"} << 2 << "57600,n,8,1";
        QTest::newRow("no value texts: defaults") << 0 << Prepare([](Frm_Setup &s) {
            for (const QString &name : Boxes)
                s.findChild<QComboBox *>(name)->setProperty("Tag", QString());
        }) << QStringList{"COM1", "57600", "8 bits", "Aucune", "1 bit"} << 1 << "57600,n,8,1";
        QTest::newRow("picked even, 2 bits, 7 bits, COM3") << 0 << Prepare([](Frm_Setup &s) {
            pick(s, "Cmb_Parity", "even");
            pick(s, "Cmb_Stop", "2 bits");
            pick(s, "Cmb_Data", "7 bits");
            pick(s, "Cmb_Port", "COM3");
        }) << QStringList{"COM3", "9600", "7 bits", "even", "2 bits"} << 3 << "9600,e,7,2";
        QTest::newRow("typed 4800 without picking") << 0 << Prepare([](Frm_Setup &s) {
            QLineEdit *edit = s.findChild<QComboBox *>("Cmb_Baud")->lineEdit();
            edit->selectAll();
            QTest::keyClicks(edit, "4800");
            QTest::keyClick(edit, Qt::Key_Return);
        }) << QStringList{"COM1", "4800", "8 bits", "none", "1 bit"} << 1 << "9600,n,8,1";
        QTest::newRow("loaded with blanks after the commas: kept, not shown") << 0 << Prepare([](Frm_Setup &s) {
            s.loadPortState("19200, o, 7, 2", 3, false);
        }) << QStringList{"COM3", "19200", "8 bits", "none", "1 bit"} << 3 << "19200,o,7,2";
    }

    void apply_opensThePortWithWhatActivationAndTheOperatorSet()
    {
        QFETCH(int, openPort);
        QFETCH(Prepare, prepare);
        QFETCH(QStringList, shown);
        QFETCH(int, port);
        QFETCH(QString, settings);

        Rig rig;
        if (openPort)
            QVERIFY(rig.w.Open_Serial(openPort, "57600,n,8,1"));
        QPointer<Frm_Setup> setup = rig.openSetup();
        QCOMPARE(Colours::background(setup->findChild<QLabel *>("Lbl_Status")),
                 openPort ? Colours::Green : Colours::Red);
        prepare(*setup);
        setup->findChild<QPushButton *>("Btn_Ok_Setup")->click();
        QCOMPARE(shownTexts(*setup), shown);
        QCOMPARE(rig.w.com().CommPort(), port);
        QCOMPARE(rig.w.com().Settings(), settings);
        QTRY_VERIFY(setup.isNull());
    }

    void close_stopsThePoll_thenSaysAlreadyClosed()
    {
        Rig rig;
        QVERIFY(rig.w.Open_Serial(1));
        auto *start = rig.w.findChild<QPushButton *>("Btn_Start");
        auto *poll = rig.w.findChild<QTimer *>("T_Batt");
        start->click();
        QVERIFY(poll->isActive());
        Frm_Setup *setup = rig.openSetup();

        setup->findChild<QPushButton *>("Btn_Close_Port")->click();
        QCOMPARE(Colours::background(setup->findChild<QLabel *>("Lbl_Status")), Colours::Red);
        m_peers[0].readAvailable(); // what the poll sent while the port was open
        rig.w.T_Batt_Timer();
        QVERIFY(!poll->isActive());
        QVERIFY(start->isEnabled());
        QVERIFY(!rig.w.findChild<QPushButton *>("Btn_Stop")->isEnabled());
        QCOMPARE(m_peers[0].readAvailable(), QByteArray());

        setup->findChild<QPushButton *>("Btn_Close_Port")->click();
        QCOMPARE(rig.dialogs->shown.size(), 1);
        QCOMPARE(rig.dialogs->shown[0].text, "Serial Port already closed...");
        QCOMPARE(rig.dialogs->shown[0].title, "Orvik Serial Interface");
        QCOMPARE(rig.dialogs->shown[0].icon, QMessageBox::Information);
    }

    void serialSetup_twice_oneWindow_keptByAFailedApply_unloadedByCancel()
    {
        Rig rig;
        rig.w.mnu_serial_setup_Click();
        QPointer<Frm_Setup> setup = rig.openSetup();
        QCOMPARE(rig.w.findChildren<Frm_Setup *>().size(), 1);

        pick(*setup, "Cmb_Port", "COM4");
        setup->findChild<QPushButton *>("Btn_Ok_Setup")->click();
        QVERIFY(setup->isVisible());

        setup->findChild<QPushButton *>("btn_Cancel_setup")->click();
        QTRY_VERIFY(setup.isNull());
    }
};

QTEST_MAIN(TestFrmSetup)
#include "tst_frm_setup.moc"
