#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QTest>

#include <csignal>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Reads until count bytes came or the timeout passed.
QByteArray readBytes(QSerialPort &port, int count, int timeoutMs = 3000)
{
    QByteArray bytes = port.readAll();
    const QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        port.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        bytes += port.readAll();
    }
    return bytes;
}

// Reads lines from a pipe, handing each to take, until take has counted enough (it returns how
// many it has) or ten seconds passed.
void readLines(int fd, const std::function<int(const QByteArray &line)> &take)
{
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    QByteArray text;
    const QDeadlineTimer deadline(10000);
    for (bool enough = false; !enough && !deadline.hasExpired();) {
        pollfd readable{fd, POLLIN, 0};
        ::poll(&readable, 1, 100);
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            text.append(chunk, n);
        qsizetype end;
        while (!enough && (end = text.indexOf('\n')) >= 0) {
            enough = take(text.left(end));
            text.remove(0, end + 1);
        }
    }
}

QByteArray frame(const char *mnemonic, std::initializer_list<int> data)
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
    void namesItselfInItsHelp();
    void answersQueriesWithItsReadingsButNeverMoves();
    void reportsEveryWhiskerChangeAndNothingElse();
    void answersEachCommandLineOnce_data();
    void answersEachCommandLineOnce();
    void exitsWithItsCodeAndLeavesNoLink_data();
    void exitsWithItsCodeAndLeavesNoLink();
    void saysOnceThatItsLogCannotBeWritten();
    void keepsAnsweringWhileNobodyReadsItsLog();
    void keepsAnsweringWithoutItsStandardDescriptors_data();
    void keepsAnsweringWithoutItsStandardDescriptors();
    void keepsServingTheLineWhileNobodyReadsItsAnswers();
    void readsAtTheSpeedThePanelSetUnlessTold_data();
    void readsAtTheSpeedThePanelSetUnlessTold();
    void takesThePanelsBytesNoFasterThanTheLineCarries_data();
    void takesThePanelsBytesNoFasterThanTheLineCarries();
};

void TestSimProcess::namesItselfInItsHelp()
{
    QProcess sim;
    sim.start(QStringLiteral(ORVIK_SIM_PATH), {QStringLiteral("--help")});
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(sim.readAllStandardOutput()).section(u'\n', 0, 0), "Usage: orvik-sim [options]");
}

void TestSimProcess::answersQueriesWithItsReadingsButNeverMoves()
{
    SimProcess sim;
    QVERIFY(sim.start({"--battery1", "72", "--battery2", "0", "--analogue", "1=1", "--analogue", "2=500",
                       "--analogue", "3=1023", "--analogue", "4=65535"}));
    QSerialPort port(sim.link());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    // Moves go first, their data spelling queries: an answer to any would come before the replies.
    port.write("mebgbvg" "mlagavgav" + QByteArray::fromHex("6d7373122d00") + "gbv" + "gavgavgavgavgav");
    // One analogue channel per query, in turn, starting again after the fourth.
    QCOMPARE(readBytes(port, 35), frame("gbv", {72, 0}) + frame("gav", {1, 0, 1}) + frame("gav", {2, 1, 244}) +
                                      frame("gav", {3, 3, 255}) + frame("gav", {4, 255, 255}) +
                                      frame("gav", {1, 0, 1}));
}

void TestSimProcess::reportsEveryWhiskerChangeAndNothingElse()
{
    SimProcess sim;
    QVERIFY(sim.start({"--whiskers", "1"}));
    QSerialPort port(sim.device());
    QVERIFY(port.open(QIODevice::ReadWrite));

    // The second command changes nothing, so the next report must be the third one's.
    for (const char *line : {"whisker 3 on", "whisker 3 on", "whisker 1 off"})
        QCOMPARE(sim.command(line), QStringLiteral("ok"));
    QCOMPARE(readBytes(port, 8), frame("gws", {5}) + frame("gws", {4}));
}

