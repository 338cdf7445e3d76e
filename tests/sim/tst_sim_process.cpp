#include "SimProcess.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

// Reads until count bytes came or the timeout passed.
QByteArray readBytes(QSerialPort &port, int count, int timeoutMs = 3000)
{
    QByteArray bytes = port.readAll();
    QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        port.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        bytes += port.readAll();
    }
    return bytes;
}

bool openPort(QSerialPort &port, const QString &device)
{
    port.setPortName(device);
    port.setBaudRate(57600);
    return port.open(QIODevice::ReadWrite);
}

QByteArray reply(const char *mnemonic, std::initializer_list<int> data)
{
    QByteArray bytes(mnemonic);
    for (const int byte : data)
        bytes.append(char(byte));
    return bytes;
}

} // namespace

class TestSimProcess : public QObject
{
    Q_OBJECT

private slots:
    void answersQueriesWithTheValuesItWasStartedWith();
    void neverAnswersMoves();
    void whiskerChangesAreReported();
    void keepsServingAfterThePortIsClosedAndReopened();
    void logsGarbageAsBytesThatMakeNoFrame();
    void stopsCleanlyAndRemovesItsLink_data();
    void stopsCleanlyAndRemovesItsLink();
    void replacesAStaleLinkButNeverAFile();
    void refusesABadCommandLine_data();
    void refusesABadCommandLine();
};

void TestSimProcess::answersQueriesWithTheValuesItWasStartedWith()
{
    SimProcess sim;
    QVERIFY(sim.start({"--battery1", "72", "--battery2", "0", "--analogue", "1=1", "--analogue", "2=500",
                       "--analogue", "3=1023", "--analogue", "4=65535"}));
    QSerialPort port;
    QVERIFY2(openPort(port, sim.link()), qPrintable(port.errorString()));

    port.write("gbv");
    QCOMPARE(readBytes(port, 5), reply("gbv", {72, 0}));

    // One channel per query, in turn, starting again after the fourth.
    port.write("gavgavgavgavgav");
    QCOMPARE(readBytes(port, 30), reply("gav", {1, 0, 1}) + reply("gav", {2, 1, 244}) + reply("gav", {3, 3, 255}) +
                                      reply("gav", {4, 255, 255}) + reply("gav", {1, 0, 1}));
    QVERIFY(sim.logged("tx", reply("gav", {4, 255, 255})));
}

void TestSimProcess::neverAnswersMoves()
{
    SimProcess sim;
    QVERIFY(sim.start());
    QSerialPort port;
    QVERIFY(openPort(port, sim.device()));

    // Data bytes that spell queries must not be taken for them.
    const QByteArray moves = QByteArray("mebgbvg") + "mregavgav" + "mrngbv" + QByteArray(1, '\0') + "mrmgbvgbvgb" + "mlagavgav" +
                             "mragbvgbv" + QByteArray::fromHex("6d7373122d00");
    port.write(moves + "gbv");
    QCOMPARE(readBytes(port, 5), reply("gbv", {72, 73}));
    QVERIFY(!port.waitForReadyRead(100)); // and nothing after it either
    QVERIFY(sim.logged("rx", QByteArray::fromHex("6d7373122d00")));
    QCOMPARE(sim.command("servo 18"), QStringLiteral("ok servo 18 (Right eyebrow) position 45.0 target 45 speed 0"));
}

void TestSimProcess::whiskerChangesAreReported()
{
    SimProcess sim;
    QVERIFY(sim.start({"--whiskers", "1"}));
    QSerialPort port;
    QVERIFY(openPort(port, sim.device()));

    QCOMPARE(sim.command("whisker 3 on"), QStringLiteral("ok"));
    QCOMPARE(readBytes(port, 4), reply("gws", {5}));
    QCOMPARE(sim.command("whiskers 0b1010"), QStringLiteral("ok"));
    QCOMPARE(readBytes(port, 4), reply("gws", {10}));
    // No change, no report: the next report read must be the one after it.
    QCOMPARE(sim.command("whisker 3 off"), QStringLiteral("ok"));
    QCOMPARE(sim.command("whisker 1 on"), QStringLiteral("ok"));
    QCOMPARE(readBytes(port, 4), reply("gws", {11}));
    QVERIFY(sim.command("whisker 9 on").startsWith(u"error: "));
    QVERIFY(sim.logged("tx", reply("gws", {11})));
}

