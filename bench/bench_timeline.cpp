// Measures the timeline on the longest script a file may hold (32767 actions: moves of every
// body part with their speeds, and waits), in a shown 1200 x 600 widget: one repaint, from the
// call until the painting is done, with the script's start in view, with the whole script in
// view (zoomed out), and scrolled to its middle; and laying the script out (the schedule and
// the predicted motion) after a change.
// Usage: bench_timeline [repeats]

#include "scripts/Script_Timeline.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double timed(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    return double(clock.nsecsElapsed()) / 1e6;
}

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms   max %7.2f ms   (%zu runs)\n", what, ms[ms.size() / 2], ms.back(), ms.size());
}

Action_List longestScript()
{
    const QStringList moves{"meb", "mre", "mrn", "mrm", "mla", "mra"};
    Action_List list;
    list.Actions.clear();
    for (qint32 k = 1; k <= 32767; ++k) {
        Script_Action action{k, {}, {}, 0};
        if (k == 32767) {
            action.Command = QStringLiteral("end");
            action.Values = {0};
        } else if (k % 3 == 0) {
            action.Command = QStringLiteral("wait");
            action.Values = {100 + k % 400};
        } else {
            const QString command = moves[(k / 3) % moves.size()];
            const Frames::Kind *kind = Script_Schedule::moveKind(command);
            action.Command = command;
            for (int i = 0; i < kind->dataBytes; ++i)
                action.Values.append(i % 2 == 0 ? 20 + (k * 7 + i * 13) % 140 : k % 11);
        }
        action.Nb_Values = qint32(action.Values.size());
        list.Actions.append(action);
    }
    list.Nb_Action = 32767;
    return list;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const Action_List script = longestScript();

    Script_Timeline timeline;
    timeline.resize(1200, 600);
    timeline.show();
    QApplication::processEvents();

    std::vector<double> layout;
    for (int i = 0; i < repeats; ++i)
        layout.push_back(timed([&] { timeline.setScript(script); }));
    std::printf("script length %.1f s, %lld lanes\n", double(timeline.timeline().length) / 1000.0,
                qlonglong(timeline.timeline().lanes.size()));

    auto repaints = [&] {
        std::vector<double> ms;
        for (int i = 0; i < repeats; ++i)
            ms.push_back(timed([&] { timeline.viewport()->repaint(); }));
        return ms;
    };
    timeline.setSelection({1, 2, 3, 4, 5});
    timeline.setCursorAction(2);
    report("Repaint, the start in view (100 px a second)", repaints());
    timeline.horizontalScrollBar()->setValue(timeline.horizontalScrollBar()->maximum() / 2);
    report("Repaint, scrolled to the middle", repaints());
    QList<qint32> all;
    for (qint32 i = 0; i < 32767; ++i)
        all.append(i);
    timeline.setSelection(all);
    timeline.zoom(1e-9, Script_Timeline::NameWidth);
    report("Repaint, all 32767 in view and selected", repaints());
    report("Lay out the script after a change", layout);
    return 0;
}