void TestSimProcess::answersEachCommandLineOnce_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("answers");

    const QByteArray command("whisker 2 on");
    const QString tooLong = QStringLiteral("error: command line too long (over 4096 bytes); ignored");
    QTest::newRow("CR LF") << command + "\r\n" << QStringList{"ok"};
    QTest::newRow("as long as allowed") << command.leftJustified(4096, ' ') + "\n" << QStringList{"ok"};
    QTest::newRow("a byte too long") << command.leftJustified(4097, ' ') + "\n" << QStringList{tooLong};
    QTest::newRow("a megabyte, then a command") << QByteArray(1 << 20, 'x') + "\n" + command + "\n"
                                                << QStringList{tooLong, "ok"};
    QTest::newRow("two long ones in a row") << QByteArray(5000, 'x') + "\n" + QByteArray(5000, 'y') + "\n" + command +
                                                   "\n"
                                            << QStringList{tooLong, tooLong, "ok"};
    // A time the robot cannot count is refused, not taken as 0; 0 is 0 however it is written.
    const QString belowMs = QStringLiteral("\"%1\" is shorter than a millisecond, the shortest time the robot counts");
    QTest::newRow("garbage below a millisecond") << QByteArray("fault garbage=0.4ms\n")
                                                 << QStringList{"error: garbage: " + belowMs.arg("0.4ms")};
    QTest::newRow("stop reading below a millisecond") << QByteArray("stop-reading 0.0004s\n")
                                                      << QStringList{"error: " + belowMs.arg("0.0004s")};
    QTest::newRow("hang-up off as 0s") << QByteArray("fault hangup=0s\n") << QStringList{"ok"};
    QTest::newRow("stop reading ended by 0ms") << QByteArray("stop-reading 0ms\n") << QStringList{"ok"};
}

void TestSimProcess::answersEachCommandLineOnce()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, answers);

    SimProcess sim;
    QVERIFY(sim.start());
    sim.process().write(input);
    for (const QString &answer : answers)
        QCOMPARE(sim.readLine(), answer);
    // Nothing else came before the answer to the next command.
    QCOMPARE(sim.command("whiskers 0"), QStringLiteral("ok"));
}

void TestSimProcess::exitsWithItsCodeAndLeavesNoLink_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // on its error output

    const QString belowMs = QStringLiteral("\"%1\" is shorter than a millisecond, the shortest time the robot counts");
    QTest::newRow("stopped by SIGTERM") << QStringList{} << 0 << "";
    QTest::newRow("unknown option") << QStringList{"--colour"} << 2 << "";
    QTest::newRow("battery out of range") << QStringList{"--battery1", "256"} << 2 << "";
    QTest::newRow("faults") << QStringList{"--fault", "drop=1%", "--fault", "corrupt=0.01", "--fault", "garbage=2s",
                                           "--fault", "hangup=10s:200ms", "--seed", "4"}
                            << 0 << "";
    QTest::newRow("unknown fault") << QStringList{"--fault", "jam=1"} << 2 << "";
    QTest::newRow("share above all bytes") << QStringList{"--fault", "drop=0.6", "--fault", "duplicate=0.6"} << 2 << "";
    QTest::newRow("hang-up without its length") << QStringList{"--fault", "hangup=10s"} << 2 << "";
    QTest::newRow("seed not a number") << QStringList{"--seed", "x"} << 2 << "";
    // Times: what rounds to nothing is refused rather than turning the fault off; 0 is 0
    // however it is written.
    QTest::newRow("garbage below a millisecond") << QStringList{"--fault", "garbage=0.4ms"} << 2
                                                 << "--fault: garbage: " + belowMs.arg("0.4ms");
    QTest::newRow("stop reading every 0.4 ms") << QStringList{"--fault", "stop-reading=0.0004s:1s"} << 2
                                               << "--fault: stop-reading: " + belowMs.arg("0.0004s");
    QTest::newRow("hang-up for 0.4 ms") << QStringList{"--fault", "hangup=10s:0.4ms"} << 2
                                        << "--fault: hangup: " + belowMs.arg("0.4ms");
    QTest::newRow("hang-up off as 0") << QStringList{"--fault", "hangup=0"} << 0 << "";
    QTest::newRow("hang-up off as 0s") << QStringList{"--fault", "hangup=0s"} << 0 << "";
    QTest::newRow("stop reading off as 0ms") << QStringList{"--fault", "stop-reading=0ms"} << 0 << "";
    QTest::newRow("garbage off as 0min") << QStringList{"--fault", "garbage=0min"} << 0 << "";
    QTest::newRow("as fast as possible") << QStringList{"--baud", "0"} << 0 << "";
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"} << 2
                                       << "--baud takes a whole number from 0 to 4000000, not \"fast\"";
}