void TestSimProcess::keepsServingAfterThePortIsClosedAndReopened()
{
    SimProcess sim;
    QVERIFY(sim.start());
    for (int round = 0; round < 3; ++round) {
        QSerialPort port;
        QVERIFY(openPort(port, sim.link()));
        port.write("gbv");
        QCOMPARE(readBytes(port, 5), reply("gbv", {72, 73}));
    }
    QCOMPARE(sim.process().state(), QProcess::Running);
}

void TestSimProcess::logsGarbageAsBytesThatMakeNoFrame()
{
    SimProcess sim;
    QVERIFY(sim.start());
    QSerialPort port;
    QVERIFY(openPort(port, sim.device()));
    port.write(QByteArray::fromHex("01ff") + "gbv");
    QCOMPARE(readBytes(port, 5), reply("gbv", {72, 73}));

    const QList<QJsonObject> log = sim.log();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0].value("dir").toString(), QStringLiteral("rx"));
    QCOMPARE(log[0].value("bad").toVariant().toList(), (QVariantList{1, 255}));
    QCOMPARE(log[1].value("mnemonic").toString(), QStringLiteral("gbv"));
    QCOMPARE(log[2].value("dir").toString(), QStringLiteral("tx"));
    QVERIFY(log[1].value("t_us").toInteger() > 0);
    QVERIFY(log[2].value("t_us").toInteger() >= log[1].value("t_us").toInteger());
}

void TestSimProcess::stopsCleanlyAndRemovesItsLink_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
    QTest::newRow("quit command") << "quit";
    QTest::newRow("end of input") << "eof";
}

void TestSimProcess::stopsCleanlyAndRemovesItsLink()
{
    QFETCH(QString, how);

    SimProcess sim;
    QVERIFY(sim.start());
    QVERIFY(QFile::exists(sim.link()));
    QCOMPARE(QFile::symLinkTarget(sim.link()), sim.device());

    const qint64 pid = sim.process().processId();
    if (how == u"SIGTERM")
        ::kill(pid_t(pid), SIGTERM);
    else if (how == u"SIGINT")
        ::kill(pid_t(pid), SIGINT);
    else if (how == u"quit")
        QCOMPARE(sim.command("quit"), QStringLiteral("ok"));
    else
        sim.process().closeWriteChannel();

    QVERIFY(sim.process().waitForFinished(5000));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
}

void TestSimProcess::replacesAStaleLinkButNeverAFile()
{
    {
        SimProcess sim;
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), sim.link()));
        QVERIFY(sim.start());
        QCOMPARE(QFile::symLinkTarget(sim.link()), sim.device());
    }
    SimProcess sim;
    QFile file(sim.link());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("notes");
    file.close();
    QVERIFY(!sim.start());
    QVERIFY(sim.process().state() == QProcess::NotRunning || sim.process().waitForFinished(5000));
    QCOMPARE(sim.process().exitCode(), 1);
    QVERIFY(sim.process().readAllStandardError().contains("not a symbolic link"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("notes"));
}

void TestSimProcess::refusesABadCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message"); // part of what it says on standard error

    QTest::newRow("unknown option") << QStringList{"--colour"} << "colour";
    QTest::newRow("extra argument") << QStringList{"robot"} << "robot";
    QTest::newRow("battery too high") << QStringList{"--battery1", "256"} << "--battery1";
    QTest::newRow("analogue without a value") << QStringList{"--analogue", "2"} << "--analogue";
    QTest::newRow("analogue channel 5") << QStringList{"--analogue", "5=10"} << "--analogue";
    QTest::newRow("whiskers too high") << QStringList{"--whiskers", "16"} << "--whiskers";
    QTest::newRow("log that cannot be written") << QStringList{"--log", "/nonexistent/folder/log"} << "/nonexistent";
}

void TestSimProcess::refusesABadCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QProcess sim;
    sim.start(SimProcess::program(),
              QStringList{"--headless", "--quit-at-eof", "--link", dir.filePath("robot")} + arguments);
    sim.closeWriteChannel();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(sim.readAllStandardOutput().isEmpty());
    QVERIFY(!QFileInfo(dir.filePath("robot")).isSymLink());
}

QTEST_GUILESS_MAIN(TestSimProcess)
#include "tst_sim_process.moc"
