#include "sim/LineFaults.h"

#include <QTest>

namespace {

struct Run
{
    QList<QByteArray> replies; // as sent, faults applied
    QList<QByteArray> bursts;
    LineFaults::Counts counts;
};

// 300 replies with every byte fault on, and a garbage burst before every n-th (0: none).
Run run(quint32 seed, int garbageEvery)
{
    LineFaults faults(seed);
    LineFaults::Settings settings;
    settings.drop = settings.duplicate = settings.corrupt = 0.1;
    settings.garbageEvery = 3'600'000; // the test sends the bursts
    faults.setSettings(settings);
    Run result;
    QObject::connect(&faults, &LineFaults::garbage,
                     [&result](const QByteArray &bytes) { result.bursts.append(bytes); });
    for (int k = 0; k < 300; ++k) {
        if (garbageEvery > 0 && k % garbageEvery == 0)
            faults.sendGarbage();
        result.replies.append(faults.reply(QByteArray("gav\x01\x02\x03", 6)));
    }
    result.counts = faults.counts();
    return result;
}

} // namespace

class TestSimLineFaults : public QObject
{
    Q_OBJECT

private slots:
    void aSeedRepeatsEachFaultsChoicesHoweverTheyInterleave_data();
    void aSeedRepeatsEachFaultsChoicesHoweverTheyInterleave();
};

void TestSimLineFaults::aSeedRepeatsEachFaultsChoicesHoweverTheyInterleave_data()
{
    QTest::addColumn<quint32>("seedA");
    QTest::addColumn<int>("garbageEveryA");
    QTest::addColumn<quint32>("seedB");
    QTest::addColumn<int>("garbageEveryB");
    QTest::addColumn<bool>("same");

    QTest::newRow("bursts in one run only") << 7u << 2 << 7u << 0 << true;
    QTest::newRow("bursts at other moments") << 7u << 3 << 7u << 7 << true;
    QTest::newRow("another seed") << 7u << 3 << 8u << 3 << false;
}

void TestSimLineFaults::aSeedRepeatsEachFaultsChoicesHoweverTheyInterleave()
{
    QFETCH(quint32, seedA);
    QFETCH(int, garbageEveryA);
    QFETCH(quint32, seedB);
    QFETCH(int, garbageEveryB);
    QFETCH(bool, same);

    const Run a = run(seedA, garbageEveryA);
    const Run b = run(seedB, garbageEveryB);
    QVERIFY(a.counts.dropped > 0 && a.counts.duplicated > 0 && a.counts.corrupted > 0);
    QCOMPARE(a.replies == b.replies, same);
    // The n-th burst is the same whenever it falls.
    const qsizetype bursts = std::min(a.bursts.size(), b.bursts.size());
    if (bursts > 0)
        QCOMPARE(a.bursts.first(bursts) == b.bursts.first(bursts), same);
}

QTEST_GUILESS_MAIN(TestSimLineFaults)
#include "tst_sim_line_faults.moc"
