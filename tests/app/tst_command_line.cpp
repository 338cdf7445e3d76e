#include "app/Command_Line.h"

#include "link/Com.h"
#include "link/Robot_Profile.h"
#include "sim/SimProcess.h"
#include "support/PtyPeer.h"
#include "support/Script_Text.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>
#include <termios.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray GoodActions = "meb;120;10;130;10\nend;0";
const QByteArray GoodOutput = "1 meb-120-10-130-10\n2 end-0\n";

QByteArray utf16(const QByteArray &text, QSysInfo::Endian order)
{
    QByteArray bytes;
    for (const char c : text) {
        bytes += order == QSysInfo::LittleEndian ? c : '\0';
        bytes += order == QSysInfo::LittleEndian ? '\0' : c;
    }
    return bytes;
}

// Written through the bytes of the name, which need not be valid text.
void writeFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qFatal("cannot write %s", path.constData());
    ::close(fd);
}

// Where Qt keeps a device's lock file while the port is open.
QStringList lockFiles(const QString &device)
{
    const QString name = QStringLiteral("LCK..") + QString(device).remove(QStringLiteral("/dev/")).replace(u'/', u'_');
    QStringList found;
    for (const QString &folder : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QDir::tempPath()}) {
        const QString file = QFileInfo(folder + u'/' + name).canonicalFilePath();
        if (!file.isEmpty() && !found.contains(file))
            found.append(file);
    }
    return found;
}

void replace(QList<QByteArray> &words, const QByteArray &from, const QByteArray &to)
{
    for (QByteArray &word : words)
        word.replace(from, to);
}

bool opensAgain(const QString &device)
{
    qputenv("ORVIK_COM1", QFile::encodeName(device));
    Com com;
    return com.setPortOpen(true);
}

// Standard output for an in-process run that lets the test act when a line is printed, at
// that point of playing.
class Watched_Output : public QBuffer
{
public:
    explicit Watched_Output(QByteArray *bytes, std::function<void(const QByteArray &line)> onLine)
        : QBuffer(bytes)
        , m_onLine(std::move(onLine))
    {
    }

protected:
    qint64 writeData(const char *data, qint64 length) override
    {
        const qint64 written = QBuffer::writeData(data, length);
        m_onLine(QByteArray(data, length));
        return written;
    }

private:
    std::function<void(const QByteArray &line)> m_onLine;
};

} // namespace