void TestSimProcess::exitsWithItsCodeAndLeavesNoLink()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);

    SimProcess sim;
    const bool started = sim.start(arguments);
    QCOMPARE(started, exitCode == 0);
    if (started) {
        QCOMPARE(QFile::symLinkTarget(sim.link()), sim.device());
        ::kill(pid_t(sim.process().processId()), SIGTERM);
    }
    QVERIFY(sim.process().state() == QProcess::NotRunning || sim.process().waitForFinished(5000));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), exitCode);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    const QString errors = QString::fromLocal8Bit(sim.process().readAllStandardError());
    QVERIFY2(errors.contains(says), qPrintable(errors));
}

void TestSimProcess::keepsAnsweringWithoutItsStandardDescriptors_data()
{
    QTest::addColumn<QList<int>>("closed");

    QTest::newRow("all three closed") << QList<int>{0, 1, 2};
    QTest::newRow("input closed") << QList<int>{0};
}

void TestSimProcess::keepsAnsweringWithoutItsStandardDescriptors()
{
    QFETCH(QList<int>, closed);

    SimProcess sim;
    QVERIFY(sim.startWith([closed] {
        for (const int fd : closed)
            ::close(fd);
    }));
    QSerialPort port(sim.link());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    // There is no servo 5: the robot warns on its error output, wherever that went. The
    // first answer shows it read the move; the next ones, that it is still there.
    port.write(frame("mss", {5, 90, 0}));
    for (int query = 0; query < 3; ++query) {
        port.write("gbv");
        QCOMPARE(readBytes(port, 5), frame("gbv", {72, 73}));
    }
    QCOMPARE(sim.process().state(), QProcess::Running);
}

void TestSimProcess::saysOnceThatItsLogCannotBeWritten()
{
    SimProcess sim;
    QVERIFY(sim.start({"--log", "/dev/full"}));
    QSerialPort port(sim.link());
    QVERIFY(port.open(QIODevice::ReadWrite));

    port.write(QByteArray("gbv").repeated(20));
    QCOMPARE(readBytes(port, 100), frame("gbv", {72, 73}).repeated(20));
    sim.process().terminate();
    QVERIFY(sim.process().waitForFinished(5000));
    const QString errors = QString::fromLocal8Bit(sim.process().readAllStandardError());
    QCOMPARE(errors.count(u'\n'), 1);
    QVERIFY2(errors.contains(QStringLiteral("No space left on device")), qPrintable(errors));
}

void TestSimProcess::keepsAnsweringWhileNobodyReadsItsLog()
{
    int logPipe[2];
    QVERIFY(::pipe2(logPipe, O_CLOEXEC) == 0);
    const auto closePipe = qScopeGuard([&] { ::close(logPipe[0]); });
    SimProcess sim;
    const bool started =
        sim.startWith([&logPipe] { ::dup2(logPipe[1], STDOUT_FILENO); }, {"--log", "-", "--baud", "0"});
    ::close(logPipe[1]);
    QVERIFY(started);
    QSerialPort port(sim.link());
    QVERIFY(port.open(QIODevice::ReadWrite));

    // About 130 bytes of log a query: far more than the pipe and the robot's queue hold.
    constexpr int Batches = 20;
    constexpr int PerBatch = 200;
    for (int batch = 0; batch < Batches; ++batch) {
        port.write(QByteArray("gbv").repeated(PerBatch));
        QCOMPARE(readBytes(port, 5 * PerBatch), frame("gbv", {72, 73}).repeated(PerBatch));
    }

    // Read at last, the log has every frame but those it counts as dropped.
    int frames = 0;
    int dropped = 0;
    readLines(logPipe[0], [&](const QByteArray &text) {
        const QJsonObject line = QJsonDocument::fromJson(text).object();
        frames += line.contains(QStringLiteral("mnemonic"));
        dropped += line.value(QStringLiteral("dropped")).toInt();
        return frames + dropped >= 2 * Batches * PerBatch;
    });
    QVERIFY(dropped > 0);
    QCOMPARE(frames + dropped, 2 * Batches * PerBatch);
}

