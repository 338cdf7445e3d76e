#include "app/Command_Line.h"
#include "link/Com.h"
#include "link/Socket_Device.h"
#include "panel/Frm_Main.h"
#include "sim/SimProcess.h"
#include "support/PtyPeer.h"
#include "support/ScriptedDialogs.h"
#include "support/Ser2Net.h"
#include "support/SilentServer.h"
#include "settings/Frm_Setup.h"

#include <QBuffer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Ser2Net::Mode)

namespace {

Com::LineSettings settingsFrom(const QString &text)
{
    return Com::LineSettings::parse(text).value_or(Com::LineSettings{});
}

// Writes all of bytes, waiting while the socket takes none; false when it stops taking them.
bool writeAll(Socket_Device &device, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n < 0 || (n == 0 && !device.waitWritable(5000)))
            return false;
        done += n;
    }
    return true;
}

// Reads until count data bytes came or five seconds passed.
QByteArray readData(Socket_Device &device, qsizetype count)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] {
        got += device.read(count - got.size());
        return got.size() >= count;
    }, 5000);
    return got;
}

} // namespace

// The network line against ser2net itself, in front of a pseudo-terminal.
class tst_Ser2Net : public QObject
{
    Q_OBJECT

    QTemporaryDir m_settings; // the devices chosen for the ports, never those of whoever runs the tests

private slots:
    void initTestCase() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path()); }
    void init() { qunsetenv("ORVIK_COM1"); }

    void bytesPassBothWaysUnchanged_data();
    void bytesPassBothWaysUnchanged();
    void farEndRunsAtTheSettingsSpeed_data();
    void farEndRunsAtTheSettingsSpeed();
    void writeToAGoneServerLeavesTheReportToTheLine();

    void sendArrivesAndRepliesAreShown_data();
    void sendArrivesAndRepliesAreShown();
    void openFailureNamesTheDevice_data();
    void openFailureNamesTheDevice();
    void serverKilledClosesThePortAndApplyReconnects();
    void serverThatStopsReadingRefusesWholeFrames();
    void playSendsTheScriptThroughTheServer();

    void applyConnectsWithoutHoldingTheWindowUp();
    void cancelGivesUpConnecting();
    void silentServerFailsAfterFiveSeconds();
};

namespace {

// The main window's settings window, opened from its menu.
struct SetupRig
{
    Frm_Main w;
    ScriptedDialogs *dialogs = ScriptedDialogs::install(w);
    QPointer<Frm_Setup> setup; // deleted when it closes

    SetupRig()
    {
        w.mnu_serial_setup_Click();
        setup = w.findChild<Frm_Setup *>();
    }
    QPushButton *button(const char *name) { return setup->findChild<QPushButton *>(QLatin1StringView(name)); }
    QString status() { return setup->findChild<QLabel *>(QStringLiteral("Lbl_Status"))->text(); }
    // Which of APPLY, CLOSE, CANCEL and the port box can be used.
    QString usable()
    {
        QStringList names;
        for (const char *name : {"Btn_Ok_Setup", "Btn_Close_Port", "btn_Cancel_setup"})
            if (button(name)->isEnabled())
                names << QLatin1StringView(name);
        if (setup->findChild<QComboBox *>(QStringLiteral("Cmb_Port"))->isEnabled())
            names << QStringLiteral("Cmb_Port");
        return names.join(u' ');
    }
};

} // namespace

void tst_Ser2Net::bytesPassBothWaysUnchanged_data()
{
    QTest::addColumn<Ser2Net::Mode>("mode");
    QTest::newRow("raw") << Ser2Net::Mode::Raw;
    QTest::newRow("RFC 2217") << Ser2Net::Mode::Rfc2217;
}

void tst_Ser2Net::bytesPassBothWaysUnchanged()
{
    QFETCH(Ser2Net::Mode, mode);
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), mode);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Socket_Device device(*Socket_Device::parse(server.url(), nullptr));
    QString why;
    QVERIFY2(device.open(settingsFrom("57600,n,8,1"), &why), qPrintable(why));

    // Every byte value, 255 among them, twice and side by side; and a frame of 255s.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const QByteArray frame = QByteArray::fromHex("6d6562ffff0aff") + all + all;
    QVERIFY(writeAll(device, frame));
    QCOMPARE(robot.read(frame.size()).toHex(' '), frame.toHex(' '));

    const QByteArray reply = QByteArray::fromHex("676176 01ffff 6777730d") + all;
    QVERIFY(robot.write(reply));
    QCOMPARE(readData(device, reply.size()).toHex(' '), reply.toHex(' '));
}