// orvik's console uses, run in-process as main() runs them, and as the program itself where
// a signal or a standard stream is what the test changes.
class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_out, m_err;

    QByteArray path(const QByteArray &name) const
    {
        return name.startsWith('/') ? name : QFile::encodeName(m_dir.path()) + '/' + name;
    }
    QByteArray script(const QByteArray &name, const QByteArray &actions)
    {
        writeFile(path(name), scriptText(actions));
        return path(name);
    }
    int run(QList<QByteArray> arguments, std::function<void(const QByteArray &line)> onLine = [](const QByteArray &) {})
    {
        m_out.clear();
        m_err.clear();
        Watched_Output out(&m_out, std::move(onLine));
        QBuffer err(&m_err);
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        return Command_Line::run(QList<QByteArray>{"orvik"} + arguments, out, err);
    }

    void startOrvik(QProcess &orvik, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        orvik.setProcessEnvironment(environment);
        orvik.start(QStringLiteral(ORVIK_PATH), arguments);
    }

    // Each kind of file named as a script, as --check and --play see it; an empty problem
    // means it plays.
    void fileKinds()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("bytes"); // the file's, or "dir", "fifo", "none"
        QTest::addColumn<QByteArray>("problem");
        const QByteArray good = scriptText(GoodActions);
        const QByteArray utf16Problem = "cannot be opened: the file is UTF-16 text, not a script file in this "
                                        "program's encoding (UTF-8 or Windows-1252)";
        QTest::newRow("script") << QByteArray("good.sct") << good << QByteArray();
        QTest::newRow("name not valid UTF-8") << QByteArray("caf\xe9.sct") << good << QByteArray();
        QTest::newRow("missing") << QByteArray("missing.sct") << QByteArray("none") << QByteArray("does not exist");
        QTest::newRow("missing, name not valid UTF-8")
            << QByteArray("\xff\xfe.sct") << QByteArray("none") << QByteArray("does not exist");
        QTest::newRow("directory") << QByteArray("folder.sct") << QByteArray("dir") << QByteArray("is a directory");
        QTest::newRow("named pipe") << QByteArray("pipe.sct") << QByteArray("fifo")
                                    << QByteArray("is a named pipe, not a script file");
        QTest::newRow("device") << QByteArray("/dev/null") << QByteArray()
                                << QByteArray("is a device, not a script file");
        QTest::newRow("no action") << QByteArray("empty.sct") << scriptText({}) << QByteArray("has no action to play");
        QTest::newRow("refused") << QByteArray("refused.sct") << scriptText("meb;120;10;130;10\nwait;x")
                                 << QByteArray("cannot be opened: action_2: value 1 \"x\" is not a whole number");
        QTest::newRow("UTF-16, little-endian mark")
            << QByteArray("le.sct") << "\xff\xfe" + utf16(good, QSysInfo::LittleEndian) << utf16Problem;
        QTest::newRow("UTF-16, big-endian mark")
            << QByteArray("be.sct") << "\xfe\xff" + utf16(good, QSysInfo::BigEndian) << utf16Problem;
        QTest::newRow("UTF-16 without a mark") << QByteArray("nomark.sct") << utf16(good, QSysInfo::LittleEndian)
                                               << utf16Problem;
    }
    QByteArray makeFile()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, bytes);
        const QByteArray file = path(name);
        if (name.startsWith('/'))
            return file; // a system file, used as it is
        ::unlink(file.constData());
        ::rmdir(file.constData());
        if (bytes == "dir")
            QDir().mkdir(QFile::decodeName(file));
        else if (bytes == "fifo")
            ::mkfifo(file.constData(), 0644);
        else if (bytes != "none")
            writeFile(file, bytes);
        return file;
    }

