#include "app/Command_Line.h"

#include "link/Com.h"
#include "scripts/Script_Check.h"
#include "scripts/Script_File.h"
#include "scripts/Script_Runner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString DefaultSettings = QStringLiteral("57600, n, 8, 1");
constexpr int WriteOutMs = 2000; // how long the last frames may take to leave at the end

QString rowText(const Script_Action &action)
{
    QStringList text{action.Command};
    for (const qint32 value : action.Values)
        text.append(QString::number(value));
    return text.join(u'-');
}

// Ctrl+C turned into a Qt signal on the event loop's thread: the handler only writes a byte
// into a pipe, so playing stops between two steps and never inside a write.
class Interrupt : public QObject
{
    Q_OBJECT

public:
    Interrupt()
    {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            char byte;
            while (::read(s_pipe[0], &byte, 1) == 1) {
            }
            emit requested();
        });
        struct sigaction action{};
        action.sa_handler = [](int) {
            const int savedErrno = errno;
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(s_pipe[1], &byte, 1);
            errno = savedErrno;
        };
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &m_previous);
    }
    ~Interrupt() override
    {
        if (s_pipe[0] < 0)
            return;
        sigaction(SIGINT, &m_previous, nullptr);
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }

signals:
    void requested();

private:
    static inline int s_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_previous{};
};

int check(const QStringList &files, QTextStream &out)
{
    int exitCode = 0;
    for (const QString &file : files) {
        Action_List script;
        Script_Header header;
        QString why;
        if (!Read_Script_File(file, script, header, &why)) {
            out << file << ": cannot be opened: " << why << '\n';
            exitCode = Command_Line::Failure;
            continue;
        }
        const QList<Script_Problem> problems = Check_Script_Actions(script);
        if (problems.isEmpty())
            out << file << ": ok\n";
        for (const Script_Problem &problem : problems)
            out << file << ": action " << problem.Index + 1 << ": " << problem.Text << '\n';
        if (!problems.isEmpty())
            exitCode = Command_Line::Failure;
    }
    out.flush();
    return exitCode;
}

struct PlayOptions
{
    QString file;
    int port = 1;
    QString device;
    QString settings = DefaultSettings;
    bool loop = false;
};

int play(const PlayOptions &options, QTextStream &out, QTextStream &err)
{
    auto fail = [&err](const QString &text) {
        err << "orvik: " << text << '\n';
        err.flush();
        return Command_Line::Failure;
    };

    Action_List script;
    Script_Header header;
    QString why;
    if (!QFileInfo(options.file).isFile())
        return fail(QStringLiteral("the script \"%1\" does not exist").arg(options.file));
    if (!Read_Script_File(options.file, script, header, &why))
        return fail(QStringLiteral("the script \"%1\" cannot be opened: %2").arg(options.file, why));
    if (script.Nb_Action <= 0)
        return fail(QStringLiteral("the script \"%1\" has no action to play").arg(options.file));
    for (const Script_Problem &problem : Check_Script_Actions(script))
        err << "orvik: warning: action " << problem.Index + 1 << ": " << problem.Text << '\n';
    err.flush();

    // A device named here stands for the port number, as ORVIK_COMn does for the window.
    if (!options.device.isEmpty())
        qputenv(qPrintable(QStringLiteral("ORVIK_COM%1").arg(options.port)), QFile::encodeName(options.device));
    Com com;
    if (!com.setSettings(options.settings) || !com.setCommPort(options.port) || !com.setPortOpen(true))
        return fail(QStringLiteral("cannot open the port: %1").arg(com.errorDescription()));

    Script_Runner runner(com);
    runner.setScript(script);
    runner.setLoop(options.loop);
    Interrupt interrupt;
    QEventLoop loop;
    int exitCode = 0;

    QObject::connect(&runner, &Script_Runner::actionStarted, &loop, [&](qint32 index) {
        // The line went away while playing (cable pulled): the rest would go nowhere.
        if (!com.PortOpen()) {
            runner.halt();
            exitCode = fail(QStringLiteral("the port closed while playing: %1").arg(com.errorDescription()));
            loop.quit();
            return;
        }
        out << index + 1 << ' ' << rowText(runner.script().Actions.at(index)) << '\n';
        out.flush();
    });
    QObject::connect(&runner, &Script_Runner::finished, &loop, [&] {
        if (!runner.isPlaying())
            loop.quit();
    });
    QObject::connect(&runner, &Script_Runner::refused, &loop, [&](const Script_Action &action, const QString &reason) {
        exitCode = fail(QStringLiteral("action %1 cannot be sent to the robot: %2").arg(action.Number).arg(reason));
        loop.quit();
    });
    QObject::connect(&runner, &Script_Runner::stalled, &loop, [&](qint32 index) {
        exitCode = fail(QStringLiteral("the robot is not reading; stopped at action %1").arg(index + 1));
        loop.quit();
    });
    QObject::connect(&interrupt, &Interrupt::requested, &loop, [&] {
        runner.halt();
        err << "orvik: stopped\n";
        err.flush();
        exitCode = Command_Line::Interrupted;
        loop.quit();
    });

    runner.play();
    loop.exec();
    runner.halt();

    // Let the frames already accepted reach the line before the port closes.
    const QDeadlineTimer deadline(WriteOutMs);
    while (com.PortOpen() && com.OutBufferCount() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    com.setPortOpen(false);
    return exitCode;
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

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Orvik Serial Interface: the control panel of an Orvik robot. "
                                                    "Without options it opens its window."));
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
                                                                               "until Ctrl+C."));
    parser.addOptions({checkOption, playOption, portOption, deviceOption, settingsOption, loopOption});
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Scripts to check (.sct)."),
                                 QStringLiteral("[FILE.sct...]"));

    auto usage = [&err](const QString &text) {
        err << "orvik: " << text << "\nTry: orvik --help\n";
        err.flush();
        return Usage;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out << parser.helpText();
        out.flush();
        return 0;
    }
    if (parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        out.flush();
        return 0;
    }
    if (parser.isSet(checkOption) == parser.isSet(playOption))
        return usage(QStringLiteral("give either --check or --play"));
    if (parser.isSet(checkOption)) {
        if (parser.positionalArguments().isEmpty())
            return usage(QStringLiteral("--check needs at least one script"));
        return check(parser.positionalArguments(), out);
    }

    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("--play takes one script"));
    PlayOptions options;
    options.file = parser.value(playOption);
    bool number = false;
    options.port = parser.value(portOption).toInt(&number);
    if (!number || options.port < 1 || options.port > 4)
        return usage(QStringLiteral("--port takes 1 to 4, not \"%1\"").arg(parser.value(portOption)));
    options.device = parser.value(deviceOption);
    options.settings = parser.value(settingsOption);
    options.loop = parser.isSet(loopOption);
    return play(options, out, err);
}

} // namespace Command_Line

#include "Command_Line.moc"
