#include "panel/Colours.h"
#include "panel/Frm_Main.h"
#include "settings/Frm_Setup.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
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

// In the order the texts of a window are compared below.
const QStringList Boxes{"Cmb_Port", "Cmb_Baud", "Cmb_Data", "Cmb_Parity", "Cmb_Stop"};

QComboBox *box(Frm_Setup &setup, const QString &name)
{
    return setup.findChild<QComboBox *>(name);
}

QStringList shownTexts(Frm_Setup &setup)
{
    QStringList texts;
    for (const QString &name : Boxes)
        texts << box(setup, name)->currentText();
    return texts;
}

QStringList valueTexts(Frm_Setup &setup)
{
    QStringList texts;
    for (const QString &name : Boxes)
        texts << box(setup, name)->property("Tag").toString();
    return texts;
}

int status(Frm_Setup &setup)
{
    return Colours::background(setup.findChild<QLabel *>("Lbl_Status"));
}

// The operator picks an item from the box's list.
void pick(Frm_Setup &setup, const QString &name, const QString &item)
{
    QComboBox *b = box(setup, name);
    const int i = b->findText(item);
    QVERIFY(i >= 0);
    b->setCurrentIndex(i);
    emit b->activated(i);
}

void click(Frm_Setup &setup, const QString &button)
{
    setup.findChild<QPushButton *>(button)->click();
}

// Opens the window from the menu, as the operator does, once its first activation has run.
Frm_Setup *openSetup(Frm_Main &main)
{
    main.mnu_serial_setup_Click();
    auto *setup = main.findChild<Frm_Setup *>();
    return setup && QTest::qWaitForWindowActive(setup) ? setup : nullptr;
}

} // namespace

class TestFrmSetup : public QObject
{
    Q_OBJECT

    // COM1 to COM3 lead to these far ends; COM4 to a device that does not exist.
    PtyPeer m_peers[3];

private slots:
    void initTestCase()
    {
        for (int i = 0; i < 3; ++i) {
            QVERIFY(m_peers[i].isValid());
            qputenv(qPrintable(QStringLiteral("ORVIK_COM%1").arg(i + 1)), m_peers[i].device().toLocal8Bit());
        }
        qputenv("ORVIK_COM4", "/nonexistent/tty");
    }

