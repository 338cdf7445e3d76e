// Soak: the program's main window, offscreen, against the virtual robot on a faulty line for a
// long while, with the sensor poll on and a looping script playing; an operator stand-in
// presses APPLY, START READING and play again whenever the faults stopped them. At the end it
// prints what was sent, taken and lost, the resident memory and the CPU share, and fails when
// memory grew, a frame or reply was lost that the faults do not explain, or the program was
// busy while idle.
//
//   soak --sim PATH [--minutes M] [--seed N] [--fault FAULT]...
//
// Exit codes: 0 all held, 1 a check failed, 2 the soak could not run.

#include "link/Com.h"
#include "panel/Frm_Main.h"
#include "scripts/Frm_Script_Player.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <array>
#include <cstdio>
#include <deque>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qint64 MemoryGrowthLimit = 2 * 1024 * 1024;
constexpr double IdleCpuLimit = 0.05;
constexpr int IdleSeconds = 10;
constexpr int EventLoopStallLimitMs = 2000;
// A hang-up may cut the frames the line still held: those written shortly before the program
// saw the line go. Frames taken but never written are not lost: the program reports them.
constexpr qint64 AtRiskMs = 1000;
constexpr std::array<int, 4> Analogues{100, 200, 300, 400}; // the robot's default readings
// Every so often the robot stops reading while the operator keeps pressing SEND: enough presses
// to fill the terminal's kernel buffer (about 20 KB) and the program's own queue, so that
// presses are refused, and each frame taken is either delivered or reported as not sent.
constexpr int BurstEveryMs = 41000;
constexpr int BurstPresses = 2600;
const QByteArray MouthFrame = QByteArray("mrm") + QByteArray::fromHex("2d002d002d002d00");

// The faults of the soak: a little of everything, the timed ones on periods that rarely meet.
const QStringList DefaultFaults{"drop=0.005", "duplicate=0.005", "corrupt=0.005", "garbage=7s", "stop-reading=67s:3s",
                         "hangup=97s:2s"};

// Half a second per move, with waits between: the kind of script an operator leaves looping.
const QByteArray Script = "[GENERAL]\r\nsoftware=ORVIK\r\nName=Soak\r\nDate=06-12-2026\r\n[COMMANDS]\r\nnb_action=9\r\n"
                          "action_1=mrn;90;20;90;20\r\naction_2=wait;250\r\n"
                          "action_3=meb;120;10;130;10\r\naction_4=wait;250\r\n"
                          "action_5=mla;100;20;110;20;120;20\r\naction_6=wait;250\r\n"
                          "action_7=mrn;110;30;70;30\r\naction_8=wait;250\r\naction_9=end;0\r\n";

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

qint64 cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// Answers every message box with OK, and every file chooser with the soak's script.
class SoakDialogs : public Dialogs
{
public:
    QString script;
    int messages = 0;
    QString lastMessage;

    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return script; }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }

protected:
    QMessageBox::StandardButton showMessage(QWidget *, const Message &message) override
    {
        ++messages;
        lastMessage = message.text;
        return QMessageBox::Ok;
    }
};

class Soak
{
public:
    Soak(QString simPath, double minutes, quint32 seed, QStringList faults)
        : m_simPath(std::move(simPath)), m_minutes(minutes), m_seed(seed), m_faults(std::move(faults))
    {
    }

    int run();

private:
    bool startSim();
    QString simCommand(const QString &line);
    void housekeeping();
    bool isTrue(const Sys_Project::Reply &reply) const;
    void waitEvents(int ms);
    void burst();

    QString m_simPath;
    double m_minutes;
    quint32 m_seed;
    QStringList m_faults;
    QTemporaryDir m_dir;
    QProcess m_sim;
    QByteArray m_simOutput;
    std::unique_ptr<Frm_Main> m_main;
    SoakDialogs *m_dialogs = nullptr;
    std::unique_ptr<Frm_Script_Player> m_player;
    QElapsedTimer m_clock;

    qint64 m_framesSent = 0;
    qint64 m_framesNotSent = 0; // taken, then reported as not sent
    qint64 m_stalls = 0;
    qint64 m_bursts = 0;
    qint64 m_burstTaken = 0;
    qint64 m_burstRefused = 0;
    std::deque<qint64> m_recentFrames; // when each of the latest frames was accepted, ms
    qint64 m_framesAtRisk = 0;
    qint64 m_repliesTrue = 0;
    qint64 m_repliesFalse = 0;
    qint64 m_closesSeen = 0;
    qint64 m_reopened = 0;
    qint64 m_playRestarts = 0;
    bool m_wasOpen = false;
    qint64 m_longestStallMs = 0;
};