void TestSimProcess::keepsServingTheLineWhileNobodyReadsItsAnswers()
{
    int outputPipe[2];
    QVERIFY(::pipe2(outputPipe, O_CLOEXEC) == 0);
    const auto closePipe = qScopeGuard([&] { ::close(outputPipe[0]); });
    SimProcess sim;
    const bool started = sim.startWith([&outputPipe] { ::dup2(outputPipe[1], STDOUT_FILENO); });
    ::close(outputPipe[1]);
    QVERIFY(started);
    QSerialPort port(sim.link());
    QVERIFY(port.open(QIODevice::ReadWrite));

    // Far more answers than the pipe holds. The whisker's report shows the robot got past
    // them all; the battery's, that it still serves the line.
    constexpr int Helps = 2000;
    sim.process().write(QByteArray("help\n").repeated(Helps) + "whisker 1 on\n");
    QVERIFY(sim.process().waitForBytesWritten(5000));
    QCOMPARE(readBytes(port, 4), frame("gws", {1}));
    port.write("gbv");
    QCOMPARE(readBytes(port, 5), frame("gbv", {72, 73}));

    // Read at last, the output has every line (the device, the answers) but those a note
    // counts as dropped.
    constexpr int Lines = 1 + Helps + 1;
    int lines = 0;
    int dropped = 0;
    bool notesAsWorded = true;
    readLines(outputPipe[0], [&](const QByteArray &line) {
        if (line.startsWith("note: ")) {
            notesAsWorded &= line.endsWith(" lines dropped while nobody read standard output");
            dropped += line.split(' ').value(1).toInt();
        } else {
            ++lines;
        }
        return lines + dropped >= Lines;
    });
    QVERIFY(notesAsWorded);
    QVERIFY(dropped > 0);
    QCOMPARE(lines + dropped, Lines);
}

void TestSimProcess::readsAtTheSpeedThePanelSetUnlessTold_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("speeds"); // set on the panel's end in turn
    QTest::addColumn<QStringList>("answers");

    QTest::newRow("the panel's speed, as it changes")
        << QStringList{} << QList<int>{57600, 9600, 115200}
        << QStringList{"ok baud=57600 bytes-per-second=5760 set-by=line",
                       "ok baud=9600 bytes-per-second=960 set-by=line",
                       "ok baud=115200 bytes-per-second=11520 set-by=line"};
    QTest::newRow("a speed of its own") << QStringList{"--baud", "19200"} << QList<int>{57600, 9600}
                                        << QStringList{"ok baud=19200 bytes-per-second=1920 set-by=--baud",
                                                       "ok baud=19200 bytes-per-second=1920 set-by=--baud"};
    QTest::newRow("as fast as possible") << QStringList{"--baud", "0"} << QList<int>{57600}
                                         << QStringList{"ok baud=0 bytes-per-second=unlimited set-by=--baud"};
}

void TestSimProcess::readsAtTheSpeedThePanelSetUnlessTold()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, speeds);
    QFETCH(QStringList, answers);

    SimProcess sim;
    QVERIFY(sim.start(arguments));
    QSerialPort port(sim.link());
    QVERIFY(port.open(QIODevice::ReadWrite));
    for (qsizetype k = 0; k < speeds.size(); ++k) {
        QVERIFY(port.setBaudRate(speeds[k]));
        QCOMPARE(sim.command("line"), answers[k]);
    }
}

void TestSimProcess::takesThePanelsBytesNoFasterThanTheLineCarries_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("speed"); // the panel's
    QTest::addColumn<int>("minimumMs");

    // 5760 bytes at once: a second of line time at 57600 baud (ten bits a byte), less the
    // 50 ms an idle line may take at once. The bounds leave room below that.
    QTest::newRow("the panel's 57600 baud") << QStringList{} << 57600 << 800;
    QTest::newRow("--baud 115200 over the panel's 9600") << QStringList{"--baud", "115200"} << 9600 << 400;
}

void TestSimProcess::takesThePanelsBytesNoFasterThanTheLineCarries()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, speed);
    QFETCH(int, minimumMs);

    SimProcess sim;
    QVERIFY(sim.start(arguments));
    QSerialPort port(sim.link());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.setBaudRate(speed));

    constexpr int Queries = 1920;
    port.write(QByteArray("gbv").repeated(Queries));
    QCOMPARE(readBytes(port, 5 * Queries, 10000), frame("gbv", {72, 73}).repeated(Queries));
    const QList<SimProcess::LoggedFrame> received = sim.loggedFrames(QStringLiteral("rx"));
    QCOMPARE(received.size(), Queries);
    const qint64 spreadMs = (received.back().us - received.front().us) / 1000;
    QVERIFY2(spreadMs >= minimumMs, qPrintable(QStringLiteral("all taken in %1 ms").arg(spreadMs)));
}

QTEST_GUILESS_MAIN(TestSimProcess)
#include "tst_sim_process.moc"