    void creation_showsItemsAndEmptyValueTexts()
    {
        Frm_Main w;
        Frm_Setup setup(w);
        QCOMPARE(setup.windowTitle(), "Serial Settings");
        const QList<QStringList> items{{"COM1", "COM2", "COM3", "COM4"},
                                       {"600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                                        "57600", "115200"},
                                       {"7 bits", "8 bits"},
                                       {"none", "even", "odd"},
                                       {"1 bit", "2 bits"}};
        for (int i = 0; i < Boxes.size(); ++i) {
            QComboBox *b = box(setup, Boxes[i]);
            QVERIFY(b->isEditable());
            QStringList texts;
            for (int k = 0; k < b->count(); ++k)
                texts << b->itemText(k);
            QCOMPARE(texts, items[i]);
        }
        QCOMPARE(shownTexts(setup), QStringList({"COM1", "9600", "8 bits", "none", "1 bit"}));
        QCOMPARE(valueTexts(setup), QStringList(5));
        QCOMPARE(setup.findChild<QLabel *>("Lbl_Status")->text(), "");
        QCOMPARE(status(setup), Colours::Red);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(box(setup, "Cmb_Port")->itemData(k, Qt::ToolTipRole).toString(),
                     k < 3 ? m_peers[k].device() : QStringLiteral("/nonexistent/tty"));
    }

    void layout_captionsLeftOfControls_buttonsInARow()
    {
        Frm_Main w;
        Frm_Setup *setup = openSetup(w);
        QVERIFY(setup);
        const QList<std::pair<QString, QString>> rows{{"PORT :", "Cmb_Port"},  {"BAUD RATE :", "Cmb_Baud"},
                                                      {"DATA :", "Cmb_Data"},  {"PARITY :", "Cmb_Parity"},
                                                      {"STOP :", "Cmb_Stop"},  {"STATUS :", "Lbl_Status"}};
        int top = -1;
        for (int row = 0; row < rows.size(); ++row) {
            auto *caption = setup->findChild<QLabel *>(QStringLiteral("Label%1").arg(row + 1));
            auto *control = setup->findChild<QWidget *>(rows[row].second);
            QCOMPARE(caption->text(), rows[row].first);
            QCOMPARE(caption->parentWidget()->objectName(), "Frame1");
            QVERIFY(caption->geometry().right() < control->geometry().left());
            QVERIFY(control->geometry().top() > top);
            QCOMPARE(control->width(), box(*setup, "Cmb_Port")->width());
            top = control->geometry().top();
        }
        const QList<std::pair<QString, QString>> buttons{
            {"APPLY", "Btn_Ok_Setup"}, {"CLOSE", "Btn_Close_Port"}, {"CANCEL", "btn_Cancel_setup"}};
        int left = -1;
        for (const auto &[text, name] : buttons) {
            auto *button = setup->findChild<QPushButton *>(name);
            QCOMPARE(button->text(), text);
            QCOMPARE(button->parentWidget()->objectName(), "Frame2");
            QVERIFY(button->geometry().left() > left);
            left = button->geometry().left();
        }
    }

    void activation_showsThePortAndApplyKeepsIt_data()
    {
        QTest::addColumn<int>("openPort"); // 0: the port is still closed, as at start-up
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("colour");
        QTest::addColumn<QString>("applied");

        QTest::newRow("closed, first settings") << 0 << QStringList{"COM1", "9600", "8 bits", "none", "1 bit"}
                                                << QStringList{"1", "9600", "8", "n", "1"} << Colours::Red
                                                << "9600,n,8,1";
        QTest::newRow("COM2 open") << 2 << QStringList{"COM2", "57600", "8 bits", "none", "1 bit"}
                                   << QStringList{"2", "57600", "8", "n", "1"} << Colours::Green << "57600,n,8,1";
    }

    void activation_showsThePortAndApplyKeepsIt()
    {
        QFETCH(int, openPort);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, values);
        QFETCH(int, colour);
        QFETCH(QString, applied);

        Frm_Main w;
        auto *dialogs = ScriptedDialogs::install(w);
        if (openPort)
            QVERIFY(w.Open_Serial(openPort, "57600,n,8,1"));
        Frm_Setup *setup = openSetup(w);
        QVERIFY(setup);
        QCOMPARE(shownTexts(*setup), shown);
        QCOMPARE(valueTexts(*setup), values);
        QCOMPARE(status(*setup), colour);

        click(*setup, "Btn_Ok_Setup");
        QVERIFY(dialogs->shown.isEmpty());
        QVERIFY(w.com().PortOpen());
        QCOMPARE(w.com().CommPort(), values[0].toShort());
        QCOMPARE(w.com().Settings(), applied);
    }