bool Soak::startSim()
{
    QStringList arguments{"--headless", "--quit-at-eof", "--link", m_dir.filePath(QStringLiteral("robot")),
                          "--seed", QString::number(m_seed)};
    for (const QString &fault : m_faults)
        arguments << "--fault" << fault;
    m_sim.setProgram(m_simPath);
    m_sim.setArguments(arguments);
    m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sim.start();
    if (!m_sim.waitForStarted(5000))
        return false;
    return simCommand(QString()).startsWith(u'/');
}

// Sends a line (none: only reads) and returns the next line the simulator prints.
QString Soak::simCommand(const QString &line)
{
    if (!line.isEmpty())
        m_sim.write(line.toUtf8() + '\n');
    const QDeadlineTimer deadline(10000);
    while (!m_simOutput.contains('\n') && !deadline.hasExpired()) {
        m_sim.waitForReadyRead(100);
        m_simOutput += m_sim.readAllStandardOutput();
    }
    const qsizetype end = m_simOutput.indexOf('\n');
    const QString answer = QString::fromUtf8(m_simOutput.left(std::max<qsizetype>(end, 0)));
    m_simOutput.remove(0, end + 1);
    return answer;
}

bool Soak::isTrue(const Sys_Project::Reply &reply) const
{
    switch (reply.kind) {
    case Sys_Project::ReplyKind::Batteries:
        return reply.data[0] == 72 && reply.data[1] == 73;
    case Sys_Project::ReplyKind::Analogue:
        return reply.data[0] >= 1 && reply.data[0] <= 4 && reply.analogueReading() == Analogues[reply.data[0] - 1u];
    case Sys_Project::ReplyKind::Whiskers:
        return false;
    }
    return false;
}

// What an operator watching the panel does: APPLY once the robot is back, START READING when
// the poll stopped itself, play when the player stopped on a robot not reading.
void Soak::housekeeping()
{
    Com &com = m_main->com();
    if (m_wasOpen && !com.PortOpen()) {
        ++m_closesSeen;
        const qint64 now = m_clock.elapsed();
        for (const qint64 at : m_recentFrames)
            m_framesAtRisk += now - at <= AtRiskMs;
    }
    if (!com.PortOpen() && QFileInfo::exists(m_dir.filePath(QStringLiteral("robot"))) && m_main->Open_Serial(1))
        ++m_reopened;
    m_wasOpen = com.PortOpen();

    auto *start = m_main->findChild<QPushButton *>(QStringLiteral("Btn_Start"));
    if (com.PortOpen() && start->isEnabled())
        start->click();
    if (com.PortOpen() && !m_player->isPlaying()) {
        ++m_playRestarts;
        m_player->Btn_Cmd_Click(Frm_Script_Player::Play);
    }
}

void Soak::burst()
{
    Com &com = m_main->com();
    if (!com.PortOpen() || simCommand(QStringLiteral("stop-reading 2s")) != u"ok")
        return;
    ++m_bursts;
    for (int press = 0; press < BurstPresses && com.PortOpen(); ++press) {
        if (com.Output(MouthFrame))
            ++m_burstTaken;
        else
            ++m_burstRefused;
        if (press % 100 == 0)
            QCoreApplication::processEvents();
    }
}