void tst_Ser2Net::farEndRunsAtTheSettingsSpeed_data()
{
    QTest::addColumn<Ser2Net::Mode>("mode");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("farEndBaud");

    // ser2net serves the line at 57600 baud unless told otherwise.
    QTest::newRow("raw keeps the server's") << Ser2Net::Mode::Raw << "115200,n,8,1" << 57600;
    QTest::newRow("RFC 2217 115200") << Ser2Net::Mode::Rfc2217 << "115200,n,8,1" << 115200;
    QTest::newRow("RFC 2217 9600,e,7,2") << Ser2Net::Mode::Rfc2217 << "9600,e,7,2" << 9600;
    QTest::newRow("RFC 2217 300,o,8,1") << Ser2Net::Mode::Rfc2217 << "300,o,8,1" << 300;
}

void tst_Ser2Net::farEndRunsAtTheSettingsSpeed()
{
    QFETCH(Ser2Net::Mode, mode);
    QFETCH(QString, settings);
    QFETCH(int, farEndBaud);
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), mode);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Socket_Device device(*Socket_Device::parse(server.url(), nullptr));
    QString why;
    QVERIFY2(device.open(settingsFrom(settings), &why), qPrintable(why));
    // A byte through the line: the server has opened the device and read what came before it.
    QVERIFY(writeAll(device, "x"));
    QCOMPARE(robot.read(1), QByteArray("x"));
    QTRY_COMPARE_WITH_TIMEOUT(robot.baudRate(), farEndBaud, 5000);

    // And again when the settings change while connected.
    if (mode == Ser2Net::Mode::Rfc2217) {
        QVERIFY(device.applySettings(settingsFrom("38400,n,8,1"), &why));
        QTRY_COMPARE_WITH_TIMEOUT(robot.baudRate(), 38400, 5000);
    }
}

// The line is in the middle of writing its queue when the device says -1; a device that
// raised gone() there too would have the line close it twice.
void tst_Ser2Net::writeToAGoneServerLeavesTheReportToTheLine()
{
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Socket_Device device(*Socket_Device::parse(server.url(), nullptr));
    QString why;
    QVERIFY2(device.open(settingsFrom("57600,n,8,1"), &why), qPrintable(why));
    QSignalSpy gone(&device, &Socket_Device::gone);

    server.kill();
    qint64 n = 0;
    for (int i = 0; i < 1000 && n >= 0; ++i) {
        n = device.write("x", 1);
        device.waitWritable(10);
    }
    QCOMPARE(n, -1);
    QCOMPARE(gone.size(), 0);
}

void tst_Ser2Net::sendArrivesAndRepliesAreShown_data()
{
    bytesPassBothWaysUnchanged_data();
}

// The main window on a network device, as on a local port.
void tst_Ser2Net::sendArrivesAndRepliesAreShown()
{
    QFETCH(Ser2Net::Mode, mode);
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), mode);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    qputenv("ORVIK_COM1", server.url().toUtf8());
    Frm_Main w;
    ScriptedDialogs *dialogs = ScriptedDialogs::install(w);
    QVERIFY2(w.Open_Serial(1), qPrintable(dialogs->shown.isEmpty() ? QString() : dialogs->shown.last().text));

    // Speed 255 for both eyebrows: a frame holding 255 twice.
    for (const char *speed : {"Txt_Speed(0)", "Txt_Speed(1)"})
        w.findChild<QLineEdit *>(QLatin1StringView(speed))->setText(QStringLiteral("255"));
    w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
    QCOMPARE(robot.read(7).toHex(' '), QByteArray("6d 65 62 2d ff 2d ff"));
    w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Neck"))->click();
    QCOMPARE(robot.read(7).left(3), QByteArray("mrn"));

    // Batteries, then an analogue reading of 1023 on channel 4, whose low byte is 255.
    QVERIFY(robot.write(QByteArray::fromHex("6762764849" "6761760403ff")));
    QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel *>(QStringLiteral("Lbl_Batt(0)"))->text(), QStringLiteral("7.2"), 5000);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("Lbl_Batt(1)"))->text(), QStringLiteral("7.3"));
    QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel *>(QStringLiteral("Lbl_Analogue(3)"))->text(), QStringLiteral("1023"), 5000);
}

