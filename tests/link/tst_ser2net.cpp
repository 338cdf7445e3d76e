#include "link/Socket_Device.h"
#include "support/PtyPeer.h"
#include "support/Ser2Net.h"

#include <QSignalSpy>
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

private slots:
    void bytesPassBothWaysUnchanged_data();
    void bytesPassBothWaysUnchanged();
    void farEndRunsAtTheSettingsSpeed_data();
    void farEndRunsAtTheSettingsSpeed();
    void serverKilledIsAHangUp();
    void serverThatStopsReadingBacksTheWritesUp();
};

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

void tst_Ser2Net::serverKilledIsAHangUp()
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
    QVERIFY(gone.wait(5000));
    QCOMPARE(gone.size(), 1);
    QCOMPARE(gone[0][0].toString(), QStringLiteral("the server closed the connection"));
    QCOMPARE(device.write("x", 1), -1);

    // Started again, it takes the next connection.
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY2(device.open(settingsFrom("57600,n,8,1"), &why), qPrintable(why));
    QVERIFY(writeAll(device, "y"));
    QCOMPARE(robot.read(1), QByteArray("y"));
}

void tst_Ser2Net::serverThatStopsReadingBacksTheWritesUp()
{
    PtyPeer robot;
    QVERIFY(robot.isValid());
    Ser2Net server(robot.device(), Ser2Net::Mode::Rfc2217);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Socket_Device device(*Socket_Device::parse(server.url(), nullptr));
    QString why;
    QVERIFY2(device.open(settingsFrom("57600,n,8,1"), &why), qPrintable(why));

    // The far end reads nothing: the pseudo-terminal fills, then the server's socket, then this
    // one. Pieces of 255s, so that a cut can fall inside an escape, and large ones: small
    // segments let the server's socket take far more before it holds back.
    QByteArray frame(1001, char(0xff));
    qint64 taken = 0;
    for (;;) {
        const qint64 n = device.write(frame.constData(), frame.size());
        QVERIFY(n >= 0);
        taken += n;
        QVERIFY2(taken < 64 * 1024 * 1024, "the line never backed up");
        // A second without room: backed up, not a burst the socket has not passed on yet.
        if (n == 0 && !device.waitWritable(1000))
            break;
    }
    QVERIFY(device.heldBelow() > 0);
    qInfo("%lld bytes taken before the line backed up, %lld held in the socket", taken, device.heldBelow());

    // Once the far end reads again, every byte taken arrives, unchanged.
    const QByteArray arrived = robot.read(int(taken), 60000);
    QCOMPARE(arrived.size(), taken);
    QCOMPARE(arrived.count(char(0xff)), taken);
}

QTEST_GUILESS_MAIN(tst_Ser2Net)
#include "tst_ser2net.moc"
