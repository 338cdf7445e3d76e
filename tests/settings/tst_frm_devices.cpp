#include "link/Com.h"
#include "panel/Frm_Main.h"
#include "settings/Frm_Devices.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray Eyebrows = QByteArray::fromHex("6d65622d002d00");

// Opens the devices window from the main window's menu, as the operator does.
Frm_Devices *openDevices(Frm_Main &w)
{
    w.findChild<QAction *>(QStringLiteral("mnu_devices"))->trigger();
    return w.findChild<Frm_Devices *>();
}

QComboBox *box(Frm_Devices *devices, int port)
{
    return devices->findChild<QComboBox *>(QStringLiteral("Cmb_Device(%1)").arg(port));
}

} // namespace

class tst_Frm_Devices : public QObject
{
    Q_OBJECT

    // The choices are kept here, never in the settings of whoever runs the tests.
    QTemporaryDir m_settings;

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }
    void init()
    {
        qunsetenv("ORVIK_COM2");
        QSettings().clear();
    }

    void choiceDecidesTheDeviceAPortOpens_data();
    void choiceDecidesTheDeviceAPortOpens();
    void chosenAdapterIsOpenedAndKeptAcrossARestart();
};

void tst_Frm_Devices::choiceDecidesTheDeviceAPortOpens_data()
{
    QTest::addColumn<QString>("typed"); // into COM2's box; "#0" picks its first item
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("opens");

    QTest::newRow("typed path") << "/dev/ttyUSB7" << true << "" << "/dev/ttyUSB7";
    QTest::newRow("blanks around it") << "  /dev/ttyACM0 " << true << "" << "/dev/ttyACM0";
    QTest::newRow("default item") << "#0" << true << "" << "/dev/ttyS1";
    QTest::newRow("emptied box") << "" << true << "" << "/dev/ttyS1";
    QTest::newRow("cancelled") << "/dev/ttyUSB7" << false << "" << "/dev/ttyS1";
    QTest::newRow("environment wins") << "/dev/ttyUSB7" << true << "/dev/pts/99" << "/dev/pts/99";
}

void tst_Frm_Devices::choiceDecidesTheDeviceAPortOpens()
{
    QFETCH(QString, typed);
    QFETCH(bool, ok);
    QFETCH(QString, environment);
    QFETCH(QString, opens);

    if (!environment.isEmpty())
        qputenv("ORVIK_COM2", environment.toLocal8Bit());
    Frm_Main w;
    Frm_Devices *devices = openDevices(w);
    QComboBox *com2 = box(devices, 2);
    QCOMPARE(com2->itemText(0), QStringLiteral("/dev/ttyS1 (default)"));
    QCOMPARE(com2->currentText(), com2->itemText(0));
    auto *override = devices->findChild<QLabel *>(QStringLiteral("Lbl_Override(2)"));
    QCOMPARE(override->isVisibleTo(devices), !environment.isEmpty());
    QCOMPARE(override->text().contains(QStringLiteral("ORVIK_COM2")), !environment.isEmpty());

    com2->setEditText(QStringLiteral("/dev/ttyUSB3"));
    if (typed == u"#0")
        com2->setCurrentIndex(0);
    else
        com2->setEditText(typed);
    devices->findChild<QPushButton *>(ok ? QStringLiteral("Btn_Ok_Devices") : QStringLiteral("Btn_Cancel_Devices"))
        ->click();
    QVERIFY(!devices->isVisible());
    QCOMPARE(Com::deviceFor(2), opens);
    QCOMPARE(Com::deviceFor(3), QStringLiteral("/dev/ttyS2"));
}

void tst_Frm_Devices::chosenAdapterIsOpenedAndKeptAcrossARestart()
{
    PtyPeer adapter;
    {
        Frm_Main w;
        ScriptedDialogs::install(w);
        Frm_Devices *devices = openDevices(w);
        box(devices, 2)->setEditText(adapter.device());
        devices->findChild<QPushButton *>(QStringLiteral("Btn_Ok_Devices"))->click();
        QVERIFY(w.Open_Serial(2));
        w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
        QCOMPARE(adapter.read(Eyebrows.size()), Eyebrows);
    }
    QSettings().sync();
    bool onDisk = false;
    for (QDirIterator it(m_settings.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        onDisk = onDisk || (file.open(QIODevice::ReadOnly) && file.readAll().contains(adapter.device().toLocal8Bit()));
    }
    QVERIFY(onDisk);

    // The next run: a fresh window and port.
    Frm_Main w;
    ScriptedDialogs::install(w);
    QVERIFY(w.Open_Serial(2));
    w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
    QCOMPARE(adapter.read(Eyebrows.size()), Eyebrows);
    QCOMPARE(box(openDevices(w), 2)->currentText(), adapter.device());
}

QTEST_MAIN(tst_Frm_Devices)
#include "tst_frm_devices.moc"