private slots:
    // A name that is not valid text is beyond QTemporaryDir's reach.
    void cleanupTestCase()
    {
        ::unlink(path("caf\xe9.sct").constData());
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("actions");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("clean") << QByteArray("meb;120;10;130;10\nwait;500\nend;0") << 0 << QByteArray("@: ok\n");
        QTest::newRow("problems") << QByteArray("mss;19;90;0\nend;0\nwait;0") << 1
                                  << QByteArray("@: action 1: no servo has the number 19\n"
                                                "@: action 2: \"end\" before the last action does nothing\n"
                                                "@: action 3: a wait of 0 ms is not between 1 and 65535; "
                                                "the script does not end with \"end\"\n");
    }
    void check()
    {
        QFETCH(QByteArray, actions);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        const QByteArray file = script("check.sct", actions);
        QCOMPARE(run({"--check", file}), exitCode);
        QCOMPARE(m_out, output.replace('@', file));
        QCOMPARE(m_err, QByteArray());
    }

    void check_namesWhatEachFileIs_data() { fileKinds(); }
    void check_namesWhatEachFileIs()
    {
        QFETCH(QByteArray, problem);
        const QByteArray file = makeFile();
        QCOMPARE(run({"--check", file}), problem.isEmpty() ? 0 : Command_Line::Failure);
        QCOMPARE(m_out, file + ": " + (problem.isEmpty() ? QByteArray("ok") : problem) + '\n');
        QCOMPARE(m_err, QByteArray());
    }

    void play_namesWhatEachFileIs_data() { fileKinds(); }
    void play_namesWhatEachFileIs()
    {
        QFETCH(QByteArray, problem);
        const QByteArray file = makeFile();
        PtyPeer robot;
        const int exitCode = problem.isEmpty() ? 0 : Command_Line::Failure;
        QCOMPARE(run({"--play", file, "--device", robot.device().toUtf8()}), exitCode);
        QCOMPARE(m_out, problem.isEmpty() ? GoodOutput : QByteArray());
        QCOMPARE(m_err, problem.isEmpty() ? QByteArray() : "orvik: the script \"" + file + "\" " + problem + '\n');
    }

    void usageErrors_data()
    {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("check and play") << QList<QByteArray>{"--check", "--play", "@"}
                                        << QByteArray("give either --check or --play");
        QTest::newRow("neither") << QList<QByteArray>{"@"} << QByteArray("give either --check or --play");
        QTest::newRow("check without a script") << QList<QByteArray>{"--check"}
                                                << QByteArray("--check needs at least one script");
        QTest::newRow("play without a script") << QList<QByteArray>{"--play"}
                                               << QByteArray("Missing value after '--play'.");
        QTest::newRow("play, two scripts") << QList<QByteArray>{"--play", "@", "@"}
                                           << QByteArray("--play takes one script");
        QTest::newRow("port out of range") << QList<QByteArray>{"--play", "@", "--port", "5"}
                                           << QByteArray("--port takes 1 to 4, not \"5\"");
        QTest::newRow("empty device") << QList<QByteArray>{"--play", "@", "--device", ""}
                                      << QByteArray("--device needs a device");
        QTest::newRow("settings the port cannot use")
            << QList<QByteArray>{"--play", "@", "--settings", "57600,x,8,1"}
            << QByteArray("invalid settings \"57600,x,8,1\": parity must be n, e, o, m or s, not \"x\"");
        QTest::newRow("pause on something unknown")
            << QList<QByteArray>{"--play", "@", "--pause-on", "whisker=5"}
            << QByteArray("--pause-on takes whisker, whisker=N (N 1 to 4) or low-battery, not \"whisker=5\"");
        QTest::newRow("low battery without a level") << QList<QByteArray>{"--play", "@", "--pause-on", "low-battery"}
                                                     << QByteArray("--pause-on low-battery needs --low-battery VOLTS, or a --profile that sets a low battery level");
        QTest::newRow("a level without pausing on it") << QList<QByteArray>{"--play", "@", "--low-battery", "6"}
                                                       << QByteArray("--low-battery is for --pause-on low-battery");
        QTest::newRow("a level with a comma")
            << QList<QByteArray>{"--play", "@", "--pause-on", "low-battery", "--low-battery", "6,5"}
            << QByteArray("--low-battery takes volts from 0.1 to 25.5, not \"6,5\"");
        for (const char *option : {"--port 2", "--device /dev/ttyUSB0", "--settings 9600,n,8,1", "--loop",
                                   "--pause-on whisker"}) {
            const QList<QByteArray> words = QByteArray(option).split(' ');
            QTest::addRow("check %s", option)
                << QList<QByteArray>{"--check", "@"} + words << words[0] + " is for --play, not --check";
        }
    }
    void usageErrors()
    {
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(QByteArray, message);
        replace(arguments, "@", script("good.sct", GoodActions));
        QCOMPARE(run(arguments), Command_Line::Usage);
        QCOMPARE(m_err, "orvik: " + message + "\nTry: orvik --help\n");
        QCOMPARE(m_out, QByteArray());
    }

    // A profile of the operator's own that narrows the right eyebrow (servo 18) to 20..40.
    QByteArray narrowProfile()
    {
        Robot_Profile profile = Robot_Profile::builtIn();
        profile.setServo(0, {QStringLiteral("Right eyebrow"), 20, 40, 30});
        writeFile(path("robot.json"), profile.toJson());
        return path("robot.json");
    }

    void profile_limitsCheckAndPlay_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("err");
        const QByteArray outside = "Right eyebrow (servo 18) may only go from 20 to 40, not to 41";
        QTest::newRow("check") << QByteArray("--check") << QByteArray("robot.json") << 1 << QByteArray();
        QTest::newRow("check, built-in") << QByteArray("--check") << QByteArray() << 0 << QByteArray();
        QTest::newRow("play") << QByteArray("--play") << QByteArray("robot.json") << 1
                              << "orvik: warning: action 2: " + outside + "\norvik: action 2 cannot be sent to the "
                                 "robot: " + outside + "\n";
        QTest::newRow("bad profile") << QByteArray("--check") << QByteArray("bad.json") << 1
                                     << QByteArray("orvik: the profile \"@\" cannot be used: line 1: ");
        QTest::newRow("no profile") << QByteArray("--play") << QByteArray("none.json") << 1
                                    << QByteArray("orvik: the profile \"@\" cannot be used: the file does not exist\n");
    }
    void profile_limitsCheckAndPlay()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, profile);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, err);
        narrowProfile();
        writeFile(path("bad.json"), "{ oops");
        PtyPeer robot;
        const QByteArray file = script("eyebrow.sct", "mss;18;40;1\nmss;18;41;2\nend;0");
        QList<QByteArray> arguments{mode, file};
        if (mode == "--play")
            arguments << "--device" << QFile::encodeName(robot.device());
        if (!profile.isEmpty())
            arguments << "--profile" << path(profile);
        QCOMPARE(run(arguments), exitCode);
        QVERIFY2(m_err.startsWith(QByteArray(err).replace('@', path(profile))), m_err.constData());
        if (mode == "--check" && exitCode == 1 && err.isEmpty())
            QVERIFY(m_out.endsWith("action 2: Right eyebrow (servo 18) may only go from 20 to 40, not to 41\n"));
        if (mode == "--play" && !err.contains("profile"))
            QCOMPARE(robot.drain(100), QByteArray::fromHex("6d7373122801"));
    }

    void play_saysWhyThePortDoesNotOpen()
    {
        QCOMPARE(run({"--play", script("good.sct", GoodActions), "--device", "/nonexistent/tty"}),
                 Command_Line::Failure);
        QVERIFY2(m_err.startsWith("orvik: cannot open the port: COM1 (/nonexistent/tty): "), m_err.constData());
        QCOMPARE(m_out, QByteArray());
    }

    // A full disk: what could not be written is a failure, said on standard error.
    void outputThatCannotBeWritten_fails_data()
    {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::newRow("check") << QList<QByteArray>{"--check", "@"};
        QTest::newRow("help") << QList<QByteArray>{"--help"};
        QTest::newRow("play") << QList<QByteArray>{"--play", "@", "--device", "@robot"};
    }
    void outputThatCannotBeWritten_fails()
    {
        QFETCH(QList<QByteArray>, arguments);
        PtyPeer robot;
        replace(arguments, "@robot", robot.device().toUtf8());
        replace(arguments, "@", script("good.sct", "meb;120;10;130;10\nwait;60000\nend;0"));
        m_err.clear();
        QFile full(QStringLiteral("/dev/full"));
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QBuffer err(&m_err);
        err.open(QIODevice::WriteOnly);
        QCOMPARE(Command_Line::run(QList<QByteArray>{"orvik"} + arguments, full, err), Command_Line::Failure);
        QCOMPARE(m_err, QByteArray("orvik: cannot write the output: No space left on device\n"));
        // Playing stopped at the first line it could not print, not after the long wait.
        const QByteArray firstFrame = arguments[0] == "--play" ? QByteArray("6d 65 62 78 0a 82 0a") : QByteArray();
        QCOMPARE(robot.drain(100).toHex(' '), firstFrame);
    }

    // The nod example played to orvik-sim: every move arrives whole, in order, and as far
    // after the first as the script's waits say.
    void play_sendsTheScriptToTheVirtualRobot()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        QCOMPARE(run({"--play", ORVIK_EXAMPLES "/nod.sct", "--device", sim.link().toUtf8()}), 0);
        QCOMPARE(m_err, QByteArray());
        QVERIFY(m_out.startsWith("1 mrn-90-20-90-20\n2 wait-300\n3 mrn-110-30-90-20\n"));
        QVERIFY(m_out.endsWith("11 end-0\n"));

        const QList<std::pair<QByteArray, qint64>> expected{
            {QByteArray::fromHex("6d726e5a145a14"), 0},    {QByteArray::fromHex("6d726e6e1e5a14"), 320},
            {QByteArray::fromHex("6d726e461e5a14"), 690},  {QByteArray::fromHex("6d726e6e1e5a14"), 1060},
            {QByteArray::fromHex("6d726e5a145a14"), 1430},
        };
        QList<SimProcess::LoggedFrame> received;
        QTRY_VERIFY((received = sim.loggedFrames(QStringLiteral("rx"))).size() >= expected.size());
        QCOMPARE(received.size(), expected.size());
        const qint64 firstUs = received[0].us;
        for (qsizetype k = 0; k < received.size(); ++k) {
            QCOMPARE(received[k].bytes.toHex(' '), expected[k].first.toHex(' '));
            // Never early but for the timer's whole milliseconds and the robot's own reading, which a
            // busy machine may hold up on the first frame; late only as a shared machine makes it.
            const qint64 atMs = (received[k].us - firstUs) / 1000;
            QVERIFY2(atMs >= expected[k].second - 10 && atMs <= expected[k].second + 250,
                     qPrintable(QStringLiteral("move %1 at %2 ms, due at %3 ms").arg(k).arg(atMs).arg(expected[k].second)));
        }
    }

    // What the robot reports once the wait (action 2) has started: an event asked for stops
    // playing with exit 3 before the move after the wait; anything else lets the script end.
    void play_pauseOnStopsWithExit3_data()
    {
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<QString>("robot"); // a line command to orvik-sim
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        const QList<QByteArray> lowBattery{"--pause-on", "low-battery", "--low-battery", "6.5"};
        QTest::newRow("the whisker asked for") << QList<QByteArray>{"--pause-on", "whisker=2"} << QStringLiteral("whisker 2 on") << 3
                                               << QByteArray("orvik: stopped: whisker 2 closed at action 2\n");
        QTest::newRow("any whisker") << QList<QByteArray>{"--pause-on", "whisker"} << QStringLiteral("whisker 4 on") << 3
                                     << QByteArray("orvik: stopped: whisker 4 closed at action 2\n");
        QTest::newRow("either of two") << QList<QByteArray>{"--pause-on", "whisker=1", "--pause-on", "whisker=3"}
                                       << QStringLiteral("whisker 3 on") << 3
                                       << QByteArray("orvik: stopped: whisker 3 closed at action 2\n");
        QTest::newRow("another whisker") << QList<QByteArray>{"--pause-on", "whisker=1"} << QStringLiteral("whisker 2 on") << 0
                                         << QByteArray();
        QTest::newRow("a battery below the level") << lowBattery << QStringLiteral("battery 2 61") << 3
                                                   << QByteArray("orvik: stopped: battery 2 low: 6.1 V at action 2\n");
        QTest::newRow("a battery at the level") << lowBattery << QStringLiteral("battery 2 65") << 0 << QByteArray();
        QTest::newRow("a whisker, not asked for") << lowBattery << QStringLiteral("whisker 1 on") << 0 << QByteArray();
        // A profile's levels are per battery (its ranges let every move of the script through).
        auto profileLevels = [this](const QByteArray &name, int first, int second) {
            Robot_Profile profile = Robot_Profile::builtIn();
            for (int i = 0; i < Robot_Profile::ServoCount; ++i)
                profile.setServo(i, {profile.servo(i).name, 0, 255, profile.servo(i).home});
            profile.setLowBatteryTenths(0, first);
            profile.setLowBatteryTenths(1, second);
            writeFile(path(name), profile.toJson());
            return QList<QByteArray>{"--pause-on", "low-battery", "--profile", path(name)};
        };
        QTest::newRow("the profile's level") << profileLevels("second.json", 0, 65) << QStringLiteral("battery 2 61") << 3
                                             << QByteArray("orvik: stopped: battery 2 low: 6.1 V at action 2\n");
        QTest::newRow("the profile watches the other") << profileLevels("first.json", 65, 0)
                                                       << QStringLiteral("battery 2 61") << 0 << QByteArray();
    }
    void play_pauseOnStopsWithExit3()
    {
        QFETCH(QList<QByteArray>, options);
        QFETCH(QString, robot);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        SimProcess sim;
        QVERIFY(sim.start());
        const QByteArray file = script("pause.sct", "meb;120;10;130;10\nwait;1500\nmeb;45;0;45;0\nend;0");
        QString answer;
        const int code = run(QList<QByteArray>{"--play", file, "--device", sim.link().toUtf8()} + options,
                             [&](const QByteArray &line) {
                                 if (line.startsWith("2 "))
                                     answer = sim.command(robot);
                             });
        QCOMPARE(m_err, message);
        QCOMPARE(answer, QStringLiteral("ok"));
        QCOMPARE(code, exitCode);
        const QByteArray played = "1 meb-120-10-130-10\n2 wait-1500\n";
        QCOMPARE(m_out, exitCode ? played : played + "3 meb-45-0-45-0\n4 end-0\n");
        // Stopped before the move after the wait: the robot never got it.
        QCOMPARE(sim.logged(QStringLiteral("rx"), QByteArray::fromHex("6d65622d002d00")), exitCode == 0);
    }

    // A robot that stops reading (its line's output suspended, as flow control does), from the
    // start or once a line is printed, and one whose line goes away: what --play printed is
    // exactly what the robot gets, and what it took but could not write is told, with a count.
    void play_reportsMovesTheRobotNeverGot_data()
    {
        QTest::addColumn<QByteArray>("actions");
        QTest::addColumn<int>("atLine"); // when the robot's line changes: 0 from the start, or once that line printed
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("message");
        const QByteArray move = "meb;120;10;130;10";
        const QByteArray twelveMoves = QList<QByteArray>(12, move).join('\n') + "\nend;0";
        const QByteArray firstLine = "1 meb-120-10-130-10\n";
        QTest::newRow("at the end") << move + '\n' + move + '\n' + move + "\nend;0" << 0 << QByteArray("stop")
                                    << 1 << QByteArray()
                                    << QByteArray("orvik: 3 moves not sent: the robot was not reading\n");
        QTest::newRow("move refused") << twelveMoves << 0 << QByteArray("stop") << 1 << QByteArray()
                                      << QByteArray("orvik: the robot is not reading; stopped before the first "
                                                    "action; @accepted moves not sent\n");
        QTest::newRow("move refused after one sent")
            << twelveMoves << 1 << QByteArray("stop") << 1 << firstLine
            << QByteArray("orvik: the robot is not reading; stopped at action 1; @accepted moves not sent\n");
        QTest::newRow("stopped by a signal") << move + '\n' + move + '\n' + move + "\nwait;60000\nend;0" << 1
                                             << QByteArray("stop, then SIGTERM") << 143 << firstLine
                                             << QByteArray("orvik: stopped by SIGTERM; 2 moves not sent\n");
        QTest::newRow("line closed") << move + "\nwait;60000\nend;0" << 2 << QByteArray("hang up") << 1
                                     << firstLine + "2 wait-60000\n"
                                     << QByteArray("orvik: the port closed while playing: COM1 (@device): the "
                                                   "robot's line was closed\n");
    }
    void play_reportsMovesTheRobotNeverGot()
    {
        QFETCH(QByteArray, actions);
        QFETCH(int, atLine);
        QFETCH(QByteArray, change);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, message);
        const QByteArray settings = "1200,n,8,1";
        Com line;
        QVERIFY(line.setSettings(QString::fromLatin1(settings)));
        // What the port takes before it refuses, of these 7-byte frames.
        message.replace("@accepted", QByteArray::number(std::max<qint64>(1, line.writeBacklogLimit() / 7)));
        PtyPeer robot;
        message.replace("@device", robot.device().toUtf8());

        const int robotEnd = ::open(QFile::encodeName(robot.device()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(robotEnd >= 0);
        QTimer signalTimer;
        signalTimer.setSingleShot(true);
        signalTimer.callOnTimeout([] { ::raise(SIGTERM); });
        auto act = [&] {
            if (change == "hang up") {
                robot.hangUp();
                return;
            }
            ::tcflow(robotEnd, TCOOFF);
            // Well inside the long wait, after the moves before it.
            if (change.endsWith("SIGTERM"))
                signalTimer.start(1000);
        };
        if (atLine == 0)
            act();
        int lines = 0;
        const int exit = run({"--play", script("stall.sct", actions), "--device", robot.device().toUtf8(), "--settings",
                              settings},
                             [&](const QByteArray &) {
                                 if (++lines == atLine)
                                     act();
                             });
        QCOMPARE(m_err, message);
        QCOMPARE(m_out, output);
        QCOMPARE(exit, exitCode);
        // The line taking bytes again, nothing more reaches the robot than what was printed.
        if (robot.isValid()) {
            QCOMPARE(::tcflow(robotEnd, TCOON), 0);
            QCOMPARE(robot.drain(200).toHex(' '), output.isEmpty() ? QByteArray() : QByteArray("6d 65 62 78 0a 82 0a"));
        }
        ::close(robotEnd);
    }

    // The program itself, looping a script without a display, stopped as a terminal, a service
    // manager, a closed session or a closed pipe (orvik --play ... | head) stops it: with a word,
    // never a silent death, and the port closed properly each time.
    void play_stopsCleanly_data()
    {
        QTest::addColumn<int>("signal"); // 0: the pipe its output goes into closes
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("Ctrl+C") << int(SIGINT) << 130 << QByteArray("orvik: stopped by SIGINT (Ctrl+C)\n");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143 << QByteArray("orvik: stopped by SIGTERM\n");
        QTest::newRow("SIGHUP") << int(SIGHUP) << 129 << QByteArray("orvik: stopped by SIGHUP\n");
        QTest::newRow("output pipe closed") << 0 << 1 << QByteArray("orvik: cannot write the output: Broken pipe\n");
    }
    void play_stopsCleanly()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        PtyPeer robot;
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
        QProcess orvik;
        orvik.setChildProcessModifier([pipe] { ::dup2(pipe[1], STDOUT_FILENO); });
        startOrvik(orvik, {QStringLiteral("--play"), QStringLiteral(ORVIK_EXAMPLES "/nod.sct"),
                           QStringLiteral("--device"), robot.device(), QStringLiteral("--loop")});
        ::close(pipe[1]);
        char line[18] = {};
        QCOMPARE(::read(pipe[0], line, sizeof line), qsizetype(sizeof line));
        QCOMPARE(QByteArray(line, sizeof line), QByteArray("1 mrn-90-20-90-20\n"));
        QCOMPARE(lockFiles(robot.device()).size(), 1);
        if (signal)
            ::kill(pid_t(orvik.processId()), signal);
        else
            ::close(pipe[0]);
        QVERIFY(orvik.waitForFinished(10000));
        if (signal)
            ::close(pipe[0]);
        QCOMPARE(orvik.exitStatus(), QProcess::NormalExit);
        QCOMPARE(orvik.exitCode(), exitCode);
        QCOMPARE(orvik.readAllStandardError(), message);
        QCOMPARE(lockFiles(robot.device()), QStringList());
        QVERIFY(opensAgain(robot.device()));
    }

    // orvik --check good.sct >&-
    void check_failsWithItsOutputClosed()
    {
        QProcess orvik;
        orvik.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
        startOrvik(orvik, {QStringLiteral("--check"), QFile::decodeName(script("good.sct", GoodActions))});
        QVERIFY(orvik.waitForFinished(10000));
        QCOMPARE(orvik.exitCode(), Command_Line::Failure);
        QCOMPARE(orvik.readAllStandardError(), QByteArray("orvik: cannot write the output: Bad file descriptor\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