void tst_Ser2Net::openFailureNamesTheDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("reason");

    quint16 closedPort = 0;
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        closedPort = closed.serverPort();
    }
    const QString refused = QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort);
    QTest::newRow("nothing listens") << refused << "Connection refused";
    QTest::newRow("no port") << "rfc2217://127.0.0.1"
                             << "a network device is named tcp://HOST:PORT or rfc2217://HOST:PORT";
}

void tst_Ser2Net::openFailureNamesTheDevice()
{
    QFETCH(QString, device);
    QFETCH(QString, reason);
    qputenv("ORVIK_COM1", device.toUtf8());
    Com com;
    QVERIFY(!com.setPortOpen(true));
    QCOMPARE(com.errorDescription(), QStringLiteral("COM1 (%1): %2").arg(device, reason));
    QVERIFY(!com.PortOpen());
}

void tst_Ser2Net::serverKilledClosesThePortAndApplyReconnects()
{
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    qputenv("ORVIK_COM1", server.url().toUtf8());
    Frm_Main w;
    ScriptedDialogs::install(w);
    QVERIFY(w.Open_Serial(1));
    w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
    QCOMPARE(robot.read(7).size(), 7);

    // As a pulled cable: the port closes at once, and says why.
    server.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!w.com().PortOpen(), 5000);
    QCOMPARE(w.com().errorDescription(), QStringLiteral("COM1 (%1): the server closed the connection").arg(server.url()));

    // The server back, APPLY opens the port again.
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(w.Open_Serial(1));
    w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
    QCOMPARE(robot.read(7).toHex(' '), QByteArray("6d 65 62 2d 00 2d 00"));
}

void tst_Ser2Net::serverThatStopsReadingRefusesWholeFrames()
{
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    qputenv("ORVIK_COM1", server.url().toUtf8());
    Com com;
    QVERIFY(com.setSettings(QStringLiteral("115200,n,8,1")));
    QVERIFY2(com.setPortOpen(true), qPrintable(com.errorDescription()));

    // The robot reads nothing: frames go until the server's buffers are full, then wait in the
    // program, then are refused whole. Numbered frames with 255s in them.
    auto frame = [](int n) {
        QByteArray bytes(1000, char(0xff));
        bytes[0] = char(n >> 8);
        bytes[1] = char(n);
        return bytes;
    };
    int taken = 0;
    while (com.Output(frame(taken))) {
        ++taken;
        QVERIFY2(taken < 64 * 1024, "the line never backed up");
        QCoreApplication::processEvents();
    }
    QVERIFY(com.OutputStalled());

    // Once the robot reads again, every frame taken arrives, whole and in order.
    const QByteArray arrived = robot.read(taken * 1000, 60000);
    QCOMPARE(arrived.size(), qsizetype(taken) * 1000);
    for (int n = 0; n < taken; ++n)
        QVERIFY2(arrived.mid(qsizetype(n) * 1000, 1000) == frame(n), qPrintable(QString::number(n)));
    QTRY_VERIFY_WITH_TIMEOUT(!com.OutputStalled(), 5000);
}

