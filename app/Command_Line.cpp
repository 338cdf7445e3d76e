#include "app/Command_Line.h"

#include "link/Com.h"
#include "link/File_Kind.h"
#include "link/Frames.h"
#include "link/Robot_Profile.h"
#include "scripts/Script_Check.h"
#include "scripts/Script_File.h"
#include "scripts/Script_Runner.h"
#include "sensors/Sensor_Watch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString DefaultSettings = QStringLiteral("57600, n, 8, 1");
// Beyond the queue's own line time, for what the end of a script may still have to write:
// the driver of a real serial line takes bytes no faster than the line sends them.
constexpr int WriteOutMarginMs = 1000;

// An argument as text without losing a byte: valid UTF-8 is decoded, and any other byte b
// becomes the lone surrogate U+DC00 + b, which no valid UTF-8 decodes to, so argumentBytes()
// gives the very bytes back (the way Python keeps file names). A name that is not valid text
// then opens, and prints, as given.
QString argumentText(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto lead = uchar(bytes[i]);
        if (lead < 0x80) {
            text += QChar(lead);
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        char32_t least = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, least = 0x10000;
        }
        bool valid = length > 0 && i + length <= bytes.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = uchar(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode are not valid UTF-8.
        valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            text += QChar(char16_t(0xDC00 + lead));
            ++i;
            continue;
        }
        text += QChar::fromUcs4(code);
        i += length;
    }
    return text;
}

QByteArray argumentBytes(QStringView text)
{
    QByteArray bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0xDC80 || c > 0xDCFF || (i > 0 && text[i - 1].isHighSurrogate()))
            continue;
        bytes += text.sliced(start, i - start).toUtf8();
        bytes += char(c - 0xDC00);
        start = i + 1;
    }
    bytes += text.sliced(start).toUtf8();
    return bytes;
}

// Standard output or error. Every write goes out at once, so a failure (a full disk, a
// closed pipe, a closed descriptor) shows at the write that met it; after one, nothing more
// is written and the error stays.
class Console
{
public:
    explicit Console(QIODevice &device)
        : m_device(device)
    {
    }

    bool print(const QString &text)
    {
        if (failed())
            return false;
        const QByteArray bytes = argumentBytes(text);
        if (m_device.write(bytes) == bytes.size())
            return true;
        m_error = m_device.errorString();
        if (m_error.isEmpty() || m_error == u"Unknown error")
            m_error = QStringLiteral("not all of it could be written");
        return false;
    }
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }

private:
    QIODevice &m_device;
    QString m_error;
};

int outputFailed(const Console &out, Console &err)
{
    err.print(QStringLiteral("orvik: cannot write the output: %1\n").arg(out.error()));
    return Command_Line::Failure;
}

QString movesText(int moves)
{
    return moves == 1 ? QStringLiteral("1 move") : QStringLiteral("%1 moves").arg(moves);
}

// What follows a message when moves the port took never left; nothing when none.
QString unsentText(int moves)
{
    return moves > 0 ? QStringLiteral("; %1 not sent").arg(movesText(moves)) : QString();
}

QString rowText(const Script_Action &action)
{
    QStringList text{action.Command};
    for (const qint32 value : action.Values)
        text.append(QString::number(value));
    return text.join(u'-');
}

// As the runner decides it: a move is written to the robot as a frame, anything else is not.
bool isMove(const Script_Action &action)
{
    for (const Frames::Kind &kind : Frames::Moves) {
        if (action.Command == QLatin1StringView(kind.mnemonic.data(), qsizetype(kind.mnemonic.size())))
            return true;
    }
    return false;
}

