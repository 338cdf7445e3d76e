// Measures how closely the script player keeps to its schedule: a script of moves and 20 ms
// waits is played to orvik-sim, which logs the moment each frame arrives on the monotonic
// clock; each move's error is that moment against when the script says it is due.
// Usage: bench_player [steps]   (default 1000)

#include "link/Com.h"
#include "scripts/Frm_Script_Player.h"
#include "scripts/Script_File.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// The player's file chooser, answered with the script.
class ChooseScript : public Dialogs
{
public:
    QString fileName;
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return fileName; }
};

qint64 monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(std::lround(p * double(values.size() - 1)))];
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
    const int steps = argc > 1 ? std::max(2, atoi(argv[1])) : 1000;

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("robot"));
    const QString logPath = dir.filePath(QStringLiteral("log.jsonl"));
    QProcess sim;
    sim.start(QStringLiteral(ORVIK_SIM_PATH), {"--headless", "--quit-at-eof", "--link", link, "--log", logPath});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return fail("orvik-sim did not start");
    sim.readLine();

    // Every step is 20 ms: a move, then a wait of 20 ms, and so on; the last step is "end".
    Action_List script;
    Init_Script(script);
    std::vector<qint64> dueMs; // of each move, after play
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
        if (action.Command == u"mss")
            dueMs.push_back(qint64(Frm_Script_Player::Step) * (i + 1));
    }
    ChooseScript dialogs;
    dialogs.fileName = dir.filePath(QStringLiteral("bench.sct"));
    QString why;
    if (!Write_Script_File(dialogs.fileName, QStringLiteral("Timing"), QStringLiteral("06-12-2026"), script, &why))
        return fail(qPrintable(why));

    qputenv("ORVIK_COM1", QFile::encodeName(link));
    Com com;
    if (!com.setSettings(QStringLiteral("57600,n,8,1")) || !com.setPortOpen(true))
        return fail(qPrintable(com.errorDescription()));
    Frm_Script_Player player(com, dialogs);
    player.Btn_Open_Script_Click();
    auto *timer = player.findChild<QTimer *>(QStringLiteral("T_Script"));

    QEventLoop loop;
    QObject::connect(
        timer, &QTimer::timeout, &loop,
        [&] {
            if (!timer->isActive())
                loop.quit();
        },
        Qt::QueuedConnection);
    const qint64 playUs = monotonicMicroseconds();
    player.Btn_Cmd_Click(Frm_Script_Player::Play);
    loop.exec();

    // The log is flushed line by line; give the simulator a moment to read the last frame.
    std::vector<qint64> arrivedUs;
    const QDeadlineTimer deadline(5000);
    while (arrivedUs.size() < dueMs.size() && !deadline.hasExpired()) {
        arrivedUs.clear();
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : log.readAll().split('\n')) {
                const QJsonObject entry = QJsonDocument::fromJson(line).object();
                if (entry.value(QStringLiteral("dir")).toString() == u"rx" && !entry.contains(QStringLiteral("bad")))
                    arrivedUs.push_back(entry.value(QStringLiteral("t_us")).toInteger());
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    if (arrivedUs.size() != dueMs.size())
        return fail("the simulator did not log every move");

    std::vector<double> errors; // ms, against the plan counted from the click on play
    std::vector<double> magnitudes;
    for (size_t k = 0; k < dueMs.size(); ++k) {
        errors.push_back(double(arrivedUs[k] - playUs - dueMs[k] * 1000) / 1000.0);
        magnitudes.push_back(std::fabs(errors.back()));
    }
    std::printf("bench_player: %d steps (%zu moves, 20 ms apart) played to orvik-sim over a pseudo-terminal\n", steps,
                dueMs.size());
    std::printf("  step error (arrival - plan): median %.3f ms, p99 %.3f ms, max %.3f ms (largest |error|)\n",
                percentile(errors, 0.5), percentile(errors, 0.99), *std::max_element(magnitudes.begin(), magnitudes.end()));
    std::printf("  total drift (the last move against its plan): %.3f ms\n", errors.back());
    return 0;
}
