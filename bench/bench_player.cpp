// Measures how closely a playing script keeps to its schedule at the far end of the line: a
// script of moves 40 ms apart (a move, then a wait of 20 ms) is played through the real player
// window to a pseudo-terminal, and a reader thread at the other end notes the moment each
// whole frame arrives on the monotonic clock. Each interval between consecutive moves is
// compared with the planned 40 ms; the drift is the last move against its plan from the first.
// Played twice by the player, quiet and with the window's thread busy 8 ms of every 50 (a large
// repaint, a long list), and twice by the literal re-arm scheme (a window timer set to the step
// length at every step), in the same run.
// Usage: bench_player [steps]   (default 1000)

#include "link/Com.h"
#include "scripts/Frm_Script_Player.h"
#include "scripts/Script_File.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int MoveBytes = 6; // "mss" and three values
constexpr double PlannedMs = 40;

// The player's file chooser, answered with the script.
class ChooseScript : public Dialogs
{
public:
    QString fileName;
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return fileName; }
};

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(std::lround(p * double(values.size() - 1)))];
}

// The robot's end of the line: notes when each whole frame arrived.
class FarEnd
{
public:
    explicit FarEnd(int master)
        : m_master(master)
        , m_thread([this] { run(); })
    {
    }
    ~FarEnd() { stop(); }
    // Stops reading and returns when each frame arrived.
    std::vector<qint64> stop()
    {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
        }
        return m_arrivals;
    }

private:
    void run()
    {
        // The robot's own line is not late to notice a byte: where the system lets it, the
        // reader runs in a real-time class, so that it measures the program, not its own waking.
        const sched_param reader{sched_get_priority_min(SCHED_FIFO) + 1};
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &reader);
        char buffer[256];
        qsizetype bytes = 0;
        while (!m_stop) {
            pollfd in{m_master, POLLIN, 0};
            if (::poll(&in, 1, 20) != 1)
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const qint64 at = monotonicNs();
            for (ssize_t k = 0; k < n; ++k)
                if (++bytes % MoveBytes == 0)
                    m_arrivals.push_back(at);
        }
    }

    int m_master;
    std::atomic<bool> m_stop = false;
    std::vector<qint64> m_arrivals;
    std::thread m_thread;
};

struct Figures
{
    double median = 0, p99 = 0, max = 0, drift = 0;
    size_t moves = 0;
};

Figures figures(const std::vector<qint64> &arrivals)
{
    Figures f;
    f.moves = arrivals.size();
    if (arrivals.size() < 2)
        return f;
    std::vector<double> errors;
    for (size_t k = 1; k < arrivals.size(); ++k)
        errors.push_back(std::fabs(double(arrivals[k] - arrivals[k - 1]) / 1e6 - PlannedMs));
    f.median = percentile(errors, 0.5);
    f.p99 = percentile(errors, 0.99);
    f.max = *std::max_element(errors.begin(), errors.end());
    f.drift = double(arrivals.back() - arrivals.front()) / 1e6 - PlannedMs * double(arrivals.size() - 1);
    return f;
}

// The window's thread kept busy 8 ms of every 50 while it lives.
class BusyWindow
{
public:
    BusyWindow()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            const qint64 until = monotonicNs() + 8000000;
            while (monotonicNs() < until) {
            }
        });
        m_timer.start(50);
    }

private:
    QTimer m_timer;
};

void waitUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(50);
    loop.exec();
}

// Lets the last frames reach the far end, then stops reading there.
std::vector<qint64> collect(Com &com, FarEnd &far)
{
    com.writeOut(1000);
    QThread::msleep(100);
    return far.stop();
}

// The player window plays the script.
std::vector<qint64> playByPlayer(int master, Com &com, ChooseScript &dialogs, bool busy)
{
    Frm_Script_Player player(com, dialogs);
    player.Btn_Open_Script_Click();
    FarEnd far(master);
    std::unique_ptr<BusyWindow> load(busy ? new BusyWindow : nullptr);
    player.Btn_Cmd_Click(Frm_Script_Player::Play);
    waitUntil([&] { return !player.isPlaying(); });
    load.reset();
    return collect(com, far);
}

// The literal re-arm scheme: a window timer set to each step's length as the step runs.
std::vector<qint64> playByRearm(int master, Com &com, const Action_List &script, bool busy)
{
    FarEnd far(master);
    std::unique_ptr<BusyWindow> load(busy ? new BusyWindow : nullptr);
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(Frm_Script_Player::Step);
    qint32 current = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const Script_Action &action = script.Actions.at(current);
        if (action.Command == u"mss") {
            QByteArray frame("mss");
            for (const qint32 value : action.Values)
                frame.append(char(value));
            com.Output(frame);
            timer.setInterval(Frm_Script_Player::Step);
        } else if (action.Command == u"wait") {
            timer.setInterval(action.Values.value(0));
        }
        if (++current >= script.Nb_Action)
            timer.stop();
    });
    timer.start();
    waitUntil([&] { return !timer.isActive(); });
    load.reset();
    return collect(com, far);
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_player: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(4, atoi(argv[1])) : 1000;

    // Every step is 20 ms: a move, then a wait of 20 ms, and so on; the last step is "end".
    Action_List script;
    Init_Script(script);
    for (int i = 0; i < steps; ++i) {
        Script_Action action;
        action.Number = i + 1;
        if (i == steps - 1)
            action.Command = QStringLiteral("end"), action.Values = {0};
        else if (i % 2 == 0)
            action.Command = QStringLiteral("mss"), action.Values = {1 + i % 17, i % 181, i % 7};
        else
            action.Command = QStringLiteral("wait"), action.Values = {20};
        action.Nb_Values = qint32(action.Values.size());
        Add_Script_Action(script, action);
    }
    QTemporaryDir dir;
    ChooseScript dialogs;
    dialogs.fileName = dir.filePath(QStringLiteral("bench.sct"));
    QString why;
    if (!Write_Script_File(dialogs.fileName, QStringLiteral("Timing"), QStringLiteral("06-12-2026"), script, &why))
        return fail(qPrintable(why));

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return fail("no pseudo-terminal");
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    qputenv("ORVIK_COM1", name);
    Com com;
    if (!com.setSettings(QStringLiteral("57600,n,8,1")) || !com.setPortOpen(true))
        return fail(qPrintable(com.errorDescription()));

    std::printf("bench_player: %d steps (%d moves, 40 ms apart) through a pseudo-terminal; "
                "|interval - 40 ms| between consecutive moves at the far end\n",
                steps, steps / 2);
    std::printf("  %-38s %9s %9s %9s %10s\n", "", "median", "p99", "max", "drift");
    const auto report = [](const char *what, const std::vector<qint64> &arrivals) {
        const Figures f = figures(arrivals);
        std::printf("  %-38s %6.3f ms %6.3f ms %6.3f ms %7.3f ms  (%zu moves)\n", what, f.median, f.p99, f.max, f.drift,
                    f.moves);
        std::fflush(stdout);
    };
    report("player, quiet", playByPlayer(master, com, dialogs, false));
    report("player, window busy 8 ms in 50", playByPlayer(master, com, dialogs, true));
    report("re-arm scheme, quiet", playByRearm(master, com, script, false));
    report("re-arm scheme, window busy 8 ms in 50", playByRearm(master, com, script, true));
    com.setPortOpen(false);
    ::close(slave);
    ::close(master);
    return 0;
}