void Soak::waitEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int Soak::run()
{
    const QString scriptPath = m_dir.filePath(QStringLiteral("soak.sct"));
    QFile script(scriptPath);
    if (!m_dir.isValid() || !script.open(QIODevice::WriteOnly) || script.write(Script) != Script.size()) {
        std::fprintf(stderr, "soak: cannot write the script in a temporary folder\n");
        return 2;
    }
    script.close();
    if (!startSim()) {
        std::fprintf(stderr, "soak: cannot start the virtual robot %s\n", qPrintable(m_simPath));
        return 2;
    }
    qputenv("ORVIK_COM1", QFile::encodeName(m_dir.filePath(QStringLiteral("robot"))));

    m_main = std::make_unique<Frm_Main>();
    auto dialogs = std::make_unique<SoakDialogs>();
    m_dialogs = dialogs.get();
    m_dialogs->script = scriptPath;
    m_main->setDialogs(std::move(dialogs));
    m_main->show();
    m_player = std::make_unique<Frm_Script_Player>(m_main->com(), m_main->dialogs());
    m_player->show();
    m_clock.start();

    Com &com = m_main->com();
    QObject::connect(&com, &Com::written, &com, [this](const QByteArray &) {
        ++m_framesSent;
        m_recentFrames.push_back(m_clock.elapsed());
        if (m_recentFrames.size() > 64)
            m_recentFrames.pop_front();
    });
    QObject::connect(&com, &Com::outputStalledChanged, &com, [this](bool stalled) { m_stalls += stalled; });
    QObject::connect(&com, &Com::notSent, &com, [this](int frames, const QString &) { m_framesNotSent += frames; });
    QObject::connect(m_main.get(), &Frm_Main::replyShown, m_main.get(), [this](const Sys_Project::Reply &reply) {
        (isTrue(reply) ? m_repliesTrue : m_repliesFalse) += 1;
    });

    if (!m_main->Open_Serial(1)) {
        std::fprintf(stderr, "soak: the program cannot open the robot's line: %s\n", qPrintable(m_dialogs->lastMessage));
        return 2;
    }
    m_player->Btn_Open_Script_Click();
    m_player->findChild<QCheckBox *>(QStringLiteral("Chk_Loop"))->setChecked(true);
    QTimer operatorTimer;
    QObject::connect(&operatorTimer, &QTimer::timeout, &operatorTimer, [this] { housekeeping(); });
    operatorTimer.start(200);
    housekeeping();
    QTimer burstTimer;
    QObject::connect(&burstTimer, &QTimer::timeout, &burstTimer, [this] { burst(); });
    burstTimer.start(BurstEveryMs);

    // How late a 100 ms timer fires tells whether the window answers throughout.
    QElapsedTimer sinceBeat;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, &beat, [&] {
        m_longestStallMs = std::max(m_longestStallMs, sinceBeat.restart() - 100);
    });
    sinceBeat.start();
    beat.start(100);

    // Memory and CPU are counted from the end of a warm-up, once fonts, caches and the
    // first of everything are in place.
    const qint64 totalMs = qint64(m_minutes * 60000);
    const qint64 warmUpMs = std::min<qint64>(30000, totalMs / 10);
    std::printf("soak: %g min against orvik-sim (seed %u) with faults %s\n", m_minutes, m_seed,
                qPrintable(m_faults.join(u' ')));
    std::fflush(stdout);
    waitEvents(int(warmUpMs));
    const qint64 memoryStart = residentBytes();
    const qint64 cpuStart = cpuMs();
    const qint64 wallStart = m_clock.elapsed();
    qint64 memoryPeak = memoryStart;
    for (qint64 done = warmUpMs; done < totalMs;) {
        const int slice = int(std::min<qint64>(60000, totalMs - done));
        waitEvents(slice);
        done += slice;
        memoryPeak = std::max(memoryPeak, residentBytes());
        std::printf("soak: %3lld s  frames %lld  replies shown %lld  resident %.1f MB\n", done / 1000, m_framesSent,
                    m_repliesTrue + m_repliesFalse, residentBytes() / 1048576.0);
        std::fflush(stdout);
    }
    const qint64 busyShare1000 = (cpuMs() - cpuStart) * 1000 / std::max<qint64>(1, m_clock.elapsed() - wallStart);

    // The work stops; what follows is idle. The faults end too, so the last replies arrive whole.
    operatorTimer.stop();
    burstTimer.stop();
    m_player->Btn_Cmd_Click(Frm_Script_Player::Stop);
    m_main->findChild<QPushButton *>(QStringLiteral("Btn_Stop"))->click();
    for (const char *off : {"fault drop=0", "fault duplicate=0", "fault corrupt=0", "fault garbage=0",
                            "fault stop-reading=0", "fault hangup=0", "stop-reading 0"})
        simCommand(QString::fromLatin1(off));
    const qint64 idleCpuStart = cpuMs();
    QElapsedTimer idleClock;
    idleClock.start();
    waitEvents(IdleSeconds * 1000);
    const double idleShare = double(cpuMs() - idleCpuStart) / std::max<qint64>(1, idleClock.elapsed());
    const qint64 memoryEnd = residentBytes();

    QHash<QString, qint64> sim;
    for (const QString &pair : simCommand(QStringLiteral("faults")).split(u' ').mid(1))
        sim.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1).toLongLong());
    simCommand(QStringLiteral("quit"));
    m_sim.waitForFinished(5000);

    const qint64 framesLost = m_framesSent - sim.value("frames");
    const qint64 framesUnexplained = std::max<qint64>(0, framesLost - m_framesAtRisk);
    const qint64 repliesLost = sim.value("replies") - m_repliesTrue;
    const qint64 repliesUnexplained = std::max<qint64>(0, repliesLost - sim.value("hit"));
    const qint64 growth = memoryEnd - memoryStart;

    std::printf("\n");
    std::printf("frames sent             %lld (robot received %lld; refused while the robot was not reading: "
                "%lld times)\n",
                m_framesSent, sim.value("frames"), m_stalls);
    std::printf("bursts of SEND          %lld while the robot did not read: %lld presses taken, %lld refused; "
                "%lld frames taken and reported as not sent\n",
                m_bursts, m_burstTaken, m_burstRefused, m_framesNotSent);
    std::printf("frames lost             %lld (a hang-up may cut up to %lld; unexplained %lld)\n", framesLost,
                m_framesAtRisk, framesUnexplained);
    std::printf("replies sent by robot   %lld\n", sim.value("replies"));
    std::printf("replies taken           %lld true, %lld garbled\n", m_repliesTrue, m_repliesFalse);
    std::printf("replies lost            %lld (the faults may cost up to %lld; unexplained %lld)\n", repliesLost,
                sim.value("hit"), repliesUnexplained);
    std::printf("faults injected         %lld bytes dropped, %lld duplicated, %lld corrupted, %lld garbage bursts "
                "(%lld bytes), %lld stops, %lld hang-ups\n",
                sim.value("dropped"), sim.value("duplicated"), sim.value("corrupted"), sim.value("garbage"),
                sim.value("garbage-bytes"), sim.value("stops"), sim.value("hangups"));
    std::printf("operator stand-in       %lld closes seen, %lld reopened, %lld plays; %d messages\n", m_closesSeen,
                m_reopened, m_playRestarts, m_dialogs->messages);
    std::printf("resident memory         %.2f MB after warm-up, %.2f MB at the end (%+.0f KB; peak %.2f MB)\n",
                memoryStart / 1048576.0, memoryEnd / 1048576.0, growth / 1024.0, memoryPeak / 1048576.0);
    std::printf("CPU share               %.2f %% working, %.2f %% idle\n", busyShare1000 / 10.0, idleShare * 100);
    std::printf("longest event-loop stall %lld ms\n", m_longestStallMs);

    QStringList failures;
    if (growth > MemoryGrowthLimit)
        failures << QStringLiteral("memory grew by %1 KB").arg(growth / 1024);
    if (framesUnexplained > 0)
        failures << QStringLiteral("%1 frames lost beyond what the faults explain").arg(framesUnexplained);
    if (repliesUnexplained > 0)
        failures << QStringLiteral("%1 replies lost beyond what the faults explain").arg(repliesUnexplained);
    if (idleShare > IdleCpuLimit)
        failures << QStringLiteral("idle CPU share %1 %").arg(idleShare * 100, 0, 'f', 1);
    if (m_longestStallMs > EventLoopStallLimitMs)
        failures << QStringLiteral("the window did not answer for %1 ms").arg(m_longestStallMs);
    if (m_bursts > 0 && m_burstRefused == 0)
        failures << QStringLiteral("no SEND was ever refused: the robot's stops never backed the line up");
    if (m_repliesTrue == 0 || m_framesSent == 0)
        failures << QStringLiteral("nothing went over the line");
    std::printf("%s\n", failures.isEmpty() ? "soak: passed" : qPrintable("soak: FAILED: " + failures.join(u"; ")));
    return failures.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QString simPath;
    double minutes = qEnvironmentVariableIsSet("SOAK_MINUTES") ? qEnvironmentVariable("SOAK_MINUTES").toDouble() : 10;
    quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
    QStringList faults;
    const QStringList arguments = app.arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == u"--sim")
            simPath = arguments[i + 1];
        else if (arguments[i] == u"--minutes")
            minutes = arguments[i + 1].toDouble();
        else if (arguments[i] == u"--seed")
            seed = arguments[i + 1].toUInt();
        else if (arguments[i] == u"--fault")
            faults << arguments[i + 1];
    }
    if (simPath.isEmpty() || minutes <= 0) {
        std::fprintf(stderr, "usage: soak --sim PATH-TO-orvik-sim [--minutes M (default 10, or SOAK_MINUTES)] [--seed N] "
                             "[--fault FAULT]... (orvik-sim's faults; default %s)\n",
                     qPrintable(DefaultFaults.join(u' ')));
        return 2;
    }
    return Soak(simPath, minutes, seed, faults.isEmpty() ? DefaultFaults : faults).run();
}