// Opens and reads a script named on the command line. On failure, problem says what is
// wrong in words that follow the file's name: "does not exist", "is a directory" ...
bool readScript(const QString &name, Action_List &script, Script_Header &header, QString &problem)
{
    const QByteArray path = argumentBytes(name);
    auto kindProblem = [](mode_t mode) {
        return S_ISDIR(mode) ? QStringLiteral("is a directory")
                             : QStringLiteral("is %1, not a script file").arg(File_Kind::of(mode));
    };
    struct stat info{};
    if (::stat(path.constData(), &info) != 0) {
        problem = errno == ENOENT ? QStringLiteral("does not exist")
                                  : QStringLiteral("cannot be opened: %1").arg(qt_error_string(errno));
        return false;
    }
    // Looked at before opening: opening a pipe waits for a writer, opening a device may act on it.
    if (!S_ISREG(info.st_mode)) {
        problem = kindProblem(info.st_mode);
        return false;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        problem = QStringLiteral("cannot be opened: %1").arg(qt_error_string(errno));
        return false;
    }
    // It may have been replaced between the two looks.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = kindProblem(info.st_mode);
        ::close(fd);
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        problem = QStringLiteral("cannot be opened: %1").arg(file.errorString());
        ::close(fd);
        return false;
    }
    QString why;
    if (!Read_Script_File(file, script, header, &why)) {
        problem = QStringLiteral("cannot be opened: %1").arg(why);
        return false;
    }
    // --play has nothing to send, so --check calls it a problem too.
    if (script.Nb_Action <= 0) {
        problem = QStringLiteral("has no action to play");
        return false;
    }
    return true;
}

int check(const QStringList &files, const Robot_Profile &profile, Console &out, Console &err)
{
    int exitCode = 0;
    for (const QString &file : files) {
        Action_List script;
        Script_Header header;
        QString problem;
        QString text;
        if (!readScript(file, script, header, problem)) {
            text = QStringLiteral("%1: %2\n").arg(file, problem);
            exitCode = Command_Line::Failure;
        } else {
            const QList<Script_Problem> problems = Check_Script_Actions(script, profile);
            if (problems.isEmpty())
                text = file + QStringLiteral(": ok\n");
            for (const Script_Problem &each : problems)
                text += QStringLiteral("%1: action %2: %3\n").arg(file).arg(each.Index + 1).arg(each.Text);
            if (!problems.isEmpty())
                exitCode = Command_Line::Failure;
        }
        if (!out.print(text))
            return outputFailed(out, err);
    }
    return exitCode;
}

// SIGINT, SIGTERM and SIGHUP turned into a Qt signal on the event loop's thread: the handler
// only writes the signal's number into a pipe, so playing stops between two steps and never
// inside a write, and the port is closed properly, its lock released.
class Stop_Signals : public QObject
{
    Q_OBJECT

public:
    static constexpr int Handled[] = {SIGINT, SIGTERM, SIGHUP};

    Stop_Signals()
    {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            s_pipe[0] = s_pipe[1] = -1;
            return;
        }
        auto *notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            if (const int signal = take())
                emit caught(signal);
        });
        struct sigaction action{};
        action.sa_handler = [](int signal) {
            const int savedErrno = errno;
            const char byte = char(signal);
            [[maybe_unused]] const ssize_t n = ::write(s_pipe[1], &byte, 1);
            errno = savedErrno;
        };
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int i = 0; i < int(std::size(Handled)); ++i)
            sigaction(Handled[i], &action, &m_previous[i]);
    }
    ~Stop_Signals() override
    {
        if (s_pipe[0] < 0)
            return;
        for (int i = 0; i < int(std::size(Handled)); ++i)
            sigaction(Handled[i], &m_previous[i], nullptr);
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }

    // The first signal caught since the last call, or 0; waits that run no event loop ask here.
    int take()
    {
        int signal = 0;
        char byte;
        while (s_pipe[0] >= 0 && ::read(s_pipe[0], &byte, 1) == 1) {
            if (signal == 0)
                signal = byte;
        }
        return signal;
    }

    static QString name(int signal)
    {
        switch (signal) {
        case SIGINT:
            return QStringLiteral("SIGINT (Ctrl+C)");
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        case SIGHUP:
            return QStringLiteral("SIGHUP");
        }
        return QStringLiteral("signal %1").arg(signal);
    }

signals:
    void caught(int signal);

private:
    static inline int s_pipe[2] = {-1, -1};
    struct sigaction m_previous[std::size(Handled)]{};
};

// What --play prints: an action's line once it has reached the robot's line. A move's line
// waits for its frame to be written, and the lines after it wait with it, so the output never
// claims a move the robot did not get and keeps the script's order.
class Play_Log
{
public:
    Play_Log(const Action_List &script, Console &out)
        : m_script(script)
        , m_out(out)
    {
    }

