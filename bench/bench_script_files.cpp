// Measures script files at the largest size a script can have:
//  - writing and reading a 32767-action script (best and median of several runs);
//  - the same read done the per-key way, one private-profile lookup per value, each opening and
//    scanning the file again. That takes minutes, so it stops after a bounded time and the total
//    is extrapolated from keys spread over the whole file.
// Usage: bench_script_files [actions] [per-key seconds]

#include "scripts/Script_File.h"
#include "scripts/Sys_INI_File.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Runs = 7;

struct Figures
{
    double best = 0, median = 0;
};

template<typename Work>
Figures measure(Work work)
{
    std::vector<double> ms;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

// A script as the editor builds them: body-part moves, single-servo moves and waits, then "end".
Action_List bigScript(qint32 count)
{
    const QList<QPair<QString, qint32>> kinds{{"meb", 4}, {"wait", 1}, {"mla", 6}, {"mrm", 8}, {"wait", 1},
                                              {"mrn", 4}, {"mss", 3},  {"mre", 6}, {"mra", 6}};
    Action_List list;
    list.Actions.clear();
    list.Actions.reserve(count);
    for (qint32 k = 1; k <= count; ++k) {
        const auto &[command, values] = kinds[(k - 1) % kinds.size()];
        Script_Action action{k, k == count ? QStringLiteral("end") : command, {}, 0};
        for (qint32 v = 0; v < (k == count ? 1 : values); ++v)
            action.Values << (command == QLatin1String("wait") ? 20 + k % 480 : (k * 7 + v * 31) % 256);
        action.Nb_Values = qint32(action.Values.size());
        list.Actions << action;
    }
    list.Nb_Action = count;
    return list;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint32 count = argc > 1 ? std::clamp(atoi(argv[1]), 1, 32767) : 32767;
    const double perKeySeconds = argc > 2 ? std::max(0.1, atof(argv[2])) : 2.0;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.sct"));
    const Action_List list = bigScript(count);
    QString why;

    bool ok = true;
    const Figures write = measure([&] {
        ok = ok && Write_Script_File(path, QStringLiteral("Benchmark"), QStringLiteral("06-12-2026"), list, &why);
    });
    if (!ok) {
        std::fprintf(stderr, "bench_script_files: %s\n", qPrintable(why));
        return 1;
    }
    qint32 loaded = 0;
    const Figures read = measure([&] {
        Action_List read;
        Script_Header header;
        ok = ok && Read_Script_File(path, read, header, &why);
        loaded = read.Nb_Action;
    });
    if (!ok || loaded != count) {
        std::fprintf(stderr, "bench_script_files: read back %d of %d actions: %s\n", loaded, count, qPrintable(why));
        return 1;
    }

    // The four header keys, then every action line; sampled with a stride, so early and late
    // lines (a short and a long scan) are both in the sample.
    const qint64 keys = qint64(count) + 4;
    qint64 done = 0;
    QElapsedTimer clock;
    clock.start();
    const QString commands = QStringLiteral("COMMANDS");
    while (done < keys && clock.nsecsElapsed() < qint64(perKeySeconds * 1e9)) {
        const qint64 k = 1 + (done * 7919) % count;
        if (Read_INI_Value(commands, QStringLiteral("action_%1").arg(k), path).isEmpty()) {
            std::fprintf(stderr, "bench_script_files: action_%lld not found\n", k);
            return 1;
        }
        ++done;
    }
    const double perKeyMs = double(clock.nsecsElapsed()) / 1e6 / double(done);
    const double perKeyTotalMs = perKeyMs * double(keys);

    std::printf("script: %d actions, %lld bytes\n", count, QFileInfo(path).size());
    std::printf("write:  best %8.2f ms, median %8.2f ms (%d runs)\n", write.best, write.median, Runs);
    std::printf("read:   best %8.2f ms, median %8.2f ms (%d runs)\n", read.best, read.median, Runs);
    std::printf("per-key read: %.3f ms a key over %lld of %lld keys, %.1f s for the whole script%s\n", perKeyMs,
                done, keys, perKeyTotalMs / 1000.0, done < keys ? " (extrapolated)" : "");
    std::printf("per-key / one-pass read: %.0fx\n", perKeyTotalMs / read.median);
    return 0;
}