    void activation_everyTimeReloadsFromThePort()
    {
        Frm_Main w;
        Frm_Setup *setup = openSetup(w);
        QVERIFY(setup);
        pick(*setup, "Cmb_Parity", "even");
        w.show();
        w.activateWindow();
        // The main window counts as active while its settings window is, so wait for the switch.
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        setup->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), setup);
        QCOMPARE(box(*setup, "Cmb_Parity")->property("Tag").toString(), "n");
        QCOMPARE(box(*setup, "Cmb_Parity")->currentText(), "none");
    }

    void activation_parsesTheSettingsText_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("colour");

        // Loaded over "600,o,7,2" on an open COM4, so that what stays is told from what is set.
        const QStringList before{"COM4", "600", "7 bits", "odd", "2 bits"};
        const QStringList beforeValues{"4", "600", "7", "o", "2"};
        QTest::newRow("no blanks") << "115200,e,8,1" << 2 << QStringList{"COM2", "115200", "8 bits", "even", "1 bit"}
                                   << QStringList{"2", "115200", "8", "e", "1"} << Colours::Red;
        QTest::newRow("blanks after the commas")
            << "19200, e, 8, 1" << 3 << QStringList{"COM3", "19200", "7 bits", "odd", "2 bits"}
            << QStringList{"3", "19200", " 8", " e", " 1"} << Colours::Red;
        QTest::newRow("unknown letters, port 9") << "4800,m,5,3" << 9
                                                 << QStringList{"COM4", "4800", "7 bits", "odd", "2 bits"}
                                                 << QStringList{"9", "4800", "5", "m", "3"} << Colours::Red;
        QTest::newRow("three fields") << "9600,n,8" << 1 << before << beforeValues << Colours::Green;
        QTest::newRow("five fields") << "9600,n,8,1,1" << 1 << before << beforeValues << Colours::Green;
        QTest::newRow("empty") << "" << 1 << before << beforeValues << Colours::Green;
    }

    void activation_parsesTheSettingsText()
    {
        QFETCH(QString, settings);
        QFETCH(int, port);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, values);
        QFETCH(int, colour);

        Frm_Main w;
        Frm_Setup setup(w);
        setup.loadPortState("600,o,7,2", 4, true);
        setup.loadPortState(settings, port, false);
        QCOMPARE(shownTexts(setup), shown);
        QCOMPARE(valueTexts(setup), values);
        QCOMPARE(status(setup), colour);
    }

    void apply_opensThePortWithTheValueTexts_data()
    {
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("shown");

        // Each row starts from the window as activation left it: COM1 closed at 9600,n,8,1.
        QTest::newRow("no value texts: defaults") << Prepare([](Frm_Setup &s) {
            for (const QString &name : Boxes)
                box(s, name)->setProperty("Tag", QString());
        }) << 1 << "57600,n,8,1"
                                                  << QStringList{"COM1", "57600", "8 bits", "Aucune", "1 bit"};
        QTest::newRow("picked even, 2 bits, 7 bits, COM3") << Prepare([](Frm_Setup &s) {
            pick(s, "Cmb_Parity", "even");
            pick(s, "Cmb_Stop", "2 bits");
            pick(s, "Cmb_Data", "7 bits");
            pick(s, "Cmb_Port", "COM3");
        }) << 3 << "9600,e,7,2" << QStringList{"COM3", "9600", "7 bits", "even", "2 bits"};
        QTest::newRow("typed 4800 without picking") << Prepare([](Frm_Setup &s) {
            QLineEdit *edit = box(s, "Cmb_Baud")->lineEdit();
            edit->selectAll();
            QTest::keyClicks(edit, "4800");
            QTest::keyClick(edit, Qt::Key_Return);
        }) << 1 << "9600,n,8,1" << QStringList{"COM1", "4800", "8 bits", "none", "1 bit"};
        QTest::newRow("blanks after the commas") << Prepare([](Frm_Setup &s) {
            s.loadPortState("19200, e, 7, 2", 2, false);
        }) << 2 << "19200,e,7,2" << QStringList{"COM2", "19200", "8 bits", "none", "1 bit"};
        QTest::newRow("port value not a number") << Prepare([](Frm_Setup &s) {
            box(s, "Cmb_Port")->setProperty("Tag", "COM2");
        }) << 1 << "9600,n,8,1" << QStringList{"COM1", "9600", "8 bits", "none", "1 bit"};
    }

    void apply_opensThePortWithTheValueTexts()
    {
        QFETCH(Prepare, prepare);
        QFETCH(int, port);
        QFETCH(QString, settings);
        QFETCH(QStringList, shown);

        Frm_Main w;
        auto *dialogs = ScriptedDialogs::install(w);
        QPointer<Frm_Setup> setup = openSetup(w);
        QVERIFY(setup);
        prepare(*setup);
        click(*setup, "Btn_Ok_Setup");
        QCOMPARE(shownTexts(*setup), shown);
        QVERIFY(dialogs->shown.isEmpty());
        QVERIFY(w.com().PortOpen());
        QCOMPARE(w.com().CommPort(), port);
        QCOMPARE(w.com().Settings(), settings);
        QTRY_VERIFY(setup.isNull());
    }

    void apply_failing_keepsTheWindowOpen()
    {
        Frm_Main w;
        auto *dialogs = ScriptedDialogs::install(w);
        QPointer<Frm_Setup> setup = openSetup(w);
        QVERIFY(setup);
        pick(*setup, "Cmb_Port", "COM4");
        click(*setup, "Btn_Ok_Setup");
        QCOMPARE(dialogs->shown.size(), 1);
        QVERIFY(dialogs->shown[0].text.contains("COM4"));
        QVERIFY(!w.com().PortOpen());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(setup && setup->isVisible());
    }

    void close_twice_closesSilentlyThenSaysAlreadyClosed()
    {
        Frm_Main w;
        auto *dialogs = ScriptedDialogs::install(w);
        QVERIFY(w.Open_Serial(1));
        Frm_Setup *setup = openSetup(w);
        QVERIFY(setup);
        QCOMPARE(status(*setup), Colours::Green);

        click(*setup, "Btn_Close_Port");
        QVERIFY(!w.com().PortOpen());
        QCOMPARE(status(*setup), Colours::Red);
        QVERIFY(dialogs->shown.isEmpty());

        setup->loadPortState("57600,n,8,1", 1, true); // a stale green must turn red again
        click(*setup, "Btn_Close_Port");
        QCOMPARE(dialogs->shown.size(), 1);
        QCOMPARE(dialogs->shown[0].text, "Serial Port already closed...");
        QCOMPARE(dialogs->shown[0].title, "Orvik Serial Interface");
        QCOMPARE(dialogs->shown[0].icon, QMessageBox::Information);
        QCOMPARE(dialogs->shown[0].buttons, QMessageBox::Ok);
        QCOMPARE(status(*setup), Colours::Red);
        QVERIFY(setup->isVisible());
    }

    void close_stopsTheSensorPollAtItsNextTick()
    {
        Frm_Main w;
        ScriptedDialogs::install(w);
        QVERIFY(w.Open_Serial(1));
        auto *start = w.findChild<QPushButton *>("Btn_Start");
        auto *stop = w.findChild<QPushButton *>("Btn_Stop");
        auto *poll = w.findChild<QTimer *>("T_Batt");
        start->click();
        QVERIFY(poll->isActive());
        Frm_Setup *setup = openSetup(w);
        QVERIFY(setup);

        click(*setup, "Btn_Close_Port");
        m_peers[0].readAvailable(); // what the poll sent while the port was open
        w.T_Batt_Timer();
        QVERIFY(!poll->isActive());
        QVERIFY(start->isEnabled());
        QVERIFY(!stop->isEnabled());
        QCOMPARE(m_peers[0].readAvailable(), QByteArray());
    }

    void serialSetup_showsOneWindow_cancelUnloadsItWithoutApplying()
    {
        Frm_Main w;
        ScriptedDialogs::install(w);
        QVERIFY(w.Open_Serial(2, "57600,n,8,1"));
        w.mnu_serial_setup_Click();
        QPointer<Frm_Setup> setup = openSetup(w);
        QVERIFY(setup);
        QCOMPARE(w.findChildren<Frm_Setup *>().size(), 1);
        pick(*setup, "Cmb_Port", "COM3");
        pick(*setup, "Cmb_Parity", "odd");

        click(*setup, "btn_Cancel_setup");
        QTRY_VERIFY(setup.isNull());
        QVERIFY(w.com().PortOpen());
        QCOMPARE(w.com().CommPort(), 2);
        QCOMPARE(w.com().Settings(), "57600,n,8,1");
        w.mnu_serial_setup_Click();
        QCOMPARE(w.findChildren<Frm_Setup *>().size(), 1);
    }
};

QTEST_MAIN(TestFrmSetup)
#include "tst_frm_setup.moc"