    void started(qint32 index)
    {
        m_pending.push_back({index, isMove(m_script.Actions.at(index)), false});
        release();
    }
    // The action last started was a move the port did not take.
    void withdrawn()
    {
        if (!m_pending.empty())
            m_pending.pop_back();
    }
    // The oldest move not written yet has been written.
    void frameWritten()
    {
        for (Entry &entry : m_pending) {
            if (entry.move && !entry.written) {
                entry.written = true;
                break;
            }
        }
        release();
    }

    // The number of the last action that reached the line, 0 before the first.
    qint32 lastSent() const { return m_lastSent; }
    // Moves the port took whose frame has not been written.
    int unsent() const
    {
        return int(std::count_if(m_pending.begin(), m_pending.end(),
                                 [](const Entry &entry) { return entry.move && !entry.written; }));
    }

private:
    struct Entry
    {
        qint32 index;
        bool move;
        bool written;
    };

    void release()
    {
        while (!m_pending.empty() && (!m_pending.front().move || m_pending.front().written)) {
            const qint32 index = m_pending.front().index;
            m_pending.pop_front();
            m_lastSent = index + 1;
            m_out.print(QStringLiteral("%1 %2\n").arg(index + 1).arg(rowText(m_script.Actions.at(index))));
        }
    }

    const Action_List &m_script;
    Console &m_out;
    std::deque<Entry> m_pending;
    qint32 m_lastSent = 0;
};

struct PlayOptions
{
    QString file;
    int port = 1;
    QString device;
    QString settings = DefaultSettings;
    bool loop = false;
    Robot_Profile profile = Robot_Profile::builtIn();
    Pause_Rule pause;
    std::array<int, 2> lowBatteryTenths{};
};

// The batteries are asked for as often as the window's poll asks.
constexpr int BatteryPollMs = 500;

