#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

struct Stat
{
    pid_t parent = 0;
    char state = 0;
};

// The parent and the state of a process, from /proc; nothing when it is not there.
std::optional<Stat> statOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The name in brackets may hold blanks and brackets: the fields start after the last one.
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.sliced(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    return Stat{pid_t(fields[1].toInt()), fields[0].front()};
}

QByteArray nameOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// The child of parent running the named program, or 0.
pid_t childNamed(pid_t parent, const QByteArray &name)
{
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        const auto stat = number ? statOf(pid) : std::nullopt;
        if (stat && stat->parent == parent && nameOf(pid) == name)
            return pid;
    }
    return 0;
}

bool stillRuns(pid_t pid, const QByteArray &name)
{
    const auto stat = statOf(pid);
    return stat && stat->state != 'Z' && nameOf(pid) == name;
}

} // namespace

// make run's script with the virtual robot, stopped as an operator stops it: its folder and
// both programs must go, however many signals arrive while it cleans up.
class TestRunScript : public QObject
{
    Q_OBJECT

public:
    enum class Target { Script, Group, Program };
    Q_ENUM(Target)

private slots:
    void stopsBothProgramsAndRemovesItsFolder_data();
    void stopsBothProgramsAndRemovesItsFolder();
};

void TestRunScript::stopsBothProgramsAndRemovesItsFolder_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("exitCode");

    // Script and Group keep signalling until the script has gone: a second Ctrl+C or TERM
    // lands in the middle of the cleanup. The whole group is what Ctrl+C at a terminal reaches.
    QTest::newRow("TERM again and again to the script") << Target::Script << SIGTERM << 128 + SIGTERM;
    QTest::newRow("HUP again and again to the script") << Target::Script << SIGHUP << 128 + SIGHUP;
    QTest::newRow("Ctrl+C again and again") << Target::Group << SIGINT << 128 + SIGINT;
    QTest::newRow("one Ctrl+C reaching only the program") << Target::Program << SIGINT << 128 + SIGINT;
}

void TestRunScript::stopsBothProgramsAndRemovesItsFolder()
{
    QFETCH(Target, target);
    QFETCH(int, signalNumber);
    QFETCH(int, exitCode);

    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("ORVIK_COM1"));

    QProcess script;
    script.setProcessEnvironment(environment);
    script.setProgram(QStringLiteral(ORVIK_RUN_SCRIPT));
    script.setArguments({QStringLiteral(ORVIK_BUILD_DIR)});
    // As a shell starts a foreground job: a process group of its own, signals at their defaults.
    script.setChildProcessModifier([] {
        ::setpgid(0, 0);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGQUIT, SIG_DFL);
    });
    script.start();
    QVERIFY(script.waitForStarted(5000));
    const pid_t pid = pid_t(script.processId());
    const auto cleanUp = qScopeGuard([&] {
        ::kill(-pid, SIGKILL);
        script.waitForFinished(5000);
    });

    pid_t program = 0;
    pid_t robot = 0;
    QTRY_VERIFY_WITH_TIMEOUT((program = childNamed(pid, "orvik")) && (robot = childNamed(pid, "orvik-sim")), 30000);

    const QDeadlineTimer deadline(20000);
    if (target == Target::Program) {
        ::kill(program, signalNumber);
        script.waitForFinished(int(deadline.remainingTime()));
    } else {
        const pid_t receiver = target == Target::Group ? -pid : pid;
        while (script.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            ::kill(receiver, signalNumber);
            script.waitForFinished(2);
        }
    }
    QCOMPARE(script.state(), QProcess::NotRunning);
    QCOMPARE(script.exitStatus(), QProcess::NormalExit);
    QCOMPARE(script.exitCode(), exitCode);

    QTRY_VERIFY_WITH_TIMEOUT(!stillRuns(program, "orvik"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!stillRuns(robot, "orvik-sim"), 10000);
    QCOMPARE(QDir(runtime.path()).entryList({QStringLiteral("orvik-run.*")}, QDir::Dirs), QStringList());
}

QTEST_GUILESS_MAIN(TestRunScript)
#include "tst_run_script.moc"