// orvik --play to the virtual robot behind ser2net: every move whole, in order, on time.
void tst_Ser2Net::playSendsTheScriptThroughTheServer()
{
    SimProcess sim;
    QVERIFY(sim.start());
    Ser2Net server(sim.link(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QByteArray out, err;
    QBuffer outDevice(&out), errDevice(&err);
    outDevice.open(QIODevice::WriteOnly);
    errDevice.open(QIODevice::WriteOnly);
    QCOMPARE(Command_Line::run({"orvik", "--play", ORVIK_EXAMPLES "/nod.sct", "--device", server.url().toUtf8()},
                               outDevice, errDevice), 0);
    QCOMPARE(err, QByteArray());
    QVERIFY(out.endsWith("11 end-0\n"));

    const QList<std::pair<QByteArray, qint64>> expected{
        {QByteArray::fromHex("6d726e5a145a14"), 0},    {QByteArray::fromHex("6d726e6e1e5a14"), 320},
        {QByteArray::fromHex("6d726e461e5a14"), 690},  {QByteArray::fromHex("6d726e6e1e5a14"), 1060},
        {QByteArray::fromHex("6d726e5a145a14"), 1430},
    };
    QList<SimProcess::LoggedFrame> received;
    QTRY_VERIFY((received = sim.loggedFrames(QStringLiteral("rx"))).size() >= expected.size());
    QCOMPARE(received.size(), expected.size());
    for (qsizetype k = 0; k < received.size(); ++k) {
        QCOMPARE(received[k].bytes.toHex(' '), expected[k].first.toHex(' '));
        const qint64 atMs = (received[k].us - received[0].us) / 1000;
        QVERIFY2(atMs >= expected[k].second - 10 && atMs <= expected[k].second + 250,
                 qPrintable(QStringLiteral("move %1 at %2 ms, due at %3 ms").arg(k).arg(atMs).arg(expected[k].second)));
    }
}

void tst_Ser2Net::applyConnectsWithoutHoldingTheWindowUp()
{
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    qputenv("ORVIK_COM1", server.url().toUtf8());
    SetupRig rig;
    QVERIFY(rig.setup);

    rig.button("Btn_Ok_Setup")->click();
    // The click returned before the server answered.
    QCOMPARE(rig.status(), QStringLiteral("Connecting to 127.0.0.1:%1…").arg(server.port()));
    QCOMPARE(rig.usable(), QStringLiteral("btn_Cancel_setup"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.w.com().PortOpen(), 5000);
    QTRY_VERIFY(!rig.setup);
    QVERIFY(rig.dialogs->shown.isEmpty());
    rig.w.findChild<QPushButton *>(QStringLiteral("Btn_Send_Eyebrows"))->click();
    QCOMPARE(robot.read(7).toHex(' '), QByteArray("6d 65 62 2d 00 2d 00"));
}

void tst_Ser2Net::cancelGivesUpConnecting()
{
    SilentServer server;
    QVERIFY(server.port() != 0);
    qputenv("ORVIK_COM1", QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()).toUtf8());
    SetupRig rig;
    rig.button("Btn_Ok_Setup")->click();
    QCOMPARE(rig.status(), QStringLiteral("Connecting to 127.0.0.1:%1…").arg(server.port()));

    rig.button("btn_Cancel_setup")->click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.usable(), QStringLiteral("Btn_Ok_Setup Btn_Close_Port btn_Cancel_setup Cmb_Port"), 2000);
    QCOMPARE(rig.status(), QString());
    QVERIFY(rig.setup->isVisible());
    QVERIFY(!rig.w.com().PortOpen());
    // The operator gave up: nothing to tell.
    QVERIFY(rig.dialogs->shown.isEmpty());
}

void tst_Ser2Net::silentServerFailsAfterFiveSeconds()
{
    SilentServer server;
    QVERIFY(server.port() != 0);
    const QString device = QStringLiteral("tcp://127.0.0.1:%1").arg(server.port());
    qputenv("ORVIK_COM1", device.toUtf8());
    SetupRig rig;
    rig.button("Btn_Ok_Setup")->click();
    QCOMPARE(rig.usable(), QStringLiteral("btn_Cancel_setup"));

    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs->shown.size(), 1, 10000);
    QCOMPARE(rig.dialogs->shown[0].text,
             QStringLiteral("COM1 (%1): no answer from 127.0.0.1:%2 within 5 seconds").arg(device).arg(server.port()));
    QVERIFY(rig.setup->isVisible());
    QCOMPARE(rig.usable(), QStringLiteral("Btn_Ok_Setup Btn_Close_Port btn_Cancel_setup Cmb_Port"));
    QVERIFY(!rig.w.com().PortOpen());
}

QTEST_MAIN(tst_Ser2Net)
#include "tst_ser2net.moc"