int play(const PlayOptions &options, Console &out, Console &err)
{
    auto fail = [&err](const QString &text) {
        err.print(QStringLiteral("orvik: %1\n").arg(text));
        return Command_Line::Failure;
    };

    Action_List script;
    Script_Header header;
    QString problem;
    if (!readScript(options.file, script, header, problem))
        return fail(QStringLiteral("the script \"%1\" %2").arg(options.file, problem));
    for (const Script_Problem &each : Check_Script_Actions(script, options.profile))
        err.print(QStringLiteral("orvik: warning: action %1: %2\n").arg(each.Index + 1).arg(each.Text));

    // From here on a stop signal closes the port properly, even one that comes while it opens.
    Stop_Signals stopSignals;
    // A device named here stands for the port number, as ORVIK_COMn does for the window.
    if (!options.device.isEmpty())
        qputenv(qPrintable(QStringLiteral("ORVIK_COM%1").arg(options.port)), argumentBytes(options.device));
    Com com;
    const bool watching = options.pause.whiskers != 0 || options.pause.onLowBattery;
    // Replies are read only when something is watched: the whiskers come on their own.
    if (watching && !(com.setInputLen(0) && com.setRThreshold(1)))
        return fail(com.errorDescription());
    if (!com.setSettings(options.settings) || !com.setCommPort(options.port) || !com.setPortOpen(true))
        return fail(QStringLiteral("cannot open the port: %1").arg(com.errorDescription()));

    // The steps run on the line's thread, so that a slow reader of the output never holds one up.
    const auto deleteOnLine = [&com](Script_Runner *runner) { com.runOnLine([runner] { delete runner; }); };
    const std::unique_ptr<Script_Runner, decltype(deleteOnLine)> onLine(new Script_Runner(com), deleteOnLine);
    Script_Runner &runner = *onLine;
    runner.setScript(script);
    runner.setLoop(options.loop);
    runner.setProfile(options.profile);
    com.adopt(&runner);
    Play_Log log(runner.script(), out);
    QEventLoop loop;

    enum class End { Playing, Finished, Refused, Stalled, Signal, OutputFailed, LineClosed, SensorStop };
    End end = End::Playing;
    int signal = 0;
    QString refusal;
    QString sensorStop;
    qint32 lastStarted = 0;
    auto stop = [&](End why) {
        if (end != End::Playing)
            return;
        end = why;
        runner.halt();
        loop.quit();
    };
    auto checkOutput = [&] {
        if (out.failed())
            stop(End::OutputFailed);
    };
    // The line went away (cable pulled): the rest would go nowhere.
    auto checkLine = [&] {
        if (!com.PortOpen())
            stop(End::LineClosed);
    };

    QObject::connect(&runner, &Script_Runner::actionStarted, &loop, [&](qint32 index) {
        checkLine();
        if (end != End::Playing)
            return;
        lastStarted = index + 1;
        log.started(index);
        checkOutput();
    });
    const QByteArray batteryQuery = Frames::frame(Frames::BatteriesQuery);
    QObject::connect(&com, &Com::written, &loop, [&](const QByteArray &bytes) {
        // The poll's queries are not the script's moves.
        if (bytes == batteryQuery)
            return;
        log.frameWritten();
        checkOutput();
    });
    QObject::connect(&runner, &Script_Runner::finished, &loop, [&] {
        if (!runner.isPlaying())
            stop(End::Finished);
    });
    QObject::connect(&runner, &Script_Runner::refused, &loop, [&](const Script_Action &action, const QString &reason) {
        log.withdrawn();
        refusal = QStringLiteral("action %1 cannot be sent to the robot: %2").arg(action.Number).arg(reason);
        stop(End::Refused);
    });
    QObject::connect(&runner, &Script_Runner::stalled, &loop, [&] {
        log.withdrawn();
        stop(End::Stalled);
    });
    QObject::connect(&com, &Com::notSent, &loop, checkLine);
    QObject::connect(&stopSignals, &Stop_Signals::caught, &loop, [&](int caught) {
        signal = caught;
        stop(End::Signal);
    });
    Sys_Project replies;
    Sensor_Watch watch;
    Battery_Thresholds thresholds;
    thresholds.tenths = options.lowBatteryTenths;
    watch.setThresholds(thresholds);
    QObject::connect(&com, &Com::OnComm, &loop, [&] {
        const QByteArray bytes = com.Input();
        for (const char byte : bytes) {
            const std::optional<Sys_Project::Reply> reply = replies.receive(quint8(byte));
            if (!reply || end != End::Playing)
                continue;
            for (const Sensor_Event &event : watch.take(*reply)) {
                if (!options.pause.pausesOn(event))
                    continue;
                sensorStop = QStringLiteral("%1 %2").arg(event.text(), lastStarted > 0
                                                                          ? QStringLiteral("at action %1").arg(lastStarted)
                                                                          : QStringLiteral("before the first action"));
                stop(End::SensorStop);
                break;
            }
        }
    });
    QTimer batteryPoll;
    batteryPoll.callOnTimeout(&loop, [&] { com.Output(batteryQuery); });
    if (options.pause.onLowBattery) {
        com.Output(batteryQuery);
        batteryPoll.start(BatteryPollMs);
    }

    // A hang-up during a long wait is told at once, not when the wait ends.
    QTimer lineWatch;
    lineWatch.callOnTimeout(&loop, checkLine);
    lineWatch.start(100);

    runner.play();
    loop.exec();
    runner.halt();
    lineWatch.stop();
    batteryPoll.stop();

    // What the port took goes out before it closes (for a bounded time, the waits answering a
    // signal), unless the operator stopped playing: the robot should stop, not finish the
    // backlog; nor after a whisker or a low battery stopped it. Nor does it when nobody can see
    // what went out.
    if (end == End::Finished || end == End::Refused || end == End::Stalled) {
        const QDeadlineTimer deadline(com.writeOutMs() + WriteOutMarginMs);
        while (!com.writeOut(int(std::min<qint64>(deadline.remainingTime(), 50))) && com.PortOpen()
               && !deadline.hasExpired() && !out.failed()) {
            if (const int caught = stopSignals.take()) {
                signal = caught;
                end = End::Signal;
                break;
            }
        }
        if (out.failed() && end != End::Signal)
            end = End::OutputFailed;
    }
    // Whole frames only: a frame the robot has the start of is finished first.
    com.discardQueued();
    com.setPortOpen(false);

    const QString unsent = unsentText(log.unsent());
    switch (end) {
    case End::Playing:
    case End::Finished:
        if (log.unsent() > 0)
            return fail(QStringLiteral("%1 not sent: the robot was not reading").arg(movesText(log.unsent())));
        return 0;
    case End::Refused:
        return fail(refusal + unsent);
    case End::Stalled:
        return fail(QStringLiteral("the robot is not reading; stopped %1%2")
                        .arg(log.lastSent() > 0 ? QStringLiteral("at action %1").arg(log.lastSent())
                                                : QStringLiteral("before the first action"),
                             unsent));
    case End::Signal:
        fail(QStringLiteral("stopped by %1%2").arg(Stop_Signals::name(signal), unsent));
        return Command_Line::stoppedBy(signal);
    case End::OutputFailed:
        return fail(QStringLiteral("cannot write the output: %1%2").arg(out.error(), unsent));
    case End::LineClosed:
        return fail(QStringLiteral("the port closed while playing: %1%2").arg(com.errorDescription(), unsent));
    case End::SensorStop:
        fail(QStringLiteral("stopped: %1%2").arg(sensorStop, unsent));
        return Command_Line::SensorStop;
    }
    return Command_Line::Failure;
}

} // namespace

