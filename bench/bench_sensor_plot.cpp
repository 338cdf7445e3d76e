// Measures what the sensor plot costs with the ring full, an hour of the poll's replies: taking
// them in, and one redraw of all ten series over the whole hour (the widest window), then over
// the default minute, with the window shown offscreen.
// Usage: bench_sensor_plot [redraws]

#include "sensors/Frm_Sensor_Plot.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSpinBox>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int redraws = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    Sensor_Ring ring;
    qint64 ms = 0;
    QElapsedTimer clock;
    clock.start();
    const qsizetype replies = ring.capacity();
    for (qsizetype k = 0; k < replies; ++k, ms += 500) {
        const int reading = int(k % 1000);
        const Sys_Project::Reply reply = k % 2 ? Sys_Project::Reply{Sys_Project::ReplyKind::Analogue,
                                                                    {quint8(1 + k / 2 % 4), quint8(reading >> 8),
                                                                     quint8(reading & 0xFF)}}
                                               : Sys_Project::Reply{Sys_Project::ReplyKind::Batteries,
                                                                    {quint8(60 + k % 15), 72, 0}};
        ring.take(reply, ms);
        if (k % 50 == 0)
            ring.take({Sys_Project::ReplyKind::Whiskers, {quint8(k / 50 % 16), 0, 0}}, ms);
        if (k % 40 == 0)
            ring.setAction(qint32(k / 40 % 300 + 1), ms);
    }
    std::printf("ring: %zu samples held after %lld replies taken in %.1f ms\n", ring.samples().size(),
                ring.taken(), clock.nsecsElapsed() / 1e6);

    Dialogs dialogs;
    Frm_Sensor_Plot plot(ring, [&ms] { return ms; }, dialogs);
    plot.show();
    auto *window = plot.findChild<QSpinBox *>(QStringLiteral("Spn_Window"));
    for (const int seconds : {Frm_Sensor_Plot::MaximumWindow, Frm_Sensor_Plot::DefaultWindow}) {
        window->setValue(seconds);
        std::vector<double> times;
        for (int k = 0; k < redraws; ++k) {
            ring.take({Sys_Project::ReplyKind::Batteries, {70, 72, 0}}, ms += 500);
            clock.restart();
            plot.refresh();
            plot.repaint();
            times.push_back(clock.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        std::printf("redraw, last %d s shown: median %.1f ms, slowest %.1f ms (%d redraws, one every %d ms)\n", seconds,
                    times[times.size() / 2], times.back(), redraws, Frm_Sensor_Plot::RefreshInterval);
    }
    return 0;
}