namespace Command_Line {

bool wanted(int argc, const char *const *argv)
{
    static constexpr const char *Options[] = {"--check", "--play", "--help", "-h", "-?", "--help-all", "--version", "-v"};
    for (int i = 1; i < argc; ++i) {
        for (const char *option : Options) {
            if (std::strcmp(argv[i], option) == 0 || std::strncmp(argv[i], "--play=", 7) == 0)
                return true;
        }
    }
    return false;
}

void reserveStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

int run(const QList<QByteArray> &arguments, QIODevice &outDevice, QIODevice &errDevice)
{
    Console out(outDevice);
    Console err(errDevice);
    QStringList texts;
    for (const QByteArray &argument : arguments)
        texts.append(argumentText(argument));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Orvik Serial Interface: the control panel of an Orvik robot.\n"
                       "Without options it opens its window.\n\n"
                       "--play prints each action once it reached the robot's line, and at the end\n"
                       "waits for the moves still queued to be written.\n\n"
                       "Exit status: 0 when all went well; 1 on a problem in a script, a failure,\n"
                       "moves not sent or output that cannot be written; 2 on a wrong command line;\n"
                       "3 when --pause-on stopped --play; 130, 143 or 129 when Ctrl+C, SIGTERM or\n"
                       "SIGHUP stopped --play."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption checkOption(QStringLiteral("check"), QStringLiteral("Print the problems of each script "
                                                                                 "given (or \"ok\") and exit 1 when "
                                                                                 "one has a problem."));
    const QCommandLineOption playOption(QStringLiteral("play"), QStringLiteral("Play a script on the robot, without "
                                                                               "a window."),
                                        QStringLiteral("file"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Serial port 1 to 4 (default 1)."),
                                        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Device to use for the port, such as /dev/ttyUSB0."),
                                          QStringLiteral("path"));
    const QCommandLineOption settingsOption(QStringLiteral("settings"),
                                            QStringLiteral("Line settings (default \"%1\").").arg(DefaultSettings),
                                            QStringLiteral("text"), DefaultSettings);
    const QCommandLineOption loopOption(QStringLiteral("loop"), QStringLiteral("Play the script again and again "
                                                                               "until stopped (Ctrl+C)."));
    const QCommandLineOption profileOption(QStringLiteral("profile"),
                                           QStringLiteral("Robot profile whose ranges every move must keep to "
                                                          "(the file the profile window saves)."),
                                           QStringLiteral("file"));
    const QCommandLineOption pauseOption(QStringLiteral("pause-on"),
                                         QStringLiteral("Stop playing (exit 3) when whisker N closes (any whisker "
                                                        "without =N), or when a battery falls below --low-battery "
                                                        "or the --profile's low level; "
                                                        "may be given more than once."),
                                         QStringLiteral("whisker[=N]|low-battery"));
    const QCommandLineOption lowBatteryOption(QStringLiteral("low-battery"),
                                              QStringLiteral("The level below which a battery is low, for "
                                                             "--pause-on low-battery (the batteries are then "
                                                             "read every half second)."),
                                              QStringLiteral("volts"));
    parser.addOptions({checkOption, playOption, portOption, deviceOption, settingsOption, loopOption, pauseOption,
                       lowBatteryOption, profileOption});
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Scripts to check (.sct)."),
                                 QStringLiteral("[FILE.sct...]"));

    auto usage = [&err](const QString &text) {
        err.print(QStringLiteral("orvik: %1\nTry: orvik --help\n").arg(text));
        return Usage;
    };
    auto print = [&](const QString &text) {
        return out.print(text) ? 0 : outputFailed(out, err);
    };
    if (!parser.parse(texts))
        return usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        return print(parser.helpText());
    if (parser.isSet(version))
        return print(QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                   QCoreApplication::applicationVersion()));
    if (parser.isSet(checkOption) == parser.isSet(playOption))
        return usage(QStringLiteral("give either --check or --play"));
    Robot_Profile profile = Robot_Profile::builtIn();
    if (parser.isSet(profileOption)) {
        const QString name = parser.value(profileOption);
        QString why;
        const std::optional<Robot_Profile> read = Robot_Profile::load(QFile::decodeName(argumentBytes(name)), &why);
        if (!read) {
            err.print(QStringLiteral("orvik: the profile \"%1\" cannot be used: %2\n").arg(name, why));
            return Failure;
        }
        profile = *read;
    }
    if (parser.isSet(checkOption)) {
        for (const QCommandLineOption &playOnly :
             {portOption, deviceOption, settingsOption, loopOption, pauseOption, lowBatteryOption}) {
            if (parser.isSet(playOnly))
                return usage(QStringLiteral("--%1 is for --play, not --check").arg(playOnly.names().constFirst()));
        }
        if (parser.positionalArguments().isEmpty())
            return usage(QStringLiteral("--check needs at least one script"));
        return check(parser.positionalArguments(), profile, out, err);
    }

    if (!parser.positionalArguments().isEmpty() || parser.values(playOption).size() > 1)
        return usage(QStringLiteral("--play takes one script"));
    PlayOptions options;
    options.file = parser.value(playOption);
    bool number = false;
    options.port = parser.value(portOption).toInt(&number);
    if (!number || options.port < 1 || options.port > 4)
        return usage(QStringLiteral("--port takes 1 to 4, not \"%1\"").arg(parser.value(portOption)));
    options.device = parser.value(deviceOption);
    if (parser.isSet(deviceOption) && options.device.isEmpty())
        return usage(QStringLiteral("--device needs a device"));
    options.settings = parser.value(settingsOption);
    QString why;
    if (!Com::LineSettings::parse(options.settings, &why))
        return usage(why);
    options.loop = parser.isSet(loopOption);
    options.profile = profile;
    for (const QString &event : parser.values(pauseOption)) {
        const QString whiskerPrefix = QStringLiteral("whisker=");
        const int whisker = event.startsWith(whiskerPrefix) ? event.sliced(whiskerPrefix.size()).toInt(&number) : 0;
        if (event == u"whisker")
            options.pause.whiskers = Pause_Rule::AnyWhisker;
        else if (event.startsWith(whiskerPrefix) && number && whisker >= 1 && whisker <= 4)
            options.pause.whiskers |= quint8(1u << (whisker - 1));
        else if (event == u"low-battery")
            options.pause.onLowBattery = true;
        else
            return usage(QStringLiteral("--pause-on takes whisker, whisker=N (N 1 to 4) or low-battery, not \"%1\"")
                             .arg(event));
    }
    if (parser.isSet(lowBatteryOption) && !options.pause.onLowBattery)
        return usage(QStringLiteral("--low-battery is for --pause-on low-battery"));
    for (int k = 0; k < Robot_Profile::BatteryCount; ++k)
        options.lowBatteryTenths[size_t(k)] = profile.lowBatteryTenths(k);
    if (options.pause.onLowBattery && !parser.isSet(lowBatteryOption) && !profile.watchesBatteries())
        return usage(QStringLiteral("--pause-on low-battery needs --low-battery VOLTS, or a --profile that sets a "
                                    "low battery level"));
    // Given on the command line, the level holds for both batteries over the profile's.
    if (parser.isSet(lowBatteryOption)) {
        // Read with a dot for decimals, as a script's numbers on a command line usually are.
        const double volts = parser.value(lowBatteryOption).toDouble(&number);
        const std::optional<int> tenths = Battery_Thresholds::tenthsFromVolts(volts);
        if (!number || !tenths || *tenths <= 0)
            return usage(QStringLiteral("--low-battery takes volts from 0.1 to 25.5, not \"%1\"")
                             .arg(parser.value(lowBatteryOption)));
        options.lowBatteryTenths.fill(*tenths);
    }
    return play(options, out, err);
}

} // namespace Command_Line

#include "Command_Line.moc"
